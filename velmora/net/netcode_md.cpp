// MD4 and MD5: the two little-endian digests of the unit.  Both share the
// context of netcode_internal.h; this file holds their block functions.
#include "velmora/net/netcode_digest.h"
#include "velmora/net/netcode_internal.h"

namespace velmora::net {

namespace {

inline uint32_t Rotl(uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}

inline void LoadWords(uint32_t (&x)[16], const uint8_t* p) {
  for (int i = 0; i < 16; ++i) {
    x[i] = uint32_t{p[4 * i]} | (uint32_t{p[4 * i + 1]} << 8) | (uint32_t{p[4 * i + 2]} << 16) |
           (uint32_t{p[4 * i + 3]} << 24);
  }
}

// The 64 additive constants of MD5: floor(|sin(i + 1)| * 2^32).
constexpr uint32_t kMd5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// The round functions in the forms that need the fewest operations:
// F selects c or d by b, G selects b or c by d (the two selections are
// disjoint, so they may be added), H is parity, I is c xor (b or not d).
#define MD5_STEP(expr, a, b, c, d, k, s, i) \
  a += (expr) + x[k] + kMd5T[i];            \
  a = Rotl(a, s) + b
#define MD5_F(b, c, d) (((c ^ d) & b) ^ d)
#define MD5_G(b, c, d) ((d & b) + (~d & c))
#define MD5_H(b, c, d) (b ^ c ^ d)
#define MD5_I(b, c, d) (c ^ (b | ~d))

#define MD4_STEP(expr, a, b, c, d, k, s, add) a = Rotl(a + (expr) + x[k] + (add), s)
#define MD4_F(b, c, d) (((c ^ d) & b) ^ d)
#define MD4_G(b, c, d) ((b & c) | (b & d) | (c & d))
#define MD4_H(b, c, d) (b ^ c ^ d)

}  // namespace

namespace detail {

void Md5Blocks(uint32_t State[4], const uint8_t* P, size_t Blocks) {
  uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
  uint32_t x[16];
  for (; Blocks > 0; --Blocks, P += 64) {
    LoadWords(x, P);
    const uint32_t aa = a, bb = b, cc = c, dd = d;
    for (int i = 0; i < 16; i += 4) {
      MD5_STEP(MD5_F(b, c, d), a, b, c, d, i, 7, i);
      MD5_STEP(MD5_F(a, b, c), d, a, b, c, i + 1, 12, i + 1);
      MD5_STEP(MD5_F(d, a, b), c, d, a, b, i + 2, 17, i + 2);
      MD5_STEP(MD5_F(c, d, a), b, c, d, a, i + 3, 22, i + 3);
    }
    for (int i = 16; i < 32; i += 4) {
      MD5_STEP(MD5_G(b, c, d), a, b, c, d, (5 * i + 1) % 16, 5, i);
      MD5_STEP(MD5_G(a, b, c), d, a, b, c, (5 * i + 6) % 16, 9, i + 1);
      MD5_STEP(MD5_G(d, a, b), c, d, a, b, (5 * i + 11) % 16, 14, i + 2);
      MD5_STEP(MD5_G(c, d, a), b, c, d, a, (5 * i + 16) % 16, 20, i + 3);
    }
    for (int i = 32; i < 48; i += 4) {
      MD5_STEP(MD5_H(b, c, d), a, b, c, d, (3 * i + 5) % 16, 4, i);
      MD5_STEP(MD5_H(a, b, c), d, a, b, c, (3 * i + 8) % 16, 11, i + 1);
      MD5_STEP(MD5_H(d, a, b), c, d, a, b, (3 * i + 11) % 16, 16, i + 2);
      MD5_STEP(MD5_H(c, d, a), b, c, d, a, (3 * i + 14) % 16, 23, i + 3);
    }
    for (int i = 48; i < 64; i += 4) {
      MD5_STEP(MD5_I(b, c, d), a, b, c, d, (7 * i) % 16, 6, i);
      MD5_STEP(MD5_I(a, b, c), d, a, b, c, (7 * i + 7) % 16, 10, i + 1);
      MD5_STEP(MD5_I(d, a, b), c, d, a, b, (7 * i + 14) % 16, 15, i + 2);
      MD5_STEP(MD5_I(c, d, a), b, c, d, a, (7 * i + 21) % 16, 21, i + 3);
    }
    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  State[0] = a;
  State[1] = b;
  State[2] = c;
  State[3] = d;
}

void Md4Blocks(uint32_t State[4], const uint8_t* P, size_t Blocks) {
  uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
  uint32_t x[16];
  constexpr uint32_t kRound2 = 0x5A827999u, kRound3 = 0x6ED9EBA1u;
  // Word order of the third round: 0 8 4 12, 2 10 6 14, 1 9 5 13, 3 11 7 15.
  constexpr int kOrder3[4] = {0, 2, 1, 3};
  for (; Blocks > 0; --Blocks, P += 64) {
    LoadWords(x, P);
    const uint32_t aa = a, bb = b, cc = c, dd = d;
    for (int i = 0; i < 16; i += 4) {
      MD4_STEP(MD4_F(b, c, d), a, b, c, d, i, 3, 0);
      MD4_STEP(MD4_F(a, b, c), d, a, b, c, i + 1, 7, 0);
      MD4_STEP(MD4_F(d, a, b), c, d, a, b, i + 2, 11, 0);
      MD4_STEP(MD4_F(c, d, a), b, c, d, a, i + 3, 19, 0);
    }
    for (int i = 0; i < 4; ++i) {
      MD4_STEP(MD4_G(b, c, d), a, b, c, d, i, 3, kRound2);
      MD4_STEP(MD4_G(a, b, c), d, a, b, c, i + 4, 5, kRound2);
      MD4_STEP(MD4_G(d, a, b), c, d, a, b, i + 8, 9, kRound2);
      MD4_STEP(MD4_G(c, d, a), b, c, d, a, i + 12, 13, kRound2);
    }
    for (int j = 0; j < 4; ++j) {
      const int i = kOrder3[j];
      MD4_STEP(MD4_H(b, c, d), a, b, c, d, i, 3, kRound3);
      MD4_STEP(MD4_H(a, b, c), d, a, b, c, i + 8, 9, kRound3);
      MD4_STEP(MD4_H(d, a, b), c, d, a, b, i + 4, 11, kRound3);
      MD4_STEP(MD4_H(c, d, a), b, c, d, a, i + 12, 15, kRound3);
    }
    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  State[0] = a;
  State[1] = b;
  State[2] = c;
  State[3] = d;
}

}  // namespace detail

std::string MD4(const std::string& Value) {
  detail::Md4Context ctx(detail::kMdInit);
  ctx.Update(Value);
  return ctx.Final();
}

std::string MD5(const std::string& Value) {
  detail::Md5Context ctx(detail::kMdInit);
  ctx.Update(Value);
  return ctx.Final();
}

}  // namespace velmora::net
