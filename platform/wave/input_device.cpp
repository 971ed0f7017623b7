#include "platform/wave/input_device.h"

#include <algorithm>
#include <cstring>

namespace velmora::platform {

using wave::CaptureStream;

WaveInObject::WaveInObject(std::unique_ptr<CaptureStream> stream, const wave::PcmFormat& format,
                           const wave::Notifier& notifier)
    : DeviceCore(format, notifier, MM_WIM_DATA),
      stream_(std::move(stream)),
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
  std::lock_guard lock(mutex_);
  if (!closing_ && (header->dwFlags & (WHDR_PREPARED | WHDR_INQUEUE)) == WHDR_PREPARED &&
      header->dwBufferLength < format_.block_align())
    return MMSYSERR_INVALPARAM;  // could never hold one frame
  MMRESULT r = EnqueueLocked(header);
  if (r == MMSYSERR_NOERROR) {
    header->dwBytesRecorded = 0;
    header->dwFlags = WHDR_PREPARED | WHDR_INQUEUE;
  }
  return r;
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
  if (OnDeviceThread()) return MMSYSERR_ERROR;  // a callback cannot close its own device
  {
    std::lock_guard lock(mutex_);
    if (closing_) return MMSYSERR_INVALHANDLE;
    if (head_) return WAVERR_STILLPLAYING;
    closing_ = true;  // from here on, calls on this handle are refused
  }
  EndThread();
  stream_->Stop();
  stream_.reset();
  Notify(MM_WIM_CLOSE, 0);
  return MMSYSERR_NOERROR;
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
      lock.unlock();
      size_t got = stream_->Read(scratch_.data(), want, waiter_);
      bool ended = stream_->Ended();
      lock.lock();
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
  // Closing: what was completed is still notified, before the close message.
  while (NotifyCompletedLocked(lock)) {
  }
}

}  // namespace velmora::platform
