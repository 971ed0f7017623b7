// Random-mutation runs over the readers of the offline analysis: WAV files
// (read_wav, and now and then the whole analysis behind
// LoadWavMp3Sharc_path) and hexadecimal sample lists.  Valid files are
// mutated by a seeded generator; the runs check that nothing crashes, reads
// or writes outside a buffer (the sanitizer build sees that) or hangs, that
// a failure is reported the documented way, and that the results keep their
// invariants.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "tests/component/wav_bytes.h"
#include "tests/support/mutator.h"
#include "tests/support/support.h"
#include "velmora/component/hex_list.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/component/wav_reader.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {
namespace {

constexpr int kIterations = 10000;
constexpr auto kTimeBudget = std::chrono::seconds(5);

// What the WAV and hexadecimal-list readers treat specially: chunk names,
// line ends, the list's header, and 32-bit fields at their extremes.
std::vector<std::string> Tokens() {
  using namespace std::string_literals;
  return {"RIFF"s,
          "WAVE"s,
          "fmt "s,
          "data"s,
          "LIST"s,
          "\r\n"s,
          "\n"s,
          "\r"s,
          "0x"s,
          "@@Hexadecimal"s,
          "ffffffff"s,
          " "s,
          "\xff\xff\xff\x7f"s,
          "\xff\xff\xff\xff"s,
          "\x00\x00\x00\x80"s};
}

// A few valid WAV files: 8-bit mono, 16-bit stereo with extra chunks and a
// long format chunk, a tiny one.
std::vector<std::string> WavSeeds() {
  std::string tone;
  for (int i = 0; i < 600; ++i) tone += static_cast<char>(128 + 60 * std::sin(i * 0.3));
  return {
      Riff(FmtChunk(1, 1, 44100, 8) + Chunk("data", tone)),
      Riff(Chunk("JUNK", "abc") + FmtChunk(1, 2, 22050, 16, 22) + Chunk("LIST", "INFO") +
           Chunk("data", tone + tone)),
      Riff(FmtChunk(1, 1, 8000, 16) + Chunk("data", "\x01\x02\x03\x04")),
  };
}

std::vector<std::string> ListSeeds() {
  std::string plain;
  std::string prefixed = "@@Hexadecimal\r\n";
  for (int i = 0; i < 80; ++i) {
    char line[24];
    std::snprintf(line, sizeof line, "%08x\n", 511 + static_cast<int>(100 * std::sin(i * 0.7)));
    plain += line;
    std::snprintf(line, sizeof line, "0x%08X\r\n", 511 + static_cast<int>(90 * std::cos(i * 0.4)));
    prefixed += line;
  }
  return {plain, prefixed};
}

// A fresh file each time: truncating and rewriting the same file makes
// ext4 flush it to disk at every close, which would slow the runs a
// hundredfold.
void Rewrite(const std::string& path, const std::string& bytes) {
  std::filesystem::remove(path);
  WriteFile(path, bytes);
}

class FileAnalysisMutation : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDefaultInput({platform::DeviceKind::None, "", false});
    dtmf_ = std::make_unique<tonvel::TDTMF>(nullptr);
    dtmf_->set_StartRealTime(false);
    dtmf_->GetTone = [this](host::TObject*, int32_t, double, double, double) { ++events_; };
  }
  void TearDown() override {
    dtmf_.reset();
    platform::ResetDeviceChoice();
  }

  TempDir dir_;
  std::unique_ptr<tonvel::TDTMF> dtmf_;
  int events_ = 0;
};

TEST_F(FileAnalysisMutation, WavFiles) {
  Mutator m(20240611, Tokens());
  const std::vector<std::string> seeds = WavSeeds();
  const std::string path = dir_.file("mutated.wav");
  const auto start = std::chrono::steady_clock::now();
  int successes = 0;
  int i = 0;
  for (; i < kIterations && std::chrono::steady_clock::now() - start < kTimeBudget; ++i) {
    const std::string bytes = m.Mutate(seeds[m.Below(static_cast<uint32_t>(seeds.size()))]);
    Rewrite(path, bytes);
    const tonvel::wav_info info = tonvel::read_wav(path);
    if (info.status == tonvel::WavStatus::Success) {
      ++successes;
      ASSERT_LE(info.data.size(), bytes.size());
    } else {
      ASSERT_TRUE(info.data.empty());
      ASSERT_FALSE(tonvel::WavFailureText(info).empty());
    }
    if (i % 8 == 0) {
      // The whole analysis: silent on failure, events always.
      const int before = events_;
      dtmf_->set_LoadWavMp3Sharc_path(path);
      ASSERT_EQ(events_, before + 1);
      ASSERT_EQ(dtmf_->LoadWavMp3Sharc_path(), "");
      ASSERT_EQ(tonvel::spektr.x.size(), tonvel::spektr.y.size());
    }
  }
  EXPECT_GT(i, 100);
  EXPECT_GT(successes, 0);
}

TEST_F(FileAnalysisMutation, HexadecimalLists) {
  Mutator m(77, Tokens());
  const std::vector<std::string> seeds = ListSeeds();
  const std::string path = dir_.file("mutated.lst");
  const auto start = std::chrono::steady_clock::now();
  int analysed = 0;
  int i = 0;
  for (; i < kIterations && std::chrono::steady_clock::now() - start < kTimeBudget; ++i) {
    Rewrite(path, m.Mutate(seeds[m.Below(static_cast<uint32_t>(seeds.size()))]));
    const int before = events_;
    try {
      dtmf_->set_LoadWavMp3Sharc_path(path);
      ++analysed;
      ASSERT_EQ(events_, before + 1);
      ASSERT_TRUE(std::isfinite(tonvel::gl_noise));
      ASSERT_EQ(tonvel::spektr.x.size(), tonvel::spektr.y.size());
      ASSERT_EQ(tonvel::inwav.y.size(), tonvel::dim.size());
    } catch (const tonvel::EHexListError& e) {
      ASSERT_EQ(events_, before);
      ASSERT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  EXPECT_GT(i, 100);
  EXPECT_GT(analysed, 0);
}

}  // namespace
}  // namespace velmora::testing
