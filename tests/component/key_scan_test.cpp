// The scan of capture buffers beside the exact per-buffer pipeline: on key
// pairs at every level and twist, noise, silence, short buffers and level
// floors placed right on a tone's level, the scan either leaves the buffer
// to the exact pipeline or the detector decides it the same way, with the
// same key, levels, frequencies and twist bit for bit.
#include "velmora/component/key_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "gtest/gtest.h"
#include "velmora/component/unit_state.h"

namespace velmora::tonvel {
namespace {

constexpr int kRows[] = {697, 770, 852, 941};
constexpr int kColumns[] = {1209, 1336, 1477, 1633};

// A capture buffer: two sines (amplitudes in 8-bit steps) and uniform noise
// from a fixed generator, rounded and clipped like an 8-bit capture.
std::vector<uint8_t> Buffer(double f_low, double a_low, double f_high, double a_high, double noise,
                            uint32_t seed, size_t count = 2048) {
  std::vector<uint8_t> bytes(count);
  uint32_t state = seed * 2654435761u + 1;
  for (size_t t = 0; t < count; ++t) {
    state = state * 1664525u + 1013904223u;
    const double u = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    const double x = static_cast<double>(t) / 44100.0;
    const double v = a_low * std::sin(2 * std::numbers::pi * f_low * x) +
                     a_high * std::sin(2 * std::numbers::pi * f_high * x + 0.7) + 2 * noise * u;
    bytes[t] = static_cast<uint8_t>(std::clamp(std::lround(v) + 128, 0L, 255L));
  }
  return bytes;
}

// The unit-level spectrum settings a new component starts with (earlier
// tests may have changed them), restored afterwards.
class KeyScan : public ::testing::Test {
 protected:
  void SetUp() override {
    fcntpp = 2048;
    f_window = 5;
    f_noise = 0;
  }
  void TearDown() override {
    fcntpp = saved_point_;
    f_window = saved_window_;
    f_noise = saved_noise_;
  }

 private:
  int32_t saved_point_ = fcntpp;
  uint16_t saved_window_ = f_window;
  int32_t saved_noise_ = f_noise;
};

struct Tally {
  int evidence = 0;
  int left_to_exact = 0;
  int compared = 0;
};

// Whether a buffer's results matter to the detector: evidence, or able to
// continue a running press of its key (both tones above 0 dB and the floor).
bool Matters(const KeyPressDetector& d, const BufferKeyResult& b) {
  const double floor = b.noise_level + d.settings().min_level_db;
  return d.IsEvidence(b) ||
         (b.key.size() == 1 && b.a1 > 0 && b.a2 > 0 && b.a1 >= floor && b.a2 >= floor);
}

// The scan against the exact pipeline for one buffer and detector.
void Compare(const std::vector<uint8_t>& bytes, const KeyPressDetector& d, Tally& tally) {
  const SpectrumSettings s = CurrentSpectrumSettings(false);
  const ScannedBuffer scan = ScanBuffer(bytes.data(), bytes.size(), s, d.settings());
  const BufferKeyResult exact = ExactBufferResult(bytes.data(), bytes.size(), s, d.settings());
  if (scan.needs_exact) {
    ++tally.left_to_exact;
    return;
  }
  ++tally.compared;
  const bool evidence = d.IsEvidence(exact);
  ASSERT_EQ(d.IsEvidence(scan.result), evidence) << "a1 " << exact.a1 << " a2 " << exact.a2;
  ASSERT_EQ(Matters(d, scan.result), Matters(d, exact)) << "a1 " << exact.a1 << " a2 " << exact.a2;
  if (!Matters(d, exact)) return;
  tally.evidence += evidence ? 1 : 0;
  EXPECT_EQ(scan.result.key, exact.key);
  EXPECT_EQ(scan.result.a1, exact.a1);
  EXPECT_EQ(scan.result.a2, exact.a2);
  EXPECT_EQ(scan.result.f1, exact.f1);
  EXPECT_EQ(scan.result.f2, exact.f2);
  EXPECT_EQ(scan.result.twist_db, exact.twist_db);
  EXPECT_EQ(scan.result.other_level, exact.other_level);
  EXPECT_NEAR(scan.result.noise_level, exact.noise_level, 1e-9);
}

// The sixteen keys at levels from the quietest the capture resolves to
// near full scale, with twists either way and noise; plus silence, a
// constant offset, noise alone and short last buffers.
std::vector<std::vector<uint8_t>> Corpus() {
  std::vector<std::vector<uint8_t>> out;
  uint32_t seed = 1;
  for (int k = 0; k < 16; ++k)
    for (double level : {3.0, 8.0, 30.0, 60.0})
      for (double twist : {-9.0, 0.0, 5.0})
        for (double noise : {0.0, level / 4}) {
          const double high = level * std::pow(10.0, twist / 20);
          out.push_back(Buffer(kRows[k / 4], level, kColumns[k % 4], high, noise, seed++));
        }
  out.push_back(std::vector<uint8_t>(2048, 128));
  out.push_back(std::vector<uint8_t>(2048, 140));
  for (double noise : {1.0, 20.0, 120.0}) out.push_back(Buffer(0, 0, 0, 0, noise, seed++));
  for (size_t count : {2u, 3u, 700u, 1500u})
    out.push_back(Buffer(770, 40, 1336, 40, 2, seed++, count));
  // Tones on bin centres (21.53 Hz apart), of equal amplitude: magnitudes
  // that may tie.
  const double bin = 44100.0 / 2048;
  out.push_back(Buffer(32 * bin, 50, 56 * bin, 50, 0, 0));
  out.push_back(Buffer(36 * bin, 20, 62 * bin, 20, 0, 0));
  // Impulse trains: lines of exactly equal magnitude, every other bin 0.
  for (size_t period : {32u, 64u, 96u}) {
    std::vector<uint8_t> train(2048, 128);
    for (size_t t = 0; t < train.size(); t += period) train[t] = 250;
    out.push_back(train);
  }
  return out;
}

TEST_F(KeyScan, DecidesEveryBufferAsTheExactPipelineOrLeavesItToIt) {
  const std::vector<std::vector<uint8_t>> corpus = Corpus();
  // The spectrum settings a host can choose: window, noise offset, cut.
  struct Setting {
    uint16_t window;
    int32_t noise;
  };
  for (const Setting& setting : {Setting{5, 0}, Setting{3, -20}, Setting{5, 15}}) {
    SCOPED_TRACE("window " + std::to_string(setting.window) + " noise " +
                 std::to_string(setting.noise));
    f_window = setting.window;
    f_noise = setting.noise;
    Tally tally;
    for (const auto& bytes : corpus) Compare(bytes, KeyPressDetector{}, tally);
    EXPECT_GT(tally.evidence, 80);
    EXPECT_LT(tally.left_to_exact, 3);
  }
}

// Level floors right on a tone's level (where only the exact noise level
// can decide), and just beside it; twist and clearance limits likewise.
TEST_F(KeyScan, LimitsOnTheEdgeOfABuffersValues) {
  const std::vector<std::vector<uint8_t>> corpus = Corpus();
  const SpectrumSettings s = CurrentSpectrumSettings(false);
  Tally tally;
  int edges = 0;
  for (size_t i = 0; i < corpus.size(); i += 7) {
    const auto& bytes = corpus[i];
    const BufferKeyResult exact = ExactBufferResult(bytes.data(), bytes.size(), s, {});
    if (exact.key.empty() || !(exact.a1 > 0 && exact.a2 > 0)) continue;
    ++edges;
    const double weaker = std::min(exact.a1, exact.a2);
    const double twist = std::fabs(exact.twist_db);
    for (double delta : {-1e-5, -1e-7, 0.0, 1e-7, 1e-5}) {
      KeyPressSettings level;
      level.min_level_db = weaker - exact.noise_level + delta;
      level.min_clearance_db = -100;
      level.max_forward_twist_db = level.max_reverse_twist_db = 100;
      Compare(bytes, KeyPressDetector(level), tally);
      KeyPressSettings limits;
      limits.min_level_db = -100;
      limits.max_forward_twist_db = limits.max_reverse_twist_db = twist + delta;
      limits.min_clearance_db = weaker - exact.other_level + delta;
      Compare(bytes, KeyPressDetector(limits), tally);
    }
  }
  EXPECT_GT(edges, 20);
  EXPECT_GT(tally.evidence, 40);
  // A floor within rounding of the tone's level is left to the exact
  // pipeline.
  EXPECT_GE(tally.left_to_exact, edges);
}

}  // namespace
}  // namespace velmora::tonvel
