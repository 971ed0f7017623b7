// Dates and times as TDateTime: days since 1899-12-30 00:00, the fraction
// being the time of day.  Local time throughout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "velmora/host/format.h"

namespace velmora::host {

using TDateTime = double;

constexpr int64_t MSecsPerDay = 86400000;
// 1970-01-01 as a TDateTime.
constexpr TDateTime UnixDateDelta = 25569.0;

// The current local date and time, the date alone (midnight) and the time of
// day alone (no date part).
TDateTime Now();
TDateTime Date();
TDateTime Time();

bool IsLeapYear(uint16_t year);
// Days of `month` (1..12) in `year`; 0 for a month outside 1..12.
uint16_t DaysInAMonth(uint16_t year, uint16_t month);

// Years 1..9999; EConvertError for a date that does not exist.
TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day);
bool TryEncodeDate(uint16_t year, uint16_t month, uint16_t day, TDateTime& value);
// Hours 0..23, minutes and seconds 0..59, milliseconds 0..999; EConvertError
// otherwise.
TDateTime EncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec);
bool TryEncodeTime(uint16_t hour, uint16_t min, uint16_t sec, uint16_t msec, TDateTime& value);

// The parts of a value, its time rounded to the nearest millisecond.  For a
// value before 1899-12-30 the date is the whole part and the time is the
// fraction without its sign.  A value outside years 1..9999 (or not a number)
// raises EConvertError.
void DecodeDate(TDateTime value, uint16_t& year, uint16_t& month, uint16_t& day);
void DecodeTime(TDateTime value, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);

// Formats with a pattern (letters in any case):
//   d dd        day 1..31, two digits      ddd dddd   short/long day name
//   ddddd       ShortDateFormat            dddddd     LongDateFormat
//   m mm        month, two digits; right after an hour (h, hh, with only
//               literal text between) it is the minute instead
//   mmm mmmm    short/long month name      yy yyyy    two- or four-digit year
//   h hh        hour                       n nn       minute
//   s ss        second                     z zzz      millisecond
//   t tt        ShortTimeFormat/LongTimeFormat
//   c           ShortDateFormat, then LongTimeFormat unless the time is 0
//   am/pm a/p ampm   12-hour clock with the marker (ampm: TimeAMString and
//               TimePMString)
//   /  :        DateSeparator, TimeSeparator
//   "text" 'text'    literal text; any other character stands for itself.
std::string FormatDateTime(std::string_view pattern, TDateTime value);
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings);
std::string DateToStr(TDateTime value);      // ShortDateFormat
std::string TimeToStr(TDateTime value);      // LongTimeFormat
std::string DateTimeToStr(TDateTime value);  // "c"

// Parses a time of day: hour[sep minute[sep second[.millisecond]]] with the
// settings' TimeSeparator, optionally followed by an AM or PM marker
// (TimeAMString/TimePMString or "AM"/"PM", any case); blanks allowed around.
// The result has no date part.
bool TryStrToTime(std::string_view text, TDateTime& value);
bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& settings);
// EConvertError: '<text>' is not a valid time.
TDateTime StrToTime(std::string_view text);

}  // namespace velmora::host
