#include "velmora/net/netip.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>

namespace velmora::net {
namespace {

TIp6Bytes Bytes(std::initializer_list<uint16_t> groups) {
  TIp6Bytes b{};
  int i = 0;
  for (uint16_t g : groups) {
    b[2 * i] = static_cast<uint8_t>(g >> 8);
    b[2 * i + 1] = static_cast<uint8_t>(g & 0xFF);
    ++i;
  }
  return b;
}

TEST(NetIp, IsIPChecksDottedQuads) {
  for (const char* good : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "01.002.3.4", " 1. 2.3.4 "}) {
    EXPECT_TRUE(IsIP(good)) << good;
  }
  for (const char* bad : {"1.2.3.256", "1.2.3", "1.2.3.4.5", "", "1..3.4", "a.b.c.d", "1.2.3.-4",
                          "1.2.3.4x", "99999999999999999999999.1.1.1", "1.2.3.\t4"}) {
    EXPECT_FALSE(IsIP(bad)) << bad;
  }
}

TEST(NetIp, IsIP6ChecksGroupsAndZone) {
  for (const char* good : {"::1", "::", "fe80::1%4", "1:2:3:4:5:6:7:8", "2001:DB8::ff00:42:8329",
                           "1::8", "0000:0:0:0:0:0:0:1", "::2:3:4:5:6:7:8"}) {
    EXPECT_TRUE(IsIP6(good)) << good;
  }
  for (const char* bad : {"1::2::3", "1:2:3:4:5:6:7:8:9", "1:2:", "abcd", "1%4", "", "12345::1",
                          "fe80::1%10000", "::ffff:1.2.3.4", "g::1", "fe80::1%x", "1:%2:3",
                          "1.2.3.4", "1::", "::1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7::"}) {
    EXPECT_FALSE(IsIP6(bad)) << bad;
  }
}

TEST(NetIp, IPv4Conversions) {
  EXPECT_EQ(IPToID("1.2.3.4"), "\x01\x02\x03\x04");
  EXPECT_EQ(IPToID("0.0.0.1"), std::string("\0\0\0\x01", 4));
  EXPECT_EQ(IPToID("300.x.1"), std::string("\x2C\0\x01\0", 4));  // low 8 bits; junk is 0
  EXPECT_EQ(StrToIp("192.168.1.255"), 0xC0A801FFu);
  EXPECT_EQ(StrToIp("1.2"), 0x01020000u);
  EXPECT_EQ(StrToIp("1.256.0.0"), 0x02000000u);  // no range checks: 1*256+256
  EXPECT_EQ(IpToStr(0xC0A801FFu), "192.168.1.255");
  EXPECT_EQ(IpToStr(0), "0.0.0.0");
  std::mt19937 rng(7);
  for (int i = 0; i < 1000; ++i) {
    uint32_t v = rng();
    ASSERT_EQ(StrToIp(IpToStr(v)), v);
    ASSERT_TRUE(IsIP(IpToStr(v)));
  }
  EXPECT_EQ(ReverseIP("1.2.3.4"), "4.3.2.1");
  EXPECT_EQ(ReverseIP("a.b."), ".b.a");
  EXPECT_EQ(ReverseIP("x"), "x");
}

TEST(NetIp, ExpandIP6) {
  EXPECT_EQ(ExpandIP6("::1"), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(ExpandIP6("1::"), "1:0:0:0:0:0:0:0");
  EXPECT_EQ(ExpandIP6("::"), "0:0:0:0:0:0:0:0");
  EXPECT_EQ(ExpandIP6("1:2::7:8"), "1:2:0:0:0:0:7:8");
  EXPECT_EQ(ExpandIP6("1:2:3:4:5:6:7:8"), "1:2:3:4:5:6:7:8");
  EXPECT_EQ(ExpandIP6(""), "");
  EXPECT_EQ(ExpandIP6("1:2:3:4:5:6:7:8:9"), "");
  EXPECT_EQ(ExpandIP6("1:2:3:4::5:6:7:8"), "");  // eight ":" with "::" inside: nine groups
  // Eight ":" with "::" at an edge: the "::" is a single zero group.
  EXPECT_EQ(ExpandIP6("1:2:3:4:5:6:7::"), "1:2:3:4:5:6:7:0");
  EXPECT_EQ(ExpandIP6("::2:3:4:5:6:7:8"), "0:2:3:4:5:6:7:8");
}

TEST(NetIp, StrToIp6AndIp6ToStr) {
  TIp6Bytes one{};
  one[15] = 1;
  EXPECT_EQ(StrToIp6("::1"), one);
  EXPECT_EQ(Ip6ToStr(one), "::1");
  EXPECT_EQ(Ip6ToStr(TIp6Bytes{}), "::0");
  EXPECT_EQ(Ip6ToStr(Bytes({1, 0, 0, 2, 0, 0, 0, 3})), "1:0:0:2::3");
  EXPECT_EQ(Ip6ToStr(Bytes({1, 0, 0, 2, 3, 0, 0, 4})), "1::2:3:0:0:4");
  EXPECT_EQ(Ip6ToStr(Bytes({0, 0, 1, 0, 1, 0, 0, 0})), "0:0:1:0:1::");
  EXPECT_EQ(Ip6ToStr(Bytes({1, 0, 2, 3, 4, 5, 6, 7})), "1::2:3:4:5:6:7");
  EXPECT_EQ(Ip6ToStr(Bytes({0x2001, 0xdb8, 1, 2, 3, 4, 5, 0xABCD})), "2001:db8:1:2:3:4:5:abcd");
  EXPECT_EQ(StrToIp6("2001:DB8::FF00:42:8329"),
            Bytes({0x2001, 0xdb8, 0, 0, 0, 0xff00, 0x42, 0x8329}));
  // Rejected texts give all zeros; "@" ends the parse keeping what was read.
  EXPECT_EQ(StrToIp6("1::g"), TIp6Bytes{});
  EXPECT_EQ(StrToIp6("1:2:3:4:5:6:7:8:9"), TIp6Bytes{});
  EXPECT_EQ(StrToIp6("10000::1"), TIp6Bytes{});
  EXPECT_EQ(StrToIp6(""), TIp6Bytes{});
  EXPECT_EQ(StrToIp6("1:2:@:4"), Bytes({1, 2}));

  std::string r = ReverseIP6("::1");
  EXPECT_EQ(r.rfind("1.0.0.0", 0), 0u);
  EXPECT_EQ(r.size(), 63u);
  EXPECT_EQ(ReverseIP6("2001:db8::abcd"),
            "D.C.B.A.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.B.D.0.1.0.0.2");
}

// Random addresses, many with zero runs: our text must be what the system's
// parser reads back, and our own parser must return the same bytes.
TEST(NetIp, Ip6TextRoundTripsThroughInetPton) {
  std::mt19937 rng(11);
  for (int i = 0; i < 5000; ++i) {
    TIp6Bytes a{};
    for (int g = 0; g < 8; ++g) {
      uint16_t v = rng() % 3 == 0 ? 0 : static_cast<uint16_t>(rng() >> (rng() % 16));
      a[2 * g] = static_cast<uint8_t>(v >> 8);
      a[2 * g + 1] = static_cast<uint8_t>(v);
    }
    const std::string text = Ip6ToStr(a);
    TIp6Bytes sys{};
    ASSERT_EQ(inet_pton(AF_INET6, text.c_str(), sys.data()), 1) << text;
    ASSERT_EQ(sys, a) << text;
    ASSERT_EQ(StrToIp6(text), a) << text;
    ASSERT_EQ(text, [&] {
      std::string lower = text;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return lower;
    }());
    // A text ending in "::" has an empty last part, which IsIP6 rejects.
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "::") != 0) {
      ASSERT_TRUE(IsIP6(text)) << text;
    }
  }
}

}  // namespace
}  // namespace velmora::net
