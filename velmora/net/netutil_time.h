// Time helpers of the network units: the wrapping millisecond tick used for
// time-outs, the local time zone, the mail and web date formats, and the
// month-name tables the date parser reads.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "velmora/host/datetime.h"

namespace velmora::net {

using host::TDateTime;

// Day names, Sunday first; used for writing dates.
inline constexpr std::array<const char*, 7> DayNames = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};

// Month abbreviations by language, January first; every row is read by
// GetMonthNumber, row 1 (English) is used for writing.  Row 0 holds the
// locale's abbreviated month names (filled when the unit starts; Jan .. Dec
// before that); row 1 English; 2 French accented (Windows-1252); 3 French
// unaccented; 4 German; 5 German with umlaut (Windows-1252); 6 Czech
// (Windows-1250).  Accented letters are single bytes.
extern std::array<std::array<std::string, 12>, 7> MonthNames;

// Month names an application may set; set to the locale's abbreviated month
// names when the unit starts.  GetMonthNumber consults them after the seven
// rows of MonthNames.
extern std::array<std::string, 12> CustomMonthNames;

// ---- Ticks ----------------------------------------------------------------

// A millisecond counter, unsigned 32-bit and wrapping: the monotonic clock in
// milliseconds, taken modulo 2^32.
uint32_t GetTick();

// Milliseconds from OldTick to NewTick: 0 when equal; NewTick - OldTick when
// NewTick is larger; when NewTick is smaller, the wrapped difference
// (NewTick - OldTick modulo 2^32) if the counter wrapped (OldTick at or above
// 2^31 and NewTick below it), otherwise OldTick - NewTick.
uint32_t TickDelta(uint32_t OldTick, uint32_t NewTick);

// ---- Time zone and clock ----------------------------------------------------

// The local offset from UTC in minutes, east positive, daylight saving time
// included as it applies now.
int32_t TimeZoneBias();

// TimeZoneBias as a sign ("+" for 0 and above) and four digits hhmm.
std::string TimeZone();

// The current UTC time.
TDateTime GetUTTime();

// Sets the system clock to Value, a UTC time; true on success (false without
// the right to set the clock, or for a value before 1970 or not a number).
bool SetUTTime(TDateTime Value);

// ---- Writing dates ----------------------------------------------------------
// The separators are always ":" and " " whatever the locale.  Values outside
// the years 1..9999 raise host::EConvertError.

// Day name, day of month, English month, yyyy hh:nn:ss and TimeZone, e.g.
// "Mon, 7 Dec 2026 05:40:12 +0100".
std::string Rfc822DateTime(TDateTime Value);

// English month, the day right-aligned in two places, hh:nn:ss, e.g.
// "Dec  7 05:40:12".
std::string CDateTime(TDateTime Value);

// Day name, English month, day, hh:nn:ss yyyy, e.g.
// "Mon Dec 7 05:40:12 2026".
std::string AnsiCDateTime(TDateTime Value);

// "yymmdd hhnnss", e.g. "261207 054012".
std::string SimpleDateTime(TDateTime Value);

// ---- Reading dates ----------------------------------------------------------

// The local TDateTime of a date in any common mail or web form (RFC 822/1123,
// RFC 850, asctime, with named or numeric zones); 0 for an empty text or a
// date that cannot exist.  Missing parts default to 1980, January, the 1st,
// 00:00; the zone defaults to UTC; the moment is converted to local time with
// TimeZoneBias.
TDateTime DecodeRfcDateTime(const std::string& Value);

// Month 1-12 of a month name in any row of MonthNames or in
// CustomMonthNames, compared upper-cased in the 8-bit code page; 0 when
// none matches (or the text is empty).
int32_t GetMonthNumber(const std::string& Value);

// The time of day of text hh:nn:ss (more than two characters after the last
// ":" are cut to two, dropping fractions or an attached zone), parsed with
// the locale's time separator; -1 when it is not a time.
TDateTime GetTimeFromStr(const std::string& Value);

// The date of text month-day-year (defaults 12, 30 and 1899 for a part that
// is not a number; a year 0-50 gets 2000 added, 51-999 gets 1900); 0 when
// the date does not exist.  An empty text gives 1899-12-30, the value 0.
TDateTime GetDateMDYFromStr(const std::string& Value);

// Unit start-up: month-name row 0 and CustomMonthNames from the locale's
// abbreviated month names.  Idempotent and counted; done lazily on first use
// as well, so the functions work without the package's start-up.
namespace unit_netutil {
void Initialize();
void Finalize();
}  // namespace unit_netutil

}  // namespace velmora::net
