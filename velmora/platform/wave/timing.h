// Waiting in device threads: sleeps that another thread can cut short (a
// reset or close must not wait for a sleeping device thread), and the pacing
// of virtual devices that consume or produce sound in real time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace velmora::platform::wave {

using Clock = std::chrono::steady_clock;

class Waiter {
 public:
  // Sleep until `when` (or for `duration`); false when interrupted.
  bool SleepUntil(Clock::time_point when);
  bool SleepFor(Clock::duration duration) { return SleepUntil(Clock::now() + duration); }
  // Cuts the current and every later sleep short until Rearm().
  void Interrupt();
  void Rearm();
  bool Interrupted();

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool interrupted_ = false;
};

// Real-time pacing of a stream of frames: Wait(n) returns when the next n
// frames are due, counting from the first call.  A caller more than
// `kResyncAfter` behind (nobody asked for sound for a while) starts a new
// timeline at the current time instead of catching up in a burst.
class Pacer {
 public:
  static constexpr auto kResyncAfter = std::chrono::milliseconds(200);

  explicit Pacer(uint32_t frames_per_second) : rate_(frames_per_second) {}
  // Frames become due at the end of their duration (a capture: the sound
  // exists once it has been heard).  False when interrupted; nothing counted.
  bool Wait(uint64_t frames, Waiter& waiter);
  // Starts a new timeline at the next Wait.
  void Restart() { started_ = false; }

 private:
  Clock::duration DurationOf(uint64_t frames) const;

  uint32_t rate_;
  bool started_ = false;
  Clock::time_point origin_{};
  uint64_t done_ = 0;
};

}  // namespace velmora::platform::wave
