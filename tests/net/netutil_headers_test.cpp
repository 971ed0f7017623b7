#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/support.h"
#include "velmora/host/exception.h"
#include "velmora/host/streams.h"
#include "velmora/net/netutil.h"

namespace velmora::net {
namespace {

struct Url {
  std::string prot, user, pass, host, port, path, para, result;
};

Url Parse(const std::string& text) {
  Url u;
  u.result = ParseURL(text, u.prot, u.user, u.pass, u.host, u.port, u.path, u.para);
  return u;
}

TEST(NetutilUrl, ParseURLTakesEveryPart) {
  Url u = Parse("https://joe:secret@[::1]:8443/a/b?x=1");
  EXPECT_EQ(u.prot, "https");
  EXPECT_EQ(u.user, "joe");
  EXPECT_EQ(u.pass, "secret");
  EXPECT_EQ(u.host, "::1");
  EXPECT_EQ(u.port, "8443");
  EXPECT_EQ(u.path, "/a/b");
  EXPECT_EQ(u.para, "x=1");
  EXPECT_EQ(u.result, "/a/b?x=1");

  u = Parse("example/dir");
  EXPECT_EQ(u.prot, "http");
  EXPECT_EQ(u.port, "80");
  EXPECT_EQ(u.host, "example");
  EXPECT_EQ(u.path, "/dir");

  u = Parse("");
  EXPECT_EQ(u.host, "localhost");
  EXPECT_EQ(u.path, "/");
  EXPECT_EQ(u.result, "/");

  // An at sign after the first slash belongs to the path.
  u = Parse("http://host/mail@box?q=a@b");
  EXPECT_EQ(u.user, "");
  EXPECT_EQ(u.pass, "");
  EXPECT_EQ(u.host, "host");
  EXPECT_EQ(u.path, "/mail@box");
  EXPECT_EQ(u.para, "q=a@b");

  // Without a slash, an at sign anywhere starts the host.
  u = Parse("FTP://anon@files.example:2121");
  EXPECT_EQ(u.user, "anon");
  EXPECT_EQ(u.pass, "");
  EXPECT_EQ(u.host, "files.example");
  EXPECT_EQ(u.port, "2121");
  EXPECT_EQ(u.path, "/");

  u = Parse("ftp://h/x");
  EXPECT_EQ(u.port, "21");
  u = Parse("https://[fe80::1]/");  // IPv6 literal without a port keeps the default
  EXPECT_EQ(u.host, "fe80::1");
  EXPECT_EQ(u.port, "443");
  u = Parse("http://:8080/p");
  EXPECT_EQ(u.host, "localhost");
  EXPECT_EQ(u.port, "8080");
  u = Parse("http://[::1/p");  // unclosed bracket: the rest of the host part
  EXPECT_EQ(u.host, "::1");
}

TEST(NetutilHeaders, NormalizeHeaderJoinsContinuations) {
  host::TStringList l{"X: a", " b", "\tc", "Y: d", " e"};
  int32_t i = 0;
  EXPECT_EQ(NormalizeHeader(l, i), "X: a b c");
  EXPECT_EQ(i, 3);
  // " e" is the last line of the list, so it is not taken as a continuation.
  EXPECT_EQ(NormalizeHeader(l, i), "Y: d");
  EXPECT_EQ(i, 4);
  EXPECT_EQ(NormalizeHeader(l, i), " e");  // only trailing blanks are removed
  EXPECT_EQ(i, 5);
  EXPECT_EQ(NormalizeHeader(l, i), "");  // past the end: empty, and the index moves on
  EXPECT_EQ(i, 6);

  host::TStringList m{"A: 1  ", "=x", ":y", "\"z\"", "", " not joined", ""};
  i = 0;
  EXPECT_EQ(NormalizeHeader(m, i), "A: 1   =x :y \"z\"");
  EXPECT_EQ(i, 4);
  EXPECT_EQ(NormalizeHeader(m, i), "");
  EXPECT_EQ(i, 5);
}

TEST(NetutilHeaders, ListsAndParameters) {
  host::TStringList l{"Host: a:b", "X=1: y", "plain"};
  HeadersToList(l);
  EXPECT_EQ(l[0], "Host= a:b");
  EXPECT_EQ(l[1], "X=1: y");  // an "=" before the ":" leaves the line alone
  EXPECT_EQ(l[2], "plain");
  ListToHeaders(l);
  EXPECT_EQ(l[0], "Host: a:b");
  EXPECT_EQ(l[1], "X:1: y");

  const std::string ct = "multipart/form-data; boundaryx=no; boundary=\"a;\"\"b\"; charset = utf-8";
  EXPECT_EQ(GetParameter(ct, "BOUNDARY"), "a;\"b");
  EXPECT_EQ(GetParameter(ct, "charset"), "utf-8");
  EXPECT_EQ(GetParameter(ct, "missing"), "");
  EXPECT_EQ(GetParameter("a; flag; flag=1", "flag"), "");  // a bare name ends the search

  ParseParameters(" a=1 ; b=\"x;y\";; c ", l);
  ASSERT_EQ(l.Count(), 4);
  EXPECT_EQ(l[0], "a=1");
  EXPECT_EQ(l[1], "b=\"x;y\"");
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3], "c");
  ParseParametersEx("a, b", ",", l);
  EXPECT_EQ(l.Count(), 2);

  host::TStringList h{"Content-Type: x", "Content-Length: 5", ""};
  EXPECT_EQ(IndexByBegin("content-length", h), 1);
  EXPECT_EQ(IndexByBegin("Date", h), -1);
  StringsTrim(h);
  EXPECT_EQ(h.Count(), 2);
  host::TStringList blank{"", ""};
  StringsTrim(blank);
  EXPECT_EQ(blank.Count(), 0);
}

TEST(NetutilHeaders, EmailAddresses) {
  EXPECT_EQ(GetEmailAddr("\"Joe Q\" < joe@example.org >"), "joe@example.org");
  EXPECT_EQ(GetEmailAddr("  joe@example.org "), "joe@example.org");
  EXPECT_EQ(GetEmailDesc("\"Joe Q\" <joe@example.org>"), "Joe Q");
  EXPECT_EQ(GetEmailDesc("Joe Q <joe@example.org>"), "Joe Q");
  EXPECT_EQ(GetEmailDesc("joe@example.org (Joe Q)"), "Joe Q");
  EXPECT_EQ(GetEmailDesc("joe@example.org"), "");
}

TEST(NetutilFiles, DumpsStreamsAndTempFiles) {
  testing::TempDir dir;
  const std::string f = dir.file("dump.txt");
  Dump("a\x01", f);
  EXPECT_EQ(testing::ReadFile(f), " +#$61 +#$01\n");
  DumpEx("aB", f);  // replaces the file
  EXPECT_EQ(testing::ReadFile(f), " +'a' +'B'\n");
  EXPECT_THROW(Dump("x", dir.file("no/such/dir/f")), host::EFCreateError);

  host::TMemoryStream m;
  WriteStrToStream(m, std::string("ab\0cd", 5));
  WriteStrToStream(m, "");
  EXPECT_EQ(m.Size(), 5);
  m.set_Position(1);
  EXPECT_EQ(ReadStrFromStream(m, 3), std::string("b\0c", 3));
  EXPECT_EQ(ReadStrFromStream(m, 100), "d");  // only what is there
  EXPECT_EQ(ReadStrFromStream(m, 10), "");
  EXPECT_EQ(ReadStrFromStream(m, -1), "");

  const std::string t1 = GetTempFile(dir.path().string(), "vel");
  const std::string t2 = GetTempFile(dir.path().string() + "/", "vel");
  ASSERT_FALSE(t1.empty());
  EXPECT_NE(t1, t2);
  EXPECT_TRUE(std::filesystem::exists(t1));
  EXPECT_TRUE(std::filesystem::exists(t2));
  EXPECT_EQ(std::filesystem::path(t1).parent_path(), dir.path());
  EXPECT_EQ(std::filesystem::path(t1).filename().string().rfind("vel", 0), 0u);
  EXPECT_EQ(GetTempFile(dir.file("missing"), "x"), "");
  const char* old = getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  const std::string t3 = GetTempFile("", "d");
  if (old) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_EQ(std::filesystem::path(t3).parent_path(), dir.path());
}

TEST(NetutilMime, ScansAMultipartBody) {
  const std::string body =
      "preamble\r\n--b\r\nContent-Type: text/plain\r\nX: 1\r\n\r\nhello\r\nworld\r\n--b--\r\nepi";
  const char* p = body.data();
  const char* end = body.data() + body.size();
  const char* start = SearchForBoundary(p, end, "b");
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start - body.data(), 8);  // the CR LF before the boundary belongs to it
  EXPECT_EQ(BuildStringFromBuffer(p, end).rfind("Content-Type", 0), 0u);

  host::TStringList headers;
  CopyLinesFromStreamUntilNullLine(p, end, headers);
  ASSERT_EQ(headers.Count(), 2);
  EXPECT_EQ(headers[1], "X: 1");
  EXPECT_EQ(BuildStringFromBuffer(p, p + 5), "hello");

  host::TStringList lines;
  CopyLinesFromStreamUntilBoundary(p, end, lines, "b");
  ASSERT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines[1], "world");
  EXPECT_EQ(BuildStringFromBuffer(p, end), "epi");  // after the closing boundary
  const char* none = end;
  EXPECT_EQ(SearchForBoundary(none, end, "b"), nullptr);
}

TEST(NetutilMime, BoundariesAndLines) {
  const std::string s = "\r\n--bnd\r\nrest--bnd--x";
  const char* e = s.data() + s.size();
  EXPECT_EQ(MatchBoundary(s.data(), e, "bnd"), s.data() + 9);
  EXPECT_EQ(MatchLastBoundary(s.data(), e, "bnd"), nullptr);
  EXPECT_EQ(MatchLastBoundary(s.data() + 13, e, "bnd"), e - 1);
  EXPECT_EQ(MatchBoundary(s.data(), s.data() + 6, "bnd"), nullptr);  // does not fit
  EXPECT_EQ(MatchBoundary(s.data() + 2, e, "other"), nullptr);

  const std::string n = "\r\n\n\r\nabc\r\n";
  const char* p = n.data();
  SkipNullLines(p, n.data() + n.size());
  EXPECT_EQ(p, n.data() + 5);
  const char* ls;
  int32_t len;
  SearchForLineBreak(p, n.data() + n.size(), ls, len);
  EXPECT_EQ(len, 3);
  SkipLineBreak(p, n.data() + n.size());
  EXPECT_EQ(p, n.data() + n.size());

  // A zero byte stops every copy instead of being looped on.
  const std::string z("ab\0cd\r\n--b", 10);
  host::TStringList l;
  p = z.data();
  CopyLinesFromStreamUntilBoundary(p, z.data() + z.size(), l, "b");
  EXPECT_EQ(p, z.data() + 2);
  EXPECT_EQ(l.Count(), 1);
  p = z.data();
  l.Clear();
  CopyLinesFromStreamUntilNullLine(p, z.data() + z.size(), l);
  EXPECT_EQ(p, z.data() + 2);
  const std::string zl("\r\n\0\r\n", 5);
  p = zl.data();
  SkipNullLines(p, zl.data() + zl.size());
  EXPECT_EQ(p, zl.data() + 2);

  EXPECT_EQ(BuildStringFromBuffer(nullptr, e), "");
  EXPECT_EQ(BuildStringFromBuffer(e, s.data()), "");
  const char* null_pos = nullptr;
  EXPECT_EQ(SearchForBoundary(null_pos, e, "b"), nullptr);
}

}  // namespace
}  // namespace velmora::net
