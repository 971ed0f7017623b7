// How a device tells its owner that it opened, finished a buffer or closed:
// a window message through the installed poster, an event, or a function.
#pragma once

#include <cstdint>

#include "velmora/platform/wave.h"

namespace velmora::platform::wave {

class Notifier {
 public:
  // `flags` are the open flags; only the CALLBACK_* part is kept.
  Notifier(uint32_t flags, uintptr_t callback, uintptr_t instance);
  // MMSYSERR_INVALPARAM for an unknown notification kind.
  static MMRESULT Check(uint32_t flags);
  // Notifies `msg` for `device` (the handle as an integer) with `param`
  // (the WAVEHDR* or 0).  Callers hold no device lock.
  void Notify(uintptr_t device, uint32_t msg, uintptr_t param) const;
  // Function notification needs to know the direction to call the right type.
  void set_input(bool input) { input_ = input; }
  // True when notifying runs the owner's code on the notifying thread (a
  // function callback); a window message is posted and an event set, so
  // those may be made from any thread, also one inside a wave call.
  bool CallsOwnerCode() const { return kind_ == CALLBACK_FUNCTION; }

 private:
  uint32_t kind_;
  uintptr_t callback_;
  uintptr_t instance_;
  bool input_ = true;
};

}  // namespace velmora::platform::wave
