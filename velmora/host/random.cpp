#include "velmora/host/random.h"

#include <time.h>
#include <unistd.h>

namespace velmora::host {

std::atomic<uint32_t> RandSeed{0};

namespace {

constexpr uint32_t kMultiplier = 134775813u;

uint32_t NextState() {
  uint32_t old = RandSeed.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = old * kMultiplier + 1u;
  } while (!RandSeed.compare_exchange_weak(old, next, std::memory_order_relaxed));
  return next;
}

}  // namespace

int32_t Random(int32_t range) {
  if (range <= 0) return 0;
  uint64_t product = static_cast<uint64_t>(NextState()) * static_cast<uint64_t>(range);
  return static_cast<int32_t>(product >> 32);
}

double Random() {
  return static_cast<double>(NextState()) / 4294967296.0;
}

void Randomize() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  // Mix seconds, nanoseconds and the process id so that two processes
  // started in the same second differ.
  uint64_t x = static_cast<uint64_t>(ts.tv_sec) * 1000000007ull + static_cast<uint64_t>(ts.tv_nsec);
  x ^= static_cast<uint64_t>(getpid()) << 17;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  RandSeed.store(static_cast<uint32_t>(x), std::memory_order_relaxed);
}

}  // namespace velmora::host
