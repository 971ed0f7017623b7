// What input and output devices share: the queue of headers, the header
// checks, the device thread and the hand-off of notifications.
//
// Locking: one mutex per device guards the queue and every header field
// that the device changes.  The device thread drops it while it waits for
// sound (Read/Write) and while it notifies, so application calls never wait
// for the sound card, and no notification is made with the lock held.
//
// Order of notifications: buffers completed by the device thread and by
// reset/stop calls all go through one list, emptied by one thread at a time
// (`notify_busy_`), so buffers are notified in the order they were
// completed.  The device thread empties it; an input that fills a buffer on
// the thread that queues it (input_device.h) notifies that buffer itself,
// and only when nothing else is waiting to be notified.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "velmora/platform/wave.h"
#include "velmora/platform/wave/notifier.h"
#include "velmora/platform/wave/pcm.h"
#include "velmora/platform/wave/timing.h"

namespace velmora::platform::wave {

class DeviceCore {
 public:
  DeviceCore(const DeviceCore&) = delete;
  DeviceCore& operator=(const DeviceCore&) = delete;

  const PcmFormat& format() const { return format_; }

 protected:
  DeviceCore(const PcmFormat& format, const Notifier& notifier, uint32_t done_message);
  virtual ~DeviceCore();

  // Header checks shared by both directions; each takes the lock.
  // `clear_on_prepare` are flag bits that have no meaning for this direction.
  MMRESULT PrepareHeader(WAVEHDR* header, uint32_t clear_on_prepare);
  MMRESULT UnprepareHeader(WAVEHDR* header);
  // Appends a prepared header to the queue (lock held by the caller).
  // `wake_device` false: the caller deals with the header itself and the
  // device thread need not look (waking it costs a thread switch).
  MMRESULT EnqueueLocked(WAVEHDR* header, bool wake_device = true);
  // Removes the head of the queue, marks it done and lists it for
  // notification (lock held).
  void CompleteHeadLocked(bool wake_device = true);
  // Notifies what was completed, dropping the lock while it does.  Returns
  // true when it notified anything; false also when another thread is
  // notifying (that thread wakes the device thread when it is done).
  bool NotifyCompletedLocked(std::unique_lock<std::mutex>& lock);
  // Nothing is waiting to be notified and nobody is notifying (lock held).
  bool NotifyIdleLocked() const {
    return completed_.empty() && !after_notify_pending_ && !notify_busy_;
  }
  // Lock held: waits until no other thread is notifying.
  void WaitNotifyIdleLocked(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return !notify_busy_; });
  }
  // Starts `body` on the device thread / ends it.  Ending sets `closing_`,
  // interrupts any wait and joins.
  template <class F>
  void StartThread(F body) {
    thread_ = std::thread(body);
  }
  void EndThread();
  // waveInClose/waveOutClose: refused from a callback of this device, on a
  // closed handle, and while buffers are queued; otherwise refuses every
  // later call, ends the device thread, lets `end_stream` finish the sound
  // stream (stop or drain) and notifies `close_message`.
  template <class F>
  MMRESULT CloseDevice(uint32_t close_message, F end_stream) {
    if (OnDeviceThread()) return MMSYSERR_ERROR;  // a callback cannot close its own device
    {
      std::lock_guard lock(mutex_);
      if (closing_) return MMSYSERR_INVALHANDLE;
      if (head_) return WAVERR_STILLPLAYING;
      closing_ = true;  // from here on, calls on this handle are refused
    }
    EndThread();
    end_stream();
    Notify(close_message, 0);
    return MMSYSERR_NOERROR;
  }
  bool OnDeviceThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  void Notify(uint32_t msg, uintptr_t param) const { notifier_.Notify(handle_, msg, param); }

  uintptr_t handle_ = 0;  // the public handle, as notifications carry it
  PcmFormat format_;
  Notifier notifier_;
  uint32_t done_message_;

  std::mutex mutex_;
  std::condition_variable changed_;  // queue, state or notification list changed
  Waiter waiter_;                    // cuts the device thread's Read/Write short
  WAVEHDR* head_ = nullptr;          // the queue, linked through lpNext
  WAVEHDR* tail_ = nullptr;
  bool closing_ = false;
  // Run the hook once the pending notifications have been made (the file
  // source's end of sound).
  bool after_notify_pending_ = false;
  virtual void AfterNotify() {}

 private:
  std::vector<WAVEHDR*> completed_;  // awaiting notification
  std::vector<WAVEHDR*> notifying_;  // being notified (by the notify_busy_ thread)
  bool notify_busy_ = false;         // a thread is notifying, the lock dropped
  std::thread thread_;
};

}  // namespace velmora::platform::wave
