// The clock of the message loop: milliseconds on a steady time line.
//
// The loop reads time only through Application().Now(), so a test installs
// a ManualClock and moves time by hand: Advance fires every timer that falls
// due in the span, in time order, on the calling thread, without sleeping.
#pragma once

#include <atomic>
#include <cstdint>

namespace velmora::host {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; never goes backwards.
  virtual int64_t NowMs() const = 0;
  // True for clocks that follow real time (the loop may then sleep until a
  // timer is due); false for clocks moved by hand.
  virtual bool IsRealTime() const { return true; }
};

// CLOCK_MONOTONIC in milliseconds (the default clock).
class SteadyClock : public Clock {
 public:
  int64_t NowMs() const override;
};

class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t start_ms = 0) : now_(start_ms) {}

  int64_t NowMs() const override { return now_.load(std::memory_order_acquire); }
  bool IsRealTime() const override { return false; }

  // Moves time forward by `ms` (negative values are ignored).  When this
  // clock is the application's, every timer that falls due in the span
  // fires at its due time, in order: a timer due several times in the span
  // fires several times.  Call it on the GUI thread.
  void Advance(int64_t ms);

 private:
  std::atomic<int64_t> now_;
};

}  // namespace velmora::host
