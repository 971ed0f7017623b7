#include "host/format.h"

#include <algorithm>
#include <cstdio>

#include "host/exception.h"
#include "host/float_text.h"

namespace velmora::host {

using detail::Decimal;

namespace {

// The number and its sign as the currency formats of the host library place
// them: '$' stands for the currency string, '1' for the number.
constexpr const char* kPositiveCurrency[] = {"$1", "1$", "$ 1", "1 $"};
constexpr const char* kNegativeCurrency[] = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                             "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                             "$ -1", "1- $", "($ 1)", "(1 $)"};

std::string ApplyCurrency(const char* pattern, const std::string& number,
                          const TFormatSettings& s) {
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '$') {
      out += s.CurrencyString;
    } else if (*p == '1') {
      out += number;
    } else {
      out += *p;
    }
  }
  return out;
}

std::string ExponentText(int exponent, bool always_sign, int min_digits) {
  std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (static_cast<int>(digits.size()) < min_digits) {
    digits.insert(0, static_cast<size_t>(min_digits) - digits.size(), '0');
  }
  if (exponent < 0) return detail::Concat("-", digits);
  return always_sign ? detail::Concat("+", digits) : digits;
}

// Formats d (holding the value's own significant digits).
std::string FormatDecimal(Decimal d, TFloatFormat format, int precision, int digits,
                          const TFormatSettings& s) {
  if (d.nan || d.infinite) return detail::SpecialText(d);
  precision = std::clamp(precision, 1, 18);
  digits = std::clamp(digits, 0, 18);
  switch (format) {
    case TFloatFormat::ffGeneral: {
      detail::RoundToSignificant(d, precision);
      if (d.zero()) return "0";
      std::string out = d.negative ? "-" : "";
      int e = d.exponent;
      if (e > precision || e < -4) {
        out += d.digits[0];
        if (d.digits.size() > 1) {
          out += s.DecimalSeparator;
          out += d.digits.substr(1);
        }
        out += 'E';
        out += ExponentText(e - 1, false, digits);
        return out;
      }
      std::string integer = detail::IntegerDigits(d);
      int decimals = std::max(0, static_cast<int>(d.digits.size()) - e);
      out += integer;
      if (decimals > 0) {
        out += s.DecimalSeparator;
        out += detail::FractionDigits(d, decimals);
      }
      return out;
    }
    case TFloatFormat::ffExponent: {
      detail::RoundToSignificant(d, precision);
      std::string out = d.negative && !d.zero() ? "-" : "";
      std::string mantissa = d.digits;
      mantissa.resize(static_cast<size_t>(precision), '0');
      out += mantissa[0];
      if (precision > 1) {
        out += s.DecimalSeparator;
        out += mantissa.substr(1);
      }
      out += 'E';
      out += ExponentText(d.zero() ? 0 : d.exponent - 1, true, digits);
      return out;
    }
    case TFloatFormat::ffFixed:
    case TFloatFormat::ffNumber:
    case TFloatFormat::ffCurrency: {
      detail::RoundToSignificant(d, precision);
      detail::RoundToDecimals(d, digits);
      std::string integer = detail::IntegerDigits(d);
      if (format != TFloatFormat::ffFixed)
        integer = detail::GroupThousands(integer, s.ThousandSeparator);
      std::string number = integer;
      if (digits > 0) {
        number += s.DecimalSeparator;
        number += detail::FractionDigits(d, digits);
      }
      bool negative = d.negative && !d.zero();
      if (format == TFloatFormat::ffCurrency) {
        return negative ? ApplyCurrency(kNegativeCurrency[s.NegCurrFormat % 16], number, s)
                        : ApplyCurrency(kPositiveCurrency[s.CurrencyFormat % 4], number, s);
      }
      return negative ? detail::Concat("-", number) : number;
    }
  }
  return {};
}

[[noreturn]] void Invalid(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

[[noreturn]] void NoArgument(std::string_view fmt) {
  throw EConvertError("No argument for format '" + std::string(fmt) + "'");
}

std::string Hex(uint64_t v, int min_digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
  std::string out(buf);
  if (static_cast<int>(out.size()) < min_digits) {
    out.insert(0, static_cast<size_t>(min_digits) - out.size(), '0');
  }
  return out;
}

uint64_t AsUnsigned(const FormatArg& a) {
  if (a.is_unsigned()) return static_cast<uint64_t>(a.int_value());
  if (a.bits() == 32) return static_cast<uint32_t>(static_cast<int32_t>(a.int_value()));
  return static_cast<uint64_t>(a.int_value());
}

std::string ZeroPad(std::string digits, int min_digits) {
  if (static_cast<int>(digits.size()) < min_digits) {
    digits.insert(0, static_cast<size_t>(min_digits) - digits.size(), '0');
  }
  return digits;
}

}  // namespace

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings) {
  return FormatDecimal(detail::ToDecimal(value, 18), format, precision, digits, settings);
}

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits) {
  return FloatToStrF(value, format, precision, digits, FormatSettings);
}

std::string FloatToStr(double value, const TFormatSettings& settings) {
  return FormatDecimal(detail::ToDecimal(value, 15), TFloatFormat::ffGeneral, 15, 0, settings);
}

std::string FloatToStr(double value) {
  return FloatToStr(value, FormatSettings);
}

std::string FloatToStr(long double value) {
  return FormatDecimal(detail::ToDecimal(value, 18), TFloatFormat::ffGeneral, 18, 0,
                       FormatSettings);
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string IntToHex(uint64_t value, int digits) {
  return Hex(value, digits);
}

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  return Format(fmt, args, FormatSettings);
}

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args,
                   const TFormatSettings& s) {
  std::string out;
  const FormatArg* argv = args.begin();
  const size_t argc = args.size();
  size_t next_arg = 0;
  auto take = [&]() -> const FormatArg& {
    if (next_arg >= argc) NoArgument(fmt);
    return argv[next_arg++];
  };
  // A number written in the specifier, or "*" taken from the arguments.
  auto number = [&](size_t& i, int& value) -> bool {
    if (i < fmt.size() && fmt[i] == '*') {
      const FormatArg& a = take();
      if (a.kind() != FormatArg::Kind::Int) Invalid(fmt);
      value = static_cast<int>(std::clamp<int64_t>(a.int_value(), -1000000, 1000000));
      ++i;
      return true;
    }
    if (i >= fmt.size() || fmt[i] < '0' || fmt[i] > '9') return false;
    int64_t v = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      v = std::min<int64_t>(v * 10 + (fmt[i] - '0'), 1000000);
      ++i;
    }
    value = static_cast<int>(v);
    return true;
  };

  size_t i = 0;
  while (i < fmt.size()) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    ++i;
    if (i >= fmt.size()) Invalid(fmt);
    if (fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // [index ":"] ["-"] [width] ["." precision] type
    int width = -1, precision = -1;
    bool left = false;
    int first = 0;
    bool have_first = number(i, first);
    if (have_first && i < fmt.size() && fmt[i] == ':') {
      if (first < 0 || static_cast<size_t>(first) >= argc) NoArgument(fmt);
      next_arg = static_cast<size_t>(first);
      ++i;
      have_first = false;
    } else if (have_first) {
      width = first;
    }
    if (!have_first) {
      if (i < fmt.size() && fmt[i] == '-') {
        left = true;
        ++i;
      }
      number(i, width);
    }
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      if (!number(i, precision)) precision = 0;
    }
    if (i >= fmt.size()) Invalid(fmt);
    char type = static_cast<char>(fmt[i] | 0x20);  // lower case
    ++i;

    std::string text;
    switch (type) {
      case 'd':
      case 'u': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Int) Invalid(fmt);
        bool negative = false;
        uint64_t magnitude;
        if (type == 'u' || a.is_unsigned()) {
          magnitude = AsUnsigned(a);
        } else {
          negative = a.int_value() < 0;
          magnitude = negative ? 0 - static_cast<uint64_t>(a.int_value())
                               : static_cast<uint64_t>(a.int_value());
        }
        text = ZeroPad(std::to_string(magnitude), precision);
        if (negative) text = detail::Concat("-", text);
        break;
      }
      case 'x': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Int) Invalid(fmt);
        text = Hex(AsUnsigned(a), precision);
        break;
      }
      case 'p': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Pointer) Invalid(fmt);
        text = Hex(reinterpret_cast<uintptr_t>(a.pointer_value()), 16);
        break;
      }
      case 's': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::String) Invalid(fmt);
        std::string_view v = a.string_value();
        if (precision >= 0 && static_cast<size_t>(precision) < v.size()) v = v.substr(0, precision);
        text = std::string(v);
        break;
      }
      case 'e':
      case 'f':
      case 'g':
      case 'n':
      case 'm': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Float) Invalid(fmt);
        Decimal d = detail::ToDecimal(a.float_value(), a.float_digits());
        int type_digits = a.float_digits();
        switch (type) {
          case 'e':
            text = FormatDecimal(d, TFloatFormat::ffExponent, precision < 0 ? 15 : precision, 3, s);
            break;
          case 'g':
            text = FormatDecimal(d, TFloatFormat::ffGeneral, precision < 0 ? 15 : precision, 0, s);
            break;
          case 'f':
            text = FormatDecimal(d, TFloatFormat::ffFixed, type_digits,
                                 precision < 0 ? 2 : precision, s);
            break;
          case 'n':
            text = FormatDecimal(d, TFloatFormat::ffNumber, type_digits,
                                 precision < 0 ? 2 : precision, s);
            break;
          default:
            text = FormatDecimal(d, TFloatFormat::ffCurrency, type_digits,
                                 precision < 0 ? s.CurrencyDecimals : precision, s);
            break;
        }
        break;
      }
      default:
        Invalid(fmt);
    }
    if (width > 0 && static_cast<size_t>(width) > text.size()) {
      std::string pad(static_cast<size_t>(width) - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

}  // namespace velmora::host
