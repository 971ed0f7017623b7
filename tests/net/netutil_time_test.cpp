#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <cstdlib>

#include "velmora/host/datetime.h"
#include "velmora/host/format.h"
#include "velmora/net/netutil.h"

namespace velmora::net {
namespace {

// Sets the process's time zone for the life of the object.
class ScopedTZ {
 public:
  explicit ScopedTZ(const char* tz) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTZ() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return host::EncodeDate(static_cast<uint16_t>(y), static_cast<uint16_t>(mo),
                          static_cast<uint16_t>(d)) +
         host::EncodeTime(static_cast<uint16_t>(h), static_cast<uint16_t>(mi),
                          static_cast<uint16_t>(s), 0);
}

constexpr double kMs = 1.0 / 86400000.0;

TEST(NetutilDate, DecodeRfcDateTimeReadsMailAndWebForms) {
  ScopedTZ tz("UTC0");
  const TDateTime expected = At(1994, 11, 6, 8, 49, 37);
  EXPECT_NEAR(DecodeRfcDateTime("Sun, 06 Nov 1994 08:49:37 GMT"), expected, kMs);
  EXPECT_NEAR(DecodeRfcDateTime("Sunday, 06-Nov-94 08:49:37 GMT"), expected, kMs);
  EXPECT_NEAR(DecodeRfcDateTime("Sun Nov  6 08:49:37 1994"), expected, kMs);
  // One colon is not a time.
  EXPECT_NEAR(DecodeRfcDateTime("Sun, 06 Nov 1994 08:49 GMT"), At(1994, 11, 6), kMs);
  // Numeric and named zones give the same moment.
  EXPECT_NEAR(DecodeRfcDateTime("Tue, 15 Nov 1994 10:00:00 +0100"),
              DecodeRfcDateTime("Tue, 15 Nov 1994 09:00:00 GMT"), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("Tue, 15 Nov 1994 04:00:00 EST"), At(1994, 11, 15, 9), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("Tue, 15 Nov 1994 05:00:00 EST DST"), At(1994, 11, 15, 9), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("15 Nov 1994 09:00:00 +0530"), At(1994, 11, 15, 3, 30), kMs);
  // The zone moves the moment across midnight.
  EXPECT_NEAR(DecodeRfcDateTime("Sun, 06 Nov 1994 23:30:00 -0100"), At(1994, 11, 7, 0, 30), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("1 Jan 2000 00:30:00 +0100"), At(1999, 12, 31, 23, 30), kMs);
  // Fractions and a glued zone after the seconds are cut off.
  EXPECT_NEAR(DecodeRfcDateTime("2004 Feb 3 12:00:00.250Z"), At(2004, 2, 3, 12), kMs);
}

TEST(NetutilDate, DecodeRfcDateTimeDefaultsAndBadInput) {
  ScopedTZ tz("UTC0");
  EXPECT_EQ(DecodeRfcDateTime(""), 0);
  EXPECT_EQ(DecodeRfcDateTime("   "), 0);
  EXPECT_NEAR(DecodeRfcDateTime("1999"), At(1999, 1, 1), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("Feb 30 2001"), At(2001, 2, 28), kMs);  // last day of the month
  EXPECT_NEAR(DecodeRfcDateTime("31 Feb 2000"), At(2000, 2, 29), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("01 Jan 05"), At(2005, 1, 1), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("6 Okt 1994"), At(1994, 10, 6), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("6 d\xE9\x63 1994"), At(1994, 12, 6), kMs);
  EXPECT_NEAR(DecodeRfcDateTime("garbage words only"), At(1980, 1, 1), kMs);
  EXPECT_EQ(DecodeRfcDateTime("1 Jan 99999"), 0);  // no such year
  EXPECT_NEAR(DecodeRfcDateTime("3 Mar 2001 99:99:99"), At(2001, 3, 3), kMs);
}

TEST(NetutilDate, LocalZoneIsApplied) {
  {
    ScopedTZ tz("CET-1");
    EXPECT_EQ(TimeZoneBias(), 60);
    EXPECT_EQ(TimeZone(), "+0100");
    EXPECT_NEAR(DecodeRfcDateTime("Sun, 06 Nov 1994 08:49:37 GMT"), At(1994, 11, 6, 9, 49, 37),
                kMs);
    EXPECT_NEAR(DecodeRfcDateTime("Sun, 06 Nov 1994 08:49:37 -0000"), At(1994, 11, 6, 8, 49, 37),
                kMs);
  }
  {
    ScopedTZ tz("EST5");
    EXPECT_EQ(TimeZone(), "-0500");
    EXPECT_NEAR(DecodeRfcDateTime("Sun, 06 Nov 1994 08:49:37 -0500"), At(1994, 11, 6, 8, 49, 37),
                kMs);
  }
  {
    ScopedTZ tz("NPT-5:45");
    EXPECT_EQ(TimeZoneBias(), 345);
    EXPECT_EQ(TimeZone(), "+0545");
  }
}

TEST(NetutilDate, WritesDatesWithFixedSeparators) {
  ScopedTZ tz("CET-1");
  host::TFormatSettings saved = host::FormatSettings;
  host::FormatSettings.TimeSeparator = '.';
  host::FormatSettings.DateSeparator = '-';
  const TDateTime t = At(2026, 12, 7, 5, 40, 12);
  EXPECT_EQ(Rfc822DateTime(t), "Mon, 7 Dec 2026 05:40:12 +0100");
  EXPECT_EQ(CDateTime(t), "Dec  7 05:40:12");
  EXPECT_EQ(AnsiCDateTime(t), "Mon Dec 7 05:40:12 2026");
  EXPECT_EQ(SimpleDateTime(t), "261207 054012");
  EXPECT_EQ(CDateTime(At(2026, 1, 17, 23, 0, 5)), "Jan 17 23:00:05");
  // Reading still works with the locale's separator.
  EXPECT_NEAR(GetTimeFromStr("10:20:30"), host::EncodeTime(10, 20, 30, 0), kMs);
  host::FormatSettings = saved;
  // What we write, we read back.
  ScopedTZ utc("UTC0");
  EXPECT_NEAR(DecodeRfcDateTime(Rfc822DateTime(t)), t, kMs);
  EXPECT_NEAR(DecodeRfcDateTime(AnsiCDateTime(t)), t, kMs);
}

TEST(NetutilDate, MonthNamesInEveryTable) {
  EXPECT_EQ(GetMonthNumber("Okt"), 10);
  EXPECT_EQ(GetMonthNumber("d\xE9\x63"), 12);
  EXPECT_EQ(GetMonthNumber("\xC8\x65n"), 6);
  EXPECT_EQ(GetMonthNumber("D\xC9\x43"), 12);  // upper-cased accented letter
  EXPECT_EQ(GetMonthNumber("m\xE4r"), 3);
  EXPECT_EQ(GetMonthNumber("\xFAno"), 2);  // lower-case of the byte DA
  EXPECT_EQ(GetMonthNumber("jan"), 1);
  EXPECT_EQ(GetMonthNumber("DEZ"), 12);
  EXPECT_EQ(GetMonthNumber("Sun"), 0);
  EXPECT_EQ(GetMonthNumber(""), 0);
  unit_netutil::Initialize();
  unit_netutil::Initialize();
  const std::string saved = CustomMonthNames[4];
  CustomMonthNames[4] = "Xyz";
  EXPECT_EQ(GetMonthNumber("XYZ"), 5);
  CustomMonthNames[4] = saved;
  EXPECT_EQ(GetMonthNumber("xyz"), 0);
  unit_netutil::Finalize();
  unit_netutil::Finalize();
  EXPECT_EQ(MonthNames[0][0], host::FormatSettings.ShortMonthNames[0]);
}

TEST(NetutilDate, TimeAndMdyTexts) {
  EXPECT_NEAR(GetTimeFromStr("08:49:37"), host::EncodeTime(8, 49, 37, 0), kMs);
  EXPECT_NEAR(GetTimeFromStr("08:49:37.123"), host::EncodeTime(8, 49, 37, 0), kMs);
  EXPECT_NEAR(GetTimeFromStr("08:49:37GMT"), host::EncodeTime(8, 49, 37, 0), kMs);
  EXPECT_EQ(GetTimeFromStr("xx:yy:zz"), -1);
  EXPECT_EQ(GetTimeFromStr("25:00:00"), -1);

  EXPECT_EQ(GetDateMDYFromStr("12-25-2026"), host::EncodeDate(2026, 12, 25));
  EXPECT_EQ(GetDateMDYFromStr("1-2-3"), host::EncodeDate(2003, 1, 2));
  EXPECT_EQ(GetDateMDYFromStr("6-15-75"), host::EncodeDate(1975, 6, 15));
  EXPECT_EQ(GetDateMDYFromStr("6-15-999"), host::EncodeDate(2899, 6, 15));
  EXPECT_EQ(GetDateMDYFromStr("2-30-99"), 0);
  EXPECT_EQ(GetDateMDYFromStr(""), 0);
  EXPECT_EQ(GetDateMDYFromStr("x-y-z"), 0);
  EXPECT_EQ(GetDateMDYFromStr("13-1-2000"), 0);
}

TEST(NetutilDate, UtcClock) {
  const double now = host::UnixDateDelta + static_cast<double>(time(nullptr)) / 86400.0;
  EXPECT_LT(std::fabs(GetUTTime() - now), 5.0 / 86400.0);
  // Values the clock cannot take are refused before the system is asked.
  EXPECT_FALSE(SetUTTime(std::nan("")));
  EXPECT_FALSE(SetUTTime(1.0));
}

}  // namespace
}  // namespace velmora::net
