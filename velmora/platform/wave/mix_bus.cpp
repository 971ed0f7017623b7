#include "velmora/platform/wave/mix_bus.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace velmora::platform::wave {

namespace {

size_t RingFrames(uint32_t rate) {
  return std::bit_ceil(static_cast<size_t>(rate) * 4);
}

}  // namespace

MixBus::MixBus(uint32_t rate)
    : rate_(rate),
      epoch_(Clock::now()),
      ring_(RingFrames(rate), 0.0f),
      mask_(ring_.size() - 1),
      base_(-static_cast<int64_t>(ring_.size() / 2)) {}

int64_t MixBus::NowFrame() const {
  std::chrono::duration<double> since = Clock::now() - epoch_;
  return static_cast<int64_t>(std::floor(since.count() * rate_));
}

Clock::time_point MixBus::TimeOf(int64_t frame) const {
  return epoch_ + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(static_cast<double>(frame) / rate_));
}

void MixBus::AdvanceLocked() {
  const auto size = static_cast<int64_t>(ring_.size());
  int64_t target = NowFrame() - size / 2;
  if (target <= base_) return;
  // Frames leaving the window at the back are cleared: their slots become
  // the future frames at the front.
  if (target - base_ >= size) {
    std::fill(ring_.begin(), ring_.end(), 0.0f);
  } else {
    for (int64_t f = base_; f < target; ++f) ring_[static_cast<uint64_t>(f) & mask_] = 0.0f;
  }
  base_ = target;
}

void MixBus::Mix(const void* writer, int64_t at, const float* samples, size_t n) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  const int64_t end = base_ + static_cast<int64_t>(ring_.size());
  for (size_t i = 0; i < n; ++i) {
    int64_t f = at + static_cast<int64_t>(i);
    if (f < base_ || f >= end) continue;
    ring_[static_cast<uint64_t>(f) & mask_] += samples[i];
  }
  high_water_ = std::max(high_water_, at + static_cast<int64_t>(n));
  holds_[writer] = at + static_cast<int64_t>(n);
}

void MixBus::Hold(const void* writer, int64_t frame) {
  std::lock_guard lock(mutex_);
  holds_[writer] = frame;
}

void MixBus::Release(const void* writer) {
  std::lock_guard lock(mutex_);
  holds_.erase(writer);
}

int64_t MixBus::SettledUntil() {
  int64_t oldest_honoured = NowFrame() - FramesIn(kMaxHold);
  std::lock_guard lock(mutex_);
  int64_t settled = INT64_MAX;
  for (const auto& [writer, frame] : holds_)
    if (frame >= oldest_honoured) settled = std::min(settled, frame);
  return settled;
}

void MixBus::Read(int64_t from, float* out, size_t n) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  const int64_t end = base_ + static_cast<int64_t>(ring_.size());
  for (size_t i = 0; i < n; ++i) {
    int64_t f = from + static_cast<int64_t>(i);
    out[i] = (f < base_ || f >= end) ? 0.0f : ring_[static_cast<uint64_t>(f) & mask_];
  }
}

int64_t MixBus::HighWater() {
  std::lock_guard lock(mutex_);
  return high_water_;
}

BusPlayback::BusPlayback(MixBus& bus, const PcmFormat& format)
    : bus_(bus), format_(format), to_mix_(format, bus.rate()) {}

size_t BusPlayback::Write(const uint8_t* src, size_t size, Waiter& waiter) {
  size = format_.WholeFrames(size);
  if (size == 0) return 0;
  int64_t now = bus_.NowFrame();
  // A new stretch of sound starts at the present (or where the previous one
  // ends, if that is still to come).  A stretch in progress never skips,
  // unless it fell so far behind that readers no longer wait for it.
  if (!playing_ || cursor_ < now - bus_.FramesIn(MixBus::kMaxHold)) {
    cursor_ = std::max(cursor_, now);
    playing_ = true;
    bus_.Hold(this, cursor_);
  }
  if (!waiter.SleepUntil(bus_.TimeOf(cursor_))) return 0;
  to_mix_.Convert(src, size, mixed_);
  bus_.Mix(this, cursor_, mixed_.data(), mixed_.size());
  cursor_ += static_cast<int64_t>(mixed_.size());
  // The chunk is in the mix; the buffer is done when it has been heard.  An
  // interruption (reset, pause) does not take back what is already mixed.
  waiter.SleepUntil(bus_.TimeOf(cursor_));
  return size;
}

void BusPlayback::Idle() {
  playing_ = false;
  bus_.Release(this);
}

}  // namespace velmora::platform::wave
