// Number formatting, conversions and locale settings.
#include "velmora/host/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "velmora/host/exception.h"
#include "velmora/host/math.h"

namespace velmora::host {
namespace {

TFormatSettings PointComma() {
  TFormatSettings s;
  s.DecimalSeparator = '.';
  s.ThousandSeparator = ',';
  return s;
}

TFormatSettings CommaPoint() {
  TFormatSettings s;
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '.';
  return s;
}

TEST(Rounding, HalvesGoToEvenAndOutOfRangeRaises) {
  EXPECT_EQ(Round(0.5), 0);
  EXPECT_EQ(Round(1.5), 2);
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Round(12.5), 12);  // a peak of 16: 16 * 100 / 128
  EXPECT_EQ(Round(37.5), 38);  // a peak of 48
  EXPECT_EQ(Round(99.21875), 99);
  EXPECT_EQ(Round(2.5000001), 3);
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_EQ(Trunc(2.7), 2);
  EXPECT_EQ(Ceil(2.1), 3);
  EXPECT_EQ(Ceil(-2.1), -2);
  EXPECT_EQ(Floor(-2.1), -3);
  EXPECT_EQ(Round(9.0e18L), 9000000000000000000LL);
  EXPECT_THROW(Round(std::numeric_limits<double>::quiet_NaN()), EInvalidOp);
  EXPECT_THROW(Trunc(1e19), EInvalidOp);
  EXPECT_THROW(Ceil(-std::numeric_limits<double>::infinity()), EInvalidOp);
}

TEST(Format, NumberWithThousandsAndLocaleSeparators) {
  EXPECT_EQ(Format("%.2n", {1234567.891}, PointComma()), "1,234,567.89");
  EXPECT_EQ(Format("%.2n", {1234567.891}, CommaPoint()), "1.234.567,89");
  EXPECT_EQ(Format("%.2n", {-1234567.891}, PointComma()), "-1,234,567.89");
  EXPECT_EQ(Format("%.2n", {-0.001}, PointComma()), "0.00");
  EXPECT_EQ(Format("%.2n", {999.995}, PointComma()), "1,000.00");
  EXPECT_EQ(Format("%.2n", {0.125}, PointComma()), "0.13");  // halves away from zero
  EXPECT_EQ(Format("%.2n", {1.005}, PointComma()), "1.01");
  EXPECT_EQ(Format("%.0n", {123456.5}, PointComma()), "123,457");
  EXPECT_EQ(Format("%n", {100.0}, PointComma()), "100.00");
  EXPECT_EQ(Format("A1= %.2n", {30.214}, PointComma()), "A1= 30.21");
  EXPECT_EQ(Format("%.2n", {std::nan("")}, PointComma()), "NAN");
  EXPECT_EQ(Format("%.2n", {-std::numeric_limits<double>::infinity()}, PointComma()), "-INF");
  // A Windows-1251 text around the number passes through as bytes.
  EXPECT_EQ(Format("\xc4\xe8\xf1\xef: %.2n", {0.5}, CommaPoint()), "\xc4\xe8\xf1\xef: 0,50");
}

TEST(Format, IntegersStringsWidthAndIndex) {
  TFormatSettings s = PointComma();
  EXPECT_EQ(Format("%d|%2d|%.2d|%-4d|%5.3d", {7, 7, 7, 7, -7}, s), "7| 7|07|7   | -007");
  EXPECT_EQ(Format("%x %X %.4x", {255, -1, 10}, s), "FF FFFFFFFF 000A");
  EXPECT_EQ(Format("%x", {int64_t{-1}}, s), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format("%u", {-1}, s), "4294967295");
  EXPECT_EQ(Format("%d", {uint64_t{18446744073709551615ull}}, s), "18446744073709551615");
  EXPECT_EQ(Format("%s-%5s-%-5s-%.2s", {"ab", std::string("cd"), "ef", "ghij"}, s),
            "ab-   cd-ef   -gh");
  EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b", "c"}, s), "b a b");
  EXPECT_EQ(Format("%*d|%.*f", {4, 5, 1, 2.25}, s), "   5|2.3");
  EXPECT_EQ(Format("100%%", {}, s), "100%");
}

TEST(Format, FloatKinds) {
  TFormatSettings s = PointComma();
  EXPECT_EQ(Format("%f", {2.0 / 3}, s), "0.67");
  EXPECT_EQ(Format("%.3f", {-1.0005}, s), "-1.001");
  EXPECT_EQ(Format("%.0f", {2.5}, s), "3");
  EXPECT_EQ(Format("%e", {1234.5}, s), "1.23450000000000E+003");
  EXPECT_EQ(Format("%.3e", {-0.00012345}, s), "-1.23E-004");
  EXPECT_EQ(Format("%g", {0.1 + 0.2}, s), "0.3");
  EXPECT_EQ(Format("%g", {1e20}, s), "1E20");
  EXPECT_EQ(Format("%g", {0.000001}, s), "1E-6");
  EXPECT_EQ(Format("%g", {123.456}, s), "123.456");
  EXPECT_EQ(Format("%.2f", {1.5L}, CommaPoint()), "1,50");
  s.CurrencyString = "EUR";
  s.CurrencyFormat = 3;
  s.NegCurrFormat = 8;
  EXPECT_EQ(Format("%m|%m", {1234.5, -2.0}, s), "1,234.50 EUR|-2.00 EUR");
}

TEST(Format, MismatchesRaise) {
  EXPECT_THROW(Format("%d", {1.5}), EConvertError);
  EXPECT_THROW(Format("%f", {1}), EConvertError);
  EXPECT_THROW(Format("%s", {1}), EConvertError);
  EXPECT_THROW(Format("%d %d", {1}), EConvertError);
  EXPECT_THROW(Format("%q", {1}), EConvertError);
  EXPECT_THROW(Format("abc%", {}), EConvertError);
  EXPECT_THROW(Format("%5:d", {1}), EConvertError);
  try {
    Format("%.2n", {"x"});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_NE(std::string(e.what()).find("%.2n"), std::string::npos);
  }
}

TEST(FormatFloat, PatternLanguage) {
  TFormatSettings s = PointComma();
  EXPECT_EQ(FormatFloat(" [0 Hz]  ", 1335.9, s), " [1336 Hz]  ");
  EXPECT_EQ(FormatFloat(" [0 Hz]", 775.2, s), " [775 Hz]");
  EXPECT_EQ(FormatFloat("0", 1335.5, s), "1336");
  EXPECT_EQ(FormatFloat("0", 1334.5, s), "1335");  // away from zero, not to even
  EXPECT_EQ(FormatFloat("0", -2.5, s), "-3");
  EXPECT_EQ(FormatFloat("0.00", 3.14159, s), "3.14");
  EXPECT_EQ(FormatFloat("0.00", 2.675, s), "2.68");
  // The form without settings goes through the same double path: a double
  // rounds on its 15 significant digits (1.005 is 1.00499999999999989...).
  TFormatSettings saved = FormatSettings;
  FormatSettings = s;
  EXPECT_EQ(FormatFloat("0.00", 1.005), "1.01");
  EXPECT_EQ(FormatFloat("0.00", 1.005, s), "1.01");
  FormatSettings = saved;
  EXPECT_EQ(FormatFloat("0.00", -0.001, s), "0.00");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891, s), "1,234,567.89");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891, CommaPoint()), "1.234.567,89");
  EXPECT_EQ(FormatFloat("#,##0", -1234.0, s), "-1,234");
  EXPECT_EQ(FormatFloat("#.##", 0.5, s), ".5");
  EXPECT_EQ(FormatFloat("0.##", 1.0, s), "1");
  EXPECT_EQ(FormatFloat("0.0#", 1.25, s), "1.25");
  EXPECT_EQ(FormatFloat("000", 7.0, s), "007");
  EXPECT_EQ(FormatFloat("00-00", 1234.0, s), "12-34");
  EXPECT_EQ(FormatFloat("\"x\"0'y'", 5.0, s), "x5y");
  EXPECT_EQ(FormatFloat("0.00E+00", 12345.0, s), "1.23E+04");
  EXPECT_EQ(FormatFloat("0.0E-0", 0.00015, s), "1.5E-4");
  EXPECT_EQ(FormatFloat("0;(0);zero", -5.0, s), "(5)");
  EXPECT_EQ(FormatFloat("0;(0);zero", 0.2, s), "zero");
  EXPECT_EQ(FormatFloat("0.0;;nil", 0.0, s), "nil");
  EXPECT_EQ(FormatFloat("", 0.1 + 0.2, s), "0.3");
  EXPECT_EQ(FormatFloat("0", std::nan(""), s), "NAN");
  EXPECT_EQ(FormatFloat("0.00", 1e20, s), "100000000000000000000.00");
}

TEST(NumberText, ConversionsUseTheSettings) {
  TFormatSettings comma = CommaPoint();
  double v = 0;
  EXPECT_TRUE(TryStrToFloat(" 0,93 ", v, comma));
  EXPECT_DOUBLE_EQ(v, 0.93);
  EXPECT_FALSE(TryStrToFloat("0.93", v, comma));
  EXPECT_DOUBLE_EQ(StrToFloatDef("0.930", -1, PointComma()), 0.93);
  EXPECT_DOUBLE_EQ(StrToFloatDef("-1.5e3", 0, PointComma()), -1500);
  EXPECT_DOUBLE_EQ(StrToFloatDef("1,000", -1, PointComma()), -1);  // no thousands separators
  for (const char* bad : {"", " ", "abc", "1.2.3", "1e", "0x10", "inf", "nan", "1 2", "+", "."}) {
    EXPECT_DOUBLE_EQ(StrToFloatDef(bad, 7, PointComma()), 7) << bad;
  }
  EXPECT_THROW(StrToFloat("x"), EConvertError);
  EXPECT_EQ(StrToIntDef("42", 0), 42);
  EXPECT_EQ(StrToIntDef(" -42 ", 0), -42);
  EXPECT_EQ(StrToIntDef("$ff", 0), 255);
  EXPECT_EQ(StrToIntDef("0x10", 0), 16);
  EXPECT_EQ(StrToIntDef("2147483648", 5), 5);
  EXPECT_EQ(StrToIntDef("12a", 5), 5);
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_EQ(IntToStr(-9000000000LL), "-9000000000");
  EXPECT_EQ(IntToHex(0xbeef, 8), "0000BEEF");
  EXPECT_EQ(FloatToStr(1.5, comma), "1,5");
  EXPECT_EQ(FloatToStr(123456789012345678.0, PointComma()), "1.23456789012346E17");
  EXPECT_EQ(FloatToStr(-0.0001, PointComma()), "-0.0001");
}

TEST(LocaleSettings, CLocaleGivesTheLibraryDefaults) {
  TFormatSettings c = GetLocaleFormatSettings("C");
  EXPECT_EQ(c.DecimalSeparator, '.');
  EXPECT_EQ(c.ThousandSeparator, ',');
  EXPECT_EQ(c.TimeSeparator, ':');
  EXPECT_EQ(c.DateSeparator, '/');
  EXPECT_EQ(c.ShortMonthNames[0], "Jan");
  EXPECT_EQ(c.LongMonthNames[11], "December");
  EXPECT_EQ(c.ShortDayNames[0], "Sun");
  EXPECT_EQ(c.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(c.ShortDateFormat, "mm/dd/yy");
  // A locale that is not installed falls back to the same values.
  TFormatSettings none = GetLocaleFormatSettings("xx_NOWHERE.UTF-8");
  EXPECT_EQ(none.DecimalSeparator, '.');
  EXPECT_EQ(none.ShortMonthNames[4], "May");
}

}  // namespace
}  // namespace velmora::host
