#include "velmora/platform/wave/ring_buffer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmora::platform::wave {

RingBuffer::RingBuffer(size_t min_capacity)
    : buffer_(std::bit_ceil(std::max<size_t>(min_capacity, 2))), mask_(buffer_.size() - 1) {}

size_t RingBuffer::ReadAvailable() const {
  return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire);
}

size_t RingBuffer::WriteAvailable() const {
  return buffer_.size() - ReadAvailable();
}

size_t RingBuffer::Write(const void* data, size_t size) {
  const size_t w = write_.load(std::memory_order_relaxed);
  const size_t r = read_.load(std::memory_order_acquire);
  size_t n = std::min(size, buffer_.size() - (w - r));
  size_t at = w & mask_;
  size_t first = std::min(n, buffer_.size() - at);
  const auto* src = static_cast<const uint8_t*>(data);
  std::memcpy(buffer_.data() + at, src, first);
  std::memcpy(buffer_.data(), src + first, n - first);
  write_.store(w + n, std::memory_order_release);
  return n;
}

size_t RingBuffer::Read(void* data, size_t size) {
  const size_t r = read_.load(std::memory_order_relaxed);
  const size_t w = write_.load(std::memory_order_acquire);
  size_t n = std::min(size, w - r);
  size_t at = r & mask_;
  size_t first = std::min(n, buffer_.size() - at);
  auto* dst = static_cast<uint8_t*>(data);
  std::memcpy(dst, buffer_.data() + at, first);
  std::memcpy(dst + first, buffer_.data(), n - first);
  read_.store(r + n, std::memory_order_release);
  return n;
}

size_t RingBuffer::Skip(size_t size) {
  const size_t r = read_.load(std::memory_order_relaxed);
  const size_t w = write_.load(std::memory_order_acquire);
  size_t n = std::min(size, w - r);
  read_.store(r + n, std::memory_order_release);
  return n;
}

void RingBuffer::Clear() {
  read_.store(write_.load(std::memory_order_acquire), std::memory_order_release);
}

}  // namespace velmora::platform::wave
