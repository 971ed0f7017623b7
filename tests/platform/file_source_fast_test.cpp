// The file source in fast mode with a posted or event notification: a
// buffer queued on its own is filled by waveInAddBuffer itself, with the
// bytes and counts the device thread gives (at the file's own format and
// converted), and resets and restarts from another thread neither lose nor
// repeat a byte nor reorder the notifications.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "tests/platform/wave_helpers.h"
#include "tests/support/support.h"
#include "velmora/platform/event.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {
namespace {

using namespace platform;
using std::chrono::milliseconds;
constexpr uint32_t kHdr = sizeof(WAVEHDR);

// What one capture gave: every buffer's bytes in order, and its count.
struct Take {
  std::string bytes;
  std::vector<uint32_t> counts;
  bool operator==(const Take&) const = default;
};

// Window messages go to `notes` through the installed poster, which also
// notes whether every post came from the thread that queued the buffer.
class PostedNotes {
 public:
  PostedNotes() {
    SetWindowMessagePoster([this](uintptr_t, uint32_t msg, uintptr_t, intptr_t lparam) {
      if (msg == MM_WIM_DATA && std::this_thread::get_id() != queuing_thread_) ++foreign_;
      notes.Add(msg, static_cast<uintptr_t>(lparam));
      return true;
    });
  }
  ~PostedNotes() { SetWindowMessagePoster(nullptr); }
  PostedNotes(const PostedNotes&) = delete;
  PostedNotes& operator=(const PostedNotes&) = delete;

  int foreign() const { return foreign_; }
  Notes notes;

 private:
  std::thread::id queuing_thread_ = std::this_thread::get_id();
  std::atomic<int> foreign_{0};
};

// One buffer of `size` bytes, queued again each time it comes back, until
// the file is used up.  kind: CALLBACK_FUNCTION (the device thread fills
// it), CALLBACK_WINDOW or CALLBACK_EVENT (filled at once when queued).
Take CaptureOneBuffer(const WAVEFORMATEX& f, size_t size, uint32_t kind) {
  Take take;
  Notes function_notes;
  std::unique_ptr<PostedNotes> posted;
  HEVENT event = nullptr;
  uintptr_t callback = 0;
  uintptr_t instance = 0;
  if (kind == CALLBACK_FUNCTION) {
    callback = Notes::InputProc();
    instance = function_notes.instance();
  } else if (kind == CALLBACK_WINDOW) {
    posted = std::make_unique<PostedNotes>();
    callback = 99;
  } else {
    event = CreateEvent(false, false);
    callback = reinterpret_cast<uintptr_t>(event);
  }
  HWAVEIN in = nullptr;
  EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, callback, instance, kind), MMSYSERR_NOERROR)
      << LastDeviceError();
  if (!in) return take;
  Buffers b(1, size);
  WAVEHDR& h = b.headers[0];
  EXPECT_EQ(waveInPrepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInStart(in), MMSYSERR_NOERROR);  // before the buffer, as the component does
  Notes& notes = posted ? posted->notes : function_notes;
  if (kind == CALLBACK_EVENT) {
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // opened
  } else {
    EXPECT_EQ(notes.Next()->msg, MM_WIM_OPEN);
  }
  for (int guard = 0; guard < 100000; ++guard) {
    EXPECT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
    if (kind == CALLBACK_FUNCTION) {
      // Once the file is used up, a buffer queued again stays queued.
      WAVEHDR* done = nullptr;
      for (int round = 0; !done && round < 100; ++round) {
        done = notes.NextBuffer(MM_WIM_DATA, milliseconds(100));
        if (!done && round >= 2 && InputFinished()) break;
      }
      if (!done) break;
      EXPECT_EQ(done, &h);
    } else {
      // Filled before waveInAddBuffer returned, and already notified.
      if (InputFinished() && !(h.dwFlags & WHDR_DONE)) break;
      EXPECT_EQ(h.dwFlags, WHDR_DONE | WHDR_PREPARED);
      if (kind == CALLBACK_WINDOW) {
        WAVEHDR* done = notes.NextBuffer(MM_WIM_DATA, milliseconds(0));
        EXPECT_EQ(done, &h);
      } else {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
      }
    }
    take.bytes.append(h.lpData, h.dwBytesRecorded);
    take.counts.push_back(h.dwBytesRecorded);
  }
  EXPECT_TRUE(InputFinished());
  // (The reset's own notice comes from the device thread.)
  if (posted) {
    EXPECT_EQ(posted->foreign(), 0) << "every buffer notified by its queuing thread";
  }
  EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInUnprepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  if (event) CloseHandle(event);
  return take;
}

class FileSourceFastConcurrency : public ::testing::Test {
 protected:
  void TearDown() override { ResetDeviceChoice(); }
  TempDir dir_;
};

TEST_F(FileSourceFastConcurrency, ABufferQueuedAloneIsFilledAtOnceWithTheSameBytes) {
  std::mt19937 random(3);
  std::string noise(7000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string long_noise(150000, '\0');
  for (char& c : long_noise) c = static_cast<char>(random());
  struct Case {
    const char* what;
    std::string file;
    WAVEFORMATEX opened;
    size_t buffer;
  };
  const Case cases[] = {
      {"the capture format itself", WavBytes(44100, 1, 8, noise), Pcm(44100, 1, 8), 2048},
      {"16-bit stereo at 22050 Hz, resampled",
       WavBytes(22050, 2, 16, SineBytes(22050, 2, 16, 697, 0.6, 5001)), Pcm(44100, 1, 8), 2048},
      {"16-bit stereo at the same rate", WavBytes(44100, 2, 16, noise), Pcm(44100, 1, 8), 2048},
      {"a buffer larger than a device read", WavBytes(44100, 1, 8, long_noise), Pcm(44100, 1, 8),
       70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_.file("in.wav");
    WriteFile(path, c.file);
    ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
    const Take by_device_thread = CaptureOneBuffer(c.opened, c.buffer, CALLBACK_FUNCTION);
    ASSERT_GE(by_device_thread.counts.size(), 1u);
    EXPECT_LT(by_device_thread.counts.back(), c.buffer) << "the last buffer is a partial one";
    for (size_t i = 0; i + 1 < by_device_thread.counts.size(); ++i)
      ASSERT_EQ(by_device_thread.counts[i], c.buffer);
    ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
    EXPECT_TRUE(CaptureOneBuffer(c.opened, c.buffer, CALLBACK_WINDOW) == by_device_thread);
    ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
    EXPECT_TRUE(CaptureOneBuffer(c.opened, c.buffer, CALLBACK_EVENT) == by_device_thread);
  }
  // At the file's own format the bytes are the file's.
  WriteFile(dir_.file("in.wav"), cases[0].file);
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, dir_.file("in.wav"), true}));
  EXPECT_EQ(CaptureOneBuffer(Pcm(44100, 1, 8), 2048, CALLBACK_WINDOW).bytes, noise);
}

TEST_F(FileSourceFastConcurrency, ResetsFromAnotherThreadLoseRepeatAndReorderNothing) {
  std::mt19937 random(5);
  std::string data(300000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  const std::string path = dir_.file("long.wav");
  WriteFile(path, WavBytes(44100, 1, 8, data));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
  PostedNotes posted;
  Notes& notes = posted.notes;
  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, 99, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.Next()->msg, MM_WIM_OPEN);
  // Two buffers: queued together before the start (the device thread fills
  // them), then each on its own as it comes back (filled at once), unless a
  // reset has stopped the input meanwhile.
  Buffers b(2, 2048);
  for (auto& h : b.headers) {
    ASSERT_EQ(waveInPrepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);

  std::atomic<bool> stop{false};
  std::thread disturber([&] {
    std::mt19937 pause(9);
    while (!stop) {
      std::this_thread::sleep_for(std::chrono::microseconds(pause() % 400));
      waveInReset(in);  // every queued buffer comes back, with what it holds
      waveInStart(in);
    }
  });
  struct JoinOnExit {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~JoinOnExit() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } join_on_exit{stop, disturber};
  std::string got;
  int queued = 2;
  int returned = 0;
  for (;;) {
    if (InputFinished() && !stop) {
      // No more resets: what is queued from now on stays queued.
      stop = true;
      disturber.join();
    }
    auto note = notes.Next(milliseconds(300));
    if (!note) {
      if (stop) break;
      continue;
    }
    ASSERT_EQ(note->msg, MM_WIM_DATA);
    auto* h = reinterpret_cast<WAVEHDR*>(note->param);
    ++returned;
    EXPECT_EQ(h->dwFlags, WHDR_DONE | WHDR_PREPARED);
    got.append(h->lpData, h->dwBytesRecorded);
    ASSERT_EQ(waveInAddBuffer(in, h, kHdr), MMSYSERR_NOERROR);
    ++queued;
  }
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  for (auto& h : b.headers) ASSERT_EQ(waveInUnprepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  // What the last reset returned, then the close, last of all.
  for (;;) {
    auto note = notes.Next(milliseconds(2000));
    ASSERT_TRUE(note.has_value());
    if (note->msg == MM_WIM_CLOSE) break;
    ASSERT_EQ(note->msg, MM_WIM_DATA);
    ++returned;
    got.append(reinterpret_cast<WAVEHDR*>(note->param)->lpData,
               reinterpret_cast<WAVEHDR*>(note->param)->dwBytesRecorded);
  }
  EXPECT_FALSE(notes.Next(milliseconds(100)).has_value());
  EXPECT_EQ(returned, queued) << "every queued buffer came back once";
  EXPECT_TRUE(got == data) << "got " << got.size() << " bytes of " << data.size();
}

}  // namespace
}  // namespace velmora::testing
