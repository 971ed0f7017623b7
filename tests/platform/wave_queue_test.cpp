// Queue semantics, result codes and notifications of the wave calls, on the
// virtual devices (the file source in fast mode gives a deterministic input;
// the loopback a real-time output).

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "tests/platform/wave_helpers.h"
#include "tests/support/support.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {
namespace {

using namespace platform;
constexpr uint32_t kHdr = sizeof(WAVEHDR);

std::string Pattern(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + 3) % 251);
  return s;
}

class WaveQueueConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = Pattern(5000);
    path_ = dir_.file("in.wav");
    WriteFile(path_, WavBytes(44100, 1, 8, data_));
    ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path_, true}));
    ASSERT_TRUE(SetDefaultOutput({DeviceKind::Loopback, ""}));
  }
  void TearDown() override { ResetDeviceChoice(); }

  TempDir dir_;
  std::string data_, path_;
};

TEST_F(WaveQueueConcurrency, InputHeaderFlagsFollowTheQueue) {
  Notes notes;
  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, Notes::InputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR);
  ASSERT_NE(in, nullptr);
  auto open = notes.Next();
  ASSERT_TRUE(open);
  EXPECT_EQ(open->msg, MM_WIM_OPEN);

  Buffers b(4, 2048);
  WAVEHDR& h = b.headers[0];
  h.dwFlags = WHDR_BEGINLOOP;  // what the tone component sets before preparing
  EXPECT_EQ(waveInAddBuffer(in, &h, kHdr), WAVERR_UNPREPARED);
  ASSERT_EQ(waveInPrepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  EXPECT_EQ(h.dwFlags, WHDR_PREPARED);
  ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  EXPECT_EQ(h.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
  EXPECT_EQ(waveInAddBuffer(in, &h, kHdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInUnprepareHeader(in, &h, kHdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);

  // Nothing is captured before the start.
  EXPECT_FALSE(notes.Next(std::chrono::milliseconds(100)));
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &h);
  EXPECT_EQ(h.dwFlags, WHDR_DONE | WHDR_PREPARED);  // exactly 3
  EXPECT_EQ(h.dwBytesRecorded, 2048u);
  EXPECT_EQ(std::string(h.lpData, 2048), data_.substr(0, 2048));

  // Re-queued: the next part of the file.
  ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &h);
  EXPECT_EQ(std::string(h.lpData, h.dwBytesRecorded), data_.substr(2048, 2048));

  // The last partial buffer comes back with its real count, then nothing.
  ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  WAVEHDR& later = b.headers[1];
  ASSERT_EQ(waveInPrepareHeader(in, &later, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInAddBuffer(in, &later, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &h);
  EXPECT_EQ(h.dwBytesRecorded, 5000u - 4096u);
  EXPECT_EQ(std::string(h.lpData, h.dwBytesRecorded), data_.substr(4096));
  EXPECT_FALSE(notes.Next(std::chrono::milliseconds(150)));
  for (int i = 0; i < 500 && !InputFinished(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(InputFinished());

  // Reset returns the buffer still queued, empty and done.
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &later);
  EXPECT_EQ(later.dwFlags, WHDR_DONE | WHDR_PREPARED);
  EXPECT_EQ(later.dwBytesRecorded, 0u);

  EXPECT_EQ(waveInUnprepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  EXPECT_EQ(h.dwFlags & WHDR_PREPARED, 0u);
  EXPECT_EQ(waveInUnprepareHeader(in, &later, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  auto close = notes.Next();
  ASSERT_TRUE(close);
  EXPECT_EQ(close->msg, MM_WIM_CLOSE);
  // The handle is gone.
  EXPECT_EQ(waveInStart(in), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveQueueConcurrency, InputResetReturnsEveryBufferInQueueOrder) {
  ASSERT_TRUE(SetDefaultInput({DeviceKind::Loopback, "", false}));
  Notes notes;
  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(8000, 1, 8);
  ASSERT_EQ(waveInOpen(&in, 0, &f, Notes::InputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR);
  ASSERT_EQ(notes.Next()->msg, MM_WIM_OPEN);
  Buffers b(3, 8000);  // a second each: none fills during the test
  for (auto& h : b.headers) {
    ASSERT_EQ(waveInPrepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  for (auto& h : b.headers) {
    ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &h);
    EXPECT_EQ(h.dwFlags, WHDR_DONE | WHDR_PREPARED);
    EXPECT_LT(h.dwBytesRecorded, 8000u);
  }
  // What the first buffer got so far is silence from the idle loopback.
  const WAVEHDR& first = b.headers[0];
  EXPECT_EQ(std::string(first.lpData, first.dwBytesRecorded),
            std::string(first.dwBytesRecorded, '\x80'));
  EXPECT_EQ(b.headers[2].dwBytesRecorded, 0u);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WaveQueueConcurrency, OutputBuffersComeBackInQueueOrder) {
  Notes notes;
  HWAVEOUT out = nullptr;
  WAVEFORMATEX f = Pcm(8000, 1, 8);
  ASSERT_EQ(waveOutOpen(&out, 0, &f, Notes::OutputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR);
  ASSERT_EQ(notes.Next()->msg, MM_WOM_OPEN);
  Buffers b(4, 400);  // 50 ms each
  EXPECT_EQ(waveOutWrite(out, &b.headers[0], kHdr), WAVERR_UNPREPARED);
  for (auto& h : b.headers) ASSERT_EQ(waveOutPrepareHeader(out, &h, kHdr), MMSYSERR_NOERROR);
  for (auto& h : b.headers) ASSERT_EQ(waveOutWrite(out, &h, kHdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
  for (auto& h : b.headers) {
    ASSERT_EQ(notes.NextBuffer(MM_WOM_DONE), &h);
    EXPECT_EQ(h.dwFlags, WHDR_DONE | WHDR_PREPARED);
  }

  // Paused, a buffer waits; restarted, it plays.
  ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  EXPECT_FALSE(notes.Next(std::chrono::milliseconds(200)));
  ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.NextBuffer(MM_WOM_DONE), &b.headers[0]);

  // Reset returns the queue in order without playing it.
  Buffers slow(2, 16000);  // 2 s each
  for (auto& h : slow.headers) {
    ASSERT_EQ(waveOutPrepareHeader(out, &h, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &h, kHdr), MMSYSERR_NOERROR);
  }
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
  for (auto& h : slow.headers) ASSERT_EQ(notes.NextBuffer(MM_WOM_DONE), &h);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (auto& h : slow.headers) EXPECT_EQ(h.dwFlags, WHDR_DONE | WHDR_PREPARED);

  for (auto& h : b.headers) EXPECT_EQ(waveOutUnprepareHeader(out, &h, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.Next()->msg, MM_WOM_CLOSE);
  EXPECT_EQ(waveOutReset(out), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveQueueConcurrency, CallsCheckHandlesSizesFormatsAndDevices) {
  // Handles that were never opened.
  WAVEHDR h{};
  EXPECT_EQ(waveInStart(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInAddBuffer(reinterpret_cast<HWAVEIN>(uintptr_t{0x1234}), &h, kHdr),
            MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutWrite(nullptr, &h, kHdr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutClose(reinterpret_cast<HWAVEOUT>(uintptr_t{0x1234})), MMSYSERR_INVALHANDLE);

  HWAVEOUT out = nullptr;
  WAVEFORMATEX f = Pcm(22050, 1, 8);
  ASSERT_EQ(waveOutOpen(&out, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  std::vector<char> mem(100);
  h.lpData = mem.data();
  h.dwBufferLength = 100;
  EXPECT_EQ(waveOutPrepareHeader(out, &h, kHdr - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(out, &h, 32), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(out, nullptr, kHdr), MMSYSERR_INVALPARAM);
  EXPECT_EQ(h.dwFlags, 0u);
  EXPECT_EQ(waveOutWrite(out, &h, kHdr + 1), MMSYSERR_INVALPARAM);
  WAVEHDR empty{};
  EXPECT_EQ(waveOutPrepareHeader(out, &empty, kHdr), MMSYSERR_INVALPARAM);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPrepareHeader(out, &h, kHdr), MMSYSERR_INVALHANDLE);

  // Formats: PCM, 8 or 16 bits, 1 or 2 channels, 8000..192000 Hz.
  auto query = [](WAVEFORMATEX g) {
    return waveOutOpen(nullptr, WAVE_MAPPER, &g, 0, 0, WAVE_FORMAT_QUERY);
  };
  EXPECT_EQ(query(Pcm(8000, 1, 8)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(Pcm(192000, 2, 16)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(Pcm(7999, 1, 8)), WAVERR_BADFORMAT);
  EXPECT_EQ(query(Pcm(192001, 1, 8)), WAVERR_BADFORMAT);
  EXPECT_EQ(query(Pcm(44100, 3, 16)), WAVERR_BADFORMAT);
  EXPECT_EQ(query(Pcm(44100, 1, 24)), WAVERR_BADFORMAT);
  WAVEFORMATEX g = Pcm(44100, 1, 16);
  g.wFormatTag = 3;
  EXPECT_EQ(query(g), WAVERR_BADFORMAT);
  g = Pcm(44100, 2, 16);
  g.nBlockAlign = 2;
  EXPECT_EQ(query(g), WAVERR_BADFORMAT);
  g = Pcm(44100, 1, 8);
  g.nAvgBytesPerSec = 88200;  // stated wrongly, as the sine generator's 8-bit open does
  EXPECT_EQ(query(g), MMSYSERR_NOERROR);
  EXPECT_NE(LastDeviceError(), "");
  EXPECT_EQ(waveInOpen(nullptr, 0, &f, 0, 0, 0), MMSYSERR_INVALPARAM);
  HWAVEIN in = nullptr;
  EXPECT_EQ(waveInOpen(&in, 0, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(&in, 0, &f, 0, 0, 0x20000), MMSYSERR_INVALPARAM);

  // Devices: a virtual back end has one; the mapper and 0 both open it.
  EXPECT_EQ(waveInGetNumDevs(), 1u);
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  EXPECT_EQ(waveOutOpen(&out, 1, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(LastDeviceError().find("device 1"), std::string::npos);
  EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(LastDeviceError(), "");
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);

  // "None": no devices, opens fail with a reason.
  ASSERT_TRUE(SetDefaultInput({DeviceKind::None, "", false}));
  ASSERT_TRUE(SetDefaultOutput({DeviceKind::None, ""}));
  EXPECT_EQ(waveInGetNumDevs(), 0u);
  EXPECT_EQ(waveOutGetNumDevs(), 0u);
  EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(&out, 0, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
  EXPECT_NE(LastDeviceError().find("no sound output"), std::string::npos);

  // A choice of the wrong direction is refused and changes nothing.
  EXPECT_FALSE(SetDefaultInput({DeviceKind::FileSink, "x.wav", false}));
  EXPECT_FALSE(SetDefaultOutput({DeviceKind::FileSource, "x.wav"}));
  EXPECT_EQ(DefaultInput().kind, DeviceKind::None);
}

TEST_F(WaveQueueConcurrency, EventIsSignalledOnOpenEachBlockAndClose) {
  HEVENT event = CreateEvent(false, false);
  HWAVEOUT out = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 16);
  ASSERT_EQ(
      waveOutOpen(&out, WAVE_MAPPER, &f, reinterpret_cast<uintptr_t>(event), 0, CALLBACK_EVENT),
      MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // opened
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);   // auto-reset

  // Three 100 ms blocks, as the sine generator queues them.
  Buffers b(3, 8820);
  for (auto& h : b.headers) {
    ASSERT_EQ(waveOutPrepareHeader(out, &h, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &h, kHdr), MMSYSERR_NOERROR);
  }
  for (auto& h : b.headers) {
    // Unprepare is refused while the block is queued; it reads the queue
    // under the device's own lock.
    while (waveOutUnprepareHeader(out, &h, kHdr) == WAVERR_STILLPLAYING)
      ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(h.dwFlags & WHDR_DONE);
  }
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);  // closed
  // An event closed while a device still signals it does no harm.
  ASSERT_EQ(waveOutOpen(&out, 0, &f, reinterpret_cast<uintptr_t>(event), 0, CALLBACK_EVENT),
            MMSYSERR_NOERROR);
  EXPECT_TRUE(CloseHandle(event));
  ASSERT_EQ(waveOutPrepareHeader(out, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(WaveQueueConcurrency, WindowNotificationsGoThroughThePoster) {
  struct Posted {
    uintptr_t hwnd;
    uint32_t msg;
    uintptr_t wparam;
    intptr_t lparam;
  };
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Posted> posted;
  SetWindowMessagePoster([&](uintptr_t hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    std::lock_guard lock(mutex);
    posted.push_back({hwnd, msg, wparam, lparam});
    cv.notify_all();
    return true;
  });
  auto wait_for = [&](size_t n) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return posted.size() >= n; });
  };

  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, 77, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  Buffers b(1, 1000);
  ASSERT_EQ(waveInPrepareHeader(in, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);  // start before add, as the component does
  ASSERT_EQ(waveInAddBuffer(in, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_TRUE(wait_for(2));
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInUnprepareHeader(in, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  ASSERT_TRUE(wait_for(3));

  // Window 0 is "no window": nothing is posted.
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, 0, &f, 0, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  SetWindowMessagePoster(nullptr);

  std::lock_guard lock(mutex);
  ASSERT_EQ(posted.size(), 3u);
  auto handle = reinterpret_cast<uintptr_t>(in);
  EXPECT_EQ(posted[0].msg, MM_WIM_OPEN);
  EXPECT_EQ(posted[1].msg, MM_WIM_DATA);
  EXPECT_EQ(posted[1].lparam, reinterpret_cast<intptr_t>(&b.headers[0]));
  EXPECT_EQ(posted[2].msg, MM_WIM_CLOSE);
  for (const auto& p : posted) {
    EXPECT_EQ(p.hwnd, 77u);
    EXPECT_EQ(p.wparam, handle);
  }
  EXPECT_EQ(b.headers[0].dwBytesRecorded, 1000u);
}

}  // namespace
}  // namespace velmora::testing
