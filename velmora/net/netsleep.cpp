#include "velmora/net/netsleep.h"

#include <sched.h>

#include <cerrno>
#include <ctime>

namespace velmora::net {

void Sleep(uint32_t Milliseconds) {
  if (Milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec rest{static_cast<time_t>(Milliseconds / 1000),
                static_cast<long>(Milliseconds % 1000) * 1000000L};
  // nanosleep leaves the remaining time in `rest` when a signal interrupts it.
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

}  // namespace velmora::net
