// The press detector over per-buffer results: which buffers count as
// evidence, and how runs of them become presses.
#include "velmora/component/key_presses.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace velmora::tonvel {
namespace {

constexpr double kBuffer = 2048.0 / 44100.0;

// Buffer i of a file: key 5 (770 Hz and 1336 Hz) at the given levels over a
// noise level of -45 dB, or no key.
BufferKeyResult Buffer(int i, std::string_view key = "5", double low = 20, double high = 20) {
  BufferKeyResult b;
  b.start_s = i * kBuffer;
  b.duration_s = kBuffer;
  b.key = key;
  b.a1 = low;
  b.f1 = 775.2;
  b.a2 = high;
  b.f2 = 1335.06;
  b.noise_level = -45;
  return b;
}

std::vector<KeyPress> Presses(KeyPressDetector& d, const std::vector<BufferKeyResult>& buffers) {
  std::vector<KeyPress> out;
  for (const auto& b : buffers)
    if (auto p = d.Feed(b)) out.push_back(*p);
  if (auto p = d.Finish()) out.push_back(*p);
  return out;
}

TEST(KeyPresses, EvidenceNeedsBothTonesAboveTheNoiseWithinTheTwistLimits) {
  const KeyPressDetector d;
  EXPECT_TRUE(d.IsEvidence(Buffer(0)));
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "")));
  // Level floor: 30 dB above the noise level, for the weaker tone too.
  BufferKeyResult noisy = Buffer(0, "5", 5, 5);
  noisy.noise_level = -25;
  EXPECT_TRUE(d.IsEvidence(noisy));
  noisy.a2 = 4.5;
  EXPECT_FALSE(d.IsEvidence(noisy));
  // Twist: the high group may be 5.5 dB stronger, the low group 9.5 dB (the
  // limits of ITU-T Q.24 and 1.5 dB of measuring error); measured on the
  // tones' power where known, else the difference of their levels.
  EXPECT_TRUE(d.IsEvidence(Buffer(0, "5", 10, 15.5)));
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "5", 10, 16)));
  EXPECT_TRUE(d.IsEvidence(Buffer(0, "5", 19.5, 10)));
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "5", 20, 10)));
  BufferKeyResult measured = Buffer(0, "5", 10, 16);
  measured.twist_db = 5;
  EXPECT_TRUE(d.IsEvidence(measured));
  measured.twist_db = -9.6;
  EXPECT_FALSE(d.IsEvidence(measured));
  const KeyPressDetector loose({.min_level_db = 10, .max_forward_twist_db = 20});
  EXPECT_TRUE(loose.IsEvidence(Buffer(0, "5", 0.5, 20)));

  // Clearance: the weaker tone 8 dB above anything else in the spectrum.
  // Bins 21.5 Hz apart; 770 Hz lies at bin 35.8, 1336 Hz at 62.0.
  std::vector<double> levels(1024, -40.0);
  levels[36] = 20;
  levels[62] = 18;
  levels[38] = 12;  // leakage 2.2 bins from the low tone: not counted
  levels[80] = 10;  // a third tone
  const double step = 44100.0 / 2048;
  EXPECT_EQ(OtherLevel(levels, step, 770, 1336), 10);
  BufferKeyResult third = Buffer(0, "5", 18, 20);
  third.other_level = 10;
  EXPECT_TRUE(d.IsEvidence(third));
  third.other_level = 10.5;
  EXPECT_FALSE(d.IsEvidence(third));
}

TEST(KeyPresses, RunsOfBuffersBecomePressesWithTimesAndTheirBestLevels) {
  KeyPressDetector d;
  // 5 held over three buffers (the middle one strongest), a gap, 5 again
  // (a real repeat), a buffer with a tone below the floor, 5 once more,
  // then 9 right after 5 with no gap.
  std::vector<BufferKeyResult> buffers = {
      Buffer(0, "5", 12, 14), Buffer(1, "5", 18, 19),  Buffer(2, "5", 15, 15), Buffer(3, ""),
      Buffer(4, "5"),         Buffer(5, "5", -20, 20), Buffer(6, "5"),         Buffer(7, "9")};
  const std::vector<KeyPress> p = Presses(d, buffers);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].key, '5');
  EXPECT_DOUBLE_EQ(p[0].start_s, 0);
  EXPECT_NEAR(p[0].duration_s, 3 * kBuffer, 1e-12);
  EXPECT_EQ(p[0].low_level_db, 18);
  EXPECT_EQ(p[0].high_level_db, 19);
  EXPECT_EQ(p[0].low_freq_hz, 775.2);
  EXPECT_EQ(p[0].high_freq_hz, 1335.06);
  EXPECT_NEAR(p[1].start_s, 4 * kBuffer, 1e-12);
  EXPECT_NEAR(p[2].start_s, 6 * kBuffer, 1e-12);
  EXPECT_EQ(p[3].key, '9');
  EXPECT_NEAR(p[3].duration_s, kBuffer, 1e-12);

  // A running press goes on through a buffer of its key that fails only the
  // twist or the clearance: one press, not two; such a buffer starts none.
  BufferKeyResult wavering = Buffer(1, "5", 10, 17);
  wavering.other_level = 5;
  const std::vector<KeyPress> w =
      Presses(d, {Buffer(0), wavering, Buffer(2), Buffer(3, ""), Buffer(4, "5", 10, 17)});
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NEAR(w[0].duration_s, 3 * kBuffer, 1e-12);
  EXPECT_EQ(w[0].low_level_db, 20);

  // A minimum of 100 ms drops the one- and two-buffer presses.
  KeyPressDetector strict({.min_duration_ms = 100});
  const std::vector<KeyPress> q = Presses(strict, buffers);
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].start_s, 0);
}

// The tones of a spectrum like the capture's (2048 points at 44100 Hz):
// each tone a main bin and its neighbours, the way a rectangular window
// shows a tone between two bins.
TEST(KeyPresses, KeyTonesReadBothGroupsFromTheSpectrum) {
  const double step = 44100.0 / 2048;
  auto spectrum = [step](double low_hz, double low_db, double high_hz, double high_db) {
    std::vector<double> levels(1024, -30.0);
    for (auto [hz, db] : {std::pair{low_hz, low_db}, std::pair{high_hz, high_db}}) {
      const double bin = hz / step;
      for (int k = -3; k <= 3; ++k) {
        const int i = static_cast<int>(std::floor(bin)) + k;
        const double d = std::fabs(bin - i);  // distance from the tone in bins
        levels[static_cast<size_t>(i)] = std::max(levels[static_cast<size_t>(i)], db - 12 * d * d);
      }
    }
    return levels;
  };
  const KeyPressSettings settings;
  // Key 9 with the low tone 4 dB weaker: the high tone's neighbour bin is
  // stronger than the low tone, so the two strongest bins are both the high
  // tone's; the group peaks still give 852 Hz and 1477 Hz.
  BufferKeyResult b = KeyTones(spectrum(852, 16, 1477, 20), step, settings);
  EXPECT_EQ(b.key, "9");
  EXPECT_NEAR(b.f1, 852, 3);
  EXPECT_NEAR(b.f2, 1477, 3);
  EXPECT_LT(b.a1, b.a2);
  EXPECT_LT(b.other_level, -20);
  // 1.5 % off the keypad frequencies is a key; 3.5 % off is none.
  EXPECT_EQ(KeyTones(spectrum(697 * 1.015, 20, 1633 * 0.985, 20), step, settings).key, "a");
  EXPECT_EQ(KeyTones(spectrum(941 * 1.035, 20, 1336, 20), step, settings).key, "");
  EXPECT_EQ(KeyTones(spectrum(941, 20, 1336 * 0.965, 20), step, settings).key, "");
  // A single tone is no key, whatever the other group's strongest bin is.
  std::vector<double> single(1024, -30.0);
  single[35] = 20;
  EXPECT_EQ(KeyTones(single, step, settings).key, "");
}

}  // namespace
}  // namespace velmora::tonvel
