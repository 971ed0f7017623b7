// Random-mutation runs over every decoder and parser of the text and coding
// units: valid inputs mutated by a seeded generator, plus random bytes.  The
// runs check that nothing crashes, reads outside its input (the sanitizer
// build sees that), or hangs, and that the results keep their invariants.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "tests/support/mutator.h"
#include "velmora/net/netcode.h"
#include "velmora/net/netip.h"
#include "velmora/net/netutil.h"

namespace velmora::net {
namespace {

// Iterations per run, stopped early when the run has taken its share of
// time (the sanitizer build is many times slower).
constexpr int kIterations = 20000;
constexpr auto kTimeBudget = std::chrono::seconds(4);

// What the codings and parsers treat specially.
std::vector<std::string> Tokens() {
  return {":",   "::", "%",  "=",     "\r", "\n",    "\r\n", "--",
          "--b", "[",  "]",  "@",     "/",  "?",     "\"",   ";",
          "<",   ">",  "(",  ")",     " ",  "-",     "+",    std::string(1, '\0'),
          ".",   "0",  "ff", "=\r\n", "%4", "BEGIN", "`"};
}

// Runs Check on mutated inputs; each input lives in an exact-size heap copy
// so that a read past its end is caught by the address sanitizer.
void Fuzz(uint32_t seed, const std::vector<std::string>& seeds,
          const std::function<void(const std::string&)>& check) {
  velmora::testing::Mutator m(seed, Tokens());
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kIterations; ++i) {
    const std::string input = m.Next(seeds);
    std::unique_ptr<char[]> exact(new char[input.size() + 1]);
    std::copy(input.begin(), input.end(), exact.get());
    check(std::string(exact.get(), input.size()));
    if (::testing::Test::HasFatalFailure()) return;
    if (std::chrono::steady_clock::now() - start > kTimeBudget) break;
  }
}

TEST(NetFuzz, EscapeAndByteDecoders) {
  Fuzz(1, {"a%41b", "a=3D=\r\nb", "%e2%82%ac", "=", "a%", "=0"}, [](const std::string& in) {
    ASSERT_LE(DecodeTriplet(in, '%').size(), in.size());
    ASSERT_LE(DecodeQuotedPrintable(in).size(), in.size());
    ASSERT_EQ(DecodeURL(EncodeURLElement(in)), in);
    ASSERT_LE(DecodeYEnc(in).size(), in.size());
  });
}

TEST(NetFuzz, Base64FamilyDecoders) {
  Fuzz(2, {"Zm9vYmFy", "Zm9vYg==", "QQ==QQ==", "+/8=", "#0V%T", "M86XX", "+,8="},
       [](const std::string& in) {
         const std::string d = DecodeBase64(in);
         ASSERT_LE(d.size(), in.size() * 3 / 4 + 1);
         ASSERT_EQ(d, Decode4to3Ex(in, ReTableBase64));
         ASSERT_LE(Decode4to3(in, TableBase64).size(), (in.size() + 3) / 4 * 3);
         ASSERT_LE(DecodeBase64mod(in).size(), (in.size() + 3) / 4 * 3);
         ASSERT_LE(DecodeUU(in).size(), 63u);
         ASSERT_LE(DecodeXX(in).size(), 63u);
         ASSERT_EQ(DecodeBase64(EncodeBase64(in)), in);
         if (in.size() < 64) {
           ASSERT_EQ(DecodeUU(EncodeUU(in)), in);
         }
       });
}

TEST(NetFuzz, UrlAndHeaderParsers) {
  Fuzz(3,
       {"https://joe:secret@[::1]:8443/a/b?x=1", "example/dir", "ftp://a@b:21", "http://h/p@q?r",
        "text/html; charset=\"utf-8\"; q=1", "a;\"b;c\";d"},
       [](const std::string& in) {
         std::string prot, user, pass, host, port, path, para;
         const std::string r = ParseURL(in, prot, user, pass, host, port, path, para);
         ASSERT_FALSE(r.empty());
         ASSERT_EQ(r[0], '/');
         ASSERT_FALSE(host.empty());
         ASSERT_EQ(path[0], '/');

         // FetchEx consumes the whole value, one field at a time.
         std::string rest = in;
         size_t taken = 0, fields = 0;
         while (!rest.empty()) {
           const size_t before = rest.size();
           taken += FetchEx(rest, ";", "\"").size();
           ASSERT_LT(rest.size(), before);
           ASSERT_LE(++fields, in.size());
         }
         ASSERT_LE(taken, in.size());

         (void)GetParameter(in, "charset");
         ASSERT_EQ(UnquoteStr(QuoteStr(in, '"'), '"'), in);
         (void)UnquoteStr(in, '"');
         ASSERT_LE(GetBetween("(", ")", in).size(), in.size());
         ASSERT_LE(GetBetween("<<", ">", in).size(), in.size());
         std::string t;
         const int32_t p = PosCRLF(in, t);
         ASSERT_TRUE(p == -1 || (p >= 1 && static_cast<size_t>(p) <= in.size()));
         (void)DecodeInt(in, static_cast<int32_t>(in.size()));
         (void)DecodeLongInt(in, static_cast<int32_t>(in.size()) - 2);
         (void)GetEmailDesc(in);
         (void)GetEmailAddr(in);
         host::TStringList lines;
         lines.set_Text(in);
         int32_t index = 0;
         while (index < lines.Count()) {
           const int32_t before = index;
           (void)NormalizeHeader(lines, index);
           ASSERT_GT(index, before);
         }
       });
}

TEST(NetFuzz, DateParser) {
  Fuzz(4,
       {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun Nov  6 08:49:37 1994", "Tue, 15 Nov 1994 10:00:00 +0100", "1 Jan 2000 EST DST",
        "12-25-2026"},
       [](const std::string& in) {
         ASSERT_TRUE(std::isfinite(DecodeRfcDateTime(in)));
         (void)GetMonthNumber(in);
         (void)GetTimeFromStr(in);
         (void)GetDateMDYFromStr(in);
       });
}

TEST(NetFuzz, IpText) {
  Fuzz(5, {"::1", "fe80::1%4", "1:2:3:4:5:6:7:8", "2001:db8::ff00:42:8329", "1.2.3.4", "::", "1::"},
       [](const std::string& in) {
         const TIp6Bytes b = StrToIp6(in);
         const std::string text = Ip6ToStr(b);
         ASSERT_EQ(StrToIp6(text), b) << text;
         const std::string e = ExpandIP6(in);
         ASSERT_TRUE(e.empty() || e.find("::") == std::string::npos ||
                     in.find(":::") != std::string::npos);
         if (IsIP6(in) && in.find('%') == std::string::npos) {
           ASSERT_EQ(Ip6ToStr(StrToIp6(in)), Ip6ToStr(StrToIp6(Ip6ToStr(StrToIp6(in)))));
         }
         if (IsIP(in)) {
           ASSERT_EQ(IPToID(in).size(), 4u);
           ASSERT_TRUE(IsIP(IpToStr(StrToIp(in))));
         }
         ASSERT_EQ(ReverseIP(ReverseIP(in)), in);
         ASSERT_EQ(ReverseIP6(in).size(), 63u);
       });
}

TEST(NetFuzz, MimeScanners) {
  Fuzz(6,
       {"pre\r\n--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n--b--\r\nepi",
        "\r\n\r\nx\r\n--b\r\n", "--b--", "a\nb\r\rc\0d"},
       [](const std::string& in) {
         const char* begin = in.data();
         const char* end = in.data() + in.size();
         auto inside = [&](const char* p) { return p >= begin && p <= end; };
         host::TStringList lines;
         const char* p = begin;
         size_t rounds = 0;
         while (p < end) {
           const char* before = p;
           SkipNullLines(p, end);
           CopyLinesFromStreamUntilNullLine(p, end, lines);
           CopyLinesFromStreamUntilBoundary(p, end, lines, "b");
           ASSERT_TRUE(inside(p));
           if (p == before) ++p;  // a zero byte: step over it ourselves
           ASSERT_LE(++rounds, in.size() + 1);
         }
         p = begin;
         rounds = 0;
         while (const char* start = SearchForBoundary(p, end, "b")) {
           ASSERT_TRUE(inside(start));
           ASSERT_TRUE(inside(p));
           ASSERT_GT(p, start);
           ASSERT_LE(++rounds, in.size());
         }
         ASSERT_EQ(p, end);
         for (const char* q = begin; q < end; ++q) {
           const char* m = MatchBoundary(q, end, "b");
           ASSERT_TRUE(m == nullptr || (m > q && inside(m)));
           m = MatchLastBoundary(q, end, "b");
           ASSERT_TRUE(m == nullptr || (m > q && inside(m)));
         }
         ASSERT_EQ(BuildStringFromBuffer(begin, end), in);
       });
}

}  // namespace
}  // namespace velmora::net
