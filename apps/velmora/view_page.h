// The live view's page: one self-contained HTML document (script and style
// inline, no font or script from elsewhere), served from memory.
#pragma once

#include <string_view>

namespace velmora::app {

// The page.  It reads /events (frame, key, press, trigger, record) and
// posts its controls to /control as "Name=value".  For tests and tools it
// publishes what it shows in window.velmoraView: frames (count), keys (every
// key event's key, in order), presses, peaks (the frequencies of the two
// strongest local maxima of the last spectrum, strongest first), level,
// trigger, recording.
std::string_view ViewPage();

}  // namespace velmora::app
