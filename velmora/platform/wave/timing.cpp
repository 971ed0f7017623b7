#include "velmora/platform/wave/timing.h"

namespace velmora::platform::wave {

bool Waiter::SleepUntil(Clock::time_point when) {
  std::unique_lock lock(mutex_);
  return !woken_.wait_until(lock, when, [&] { return interrupted_; });
}

void Waiter::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  woken_.notify_all();
}

void Waiter::Rearm() {
  std::lock_guard lock(mutex_);
  interrupted_ = false;
}

bool Waiter::Interrupted() {
  std::lock_guard lock(mutex_);
  return interrupted_;
}

Clock::duration Pacer::DurationOf(uint64_t frames) const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(frames) / rate_));
}

bool Pacer::Wait(uint64_t frames, Waiter& waiter) {
  auto now = Clock::now();
  if (!started_) {
    started_ = true;
    origin_ = now;
    done_ = 0;
  }
  auto due = origin_ + DurationOf(done_ + frames);
  if (now > due + kResyncAfter) {
    origin_ = now - DurationOf(done_);
    due = now + DurationOf(frames);
  }
  if (!waiter.SleepUntil(due)) return false;
  done_ += frames;
  return true;
}

}  // namespace velmora::platform::wave
