// A single-reader, single-writer byte ring between a real-time audio callback
// and the device thread that feeds or drains it.  Neither side locks or
// allocates: each side owns its own index and publishes it with release
// ordering; the other side reads it with acquire ordering.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::platform::wave {

class RingBuffer {
 public:
  // The capacity is `min_capacity` rounded up to a power of two.
  explicit RingBuffer(size_t min_capacity);
  RingBuffer(const RingBuffer&) = delete;
  RingBuffer& operator=(const RingBuffer&) = delete;

  size_t Capacity() const { return buffer_.size(); }
  size_t ReadAvailable() const;
  size_t WriteAvailable() const;

  // Writer side: copies up to `size` bytes in; returns the count copied.
  size_t Write(const void* data, size_t size);
  // Reader side: copies up to `size` bytes out; returns the count copied.
  size_t Read(void* data, size_t size);
  // Reader side: drops up to `size` bytes.
  size_t Skip(size_t size);
  // Empties the ring; only while neither side is running.
  void Clear();

 private:
  std::vector<uint8_t> buffer_;
  size_t mask_;
  // Free-running counters; their difference is the fill level.
  std::atomic<size_t> write_{0};
  std::atomic<size_t> read_{0};
};

}  // namespace velmora::platform::wave
