// The millisecond tick count: milliseconds of the monotonic clock, wrapping at
// 2^32 (about 49.7 days).  Differences taken as uint32_t stay right across
// the wrap.
#pragma once

#include <cstdint>

namespace velmora::platform {

uint32_t GetTickCount();

}  // namespace velmora::platform
