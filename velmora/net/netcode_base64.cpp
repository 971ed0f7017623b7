#include "velmora/net/netcode_base64.h"

#include <bit>
#include <cstring>

namespace velmora::net {

static_assert(TableBase64.size() == 65 && TableBase64mod.size() == 65);
static_assert(TableUU.size() == 64 && TableXX.size() == 64);

namespace {

constexpr uint8_t kSkip = 0xFF;

// A 256-entry reverse table: the 6-bit value of every alphabet character,
// kSkip for every other byte.
using FullTable = std::array<uint8_t, 256>;

constexpr FullTable Expand(const TDecodeTable& t) {
  FullTable full{};
  for (auto& e : full) e = kSkip;
  for (int c = 33; c <= 127; ++c) {
    if (t[c - 33] < 64) full[c] = t[c - 33];
  }
  return full;
}

constexpr FullTable kBase64Decode = Expand(ReTableBase64);

// Two output characters for every 12-bit value, so that the encoder writes
// 3 input bytes as two 16-bit stores.
using PairTable = std::array<std::array<char, 2>, 4096>;

constexpr PairTable MakePairs(std::string_view alphabet) {
  PairTable t{};
  for (int v = 0; v < 4096; ++v) t[v] = {alphabet[v >> 6], alphabet[v & 63]};
  return t;
}

constexpr PairTable kBase64Pairs = MakePairs(TableBase64);
constexpr PairTable kBase64modPairs = MakePairs(TableBase64mod);

// Base64 (or modified Base64) with "=" padding, writing straight into the
// result buffer.
std::string EncodeFast(const std::string& Value, const PairTable& pairs,
                       std::string_view alphabet) {
  const size_t n = Value.size();
  std::string result((n + 2) / 3 * 4, '=');
  const auto* in = reinterpret_cast<const uint8_t*>(Value.data());
  char* out = result.data();
  size_t i = 0;
  for (; i + 3 <= n; i += 3, out += 4) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(out, pairs[v >> 12].data(), 2);
    std::memcpy(out + 2, pairs[v & 0xFFF].data(), 2);
  }
  if (n - i == 1) {
    uint32_t v = in[i];
    out[0] = alphabet[v >> 2];
    out[1] = alphabet[(v & 3) << 4];
  } else if (n - i == 2) {
    uint32_t v = (uint32_t{in[i]} << 8) | in[i + 1];
    out[0] = alphabet[v >> 10];
    out[1] = alphabet[(v >> 4) & 63];
    out[2] = alphabet[(v & 15) << 2];
  }
  return result;
}

// The reverse table spread over four tables, one per place in a group of
// four characters, each holding the character's bits already moved to where
// they land in a little-endian 32-bit word of the group's three bytes.  A
// byte outside the alphabet sets bit 24 in every table, so one test over the
// or-ed four entries finds it.
struct PlacedTables {
  uint32_t t[4][256];
};

constexpr uint32_t kBad = 0x01000000u;

constexpr PlacedTables Place(const FullTable& full) {
  PlacedTables p{};
  for (int c = 0; c < 256; ++c) {
    const uint32_t v = full[c];
    if (v >= 64) {
      for (auto& t : p.t) t[c] = kBad;
      continue;
    }
    p.t[0][c] = v << 2;
    p.t[1][c] = (v >> 4) | ((v & 15) << 12);
    p.t[2][c] = ((v >> 2) << 8) | ((v & 3) << 22);
    p.t[3][c] = v << 16;
  }
  return p;
}

constexpr PlacedTables kBase64Placed = Place(kBase64Decode);

// Decoding that skips every byte whose table entry is kSkip.  Runs of whole
// groups of valid characters take the fast path (with Placed, on
// little-endian machines); anything else goes one character at a time
// through the accumulator, which then hands back to the fast path at the
// next group boundary.
std::string DecodeSkipping(const std::string& Value, const FullTable& t,
                           const PlacedTables* Placed) {
  const size_t n = Value.size();
  // Three bytes of slack: the fast path stores whole 32-bit words.
  std::string result(n / 4 * 3 + 3, '\0');
  const auto* in = reinterpret_cast<const uint8_t*>(Value.data());
  auto* out = reinterpret_cast<uint8_t*>(result.data());
  uint32_t acc = 0;
  int pending = 0;
  size_t i = 0;
  while (i < n) {
    if (pending == 0) {
      if constexpr (std::endian::native == std::endian::little) {
        if (Placed != nullptr) {
          const auto& p = Placed->t;
          while (i + 8 <= n) {
            const uint8_t* q = in + i;
            uint32_t v = p[0][q[0]] | p[1][q[1]] | p[2][q[2]] | p[3][q[3]];
            uint32_t w = p[0][q[4]] | p[1][q[5]] | p[2][q[6]] | p[3][q[7]];
            if ((v | w) & kBad) break;
            std::memcpy(out, &v, 4);
            std::memcpy(out + 3, &w, 4);
            out += 6;
            i += 8;
          }
        }
      }
      while (i + 4 <= n) {
        uint32_t a = t[in[i]], b = t[in[i + 1]], c = t[in[i + 2]], d = t[in[i + 3]];
        if ((a | b | c | d) >= 64) break;
        uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
        out[0] = static_cast<uint8_t>(v >> 16);
        out[1] = static_cast<uint8_t>(v >> 8);
        out[2] = static_cast<uint8_t>(v);
        out += 3;
        i += 4;
      }
      if (i >= n) break;
    }
    uint32_t x = t[in[i++]];
    if (x >= 64) continue;
    acc = (acc << 6) | x;
    if (++pending == 4) {
      out[0] = static_cast<uint8_t>(acc >> 16);
      out[1] = static_cast<uint8_t>(acc >> 8);
      out[2] = static_cast<uint8_t>(acc);
      out += 3;
      acc = 0;
      pending = 0;
    }
  }
  if (pending == 3) {
    out[0] = static_cast<uint8_t>(acc >> 10);
    out[1] = static_cast<uint8_t>(acc >> 2);
    out += 2;
  } else if (pending == 2) {
    out[0] = static_cast<uint8_t>(acc >> 4);
    out += 1;
  }
  result.resize(static_cast<size_t>(out - reinterpret_cast<uint8_t*>(result.data())));
  return result;
}

// Value of every byte in a 64- or 65-character alphabet: its first position,
// or 0 when the byte is not in the alphabet.
std::array<uint8_t, 256> Positions(std::string_view Table) {
  std::array<uint8_t, 256> pos{};
  for (size_t i = Table.size(); i-- > 0;) {
    if (i < 256) pos[static_cast<uint8_t>(Table[i])] = static_cast<uint8_t>(i);
  }
  return pos;
}

// Trimmed of bytes up to the space and upper-cased (ASCII): the form in
// which the begin/end lines of UU and XX files are recognised.
std::string TrimUpper(const std::string& Value) {
  size_t b = 0, e = Value.size();
  while (b < e && static_cast<uint8_t>(Value[b]) <= 32) ++b;
  while (e > b && static_cast<uint8_t>(Value[e - 1]) <= 32) --e;
  std::string s = Value.substr(b, e - b);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

bool BeginsWith(const std::string& s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The common part of DecodeUU and DecodeXX once the begin/end lines are
// ruled out: the first character gives the byte count.
std::string DecodeCountedLine(const std::string& Value, std::string_view Table) {
  size_t n = Table.find(Value[0]);
  if (n == std::string_view::npos) return std::string();
  size_t count = n / 3 * 4;
  if (n % 3 == 1) count += 2;
  if (n % 3 == 2) count += 3;
  std::string chars = Value.substr(1, count);
  chars.resize(count, ' ');
  return Decode4to3(chars, Table);
}

}  // namespace

std::string Encode3to4(const std::string& Value, std::string_view Table) {
  const size_t n = Value.size();
  std::string result;
  result.reserve((n + 2) / 3 * 4);
  const auto* in = reinterpret_cast<const uint8_t*>(Value.data());
  auto put = [&](uint32_t index) {
    if (index < Table.size()) result += Table[index];
  };
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    put(v >> 18);
    put((v >> 12) & 63);
    put((v >> 6) & 63);
    put(v & 63);
  }
  if (n - i == 1) {
    put(in[i] >> 2);
    put((in[i] & 3) << 4);
    put(64);
    put(64);
  } else if (n - i == 2) {
    put(in[i] >> 2);
    put(((in[i] & 3) << 4) | (in[i + 1] >> 4));
    put((in[i + 1] & 15) << 2);
    put(64);
  }
  return result;
}

std::string Decode4to3(const std::string& Value, std::string_view Table) {
  const std::array<uint8_t, 256> pos = Positions(Table);
  const size_t n = Value.size();
  std::string result;
  result.reserve((n + 3) / 4 * 3);
  for (size_t i = 0; i < n; i += 4) {
    uint32_t v[4];
    for (size_t k = 0; k < 4; ++k) {
      v[k] = i + k < n ? pos[static_cast<uint8_t>(Value[i + k])] : 64;
    }
    result += static_cast<char>(((v[0] << 2) | (v[1] >> 4)) & 0xFF);
    if (v[2] != 64) {
      result += static_cast<char>(((v[1] << 4) | (v[2] >> 2)) & 0xFF);
      if (v[3] != 64) result += static_cast<char>(((v[2] << 6) | v[3]) & 0xFF);
    }
  }
  return result;
}

std::string Decode4to3Ex(const std::string& Value, const TDecodeTable& Table) {
  return DecodeSkipping(Value, Expand(Table), nullptr);
}

std::string EncodeBase64(const std::string& Value) {
  return EncodeFast(Value, kBase64Pairs, TableBase64);
}

std::string DecodeBase64(const std::string& Value) {
  return DecodeSkipping(Value, kBase64Decode, &kBase64Placed);
}

std::string EncodeBase64mod(const std::string& Value) {
  return EncodeFast(Value, kBase64modPairs, TableBase64mod);
}

std::string DecodeBase64mod(const std::string& Value) {
  return Decode4to3(Value, TableBase64mod);
}

std::string EncodeUU(const std::string& Value) {
  if (Value.size() >= 64) return std::string();
  return TableUU[Value.size()] + Encode3to4(Value, TableUU);
}

std::string DecodeUU(const std::string& Value) {
  if (Value.empty()) return std::string();
  const std::string probe = TrimUpper(Value);
  if (BeginsWith(probe, "BEGIN") || BeginsWith(probe, "END") || BeginsWith(probe, "TABLE")) {
    return std::string();
  }
  return DecodeCountedLine(Value, TableUU);
}

std::string DecodeXX(const std::string& Value) {
  if (Value.empty()) return std::string();
  const std::string probe = TrimUpper(Value);
  if (BeginsWith(probe, "BEGIN") || BeginsWith(probe, "END")) return std::string();
  return DecodeCountedLine(Value, TableXX);
}

std::string DecodeYEnc(const std::string& Value) {
  const size_t n = Value.size();
  std::string result;
  result.reserve(n);
  for (size_t i = 0; i < n;) {
    uint8_t c = static_cast<uint8_t>(Value[i]);
    if (c == '=') {
      if (i + 1 >= n) break;  // nothing left to escape
      c = static_cast<uint8_t>(Value[i + 1] - 64);
      i += 2;
    } else {
      ++i;
    }
    result += static_cast<char>(static_cast<uint8_t>(c - 42));
  }
  return result;
}

}  // namespace velmora::net
