#include "velmora/host/float_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace velmora::host::detail {

namespace {

// Drops leading and trailing zeros (a value of zero keeps no digits).
void Trim(Decimal& d) {
  int lead = 0;
  while (lead < d.count && d.digits[static_cast<size_t>(lead)] == '0') ++lead;
  if (lead == d.count) {
    d.count = 0;
    d.exponent = 0;
    return;
  }
  if (lead > 0) {
    std::copy(d.digits.begin() + lead, d.digits.begin() + d.count, d.digits.begin());
    d.count -= lead;
    d.exponent -= lead;
  }
  while (d.digits[static_cast<size_t>(d.count - 1)] == '0') --d.count;
}

// Keeps the first `keep` digits (keep may be <= 0) and rounds on the next one,
// halves away from zero.
void RoundAt(Decimal& d, int keep) {
  if (d.zero() || keep >= d.count) return;
  if (keep < 0) {
    d.count = 0;
    d.exponent = 0;
    return;
  }
  const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
  d.count = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') {
      d.digits[static_cast<size_t>(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++d.digits[static_cast<size_t>(i)];
    } else {
      // 0.99..9 became 1.00..0: one digit, one place further left.
      d.digits[0] = '1';
      d.count = 1;
      ++d.exponent;
    }
  }
  Trim(d);
}

// The currency formats of the host library: '$' stands for the currency
// string, '1' for the number.
constexpr const char* kPositiveCurrency[] = {"$1", "1$", "$ 1", "1 $"};
constexpr const char* kNegativeCurrency[] = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                             "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                             "$ -1", "1- $", "($ 1)", "(1 $)"};

// The unsigned number of the fixed formats: integer digits (with the
// thousands separator when `grouped`), then `digits` decimals.
void AppendFixed(std::string& out, const Decimal& d, int digits, bool grouped,
                 const TFormatSettings& s) {
  AppendIntegerDigits(out, d, grouped, s.ThousandSeparator);
  if (digits > 0) {
    out += s.DecimalSeparator;
    AppendFractionDigits(out, d, digits);
  }
}

// Reads "d.ddddde+xx" or "de+xx", std::to_chars' scientific form of a
// magnitude, into d.
void ReadScientific(Decimal& d, const char* text, const char* end) {
  const char* e = std::find(text, end, 'e');
  char* digits = d.digits.data();
  int count = 0;
  for (const char* p = text; p < e && count < kMaxSignificant; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  int exponent = 0;
  const bool negative_exponent = e + 1 < end && e[1] == '-';
  for (const char* p = e + 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
  d.count = count;
  d.exponent = (negative_exponent ? -exponent : exponent) + 1;
  Trim(d);
}

}  // namespace

Decimal ToDecimal(double value, int significant) {
  Decimal d;
  if (std::isnan(value)) {
    d.nan = true;
    return d;
  }
  d.negative = std::signbit(value);
  if (std::isinf(value)) {
    d.infinite = true;
    return d;
  }
  if (value == 0) {
    d.negative = false;
    return d;
  }
  // "d.ddddde+xx", correctly rounded as printf("%.*e") rounds it (any
  // double fits in 48 bytes so).
  char text[48];
  const auto r =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific,
                    std::clamp(significant, 1, kMaxSignificant) - 1);
  ReadScientific(d, text, r.ptr);
  return d;
}

Decimal ToDecimal(long double value, int significant) {
  // A value that a double holds exactly (and NaN) takes the double
  // conversion: the same digits, several times faster.
  const auto as_double = static_cast<double>(value);
  if (static_cast<long double>(as_double) == value || std::isnan(value)) {
    return ToDecimal(as_double, significant);
  }
  Decimal d;
  d.negative = std::signbit(value);
  // (64 bytes hold any long double in scientific form.)
  char text[64];
  const auto r =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific,
                    std::clamp(significant, 1, kMaxSignificant) - 1);
  ReadScientific(d, text, r.ptr);
  return d;
}

void RoundToDecimals(Decimal& d, int decimals) {
  RoundAt(d, d.exponent + decimals);
}

void RoundToSignificant(Decimal& d, int count) {
  RoundAt(d, count);
}

void AppendIntegerDigits(std::string& out, const Decimal& d, bool grouped, char separator) {
  if (d.zero() || d.exponent <= 0) {
    out += '0';
    return;
  }
  for (int i = 0; i < d.exponent; ++i) {
    out += d.digit(i);
    const int left = d.exponent - 1 - i;
    if (grouped && left > 0 && left % 3 == 0) out += separator;
  }
}

void AppendFractionDigits(std::string& out, const Decimal& d, int decimals) {
  for (int i = 0; i < decimals; ++i) out += d.digit(d.exponent + i);
}

void AppendSpecial(std::string& out, const Decimal& d) {
  if (d.nan) {
    out += "NAN";
  } else {
    out += d.negative ? "-INF" : "INF";
  }
}

void AppendExponent(std::string& out, int exponent, bool always_sign, int min_digits) {
  if (exponent < 0) {
    out += '-';
  } else if (always_sign) {
    out += '+';
  }
  char text[16];
  const unsigned magnitude =
      exponent < 0 ? 0u - static_cast<unsigned>(exponent) : static_cast<unsigned>(exponent);
  const auto r = std::to_chars(text, text + sizeof text, magnitude);
  AppendRepeated(out, min_digits - static_cast<int>(r.ptr - text), '0');
  out.append(text, r.ptr);
}

void AppendRepeated(std::string& out, int count, char c) {
  if (count > 0) out.append(static_cast<size_t>(count), c);
}

void MoveToFront(std::string& out, size_t start, size_t middle) {
  std::rotate(out.begin() + static_cast<std::ptrdiff_t>(start),
              out.begin() + static_cast<std::ptrdiff_t>(middle), out.end());
}

void AppendFloat(std::string& out, Decimal d, TFloatFormat format, int precision, int digits,
                 const TFormatSettings& s) {
  if (d.nan || d.infinite) {
    AppendSpecial(out, d);
    return;
  }
  precision = std::clamp(precision, 1, kMaxSignificant);
  digits = std::clamp(digits, 0, kMaxSignificant);
  switch (format) {
    case TFloatFormat::ffGeneral: {
      RoundToSignificant(d, precision);
      if (d.zero()) {
        out += '0';
        return;
      }
      if (d.negative) out += '-';
      const int e = d.exponent;
      if (e > precision || e < -4) {
        out += d.digits[0];
        if (d.count > 1) {
          out += s.DecimalSeparator;
          out.append(d.digits.data() + 1, static_cast<size_t>(d.count - 1));
        }
        out += 'E';
        AppendExponent(out, e - 1, false, digits);
        return;
      }
      AppendFixed(out, d, std::max(0, d.count - e), false, s);
      return;
    }
    case TFloatFormat::ffExponent: {
      RoundToSignificant(d, precision);
      if (d.negative && !d.zero()) out += '-';
      // The mantissa has exactly `precision` digits, zero-padded.
      out += d.digit(0);
      if (precision > 1) {
        out += s.DecimalSeparator;
        for (int i = 1; i < precision; ++i) out += d.digit(i);
      }
      out += 'E';
      AppendExponent(out, d.zero() ? 0 : d.exponent - 1, true, digits);
      return;
    }
    case TFloatFormat::ffFixed:
    case TFloatFormat::ffNumber:
    case TFloatFormat::ffCurrency: {
      RoundToSignificant(d, precision);
      RoundToDecimals(d, digits);
      const bool grouped = format != TFloatFormat::ffFixed;
      const bool negative = d.negative && !d.zero();
      if (format != TFloatFormat::ffCurrency) {
        if (negative) out += '-';
        AppendFixed(out, d, digits, grouped, s);
        return;
      }
      const char* pattern = negative ? kNegativeCurrency[s.NegCurrFormat % 16]
                                     : kPositiveCurrency[s.CurrencyFormat % 4];
      for (const char* p = pattern; *p; ++p) {
        if (*p == '$') {
          out += s.CurrencyString;
        } else if (*p == '1') {
          AppendFixed(out, d, digits, grouped, s);
        } else {
          out += *p;
        }
      }
      return;
    }
  }
}

}  // namespace velmora::host::detail
