#include <gtest/gtest.h>

#include "velmora/net/netutil.h"

namespace velmora::net {
namespace {

TEST(NetutilSplit, SeparateAndFetch) {
  EXPECT_EQ(SeparateLeft("key: value", ":"), "key");
  EXPECT_EQ(SeparateRight("key: value", ":"), " value");
  EXPECT_EQ(SeparateLeft("a::b::c", "::"), "a");
  EXPECT_EQ(SeparateRight("a::b::c", "::"), "b::c");
  // Without the delimiter (or with an empty one) both sides are the value.
  EXPECT_EQ(SeparateLeft("abc", ";"), "abc");
  EXPECT_EQ(SeparateRight("abc", ";"), "abc");
  EXPECT_EQ(SeparateRight("abc", ""), "abc");

  std::string v = "abc";
  EXPECT_EQ(FetchBin(v, ";"), "abc");
  EXPECT_EQ(v, "");
  v = " a ; b ;c";
  EXPECT_EQ(FetchBin(v, ";"), " a ");
  EXPECT_EQ(v, " b ;c");
  EXPECT_EQ(Fetch(v, ";"), "b");
  EXPECT_EQ(v, "c");
  // Fetch trims only spaces, not tabs.
  v = "\tx ; y ";
  EXPECT_EQ(Fetch(v, ";"), "\tx");
  EXPECT_EQ(v, "y");
}

TEST(NetutilSplit, FetchExKeepsQuotedDelimiters) {
  std::string v = "a;\"b;c\";d";
  EXPECT_EQ(FetchEx(v, ";", "\""), "a");
  EXPECT_EQ(FetchEx(v, ";", "\""), "\"b;c\"");
  EXPECT_EQ(v, "d");
  EXPECT_EQ(FetchEx(v, ";", "\""), "d");
  EXPECT_EQ(v, "");
  // Multi-byte delimiter; an unterminated quote swallows the rest.
  v = "x, y, \"z, w";
  EXPECT_EQ(FetchEx(v, ", ", "\""), "x");
  EXPECT_EQ(FetchEx(v, ", ", "\""), "y");
  EXPECT_EQ(FetchEx(v, ", ", "\""), "\"z, w");
  EXPECT_EQ(v, "");
  // An empty delimiter never matches, so the whole value is the field.
  v = "abc";
  EXPECT_EQ(FetchEx(v, "", "\""), "abc");
  EXPECT_EQ(v, "");
}

TEST(NetutilSearch, Positions) {
  EXPECT_EQ(RPos("ab", "xabyab"), 5);
  EXPECT_EQ(RPos("ab", "xyz"), 0);
  EXPECT_EQ(RPos("", "xyz"), 0);
  // Occurrences must end at or before From.
  EXPECT_EQ(RPosEx("ab", "xabyab", 6), 5);
  EXPECT_EQ(RPosEx("ab", "xabyab", 5), 2);
  EXPECT_EQ(RPosEx("ab", "xabyab", 2), 0);
  EXPECT_EQ(RPosEx("ab", "xabyab", 100), 5);
  EXPECT_EQ(PosFrom("ab", "abxab", 0), 1);
  EXPECT_EQ(PosFrom("ab", "abxab", 2), 4);
  EXPECT_EQ(PosFrom("ab", "abxab", 5), 0);
  EXPECT_EQ(PosFrom("ab", "abxab", 99), 0);
  EXPECT_EQ(PosFrom("", "abxab", 1), 0);
  EXPECT_EQ(CountOfChar("a.b.c.", '.'), 3);
}

TEST(NetutilSearch, PosCRLFReportsTheBreakFound) {
  std::string t = "junk";
  EXPECT_EQ(PosCRLF("ab", t), -1);
  EXPECT_EQ(t, "");
  EXPECT_EQ(PosCRLF("a\r\nb", t), 2);
  EXPECT_EQ(t, "\r\n");
  EXPECT_EQ(PosCRLF("a\n\rb", t), 2);
  EXPECT_EQ(t, "\n\r");
  EXPECT_EQ(PosCRLF("ab\n\nc", t), 3);
  EXPECT_EQ(t, "\n");
  EXPECT_EQ(PosCRLF("a\r\rb", t), 2);
  EXPECT_EQ(t, "\r");
  EXPECT_EQ(PosCRLF("ab\r", t), 3);  // a break byte at the very end stands alone
  EXPECT_EQ(t, "\r");
}

TEST(NetutilSearch, GetBetweenCountsNesting) {
  EXPECT_EQ(GetBetween("(", ")", "a(b(c)d)e"), "b(c)d");
  EXPECT_EQ(GetBetween("(", ")", "()"), "");
  EXPECT_EQ(GetBetween("<<", ">>", "x<<a>>y"), "a");
  EXPECT_EQ(GetBetween("(", ")", ")"), ")");          // shorter than both
  EXPECT_EQ(GetBetween("(", ")", "abc"), "abc");      // no opening
  EXPECT_EQ(GetBetween("(", ")", "a(bc"), "a(bc");    // no closing after it
  EXPECT_EQ(GetBetween("\"", "\"", "x\"q\"y"), "q");  // same text both ways
  // Unbalanced: the scan ends where a closing text can last begin.
  EXPECT_EQ(GetBetween("(", ")", "a((b)c"), "(b)c");
}

TEST(NetutilSearch, IncPointAdvancesByBytes) {
  int32_t words[4] = {1, 2, 3, 4};
  const char* c = reinterpret_cast<const char*>(words);
  EXPECT_EQ(IncPoint(c, 8), c + 8);
  int32_t* w = IncPoint(&words[0], 4);
  EXPECT_EQ(*w, 2);
  const void* v = IncPoint(static_cast<const void*>(words), 12);
  EXPECT_EQ(*static_cast<const int32_t*>(v), 4);
}

TEST(NetutilTrim, SpacesQuotesAndReplacing) {
  EXPECT_EQ(TrimSPLeft("  a b  "), "a b  ");
  EXPECT_EQ(TrimSPRight("  a b  "), "  a b");
  EXPECT_EQ(TrimSP("  a b  "), "a b");
  EXPECT_EQ(TrimSP("\t a \t"), "\t a \t");
  EXPECT_EQ(TrimSP("    "), "");

  EXPECT_EQ(QuoteStr("a\"b", '"'), "\"a\"\"b\"");
  EXPECT_EQ(UnquoteStr("\"\"", '"'), "");
  EXPECT_EQ(UnquoteStr("", '"'), "");
  EXPECT_EQ(UnquoteStr("ab", '"'), "ab");
  EXPECT_EQ(UnquoteStr("\"a\"\"b\"", '"'), "a\"b");
  EXPECT_EQ(UnquoteStr("x\"a b\"y", '"'), "xa by");
  for (std::string s : {"", "plain", "with \"quotes\"", "\"\"\"", "'"}) {
    EXPECT_EQ(UnquoteStr(QuoteStr(s, '"'), '"'), s) << s;
  }

  EXPECT_EQ(ReplaceString("aaa", "aa", "a"), "aa");
  EXPECT_EQ(ReplaceString("a.b.c", ".", "::"), "a::b::c");
  EXPECT_EQ(ReplaceString("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceString("", "a", "x"), "");
  EXPECT_EQ(ReplaceString("xx", "x", "xx"), "xxxx");  // inserted text not rescanned

  EXPECT_EQ(PadString("abcdef", 3, '.'), "abc");
  EXPECT_EQ(PadString("ab", 5, '.'), "ab...");
  EXPECT_EQ(PadString("ab", -1, '.'), "");
  EXPECT_EQ(XorString(std::string("\x0F\xF0\x55", 3), std::string("\xFF", 1)),
            std::string("\xF0\xF0\x55", 3));
  EXPECT_EQ(XorString("ab", "abcdef"), std::string(2, '\0'));
}

TEST(NetutilConvert, BinaryFields) {
  EXPECT_EQ(CodeInt(0x1234), "\x12\x34");
  EXPECT_EQ(DecodeInt("\x12\x34", 1), 0x1234);
  EXPECT_EQ(DecodeInt("x\xAB\xCD", 2), 0xABCD);
  // A lone last byte, a missing one and out-of-range indexes decode as 0s.
  EXPECT_EQ(DecodeInt("ab", 2), 0);
  EXPECT_EQ(DecodeInt("ab", 3), 0);
  EXPECT_EQ(DecodeInt("ab", 0), 'a');
  EXPECT_EQ(DecodeInt("ab", -7), 0);

  EXPECT_EQ(CodeLongInt(0x01020304), "\x01\x02\x03\x04");
  EXPECT_EQ(CodeLongInt(-1), "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(DecodeLongInt("\x01\x02\x03\x04", 1), 0x01020304);
  EXPECT_EQ(DecodeLongInt("\xFF\xFF\xFF\xFE", 1), -2);
  EXPECT_EQ(DecodeLongInt("\x01\x02\x03", 1), 0x01020300);
  EXPECT_EQ(DecodeLongInt("\x01", 1), 0);
  for (int32_t v : {0, 1, -1, 0x7FFFFFFF, INT32_MIN, 0x12345678}) {
    std::string field = "z";
    field += CodeLongInt(v);
    EXPECT_EQ(DecodeLongInt(field, 2), v);
  }
  EXPECT_EQ(SwapBytes(0x11223344), 0x44332211);
  EXPECT_EQ(SwapBytes(SwapBytes(INT32_MIN + 5)), INT32_MIN + 5);
}

TEST(NetutilConvert, TextForms) {
  EXPECT_EQ(StrToHex("\x01\xAB z"), "01ab207a");
  EXPECT_EQ(IntToBin(5, 0), "101");
  EXPECT_EQ(IntToBin(5, 8), "00000101");
  EXPECT_EQ(IntToBin(0, 0), "0");
  EXPECT_EQ(IntToBin(-3, 4), "0000");  // negative remainders give "0"
  EXPECT_EQ(BinToInt("101"), 5);
  EXPECT_EQ(BinToInt("1102"), 6);
  EXPECT_EQ(BinToInt("x1"), 0);
  EXPECT_EQ(BinToInt(IntToBin(0x5A5A, 0)), 0x5A5A);

  EXPECT_TRUE(IsBinaryString("a\r\nb"));
  EXPECT_FALSE(IsBinaryString(std::string("abc\0", 4)));
  EXPECT_TRUE(IsBinaryString(std::string("ab\0c", 4)));
  EXPECT_TRUE(IsBinaryString(std::string("abc\0\0", 5)));
  EXPECT_FALSE(IsBinaryString("tab\there \xFF\x80"));
  EXPECT_FALSE(IsBinaryString(""));

  EXPECT_EQ(DumpStr("a\x01"), " +#$61 +#$01");
  EXPECT_EQ(DumpExStr("Az1\xFF"), " +'A' +'z' +#$31 +#$FF");
}

TEST(NetutilTick, DeltaHandlesWrap) {
  EXPECT_EQ(TickDelta(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(TickDelta(0x100u, 0x90u), 0x70u);  // a smaller tick without wrap
  EXPECT_EQ(TickDelta(100, 100), 0u);
  EXPECT_EQ(TickDelta(100, 250), 150u);
  EXPECT_EQ(TickDelta(100, 90), 10u);
  EXPECT_EQ(TickDelta(0x80000000u, 0x7FFFFFFFu), 0xFFFFFFFFu);  // counted as a wrap
  EXPECT_EQ(TickDelta(0x7FFFFFFFu, 0x10u), 0x7FFFFFEFu);

  uint32_t a = GetTick();
  uint32_t b = GetTick();
  EXPECT_LT(TickDelta(a, b), 1000u);
}

}  // namespace
}  // namespace velmora::net
