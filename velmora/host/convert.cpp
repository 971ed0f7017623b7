// Text to number conversions.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "velmora/host/exception.h"
#include "velmora/host/format.h"

namespace velmora::host {

namespace {

std::string_view StripBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings) {
  std::string_view s = StripBlanks(text);
  // Checks the shape: [sign] digits [separator digits] [(e|E) [sign] digits],
  // with at least one digit in the mantissa; builds the C form as it goes.
  std::string c;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') c += '-';
    ++i;
  }
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    c += s[i++];
    ++digits;
  }
  if (i < s.size() && s[i] == settings.DecimalSeparator) {
    c += '.';
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      c += s[i++];
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) c += s[i++];
    size_t exp_digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      c += s[i++];
      ++exp_digits;
    }
    if (exp_digits == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  auto [end, ec] = std::from_chars(c.data(), c.data() + c.size(), v);
  if (end != c.data() + c.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too large: an overflow is not a number we can give; an underflow is 0.
    bool big = false;
    size_t e = c.find('e');
    if (e != std::string::npos) big = c[e + 1] != '-';
    if (big) return false;
    v = 0;
  } else if (ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

bool TryStrToFloat(std::string_view text, double& value) {
  return TryStrToFloat(text, value, FormatSettings);
}

double StrToFloatDef(std::string_view text, double fallback, const TFormatSettings& settings) {
  double v;
  return TryStrToFloat(text, v, settings) ? v : fallback;
}

double StrToFloatDef(std::string_view text, double fallback) {
  return StrToFloatDef(text, fallback, FormatSettings);
}

double StrToFloat(std::string_view text, const TFormatSettings& settings) {
  double v;
  if (!TryStrToFloat(text, v, settings)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return v;
}

double StrToFloat(std::string_view text) {
  return StrToFloat(text, FormatSettings);
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  std::string_view s = StripBlanks(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s[0] == '+' || s[0] == '-') return false;
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  if (negative) {
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
    value = static_cast<int64_t>(0 - magnitude);
  } else {
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    value = static_cast<int64_t>(magnitude);
  }
  return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t v;
  if (!TryStrToInt64(text, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int32_t v;
  return TryStrToInt(text, v) ? v : fallback;
}

int32_t StrToInt(std::string_view text) {
  int32_t v;
  if (!TryStrToInt(text, v)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return v;
}

int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
  int64_t v;
  return TryStrToInt64(text, v) ? v : fallback;
}

}  // namespace velmora::host
