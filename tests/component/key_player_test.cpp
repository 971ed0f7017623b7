// The key-sequence player: the synthesis of bursts, and the 310 ms tick
// walking through DTMF_keys on a manual clock with the loopback as output
// (whose device threads make those suites Concurrency suites).
#include "velmora/component/key_player.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tone_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::testing {
namespace {

using tonvel::synth_tones;
using tonvel::TDTMF;

std::vector<uint8_t> Burst(int32_t duration_ms, int32_t volume, int16_t f1, int16_t f2) {
  const double a = volume / 100.0;
  return synth_tones(22050, 8, {a, a}, {f1, f2}, duration_ms / 1000.0);
}

TEST(KeyPlayer, BurstLengthsRoundTheSampleCountHalvesToEven) {
  // 2094.75 -> 2095; 2205 exactly; 5512.4999.. -> 5512; 1102.5000..1 -> 1103.
  EXPECT_EQ(Burst(95, 90, 697, 1209).size(), 2095u);
  EXPECT_EQ(Burst(100, 90, 697, 1209).size(), 2205u);
  EXPECT_EQ(Burst(250, 90, 697, 1209).size(), 5512u);
  EXPECT_EQ(Burst(50, 90, 697, 1209).size(), 1103u);
  // 16-bit samples take two bytes each.
  EXPECT_EQ(synth_tones(22050, 16, {0.9}, {697}, 0.095).size(), 4190u);
  // Durations that give no sample give no bytes.
  for (double d : {0.0, -0.1, 0.00002})
    EXPECT_TRUE(synth_tones(22050, 8, {0.9, 0.9}, {697, 1209}, d).empty()) << d;
}

TEST(KeyPlayer, SamplesAreTheSumOfTwoQuarterScaleTonesAround127) {
  const std::vector<uint8_t> silent = Burst(95, 0, 697, 1209);
  for (uint8_t b : silent) ASSERT_EQ(b, 127);

  const std::vector<uint8_t> burst = Burst(95, 90, 697, 1209);
  EXPECT_EQ(burst[0], 127) << "both tones start at phase 0";
  const double step1 = 2 * std::numbers::pi * 697 / 22050;
  const double step2 = 2 * std::numbers::pi * 1209 / 22050;
  for (size_t s : {1u, 17u, 1000u, 2094u}) {
    const double v = (std::sin(s * step1) + std::sin(s * step2)) * 0.25 * 0.9;
    EXPECT_EQ(burst[s], static_cast<uint8_t>(std::nearbyint(127 * v) + 127)) << s;
  }
  // Peak 2 x 28.575 around 127.
  for (uint8_t b : burst) ASSERT_TRUE(b >= 127 - 58 && b <= 127 + 58) << int(b);
  // The two tones carry the energy; a key of another row and column does not.
  const double on = TonePower(burst, 22050, 697, 127) + TonePower(burst, 22050, 1209, 127);
  const double off = TonePower(burst, 22050, 941, 127) + TonePower(burst, 22050, 1477, 127);
  EXPECT_GT(on, 100 * off);
}

TEST(KeyPlayer, SixteenBitSamplesAreSignedLittleEndian) {
  const std::vector<uint8_t> b = synth_tones(22050, 16, {1.0}, {1000}, 0.01);
  ASSERT_EQ(b.size(), 2u * 221);
  for (size_t s : {0u, 5u, 11u, 16u}) {
    const auto expected = static_cast<int16_t>(
        std::nearbyint(32767 * 0.25 * std::sin(s * 2 * std::numbers::pi * 1000 / 22050)));
    const auto got = static_cast<int16_t>(b[2 * s] | (b[2 * s + 1] << 8));
    EXPECT_EQ(got, expected) << s;
  }
}

// ---- the 310 ms tick -------------------------------------------------------------

struct Played {
  int64_t at_ms;
  char key;
  int32_t f_low, f_high;
  bool opened;                   // the key output device opened
  std::vector<uint8_t> samples;  // what the device was given (pBuf)
};

class KeyPlayerConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    dtmf_ = std::make_unique<TDTMF>(nullptr);
    tonvel::key_player::SetKeyPlayedHook(
        [this](char key, int32_t f_low, int32_t f_high, size_t samples) {
          const bool opened = tonvel::Opened == 1;
          if (opened) {
            EXPECT_EQ(tonvel::pBuf.size(), samples);
          }
          played_.push_back({time_.Now(), key, f_low, f_high, opened, tonvel::pBuf});
        });
  }
  void TearDown() override {
    dtmf_.reset();
    tonvel::key_player::SetKeyPlayedHook(nullptr);
  }
  // Runs `ticks` ticks of the 310 ms timer.
  void Ticks(int ticks) { time_.Advance(310 * ticks); }

  InputGuard input_{NoInput()};
  OutputGuard output_{LoopbackOutput()};
  ManualTime time_;
  std::unique_ptr<TDTMF> dtmf_;
  std::vector<Played> played_;
};

TEST_F(KeyPlayerConcurrency, KeysPlayOnePerTickAndTheSequenceEndsOnTheTickAfter) {
  dtmf_->set_DTMF_keys("1a#");
  Ticks(3);
  ASSERT_EQ(played_.size(), 3u);
  const struct {
    char key;
    int32_t f_low, f_high;
  } expected[] = {{'1', 697, 1209}, {'a', 697, 1633}, {'#', 941, 1477}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(expected[i].key);
    EXPECT_EQ(played_[i].key, expected[i].key);
    EXPECT_EQ(played_[i].f_low, expected[i].f_low);
    EXPECT_EQ(played_[i].f_high, expected[i].f_high);
    EXPECT_EQ(played_[i].at_ms, 310 * static_cast<int64_t>(i + 1));
    EXPECT_TRUE(played_[i].opened);
    EXPECT_EQ(played_[i].samples, Burst(95, 90, static_cast<int16_t>(expected[i].f_low),
                                        static_cast<int16_t>(expected[i].f_high)));
  }
  EXPECT_EQ(tonvel::header2.nSamplesPerSec, 22050u);
  EXPECT_EQ(tonvel::header2.wBitsPerSample, 8);
  EXPECT_EQ(tonvel::header2.nBlockAlign, 1);
  EXPECT_EQ(tonvel::header2.nAvgBytesPerSec, 22050u);
  EXPECT_EQ(dtmf_->DTMF_keys(), "1a#");
  EXPECT_EQ(tonvel::gl_key, 3);
  Ticks(1);
  EXPECT_EQ(dtmf_->DTMF_keys(), "") << "the fourth tick ends the sequence";
  EXPECT_EQ(tonvel::gl_key, 0);
  EXPECT_EQ(tonvel::Opened, 1) << "the device stays open after the last key";
  Ticks(3);
  EXPECT_EQ(played_.size(), 3u);
  dtmf_.reset();
  EXPECT_EQ(tonvel::Opened, 0) << "destruction closes the key output";
  EXPECT_EQ(tonvel::waveOut, nullptr);
  EXPECT_TRUE(tonvel::pBuf.empty());
}

TEST_F(KeyPlayerConcurrency, UpperCaseLettersPlayAsLowerAndUnknownCharactersGiveSilentTicks) {
  dtmf_->set_DTMF_keys("A1x2");
  Ticks(5);
  ASSERT_EQ(played_.size(), 3u);
  EXPECT_EQ(played_[0].key, 'a');
  EXPECT_EQ(played_[0].samples, Burst(95, 90, 697, 1633));
  EXPECT_EQ(played_[1].key, '1');
  EXPECT_EQ(played_[1].at_ms, 620);
  EXPECT_EQ(played_[2].key, '2');
  EXPECT_EQ(played_[2].at_ms, 1240) << "one silent tick for x";
  EXPECT_EQ(dtmf_->DTMF_keys(), "");
}

TEST_F(KeyPlayerConcurrency, AWriteWhilePlayingGoesOnFromTheSamePosition) {
  dtmf_->set_DTMF_keys("123");
  Ticks(1);
  dtmf_->set_DTMF_keys("4567");
  Ticks(5);
  std::string keys;
  for (const Played& p : played_) keys += p.key;
  EXPECT_EQ(keys, "1567");
  EXPECT_EQ(dtmf_->DTMF_keys(), "");

  // An empty text while playing makes the next tick the end tick.
  played_.clear();
  dtmf_->set_DTMF_keys("99");
  Ticks(1);
  dtmf_->set_DTMF_keys("");
  Ticks(2);
  EXPECT_EQ(played_.size(), 1u);
  EXPECT_EQ(tonvel::gl_key, 0);
}

TEST_F(KeyPlayerConcurrency, AKeyWithoutSamplesPlaysNothingAndTheSequenceGoesOn) {
  dtmf_->set_DTMF_duration_ms(0);
  dtmf_->set_DTMF_keys("12");
  Ticks(1);
  EXPECT_TRUE(played_.empty());
  EXPECT_EQ(tonvel::Opened, 0) << "no device is opened for an empty burst";
  dtmf_->set_DTMF_duration_ms(-40);
  Ticks(1);
  dtmf_->set_DTMF_duration_ms(50);
  dtmf_->set_DTMF_keys("123");  // position 2 was reached: 3 is next
  Ticks(2);
  ASSERT_EQ(played_.size(), 1u);
  EXPECT_EQ(played_[0].key, '3');
  EXPECT_EQ(played_[0].samples.size(), 1103u);
  EXPECT_EQ(dtmf_->DTMF_keys(), "");
}

TEST_F(KeyPlayerConcurrency, WithoutAnOutputDeviceKeysAreSkippedSilently) {
  platform::SetDefaultOutput({platform::DeviceKind::None, ""});
  dtmf_->set_DTMF_keys("15");
  Ticks(3);
  EXPECT_EQ(tonvel::Opened, 0);
  EXPECT_EQ(dtmf_->DTMF_keys(), "");
  ASSERT_EQ(played_.size(), 2u) << "the bursts were made and handed on";
  EXPECT_FALSE(played_[0].opened);
  EXPECT_FALSE(played_[1].opened);
}

}  // namespace
}  // namespace velmora::testing
