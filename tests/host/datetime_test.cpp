// Dates, times, their formatting and the locale time parser.
#include "velmora/host/datetime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "velmora/host/exception.h"

namespace velmora::host {
namespace {

TEST(DateTime, EncodeDecodeAndCalendar) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), UnixDateDelta);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);  // 2000 is leap
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);  // 1900 is not
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_EQ(DaysInAMonth(2024, 2), 29);
  EXPECT_EQ(DaysInAMonth(2023, 2), 28);
  EXPECT_EQ(DaysInAMonth(2023, 13), 0);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);

  TDateTime v = EncodeDate(2026, 12, 7) + EncodeTime(5, 30, 12, 345);
  uint16_t y, m, d, h, n, s, ms;
  DecodeDate(v, y, m, d);
  DecodeTime(v, h, n, s, ms);
  EXPECT_EQ(std::vector<int>({y, m, d, h, n, s, ms}),
            std::vector<int>({2026, 12, 7, 5, 30, 12, 345}));
  EXPECT_EQ(DayOfWeek(v), 2);  // a Monday
  EXPECT_EQ(DayOfWeek(0), 7);  // 1899-12-30 was a Saturday

  // A time a hair below the next second rounds to it instead of showing :11.
  DecodeTime(EncodeTime(5, 30, 11, 999) + 0.9e-3 / 86400, h, n, s, ms);
  EXPECT_EQ(std::vector<int>({h, n, s, ms}), std::vector<int>({5, 30, 12, 0}));
  // A value just below midnight rounds into the next day.
  v = EncodeDate(2026, 12, 31) + 1 - 1e-10;
  DecodeDate(v, y, m, d);
  EXPECT_EQ(std::vector<int>({y, m, d}), std::vector<int>({2027, 1, 1}));
  // Before 1899-12-30 the time is the fraction without its sign.
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(std::vector<int>({y, m, d, h}), std::vector<int>({1899, 12, 29, 6}));
  EXPECT_THROW(DecodeDate(std::nan(""), y, m, d), EConvertError);
  EXPECT_THROW(DecodeDate(1e10, y, m, d), EConvertError);
}

TEST(DateTime, NowDateAndTimeAgree) {
  TDateTime date = Date(), time = Time(), now = Now();
  EXPECT_EQ(date, std::trunc(date));
  EXPECT_GE(time, 0.0);
  EXPECT_LT(time, 1.0);
  EXPECT_GT(date, EncodeDate(2020, 1, 1));
  // Unless midnight passed between the calls.
  EXPECT_NEAR(now, date + time, 1.0 + 1e-6);
}

TEST(FormatDateTime, RecordingNamePatterns) {
  TDateTime v = EncodeDate(2026, 12, 7) + EncodeTime(5, 30, 12, 0);
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy", v) + FormatDateTime("_hh-mm-ss", v) + ".wav",
            "07.12.2026_05-30-12.wav");
  // The separators of the settings do not enter literal '.' and '-'.
  TFormatSettings s;
  s.DateSeparator = '/';
  s.TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy", v, s), "07.12.2026");
  EXPECT_EQ(FormatDateTime("_hh-mm-ss", v, s), "_05-30-12");
}

TEST(FormatDateTime, Specifiers) {
  TFormatSettings s;
  s.DateSeparator = '.';
  s.TimeSeparator = ':';
  s.ShortDateFormat = "dd/mm/yyyy";
  s.LongTimeFormat = "hh:nn:ss";
  s.ShortTimeFormat = "hh:nn";
  TDateTime v = EncodeDate(2026, 3, 4) + EncodeTime(17, 5, 9, 7);
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s.z", v, s), "4.3.26 17:5:9.7");
  EXPECT_EQ(FormatDateTime("dd mmm mmmm ddd dddd", v, s), "04 Mar March Wed Wednesday");
  EXPECT_EQ(FormatDateTime("hh:mm zzz", v, s), "17:05 007");
  EXPECT_EQ(FormatDateTime("h 'dd' \"mm\" mm", v, s), "17 dd mm 05");  // quoted text
  EXPECT_EQ(FormatDateTime("mm", v, s), "03");                         // no hour before: the month
  EXPECT_EQ(FormatDateTime("hh:nn AM/PM|h a/p|ampm", v, s), "05:05 PM|5 p|PM");
  EXPECT_EQ(FormatDateTime("h am/pm", EncodeTime(0, 15, 0, 0), s), "12 am");
  EXPECT_EQ(FormatDateTime("c", v, s), "04.03.2026 17:05:09");
  EXPECT_EQ(FormatDateTime("c", EncodeDate(2026, 3, 4), s), "04.03.2026");
  EXPECT_EQ(FormatDateTime("ddddd t", v, s), "04.03.2026 17:05");
  EXPECT_EQ(FormatDateTime("yyyy-YY", EncodeDate(5, 1, 1), s), "0005-05");
  EXPECT_EQ(FormatDateTime("x!", v, s), "x!");
  // A settings pattern that refers to itself ends instead of recursing.
  s.ShortDateFormat = "c";
  EXPECT_FALSE(FormatDateTime("c", v, s).empty());
}

TEST(StrToTime, LocaleTimeParser) {
  TFormatSettings s;
  s.TimeSeparator = ':';
  TDateTime v = -1;
  ASSERT_TRUE(TryStrToTime("08:49:37", v, s));
  EXPECT_DOUBLE_EQ(v, EncodeTime(8, 49, 37, 0));
  ASSERT_TRUE(TryStrToTime(" 8:49 ", v, s));
  EXPECT_DOUBLE_EQ(v, EncodeTime(8, 49, 0, 0));
  ASSERT_TRUE(TryStrToTime("23:59:59.999", v, s));
  EXPECT_DOUBLE_EQ(v, EncodeTime(23, 59, 59, 999));
  ASSERT_TRUE(TryStrToTime("12:30 am", v, s));
  EXPECT_DOUBLE_EQ(v, EncodeTime(0, 30, 0, 0));
  ASSERT_TRUE(TryStrToTime("1:05 PM", v, s));
  EXPECT_DOUBLE_EQ(v, EncodeTime(13, 5, 0, 0));
  for (const char* bad : {"", "24:00", "12:60", "12:30:60", "ab", "12:", "12::30", "13:00 PM",
                          "12:30 xm", "123:00", "12:30:45.1234", "-1:00"}) {
    EXPECT_FALSE(TryStrToTime(bad, v, s)) << bad;
  }
  // The locale's separator, not a fixed colon.
  s.TimeSeparator = '.';
  EXPECT_TRUE(TryStrToTime("08.49.37", v, s));
  EXPECT_FALSE(TryStrToTime("08:49:37", v, s));
  EXPECT_THROW(StrToTime("nonsense"), EConvertError);
}

}  // namespace
}  // namespace velmora::host
