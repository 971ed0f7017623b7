#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>

#include <memory>
#include <random>

#include "velmora/net/netcode.h"
#include "velmora/net/netcode_internal.h"
#include "velmora/net/netutil_text.h"

namespace velmora::net {
namespace {

std::string RandomBytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// The portable SHA-1 path forced for the life of the object.
struct PortableSha1 {
  PortableSha1() { detail::ForcePortableSha1(true); }
  ~PortableSha1() { detail::ForcePortableSha1(false); }
};

TEST(NetcodeDigest, PublishedVectors) {
  const std::string digits80 =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  const std::string alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // RFC 1320
  EXPECT_EQ(StrToHex(MD4("")), "31d6cfe0d16ae931b73c59d7e0c089c0");
  EXPECT_EQ(StrToHex(MD4("a")), "bde52cb31de33e46245e05fbdbd6fb24");
  EXPECT_EQ(StrToHex(MD4("abc")), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(StrToHex(MD4("message digest")), "d9130a8164549fe818874806e1c7014b");
  EXPECT_EQ(StrToHex(MD4("abcdefghijklmnopqrstuvwxyz")), "d79e1c308aa5bbcdeea8ed63df412da9");
  EXPECT_EQ(StrToHex(MD4(alnum)), "043f8582f241db351ce627e153e7f0e4");
  EXPECT_EQ(StrToHex(MD4(digits80)), "e33b4ddc9c38f2199c3e7b164fcc0536");
  // RFC 1321
  EXPECT_EQ(StrToHex(MD5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(StrToHex(MD5("a")), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(StrToHex(MD5("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(StrToHex(MD5("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(StrToHex(MD5("abcdefghijklmnopqrstuvwxyz")), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(StrToHex(MD5(alnum)), "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(StrToHex(MD5(digits80)), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(NetcodeDigest, Sha1VectorsOnBothPaths) {
  std::string rep;
  for (int i = 0; i < 10; ++i)
    rep += "0123456701234567012345670123456701234567012345670123456701234567";
  for (bool portable : {false, true}) {
    SCOPED_TRACE(portable ? "portable" : "dispatched");
    std::unique_ptr<PortableSha1> force;
    if (portable) force = std::make_unique<PortableSha1>();
    // FIPS 180 / RFC 3174
    EXPECT_EQ(StrToHex(SHA1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(StrToHex(SHA1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(StrToHex(SHA1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(StrToHex(SHA1(std::string(1000000, 'a'))),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(StrToHex(SHA1(rep)), "dea356a2cddd90c7a7ecedc5ebb563934f460452");
    EXPECT_EQ(StrToHex(SHA1LongHash("a", 1000000)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  }
}

TEST(NetcodeDigest, Rfc2202Hmac) {
  struct Case {
    std::string key, data, md5, sha1;
  };
  std::string key25;
  for (int i = 1; i <= 25; ++i) key25 += static_cast<char>(i);
  const Case cases[] = {
      {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d", ""},
      {std::string(20, '\x0b'), "Hi There", "", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738",
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6", ""},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "",
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key25, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79",
       "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c", ""},
      {std::string(20, '\x0c'), "Test With Truncation", "",
       "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6f630fad67cda0ee1fb1f562db3aa53e", "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const Case& c : cases) {
    if (!c.md5.empty()) {
      EXPECT_EQ(StrToHex(HMAC_MD5(c.data, c.key)), c.md5) << c.data;
    }
    if (!c.sha1.empty()) {
      EXPECT_EQ(StrToHex(HMAC_SHA1(c.data, c.key)), c.sha1) << c.data;
    }
  }
}

TEST(NetcodeDigest, LongHashRepeatsTheValue) {
  EXPECT_EQ(MD5LongHash("abc", 7), MD5("abcabca"));
  EXPECT_EQ(SHA1LongHash("abc", 7), SHA1("abcabca"));
  EXPECT_EQ(MD5LongHash("abc", 2), MD5("ab"));
  std::string many;
  for (int i = 0; i < 3001; ++i) many += "xyz";
  EXPECT_EQ(MD5LongHash("xyz", 9002), MD5(many.substr(0, 9002)));
  EXPECT_EQ(SHA1LongHash("xyz", 9003), SHA1(many));
  // An empty value (or a length of 0) hashes no bytes instead of dividing by 0.
  EXPECT_EQ(MD5LongHash("", 100), MD5(""));
  EXPECT_EQ(SHA1LongHash("", 100), SHA1(""));
  EXPECT_EQ(MD5LongHash("abc", 0), MD5(""));
  EXPECT_EQ(SHA1LongHash("abc", -5), SHA1(""));
}

std::string EvpDigest(const EVP_MD* md, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), out, &len, md, nullptr) != 1) return "<error>";
  return std::string(reinterpret_cast<char*>(out), len);
}

// Thousands of random inputs of random lengths against OpenSSL.  MD4 lives
// in OpenSSL 3's legacy provider; when that cannot be loaded MD4 is checked
// by the published vectors alone.
TEST(NetcodeDigest, AgreesWithOpenSSL) {
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  EVP_MD* md4 = EVP_MD_fetch(nullptr, "MD4", nullptr);
  if (md4 == nullptr) std::fprintf(stderr, "OpenSSL has no MD4 here; MD4 not compared\n");

  std::mt19937 rng(2024);
  for (int iter = 0; iter < 3000; ++iter) {
    const size_t n = iter < 200 ? static_cast<size_t>(iter) : rng() % 5000;
    const std::string data = RandomBytes(rng, n);
    ASSERT_EQ(MD5(data), EvpDigest(EVP_md5(), data)) << n;
    ASSERT_EQ(SHA1(data), EvpDigest(EVP_sha1(), data)) << n;
    if (md4 != nullptr) {
      ASSERT_EQ(MD4(data), EvpDigest(md4, data)) << n;
    }
    if (iter % 4 == 0) {
      PortableSha1 force;
      ASSERT_EQ(SHA1(data), EvpDigest(EVP_sha1(), data)) << n;
    }
    const std::string key = RandomBytes(rng, rng() % 150);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int maclen = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &maclen);
    ASSERT_EQ(HMAC_MD5(data, key), std::string(reinterpret_cast<char*>(mac), maclen));
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &maclen);
    ASSERT_EQ(HMAC_SHA1(data, key), std::string(reinterpret_cast<char*>(mac), maclen));
  }
  EVP_MD_free(md4);
  if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
  if (deflt != nullptr) OSSL_PROVIDER_unload(deflt);
}

// Bit-at-a-time CRCs straight from their definitions.
uint32_t ReferenceCrc32(const std::string& s) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char ch : s) {
    crc ^= static_cast<uint8_t>(ch);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

uint16_t ReferenceCrc16(const std::string& s) {
  uint16_t crc = 0xFFFF;
  for (char ch : s) {
    crc ^= static_cast<uint8_t>(ch);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

TEST(NetcodeCrc, CheckValues) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc16("123456789"), 0x6F91);
  EXPECT_EQ(Crc32(""), 0u);
  EXPECT_EQ(Crc16(""), 0xFFFF);
  uint32_t crc = 0xFFFFFFFFu;
  for (char c : std::string("123456789")) crc = UpdateCrc32(static_cast<uint8_t>(c), crc);
  EXPECT_EQ(~crc, 0xCBF43926u);
  uint16_t c16 = 0xFFFF;
  for (char c : std::string("123456789")) c16 = UpdateCrc16(static_cast<uint8_t>(c), c16);
  EXPECT_EQ(c16, 0x6F91);
}

// Both CRC-32 kernels against the bitwise definition and against zlib (loaded
// at run time; the suite does not link it), on lengths around the folding
// block sizes and random ones, from random starting registers.
TEST(NetcodeCrc, KernelsAgreeWithReferenceAndZlib) {
  using ZlibCrc = unsigned long (*)(unsigned long, const unsigned char*, unsigned int);
  void* zlib = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
  ZlibCrc zcrc = zlib ? reinterpret_cast<ZlibCrc>(dlsym(zlib, "crc32")) : nullptr;
  if (zcrc == nullptr)
    std::fprintf(stderr, "zlib not loadable; CRC-32 checked by reference only\n");

  std::mt19937 rng(77);
  for (int iter = 0; iter < 3000; ++iter) {
    const size_t n = iter < 300 ? static_cast<size_t>(iter) : rng() % 20000;
    const std::string data = RandomBytes(rng, n);
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    const uint32_t ref = ReferenceCrc32(data);
    ASSERT_EQ(Crc32(data), ref) << n;
    ASSERT_EQ(~detail::Crc32Portable(0xFFFFFFFFu, p, n), ref) << n;
    if (detail::CpuHasClmul()) {
      ASSERT_EQ(~detail::Crc32Clmul(0xFFFFFFFFu, p, n), ref) << n;
      const uint32_t start = rng();
      ASSERT_EQ(detail::Crc32Clmul(start, p, n), detail::Crc32Portable(start, p, n)) << n;
    }
    if (zcrc != nullptr) {
      ASSERT_EQ(zcrc(0, p, static_cast<unsigned>(n)), ref) << n;
    }
    if (iter % 10 == 0) {
      ASSERT_EQ(Crc16(data), ReferenceCrc16(data)) << n;
    }
  }
  if (zlib != nullptr) dlclose(zlib);
}

}  // namespace
}  // namespace velmora::net
