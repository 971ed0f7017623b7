// The table of operations behind which every wave back end sits.  A back end
// is one file that defines its streams file-locally and exports one
// `Backend` record; `Backends()` lists them in order of preference.
//
// Threads: a device object (input_device.h, output_device.h) owns one device
// thread that alone calls Read or Write on its stream; Start, Stop, Pause,
// Resume and Flush come from the application's threads and may run at the
// same time as a Read or Write in progress.  Streams are destroyed after the
// device thread has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "velmora/platform/wave.h"
#include "velmora/platform/wave/pcm.h"
#include "velmora/platform/wave/timing.h"

namespace velmora::platform::wave {

// Why an open failed: the code returned to the caller and one line naming the
// device or file and the reason (kept for LastDeviceError()).
struct OpenError {
  MMRESULT code = MMSYSERR_NOERROR;
  std::string text;
};

// Sound coming from a device, already in the format it was opened with.
class CaptureStream {
 public:
  virtual ~CaptureStream() = default;
  // The most bytes a Read is asked for: small enough that a buffer fills in
  // steps and a reset finds a recent partial buffer.
  virtual size_t ChunkBytes() const = 0;
  // Capture begins (waveInStart) or pauses (waveInStop, waveInReset).
  virtual MMRESULT Start() = 0;
  virtual void Stop() = 0;
  // Waits for sound and copies up to `size` bytes (whole frames) to `dst`.
  // Returns the count; 0 when `waiter` was interrupted or the sound ended.
  // Must not consume sound it does not return.
  virtual size_t Read(uint8_t* dst, size_t size, Waiter& waiter) = 0;
  // True once the source has no more sound to give (the end of a file).
  virtual bool Ended() const { return false; }
  // True when Read never waits (a file played as fast as it is consumed):
  // the device may then fill a buffer on the thread that queues it, with
  // no hand-off to the device thread.
  virtual bool ReadsWithoutWaiting() const { return false; }
};

// Sound going to a device, in the format it was opened with.
class PlaybackStream {
 public:
  virtual ~PlaybackStream() = default;
  virtual size_t ChunkBytes() const = 0;
  // Plays `size` bytes (whole frames): returns once they have been consumed,
  // at the pace of the device.  Returns the count consumed; fewer when
  // `waiter` was interrupted.
  virtual size_t Write(const uint8_t* src, size_t size, Waiter& waiter) = 0;
  // waveOutPause / waveOutRestart: the device stops or resumes consuming.
  virtual void Pause() {}
  virtual void Resume() {}
  // waveOutReset: what was accepted but not yet heard is dropped.
  virtual void Flush() {}
  // The device has nothing more to play for now (its queue ran empty, or it
  // was paused or reset); the next Write starts a new stretch of sound.
  virtual void Idle() {}
  // waveOutClose: lets what was accepted finish playing before the stream
  // is destroyed (a device that stops at once would cut the sound).
  virtual void Drain() {}
};

struct Backend {
  DeviceKind kind;
  const char* name;
  // Devices available now; 0 when the back end has none or is not installed
  // here ("not installed" is an answer, not an error).
  uint32_t (*input_count)(const InputChoice& choice);
  uint32_t (*output_count)(const OutputChoice& choice);
  // Opens device `index` (0 = the default device) with `format`, already
  // checked to be a format that devices accept.  nullptr with `error` set
  // when it cannot.  nullptr functions: the back end has no such direction.
  std::unique_ptr<CaptureStream> (*open_input)(const InputChoice& choice, uint32_t index,
                                               const PcmFormat& format, OpenError& error);
  std::unique_ptr<PlaybackStream> (*open_output)(const OutputChoice& choice, uint32_t index,
                                                 const PcmFormat& format, OpenError& error);
  // Whether the back end offers a default device for the automatic choice;
  // nullptr = it is used only when chosen.
  bool (*has_default_input)();
  bool (*has_default_output)();
};

extern const Backend kPortAudioBackend;
extern const Backend kLoopbackBackend;
extern const Backend kFileSourceBackend;
extern const Backend kFileSinkBackend;
extern const Backend kNoneBackend;

// Every back end, in order of preference for the automatic choice.
std::span<const Backend* const> Backends();
const Backend& BackendFor(DeviceKind kind);

// Records the reason of the latest failed open (see LastDeviceError).
void SetLastDeviceError(std::string text);

// The file source announces that the input it serves has delivered its last
// sample (see InputFinished); `device` identifies the input.
void NoteInputFinished(const void* device);
void NoteInputOpened(const void* device);

}  // namespace velmora::platform::wave
