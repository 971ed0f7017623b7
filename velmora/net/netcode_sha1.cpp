// SHA-1: a portable block function and one over the processor's SHA
// extensions, chosen once at run time.
#include <atomic>

#include "velmora/net/netcode_digest.h"
#include "velmora/net/netcode_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELMORA_HAVE_X86 1
#endif

namespace velmora::net {

namespace {

inline uint32_t Rotl(uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}

std::atomic<bool> force_portable{false};

}  // namespace

namespace detail {

void Sha1BlocksPortable(uint32_t State[5], const uint8_t* P, size_t Blocks) {
  uint32_t w[16];
  for (; Blocks > 0; --Blocks, P += 64) {
    for (int i = 0; i < 16; ++i) {
      w[i] = (uint32_t{P[4 * i]} << 24) | (uint32_t{P[4 * i + 1]} << 16) |
             (uint32_t{P[4 * i + 2]} << 8) | uint32_t{P[4 * i + 3]};
    }
    uint32_t a = State[0], b = State[1], c = State[2], d = State[3], e = State[4];
    // The schedule is kept in a ring of 16 words: W[t] replaces W[t - 16].
    auto next = [&w](int t) {
      uint32_t v = Rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
      w[t & 15] = v;
      return v;
    };
    auto round = [&](uint32_t f, uint32_t k, uint32_t wt) {
      uint32_t t = Rotl(a, 5) + f + e + k + wt;
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = t;
    };
    for (int t = 0; t < 16; ++t) round(((c ^ d) & b) ^ d, 0x5A827999u, w[t]);
    for (int t = 16; t < 20; ++t) round(((c ^ d) & b) ^ d, 0x5A827999u, next(t));
    for (int t = 20; t < 40; ++t) round(b ^ c ^ d, 0x6ED9EBA1u, next(t));
    for (int t = 40; t < 60; ++t) round((b & c) | (d & (b | c)), 0x8F1BBCDCu, next(t));
    for (int t = 60; t < 80; ++t) round(b ^ c ^ d, 0xCA62C1D6u, next(t));
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
    State[4] += e;
  }
}

#ifdef VELMORA_HAVE_X86
// Four rounds per instruction.  ABCD sits in one register with A in the top
// lane, E in the top lane of another; message groups hold four big-endian
// words with the earliest in the top lane.  Group q (q >= 4) is
// msg2(msg1(g[q-4], g[q-3]) xor g[q-2], g[q-1]); the E of each quad after
// the first is A of the state before the previous quad, rotated by 30,
// which sha1nexte adds to the group's first word.
#define SHA1_QUAD(q, f)                                                                      \
  do {                                                                                       \
    if ((q) >= 4) {                                                                          \
      m[(q) % 4] = _mm_sha1msg2_epu32(                                                       \
          _mm_xor_si128(_mm_sha1msg1_epu32(m[(q) % 4], m[((q) + 1) % 4]), m[((q) + 2) % 4]), \
          m[((q) + 3) % 4]);                                                                 \
    }                                                                                        \
    __m128i we = (q) == 0 ? _mm_add_epi32(e0, m[0]) : _mm_sha1nexte_epu32(prev, m[(q) % 4]); \
    prev = abcd;                                                                             \
    abcd = _mm_sha1rnds4_epu32(abcd, we, f);                                                 \
  } while (0)

__attribute__((target("sha,sse4.1,ssse3"))) void Sha1BlocksShaNi(uint32_t State[5],
                                                                 const uint8_t* P, size_t Blocks) {
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_set_epi32(static_cast<int>(State[0]), static_cast<int>(State[1]),
                               static_cast<int>(State[2]), static_cast<int>(State[3]));
  __m128i e0 = _mm_set_epi32(static_cast<int>(State[4]), 0, 0, 0);
  for (; Blocks > 0; --Blocks, P += 64) {
    const __m128i abcd_saved = abcd, e_saved = e0;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] =
          _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16 * i)), reverse);
    }
    __m128i prev = abcd;
    SHA1_QUAD(0, 0);
    SHA1_QUAD(1, 0);
    SHA1_QUAD(2, 0);
    SHA1_QUAD(3, 0);
    SHA1_QUAD(4, 0);
    SHA1_QUAD(5, 1);
    SHA1_QUAD(6, 1);
    SHA1_QUAD(7, 1);
    SHA1_QUAD(8, 1);
    SHA1_QUAD(9, 1);
    SHA1_QUAD(10, 2);
    SHA1_QUAD(11, 2);
    SHA1_QUAD(12, 2);
    SHA1_QUAD(13, 2);
    SHA1_QUAD(14, 2);
    SHA1_QUAD(15, 3);
    SHA1_QUAD(16, 3);
    SHA1_QUAD(17, 3);
    SHA1_QUAD(18, 3);
    SHA1_QUAD(19, 3);
    // E after the last quad is A before it, rotated, plus the saved E.
    e0 = _mm_sha1nexte_epu32(prev, e_saved);
    abcd = _mm_add_epi32(abcd, abcd_saved);
  }
  State[0] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 3));
  State[1] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 2));
  State[2] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 1));
  State[3] = static_cast<uint32_t>(_mm_extract_epi32(abcd, 0));
  State[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}
#undef SHA1_QUAD
#else
void Sha1BlocksShaNi(uint32_t State[5], const uint8_t* P, size_t Blocks) {
  Sha1BlocksPortable(State, P, Blocks);
}
#endif

void ForcePortableSha1(bool Force) {
  force_portable.store(Force, std::memory_order_relaxed);
}

void Sha1Blocks(uint32_t State[5], const uint8_t* P, size_t Blocks) {
  static const bool sha_ni = CpuHasShaNi();
  if (sha_ni && !force_portable.load(std::memory_order_relaxed)) {
    Sha1BlocksShaNi(State, P, Blocks);
  } else {
    Sha1BlocksPortable(State, P, Blocks);
  }
}

}  // namespace detail

std::string SHA1(const std::string& Value) {
  detail::Sha1Context ctx(detail::kSha1Init);
  ctx.Update(Value);
  return ctx.Final();
}

}  // namespace velmora::net
