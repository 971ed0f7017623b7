// The DTMF key decision: the second phase of TDTMF::FFTDTMF.  The pair of
// the two strongest frequencies (f1, f2) is matched against the key table
// DTMF1/DTMF2; the key goes to `signal` and a one-line summary to
// spektr.text.
//
// Only the two frequencies decide: there is no test of the levels, their
// ratio or the noise, and no repeat suppression, so every buffer whose pair
// matches yields the key again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "velmora/component/tonvel.h"

namespace velmora::tonvel::keys {

// The key characters in table order: position 0 is key "1", 15 is key "d".
inline constexpr std::string_view kKeyChars = "1234567890*#abcd";

// True when f lies in the tolerance band of the table frequency F: the open
// interval (0.979 F, 1.02 F), the products formed in long double and the
// frequency compared with them as it stands (so 1.02 * 1209 itself, as a
// double, lies outside).
bool InBand(double f, int32_t F);

// The key of the pair (f1, f2), in either order: the first table position
// whose row and column bands hold the two frequencies; empty when none does.
std::string_view DecideKey(double f1, double f2);

// The summary line, written into `out` (its memory is reused):
//   "DTMF(" key "):  " Format("A1= %.2n", a1) FormatFloat(" [0 Hz]  ", f1)
//   Format("A2= %.2n", a2) FormatFloat(" [0 Hz]", f2)
// with the separators of host::FormatSettings, e.g.
//   DTMF(5):  A1= 30.21 [1336 Hz]  A2= 27.40 [775 Hz]
// The numbers are written by the host's appending forms (FormatTo,
// FormatFloatTo) straight into `out`, so rewriting the line for every buffer
// allocates nothing once `out` has held a line as long.
void SummaryLine(std::string& out, std::string_view key, double a1, double f1, double a2,
                 double f2);

// The key decision over the unit-level results: signal and spektr.text.
void Decide();

// Raises Key with signal, a1, a2, f1, f2 when signal is not empty and the
// event is set.
void ReportKey(TDTMF& owner);

}  // namespace velmora::tonvel::keys
