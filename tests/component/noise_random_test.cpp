// The noise random generator: blocks of bits handed over by hand through
// the capture pipeline, their statistics lines (exact Windows-1251 bytes),
// the bits file and the failures around it.
#include "velmora/component/noise_random.h"

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tone_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/format.h"
#include "velmora/host/text.h"

namespace velmora::testing {
namespace {

using tonvel::TDTMF;

struct Block {
  std::vector<std::string> lines;  // the seven text parameters, in order
  std::vector<uint8_t> bits;
};

class NoiseRandomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_settings_ = host::FormatSettings;
    host::FormatSettings.DecimalSeparator = '.';
    host::FormatSettings.ThousandSeparator = ',';
    tonvel::s_a = tonvel::s_b = tonvel::s_w = tonvel::s_c = tonvel::s_d = tonvel::s_p = 0;
    tonvel::s_pred = tonvel::s_pred0 = 0;
    dtmf_ = std::make_unique<TDTMF>(nullptr);
    tonvel::fmp3dir = dir_.path().string() + "/";
    dtmf_->GenRandom_NoiseSoundCard_Data =
        [this](host::TObject* sender, const std::string& sa, const std::string& dispers_sm,
               const std::string& disters_ne, const std::string& koef_asim, const std::string& pic,
               const std::string& crit_serial_correlation, const std::string& raspred,
               const tonvel::TBSeries& series) {
          EXPECT_EQ(sender, dtmf_.get());
          blocks_.push_back(
              {{sa, dispers_sm, disters_ne, koef_asim, pic, crit_serial_correlation, raspred},
               series.bits});
        };
    dtmf_->GetTone = [this](host::TObject*, int32_t, double, double, double) { ++buffers_; };
    host::Application().OnException = [this](host::TObject*, const std::exception& e) {
      failures_.push_back(e.what());
    };
  }
  void TearDown() override {
    dtmf_.reset();
    host::Application().OnException = nullptr;
    host::FormatSettings = saved_settings_;
    tonvel::tinrand.bits.clear();
  }
  static std::string Ansi(const char* utf8) { return host::Utf8ToAnsi(utf8); }

  InputGuard input_{NoInput()};
  TempDir dir_;
  host::TFormatSettings saved_settings_;
  std::unique_ptr<TDTMF> dtmf_;
  std::vector<Block> blocks_;
  int buffers_ = 0;
  std::vector<std::string> failures_;
};

TEST_F(NoiseRandomTest, FourSamplesGiveTheSevenLinesInTheEventsOrder) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(4);
  Deliver({129, 127, 129, 127});
  ASSERT_EQ(blocks_.size(), 1u);
  const Block& b = blocks_[0];
  EXPECT_EQ(b.bits, (std::vector<uint8_t>{1, 1, 1, 1}));
  EXPECT_EQ(b.lines[0], Ansi("Cреднее арифметическое: 0.00"));
  EXPECT_EQ(b.lines[0][0], 'C') << "a Latin C";
  EXPECT_EQ(b.lines[1], Ansi("Дисперсия смещ.: 1.00"));
  EXPECT_EQ(b.lines[2], Ansi("Дисперсия несм.: 1.33"));
  EXPECT_EQ(b.lines[3], Ansi("Коэффициент ассиметрии: 0.00"));
  EXPECT_EQ(b.lines[4], Ansi("Острота пика: -2.00"));
  // The sixth parameter carries the verdict, the seventh the serial line.
  EXPECT_EQ(b.lines[5], Ansi("Распределение: нормальное"));
  EXPECT_EQ(b.lines[6], Ansi("Критерий сериальной корреляции: -1.00"));
  EXPECT_EQ(b.lines[5],
            "\xD0\xE0\xF1\xEF\xF0\xE5\xE4\xE5\xEB\xE5\xED\xE8\xE5: "
            "\xED\xEE\xF0\xEC\xE0\xEB\xFC\xED\xEE\xE5");
  EXPECT_EQ(tonvel::stat.raspred, b.lines[5]);
  EXPECT_EQ(tonvel::stat.crit_serial_correlation, b.lines[6]);
  EXPECT_TRUE(tonvel::tinrand.bits.empty());
  EXPECT_EQ(tonvel::s_a, 0);
  EXPECT_EQ(tonvel::s_p, 0);
}

TEST_F(NoiseRandomTest, ANewComponentDoesNotInheritTheSumsOfAnUnfinishedBlock) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(4);
  Deliver({200, 10});  // half a block, then the component goes
  dtmf_.reset();
  dtmf_ = std::make_unique<TDTMF>(nullptr);
  dtmf_->GenRandom_NoiseSoundCard_Data =
      [this](host::TObject*, const std::string& sa, const std::string&, const std::string&,
             const std::string&, const std::string&, const std::string&, const std::string&,
             const tonvel::TBSeries& series) {
        blocks_.push_back({{sa}, series.bits});
      };
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(4);
  Deliver({129, 127, 129, 127});
  ASSERT_EQ(blocks_.size(), 1u);
  EXPECT_EQ(blocks_[0].lines[0], Ansi("Cреднее арифметическое: 0.00"));
  EXPECT_EQ(blocks_[0].bits.size(), 4u);
}

TEST_F(NoiseRandomTest, BlocksSpanBuffersAndTheNextBlockStartsWithTheNextSample) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(3000);
  std::mt19937 random(11);
  std::vector<uint8_t> bytes(4096);
  for (auto& x : bytes) x = static_cast<uint8_t>(random());
  Deliver({bytes.begin(), bytes.begin() + 2048});
  EXPECT_TRUE(blocks_.empty());
  Deliver({bytes.begin() + 2048, bytes.end()});
  ASSERT_EQ(blocks_.size(), 1u);
  std::vector<uint8_t> bits;
  double sum = 0, sum2 = 0, serial = 0;
  for (size_t i = 0; i < 3000; ++i) {
    bits.push_back(bytes[i] & 1);
    const double s = bytes[i] - 128.0;
    sum += s;
    sum2 += s * s;
    serial += s * (bytes[(i + 2999) % 3000] - 128.0);  // closed into a circle
  }
  EXPECT_EQ(blocks_[0].bits, bits);
  EXPECT_EQ(blocks_[0].lines[0],
            Ansi("Cреднее арифметическое: ") + host::Format("%.2n", {sum / 3000}));
  const double r = (3000 * serial - sum * sum) / (3000 * sum2 - sum * sum);
  EXPECT_EQ(blocks_[0].lines[6],
            Ansi("Критерий сериальной корреляции: ") + host::Format("%.2n", {r}));
  EXPECT_EQ(tonvel::tinrand.bits.size(), 4096u - 3000);
  EXPECT_EQ(tonvel::s_pred0, bytes[3000] - 128.0);
  EXPECT_EQ(tonvel::tinrand.bits[0], bytes[3000] & 1);
}

TEST_F(NoiseRandomTest, TheBitsFileGrowsByOneByteABitAndIsNeverTruncated) {
  const std::string file = dir_.file("test.dat");
  WriteFile(file, "xyz");
  dtmf_->set_GenRandom_NoiseSoundCard_SaveToFile(true);
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(1000);
  std::vector<uint8_t> bytes(2048);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 3);
  Deliver(bytes);
  ASSERT_EQ(blocks_.size(), 2u);
  const std::string content = ReadFile(file);
  ASSERT_EQ(content.size(), 3u + 2000);
  EXPECT_EQ(content.substr(0, 3), "xyz");
  for (size_t i = 0; i < 2000; ++i) ASSERT_EQ(content[3 + i], bytes[i] & 1) << i;
  // A missing file is created.
  std::filesystem::remove(file);
  Deliver(bytes);
  EXPECT_EQ(ReadFile(file).size(), 2000u);
  EXPECT_TRUE(failures_.empty());
}

TEST_F(NoiseRandomTest, TheBitsFileGoesToTheChosenDirectory) {
  TempDir other;
  dtmf_->set_GenRandom_NoiseSoundCard_Dir(other.path().string());  // no trailing '/'
  dtmf_->set_GenRandom_NoiseSoundCard_SaveToFile(true);
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(1000);
  Deliver(std::vector<uint8_t>(2048, 131));
  EXPECT_EQ(ReadFile(other.file("test.dat")).size(), 2000u);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("test.dat")));
  dtmf_->set_GenRandom_NoiseSoundCard_Dir("");  // back to the executable's directory
  EXPECT_EQ(dtmf_->GenRandom_NoiseSoundCard_Dir(), tonvel::fmp3dir);
  EXPECT_TRUE(failures_.empty());
}

TEST_F(NoiseRandomTest, NothingIsCollectedWhileProcessingIsPaused) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(10);
  dtmf_->set_StartRealTime(false);
  Deliver(std::vector<uint8_t>(2048, 129));
  EXPECT_TRUE(tonvel::tinrand.bits.empty());
  EXPECT_TRUE(blocks_.empty());
  EXPECT_EQ(tonvel::s_a, 0);
}

TEST_F(NoiseRandomTest, AnUnwritableBitsFileNeitherHoldsUpTheBlockNorCapture) {
  tonvel::fmp3dir = dir_.file("missing") + "/";
  dtmf_->set_GenRandom_NoiseSoundCard_SaveToFile(true);
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(500);
  Deliver(std::vector<uint8_t>(2048, 131));
  EXPECT_EQ(blocks_.size(), 4u) << "every block completed";
  EXPECT_EQ(tonvel::tinrand.bits.size(), 48u);
  EXPECT_EQ(buffers_, 1) << "the buffer was processed to its end";
  EXPECT_TRUE(failures_.empty()) << "reported once the buffer is done";
  host::Application().ProcessMessages();
  ASSERT_EQ(failures_.size(), 4u);
  EXPECT_NE(failures_[0].find("test.dat"), std::string::npos) << failures_[0];
  Deliver(std::vector<uint8_t>(2048, 131));
  EXPECT_EQ(blocks_.size(), 8u) << "capture goes on";
  host::Application().ProcessMessages();
}

TEST_F(NoiseRandomTest, BlockSizesBelowTwoCountAsTwo) {
  for (int32_t size : {1, 0, -7}) {
    SCOPED_TRACE(size);
    blocks_.clear();
    dtmf_->set_GenRandom_NoiseSoundCard_BufSize(size);
    Deliver({129, 128, 131, 120, 255, 0});
    ASSERT_EQ(blocks_.size(), 3u);
    for (const Block& b : blocks_) EXPECT_EQ(b.bits.size(), 2u);
    EXPECT_EQ(blocks_[2].bits, (std::vector<uint8_t>{1, 0}));
  }
}

TEST_F(NoiseRandomTest, ASizeLoweredBelowTheBitsInHandCompletesTheBlockAtTheNextSample) {
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(1000);
  Deliver(std::vector<uint8_t>(600, 129));
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(500);
  Deliver(std::vector<uint8_t>(10, 128));
  ASSERT_EQ(blocks_.size(), 1u);
  EXPECT_EQ(blocks_[0].bits.size(), 601u);
  EXPECT_EQ(tonvel::tinrand.bits.size(), 9u);
}

TEST_F(NoiseRandomTest, StatisticsWithoutAnAnswerStillGiveNumbers) {
  // All samples equal: no variation to correlate; R shows 0.00.
  dtmf_->set_GenRandom_NoiseSoundCard_BufSize(2048);
  Deliver(std::vector<uint8_t>(2048, 128));
  ASSERT_EQ(blocks_.size(), 1u);
  EXPECT_EQ(blocks_[0].lines[6], Ansi("Критерий сериальной корреляции: 0.00"));
  EXPECT_EQ(blocks_[0].lines[1], Ansi("Дисперсия смещ.: 0.00"));
  for (const std::string& line : blocks_[0].lines)
    EXPECT_EQ(line.find("NAN"), std::string::npos) << host::AnsiToUtf8(line);

  // A variance that rounding left below zero: skewness and kurtosis show
  // 0.00 and normality is not claimed.
  tonvel::calc_stat(2, 2, 1.9, 0, 0, 0);
  EXPECT_EQ(tonvel::stat.koef_asim, Ansi("Коэффициент ассиметрии: 0.00"));
  EXPECT_EQ(tonvel::stat.raspred, Ansi("Распределение: ассимметричное"));

  // Thousands separators of the locale.
  tonvel::calc_stat(2, 2469, 3e6, 0, 0, 0);
  EXPECT_EQ(tonvel::stat.sa, Ansi("Cреднее арифметическое: 1,234.50"));
}

}  // namespace
}  // namespace velmora::testing
