// Kernel-style events: a flag that threads wait for, set by another thread.
// An auto-reset event releases one waiter and clears itself; a manual-reset
// event stays set until ResetEvent.  Handles are checked: a call with a
// handle that was closed (or never created) fails instead of touching freed
// memory, so a device may signal an event that its owner has just closed.
#pragma once

#include <cstdint>

namespace velmora::platform {

struct EventObject;
using HEVENT = EventObject*;  // nullptr = none

constexpr uint32_t INFINITE = 0xFFFFFFFFu;
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 0x102;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;

HEVENT CreateEvent(bool manual_reset, bool initial_state);
bool SetEvent(HEVENT event);
bool ResetEvent(HEVENT event);
// WAIT_OBJECT_0 when the event is (or becomes) set within `timeout_ms`
// (INFINITE = no limit), WAIT_TIMEOUT when not, WAIT_FAILED for a bad handle.
uint32_t WaitForSingleObject(HEVENT event, uint32_t timeout_ms);
// Frees the event; a wait in progress ends with WAIT_FAILED.
bool CloseHandle(HEVENT event);

}  // namespace velmora::platform
