// Decimal digits of floating-point values, shared by Format, FormatFloat and
// FloatToStrF (internal to host/).
//
// A value is first converted to a fixed number of significant decimal digits
// (15 for a double, 18 for a long double: what the type can tell apart), and
// every further rounding works on those digits with halves away from zero.
// So 0.125 shows as 0.13 with two decimals and 1.005 as 1.01, as a reader of
// the decimal value expects, rather than as the nearest binary value dictates.
#pragma once

#include <string>

#include "host/format.h"

namespace velmora::host::detail {

struct Decimal {
  bool negative = false;
  bool nan = false;
  bool infinite = false;
  // Significant digits without leading or trailing zeros; empty for zero.
  std::string digits;
  // value = 0.d1d2d3... * 10^exponent
  int exponent = 0;

  bool zero() const { return digits.empty(); }
};

// The value with `significant` digits (1 .. 18), correctly rounded.
Decimal ToDecimal(long double value, int significant);
// Rounds to `decimals` digits after the decimal point, halves away from zero.
void RoundToDecimals(Decimal& d, int decimals);
// Rounds to `count` significant digits, halves away from zero.
void RoundToSignificant(Decimal& d, int count);

// The integer digits of d ("0" when there are none), d already rounded.
std::string IntegerDigits(const Decimal& d);
// The first `decimals` digits after the point, zero-padded.
std::string FractionDigits(const Decimal& d, int decimals);
// Inserts `separator` between groups of three digits.
std::string GroupThousands(const std::string& digits, char separator);

// prefix + s.  (Built by appending: g++ 12 at -O3 warns falsely about
// inserting at the front of a string.)
std::string Concat(std::string_view prefix, std::string_view s);

// "NAN", "INF", "-INF".
std::string SpecialText(const Decimal& d);

}  // namespace velmora::host::detail
