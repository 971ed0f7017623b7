// Format and the FloatToStrF family.  The returning forms are wrappers over
// the appending ones, so every rule lives in one place: the digits and the
// float formats in float_text.cpp, the specifier language here.
#include "velmora/host/format.h"

#include <algorithm>
#include <charconv>

#include "velmora/host/exception.h"
#include "velmora/host/float_text.h"

namespace velmora::host {

using detail::Decimal;

namespace {

[[noreturn]] void Invalid(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

[[noreturn]] void NoArgument(std::string_view fmt) {
  throw EConvertError("No argument for format '" + std::string(fmt) + "'");
}

// Appends v in base 10 or 16 (upper-case digits), zero-padded to at least
// `min_digits` digits.
void AppendUnsigned(std::string& out, uint64_t v, int base, int min_digits) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, v, base);
  for (char* p = text; p < r.ptr; ++p) {
    if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
  }
  detail::AppendRepeated(out, min_digits - static_cast<int>(r.ptr - text), '0');
  out.append(text, r.ptr);
}

uint64_t AsUnsigned(const FormatArg& a) {
  if (a.is_unsigned()) return static_cast<uint64_t>(a.int_value());
  if (a.bits() == 32) return static_cast<uint32_t>(static_cast<int32_t>(a.int_value()));
  return static_cast<uint64_t>(a.int_value());
}

// The float kinds e, f, g, n, m; `precision` < 0 when the specifier has none.
void AppendFloatArg(std::string& out, char type, const FormatArg& a, int precision,
                    const TFormatSettings& s) {
  const Decimal d = detail::ToDecimal(a.float_value(), a.float_digits());
  const int type_digits = a.float_digits();
  switch (type) {
    case 'e':
      detail::AppendFloat(out, d, TFloatFormat::ffExponent, precision < 0 ? 15 : precision, 3, s);
      break;
    case 'g':
      detail::AppendFloat(out, d, TFloatFormat::ffGeneral, precision < 0 ? 15 : precision, 0, s);
      break;
    case 'f':
      detail::AppendFloat(out, d, TFloatFormat::ffFixed, type_digits, precision < 0 ? 2 : precision,
                          s);
      break;
    case 'n':
      detail::AppendFloat(out, d, TFloatFormat::ffNumber, type_digits,
                          precision < 0 ? 2 : precision, s);
      break;
    default:  // 'm'
      detail::AppendFloat(out, d, TFloatFormat::ffCurrency, type_digits,
                          precision < 0 ? s.CurrencyDecimals : precision, s);
      break;
  }
}

// Appends the formatted text; may leave a part of it in `out` when it
// raises (FormatTo removes it).
void AppendFormatted(std::string& out, std::string_view fmt, std::initializer_list<FormatArg> args,
                     const TFormatSettings& s) {
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
    if (fmt[i] != '%') {
      // Literal text up to the next specifier, in one piece.
      const size_t end = std::min(fmt.find('%', i), fmt.size());
      out.append(fmt.substr(i, end - i));
      i = end;
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
    const char type = static_cast<char>(fmt[i] | 0x20);  // lower case
    ++i;

    const size_t item = out.size();
    switch (type) {
      case 'd':
      case 'u': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Int) Invalid(fmt);
        uint64_t magnitude;
        if (type == 'u' || a.is_unsigned()) {
          magnitude = AsUnsigned(a);
        } else if (a.int_value() < 0) {
          out += '-';
          magnitude = 0 - static_cast<uint64_t>(a.int_value());
        } else {
          magnitude = static_cast<uint64_t>(a.int_value());
        }
        AppendUnsigned(out, magnitude, 10, precision);
        break;
      }
      case 'x': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Int) Invalid(fmt);
        AppendUnsigned(out, AsUnsigned(a), 16, precision);
        break;
      }
      case 'p': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Pointer) Invalid(fmt);
        AppendUnsigned(out, reinterpret_cast<uintptr_t>(a.pointer_value()), 16, 16);
        break;
      }
      case 's': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::String) Invalid(fmt);
        std::string_view v = a.string_value();
        if (precision >= 0 && static_cast<size_t>(precision) < v.size()) v = v.substr(0, precision);
        out.append(v);
        break;
      }
      case 'e':
      case 'f':
      case 'g':
      case 'n':
      case 'm': {
        const FormatArg& a = take();
        if (a.kind() != FormatArg::Kind::Float) Invalid(fmt);
        AppendFloatArg(out, type, a, precision, s);
        break;
      }
      default:
        Invalid(fmt);
    }
    // A width pads with blanks: behind the item, or moved in front of it.
    const size_t written = out.size() - item;
    if (width > 0 && static_cast<size_t>(width) > written) {
      const size_t end = out.size();
      out.append(static_cast<size_t>(width) - written, ' ');
      if (!left) detail::MoveToFront(out, item, end);
    }
  }
}

}  // namespace

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings) {
  std::string out;
  detail::AppendFloat(out, detail::ToDecimal(value, 18), format, precision, digits, settings);
  return out;
}

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits) {
  return FloatToStrF(value, format, precision, digits, FormatSettings);
}

std::string FloatToStr(double value, const TFormatSettings& settings) {
  std::string out;
  detail::AppendFloat(out, detail::ToDecimal(value, 15), TFloatFormat::ffGeneral, 15, 0, settings);
  return out;
}

std::string FloatToStr(double value) {
  return FloatToStr(value, FormatSettings);
}

std::string FloatToStr(long double value) {
  return FloatToStrF(value, TFloatFormat::ffGeneral, 18, 0, FormatSettings);
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string IntToHex(uint64_t value, int digits) {
  std::string out;
  AppendUnsigned(out, value, 16, digits);
  return out;
}

void FormatTo(std::string& out, std::string_view fmt, std::initializer_list<FormatArg> args,
              const TFormatSettings& settings) {
  const size_t start = out.size();
  try {
    AppendFormatted(out, fmt, args, settings);
  } catch (...) {
    out.resize(start);
    throw;
  }
}

void FormatTo(std::string& out, std::string_view fmt, std::initializer_list<FormatArg> args) {
  FormatTo(out, fmt, args, FormatSettings);
}

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args,
                   const TFormatSettings& settings) {
  std::string out;
  AppendFormatted(out, fmt, args, settings);
  return out;
}

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  return Format(fmt, args, FormatSettings);
}

}  // namespace velmora::host
