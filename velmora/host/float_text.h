// Decimal digits of floating-point values and the writers shared by Format,
// FormatFloat and FloatToStrF (internal to host/).
//
// A value is first converted to a fixed number of significant decimal digits
// (15 for a double, 18 for a long double: what the type can tell apart), and
// every further rounding works on those digits with halves away from zero.
// So 0.125 shows as 0.13 with two decimals and 1.005 as 1.01, as a reader of
// the decimal value expects, rather than as the nearest binary value dictates.
//
// Everything here works in fixed-size buffers and appends to the caller's
// string: nothing allocates while the string has room for what is written.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "velmora/host/format.h"

namespace velmora::host::detail {

// The most significant digits a value carries (a long double's).
inline constexpr int kMaxSignificant = 18;

struct Decimal {
  bool negative = false;
  bool nan = false;
  bool infinite = false;
  // digits[0, count): the significant digits without leading or trailing
  // zeros; count is 0 for zero.
  std::array<char, kMaxSignificant> digits{};
  int count = 0;
  // value = 0.d1d2d3... * 10^exponent
  int exponent = 0;

  bool zero() const { return count == 0; }
  // Digit `position` of 0.d1d2d3... (0 = d1), '0' outside the significant
  // digits (before, after, and everywhere for zero).
  char digit(int position) const {
    return position >= 0 && position < count ? digits[static_cast<size_t>(position)] : '0';
  }
};

// The value with `significant` digits (1 .. 18), correctly rounded.
Decimal ToDecimal(double value, int significant);
Decimal ToDecimal(long double value, int significant);
// Rounds to `decimals` digits after the decimal point, halves away from zero.
void RoundToDecimals(Decimal& d, int decimals);
// Rounds to `count` significant digits, halves away from zero.
void RoundToSignificant(Decimal& d, int count);

// Appends the integer digits of d ("0" when there are none), d already
// rounded; when `grouped`, `separator` between groups of three.
void AppendIntegerDigits(std::string& out, const Decimal& d, bool grouped, char separator);
// Appends the first `decimals` digits after the point, zero-padded.
void AppendFractionDigits(std::string& out, const Decimal& d, int decimals);
// Appends "NAN", "INF" or "-INF".
void AppendSpecial(std::string& out, const Decimal& d);
// Appends an exponent: "-" when negative, "+" when positive and
// `always_sign`, then at least `min_digits` digits.
void AppendExponent(std::string& out, int exponent, bool always_sign, int min_digits);
// Appends `count` copies of c; a count of 0 or less appends nothing.
void AppendRepeated(std::string& out, int count, char c);

// Moves out[start, end) behind the text appended after it: out becomes
// out[0, start) + out[middle, end) + out[start, middle).  How text is put in
// front of what was already written without a temporary string.
void MoveToFront(std::string& out, size_t start, size_t middle);

// Appends d (holding the value's own significant digits) in one of the
// FloatToStrF formats; see FloatToStrF in format.h for the rules.
void AppendFloat(std::string& out, Decimal d, TFloatFormat format, int precision, int digits,
                 const TFormatSettings& settings);

}  // namespace velmora::host::detail
