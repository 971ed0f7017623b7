// Text, code page, path and random-number functions.
#include "velmora/host/text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "tests/support/support.h"
#include "velmora/host/paths.h"
#include "velmora/host/random.h"

namespace velmora::host {
namespace {

// "Распределение" in Windows-1251.
const std::string kAnsi = "\xd0\xe0\xf1\xef\xf0\xe5\xe4\xe5\xeb\xe5\xed\xe8\xe5";
const std::string kUtf8 = "Распределение";

TEST(CodePage, RussianTextRoundTrip) {
  EXPECT_EQ(AnsiCodePage(), "WINDOWS-1251");
  EXPECT_EQ(Utf8ToAnsi(kUtf8), kAnsi);
  EXPECT_EQ(AnsiToUtf8(kAnsi), kUtf8);
  EXPECT_EQ(Utf8ToAnsi("Cреднее: 1,5 ё №"), "C\xf0\xe5\xe4\xed\xe5\xe5: 1,5 \xb8 \xb9");
  EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi("plain ASCII")), "plain ASCII");
}

TEST(CodePage, UnconvertibleAndMalformedInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToAnsi("a\xe4\xb8\xad"
                       "b"),
            "a?b");  // a CJK character: not in the code page
  EXPECT_EQ(Utf8ToAnsi("a\xff"
                       "b"),
            "a?b");                      // not UTF-8 at all
  EXPECT_EQ(Utf8ToAnsi("a\xd0"), "a?");  // cut short
  EXPECT_EQ(Utf8ToAnsi(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(AnsiToUtf8("a\x98"
                       "b"),
            "a?b");  // undefined in Windows-1251
  EXPECT_EQ(Utf8ToAnsi(""), "");
}

TEST(CodePage, CaseOfTheCodePage) {
  EXPECT_EQ(LowerCase("ABC\xc0z"), "abc\xc0z");  // ASCII only
  EXPECT_EQ(UpperCase("abc\xe0Z"), "ABC\xe0Z");
  EXPECT_EQ(AnsiUpperCase(kAnsi), Utf8ToAnsi("РАСПРЕДЕЛЕНИЕ"));
  EXPECT_EQ(AnsiLowerCase(Utf8ToAnsi("ЁЖ Ab")), Utf8ToAnsi("ёж ab"));
  EXPECT_EQ(AnsiUpperCase("d\xe9"
                          "c"),
            "D\xc9"
            "C");
  EXPECT_TRUE(AnsiSameText(kAnsi, AnsiUpperCase(kAnsi)));
  // Another single-byte code page changes the conversions and the case rules.
  ASSERT_TRUE(SetAnsiCodePage("ISO-8859-1"));
  EXPECT_EQ(Utf8ToAnsi("déc"),
            "d\xe9"
            "c");
  EXPECT_EQ(AnsiUpperCase("\xff"), "\xff");  // ÿ has no upper case in Latin-1
  EXPECT_FALSE(SetAnsiCodePage("NO-SUCH-CODEPAGE"));
  EXPECT_EQ(AnsiCodePage(), "ISO-8859-1");
  ASSERT_TRUE(SetAnsiCodePage("WINDOWS-1251"));
  EXPECT_EQ(AnsiUpperCase("\xff"), "\xdf");  // я -> Я
}

TEST(Text, TrimCompareSearchReplace) {
  EXPECT_EQ(Trim(" \t\r\nab c\x01 "), "ab c");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_EQ(Trim(" \x7f"), "\x7f");
  EXPECT_TRUE(SameText("Content-Length", "CONTENT-length"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareStr("b", "a"), 0);
  EXPECT_EQ(Pos("lo", "hello lo"), 4u);
  EXPECT_EQ(Pos("lo", "hello lo", 5), 7u);
  EXPECT_EQ(Pos("x", "hello"), 0u);
  EXPECT_EQ(Pos("", "hello"), 0u);
  EXPECT_EQ(Pos("o", "hello", 99), 0u);
  EXPECT_EQ(StringReplace("a-b-c", "-", "+"), "a+b+c");
  EXPECT_EQ(StringReplace("a-b-c", "-", "", false), "ab-c");
  EXPECT_EQ(StringReplace("aXbxc", "x", "_", true, true), "a_b_c");
}

TEST(Paths, PartsOfAName) {
  EXPECT_EQ(ExtractFilePath("/usr/lib/velmora/test.dat"), "/usr/lib/velmora/");
  EXPECT_EQ(ExtractFilePath("test.dat"), "");
  EXPECT_EQ(ExtractFileDir("/a/b.wav"), "/a");
  EXPECT_EQ(ExtractFileDir("/b.wav"), "/");
  EXPECT_EQ(ExtractFileName("/a/b.c/rec.1.WAV"), "rec.1.WAV");
  EXPECT_EQ(ExtractFileExt("/a/b.c/rec.1.WAV"), ".WAV");
  EXPECT_EQ(ExtractFileExt("/a/b.c/readme"), "");  // a dot in the directory is not the extension
  EXPECT_EQ(ExtractFileExt("song.mp3"), ".mp3");
  EXPECT_EQ(ChangeFileExt("/a/rec.wav", ".flac"), "/a/rec.flac");
  EXPECT_EQ(ChangeFileExt("/a.b/rec", ".flac"), "/a.b/rec.flac");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");  // not the root directory
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a//"), "/a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Paths, ExecutableAndFiles) {
  std::string exe = ParamStr(0);
  EXPECT_EQ(exe[0], '/');
  EXPECT_EQ(ExtractFileName(exe), "test_host");
  EXPECT_TRUE(FileExists(exe));
  EXPECT_EQ(ExtractFilePath(exe).back(), '/');
  EXPECT_TRUE(DirectoryExists(ExtractFilePath(exe)));
  EXPECT_FALSE(FileExists(ExtractFilePath(exe)));  // a directory is not a file
  EXPECT_FALSE(FileExists(""));
  velmora::testing::TempDir dir;
  std::string f = dir.file("x");
  EXPECT_FALSE(FileExists(f));
  velmora::testing::WriteFile(f, "1");
  EXPECT_TRUE(FileExists(f));
  EXPECT_TRUE(DeleteFile(f));
  EXPECT_FALSE(DeleteFile(f));
  EXPECT_FALSE(GetCurrentDir().empty());
  EXPECT_GE(ParamCount(), 0);
}

TEST(RandomNumbers, RangeSeedAndSpread) {
  RandSeed = 12345;
  std::vector<int32_t> first;
  for (int i = 0; i < 20; ++i) first.push_back(Random(1000));
  RandSeed = 12345;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Random(1000), first[static_cast<size_t>(i)]);
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-5), 0);
  std::set<int32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    int32_t r = Random(7);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 7);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 7u);
  double x = Random();
  EXPECT_GE(x, 0.0);
  EXPECT_LT(x, 1.0);
  RandSeed = 1;
  Randomize();
  uint32_t a = RandSeed;
  usleep(2000);
  Randomize();
  EXPECT_NE(a, RandSeed.load());
}

}  // namespace
}  // namespace velmora::host
