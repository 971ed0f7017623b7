#include "velmora/net/netcode_crc.h"

#include <array>

#include "velmora/net/netcode_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELMORA_HAVE_X86 1
#endif

namespace velmora::net {

namespace {

using Table = std::array<uint32_t, 256>;

constexpr Table MakeReflectedTable(uint32_t poly) {
  Table t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
    t[i] = c;
  }
  return t;
}

// Slicing-by-8: table k advances a byte that stands k bytes before the end
// of an 8-byte step.
constexpr std::array<Table, 8> MakeSlicingTables() {
  std::array<Table, 8> t{};
  t[0] = MakeReflectedTable(0xEDB88320u);
  for (int k = 1; k < 8; ++k) {
    for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr std::array<Table, 8> kCrc32 = MakeSlicingTables();
constexpr Table kCrc16 = MakeReflectedTable(0x8408u);

inline uint32_t Load32LE(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

#ifdef VELMORA_HAVE_X86
// Folding constants: x^n mod P for the normal polynomial 0x04C11DB7,
// bit-reflected and shifted left by one, so that a carry-less product of a
// reflected 64-bit half and the constant lands aligned in a 128-bit lane.
constexpr uint64_t FoldConstant(unsigned n) {
  uint32_t r = 1;
  for (unsigned i = 0; i < n; ++i) r = (r << 1) ^ ((r & 0x80000000u) ? 0x04C11DB7u : 0);
  uint32_t reflected = 0;
  for (int b = 0; b < 32; ++b) {
    if (r & (1u << b)) reflected |= 1u << (31 - b);
  }
  return uint64_t{reflected} << 1;
}

// A 128-bit lane moved Distance bits further along the message: the low
// half (the earlier 64 coefficients) needs x^(Distance + 64 - 32), the high
// half x^(Distance - 32).
constexpr uint64_t kFold512Lo = FoldConstant(512 + 32), kFold512Hi = FoldConstant(512 - 32);
constexpr uint64_t kFold128Lo = FoldConstant(128 + 32), kFold128Hi = FoldConstant(128 - 32);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}
#endif

}  // namespace

namespace detail {

uint32_t Crc32Portable(uint32_t Crc, const uint8_t* P, size_t N) {
  const auto& t = kCrc32;
  while (N >= 8) {
    uint32_t one = Load32LE(P) ^ Crc;
    uint32_t two = Load32LE(P + 4);
    Crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
          t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
    P += 8;
    N -= 8;
  }
  while (N-- > 0) Crc = t[0][(Crc ^ *P++) & 0xFF] ^ (Crc >> 8);
  return Crc;
}

#ifdef VELMORA_HAVE_X86
__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Clmul(uint32_t Crc, const uint8_t* P,
                                                             size_t N) {
  if (N < 64) return Crc32Portable(Crc, P, N);
  auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  // The running register is folded into the first four message bytes; the
  // rest of the computation then starts from a zero register.
  __m128i x0 = _mm_xor_si128(load(P), _mm_cvtsi32_si128(static_cast<int>(Crc)));
  __m128i x1 = load(P + 16), x2 = load(P + 32), x3 = load(P + 48);
  P += 64;
  N -= 64;
  const __m128i k512 =
      _mm_set_epi64x(static_cast<long long>(kFold512Hi), static_cast<long long>(kFold512Lo));
  while (N >= 64) {
    x0 = Fold(x0, k512, load(P));
    x1 = Fold(x1, k512, load(P + 16));
    x2 = Fold(x2, k512, load(P + 32));
    x3 = Fold(x3, k512, load(P + 48));
    P += 64;
    N -= 64;
  }
  const __m128i k128 =
      _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
  __m128i x = Fold(x0, k128, x1);
  x = Fold(x, k128, x2);
  x = Fold(x, k128, x3);
  while (N >= 16) {
    x = Fold(x, k128, load(P));
    P += 16;
    N -= 16;
  }
  // The 16 folded bytes are congruent to everything before them; leading
  // zeros do not change a CRC that starts from zero.
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return Crc32Portable(Crc32Portable(0, rest, 16), P, N);
}
#else
uint32_t Crc32Clmul(uint32_t Crc, const uint8_t* P, size_t N) {
  return Crc32Portable(Crc, P, N);
}
#endif

}  // namespace detail

uint32_t UpdateCrc32(uint8_t Value, uint32_t Crc32) {
  return kCrc32[0][(Crc32 ^ Value) & 0xFF] ^ (Crc32 >> 8);
}

uint32_t Crc32(const std::string& Value) {
  const auto* p = reinterpret_cast<const uint8_t*>(Value.data());
  static const bool clmul = detail::CpuHasClmul();
  uint32_t crc = clmul ? detail::Crc32Clmul(0xFFFFFFFFu, p, Value.size())
                       : detail::Crc32Portable(0xFFFFFFFFu, p, Value.size());
  return ~crc;
}

uint16_t UpdateCrc16(uint8_t Value, uint16_t Crc16) {
  return static_cast<uint16_t>(kCrc16[(Value ^ Crc16) & 0xFF] ^ (Crc16 >> 8));
}

uint16_t Crc16(const std::string& Value) {
  uint16_t crc = 0xFFFF;
  for (char c : Value) crc = UpdateCrc16(static_cast<uint8_t>(c), crc);
  return crc;
}

}  // namespace velmora::net
