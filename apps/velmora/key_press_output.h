// Key presses on the command line: the options that set the press
// detector, a tracker that feeds it from the tone component's events, and
// the lines that print a press.  Shared by `decode` and `listen --keys`.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "apps/velmora/command.h"
#include "velmora/component/key_presses.h"
#include "velmora/component/tonvel.h"

namespace velmora::app {

// --min-level DB, --max-twist DB, --min-clearance DB, --min-duration MS,
// --max-deviation PCT.
std::vector<OptionSpec> PressOptions();
// The detector's settings from those options (defaults where absent); a
// value that is no number in range is a UsageError.
tonvel::KeyPressSettings PressSettingsFrom(const Args& args);

// Sets the component's GetTone handler so that every processed buffer's
// spectrum reaches a press detector, with its start in the input's time line
// (the samples captured before it, at the capture rate).  `on_press` is
// called for each press as soon as the buffer that ends it is processed.
class PressTracker {
 public:
  using OnPress = std::function<void(const tonvel::KeyPress&)>;
  PressTracker(tonvel::TDTMF& dtmf, tonvel::KeyPressSettings settings, OnPress on_press);
  // The end of the input: reports a press still running.
  void Finish();

 private:
  tonvel::KeyPressDetector detector_;
  OnPress on_press_;
  uint64_t samples_ = 0;
};

// "5  at 12.345 s  for 93 ms" (with "FILE: " in front when `file` is not
// empty), or with --json {"event": "Press", "key": "5", "start": 12.345,
// "duration_ms": 93, "low_level": .., "high_level": .., "low_freq": ..,
// "high_freq": ..} (and "file").  Flushed at once.
void PrintPress(bool json, const std::string& file, const tonvel::KeyPress& press);

}  // namespace velmora::app
