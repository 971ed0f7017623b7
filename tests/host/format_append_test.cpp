// The appending forms FormatTo and FormatFloatTo: they append exactly what
// Format and FormatFloat return, keep what the string held, leave it alone
// when they raise, and allocate nothing on a string with room for the result.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/allocations/allocation_count.h"
#include "velmora/host/exception.h"
#include "velmora/host/format.h"

namespace velmora::host {
namespace {

using testing::AllocationsOf;

// a + b, built by appending (g++ 12 warns falsely about the text a + b
// inserts in front of a temporary string).
std::string Joined(std::string a, const std::string& b) {
  a += b;
  return a;
}

TFormatSettings Settings(char decimal, char thousands) {
  TFormatSettings s;
  s.DecimalSeparator = decimal;
  s.ThousandSeparator = thousands;
  s.CurrencyString = "EUR";
  s.CurrencyFormat = 3;
  s.NegCurrFormat = 8;
  return s;
}

// Patterns of the component and ones that exercise sections, quoted text,
// grouping, exponents and a sign put in front of a section without digits.
const char* const kPatterns[] = {" [0 Hz]  ",       " [0 Hz]",  "0.00", "#,##0.00", "#.##",
                                 "0.00E+00",        "0.0E-0",   "000",  "00-00",    "0;(0);zero",
                                 "\"x;y\"0.0;;nil", "#,##0;-#", "E+",   "0.0#",     ""};

TEST(FormatAppending, GivesWhatTheReturningFormsGiveBehindTheText) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> mantissa(-1000, 1000);
  std::uniform_int_distribution<int> exponent(-25, 25);
  std::vector<double> values = {
      0,        -0.0,   0.125,        -0.125,
      1.005,    2.5,    -2.5,         999.995,
      -999.995, 1334.5, 1e20,         -1e-20,
      1.7e308,  5e-324, std::nan(""), -std::numeric_limits<double>::infinity()};
  for (int i = 0; i < 400; ++i) {
    values.push_back(mantissa(random) * std::pow(10.0, exponent(random)));
    values.push_back(std::nearbyint(mantissa(random) * 100) / 100 + 0.005);  // near ties
  }
  for (const TFormatSettings& s : {Settings('.', ','), Settings(',', '.'), Settings(',', ' ')}) {
    for (double v : values) {
      for (const char* pattern : kPatterns) {
        std::string out = "text before ";
        FormatFloatTo(out, pattern, v, s);
        ASSERT_EQ(out, Joined("text before ", FormatFloat(pattern, v, s))) << pattern << " " << v;
        const long double wide = v;
        std::string wide_out = "x";
        FormatFloatTo(wide_out, pattern, wide, s);
        ASSERT_EQ(wide_out, Joined("x", FormatFloat(pattern, wide, s))) << pattern << " " << v;
      }
      // Widths pad in front of an item or behind it; the item may sit
      // behind earlier text of the same call.
      const auto whole = static_cast<int64_t>(std::isfinite(v) ? std::fmod(v, 1e15) : 0);
      const auto check = [&](const char* fmt, std::initializer_list<FormatArg> args) {
        std::string out = "text before ";
        FormatTo(out, fmt, args, s);
        ASSERT_EQ(out, Joined("text before ", Format(fmt, args, s))) << fmt << " " << v;
      };
      check("A1= %.2n", {v});
      check("%8.3f|%-8.3f|%8d|%-3x|%.5u", {v, v, whole, whole, whole});
      check("%g %e %.3e %.0n%% %m", {v, v, v, v, v});
      check("%*.*n|%0:-*d|%3:s", {12, 3, v, "str"});
      check("%1:25.9g|%0:s", {"a", v});
    }
  }
  // Text moved in front of what the item wrote stays behind the earlier text.
  std::string out = "pre";
  FormatFloatTo(out, "E+", -12.0, Settings('.', ','));
  EXPECT_EQ(out, "pre-E+2");
  out = "pre";
  FormatTo(out, "[%6.2n]", {-1.5}, Settings('.', ','));
  EXPECT_EQ(out, "pre[ -1.50]");
}

TEST(FormatAppending, LeavesTheStringAloneWhenItRaises) {
  for (const char* bad : {"%d %s", "ok %d %q", "abc%", "%.2n %d %d"}) {
    std::string out = "kept";
    EXPECT_THROW(FormatTo(out, bad, {1, 2.5}), EConvertError) << bad;
    EXPECT_EQ(out, "kept") << bad;
  }
}

TEST(FormatAppending, AllocatesNothingOnAStringWithRoom) {
  const TFormatSettings s = Settings(',', '.');
  std::string out;
  out.reserve(4096);  // 1e300 written four times in one call
  const char* const text = "a text longer than the short-string buffer";
  const void* pointer = &out;
  const long allocations = AllocationsOf([&] {
    for (double v : {30.214, -1234567.891, 0.0, 1e300, -5e-324, 1334.5}) {
      for (const char* pattern : kPatterns) {
        out.assign("DTMF(5):  ");
        FormatFloatTo(out, pattern, v, s);
        FormatFloatTo(out, pattern, static_cast<long double>(v) / 3, s);
      }
      out.assign("DTMF(5):  ");
      FormatTo(out, "A1= %.2n|%8.3f|%-8.3f|%g|%e|%m", {v, v, v, v, v, v}, s);
      FormatTo(out, "%12d|%.6X|%u|%s|%-50s|%p|%s", {-42, 255, 7u, text, text, pointer, 'c'}, s);
      FormatTo(out, "%*.*n %0:d %%", {12, 3, v}, s);
    }
  });
  EXPECT_EQ(allocations, 0);
  // The checks above would pass with the counting broken; this one would not.
  EXPECT_GT(AllocationsOf([&] { out = Format("%.2n", {1e300}, s); }), 0);

  // A summary line rewritten in place, as the key decision does per buffer.
  std::string line = "DTMF(5):  A1= -1.234.567,89 [1336 Hz]  A2= 27,40 [775 Hz]";
  EXPECT_EQ(AllocationsOf([&] {
              line.assign("DTMF(7):  ");
              FormatTo(line, "A1= %.2n", {-1234.5}, s);
              FormatFloatTo(line, " [0 Hz]  ", 1209.3, s);
              FormatTo(line, "A2= %.2n", {-3.125}, s);
              FormatFloatTo(line, " [0 Hz]", 852.0, s);
            }),
            0);
  EXPECT_EQ(line, "DTMF(7):  A1= -1.234,50 [1209 Hz]  A2= -3,13 [852 Hz]");
}

TEST(FormatAppending, TheTypeDecidesTheSignificantDigits) {
  const TFormatSettings s = Settings('.', ',');
  std::string out;
  FormatFloatTo(out, "0.000000000000000000", 1.0L / 3, s);
  EXPECT_EQ(out, "0.333333333333333333");
  out.clear();
  FormatFloatTo(out, "0.000000000000000000", 1.0 / 3, s);
  EXPECT_EQ(out, "0.333333333333333000");
  out.clear();
  FormatTo(out, "%.20n|%.20n", {1.0L / 3, 1.0 / 3}, s);
  EXPECT_EQ(out, "0.333333333333333333|0.333333333333333000");  // at most 18 decimals
  // Halves away from zero on those digits: 2.675
  // is 2.67499999999999982236431605997495353221893310546875 as a double but 2.67500000000000 on its
  // 15 digits.
  out.clear();
  FormatFloatTo(out, "0.00", 2.675, s);
  FormatFloatTo(out, "|0.00", -2.675L, s);
  EXPECT_EQ(out, "2.68|-2.68");
}

}  // namespace
}  // namespace velmora::host
