// The sound trigger on a manual clock (GLVAL set by hand or by buffers
// handed over by hand), the recording files it writes, and one recording
// made from the virtual file source and checked by sox.
#include "velmora/component/recording.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tone_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/datetime.h"
#include "velmora/host/exception.h"

namespace velmora::testing {
namespace {

namespace recording = tonvel::recording;
using tonvel::TDTMF;

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t Le32(const std::string& f, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(f[at + i]);
  return v;
}

TEST(Recording, WaveHeaderAndFileName) {
  const std::array<uint8_t, 44> h = recording::MakeWaveHeader(1000);
  const std::string expected = std::string("RIFF") + std::string("\x0C\x04\x00\x00", 4) +
                               "WAVEfmt " + std::string("\x10\x00\x00\x00\x01\x00\x01\x00", 8) +
                               std::string("\x44\xAC\x00\x00\x44\xAC\x00\x00\x01\x00\x08\x00", 12) +
                               "data" + std::string("\xE8\x03\x00\x00", 4);
  EXPECT_EQ(std::string(h.begin(), h.end()), expected);

  const host::TDateTime date = host::EncodeDate(2026, 12, 7);
  const host::TDateTime time = host::EncodeTime(5, 30, 12, 0);
  EXPECT_EQ(recording::RecordingName(date, time), "07.12.2026_05-30-12.wav");
  EXPECT_EQ(
      recording::RecordingName(host::EncodeDate(2031, 1, 31), host::EncodeTime(23, 7, 5, 999)),
      "31.01.2031_23-07-05.wav");

  for (int32_t ms : {0, 1, 99}) EXPECT_EQ(recording::ReleaseLimit(ms), 0) << ms;
  EXPECT_EQ(recording::ReleaseLimit(2000), 20);
  EXPECT_EQ(recording::ReleaseLimit(2050), 20);
  EXPECT_EQ(recording::ReleaseLimit(2100), 21);
}

TEST(Recording, ANameInUseGetsANumberBeforeTheExtension) {
  TempDir dir;
  const std::string name = dir.file("07.12.2026_05-30-12.wav");
  EXPECT_EQ(recording::UniqueFileName(name), name);
  WriteFile(name, "first");
  EXPECT_EQ(recording::UniqueFileName(name), dir.file("07.12.2026_05-30-12_2.wav"));
  WriteFile(dir.file("07.12.2026_05-30-12_2.wav"), "second");
  EXPECT_EQ(recording::UniqueFileName(name), dir.file("07.12.2026_05-30-12_3.wav"));
}

// A component without input on a manual clock; the trigger sees the GLVAL
// the test sets before each tick.
class TriggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The trigger's state is the unit's: another test may have left it on.
    tonvel::n1 = 0;
    tonvel::gl_start = 0;
    tonvel::start = false;
    dtmf_ = std::make_unique<TDTMF>(nullptr);
    dtmf_->TriggerOff = [this](host::TObject* sender, bool onoff) {
      EXPECT_EQ(sender, dtmf_.get());
      switches_.push_back({ticks_, onoff});
    };
    recording::SetDirectory(dir_.path().string());
    host::Application().OnException = [this](host::TObject*, const std::exception& e) {
      failures_.push_back(e.what());
    };
  }
  void TearDown() override {
    dtmf_.reset();
    recording::SetDirectory("");
    host::Application().OnException = nullptr;
    tonvel::GLVAL = 0;
    tonvel::gl_start = 0;
    tonvel::n1 = 0;
    tonvel::start = false;
  }
  // One tick of the 100 ms timer with the given level.
  void Tick(int32_t level) {
    tonvel::GLVAL = level;
    ++ticks_;
    time_.Advance(100);
  }
  // The tick on which the trigger goes off after one loud tick, counting the
  // quiet ticks after it.
  int QuietTicksToRelease(int32_t time_ms) {
    dtmf_->set_TriggerOff_Time_ms(time_ms);
    switches_.clear();
    Tick(80);
    for (int quiet = 1; quiet <= 100; ++quiet) {
      Tick(10);
      if (!switches_.empty() && !switches_.back().second) return quiet;
    }
    return -1;
  }

  InputGuard input_{NoInput()};
  ManualTime time_;
  TempDir dir_;
  std::unique_ptr<TDTMF> dtmf_;
  int ticks_ = 0;
  std::vector<std::pair<int, bool>> switches_;
  std::vector<std::string> failures_;
};

TEST_F(TriggerTest, ThresholdIsInclusive) {
  Tick(24);
  EXPECT_TRUE(switches_.empty()) << "24 is quiet";
  Tick(25);
  ASSERT_EQ(switches_.size(), 1u) << "25 is loud";
  EXPECT_TRUE(switches_[0].second);
  EXPECT_TRUE(tonvel::start);
  Tick(100);
  EXPECT_EQ(switches_.size(), 1u) << "a loud tick while on only clears the count";
  EXPECT_TRUE(FilesIn(dir_.path()).empty()) << "recording is off: no file";
}

TEST_F(TriggerTest, ReleaseComesAfterTheLimitPlusOneQuietTicks) {
  EXPECT_EQ(QuietTicksToRelease(2000), 21);
  EXPECT_EQ(QuietTicksToRelease(2050), 21);
  EXPECT_EQ(QuietTicksToRelease(2100), 22);
  for (int32_t ms : {0, 1, 50, 99}) EXPECT_EQ(QuietTicksToRelease(ms), 1) << ms;
}

TEST_F(TriggerTest, ALoudTickEveryTenthTickKeepsTheTriggerOn) {
  for (int i = 0; i < 300; ++i) Tick(i % 10 == 0 ? 60 : 5);
  ASSERT_EQ(switches_.size(), 1u);
  EXPECT_TRUE(switches_[0].second);
  EXPECT_TRUE(tonvel::start);
}

TEST_F(TriggerTest, ARecordingHoldsTheBuffersWhileOnAndReportsItsProgress) {
  dtmf_->set_TriggerOff_Record_Sound(true);
  dtmf_->set_TriggerOff_Time_ms(300);  // off on the 4th quiet tick
  std::vector<std::pair<int32_t, std::string>> progress;
  dtmf_->RecordSound = [&](host::TObject*, int32_t size_kb, const std::string& status) {
    progress.push_back({size_kb, status});
  };
  std::vector<uint8_t> loud = BufferWithPeak(250);
  Deliver(loud);
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(progress[0], std::make_pair(0, std::string("Stop record")));
  Tick(tonvel::GLVAL);  // the loud buffer's level opens the file
  ASSERT_TRUE(tonvel::start_mp3);
  const std::vector<std::string> files = FilesIn(dir_.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(dir_.file(files[0]), tonvel::temp_gsa);
  progress.clear();
  // 2048 + 2048 + 700 bytes: 2 KB, 4 KB, 4.68 KB -> 5.
  std::vector<uint8_t> part(700, 130);
  for (const auto& b : {loud, std::vector<uint8_t>(2048, 128), part}) Deliver(b);
  ASSERT_EQ(progress.size(), 3u);
  EXPECT_EQ(progress[0], std::make_pair(2, std::string("Start record")));
  EXPECT_EQ(progress[1], std::make_pair(4, std::string("Start record")));
  EXPECT_EQ(progress[2], std::make_pair(5, std::string("Start record")));
  for (int i = 0; i < 4; ++i) Tick(0);
  EXPECT_FALSE(tonvel::start);
  EXPECT_FALSE(tonvel::start_mp3);
  const std::string f = ReadFile(tonvel::temp_gsa);
  ASSERT_EQ(f.size(), 44u + 4796);
  EXPECT_EQ(f.compare(0, 4, "RIFF"), 0);
  EXPECT_EQ(Le32(f, 4), f.size() - 8);
  EXPECT_EQ(Le32(f, 40), f.size() - 44);
  EXPECT_EQ(f.substr(0, 44), std::string(tonvel::WaveHeader.begin(), tonvel::WaveHeader.end()));
  EXPECT_EQ(f.substr(44, 2048), std::string(loud.begin(), loud.end()));
  EXPECT_EQ(f.substr(44 + 4096), std::string(700, char(130)));
  progress.clear();
  Deliver(loud);
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(progress[0], std::make_pair(5, std::string("Stop record")));
}

TEST_F(TriggerTest, DestructionCompletesAnOpenRecordingWithoutTriggerOff) {
  dtmf_->set_TriggerOff_Record_Sound(true);
  Tick(90);
  ASSERT_TRUE(tonvel::start_mp3);
  const std::string name = tonvel::temp_gsa;
  Deliver(std::vector<uint8_t>(2048, 200));
  Deliver(std::vector<uint8_t>(1000, 60));
  switches_.clear();
  dtmf_.reset();
  EXPECT_TRUE(switches_.empty());
  EXPECT_FALSE(tonvel::start);
  EXPECT_FALSE(tonvel::start_mp3);
  const std::string f = ReadFile(name);
  ASSERT_EQ(f.size(), 44u + 3048);
  EXPECT_EQ(Le32(f, 4), 3048u + 36);
  EXPECT_EQ(Le32(f, 40), 3048u);
  EXPECT_EQ(f.substr(44 + 2048), std::string(1000, char(60)));
  EXPECT_TRUE(failures_.empty());
}

TEST_F(TriggerTest, AFileThatCannotBeCreatedReachesOnExceptionAndChangesNothing) {
  dtmf_->set_TriggerOff_Record_Sound(true);
  tonvel::n1 = 1234;
  recording::SetDirectory(dir_.file("missing/dir"));
  Tick(90);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_NE(failures_[0].find("missing/dir"), std::string::npos) << failures_[0];
  EXPECT_FALSE(tonvel::start);
  EXPECT_FALSE(tonvel::start_mp3);
  EXPECT_EQ(tonvel::n1, 1234) << "the size of the latest recording is kept";
  EXPECT_TRUE(switches_.empty());
  // The next loud tick tries again.
  recording::SetDirectory(dir_.path().string());
  Tick(90);
  EXPECT_TRUE(tonvel::start_mp3);
  EXPECT_EQ(switches_.size(), 1u);
  EXPECT_EQ(FilesIn(dir_.path()).size(), 1u);
}

TEST_F(TriggerTest, RecordingsInTheSameSecondDoNotOverwriteEachOther) {
  dtmf_->set_TriggerOff_Record_Sound(true);
  dtmf_->set_TriggerOff_Time_ms(50);  // a recording can end after one tick
  // The names of the next seconds are taken already.
  const host::TDateTime now = host::Now();
  for (int s = 0; s <= 5; ++s) {
    const host::TDateTime t = now + s / 86400.0;
    WriteFile(dir_.file(recording::RecordingName(t, t)), "older");
  }
  for (int i = 0; i < 2; ++i) {
    Tick(90);
    Deliver(std::vector<uint8_t>(100, 140 + i));
    Tick(0);
    ASSERT_FALSE(tonvel::start_mp3);
  }
  std::vector<std::string> recordings;
  int older = 0;
  for (const std::string& n : FilesIn(dir_.path())) {
    if (ReadFile(dir_.file(n)) == "older")
      ++older;
    else
      recordings.push_back(n);
  }
  EXPECT_EQ(older, 6) << "no file was overwritten";
  ASSERT_EQ(recordings.size(), 2u);
  for (const std::string& n : recordings) {
    EXPECT_TRUE(n.find("_2.wav") != std::string::npos || n.find("_3.wav") != std::string::npos)
        << n;
    EXPECT_EQ(ReadFile(dir_.file(n)).size(), 144u);
  }
}

TEST_F(TriggerTest, ARecordingThatCannotBeCompletedLeavesTheRecorderQuiet) {
  dtmf_->set_TriggerOff_Record_Sound(true);
  dtmf_->set_TriggerOff_Time_ms(0);
  Tick(90);
  Deliver(std::vector<uint8_t>(100, 140));
  std::filesystem::remove(tonvel::temp_gsa);
  Tick(0);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_FALSE(tonvel::start);
  EXPECT_FALSE(tonvel::start_mp3);
  EXPECT_EQ(tonvel::StreamWAV, nullptr);
  Deliver(std::vector<uint8_t>(100, 140));  // nothing to append to: no crash
  Tick(90);
  EXPECT_TRUE(tonvel::start_mp3) << "the next loud tick records again";
}

TEST_F(TriggerTest, ReleasedWhileRecordingIsSwitchedOffTheFileStaysOpenForTheNextSound) {
  dtmf_->set_TriggerOff_Record_Sound(true);
  dtmf_->set_TriggerOff_Time_ms(0);
  Tick(90);
  const std::string name = tonvel::temp_gsa;
  Deliver(std::vector<uint8_t>(100, 140));
  dtmf_->set_TriggerOff_Record_Sound(false);
  Tick(0);
  EXPECT_FALSE(tonvel::start);
  EXPECT_TRUE(tonvel::start_mp3) << "left open";
  dtmf_->set_TriggerOff_Record_Sound(true);
  Tick(90);
  EXPECT_EQ(tonvel::temp_gsa, name) << "the same file goes on";
  Deliver(std::vector<uint8_t>(50, 150));
  Tick(0);
  EXPECT_FALSE(tonvel::start_mp3);
  const std::string f = ReadFile(name);
  EXPECT_EQ(f.size(), 44u + 150);
  EXPECT_EQ(FilesIn(dir_.path()).size(), 1u);
}

// ---- a recording from the virtual file source ------------------------------------

// 3 s of a loud 1 kHz tone after 0.2 s of silence, then 3 s of silence,
// played by the file source as fast as it is consumed while the manual
// clock follows the sound: one tick per 100 ms of samples processed.
TEST(RecordingConcurrency, LoudPassageFromTheFileSourceBecomesAWavFileThatSoxReads) {
  TempDir dir;
  std::vector<uint8_t> sound(44100 / 5, 128);
  for (int i = 0; i < 3 * 44100; ++i)
    sound.push_back(static_cast<uint8_t>(
        128 + std::lround(100 * std::sin(i * 2 * std::numbers::pi * 1000 / 44100))));
  sound.resize(sound.size() + 3 * 44100, 128);
  const std::string source = dir.file("source.wav");
  WriteWav8(source, sound);
  const std::filesystem::path out = dir.path() / "out";
  std::filesystem::create_directory(out);
  recording::SetDirectory(out.string());

  InputGuard input(FileInput(source, true));
  ManualTime time;
  std::string name;
  {
    TDTMF dtmf(nullptr);
    ASSERT_NE(tonvel::hwi2, nullptr);
    dtmf.set_TriggerOff_Record_Sound(true);
    std::vector<bool> switches;
    dtmf.TriggerOff = [&](host::TObject*, bool onoff) { switches.push_back(onoff); };
    int64_t processed = 0;
    dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) { processed += 2048; };
    host::TApplication& app = host::Application();
    for (int round = 0; round < 20000 && !platform::InputFinished(); ++round) {
      app.HandleMessage(20);
      const int64_t due = processed * 1000 / 44100;
      if (due > time.Now()) time.Advance(due - time.Now());
    }
    app.ProcessMessages();
    ASSERT_TRUE(platform::InputFinished());
    EXPECT_EQ(switches, (std::vector<bool>{true, false}));
    name = tonvel::temp_gsa;
  }
  recording::SetDirectory("");
  ASSERT_EQ(FilesIn(out).size(), 1u);
  const std::string f = ReadFile(name);
  ASSERT_GT(f.size(), 44u);
  const size_t n = f.size() - 44;
  EXPECT_EQ(Le32(f, 4), f.size() - 8);
  EXPECT_EQ(Le32(f, 40), n);
  EXPECT_EQ(f.substr(0, 44), std::string(tonvel::WaveHeader.begin(), tonvel::WaveHeader.end()));
  // Whole buffers from the one after the trigger-on tick up to the release
  // tick: they start within the first 100 ms of loud sound (plus the buffer
  // that was in flight) and include about 2.1 s of the silence.
  const std::string all(sound.begin(), sound.end());
  const size_t loud_from = 44100 / 5;
  size_t offset = std::string::npos;
  for (size_t at = 0; at + n <= all.size(); at += 2048)
    if (all.compare(at, n, f, 44, n) == 0) offset = at;
  ASSERT_NE(offset, std::string::npos) << "the samples are the source's, in order";
  EXPECT_GT(offset, loud_from - 2048);
  EXPECT_LE(offset, loud_from + 44100 / 10 + 2 * 2048);
  const double silence_s = static_cast<double>(offset + n - (loud_from + 3 * 44100)) / 44100;
  EXPECT_GT(silence_s, 2.0);
  EXPECT_LT(silence_s, 2.3);

  if (!HaveProgram("soxi")) GTEST_FAIL() << "soxi is not installed (make deps installs it)";
  const RunResult rate = testing::Run({"soxi", "-r", name});
  const RunResult bits = testing::Run({"soxi", "-b", name});
  const RunResult channels = testing::Run({"soxi", "-c", name});
  const RunResult samples = testing::Run({"soxi", "-s", name});
  EXPECT_EQ(rate.exit_code, 0) << rate.err;
  EXPECT_EQ(rate.out, "44100\n");
  EXPECT_EQ(bits.out, "8\n");
  EXPECT_EQ(channels.out, "1\n");
  EXPECT_EQ(samples.out, std::to_string(n) + "\n");
}

}  // namespace
}  // namespace velmora::testing
