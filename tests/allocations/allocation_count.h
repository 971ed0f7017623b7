// Counting the allocations of one thread, for the tests that hold a hot path
// to allocating nothing.  Only the suites built with allocation_count.cpp
// (which replaces the global operator new and delete) may include this.
#pragma once

namespace velmora::testing {

// From now on, counts what the calling thread allocates (on) or stops (off).
void CountAllocations(bool on);
// Sets the count back to 0.
void ResetAllocationCount();
// Allocations counted since the last reset, over all counting threads.
long CountedAllocations();

// Counts the allocations `work` makes on this thread.
template <class Work>
long AllocationsOf(Work work) {
  ResetAllocationCount();
  CountAllocations(true);
  work();
  CountAllocations(false);
  return CountedAllocations();
}

}  // namespace velmora::testing
