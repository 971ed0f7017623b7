// The press detector over per-buffer results: which buffers count as
// evidence, and how runs of them become presses.
#include "velmora/component/key_presses.h"

#include <string>
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
  b.a1 = high;
  b.f1 = 1335.06;
  b.a2 = low;
  b.f2 = 775.2;
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

TEST(KeyPresses, EvidenceNeedsAFreshSecondToneAboveTheNoiseWithinTheTwistLimits) {
  const KeyPressDetector d;
  EXPECT_TRUE(d.IsEvidence(Buffer(0)));
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "")));
  // a2 of 0: no second tone in this buffer, f2 is an earlier buffer's.
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "5", 0, 20)));
  // Level floor: 30 dB above the noise level, for the weaker tone too.
  BufferKeyResult noisy = Buffer(0, "5", 5, 5);
  noisy.noise_level = -25;
  EXPECT_TRUE(d.IsEvidence(noisy));
  noisy.a2 = 4.5;
  EXPECT_FALSE(d.IsEvidence(noisy));
  // Twist: the high group may be 6.5 dB stronger, the low group 10.5 dB,
  // whichever of the two the spectrum found strongest.
  EXPECT_TRUE(d.IsEvidence(Buffer(0, "5", 10, 16.5)));
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "5", 10, 17)));
  EXPECT_TRUE(d.IsEvidence(Buffer(0, "5", 20.5, 10)));
  EXPECT_FALSE(d.IsEvidence(Buffer(0, "5", 21, 10)));
  BufferKeyResult swapped = Buffer(0, "5", 21, 10);
  std::swap(swapped.a1, swapped.a2);
  std::swap(swapped.f1, swapped.f2);
  EXPECT_FALSE(d.IsEvidence(swapped));
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
  // (a real repeat), a stale buffer, then 9 right after 5 with no gap.
  std::vector<BufferKeyResult> buffers = {
      Buffer(0, "5", 12, 14), Buffer(1, "5", 18, 19), Buffer(2, "5", 15, 15), Buffer(3, ""),
      Buffer(4, "5"),         Buffer(5, "5", 0, 20),  Buffer(6, "5"),         Buffer(7, "9")};
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

  // A minimum of 100 ms drops the one- and two-buffer presses.
  KeyPressDetector strict({.min_duration_ms = 100});
  const std::vector<KeyPress> q = Presses(strict, buffers);
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].start_s, 0);
}

}  // namespace
}  // namespace velmora::tonvel
