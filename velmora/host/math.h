// Rounding of floating-point values to whole numbers.
//
// Round goes to the nearest whole number with halves to even (2.5 -> 2,
// 3.5 -> 4, -2.5 -> -2), Trunc toward zero, Ceil up, Floor down.  A NaN, an
// infinity or a value outside the 64-bit range raises EInvalidOp instead of
// giving an undefined result.
#pragma once

#include <cfenv>
#include <cmath>
#include <cstdint>

#include "velmora/host/exception.h"

namespace velmora::host {

namespace detail {

inline int64_t ToInt64(long double whole) {
  // 2^63 is exactly representable; every whole number below it in magnitude
  // converts without overflow.
  constexpr long double kLimit = 9223372036854775808.0L;
  if (!(whole >= -kLimit && whole < kLimit)) throw EInvalidOp("Invalid floating point operation");
  return static_cast<int64_t>(whole);
}

}  // namespace detail

// Nearest whole number, halves to even (the default rounding mode).
inline int64_t Round(long double x) {
  return detail::ToInt64(std::nearbyint(x));
}
inline int64_t Trunc(long double x) {
  return detail::ToInt64(std::trunc(x));
}
inline int64_t Ceil(long double x) {
  return detail::ToInt64(std::ceil(x));
}
inline int64_t Floor(long double x) {
  return detail::ToInt64(std::floor(x));
}
// The fractional part, with the sign of x.
inline long double Frac(long double x) {
  return x - std::trunc(x);
}

}  // namespace velmora::host
