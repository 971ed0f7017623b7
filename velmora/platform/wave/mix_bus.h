// A mix bus: a timeline of mono float samples at one rate, tied to the
// monotonic clock, into which outputs add what they play and from which
// inputs (the loopback) or a recorder (the file sink) read what was heard.
//
// Timing: an output adds each chunk when its first frame is due and returns
// once its last frame has been heard, so output buffers come back at the
// pace of a sound card.  Readers stay kReadLag behind the clock.
//
// No sound is split by a late thread: an output that is playing a stretch of
// sound (its queue has not run empty) never skips ahead; while it plays it
// holds the frames it has yet to add, and readers wait for them, for up to
// kMaxHold.  Only an output that went idle starts its next sound at the
// present.  The bus keeps about two seconds on either side of the present.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "velmora/platform/wave/backend.h"

namespace velmora::platform::wave {

class MixBus {
 public:
  static constexpr std::chrono::milliseconds kReadLag{50};
  static constexpr std::chrono::milliseconds kMaxHold{500};

  explicit MixBus(uint32_t rate);
  MixBus(const MixBus&) = delete;
  MixBus& operator=(const MixBus&) = delete;

  uint32_t rate() const { return rate_; }
  // The frame that is being heard now, and the time at which a frame is.
  int64_t NowFrame() const;
  Clock::time_point TimeOf(int64_t frame) const;
  int64_t FramesIn(std::chrono::milliseconds ms) const { return rate_ * ms.count() / 1000; }

  // Adds `n` frames starting at frame `at`; frames outside the kept window
  // are dropped.  `writer` then holds the frames from at + n on.
  void Mix(const void* writer, int64_t at, const float* samples, size_t n);
  // `writer` holds the frames from `frame` on (it will add them), or holds
  // nothing any more.
  void Hold(const void* writer, int64_t frame);
  void Release(const void* writer);
  // The first frame that a playing output still holds (a hold older than
  // kMaxHold is ignored: a stuck output does not stall the readers).
  int64_t SettledUntil();
  // The end of what can be read now: kReadLag behind the present, and not
  // into held frames.
  int64_t ReadableEnd() { return std::min(NowFrame() - FramesIn(kReadLag), SettledUntil()); }
  // Copies frames [from, from + n); silence where nothing was mixed.
  void Read(int64_t from, float* out, size_t n);
  // One past the last frame ever mixed.
  int64_t HighWater();

 private:
  void AdvanceLocked();

  const uint32_t rate_;
  const Clock::time_point epoch_;
  std::mutex mutex_;
  std::vector<float> ring_;
  const uint64_t mask_;
  int64_t base_;  // oldest frame kept; the window is [base_, base_ + size)
  int64_t high_water_ = 0;
  std::map<const void*, int64_t> holds_;
};

// An output that plays into a mix bus, in real time.
class BusPlayback : public PlaybackStream {
 public:
  BusPlayback(MixBus& bus, const PcmFormat& format);
  ~BusPlayback() override { bus_.Release(this); }
  size_t ChunkBytes() const override { return format_.BytesFor(10); }
  size_t Write(const uint8_t* src, size_t size, Waiter& waiter) override;
  void Idle() override;

 private:
  MixBus& bus_;
  PcmFormat format_;
  ToMix to_mix_;
  std::vector<float> mixed_;
  bool playing_ = false;            // in a stretch of sound
  int64_t cursor_ = INT64_MIN / 2;  // next frame this output plays
};

}  // namespace velmora::platform::wave
