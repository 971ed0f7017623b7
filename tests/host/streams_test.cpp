// File and memory streams, string lists.
#include "velmora/host/streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/support/support.h"
#include "velmora/host/exception.h"
#include "velmora/host/string_list.h"

namespace velmora::host {
namespace {

using velmora::testing::ReadFile;
using velmora::testing::TempDir;
using velmora::testing::WriteFile;

TEST(FileStream, CreateTruncatesAnExistingFile) {
  TempDir dir;
  std::string name = dir.file("x.wav");
  WriteFile(name, "old content that is long");
  {
    TFileStream f(name, fmCreate);
    EXPECT_EQ(f.Size(), 0);
    f.WriteBuffer("new", 3);
  }
  EXPECT_EQ(ReadFile(name), "new");
}

TEST(FileStream, FailuresNameTheFileAndTheReason) {
  TempDir dir;
  std::string missing = dir.file("missing.wav");
  try {
    TFileStream f(missing, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + missing + "\": No such file or directory");
    EXPECT_EQ(e.ClassName(), "EFOpenError");
  }
  std::string in_missing_dir = dir.file("no/such/dir.wav");
  EXPECT_THROW(TFileStream(in_missing_dir, fmCreate), EFCreateError);
  // A directory opens read-only on this system, but is not a file stream.
  EXPECT_THROW(TFileStream(dir.path().string(), fmOpenRead), EFOpenError);
  if (geteuid() != 0) {
    std::string locked = dir.file("locked");
    WriteFile(locked, "x");
    chmod(locked.c_str(), 0400);
    try {
      TFileStream f(locked, fmCreate);
      FAIL() << "created over a read-only file";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + locked + "\": Permission denied");
    }
  }
}

TEST(FileStream, ReadWriteAppendsAfterSeekToEnd) {
  TempDir dir;
  std::string name = dir.file("test.dat");
  WriteFile(name, std::string("\x01\x00\x01", 3));
  {
    TFileStream f(name, fmOpenReadWrite);
    EXPECT_EQ(f.Seek(0, soEnd), 3);
    f.WriteBuffer("\x00\x01", 2);
    EXPECT_EQ(f.Size(), 5);
    f.set_Position(1);
    char b[4] = {};
    EXPECT_EQ(f.Read(b, 4), 4);
    EXPECT_EQ(std::string(b, 4), std::string("\x00\x01\x00\x01", 4));
    EXPECT_EQ(f.Read(b, 4), 0);  // at the end
    EXPECT_THROW(f.ReadBuffer(b, 1), EReadError);
    EXPECT_EQ(f.Seek(-1, soBeginning), -1);
    EXPECT_EQ(f.Position(), 5);
  }
  EXPECT_EQ(ReadFile(name), std::string("\x01\x00\x01\x00\x01", 5));
  // Open for reading refuses writes; open for writing refuses reads.
  TFileStream r(name, fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(r.Write("x", 1), 0);
  try {
    r.WriteBuffer("x", 1);
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
  }
  TFileStream w(name, fmOpenWrite);
  char c;
  EXPECT_EQ(w.Read(&c, 1), 0);
  w.SetSize(2);
  EXPECT_EQ(w.Size(), 2);
}

TEST(MemoryStream, WriteSeekReadAndGaps) {
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  EXPECT_EQ(m.Position(), 3);
  EXPECT_EQ(m.Seek(2, soCurrent), 5);
  m.WriteBuffer("z", 1);  // the gap is zero-filled
  EXPECT_EQ(m.DataString(), std::string("abc\0\0z", 6));
  EXPECT_EQ(m.Seek(-2, soEnd), 4);
  char b[8];
  EXPECT_EQ(m.Read(b, 8), 2);
  EXPECT_EQ(m.Seek(-7, soCurrent), -1);
  EXPECT_EQ(m.Position(), 6);
  m.SetSize(2);
  EXPECT_EQ(m.Position(), 2);
  EXPECT_EQ(m.View(), "ab");
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
}

// The memory is kept when the stream shrinks: bytes that come back into it
// by growing must read as zeros, never as the old content.
TEST(MemoryStream, RegrownBytesAreZeroAndExtendLeavesThePosition) {
  TMemoryStream m;
  m.WriteBuffer("secret", 6);
  m.SetSize(1);
  m.SetSize(6);
  EXPECT_EQ(m.DataString(), std::string("s\0\0\0\0\0", 6));
  m.SetSize(0);
  m.Seek(3, soBeginning);
  m.WriteBuffer("x", 1);  // the gap left by the seek is zero-filled
  EXPECT_EQ(m.DataString(), std::string("\0\0\0x", 4));

  // Extend hands out bytes at the end for the caller to fill; the position
  // stays, and what is not filled is cut off with SetSize.
  m.set_Position(1);
  char* tail = m.Extend(3);
  std::memcpy(tail, "abc", 3);
  EXPECT_EQ(m.Size(), 7);
  EXPECT_EQ(m.Position(), 1);
  m.SetSize(6);
  EXPECT_EQ(m.DataString(), std::string("\0\0\0xab", 6));
  EXPECT_EQ(m.Extend(0), static_cast<char*>(m.Memory()) + 6);
  m.Clear();
  EXPECT_EQ(m.View(), "");
  EXPECT_NE(m.Memory(), nullptr);
}

// A large stream grows in place past a reserve and keeps every byte; its
// pages are provided ahead of the writes.
TEST(MemoryStream, LargeGrowthKeepsEveryByte) {
  constexpr int64_t kPiece = 256 * 1024;
  constexpr int64_t kPieces = 48;  // 12 MiB, past a reserve of 5 MiB
  TMemoryStream m;
  ASSERT_TRUE(m.Reserve(5 << 20));
  for (int64_t i = 0; i < kPieces; ++i) {
    char* p = m.Extend(kPiece);
    std::memset(p, 'a' + i % 26, kPiece);
    p[kPiece - 1] = static_cast<char>('A' + i % 26);
  }
  ASSERT_EQ(m.Size(), kPiece * kPieces);
  const std::string_view v = m.View();
  for (int64_t i = 0; i < kPieces; ++i) {
    ASSERT_EQ(v[static_cast<size_t>(i * kPiece)], 'a' + i % 26) << i;
    ASSERT_EQ(v[static_cast<size_t>(i * kPiece + kPiece / 2)], 'a' + i % 26) << i;
    ASSERT_EQ(v[static_cast<size_t>((i + 1) * kPiece - 1)], 'A' + i % 26) << i;
  }
  m.SetSize(kPiece * kPieces + 10);
  EXPECT_EQ(m.View().substr(static_cast<size_t>(kPiece * kPieces)), std::string(10, '\0'));
}

TEST(MemoryStream, CopyFromAndSaveReplaceAFile) {
  TempDir dir;
  std::string name = dir.file("rec.wav");
  // What completing a recording does: header, then the raw file read back
  // from its start, saved over the same file.
  WriteFile(name, "samples-samples-samples-samples");
  TMemoryStream m;
  m.WriteBuffer("HDR:", 4);
  {
    TFileStream raw(name, fmOpenRead);
    raw.set_Position(10);
    EXPECT_EQ(m.CopyFrom(raw, 0), 31);  // 0: the whole source from its start
  }
  m.SaveToFile(name);
  EXPECT_EQ(ReadFile(name), "HDR:samples-samples-samples-samples");

  TMemoryStream part;
  TMemoryStream src;
  src.WriteBuffer("0123456789", 10);
  src.set_Position(3);
  EXPECT_EQ(part.CopyFrom(src, 4), 4);
  EXPECT_EQ(part.DataString(), "3456");
  EXPECT_THROW(part.CopyFrom(src, 10), EReadError);  // only 3 bytes left

  TMemoryStream loaded;
  loaded.LoadFromFile(name);
  EXPECT_EQ(loaded.Position(), 0);
  EXPECT_EQ(loaded.DataString(), "HDR:samples-samples-samples-samples");
  EXPECT_THROW(loaded.LoadFromFile(dir.file("none")), EFOpenError);
}

TEST(StringList, LineSplitting) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two breaks
      {"a\r\r\nb\n\nc", {"a", "", "b", "", "c"}},
      {"\r\n", {""}},
      {"\n\n", {"", ""}},
      {std::string("x\0y\nz", 5), {std::string("x\0y", 3), "z"}},
  };
  for (const Case& c : cases) {
    TStringList l;
    l.set_Text(c.text);
    EXPECT_EQ(l.Lines(), c.lines) << ::testing::PrintToString(c.text);
  }
}

TEST(StringList, TextJoinsWithCrLfAndEditsCheckBounds) {
  TStringList l;
  EXPECT_EQ(l.Text(), "");
  l.Add("one");
  l.Add("three");
  l.Insert(1, "two");
  l.Insert(3, "four");
  EXPECT_EQ(l.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
  l.Delete(0);
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l[0], "two");
  EXPECT_EQ(l.IndexOf("THREE"), 1);  // case-blind by default
  l.set_CaseSensitive(true);
  EXPECT_EQ(l.IndexOf("THREE"), -1);
  EXPECT_THROW(l.Delete(3), EStringListError);
  EXPECT_THROW(l.Insert(-1, "x"), EStringListError);
  EXPECT_THROW(l.Strings(5), EStringListError);
}

TEST(StringList, NameValueLines) {
  TStringList l;
  l.Add("SID=abc");
  l.Add("plain");
  l.set_Values("lang", "ru");
  l.set_Values("sid", "xyz");  // names ignore case; the line takes the new spelling
  EXPECT_EQ(l.Text(), "sid=xyz\r\nplain\r\nlang=ru\r\n");
  EXPECT_EQ(l.Values("LANG"), "ru");
  EXPECT_EQ(l.Names(1), "");
  l.set_Values("SID", "");
  EXPECT_EQ(l.IndexOfName("SID"), -1);
  EXPECT_EQ(l.Count(), 2);
}

TEST(StringList, StreamAndFileRoundTrip) {
  TempDir dir;
  std::string name = dir.file("hex.txt");
  WriteFile(name, "@@Hexadecimal\nFF 00\r\n7f\r");
  TStringList l;
  l.LoadFromFile(name);
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"@@Hexadecimal", "FF 00", "7f"}));
  l.SaveToFile(name);
  EXPECT_EQ(ReadFile(name), "@@Hexadecimal\r\nFF 00\r\n7f\r\n");

  // Loading from a stream takes what follows the position.
  TMemoryStream m;
  m.WriteBuffer("skip\nkeep\n", 10);
  m.set_Position(5);
  l.LoadFromStream(m);
  EXPECT_EQ(l.Lines(), std::vector<std::string>{"keep"});
  l.SaveToStream(m);
  EXPECT_EQ(m.DataString(), "skip\nkeep\nkeep\r\n");
  EXPECT_THROW(l.LoadFromFile(dir.file("absent")), EFOpenError);
}

}  // namespace
}  // namespace velmora::host
