// Printing what the tone component reports, one line per event: the
// human-readable form ("GetTone asum=50 ...", "Key key=5 ...") or, with
// --json, one JSON object per line with the event's parameters under their
// own names.  Shared by the commands that run the component (listen,
// analyze).
#pragma once

#include <cstdint>
#include <string>

namespace velmora::app {

// GetTone asum=.. noise_level=.. a0=.. f0=..
void PrintTone(bool json, int32_t asum, double noise_level, double a0, double f0);
// Key key=5 a1=.. a2=.. f1=.. f2=..  ({"event": "Key", "key": "5", ...})
void PrintKey(bool json, const std::string& key, double a1, double a2, double f1, double f2);
// The key-decision summary line of a buffer, as the component wrote it
// (Windows-1251) ({"event": "Summary", "text": "DTMF(5):  A1= ..."}).
void PrintSummary(bool json, const std::string& text);

}  // namespace velmora::app
