// The pipeline with a real device thread: the file source plays WAV files
// made here as the microphone, and the GUI thread's loop runs the component.
// (Suite names carry "Concurrency": they also run under ThreadSanitizer.)
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/allocations/allocation_count.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/capture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"

namespace velmora::testing {
namespace {

using tonvel::TDTMF;

constexpr int kTimeoutMs = 20000;

// A file of whole buffers, each silent but for one peak byte.
std::vector<uint8_t> Buffers(const std::vector<uint8_t>& peak_bytes) {
  std::vector<uint8_t> all;
  for (uint8_t b : peak_bytes) {
    std::vector<uint8_t> one = BufferWithPeak(b);
    all.insert(all.end(), one.begin(), one.end());
  }
  return all;
}

// Runs the loop until the file source has delivered its last buffer, then
// handles what that last notification started.
bool RunUntilUsedUp() {
  bool done = host::Application().RunUntil([] { return platform::InputFinished(); }, kTimeoutMs);
  host::Application().ProcessMessages();
  return done;
}

TEST(CaptureConcurrency, FileBuffersArriveInOrderOnTheGuiThread) {
  TempDir dir;
  const std::string wav = dir.file("peaks.wav");
  const std::vector<uint8_t> peaks = {128, 0, 192, 255, 144, 176};
  WriteWav8(wav, Buffers(peaks));
  InputGuard input(FileInput(wav, true));

  std::vector<int32_t> levels;
  std::vector<std::thread::id> threads;
  TDTMF dtmf(nullptr);
  ASSERT_NE(tonvel::hwi2, nullptr);
  dtmf.GetTone = [&](host::TObject*, int32_t asum, double, double, double) {
    levels.push_back(asum);
    threads.push_back(std::this_thread::get_id());
  };
  dtmf.DataOsc = [&](host::TObject*, const tonvel::TYSeries&) {
    threads.push_back(std::this_thread::get_id());
  };
  ASSERT_TRUE(RunUntilUsedUp());
  EXPECT_EQ(levels, (std::vector<int32_t>{0, 100, 50, 99, 12, 38}));
  // The timer's events too come on the loop's thread.
  host::Application().RunFor(150);
  ASSERT_GT(threads.size(), levels.size());
  for (std::thread::id id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

// A handler that throws once: the exception reaches OnException and the
// buffer is queued again all the same, so capture goes on to the file's end.
TEST(CaptureConcurrency, AHandlerThatThrowsDoesNotStopCapture) {
  TempDir dir;
  const std::string wav = dir.file("throws.wav");
  WriteWav8(wav, Buffers({128, 0, 192, 255}));
  InputGuard input(FileInput(wav, true));
  std::vector<std::string> reported;
  host::Application().OnException = [&](host::TObject*, const std::exception& e) {
    reported.push_back(e.what());
  };
  std::vector<int32_t> levels;
  {
    TDTMF dtmf(nullptr);
    ASSERT_NE(tonvel::hwi2, nullptr);
    dtmf.GetTone = [&](host::TObject*, int32_t asum, double, double, double) {
      levels.push_back(asum);
      if (levels.size() == 2) throw std::runtime_error("handler failed");
    };
    EXPECT_TRUE(RunUntilUsedUp()) << "the file never reported its end";
  }
  host::Application().OnException = nullptr;
  EXPECT_EQ(levels, (std::vector<int32_t>{0, 100, 50, 99}));
  EXPECT_EQ(reported, (std::vector<std::string>{"handler failed"}));
}

TEST(CaptureConcurrency, GateStopsCaptureAfterABufferOfOneByte) {
  TempDir dir;
  // One full buffer, then a last buffer of one byte: it comes back, is not
  // processed and not queued again.
  std::vector<uint8_t> bytes = Buffers({192});
  bytes.push_back(0);
  const std::string one = dir.file("one.wav");
  WriteWav8(one, bytes);
  {
    InputGuard input(FileInput(one, true));
    int tones = 0;
    TDTMF dtmf(nullptr);
    dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) { ++tones; };
    ASSERT_TRUE(RunUntilUsedUp());
    EXPECT_EQ(tones, 1);
    EXPECT_EQ(tonvel::GLVAL, 50);
    EXPECT_EQ(tonvel::adr2.dwBytesRecorded, 1u);
    EXPECT_EQ(tonvel::adr2.dwFlags, 3u) << "not queued again";
  }
  // Two bytes are processed and queued again (and then wait for sound that
  // never comes).
  bytes.push_back(0);
  const std::string two = dir.file("two.wav");
  WriteWav8(two, bytes);
  {
    InputGuard input(FileInput(two, true));
    int tones = 0;
    TDTMF dtmf(nullptr);
    dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) { ++tones; };
    ASSERT_TRUE(RunUntilUsedUp());
    EXPECT_EQ(tones, 2);
    EXPECT_EQ(tonvel::GLVAL, 100);
    EXPECT_EQ(tonvel::inwav.y.size(), 2u);
    EXPECT_EQ(tonvel::adr2.dwFlags, platform::WHDR_PREPARED | platform::WHDR_INQUEUE);
  }
}

TEST(CaptureConcurrency, PausedInputKeepsCirculatingWithoutEvents) {
  TempDir dir;
  const std::string wav = dir.file("pause.wav");
  WriteWav8(wav, Buffers({192, 0, 0, 0, 0, 0, 0, 0}));
  InputGuard input(FileInput(wav, true));
  int tones = 0;
  TDTMF dtmf(nullptr);
  dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) {
    ++tones;
    dtmf.set_StartRealTime(false);
  };
  // The file is used up only if every unprocessed buffer went back to the
  // device.
  ASSERT_TRUE(RunUntilUsedUp());
  EXPECT_EQ(tones, 1);
  EXPECT_EQ(tonvel::GLVAL, 50);
  EXPECT_EQ(tonvel::inwav.y[100], 64.0);
}

TEST(CaptureConcurrency, DestructionClosesTheInputAlsoWhenPaused) {
  TempDir dir;
  const std::string wav = dir.file("long.wav");
  WriteWav8(wav, std::vector<uint8_t>(44100 * 5, 128));
  InputGuard input(FileInput(wav, false));  // real time: the input stays busy
  for (bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "paused" : "processing");
    auto dtmf = std::make_unique<TDTMF>(nullptr);
    platform::HWAVEIN device = tonvel::hwi2;
    ASSERT_NE(device, nullptr);
    host::Application().RunFor(120);
    if (paused) dtmf->set_StartRealTime(false);
    dtmf.reset();
    EXPECT_EQ(tonvel::hwi2, nullptr);
    EXPECT_EQ(tonvel::fwnd, 0u);
    EXPECT_EQ(platform::waveInReset(device), platform::MMSYSERR_INVALHANDLE)
        << "the device is closed";
    // Notifications still on their way are dropped with the window.
    host::Application().RunFor(60);
  }
}

TEST(CaptureConcurrency, SteadyStatePipelineAllocatesNothingPerBuffer) {
  TempDir dir;
  const std::string wav = dir.file("steady.wav");
  std::vector<uint8_t> peaks(40);
  for (size_t i = 0; i < peaks.size(); ++i) peaks[i] = static_cast<uint8_t>(100 + i);
  WriteWav8(wav, Buffers(peaks));
  InputGuard input(FileInput(wav, true));
  TDTMF dtmf(nullptr);
  // A completed block of random bits formats its statistics lines: that is
  // work per block, not per buffer, so no block completes in this run.
  dtmf.set_GenRandom_NoiseSoundCard_BufSize(1 << 30);
  int tones = 0;
  dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) {
    // From the end of the first buffer on, count what this thread allocates.
    if (++tones == 1) CountAllocations(true);
  };
  dtmf.DataOsc = [](host::TObject*, const tonvel::TYSeries&) {};
  dtmf.Spektra = [](host::TObject*, const tonvel::TXYSeries&, double) {};
  const std::function<bool()> used_up = [] { return platform::InputFinished(); };
  ResetAllocationCount();
  const bool done = host::Application().RunUntil(used_up, kTimeoutMs);
  host::Application().ProcessMessages();
  CountAllocations(false);
  ASSERT_TRUE(done);
  EXPECT_EQ(tones, 40);
  EXPECT_EQ(CountedAllocations(), 0) << "allocations after the first buffer";
}

}  // namespace
}  // namespace velmora::testing
