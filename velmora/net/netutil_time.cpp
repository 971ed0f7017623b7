#include "velmora/net/netutil_time.h"

#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "velmora/host/format.h"
#include "velmora/host/text.h"
#include "velmora/net/netutil_text.h"

namespace velmora::net {

// Accented letters are single bytes of the rows' code pages: é E9, û FB,
// ä E4 (Windows-1252); Ú DA, ř F8, ě EC, Č C8, á E1, Ř D8, í ED
// (Windows-1250).
std::array<std::array<std::string, 12>, 7> MonthNames = {{
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
    {"jan", "f\xE9v", "mar", "avr", "mai", "jun", "jul", "ao\xFB", "sep", "oct", "nov",
     "d\xE9\x63"},
    {"jan", "fev", "mar", "avr", "mai", "jun", "jul", "aou", "sep", "oct", "nov", "dec"},
    {"Jan", "Feb", "Mar", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
    {"Jan", "Feb", "M\xE4r", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
    {"Led", "\xDAno", "B\xF8\x65", "Dub", "Kv\xEC", "\xC8\x65n", "\xC8\x65\x63", "Srp", "Z\xE1\xF8",
     "\xD8\xED\x6A", "Lis", "Pro"},
}};

std::array<std::string, 12> CustomMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

std::once_flag locale_names_once;
std::atomic<int> unit_refs{0};

void FillLocaleMonthNames() {
  std::call_once(locale_names_once, [] {
    for (int m = 0; m < 12; ++m) {
      MonthNames[0][m] = host::FormatSettings.ShortMonthNames[m];
      CustomMonthNames[m] = host::FormatSettings.ShortMonthNames[m];
    }
  });
}

struct ZoneName {
  std::string_view name;
  int hours;
};

// Named zones and their offsets from UTC in hours.
constexpr ZoneName kZones[] = {
    {"UT", 0},     {"UTC", 0},   {"GMT", 0},   {"WET", 0},    {"CET", 1},   {"FWT", 1},
    {"MET", 1},    {"MEWT", 1},  {"SWT", 1},   {"EET", 2},    {"MEST", 2},  {"MESZ", 2},
    {"SST", 2},    {"FST", 2},   {"CEST", 2},  {"BT", 3},     {"ZP4", 4},   {"ZP5", 5},
    {"ZP6", 6},    {"WAST", 7},  {"CCT", 8},   {"WADT", 8},   {"JST", 9},   {"GST", 10},
    {"EADT", 11},  {"IDLE", 12}, {"NZST", 12}, {"NZT", 12},   {"NZDT", 13}, {"WAT", -1},
    {"BST", -1},   {"AT", -2},   {"ADT", -3},  {"AST", -4},   {"EDT", -4},  {"EST", -5},
    {"CDT", -5},   {"CST", -6},  {"MDT", -6},  {"MST", -7},   {"PDT", -7},  {"PST", -8},
    {"YDT", -8},   {"YST", -9},  {"HDT", -9},  {"AHST", -10}, {"CAT", -10}, {"HST", -10},
    {"EAST", -10}, {"NT", -11},  {"IDLW", -12}};

// The zone of a word in minutes, when the word is a zone: a named zone, or a
// numeric one beginning with "+" or "-".  A numeric word of four characters
// or fewer is a zone that leaves Zone unchanged.
bool ZoneOfWord(const std::string& Word, int32_t& Zone) {
  for (const ZoneName& z : kZones) {
    if (Word == z.name) {
      Zone = z.hours * 60;
      return true;
    }
  }
  if (Word.empty() || (Word[0] != '+' && Word[0] != '-')) return false;
  if (Word == "-0000") {
    Zone = TimeZoneBias();
  } else if (Word.size() > 4) {
    int32_t hours = host::StrToIntDef(Word.substr(1, 2), 0);
    int32_t minutes = host::StrToIntDef(Word.substr(3, 2), 0);
    Zone = hours * 60 + minutes;
    if (Word[0] == '-') Zone = -Zone;
  }
  return true;
}

// The formatted pieces of a value, always with ":" between time fields.
struct Parts {
  uint16_t year, month, day, hour, min, sec, msec;
  int dow;  // 0 = Sunday
};

Parts Split(TDateTime Value) {
  Parts p{};
  host::DecodeDate(Value, p.year, p.month, p.day);
  host::DecodeTime(Value, p.hour, p.min, p.sec, p.msec);
  p.dow = host::DayOfWeek(Value) - 1;
  return p;
}

const char* EnglishMonth(int month) {
  return MonthNames[1][month - 1].c_str();
}

}  // namespace

// ---- Ticks ----------------------------------------------------------------

uint32_t GetTick() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint32_t TickDelta(uint32_t OldTick, uint32_t NewTick) {
  if (OldTick == NewTick) return 0;
  if (NewTick > OldTick) return NewTick - OldTick;
  if (OldTick >= 0x80000000u && NewTick < 0x80000000u) return NewTick - OldTick;  // wrapped
  return OldTick - NewTick;
}

// ---- Time zone and clock ----------------------------------------------------

int32_t TimeZoneBias() {
  time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return static_cast<int32_t>(local.tm_gmtoff / 60);
}

std::string TimeZone() {
  int32_t bias = TimeZoneBias();
  char sign = bias >= 0 ? '+' : '-';
  bias = std::abs(bias);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%c%.2d%.2d", sign, bias / 60, bias % 60);
  return buf;
}

TDateTime GetUTTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  double seconds = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  return host::UnixDateDelta + seconds / 86400.0;
}

bool SetUTTime(TDateTime Value) {
  if (!std::isfinite(Value) || Value < host::UnixDateDelta || Value > 2958466.0) return false;
  double seconds = (Value - host::UnixDateDelta) * 86400.0;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
  return clock_settime(CLOCK_REALTIME, &ts) == 0;
}

// ---- Writing dates ----------------------------------------------------------

std::string Rfc822DateTime(TDateTime Value) {
  Parts p = Split(Value);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04u %02u:%02u:%02u %s", DayNames[p.dow], p.day,
                EnglishMonth(p.month), p.year, p.hour, p.min, p.sec, TimeZone().c_str());
  return buf;
}

std::string CDateTime(TDateTime Value) {
  Parts p = Split(Value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %2d %02u:%02u:%02u", EnglishMonth(p.month), p.day, p.hour,
                p.min, p.sec);
  return buf;
}

std::string AnsiCDateTime(TDateTime Value) {
  Parts p = Split(Value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %s %d %02u:%02u:%02u %04u", DayNames[p.dow],
                EnglishMonth(p.month), p.day, p.hour, p.min, p.sec, p.year);
  return buf;
}

std::string SimpleDateTime(TDateTime Value) {
  Parts p = Split(Value);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u%02u%02u %02u%02u%02u", p.year % 100u, p.month, p.day, p.hour,
                p.min, p.sec);
  return buf;
}

// ---- Reading dates ----------------------------------------------------------

int32_t GetMonthNumber(const std::string& Value) {
  if (Value.empty()) return 0;
  FillLocaleMonthNames();
  const std::string s = host::AnsiUpperCase(Value);
  for (int m = 0; m < 12; ++m) {
    for (const auto& row : MonthNames) {
      if (host::AnsiUpperCase(row[m]) == s) return m + 1;
    }
    if (host::AnsiUpperCase(CustomMonthNames[m]) == s) return m + 1;
  }
  return 0;
}

TDateTime GetTimeFromStr(const std::string& Value) {
  std::string s = Value;
  size_t colon = s.rfind(':');
  if (colon != std::string::npos && s.size() - colon - 1 > 2) s.resize(colon + 3);
  const char sep = host::FormatSettings.TimeSeparator;
  for (char& c : s) {
    if (c == ':') c = sep;
  }
  TDateTime t = 0;
  if (!host::TryStrToTime(s, t)) return -1;
  return t;
}

TDateTime GetDateMDYFromStr(const std::string& Value) {
  std::string s = Value;
  int32_t month = host::StrToIntDef(Fetch(s, "-"), 12);
  int32_t day = host::StrToIntDef(Fetch(s, "-"), 30);
  int32_t year = host::StrToIntDef(s, 1899);
  if (year >= 0 && year <= 50) {
    year += 2000;
  } else if (year >= 51 && year <= 999) {
    year += 1900;
  }
  TDateTime result = 0;
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1 || year > 9999) return 0;
  if (!host::TryEncodeDate(static_cast<uint16_t>(year), static_cast<uint16_t>(month),
                           static_cast<uint16_t>(day), result)) {
    return 0;
  }
  return result;
}

TDateTime DecodeRfcDateTime(const std::string& Value) {
  int32_t day = 0, month = 0, year = 0, zone = 0;
  TDateTime time_part = 0;

  // Hyphens inside dates become separators; one that begins a word (the
  // zone -0500) survives.
  std::string s = ReplaceString(Value, " -", " #");
  s = ReplaceString(s, "-", " ");
  s = ReplaceString(s, " #", " -");
  s = TrimSP(s);
  if (s.empty()) return 0;

  while (!s.empty()) {
    const std::string word = host::UpperCase(Fetch(s, " "));
    if (word.empty()) continue;
    if (ZoneOfWord(word, zone)) continue;
    const int32_t number = host::StrToIntDef(word, 0);
    if (number > 0 && number < 32 && day == 0) {
      day = number;
      continue;
    }
    if (number > 0 && year == 0 && (month > 0 || number > 12)) {
      year = number;
      if (year < 32) year += 2000;
      if (year < 1000) year += 1900;
      continue;
    }
    size_t first = word.find(':');
    if (first != std::string::npos && word.rfind(':') > first) {
      TDateTime t = GetTimeFromStr(word);
      if (t != -1) time_part = t;
      continue;
    }
    if (word == "DST") {
      zone += 60;
      continue;
    }
    int32_t m = GetMonthNumber(word);
    if (m > 0 && month == 0) month = m;
  }

  if (year == 0) year = 1980;
  if (month == 0) month = 1;
  if (month > 12) month = 12;
  if (day == 0) day = 1;
  if (year > 9999) return 0;
  const uint16_t last =
      host::DaysInAMonth(static_cast<uint16_t>(year), static_cast<uint16_t>(month));
  if (day > last) day = last;

  TDateTime result = 0;
  if (!host::TryEncodeDate(static_cast<uint16_t>(year), static_cast<uint16_t>(month),
                           static_cast<uint16_t>(day), result)) {
    return 0;
  }
  result += time_part;

  // The same moment in local time: remove the zone's offset and add ours.
  const int32_t x = zone - TimeZoneBias();
  result -= x / 1440;
  const int32_t rest = std::abs(x % 1440);
  TDateTime t =
      host::EncodeTime(static_cast<uint16_t>(rest / 60), static_cast<uint16_t>(rest % 60), 0, 0);
  result -= x < 0 ? -t : t;
  return result;
}

namespace unit_netutil {

void Initialize() {
  unit_refs.fetch_add(1);
  FillLocaleMonthNames();
}

void Finalize() {
  int refs = unit_refs.load();
  while (refs > 0 && !unit_refs.compare_exchange_weak(refs, refs - 1)) {
  }
}

}  // namespace unit_netutil

}  // namespace velmora::net
