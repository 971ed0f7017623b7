#include "velmora/platform/wave/device_core.h"

namespace velmora::platform::wave {

DeviceCore::DeviceCore(const PcmFormat& format, const Notifier& notifier, uint32_t done_message)
    : format_(format), notifier_(notifier), done_message_(done_message) {
  // Enough room for the usual queue depth, so the steady state allocates
  // nothing on the device thread.
  completed_.reserve(32);
  notifying_.reserve(32);
}

DeviceCore::~DeviceCore() {
  EndThread();
}

void DeviceCore::EndThread() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    waiter_.Interrupt();
  }
  changed_.notify_all();
  if (thread_.joinable() && !OnDeviceThread()) thread_.join();
}

MMRESULT DeviceCore::PrepareHeader(WAVEHDR* header, uint32_t clear_on_prepare) {
  if (!header->lpData || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(mutex_);
  if (closing_) return MMSYSERR_INVALHANDLE;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags = (header->dwFlags & ~clear_on_prepare) | WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT DeviceCore::UnprepareHeader(WAVEHDR* header) {
  std::lock_guard lock(mutex_);
  if (closing_) return MMSYSERR_INVALHANDLE;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT DeviceCore::EnqueueLocked(WAVEHDR* header, bool wake_device) {
  if (closing_) return MMSYSERR_INVALHANDLE;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (!header->lpData || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  header->lpNext = nullptr;
  if (tail_)
    tail_->lpNext = header;
  else
    head_ = header;
  tail_ = header;
  if (wake_device) changed_.notify_all();
  return MMSYSERR_NOERROR;
}

void DeviceCore::CompleteHeadLocked(bool wake_device) {
  WAVEHDR* header = head_;
  head_ = header->lpNext;
  if (!head_) tail_ = nullptr;
  header->lpNext = nullptr;
  header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  completed_.push_back(header);
  if (wake_device) changed_.notify_all();
}

bool DeviceCore::NotifyCompletedLocked(std::unique_lock<std::mutex>& lock) {
  if (notify_busy_ || (completed_.empty() && !after_notify_pending_)) return false;
  notify_busy_ = true;
  notifying_.swap(completed_);
  bool after = after_notify_pending_;
  after_notify_pending_ = false;
  lock.unlock();
  for (WAVEHDR* header : notifying_) Notify(done_message_, reinterpret_cast<uintptr_t>(header));
  notifying_.clear();
  if (after) AfterNotify();
  lock.lock();
  notify_busy_ = false;
  return true;
}

}  // namespace velmora::platform::wave
