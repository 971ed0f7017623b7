// The sine generator: the pattern of tone and pause segments block by block
// (filled directly, no device), and the worker with real devices: the
// loopback heard through the capture pipeline, the file sink read back,
// and many starts and stops (Concurrency suites: they start threads).
#include "velmora/component/sine_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tone_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::testing {
namespace {

namespace sine = tonvel::sine;
using tonvel::TDTMF;

constexpr double kTwoPi = 2 * std::numbers::pi;

// The pattern from its start, with the given copies of the properties.
class SineGenerator : public ::testing::Test {
 protected:
  void SetUp() override {
    sine::ResetPattern();
    sine::SetBlockBits(16);
  }
  void TearDown() override {
    Pattern(440, 100, 0);
    sine::ResetPattern();
    sine::SetBlockBits(16);
  }
  static void Pattern(int32_t freq, int32_t time_ms, int32_t pause_ms) {
    tonvel::iSignal_Freq = freq;
    tonvel::iSignal_Time = time_ms;
    tonvel::iSignal_Paus = pause_ms;
  }
  static std::vector<int16_t> Fill(int index) {
    sine::fill_sine_block(index);
    const auto& b = sine::sine_block[static_cast<size_t>(index)];
    return {b.begin(), b.end()};
  }
  static std::vector<uint8_t> Fill8(int index) {
    sine::fill_sine_block(index);
    const auto* bytes =
        reinterpret_cast<const uint8_t*>(sine::sine_block[static_cast<size_t>(index)].data());
    return {bytes, bytes + sine::kBlockSamples};
  }
  // Sample j of a tone segment at `freq` (the phase is a running sum, so
  // the value may differ from the exact sine by one step of rounding).
  static void ExpectTone(const std::vector<int16_t>& block, size_t from, size_t to, double freq,
                         size_t phase_index0) {
    const double step = freq / 44100 * kTwoPi;
    for (size_t j = from; j < to; ++j) {
      const double exact = std::sin(static_cast<double>(phase_index0 + j - from) * step) * 32767;
      ASSERT_NEAR(block[j], exact, 1.0) << "sample " << j;
    }
  }
  static void ExpectSilence(const std::vector<int16_t>& block, size_t from, size_t to) {
    for (size_t j = from; j < to; ++j) ASSERT_EQ(block[j], 0) << "sample " << j;
  }
};

TEST_F(SineGenerator, ToneAndPauseOfOneBlockEachAlternate) {
  Pattern(441, 100, 100);
  const std::vector<int16_t> b0 = Fill(0);
  EXPECT_EQ(b0[0], 0) << "a tone block begins at phase 0";
  EXPECT_DOUBLE_EQ(sine::sine_step, kTwoPi * 441 / 44100);
  ExpectTone(b0, 0, 4410, 441, 0);
  // The tone ended exactly with the block: the pause has begun already.
  EXPECT_FALSE(sine::sine_on);
  EXPECT_EQ(sine::sine_left, 4410);
  ExpectSilence(Fill(1), 0, 4410);
  const std::vector<int16_t> b2 = Fill(2);
  EXPECT_EQ(b2[0], 0);
  ExpectTone(b2, 0, 4410, 441, 0);
  ExpectSilence(Fill(0), 0, 4410);
}

TEST_F(SineGenerator, SegmentsCrossBlocks) {
  Pattern(440, 150, 50);  // 6615 tone samples, 2205 pause samples
  ExpectTone(Fill(0), 0, 4410, 440, 0);
  const std::vector<int16_t> b1 = Fill(1);
  ExpectTone(b1, 0, 2205, 440, 4410);
  ExpectSilence(b1, 2205, 4410);
  EXPECT_TRUE(sine::sine_on) << "the next tone has begun with the block's end";
  EXPECT_EQ(sine::sine_left, 6615);
  ExpectTone(Fill(2), 0, 4410, 440, 0);
}

TEST_F(SineGenerator, AFrequencyChangeWaitsForTheNextToneSegment) {
  Pattern(441, 150, 0);
  ExpectTone(Fill(0), 0, 4410, 441, 0);
  tonvel::iSignal_Freq = 882;
  const std::vector<int16_t> b1 = Fill(1);
  ExpectTone(b1, 0, 2205, 441, 4410);
  // No pause: the tone restarts at phase 0 with the new pitch.
  ExpectTone(b1, 2205, 4410, 882, 0);
}

TEST_F(SineGenerator, SegmentLengthsAreBounded) {
  Pattern(440, 2147483647, -30);
  Fill(0);
  EXPECT_EQ(sine::sine_left, 48695 * 44100 / 1000 - 4410) << "48695 ms at most";
  sine::ResetPattern();
  Pattern(440, -100, 100);  // no tone: pause after pause
  ExpectSilence(Fill(0), 0, 4410);
  EXPECT_FALSE(sine::sine_on);
  // 1 ms gives 44 samples.
  sine::ResetPattern();
  Pattern(440, 1, 1);
  const std::vector<int16_t> b = Fill(0);
  ExpectTone(b, 0, 44, 440, 0);
  ExpectSilence(b, 44, 88);
  EXPECT_EQ(b[88], 0);
  EXPECT_NE(b[89], 0);
}

TEST_F(SineGenerator, APatternWithoutSamplesPlaysSilenceInsteadOfSpinning) {
  Pattern(440, 0, 0);
  ExpectSilence(Fill(0), 0, 4410);
  ExpectSilence(Fill(1), 0, 4410);
  // The copies are read again at the next block.
  Pattern(440, 100, 0);
  ExpectTone(Fill(2), 0, 4410, 440, 0);
}

TEST_F(SineGenerator, EightBitBlocksHoldUnsignedSamplesAroundTheMidpoint) {
  sine::SetBlockBits(8);
  Pattern(441, 50, 50);  // 2205 tone samples, then 2205 silent ones
  const std::vector<uint8_t> b = Fill8(0);
  const double step = kTwoPi * 441 / 44100;
  for (size_t j = 0; j < 2205; ++j) ASSERT_NEAR(b[j], 128 + std::sin(j * step) * 127, 1.0) << j;
  for (size_t j = 2205; j < 4410; ++j) ASSERT_EQ(b[j], 128) << j;
  EXPECT_EQ(b[0], 128);

  const platform::WAVEFORMATEX f8 = sine::SineFormat(8);
  EXPECT_EQ(f8.wBitsPerSample, 8);
  EXPECT_EQ(f8.nBlockAlign, 1);
  EXPECT_EQ(f8.nAvgBytesPerSec, 44100u);
  EXPECT_EQ(f8.nSamplesPerSec, 44100u);
  const platform::WAVEFORMATEX f16 = sine::SineFormat(16);
  EXPECT_EQ(f16.wBitsPerSample, 16);
  EXPECT_EQ(f16.nBlockAlign, 2);
  EXPECT_EQ(f16.nAvgBytesPerSec, 88200u);
}

// ---- the worker and real devices ---------------------------------------------------

class SineGeneratorConcurrency : public ::testing::Test {
 protected:
  void TearDown() override {
    tonvel::iSignal_Freq = 440;
    tonvel::iSignal_Time = 100;
    tonvel::iSignal_Paus = 0;
    tonvel::f_bits = 16;
  }
};

// The generator heard through the loopback by the capture pipeline: the
// tone of GenSinus_Freq dominates the captured buffers and the spectrum.
TEST_F(SineGeneratorConcurrency, TheToneIsCapturedAtItsFrequency) {
  InputGuard input(platform::InputChoice{platform::DeviceKind::Loopback, "", false});
  OutputGuard output(LoopbackOutput());
  TDTMF dtmf(nullptr);
  ASSERT_NE(tonvel::hwi2, nullptr);
  dtmf.set_GenSinus_Freq(1000);
  dtmf.set_GenSinus_Time(100);
  dtmf.set_GenSinus_Pause(0);
  int buffers = 0, tonal = 0, at_frequency = 0;
  dtmf.GetTone = [&](host::TObject*, int32_t asum, double, double, double f0) {
    if (++buffers <= 8) return;  // the loopback's lag and the first blocks
    std::vector<double> y = tonvel::inwav.y;
    if (asum > 90 && TonePower(y, 44100, 1000) > 50 * TonePower(y, 44100, 1500)) ++tonal;
    if (std::fabs(f0 - 1000) < 44100.0 / 2048) ++at_frequency;
  };
  dtmf.set_GenSinus_Start(true);
  host::Application().RunUntil([&] { return buffers >= 30; }, 20000);
  dtmf.set_GenSinus_Start(false);
  ASSERT_GE(buffers, 30);
  // Most buffers: a loaded machine may hold up the loopback now and then.
  EXPECT_GE(tonal, (buffers - 8) * 6 / 10) << "of " << buffers - 8;
  EXPECT_GE(at_frequency, (buffers - 8) * 6 / 10) << "of " << buffers - 8;
}

// Reads a WAV file's fmt fields and data bytes (the file sink writes the
// canonical 44-byte layout).
struct WavFile {
  uint16_t channels = 0, align = 0, bits = 0;
  uint32_t rate = 0, avg = 0;
  std::string data;
};

WavFile ReadWav(const std::string& path) {
  const std::string f = ReadFile(path);
  WavFile w;
  if (f.size() < 44 || f.compare(0, 4, "RIFF") != 0) return w;
  auto u16 = [&](size_t at) {
    return static_cast<uint16_t>(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8);
  };
  auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  w.channels = u16(22);
  w.rate = u32(24);
  w.avg = u32(28);
  w.align = u16(32);
  w.bits = u16(34);
  w.data = f.substr(44, u32(40));
  return w;
}

TEST_F(SineGeneratorConcurrency, EightBitOutputIsWrittenAsEightBitSound) {
  TempDir dir;
  const std::string wav = dir.file("sine8.wav");
  {
    InputGuard input(NoInput());
    OutputGuard output(FileOutput(wav));
    TDTMF dtmf(nullptr);
    dtmf.set_GenSinus_BitsPerSample(tonvel::bits8);
    dtmf.set_GenSinus_Freq(2000);
    dtmf.set_GenSinus_Time(100);
    dtmf.set_GenSinus_Pause(100);
    dtmf.set_GenSinus_Start(true);
    host::Application().RunFor(700);
    dtmf.set_GenSinus_Start(false);
  }
  const WavFile w = ReadWav(wav);
  EXPECT_EQ(w.bits, 8);
  EXPECT_EQ(w.align, 1);
  EXPECT_EQ(w.rate, 44100u);
  EXPECT_EQ(w.avg, 44100u);
  ASSERT_GT(w.data.size(), 44100u * 3 / 10) << "at least the 300 ms queued at the start";
  std::vector<uint8_t> bytes(w.data.begin(), w.data.end());
  // Half-segment windows in steps of 10 ms: whatever the sink's timeline
  // adds before the first block, some window lies wholly inside a tone and
  // some wholly inside a pause.
  int tone = 0, silence = 0;
  for (size_t at = 0; at + 2205 <= bytes.size(); at += 441) {
    std::vector<uint8_t> block(bytes.begin() + at, bytes.begin() + at + 2205);
    const double p = TonePower(block, 44100, 2000, 128);
    if (p > 100) ++tone;
    if (p < 1) ++silence;
  }
  EXPECT_GE(tone, 1);
  EXPECT_GE(silence, 1) << "the pauses are midpoint bytes";
}

// A continuous tone into the file sink, which plays in real time and
// writes silence wherever the device waited for a block: there is none.
TEST_F(SineGeneratorConcurrency, TheDeviceNeverRunsDry) {
  TempDir dir;
  const std::string wav = dir.file("continuous.wav");
  {
    InputGuard input(NoInput());
    OutputGuard output(FileOutput(wav));
    TDTMF dtmf(nullptr);
    dtmf.set_GenSinus_Freq(1000);
    dtmf.set_GenSinus_Time(100);
    dtmf.set_GenSinus_Pause(0);
    dtmf.set_GenSinus_Start(true);
    host::Application().RunFor(1500);
    dtmf.set_GenSinus_Start(false);
  }
  const WavFile w = ReadWav(wav);
  ASSERT_EQ(w.bits, 16);
  const size_t samples = w.data.size() / 2;
  ASSERT_GT(samples, 44100u);
  // 5 ms windows from 50 ms in to 50 ms before the end: a 1000 Hz tone at
  // full scale never stays below a tenth of it for 5 ms.  A generator that
  // stopped refilling would leave most of them silent, and one that lost a
  // block in three a third of them; a loaded machine that holds up the
  // device's or the worker's thread for a while (300 ms are queued) may
  // cost some.
  const size_t window = 220;
  int windows = 0;
  int dry = 0;
  std::string where;
  for (size_t at = 2205; at + window + 2205 <= samples; at += window) {
    int peak = 0;
    for (size_t i = at; i < at + window; ++i) {
      const auto v = static_cast<int16_t>(uint8_t(w.data[2 * i]) | uint8_t(w.data[2 * i + 1]) << 8);
      peak = std::max(peak, std::abs(int{v}));
    }
    ++windows;
    if (peak < 3276) {
      ++dry;
      where += ' ';
      where += std::to_string(at * 1000 / 44100);
    }
  }
  EXPECT_LE(dry, windows / 4) << "5 ms windows without sound at (ms)" << where << " of "
                              << samples * 1000 / 44100 << " ms";
}

TEST_F(SineGeneratorConcurrency, HundredStartsAndStopsWithFrequencyChanges) {
  InputGuard input(NoInput());
  OutputGuard output(LoopbackOutput());
  TDTMF dtmf(nullptr);
  for (int i = 0; i < 100; ++i) {
    dtmf.set_GenSinus_Freq(300 + 17 * i);
    dtmf.set_GenSinus_Start(true);
    ASSERT_TRUE(sine::Running());
    ASSERT_NE(sine::sine_out, nullptr) << i;
    if (i % 10 == 0) host::Application().RunFor(30);  // some blocks go round
    dtmf.set_GenSinus_Time(50 + i);
    dtmf.set_GenSinus_Freq(500 + 13 * i);
    dtmf.set_GenSinus_Start(false);
    ASSERT_FALSE(sine::Running());
    ASSERT_EQ(sine::sine_out, nullptr);
    ASSERT_EQ(sine::sine_event, nullptr);
    for (const platform::WAVEHDR& h : sine::sine_hdr)
      ASSERT_EQ(h.dwFlags & platform::WHDR_PREPARED, 0u) << "every header unprepared";
  }
}

TEST_F(SineGeneratorConcurrency, RepeatedWritesAndDestructionLeaveNoWorkerBehind) {
  InputGuard input(NoInput());
  OutputGuard output(LoopbackOutput());
  auto dtmf = std::make_unique<TDTMF>(nullptr);
  dtmf->set_GenSinus_Start(false);  // stopped already: nothing to do
  EXPECT_FALSE(sine::Running());
  dtmf->set_GenSinus_Start(true);
  platform::HWAVEOUT device = sine::sine_out;
  dtmf->set_GenSinus_Start(true);  // running already: the same device
  EXPECT_EQ(sine::sine_out, device);
  EXPECT_TRUE(dtmf->GenSinus_Start());
  dtmf.reset();
  EXPECT_FALSE(sine::Running()) << "destruction stops the generator";
  EXPECT_EQ(platform::waveOutReset(device), platform::MMSYSERR_INVALHANDLE) << "device closed";
}

TEST_F(SineGeneratorConcurrency, WithoutAnOutputDeviceTheWorkerWaitsUntilStopped) {
  InputGuard input(NoInput());
  OutputGuard output({platform::DeviceKind::None, ""});
  TDTMF dtmf(nullptr);
  dtmf.set_GenSinus_Start(true);
  EXPECT_EQ(sine::sine_out, nullptr);
  host::Application().RunFor(250);  // more than one 200 ms wait
  dtmf.set_GenSinus_Start(false);
  EXPECT_FALSE(sine::Running());
}

// A host that exits, or leaks the component, while a tone plays: the unit's
// shut-down stops and joins the worker, so the process ends normally.
TEST_F(SineGeneratorConcurrency, ExitWhileTheTonePlaysEndsTheProcessNormally) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        platform::SetDefaultInput(NoInput());
        platform::SetDefaultOutput(LoopbackOutput());
        auto* leaked = new TDTMF(nullptr);
        leaked->set_GenSinus_Start(true);
        host::Application().RunFor(30);
        std::exit(sine::Running() ? 7 : 8);
      },
      ::testing::ExitedWithCode(7), "");
}

}  // namespace
}  // namespace velmora::testing
