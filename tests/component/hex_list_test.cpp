// Hexadecimal sample lists: the number reading, the block demodulation with
// its block positions, the list's own spectrum, and the failures, which
// reach the writer of LoadWavMp3Sharc_path as EHexListError naming the file.
#include "velmora/component/hex_list.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::testing {
namespace {

using tonvel::hex_to_int;

TEST(HexList, NumbersAreReadFromTheRight) {
  EXPECT_EQ(hex_to_int("000001ff"), 511);
  EXPECT_EQ(hex_to_int("000001FF"), 511);
  EXPECT_EQ(hex_to_int("ffffffff"), -1);
  EXPECT_EQ(hex_to_int("80000000"), INT32_MIN);
  EXPECT_EQ(hex_to_int("12 "), 288);  // a blank counts as the digit 0
  EXPECT_EQ(hex_to_int("1g2"), 258);  // so does any other character
  EXPECT_EQ(hex_to_int(""), 0);
  EXPECT_EQ(hex_to_int("abcdef0123"), static_cast<int32_t>(0xcdef0123u));  // low 32 bits
  EXPECT_EQ(hex_to_int(std::string(300, 'f')), -1);  // no overflow, however long
}

// The demodulation of one block, straight from its definition.
void ExpectBlock(int m, const std::vector<double>& block) {
  const long double* w = tonvel::kDemodWeights;
  long double t[8];
  for (int g = 0; g < 8; ++g)
    t[g] =
        w[g] * (static_cast<long double>(block[g]) + block[g + 8] + block[g + 16] + block[g + 24]);
  const long double i = t[0] - t[2] + t[4] - t[6];
  const long double q = t[1] - t[3] + t[5] - t[7];
  const long double s1 = 4 * (w[0] - w[1] - w[2] + w[3] + w[4] - w[5] - w[6] + w[7]);
  EXPECT_NEAR(static_cast<double>(s1), -0.6108136, 1e-12);
  EXPECT_NEAR(static_cast<double>(tonvel::qcos[m]), static_cast<double>(i - q + 10 * s1), 1e-12)
      << m;
  EXPECT_NEAR(static_cast<double>(tonvel::qsin[m]), static_cast<double>(i + q), 1e-12) << m;
}

TEST(HexList, DemodulationBlocksStartAtTheFirstSampleAndEndInZeros) {
  std::vector<double> x(100);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i % 7) - 3 + (i == 0 ? 50 : 0);
  tonvel::quad_demod(64, x);
  EXPECT_EQ(tonvel::quad, 2);
  ASSERT_EQ(tonvel::qcos.size(), 3u);
  ExpectBlock(1, std::vector<double>(x.begin(), x.begin() + 32));
  ExpectBlock(2, std::vector<double>(x.begin() + 32, x.begin() + 64));
  tonvel::quad_demod(65, x);
  EXPECT_EQ(tonvel::quad, 3);
  ExpectBlock(3, std::vector<double>(x.begin() + 64, x.begin() + 96));
  tonvel::quad_demod(0, x);
  EXPECT_EQ(tonvel::quad, 0);
  tonvel::quad_demod(-5, x);
  EXPECT_EQ(tonvel::quad, 0);

  // A shorter list after a longer one: its last block reads zeros past its
  // end, never the earlier list's values.
  tonvel::quad_demod(100, std::vector<double>(100, 9.0));
  const std::vector<double> shorter(40, 1.0);
  tonvel::quad_demod(40, shorter);
  EXPECT_EQ(tonvel::quad, 2);
  std::vector<double> tail(32, 0.0);
  for (int i = 0; i < 8; ++i) tail[i] = 1.0;
  ExpectBlock(2, tail);
}

class HexListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dtmf_ = std::make_unique<tonvel::TDTMF>(nullptr);
    dtmf_->set_StartRealTime(false);
    dtmf_->GetTone = [this](host::TObject*, int32_t, double noise, double, double) {
      tones_.push_back(noise);
    };
  }
  std::string List(const std::string& name, const std::string& text) {
    const std::string path = dir_.file(name);
    WriteFile(path, text);
    return path;
  }

  InputGuard input_{NoInput()};
  TempDir dir_;
  std::unique_ptr<tonvel::TDTMF> dtmf_;
  std::vector<double> tones_;
};

TEST_F(HexListFileTest, FailuresNameTheFileAndLeaveThePathSet) {
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  };
  std::string flat;  // 100 equal samples: a spectrum of zeros
  for (int i = 0; i < 100; ++i) flat += "0x000001FF\r\n";
  std::string short_list;  // 34 samples: no room for the noise level
  for (int i = 0; i < 34; ++i) short_list += (i % 2 ? "0x00000210\n" : "0x000001F0\n");
  // Ten samples: 9 for the transform, which takes 8 of them.
  const std::string ten = "1\n2\n3\n5\n8\nd\n15\n22\n37\n59\n";
  const std::vector<Case> cases = {
      {"ten", ten, "peak region"},
      {"empty", "", "no samples"},
      {"header only", "@@Hexadecimal\n", "no samples"},
      {"flat", flat, "magnitude 0"},
      {"short", short_list, "peak region"},
      {"header and two samples", "@@Hexadecimal\n0x000001FF\n0x00000200\n", "magnitude 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = List(std::string(c.what) + ".txt", c.text);
    try {
      dtmf_->set_LoadWavMp3Sharc_path(path);
      ADD_FAILURE() << "no exception";
    } catch (const tonvel::EHexListError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(path), std::string::npos) << message;
      EXPECT_NE(message.find(c.reason), std::string::npos) << message;
      EXPECT_EQ(e.ClassName(), "EHexListError");
    }
    EXPECT_EQ(dtmf_->LoadWavMp3Sharc_path(), path);
    EXPECT_TRUE(tones_.empty()) << "no event after a failure";
  }
  // The samples were read before the failure: 0x1FF is 0, 0x200 is 1.
  EXPECT_EQ(tonvel::dim, (std::vector<double>{0, 1}));
  EXPECT_EQ(tonvel::inwav.y, (std::vector<double>{0, 1}));

  const std::string missing = dir_.file("missing.lst");
  EXPECT_THROW(
      {
        try {
          dtmf_->set_LoadWavMp3Sharc_path(missing);
        } catch (const host::Exception& e) {
          EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
          throw;
        }
      },
      tonvel::EHexListError);
}

// The list's spectrum computed here on its own: the published dB_72
// coefficients, a direct DFT in long double, level[k] from bin k - 1 with
// the offset -40.696 dB, the series over positions 2 .. ceil(N/2 - 1), the
// peak searched over 10 .. N/2 - 5 and the noise as the negated root mean
// square outside +-10 positions of the peak.
TEST_F(HexListFileTest, LevelsPeakAndNoiseAgreeWithAnIndependentComputation) {
  const int n = 256;  // 257 lines: the transform takes the first 256 samples
  std::vector<long double> samples;
  std::string text = "@@Hexadecimal\n";
  uint32_t x = 99;
  for (int i = 0; i <= n; ++i) {
    x = x * 1103515245u + 12345u;
    const long noise = static_cast<long>((x >> 16) % 41) - 20;
    const long v = 511 + std::lround(150 * std::sin(2 * std::numbers::pi * 37.3 * i / n)) + noise;
    char line[32];
    std::snprintf(line, sizeof line, "0x%08lx\n", v);
    text += line;
    samples.push_back(v - 511);
  }
  dtmf_->set_LoadWavMp3Sharc_path(List("levels.txt", text));

  const long double pi = std::numbers::pi_v<long double>;
  std::vector<long double> level(n);
  for (int k = 1; k < n; ++k) {
    const int j = k - 1;
    long double re = 0, im = 0;
    for (int t = 0; t < n; ++t) {
      const long double a = 2 * pi * t / n;
      const long double w = 0.40217L - 0.49703L * std::cos(a) + 0.09392L * std::cos(2 * a) -
                            0.00183L * std::cos(3 * a);
      re += samples[t] * w * std::cos(a * j);
      im -= samples[t] * w * std::sin(a * j);
    }
    level[k] = 20 * std::log10(std::sqrt(re * re + im * im) / n) - 40.696L;
  }
  ASSERT_EQ(tonvel::spektr.x.size(), 126u);  // positions 2 .. 127
  for (size_t i = 0; i < tonvel::spektr.x.size(); ++i) {
    ASSERT_EQ(tonvel::spektr.x[i], static_cast<double>(i + 2));
    ASSERT_NEAR(tonvel::spektr.y[i], static_cast<double>(level[i + 2]), 1e-9)
        << "position " << i + 2;
  }
  int kp = 0;
  long double best = -1000;
  for (int k = 10; k <= n / 2 - 5; ++k)
    if (level[k] > best) best = level[k], kp = k;
  EXPECT_EQ(kp, 38) << "the tone's bin 37 is position 38";
  long double sum = 0;
  int count = 0;
  for (int k = 10; k <= n / 2 - 5; ++k)
    if (k < kp - 10 || k > kp + 10) sum += level[k] * level[k], ++count;
  EXPECT_EQ(count, 93);
  EXPECT_NEAR(tonvel::gl_noise, static_cast<double>(-std::sqrt(sum / count)), 1e-9);
  ASSERT_EQ(tones_.size(), 1u);
  EXPECT_EQ(tones_[0], tonvel::gl_noise);
}

TEST_F(HexListFileTest, ALongListIsAnalysedWhole) {
  // 20000 samples (beyond the 10001 of the classic storage) of a sine that
  // makes exactly 1000 cycles over the 32768-point transform, with and
  // without the 0x prefix, around the offset 511.
  std::string text = "@@Hexadecimal\r\n";
  const int count = 20000;
  for (int i = 0; i < count; ++i) {
    const long v = 511 + std::lround(200 * std::sin(2 * std::numbers::pi * 1000 * i / 32768.0));
    char line[32];
    std::snprintf(line, sizeof line, i % 2 ? "0x%08lx\r\n" : "%lX\r\n", v);
    text += line;
  }
  tonvel::a0 = 7;  // the list leaves the tone as it was
  tonvel::f0 = 8;
  const std::string path = List("Long.DAT", text);
  dtmf_->set_LoadWavMp3Sharc_path(path);
  EXPECT_EQ(dtmf_->LoadWavMp3Sharc_path(), "");
  ASSERT_EQ(tonvel::dim.size(), static_cast<size_t>(count));
  ASSERT_EQ(tonvel::inwav.y.size(), static_cast<size_t>(count));
  EXPECT_EQ(tonvel::inwav.y[0], 0.0);
  EXPECT_EQ(tonvel::quad, (count - 1 + 31) / 32);
  EXPECT_TRUE(tonvel::outwav.y.empty());
  // Positions 2 .. N/2 - 1 of the 32768-point spectrum.
  ASSERT_EQ(tonvel::spektr.x.size(), 16382u);
  EXPECT_EQ(tonvel::spektr.x.front(), 2.0);
  EXPECT_EQ(tonvel::spektr.x.back(), 16383.0);
  size_t best = 0;
  for (size_t i = 1; i < tonvel::spektr.y.size(); ++i)
    if (tonvel::spektr.y[i] > tonvel::spektr.y[best]) best = i;
  EXPECT_EQ(tonvel::spektr.x[best], 1001.0);  // level[k] is bin k - 1
  ASSERT_EQ(tones_.size(), 1u);
  EXPECT_EQ(tones_[0], tonvel::gl_noise);
  EXPECT_LT(tonvel::gl_noise, 0.0);
  EXPECT_EQ(tonvel::a0, 7.0);
  EXPECT_EQ(tonvel::f0, 8.0);
}

}  // namespace
}  // namespace velmora::testing
