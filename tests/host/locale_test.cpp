// Settings read from real locales.  The locales are compiled into a scratch
// folder with localedef (from the system's locale sources), so the test does
// not depend on which locales the machine has generated.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/support.h"
#include "velmora/host/datetime.h"
#include "velmora/host/format.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace velmora::host {
namespace {

// glibc's newlocale leaks its copy of LOCPATH on every call while LOCPATH is
// set (the scratch locales need it); those allocations are not ours.
TFormatSettings Read(const char* name) {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_disable();
#endif
  TFormatSettings s = GetLocaleFormatSettings(name);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_enable();
#endif
  return s;
}

using velmora::testing::TempDir;

class Locales : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (const char* name : {"fr_FR", "de_DE", "en_US"}) {
      auto r = velmora::testing::Run(
          {"localedef", "-i", name, "-f", "UTF-8", dir_->file(std::string(name) + ".UTF-8")}, "",
          std::chrono::seconds(120));
      if (r.exit_code != 0) {
        missing_ = true;
        return;
      }
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (missing_)
      GTEST_FAIL() << "localedef or the locale sources are not installed (make deps installs it)";
    const char* old = std::getenv("LOCPATH");
    had_locpath_ = old != nullptr;
    if (old) old_locpath_ = old;
    setenv("LOCPATH", dir_->path().c_str(), 1);
  }
  void TearDown() override {
    if (had_locpath_) {
      setenv("LOCPATH", old_locpath_.c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
  }

  static TempDir* dir_;
  static bool missing_;
  bool had_locpath_ = false;
  std::string old_locpath_;
};

TempDir* Locales::dir_ = nullptr;
bool Locales::missing_ = false;

TEST_F(Locales, MultiByteThousandsSeparatorBecomesABlank) {
  // fr_FR groups with a narrow no-break space (three bytes in UTF-8).
  TFormatSettings fr = Read("fr_FR.UTF-8");
  EXPECT_EQ(fr.DecimalSeparator, ',');
  EXPECT_EQ(fr.ThousandSeparator, ' ');
  EXPECT_EQ(fr.DateSeparator, '/');
  EXPECT_EQ(fr.TimeSeparator, ':');
  EXPECT_EQ(fr.ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(fr.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(fr.ShortMonthNames[0], "janv.");
  EXPECT_EQ(Format("%.2n", {1234567.891}, fr), "1 234 567,89");
  EXPECT_EQ(FormatDateTime("ddddd", EncodeDate(2026, 12, 7), fr), "07/12/2026");
}

TEST_F(Locales, PointThousandsCommaDecimals) {
  TFormatSettings de = Read("de_DE.UTF-8");
  EXPECT_EQ(de.DecimalSeparator, ',');
  EXPECT_EQ(de.ThousandSeparator, '.');
  EXPECT_EQ(de.DateSeparator, '.');
  EXPECT_EQ(de.ShortDateFormat, "dd/mm/yyyy");  // '/' stands for the separator
  EXPECT_EQ(de.LongMonthNames[2], "März");
  EXPECT_EQ(Format("%.2n", {1234567.891}, de), "1.234.567,89");
  EXPECT_EQ(FormatDateTime("ddddd", EncodeDate(2026, 12, 7), de), "07.12.2026");
  EXPECT_DOUBLE_EQ(StrToFloatDef("0,93", -1, de), 0.93);
}

TEST_F(Locales, TwelveHourClockAndEnvironment) {
  TFormatSettings us = Read("en_US.UTF-8");
  EXPECT_EQ(us.LongTimeFormat, "hh:nn:ss ampm");
  EXPECT_EQ(us.ShortTimeFormat, "hh:nn ampm");
  EXPECT_EQ(us.ShortDateFormat, "mm/dd/yyyy");
  EXPECT_EQ(FormatDateTime("tt", EncodeTime(13, 5, 9, 0), us), "01:05:09 PM");
  TDateTime t;
  ASSERT_TRUE(TryStrToTime("1:05 pm", t, us));
  EXPECT_DOUBLE_EQ(t, EncodeTime(13, 5, 0, 0));

  // "" reads the environment, category by category.
  const char* old_all = std::getenv("LC_ALL");
  std::string saved = old_all ? old_all : "";
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  TFormatSettings env = Read("");
  if (old_all) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  EXPECT_EQ(env.DecimalSeparator, ',');
  EXPECT_EQ(env.ShortMonthNames[0], "Jan");
}

}  // namespace
}  // namespace velmora::host
