#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "velmora/net/netcode.h"

namespace velmora::net {
namespace {

std::string RandomBytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string Unpadded(std::string s) {
  while (!s.empty() && s.back() == '=') s.pop_back();
  return s;
}

TEST(NetcodeBase64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (auto [plain, coded] : vectors) {
    EXPECT_EQ(EncodeBase64(plain), coded);
    EXPECT_EQ(DecodeBase64(coded), plain);
    EXPECT_EQ(Encode3to4(plain, TableBase64), coded);
    EXPECT_EQ(Decode4to3(coded, TableBase64), plain);
    EXPECT_EQ(Decode4to3Ex(coded, ReTableBase64), plain);
  }
  EXPECT_EQ(EncodeBase64("\xFB\xFF"), "+/8=");
  EXPECT_EQ(EncodeBase64mod("\xFB\xFF"), "+,8=");
  EXPECT_EQ(DecodeBase64mod("+,8="), "\xFB\xFF");
}

TEST(NetcodeBase64, DecoderSkipsWhatIsNotInTheAlphabet) {
  std::mt19937 rng(3);
  const std::string data = RandomBytes(rng, 1000);
  const std::string coded = EncodeBase64(data);
  std::string wrapped;
  for (size_t i = 0; i < coded.size(); i += 76) wrapped += coded.substr(i, 76) + "\r\n";
  EXPECT_EQ(DecodeBase64(wrapped), data);
  // Junk anywhere, including padding in the middle and bytes above 127.
  EXPECT_EQ(DecodeBase64(" Zm9v\tYm=F\xFFy\x01"), "foobar");
  EXPECT_EQ(DecodeBase64("QQ==QQ=="), "A\x04\x10");  // "=" is skipped, not an end
  // One value left over gives nothing; two give one byte; three give two.
  EXPECT_EQ(DecodeBase64("Zm9vY"), "foo");
  EXPECT_EQ(DecodeBase64("Zm9vYg"), "foob");
  EXPECT_EQ(DecodeBase64("Zm9vYmE"), "fooba");
  // Decode4to3 counts every character; a foreign one as 0.
  EXPECT_EQ(Decode4to3("Z!9v", TableBase64), Decode4to3("ZA9v", TableBase64));
  // A reverse table of our own: only "A" and "B" are values.
  TDecodeTable t{};
  t.fill(64);
  t['A' - 33] = 0;
  t['B' - 33] = 1;
  EXPECT_EQ(Decode4to3Ex("AAAB-Z", t), std::string("\0\0\x01", 3));
}

// Thousands of random inputs of random lengths against OpenSSL's block
// coder, and the generic coder against the fast one.
TEST(NetcodeBase64, AgreesWithOpenSSL) {
  std::mt19937 rng(12345);
  for (int iter = 0; iter < 4000; ++iter) {
    const size_t n = iter < 100 ? static_cast<size_t>(iter) : rng() % 3000;
    const std::string data = RandomBytes(rng, n);
    const std::string ours = EncodeBase64(data);

    std::string theirs(4 * ((n + 2) / 3) + 1, '\0');
    int len =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(theirs.data()),
                        reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(n));
    theirs.resize(static_cast<size_t>(len));
    ASSERT_EQ(ours, theirs) << "n=" << n;
    ASSERT_EQ(Encode3to4(data, TableBase64), ours);

    std::string back(3 * (ours.size() / 4) + 3, '\0');
    len = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(back.data()),
                          reinterpret_cast<const unsigned char*>(ours.data()),
                          static_cast<int>(ours.size()));
    ASSERT_GE(len, 0);
    // OpenSSL keeps the zero bytes that the padding stands for.
    back.resize(static_cast<size_t>(len) - (ours.size() - Unpadded(ours).size()));
    ASSERT_EQ(back, data);
    ASSERT_EQ(DecodeBase64(ours), data);
    ASSERT_EQ(Decode4to3Ex(ours, ReTableBase64), data);
    ASSERT_EQ(DecodeBase64mod(EncodeBase64mod(data)), data);
  }
}

TEST(NetcodeUU, EncodeAndDecodeLines) {
  EXPECT_EQ(EncodeUU(""), "`");
  EXPECT_EQ(EncodeUU(std::string(64, 'x')), "");
  EXPECT_EQ(EncodeUU("Cat"), "#0V%T");
  EXPECT_EQ(DecodeUU("#0V%T"), "Cat");
  EXPECT_EQ(DecodeUU(""), "");
  EXPECT_EQ(DecodeUU("begin 644 file.txt"), "");
  EXPECT_EQ(DecodeUU("  end"), "");
  EXPECT_EQ(DecodeUU("table"), "");
  EXPECT_EQ(DecodeUU("`"), "");
  EXPECT_EQ(DecodeUU(" 0V%T"), "");  // a count character outside the alphabet
  // Short lines are padded: spaces count as 0.
  EXPECT_EQ(DecodeUU("#0V"), std::string("C`\0", 3));
  std::mt19937 rng(5);
  for (size_t n = 0; n < 64; ++n) {
    const std::string data = RandomBytes(rng, n);
    const std::string line = EncodeUU(data);
    ASSERT_EQ(line.size(), 1 + (n * 4 + 2) / 3) << n;
    ASSERT_EQ(DecodeUU(line), data) << n;
  }
}

TEST(NetcodeUU, DecodeXX) {
  std::mt19937 rng(9);
  for (size_t n = 1; n < 64; ++n) {
    const std::string data = RandomBytes(rng, n);
    std::string line(1, TableXX[n]);
    line += Encode3to4(data, TableXX);
    ASSERT_EQ(DecodeXX(line), data) << n;
  }
  EXPECT_EQ(DecodeXX("begin 644 x"), "");
  EXPECT_EQ(DecodeXX("END"), "");
  EXPECT_NE(DecodeXX("table"), "");  // only BEGIN and END lines are skipped for XX
  EXPECT_EQ(DecodeXX("+"), "");
}

TEST(NetcodeYEnc, DecodesEscapesAndDropsATrailingEscape) {
  std::mt19937 rng(1);
  const std::string data = RandomBytes(rng, 5000);
  std::string coded;
  for (char c : data) {
    uint8_t e = static_cast<uint8_t>(static_cast<uint8_t>(c) + 42);
    if (e == 0 || e == '\n' || e == '\r' || e == '=') {
      coded += '=';
      e = static_cast<uint8_t>(e + 64);
    }
    coded += static_cast<char>(e);
  }
  EXPECT_EQ(DecodeYEnc(coded), data);
  EXPECT_EQ(DecodeYEnc("k"), "A");
  EXPECT_EQ(DecodeYEnc("k="), "A");
  EXPECT_EQ(DecodeYEnc("="), "");
  EXPECT_EQ(DecodeYEnc("=}"), std::string(1, '\x13'));
}

TEST(NetcodeTriplet, UrlAndQuotedPrintable) {
  EXPECT_EQ(DecodeURL("a%41b"), "aAb");
  EXPECT_EQ(DecodeURL("a%4"), "a");
  EXPECT_EQ(DecodeURL("a%"), "a");
  EXPECT_EQ(DecodeURL("a%zzb"), "a%zzb");
  EXPECT_EQ(DecodeURL("%e2%82%AC"), "\xE2\x82\xAC");
  EXPECT_EQ(DecodeQuotedPrintable("a=\r\nb"), "ab");
  EXPECT_EQ(DecodeQuotedPrintable("a=\nb"), "ab");
  EXPECT_EQ(DecodeQuotedPrintable("a=\n\rb"), "ab");
  EXPECT_EQ(DecodeQuotedPrintable("a=\r\rb"), "a\rb");  // only the pair is one break
  EXPECT_EQ(DecodeQuotedPrintable("a=3D"), "a=");

  EXPECT_EQ(EncodeURL("a b_c~d/e?f"), "a%20b%5Fc%7Ed/e?f");
  EXPECT_EQ(EncodeURL("\x7F\xC3\xA9%"), "%7F%C3%A9%25");
  EXPECT_EQ(EncodeURLElement("/?&=+#:;@x"), "%2F%3F%26%3D%2B%23%3A%3B%40x");
  EXPECT_EQ(EncodeQuotedPrintable("a b=\xE9\r\n"), "a b=3D=E9=0D=0A");
  EXPECT_EQ(EncodeSafeQuotedPrintable("a(b)_c d"), "a=28b=29=5Fc d");

  std::mt19937 rng(2);
  for (int i = 0; i < 500; ++i) {
    const std::string data = RandomBytes(rng, rng() % 200);
    ASSERT_EQ(DecodeURL(EncodeURLElement(data)), data);
    ASSERT_EQ(DecodeQuotedPrintable(EncodeQuotedPrintable(data)), data);
    ASSERT_EQ(DecodeQuotedPrintable(EncodeSafeQuotedPrintable(data)), data);
  }
}

TEST(NetcodeTriplet, ExportedSets) {
  EXPECT_EQ(URLFullSpecialChar.count(), 9u);
  EXPECT_EQ(SpecialChar.count(), 16u);
  EXPECT_EQ(NonAsciiChar.count(), 32u + 129u);
  EXPECT_EQ(URLSpecialChar.count(), 33u + 14u + 129u);
  EXPECT_TRUE(URLSpecialChar.test(' '));
  EXPECT_TRUE(URLSpecialChar.test('`'));
  EXPECT_FALSE(URLSpecialChar.test('/'));
  EXPECT_FALSE(NonAsciiChar.test(' '));
  TSpecials s;
  s.set('x').set('y').reset('x');
  EXPECT_TRUE(s[static_cast<uint8_t>('y')]);
  EXPECT_FALSE(s.test('x'));
}

}  // namespace
}  // namespace velmora::net
