// An open wave input: the queue of buffers that the device thread fills from
// a capture stream.
//
// Filling at once: when the stream never waits (a file in fast mode) and
// notifying cannot run the owner's code (a window message or an event),
// a buffer queued while the input runs with nothing else queued, read or
// awaiting notification is filled by waveInAddBuffer itself, on the
// caller's thread, and its notification is posted from there.  The owner
// still learns of it only through the posted message or the event, never
// by a call from inside waveInAddBuffer; what it saves is the hand-off to
// the device thread and back for every buffer.  Anything else (buffers
// queued before waveInStart, several in the queue, a function callback)
// goes through the device thread as before, and the order of notifications
// stays the order of completion.
#pragma once

#include <memory>
#include <vector>

#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/device_core.h"

namespace velmora::platform {

struct WaveInObject final : wave::DeviceCore {
 public:
  WaveInObject(std::unique_ptr<wave::CaptureStream> stream, const wave::PcmFormat& format,
               const wave::Notifier& notifier);
  ~WaveInObject() override;

  // Starts the device thread; called once the handle has been handed out.
  void Launch();
  void NotifyOpen() const { Notify(MM_WIM_OPEN, 0); }

  MMRESULT Prepare(WAVEHDR* header);
  MMRESULT Unprepare(WAVEHDR* header) { return UnprepareHeader(header); }
  MMRESULT Add(WAVEHDR* header);
  MMRESULT Start();
  MMRESULT Stop();
  MMRESULT Reset();
  MMRESULT Close();

 private:
  void Run();
  bool Ready() const { return started_ && head_ && !ended_; }
  // Whether `header`, just queued, may be filled at once (lock held).
  bool FillsHereLocked(const WAVEHDR* header) const;
  // Fills the head of the queue from the stream, completes it (or leaves
  // it queued when the stream gave too little) and notifies.
  void FillHereLocked(std::unique_lock<std::mutex>& lock);
  // Copies pending sound into the queued buffers, completing full ones.
  void DistributeLocked();
  void AfterNotify() override;

  std::unique_ptr<wave::CaptureStream> stream_;
  const bool fill_here_;  // the stream never waits and notifying runs no owner code
  bool started_ = false;
  bool reading_ = false;       // the device thread is in stream_->Read
  bool source_ended_ = false;  // the stream has no more sound
  bool ended_ = false;         // ... and everything it gave has been delivered
  std::vector<uint8_t> scratch_;
  size_t pending_offset_ = 0;  // sound read but not yet in a buffer
  size_t pending_length_ = 0;
};

}  // namespace velmora::platform
