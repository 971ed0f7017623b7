// FormatDateTime: dates and times through a pattern (see datetime.h).
#include <cctype>
#include <cmath>
#include <string>

#include "velmora/host/datetime.h"
#include "velmora/host/exception.h"

namespace velmora::host {

namespace {

struct Parts {
  uint16_t year, month, day, hour, min, sec, msec;
  int weekday;  // 1 = Sunday
  bool has_time;
};

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view s, size_t i, std::string_view what) {
  if (s.size() - i < what.size()) return false;
  for (size_t k = 0; k < what.size(); ++k) {
    if (Lower(s[i + k]) != what[k]) return false;
  }
  return true;
}

// Length of a run of the same letter (any case) at i.
size_t Run(std::string_view s, size_t i) {
  size_t n = 1;
  while (i + n < s.size() && Lower(s[i + n]) == Lower(s[i])) ++n;
  return n;
}

std::string Two(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

// True when the pattern (outside quoted text) holds a 12-hour marker.
bool HasMarker(std::string_view p) {
  char quote = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (quote) {
      if (p[i] == quote) quote = 0;
      continue;
    }
    if (p[i] == '"' || p[i] == '\'') {
      quote = p[i];
    } else if (StartsWithNoCase(p, i, "am/pm") || StartsWithNoCase(p, i, "a/p") ||
               StartsWithNoCase(p, i, "ampm")) {
      return true;
    }
  }
  return false;
}

void Append(std::string& out, std::string_view p, const Parts& t, const TFormatSettings& s,
            int depth) {
  if (depth > 3) return;  // a settings pattern that refers to itself
  const bool twelve = HasMarker(p);
  bool after_hour = false;
  size_t i = 0;
  while (i < p.size()) {
    char c = p[i];
    char lc = Lower(c);
    if (c == '"' || c == '\'') {
      size_t end = p.find(c, i + 1);
      if (end == std::string_view::npos) end = p.size();
      out.append(p.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (c == '/') {
      out += s.DateSeparator;
      ++i;
      continue;
    }
    if (c == ':') {
      out += s.TimeSeparator;
      ++i;
      continue;
    }
    if (lc == 'a') {
      int hour = t.hour;
      if (StartsWithNoCase(p, i, "am/pm")) {
        bool upper = c == 'A';
        out += hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
        i += 5;
        continue;
      }
      if (StartsWithNoCase(p, i, "a/p")) {
        bool upper = c == 'A';
        out += hour < 12 ? (upper ? 'A' : 'a') : (upper ? 'P' : 'p');
        i += 3;
        continue;
      }
      if (StartsWithNoCase(p, i, "ampm")) {
        out += hour < 12 ? s.TimeAMString : s.TimePMString;
        i += 4;
        continue;
      }
    }
    size_t n = (lc >= 'a' && lc <= 'z') ? Run(p, i) : 1;
    switch (lc) {
      case 'c':
        Append(out, s.ShortDateFormat, t, s, depth + 1);
        if (t.has_time) {
          out += ' ';
          Append(out, s.LongTimeFormat, t, s, depth + 1);
        }
        n = 1;
        after_hour = false;
        break;
      case 'd':
        if (n == 1) {
          out += std::to_string(t.day);
        } else if (n == 2) {
          out += Two(t.day);
        } else if (n == 3) {
          out += s.ShortDayNames[t.weekday - 1];
        } else if (n == 4) {
          out += s.LongDayNames[t.weekday - 1];
        } else if (n == 5) {
          Append(out, s.ShortDateFormat, t, s, depth + 1);
        } else {
          n = 6;
          Append(out, s.LongDateFormat, t, s, depth + 1);
        }
        after_hour = false;
        break;
      case 'm':
        if (after_hour && n <= 2) {
          out += n == 1 ? std::to_string(t.min) : Two(t.min);
        } else if (n == 1) {
          out += std::to_string(t.month);
        } else if (n == 2) {
          out += Two(t.month);
        } else if (n == 3) {
          out += s.ShortMonthNames[t.month - 1];
        } else {
          n = 4;
          out += s.LongMonthNames[t.month - 1];
        }
        after_hour = false;
        break;
      case 'y':
        if (n <= 2) {
          out += Two(t.year % 100);
        } else {
          std::string y = std::to_string(t.year);
          out += std::string(y.size() < 4 ? 4 - y.size() : 0, '0') + y;
        }
        after_hour = false;
        break;
      case 'h': {
        n = n > 2 ? 2 : n;
        int hour = t.hour;
        if (twelve) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        out += n == 1 ? std::to_string(hour) : Two(hour);
        after_hour = true;
        break;
      }
      case 'n':
        n = n > 2 ? 2 : n;
        out += n == 1 ? std::to_string(t.min) : Two(t.min);
        after_hour = false;
        break;
      case 's':
        n = n > 2 ? 2 : n;
        out += n == 1 ? std::to_string(t.sec) : Two(t.sec);
        after_hour = false;
        break;
      case 'z':
        if (n >= 3) {
          n = 3;
          std::string z = std::to_string(t.msec);
          out += std::string(3 - z.size(), '0') + z;
        } else {
          n = 1;
          out += std::to_string(t.msec);
        }
        after_hour = false;
        break;
      case 't':
        n = n > 2 ? 2 : n;
        Append(out, n == 1 ? s.ShortTimeFormat : s.LongTimeFormat, t, s, depth + 1);
        after_hour = false;
        break;
      default:
        out.append(p.substr(i, n));
        break;
    }
    i += n;
  }
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings) {
  Parts t{};
  DecodeDate(value, t.year, t.month, t.day);
  DecodeTime(value, t.hour, t.min, t.sec, t.msec);
  t.weekday = DayOfWeek(value);
  t.has_time = t.hour != 0 || t.min != 0 || t.sec != 0 || t.msec != 0;
  std::string out;
  Append(out, pattern, t, settings, 0);
  return out;
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  return FormatDateTime(pattern, value, FormatSettings);
}

}  // namespace velmora::host
