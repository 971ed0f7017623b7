#include "host/float_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::host::detail {

namespace {

void Trim(Decimal& d) {
  size_t lead = d.digits.find_first_not_of('0');
  if (lead == std::string::npos) {
    d.digits.clear();
    d.exponent = 0;
    return;
  }
  d.digits.erase(0, lead);
  d.exponent -= static_cast<int>(lead);
  size_t last = d.digits.find_last_not_of('0');
  d.digits.erase(last + 1);
}

// Keeps the first `keep` digits (keep may be <= 0) and rounds on the next one,
// halves away from zero.
void RoundAt(Decimal& d, int keep) {
  if (d.zero() || keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d.digits.clear();
    d.exponent = 0;
    return;
  }
  bool up = d.digits[static_cast<size_t>(keep)] >= '5';
  d.digits.resize(static_cast<size_t>(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') {
      d.digits[static_cast<size_t>(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++d.digits[static_cast<size_t>(i)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  Trim(d);
}

}  // namespace

Decimal ToDecimal(long double value, int significant) {
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
  significant = std::clamp(significant, 1, 18);
  char buf[64];
  // "-d.ddddE+xx": correctly rounded by the C library.
  std::snprintf(buf, sizeof buf, "%.*Le", significant - 1, std::fabs(value));
  std::string text(buf);
  size_t e = text.find('e');
  for (size_t i = 0; i < e; ++i) {
    if (text[i] >= '0' && text[i] <= '9') d.digits += text[i];
  }
  d.exponent = std::atoi(text.c_str() + e + 1) + 1;
  Trim(d);
  return d;
}

void RoundToDecimals(Decimal& d, int decimals) {
  RoundAt(d, d.exponent + decimals);
}

void RoundToSignificant(Decimal& d, int count) {
  RoundAt(d, count);
}

std::string IntegerDigits(const Decimal& d) {
  if (d.zero() || d.exponent <= 0) return "0";
  std::string out = d.digits.substr(0, std::min<size_t>(d.digits.size(), d.exponent));
  out.resize(static_cast<size_t>(d.exponent), '0');
  return out;
}

std::string FractionDigits(const Decimal& d, int decimals) {
  std::string out;
  out.reserve(static_cast<size_t>(std::max(decimals, 0)));
  for (int i = 0; i < decimals; ++i) {
    int index = d.exponent + i;  // digit position in d.digits
    char c = '0';
    if (!d.zero() && index >= 0 && index < static_cast<int>(d.digits.size())) {
      c = d.digits[static_cast<size_t>(index)];
    }
    out += c;
  }
  return out;
}

std::string GroupThousands(const std::string& digits, char separator) {
  std::string out;
  size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    out += digits[i];
    size_t left = n - 1 - i;
    if (left > 0 && left % 3 == 0) out += separator;
  }
  return out;
}

std::string Concat(std::string_view prefix, std::string_view s) {
  std::string out;
  out.reserve(prefix.size() + s.size());
  out.append(prefix);
  out.append(s);
  return out;
}

std::string SpecialText(const Decimal& d) {
  if (d.nan) return "NAN";
  return d.negative ? "-INF" : "INF";
}

}  // namespace velmora::host::detail
