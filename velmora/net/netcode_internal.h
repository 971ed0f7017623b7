// Internal parts of the coding unit, shared by its files and by its tests:
// CPU feature checks, the accelerated and portable variants of the CRC-32
// and SHA-1 kernels, and the running digest contexts.  Not part of the
// exported interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace velmora::net::detail {

// ---- CPU features (checked once with cpuid) --------------------------------

// True when the processor offers PCLMULQDQ and SSE4.1 (CRC-32 folding).
bool CpuHasClmul();
// True when the processor offers the SHA extensions with SSSE3 and SSE4.1.
bool CpuHasShaNi();

// ---- CRC-32 kernels -----------------------------------------------------------
// Both continue a raw reflected CRC-32 register over N bytes: no initial
// value and no final complement (Crc32 adds them).

// Table-driven, eight bytes per step; runs on any processor.
uint32_t Crc32Portable(uint32_t Crc, const uint8_t* P, size_t N);
// PCLMULQDQ folding of 64-byte blocks; call only when CpuHasClmul().
uint32_t Crc32Clmul(uint32_t Crc, const uint8_t* P, size_t N);

// ---- Block functions -------------------------------------------------------
// Each consumes Blocks whole 64-byte blocks from P into the running state.

void Md4Blocks(uint32_t State[4], const uint8_t* P, size_t Blocks);
void Md5Blocks(uint32_t State[4], const uint8_t* P, size_t Blocks);
void Sha1BlocksPortable(uint32_t State[5], const uint8_t* P, size_t Blocks);
// The SHA extensions; call only when CpuHasShaNi().
void Sha1BlocksShaNi(uint32_t State[5], const uint8_t* P, size_t Blocks);

// Which SHA-1 block function the digests use: the SHA extensions when the
// processor has them, unless a test has forced the portable one.
void ForcePortableSha1(bool Force);
void Sha1Blocks(uint32_t State[5], const uint8_t* P, size_t Blocks);

// ---- Running digest contexts -----------------------------------------------

// A Merkle-Damgard hash over 64-byte blocks: the MD4/MD5 layout (four words,
// little-endian length and output) or the SHA-1 layout (five words,
// big-endian length and output).  A context lives only inside one call.
template <int Words, bool BigEndian, void (*BlockFn)(uint32_t*, const uint8_t*, size_t)>
class BlockDigest {
 public:
  explicit BlockDigest(const uint32_t (&Init)[Words]) { std::memcpy(state_, Init, sizeof state_); }

  void Update(const void* Data, size_t Len) {
    const auto* p = static_cast<const uint8_t*>(Data);
    bits_ += static_cast<uint64_t>(Len) * 8;
    if (used_ > 0) {
      size_t take = Len < 64 - used_ ? Len : 64 - used_;
      std::memcpy(buffer_ + used_, p, take);
      used_ += take;
      p += take;
      Len -= take;
      if (used_ < 64) return;
      BlockFn(state_, buffer_, 1);
      used_ = 0;
    }
    if (Len >= 64) {
      BlockFn(state_, p, Len / 64);
      p += Len / 64 * 64;
      Len %= 64;
    }
    std::memcpy(buffer_, p, Len);
    used_ = Len;
  }
  void Update(const std::string& Data) { Update(Data.data(), Data.size()); }

  // The digest: Words * 4 raw bytes.  The context is spent afterwards.
  std::string Final() {
    uint8_t pad[72] = {0x80};
    const size_t padlen = (used_ < 56 ? 56 : 120) - used_;
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) {
      int shift = BigEndian ? 56 - 8 * i : 8 * i;
      length[i] = static_cast<uint8_t>(bits_ >> shift);
    }
    const uint64_t bits = bits_;
    Update(pad, padlen);
    Update(length, 8);
    bits_ = bits;
    std::string out(Words * 4, '\0');
    for (int w = 0; w < Words; ++w) {
      for (int i = 0; i < 4; ++i) {
        int shift = BigEndian ? 24 - 8 * i : 8 * i;
        out[4 * w + i] = static_cast<char>(state_[w] >> shift);
      }
    }
    return out;
  }

 private:
  uint32_t state_[Words];
  uint64_t bits_ = 0;
  uint8_t buffer_[64] = {};
  size_t used_ = 0;
};

inline constexpr uint32_t kMdInit[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
inline constexpr uint32_t kSha1Init[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                          0xC3D2E1F0u};

using Md4Context = BlockDigest<4, false, Md4Blocks>;
using Md5Context = BlockDigest<4, false, Md5Blocks>;
using Sha1Context = BlockDigest<5, true, Sha1Blocks>;

}  // namespace velmora::net::detail
