// The locale settings: reading them from a locale, and the process-wide
// FormatSettings.
#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstring>
#include <string>

#include "velmora/host/format.h"

namespace velmora::host {

namespace {

// A locale object for one category, falling back to "C" when the named
// locale is not installed.
class CategoryLocale {
 public:
  CategoryLocale(int mask, const char* name) {
    loc_ = newlocale(mask, name, static_cast<locale_t>(nullptr));
    if (!loc_) loc_ = newlocale(mask, "C", static_cast<locale_t>(nullptr));
  }
  ~CategoryLocale() {
    if (loc_) freelocale(loc_);
  }
  CategoryLocale(const CategoryLocale&) = delete;
  CategoryLocale& operator=(const CategoryLocale&) = delete;

  bool ok() const { return loc_ != static_cast<locale_t>(nullptr); }
  std::string Item(nl_item item) const {
    const char* s = nl_langinfo_l(item, loc_);
    return s ? s : "";
  }
  // Numeric items of LC_MONETARY are returned as one char.
  int Number(nl_item item) const {
    const char* s = nl_langinfo_l(item, loc_);
    return s && *s ? static_cast<unsigned char>(*s) : CHAR_MAX;
  }

 private:
  locale_t loc_;
};

// Decodes the first character of a UTF-8 text (0 when malformed).
char32_t FirstCodePoint(const std::string& s) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  if (s.empty()) return 0;
  if (b(0) < 0x80) return b(0);
  if ((b(0) >> 5) == 6 && s.size() >= 2) return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
  if ((b(0) >> 4) == 14 && s.size() >= 3) {
    return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  }
  return 0;
}

// One byte standing for a separator that the locale spells with several.
char SingleByte(const std::string& sep, char fallback) {
  if (sep.size() == 1) return sep[0];
  if (sep.empty()) return fallback;
  switch (FirstCodePoint(sep)) {
    case 0x00A0:  // no-break space
    case 0x2007:  // figure space
    case 0x2008:  // punctuation space
    case 0x2009:  // thin space
    case 0x202F:  // narrow no-break space
      return ' ';
    case 0x2019:  // right single quotation mark
    case 0x02BC:  // modifier letter apostrophe
      return '\'';
    case 0x066B:  // Arabic decimal separator
      return '.';
    case 0x066C:  // Arabic thousands separator
      return ',';
    default:
      return fallback;
  }
}

// Converts a strftime pattern to the FormatDateTime language, with the date
// and time separators written as '/' and ':'.  Returns the separator found
// between the first two fields through `separator` (0 if none).
std::string ConvertPattern(const std::string& f, char& separator, bool& twelve_hour) {
  std::string out;
  separator = 0;
  int fields = 0;
  std::string pending;  // literal text between fields
  auto flush = [&](bool before_field) {
    if (pending.empty()) return;
    if (before_field && fields == 1 && separator == 0 && pending.size() == 1) {
      separator = pending[0];
    }
    // Letters would read as pattern letters: quote them.
    bool letters = false;
    for (char c : pending) letters |= (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    out += letters ? "\"" + pending + "\"" : pending;
    pending.clear();
  };
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%' || i + 1 >= f.size()) {
      pending += f[i];
      continue;
    }
    char c = f[++i];
    while ((c == 'E' || c == 'O' || c == '-' || c == '_' || c == '0' || c == '^' || c == '#') &&
           i + 1 < f.size()) {
      c = f[++i];  // modifiers and flags
    }
    const char* field = nullptr;
    switch (c) {
      case 'd':
        field = "dd";
        break;
      case 'e':
        field = "d";
        break;
      case 'm':
        field = "mm";
        break;
      case 'y':
        field = "yy";
        break;
      case 'Y':
        field = "yyyy";
        break;
      case 'b':
      case 'h':
        field = "mmm";
        break;
      case 'B':
        field = "mmmm";
        break;
      case 'a':
        field = "ddd";
        break;
      case 'A':
        field = "dddd";
        break;
      case 'H':
      case 'k':
        field = "hh";
        break;
      case 'I':
      case 'l':
        field = "hh";
        twelve_hour = true;
        break;
      case 'M':
        field = "nn";
        break;
      case 'S':
        field = "ss";
        break;
      case 'p':
      case 'P':
        field = "ampm";
        twelve_hour = true;
        break;
      case 'T':
        field = "hh:nn:ss";
        break;
      case 'R':
        field = "hh:nn";
        break;
      case 'r':
        field = "hh:nn:ss ampm";
        twelve_hour = true;
        break;
      case 'D':
        field = "mm/dd/yy";
        break;
      case 'F':
        field = "yyyy/mm/dd";
        break;
      case '%':
        pending += '%';
        continue;
      case 'n':
        pending += ' ';
        continue;
      case 't':
        pending += ' ';
        continue;
      default:
        continue;  // fields without a counterpart are dropped
    }
    if (c == 'T' || c == 'R' || c == 'r') {
      if (separator == 0) separator = ':';
    } else if (c == 'D') {
      if (separator == 0) separator = '/';
    } else if (c == 'F') {
      if (separator == 0) separator = '-';
    }
    flush(true);
    out += field;
    ++fields;
  }
  flush(false);
  return out;
}

// Replaces every occurrence of the separator byte with its placeholder.
std::string WithPlaceholder(std::string pattern, char separator, char placeholder) {
  if (separator == 0 || separator == placeholder) return pattern;
  bool quoted = false;
  for (char& c : pattern) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == separator) c = placeholder;
  }
  return pattern;
}

}  // namespace

TFormatSettings GetLocaleFormatSettings(const char* locale_name) {
  TFormatSettings s;
  const char* name = locale_name ? locale_name : "";

  CategoryLocale numeric(LC_NUMERIC_MASK, name);
  if (numeric.ok()) {
    std::string decimal = numeric.Item(RADIXCHAR);
    std::string thousands = numeric.Item(THOUSEP);
    s.DecimalSeparator = SingleByte(decimal, '.');
    char other = s.DecimalSeparator == ',' ? '.' : ',';
    s.ThousandSeparator = SingleByte(thousands, thousands.empty() ? other : ' ');
    if (s.ThousandSeparator == s.DecimalSeparator) s.ThousandSeparator = other;
    s.ListSeparator = s.DecimalSeparator == ',' ? ';' : ',';
  }

  CategoryLocale monetary(LC_MONETARY_MASK, name);
  if (monetary.ok()) {
    s.CurrencyString = monetary.Item(CURRENCY_SYMBOL);
    int precedes = monetary.Number(__P_CS_PRECEDES);
    int space = monetary.Number(__P_SEP_BY_SPACE);
    int digits = monetary.Number(__FRAC_DIGITS);
    bool before = precedes == CHAR_MAX ? true : precedes != 0;
    bool blank = space != CHAR_MAX && space != 0;
    s.CurrencyFormat = static_cast<uint8_t>((before ? 0 : 1) + (blank ? 2 : 0));
    s.NegCurrFormat = before ? (blank ? 9 : 1) : (blank ? 8 : 5);
    s.CurrencyDecimals = digits == CHAR_MAX || digits > 18 ? 2 : static_cast<uint8_t>(digits);
  }

  CategoryLocale time(LC_TIME_MASK, name);
  if (time.ok()) {
    for (int i = 0; i < 12; ++i) {
      s.ShortMonthNames[i] = time.Item(ABMON_1 + i);
      s.LongMonthNames[i] = time.Item(MON_1 + i);
    }
    for (int i = 0; i < 7; ++i) {
      s.ShortDayNames[i] = time.Item(ABDAY_1 + i);
      s.LongDayNames[i] = time.Item(DAY_1 + i);
    }
    std::string am = time.Item(AM_STR), pm = time.Item(PM_STR);
    s.TimeAMString = am;
    s.TimePMString = pm;

    bool twelve = false;
    char date_sep = 0, time_sep = 0;
    std::string date = ConvertPattern(time.Item(D_FMT), date_sep, twelve);
    twelve = false;
    std::string clock = ConvertPattern(time.Item(T_FMT), time_sep, twelve);
    if (twelve && (am.empty() || pm.empty())) {
      // A 12-hour clock without AM/PM texts would be ambiguous.
      clock = ConvertPattern("%H:%M:%S", time_sep, twelve);
    }
    s.DateSeparator = date_sep && static_cast<unsigned char>(date_sep) < 0x80 ? date_sep : '/';
    s.TimeSeparator = time_sep && static_cast<unsigned char>(time_sep) < 0x80 ? time_sep : ':';
    if (!date.empty()) s.ShortDateFormat = WithPlaceholder(date, s.DateSeparator, '/');
    if (!clock.empty()) s.LongTimeFormat = WithPlaceholder(clock, s.TimeSeparator, ':');
    // The short time drops the seconds.
    std::string shorter = s.LongTimeFormat;
    size_t sec = shorter.find(":ss");
    if (sec != std::string::npos) shorter.erase(sec, 3);
    s.ShortTimeFormat = shorter;
    s.LongDateFormat = !s.ShortDateFormat.empty() && (s.ShortDateFormat[0] == 'm')
                           ? "dddd, mmmm d, yyyy"
                           : "dddd, d mmmm yyyy";
  }
  return s;
}

// Read before every other start-up code of the library, so that units which
// copy locale data when they start (month names) see the locale's.
__attribute__((init_priority(200))) TFormatSettings FormatSettings = GetLocaleFormatSettings("");

}  // namespace velmora::host
