// The random-bit step run over whole runs of samples (as capture runs it)
// against the same step sample by sample: the same bits, sums and events,
// bit for bit, with either kernel for the run totals, at every block size,
// also where a sum is too large (or was set to something else) for the
// totals to be added at once.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/component/tonvel_fixture.h"
#include "velmora/component/capture.h"
#include "velmora/component/noise_random.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::testing {
namespace {

using tonvel::TDTMF;

// Everything the random-bit step leaves behind.
struct Outcome {
  std::vector<uint64_t> sums;  // s_a, s_b, s_w, s_c, s_d, s_p, s_pred, s_pred0 as bits
  std::vector<uint8_t> bits;   // tinrand
  std::vector<std::string> events;
};

std::vector<uint64_t> SumBits() {
  std::vector<uint64_t> v;
  for (double x : {tonvel::s_a, tonvel::s_b, tonvel::s_w, tonvel::s_c, tonvel::s_d, tonvel::s_p,
                   tonvel::s_pred, tonvel::s_pred0})
    v.push_back(std::bit_cast<uint64_t>(x));
  return v;
}

class RandomRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dtmf_ = std::make_unique<TDTMF>(nullptr);
    dtmf_->GenRandom_NoiseSoundCard_Data =
        [this](host::TObject*, const std::string& sa, const std::string& dispers_sm,
               const std::string& disters_ne, const std::string& koef_asim, const std::string& pic,
               const std::string& verdict, const std::string& serial,
               const tonvel::TBSeries& series) {
          events_.push_back(sa + dispers_sm + disters_ne + koef_asim + pic + verdict + serial +
                            std::string(series.bits.begin(), series.bits.end()));
        };
  }
  void TearDown() override {
    tonvel::noise::detail::ForcePortableRunSums(false);
    dtmf_.reset();
    Clear();
  }
  static void Clear() {
    tonvel::s_a = tonvel::s_b = tonvel::s_w = tonvel::s_c = tonvel::s_d = tonvel::s_p = 0;
    tonvel::s_pred = tonvel::s_pred0 = 0;
    tonvel::tinrand.bits.clear();
  }
  Outcome Take() {
    Outcome o{SumBits(), tonvel::tinrand.bits, events_};
    events_.clear();
    return o;
  }
  // Sample by sample, as the step is defined.
  Outcome OneByOne(const std::vector<std::vector<uint8_t>>& buffers) {
    for (const auto& b : buffers)
      for (uint8_t x : b) tonvel::noise::RandomStep(*dtmf_, x, static_cast<int32_t>(x) - 128);
    return Take();
  }
  // As capture runs it: the buffers through step 4.
  Outcome InRuns(const std::vector<std::vector<uint8_t>>& buffers) {
    for (const auto& b : buffers) {
      std::vector<uint8_t> copy = b;
      platform::WAVEHDR h{};
      h.lpData = reinterpret_cast<char*>(copy.data());
      h.dwBufferLength = static_cast<uint32_t>(copy.size());
      h.dwBytesRecorded = h.dwBufferLength;
      tonvel::inwav.y.clear();
      tonvel::capture::TakeSamples(*dtmf_, h);
    }
    return Take();
  }
  void ExpectSame(const Outcome& want, const Outcome& got) {
    EXPECT_EQ(got.sums, want.sums);
    EXPECT_EQ(got.bits, want.bits);
    EXPECT_EQ(got.events, want.events);
  }

  InputGuard input_{NoInput()};
  std::unique_ptr<TDTMF> dtmf_;
  std::vector<std::string> events_;
};

// Buffers of the usual 2048 bytes and odd sizes around the kernel's steps
// of 16 (and the 17 below which it sums one by one).
std::vector<std::vector<uint8_t>> Buffers(uint32_t seed, int kind) {
  std::mt19937 random(seed);
  std::vector<std::vector<uint8_t>> all;
  for (size_t size : {2048, 2048, 1, 15, 16, 17, 33, 2048, 4095, 300}) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i) {
      switch (kind) {
        case 0:  // noise
          b[i] = static_cast<uint8_t>(random());
          break;
        case 1:  // the extremes, whose powers are the largest
          b[i] = (i + random() % 3) % 2 ? 0 : 255;
          break;
        default:  // quiet noise around silence, as a real input gives
          b[i] = static_cast<uint8_t>(128 + static_cast<int>(random() % 7) - 3);
      }
    }
    all.push_back(std::move(b));
  }
  return all;
}

TEST_F(RandomRunsTest, RunsGiveTheBitsOfTheStepSampleBySample) {
  for (bool portable : {false, true}) {
    tonvel::noise::detail::ForcePortableRunSums(portable);
    for (int32_t block : {2, 3, 16, 17, 1000, 2048, 2049, 5000, 50000}) {
      for (int kind : {0, 1, 2}) {
        SCOPED_TRACE("portable " + std::to_string(portable) + " block " + std::to_string(block) +
                     " kind " + std::to_string(kind));
        dtmf_->set_GenRandom_NoiseSoundCard_BufSize(block);
        const auto buffers = Buffers(static_cast<uint32_t>(block * 3 + kind), kind);
        Clear();
        const Outcome want = OneByOne(buffers);
        Clear();
        const Outcome got = InRuns(buffers);
        ExpectSame(want, got);
        EXPECT_EQ(got.events.size(), 10621u / static_cast<size_t>(block));  // samples / block
      }
    }
  }
}

TEST_F(RandomRunsTest, SumsBeyondExactIntegersAreAddedSampleBySample) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(1000000000);
  const std::vector<std::vector<uint8_t>> ones(3, std::vector<uint8_t>(2048, 129));  // s = 1
  const double two53 = 9007199254740992.0;
  // A block in progress whose sums were left where adding 1 no longer
  // counts (2^53 + 1 rounds back to 2^53), or set from outside to values
  // the step never produces (a fraction, a negative zero).
  struct Start {
    const char* what;
    double* sum;
    double value;
  };
  for (const Start& start :
       {Start{"s_d near 2^53", &tonvel::s_d, two53 - 10},
        Start{"s_b above 2^53", &tonvel::s_b, two53 + 2},
        Start{"s_a a fraction", &tonvel::s_a, 0.5}, Start{"s_p negative zero", &tonvel::s_p, -0.0},
        Start{"s_pred a fraction", &tonvel::s_pred, 0.25}}) {
    SCOPED_TRACE(start.what);
    auto prepare = [&] {
      Clear();
      tonvel::tinrand.bits.assign(5, 1);  // mid-block: the sums are not reset
      *start.sum = start.value;
    };
    prepare();
    const Outcome want = OneByOne(ones);
    prepare();
    const Outcome got = InRuns(ones);
    ExpectSame(want, got);
  }
  // The case that matters: one at a time the 4th powers stop counting at
  // 2^53; added at once they would not.
  Clear();
  tonvel::tinrand.bits.assign(5, 1);
  tonvel::s_d = two53 - 10;
  InRuns(ones);
  EXPECT_EQ(tonvel::s_d, two53);
}

TEST_F(RandomRunsTest, ABlocksEventSeesTheSamplesUpToItsLastOne) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(1000);
  std::vector<uint8_t> bytes(2048);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 5);
  std::vector<std::vector<double>> seen;
  dtmf_->GenRandom_NoiseSoundCard_Data =
      [&](host::TObject*, const std::string&, const std::string&, const std::string&,
          const std::string&, const std::string&, const std::string&, const std::string&,
          const tonvel::TBSeries&) { seen.push_back(tonvel::inwav.y); };
  Clear();
  InRuns({bytes});
  ASSERT_EQ(seen.size(), 2u);
  for (size_t block = 0; block < 2; ++block) {
    const size_t last = 1000 * (block + 1);
    ASSERT_GE(seen[block].size(), last);
    for (size_t i = 0; i < last; ++i)
      ASSERT_EQ(seen[block][i], static_cast<double>(bytes[i]) - 128) << block << " " << i;
  }
}

}  // namespace
}  // namespace velmora::testing
