// Locale settings and the formatting of numbers: Format, FormatFloat,
// FloatToStr and the text-to-number conversions.
//
// FormatSettings is read from the environment's locale when the library
// starts (before any other start-up code of the library runs); the program
// and tests may change it.  Every function that depends on it has an overload
// taking explicit settings.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace velmora::host {

struct TFormatSettings {
  std::string CurrencyString;  // in the locale's own encoding
  uint8_t CurrencyFormat = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  uint8_t NegCurrFormat = 1;   // 0 "($1)", 1 "-$1", ... 15 "(1 $)"
  uint8_t CurrencyDecimals = 2;
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  // Date and time patterns in FormatDateTime's language; '/' and ':' in them
  // stand for DateSeparator and TimeSeparator.
  std::string ShortDateFormat = "mm/dd/yy";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  // January first; Sunday first.  In the locale's own encoding (UTF-8 in a
  // UTF-8 locale).
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  uint16_t TwoDigitYearCenturyWindow = 50;
};

// The settings of a locale ("de_DE.UTF-8"; "" = the environment's, category
// by category; a locale that is not installed gives the "C" settings).
// Separators are single bytes: a locale whose separator is a multi-byte
// character gets a one-byte stand-in (a blank for the no-break and narrow
// spaces, an apostrophe for the typographic apostrophe).  A locale without a
// thousands separator (the "C" locale) gets ',' (or '.' when its decimal
// separator is ',').
TFormatSettings GetLocaleFormatSettings(const char* locale_name);

// The process-wide settings, read from the environment's locale at start-up.
extern TFormatSettings FormatSettings;

// One argument of Format: a whole number, a floating-point number, a string
// or a pointer.
class FormatArg {
 public:
  enum class Kind { Int, Float, String, Pointer };

  template <std::integral T>
  requires(!std::same_as<T, bool>) FormatArg(T v) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::same_as<T, char>) {
      kind_ = Kind::String;
      char_ = v;
      str_ = std::string_view(&char_, 1);
    } else {
      kind_ = Kind::Int;
      int_ = static_cast<int64_t>(v);
      unsigned_ = std::is_unsigned_v<T>;
      bits_ = sizeof(T) > 4 ? 64 : 32;
    }
  }
  FormatArg(bool) = delete;
  FormatArg(double v) : kind_(Kind::Float), float_(v), digits_(15) {}       // NOLINT
  FormatArg(float v) : kind_(Kind::Float), float_(v), digits_(15) {}        // NOLINT
  FormatArg(long double v) : kind_(Kind::Float), float_(v), digits_(18) {}  // NOLINT
  FormatArg(const std::string& v) : kind_(Kind::String), str_(v) {}         // NOLINT
  FormatArg(std::string_view v) : kind_(Kind::String), str_(v) {}           // NOLINT
  FormatArg(const char* v) : kind_(Kind::String), str_(v ? v : "") {}       // NOLINT
  FormatArg(const void* v) : kind_(Kind::Pointer), ptr_(v) {}               // NOLINT

  Kind kind() const { return kind_; }
  int64_t int_value() const { return int_; }
  bool is_unsigned() const { return unsigned_; }
  int bits() const { return bits_; }
  long double float_value() const { return float_; }
  // Significant decimal digits the value carries (15 double, 18 long double).
  int float_digits() const { return digits_; }
  std::string_view string_value() const { return str_; }
  const void* pointer_value() const { return ptr_; }

 private:
  Kind kind_;
  int64_t int_ = 0;
  bool unsigned_ = false;
  int bits_ = 32;
  long double float_ = 0;
  int digits_ = 15;
  std::string_view str_;
  char char_ = 0;
  const void* ptr_ = nullptr;
};

// Formats like the host library's Format: "%" [index ":"] ["-"] [width]
// ["." precision] type, where width, precision and index may be "*" (taken
// from the arguments) and type is one of
//   d  decimal (precision: minimum digits, zero-padded)
//   u  unsigned decimal
//   x  hexadecimal, upper-case digits (precision: minimum digits)
//   e  scientific, d.ddd...E+ddd (precision: significant digits, default 15)
//   f  fixed (precision: decimals, default 2)
//   g  general, the shorter of fixed and scientific (precision: significant
//      digits, default 15)
//   n  like f, with thousands separators
//   m  money: CurrencyString, CurrencyFormat, CurrencyDecimals
//   p  pointer, 16 hex digits
//   s  string (precision: at most that many bytes)
// and "%%" is a percent sign.  Type letters may be upper case.  A width pads
// with blanks on the left ("-": on the right).  Decimal places round halves
// away from zero.  A missing argument, an argument of the wrong kind or a
// malformed specifier raises EConvertError naming the format.
std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);
std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args,
                   const TFormatSettings& settings);

// Appending form of Format: appends exactly what Format returns to `out`.
// The digit work is done in fixed-size buffers and the text is written
// straight into `out`, so nothing is allocated while out.capacity() holds
// out.size() plus the result (a line rewritten per buffer reuses its memory:
// `line.clear(); FormatTo(line, ...)`).  On EConvertError `out` is left as it
// was.  No argument may view `out` itself.
void FormatTo(std::string& out, std::string_view fmt, std::initializer_list<FormatArg> args);
void FormatTo(std::string& out, std::string_view fmt, std::initializer_list<FormatArg> args,
              const TFormatSettings& settings);

// Formats a number with a pattern of the host library's float-pattern
// language:
//   0   a digit, always shown        #   a digit, shown when significant
//   .   the decimal separator (first one)
//   ,   thousands separators in the integer part (anywhere before the point)
//   E+ E- e+ e-   scientific notation, followed by exponent digits ("0")
//   "xx" 'xx'     literal text;  any other character: itself
//   ;   separates the sections for positive; negative; zero values
// Digits beyond the pattern's decimals are rounded with halves away from
// zero (1335.5 -> "1336", 1334.5 -> "1335", -0.125 with "0.00" -> "-0.13"),
// on the value's decimal digits (15 significant digits for a double).  A
// value that rounds to zero shows no minus sign.  An empty pattern formats
// like FloatToStr.
std::string FormatFloat(std::string_view pattern, long double value);
std::string FormatFloat(std::string_view pattern, long double value,
                        const TFormatSettings& settings);
std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& settings);
std::string FormatFloat(std::string_view pattern, double value);

// Appending form of FormatFloat: appends exactly what FormatFloat returns to
// `out`, allocating nothing while out.capacity() holds out.size() plus the
// result.  A double is formatted on its 15 significant digits, a long double
// on 18.
void FormatFloatTo(std::string& out, std::string_view pattern, double value,
                   const TFormatSettings& settings);
void FormatFloatTo(std::string& out, std::string_view pattern, long double value,
                   const TFormatSettings& settings);
void FormatFloatTo(std::string& out, std::string_view pattern, double value);
void FormatFloatTo(std::string& out, std::string_view pattern, long double value);

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// ffGeneral: `precision` significant digits, fixed unless the value needs
// more integer digits than that or is below 0.00001, trailing zeros removed;
// `digits` is the minimum exponent digits.  ffExponent: d.ddd...E+ddd with
// `precision` digits and at least `digits` exponent digits.  ffFixed,
// ffNumber (with thousands separators), ffCurrency: `digits` decimals.
// "NAN", "INF" and "-INF" for the special values.
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits);
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings);

// General format with 15 significant digits ("0.3", "1E20", "1.5E-6").
std::string FloatToStr(double value);
std::string FloatToStr(double value, const TFormatSettings& settings);
std::string FloatToStr(long double value);

std::string IntToStr(int64_t value);
// Upper-case hexadecimal with at least `digits` digits.
std::string IntToHex(uint64_t value, int digits);

// The whole text (blanks allowed at either end) as a decimal number with
// the settings' decimal separator and an optional exponent; no thousands
// separators.
bool TryStrToFloat(std::string_view text, double& value);
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings);
double StrToFloatDef(std::string_view text, double fallback);
double StrToFloatDef(std::string_view text, double fallback, const TFormatSettings& settings);
// EConvertError: '<text>' is not a valid floating point value.
double StrToFloat(std::string_view text);
double StrToFloat(std::string_view text, const TFormatSettings& settings);

// A 32-bit whole number in decimal, or hexadecimal after "$" or "0x"; blanks
// allowed at either end.
bool TryStrToInt(std::string_view text, int32_t& value);
int32_t StrToIntDef(std::string_view text, int32_t fallback);
// EConvertError: '<text>' is not a valid integer value.
int32_t StrToInt(std::string_view text);
bool TryStrToInt64(std::string_view text, int64_t& value);
int64_t StrToInt64Def(std::string_view text, int64_t fallback);

}  // namespace velmora::host
