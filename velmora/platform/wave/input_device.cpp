#include "velmora/platform/wave/input_device.h"

#include <algorithm>
#include <cstring>

namespace velmora::platform {

using wave::CaptureStream;

WaveInObject::WaveInObject(std::unique_ptr<CaptureStream> stream, const wave::PcmFormat& format,
                           const wave::Notifier& notifier)
    : DeviceCore(format, notifier, MM_WIM_DATA),
      stream_(std::move(stream)),
      fill_here_(stream_->ReadsWithoutWaiting() && !notifier.CallsOwnerCode()),
      scratch_(std::max(format.WholeFrames(stream_->ChunkBytes()), size_t{format.block_align()})) {
  handle_ = reinterpret_cast<uintptr_t>(this);
  notifier_.set_input(true);
}

WaveInObject::~WaveInObject() {
  EndThread();
}

void WaveInObject::Launch() {
  StartThread([this] { Run(); });
}

MMRESULT WaveInObject::Prepare(WAVEHDR* header) {
  // Input buffers have no loops.  Clearing the loop bits keeps a filled
  // buffer's flags at exactly done|prepared, which callers test for.
  return PrepareHeader(header, WHDR_BEGINLOOP | WHDR_ENDLOOP);
}

MMRESULT WaveInObject::Add(WAVEHDR* header) {
  std::unique_lock lock(mutex_);
  if (!closing_ && (header->dwFlags & (WHDR_PREPARED | WHDR_INQUEUE)) == WHDR_PREPARED &&
      header->dwBufferLength < format_.block_align())
    return MMSYSERR_INVALPARAM;  // could never hold one frame
  const bool here = FillsHereLocked(header);
  MMRESULT r = EnqueueLocked(header, !here);
  if (r != MMSYSERR_NOERROR) return r;
  header->dwBytesRecorded = 0;
  header->dwFlags = WHDR_PREPARED | WHDR_INQUEUE;
  if (here) FillHereLocked(lock);
  return r;
}

bool WaveInObject::FillsHereLocked(const WAVEHDR* header) const {
  // Queue empty, so the header becomes the head; no sound read but not yet
  // delivered; nothing completed earlier still to be notified.
  return fill_here_ && started_ && !closing_ && !ended_ && !source_ended_ && !head_ && !reading_ &&
         pending_length_ == 0 && NotifyIdleLocked() &&
         (header->dwFlags & (WHDR_PREPARED | WHDR_INQUEUE)) == WHDR_PREPARED;
}

void WaveInObject::FillHereLocked(std::unique_lock<std::mutex>& lock) {
  WAVEHDR* header = head_;
  auto* data = reinterpret_cast<uint8_t*>(header->lpData);
  for (;;) {
    size_t room = format_.WholeFrames(header->dwBufferLength - header->dwBytesRecorded);
    if (room == 0) break;
    // The pieces the device thread would ask for, so the stream sees the
    // same reads either way.
    size_t got =
        stream_->Read(data + header->dwBytesRecorded, std::min(room, scratch_.size()), waiter_);
    header->dwBytesRecorded += static_cast<uint32_t>(got);
    if (stream_->Ended()) {
      source_ended_ = true;
      break;
    }
    if (got == 0) break;
  }
  const bool full = format_.WholeFrames(header->dwBufferLength - header->dwBytesRecorded) == 0;
  if (full || (source_ended_ && header->dwBytesRecorded > 0)) CompleteHeadLocked(false);
  if (source_ended_) {
    // As on the device thread: the last partial buffer goes back with its
    // real count; buffers queued after it stay queued until a reset.
    ended_ = true;
    after_notify_pending_ = true;
  }
  if (head_) {
    // The stream gave too little to complete it: the device thread goes on.
    changed_.notify_all();
    return;
  }
  NotifyCompletedLocked(lock);
  // A reset, close or stop that came while the lock was dropped may have
  // left work for the device thread.
  if (closing_ || !NotifyIdleLocked()) changed_.notify_all();
}

MMRESULT WaveInObject::Start() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (started_) return MMSYSERR_NOERROR;
  }
  MMRESULT r = stream_->Start();
  if (r != MMSYSERR_NOERROR) return r;
  std::lock_guard lock(mutex_);
  started_ = true;
  changed_.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveInObject::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (!started_) return MMSYSERR_NOERROR;
    started_ = false;
    waiter_.Interrupt();
    if (head_ && head_->dwBytesRecorded > 0) CompleteHeadLocked();
  }
  stream_->Stop();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveInObject::Reset() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    started_ = false;
    waiter_.Interrupt();
    while (head_) CompleteHeadLocked();
  }
  stream_->Stop();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveInObject::Close() {
  return CloseDevice(MM_WIM_CLOSE, [this] {
    stream_->Stop();
    stream_.reset();
  });
}

void WaveInObject::DistributeLocked() {
  while (pending_length_ > 0 && head_ && started_) {
    WAVEHDR* header = head_;
    size_t room = format_.WholeFrames(header->dwBufferLength - header->dwBytesRecorded);
    size_t n = std::min(room, pending_length_);
    std::memcpy(header->lpData + header->dwBytesRecorded, scratch_.data() + pending_offset_, n);
    header->dwBytesRecorded += static_cast<uint32_t>(n);
    pending_offset_ += n;
    pending_length_ -= n;
    if (format_.WholeFrames(header->dwBufferLength - header->dwBytesRecorded) == 0)
      CompleteHeadLocked();
  }
}

void WaveInObject::AfterNotify() {
  wave::NoteInputFinished(this);
}

void WaveInObject::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (NotifyCompletedLocked(lock)) continue;
    if (closing_) break;
    if (!Ready()) {
      changed_.wait(lock);
      continue;
    }
    if (pending_length_ == 0) {
      size_t room = format_.WholeFrames(head_->dwBufferLength - head_->dwBytesRecorded);
      size_t want = std::min(room, scratch_.size());
      waiter_.Rearm();
      reading_ = true;
      lock.unlock();
      size_t got = stream_->Read(scratch_.data(), want, waiter_);
      bool ended = stream_->Ended();
      lock.lock();
      reading_ = false;
      pending_offset_ = 0;
      pending_length_ = got;
      if (ended) source_ended_ = true;
    }
    DistributeLocked();
    if (source_ended_ && pending_length_ == 0 && !ended_) {
      // The last partial buffer goes back with its real byte count; buffers
      // queued after it stay queued until a reset returns them empty.
      if (head_ && head_->dwBytesRecorded > 0) CompleteHeadLocked();
      ended_ = true;
      after_notify_pending_ = true;
    }
  }
  // Closing: what was completed is still notified, before the close message
  // (after a notification that a queueing thread may be making).
  WaitNotifyIdleLocked(lock);
  while (NotifyCompletedLocked(lock)) {
  }
}

}  // namespace velmora::platform
