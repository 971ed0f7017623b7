#include "velmora/platform/wave/output_device.h"

#include <algorithm>
#include <cstring>

namespace velmora::platform {

using wave::PlaybackStream;

WaveOutObject::WaveOutObject(std::unique_ptr<PlaybackStream> stream, const wave::PcmFormat& format,
                             const wave::Notifier& notifier)
    : DeviceCore(format, notifier, MM_WOM_DONE),
      stream_(std::move(stream)),
      scratch_(std::max(format.WholeFrames(stream_->ChunkBytes()), size_t{format.block_align()})) {
  handle_ = reinterpret_cast<uintptr_t>(this);
  notifier_.set_input(false);
}

WaveOutObject::~WaveOutObject() {
  EndThread();
}

void WaveOutObject::Launch() {
  StartThread([this] { Run(); });
}

MMRESULT WaveOutObject::Write(WAVEHDR* header) {
  std::lock_guard lock(mutex_);
  return EnqueueLocked(header);
}

MMRESULT WaveOutObject::Reset() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    ++generation_;
    waiter_.Interrupt();
    while (head_) CompleteHeadLocked();
    offset_ = 0;
  }
  stream_->Flush();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutObject::Pause() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (paused_) return MMSYSERR_NOERROR;
    paused_ = true;
    waiter_.Interrupt();
  }
  stream_->Pause();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutObject::Restart() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (!paused_) return MMSYSERR_NOERROR;
    paused_ = false;
    changed_.notify_all();
  }
  stream_->Resume();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutObject::Close() {
  return CloseDevice(MM_WOM_CLOSE, [this] {
    stream_->Drain();
    stream_.reset();
  });
}

void WaveOutObject::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (NotifyCompletedLocked(lock)) continue;
    if (closing_) break;
    if (paused_ || !head_) {
      if (!idle_) {
        idle_ = true;
        lock.unlock();
        stream_->Idle();
        lock.lock();
        continue;
      }
      changed_.wait(lock);
      continue;
    }
    idle_ = false;
    WAVEHDR* header = head_;
    // Loops (WHDR_BEGINLOOP/ENDLOOP) are not repeated: each buffer plays once.
    size_t usable = format_.WholeFrames(header->dwBufferLength);
    if (offset_ >= usable) {
      offset_ = 0;
      CompleteHeadLocked();
      continue;
    }
    size_t n = std::min(usable - offset_, scratch_.size());
    // Copied under the lock: once a reset has returned the buffer, its owner
    // may free it.
    std::memcpy(scratch_.data(), header->lpData + offset_, n);
    uint64_t generation = generation_;
    waiter_.Rearm();
    lock.unlock();
    size_t played = stream_->Write(scratch_.data(), n, waiter_);
    lock.lock();
    if (generation != generation_ || head_ != header) continue;
    offset_ += played;
    if (offset_ >= usable) {
      offset_ = 0;
      CompleteHeadLocked();
    }
  }
  while (NotifyCompletedLocked(lock)) {
  }
}

}  // namespace velmora::platform
