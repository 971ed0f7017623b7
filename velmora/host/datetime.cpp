#include "velmora/host/datetime.h"

#include <time.h>

#include <cmath>

#include "velmora/host/exception.h"
#include "velmora/host/text.h"

namespace velmora::host {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// First and last day numbers of years 1..9999.
const int64_t kMinDay = DaysFromCivil(1, 1, 1) + 25569;
const int64_t kMaxDay = DaysFromCivil(9999, 12, 31) + 25569;

// Splits a value into its day number and the milliseconds of its time.
void Split(TDateTime value, int64_t& day, int64_t& ms) {
  if (!std::isfinite(value) || value < kMinDay - 1 || value > kMaxDay + 1) {
    throw EConvertError("Invalid date and time value");
  }
  double whole = std::trunc(value);
  day = static_cast<int64_t>(whole);
  ms = static_cast<int64_t>(std::llround(std::fabs(value - whole) * MSecsPerDay));
  if (ms >= MSecsPerDay) {
    ms -= MSecsPerDay;
    day += value < 0 ? -1 : 1;
  }
  if (day < kMinDay || day > kMaxDay) throw EConvertError("Invalid date and time value");
}

TDateTime LocalNow(bool date, bool time) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  localtime_r(&ts.tv_sec, &t);
  TDateTime result = 0;
  if (date) {
    result += static_cast<double>(DaysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) + 25569);
  }
  if (time) {
    int sec = t.tm_sec > 59 ? 59 : t.tm_sec;  // a leap second shows as :59
    result += static_cast<double>(t.tm_hour * 3600000LL + t.tm_min * 60000LL + sec * 1000LL +
                                  ts.tv_nsec / 1000000) /
              MSecsPerDay;
  }
  return result;
}

}  // namespace

TDateTime Now() {
  return LocalNow(true, true);
}
TDateTime Date() {
  return LocalNow(true, false);
}
TDateTime Time() {
  return LocalNow(false, true);
}

bool IsLeapYear(uint16_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

uint16_t DaysInAMonth(uint16_t year, uint16_t month) {
  static constexpr uint16_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& value) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInAMonth(year, month)) {
    return false;
  }
  value = static_cast<double>(DaysFromCivil(year, month, day) + 25569);
  return true;
}

TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day) {
  TDateTime v;
  if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
  return v;
}

bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& value) {
  if (hour > 23 || min > 59 || sec > 59 || msec > 999) return false;
  value = static_cast<double>(hour * 3600000LL + min * 60000LL + sec * 1000LL + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec) {
  TDateTime v;
  if (!TryEncodeTime(hour, min, sec, msec, v)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return v;
}

void DecodeDate(TDateTime value, uint16_t& year, uint16_t& month, uint16_t& day) {
  int64_t d, ms;
  Split(value, d, ms);
  int64_t y;
  unsigned m, dd;
  CivilFromDays(d - 25569, y, m, dd);
  year = static_cast<uint16_t>(y);
  month = static_cast<uint16_t>(m);
  day = static_cast<uint16_t>(dd);
}

void DecodeTime(TDateTime value, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  int64_t d, ms;
  Split(value, d, ms);
  hour = static_cast<uint16_t>(ms / 3600000);
  min = static_cast<uint16_t>(ms / 60000 % 60);
  sec = static_cast<uint16_t>(ms / 1000 % 60);
  msec = static_cast<uint16_t>(ms % 1000);
}

int DayOfWeek(TDateTime value) {
  int64_t d, ms;
  Split(value, d, ms);
  // Day 0 (1899-12-30) was a Saturday.
  int64_t w = (d + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

std::string DateToStr(TDateTime value) {
  return FormatDateTime("ddddd", value);
}
std::string TimeToStr(TDateTime value) {
  return FormatDateTime("tt", value);
}
std::string DateTimeToStr(TDateTime value) {
  return FormatDateTime("c", value);
}

bool TryStrToTime(std::string_view text, TDateTime& value) {
  return TryStrToTime(text, value, FormatSettings);
}

bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& settings) {
  std::string s = Trim(text);
  size_t i = 0;
  auto number = [&](int& out, int max_digits) -> bool {
    size_t start = i;
    int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && static_cast<int>(i - start) < max_digits) {
      v = v * 10 + (s[i] - '0');
      ++i;
    }
    out = static_cast<int>(v);
    return i > start;
  };
  int parts[4] = {0, 0, 0, 0};
  if (!number(parts[0], 2)) return false;
  for (int k = 1; k <= 2 && i < s.size() && s[i] == settings.TimeSeparator; ++k) {
    ++i;
    if (!number(parts[k], 2)) return false;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!number(parts[3], 3)) return false;
  }
  while (i < s.size() && s[i] == ' ') ++i;
  std::string rest = s.substr(i);
  int hour = parts[0];
  if (!rest.empty()) {
    bool am = SameText(rest, "AM") ||
              (!settings.TimeAMString.empty() && AnsiSameText(rest, settings.TimeAMString));
    bool pm = !am && (SameText(rest, "PM") || (!settings.TimePMString.empty() &&
                                               AnsiSameText(rest, settings.TimePMString)));
    if (!am && !pm) return false;
    if (hour < 1 || hour > 12) return false;
    if (am && hour == 12) hour = 0;
    if (pm && hour < 12) hour += 12;
  }
  return TryEncodeTime(static_cast<uint16_t>(hour), static_cast<uint16_t>(parts[1]),
                       static_cast<uint16_t>(parts[2]), static_cast<uint16_t>(parts[3]), value);
}

TDateTime StrToTime(std::string_view text) {
  TDateTime v;
  if (!TryStrToTime(text, v)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid time");
  }
  return v;
}

}  // namespace velmora::host
