// Replaces the global operator new and delete of a test program: every
// allocation of the process goes through these; only those made while the
// calling thread has counting switched on are counted.
#include "tests/allocations/allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local bool t_count_allocations = false;
std::atomic<long> g_allocations{0};

void* Allocate(std::size_t size) {
  if (t_count_allocations) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace velmora::testing {

void CountAllocations(bool on) {
  t_count_allocations = on;
}

void ResetAllocationCount() {
  g_allocations = 0;
}

long CountedAllocations() {
  return g_allocations.load();
}

}  // namespace velmora::testing
