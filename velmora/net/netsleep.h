// A millisecond sleep of the calling thread, used by the block sockets for
// bandwidth limiting and polling pauses.
#pragma once

#include <cstdint>

namespace velmora::net {

// Suspends the calling thread for `Milliseconds` ms (at least that long; a
// signal does not cut the sleep short).  0 yields the processor once.
void Sleep(uint32_t Milliseconds);

}  // namespace velmora::net
