// Base64 and its relatives: the 3-to-4 byte codings of mail and web
// protocols (Base64, modified Base64, UU, XX) and yEnc decoding.
//
// Decoders never raise and never read outside their input: what they cannot
// decode they skip, count as zero or drop, as each contract states.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::net {

// Alphabets of 64 characters; a 65th character, where present, is the
// padding character written for the index 64.
inline constexpr std::string_view TableBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
inline constexpr std::string_view TableBase64mod =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,=";
// The backquote for 0, then "!" (33) to "_" (95) for 1 to 63.
inline constexpr std::string_view TableUU =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
inline constexpr std::string_view TableXX =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// A reverse table for Decode4to3Ex: entry (code - 33) for the character codes
// 33 to 127 holds the character's 6-bit value, or 64 or more for a character
// that is not part of the alphabet.
using TDecodeTable = std::array<uint8_t, 95>;

namespace detail {
constexpr TDecodeTable MakeDecodeTable(std::string_view alphabet) {
  TDecodeTable t{};
  for (auto& e : t) e = 64;
  for (size_t i = 0; i < 64 && i < alphabet.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(alphabet[i]);
    if (c >= 33 && c <= 127) t[c - 33] = static_cast<uint8_t>(i);
  }
  return t;
}
}  // namespace detail

// The reverse table of the Base64 alphabet ("=" and every other character
// map to 64).
inline constexpr TDecodeTable ReTableBase64 = detail::MakeDecodeTable(TableBase64);

// Each group of 3 bytes of Value written as 4 characters of Table (the four
// 6-bit indices, most significant first).  A final group of 1 byte gives two
// indices and then two indices 64, a final group of 2 bytes three indices
// and one index 64.  An index is written only when Table has a character at
// it, so index 64 writes a 65th (padding) character or nothing.
std::string Encode3to4(const std::string& Value, std::string_view Table);

// Groups of 4 characters of Value read back as 3 bytes.  A character's value
// is its position in Table (0 when it is not in it); a character missing at
// the end counts as the marker 64.  A group gives its first byte, its second
// only when the third value is not 64, its third only when the fourth value
// is not 64 either.
std::string Decode4to3(const std::string& Value, std::string_view Table);

// Base64-style decoding through a reverse table.  Characters with codes below
// 33 or above 127, and those whose table entry is 64 or more (padding
// included), are skipped wherever they stand.  Every four values give 3
// bytes; three values left at the end give 2 bytes, two give 1 byte, one
// gives nothing.
std::string Decode4to3Ex(const std::string& Value, const TDecodeTable& Table);

// Base64 with "=" padding and no line breaks.
std::string EncodeBase64(const std::string& Value);

// Base64 decoding; characters outside the alphabet (line breaks, padding)
// are skipped.  Same as Decode4to3Ex(Value, ReTableBase64).
std::string DecodeBase64(const std::string& Value);

// Base64 with "," in place of "/", with "=" padding.
std::string EncodeBase64mod(const std::string& Value);

// Decode4to3 with the modified Base64 alphabet: every character counts
// (characters outside the alphabet as 0).
std::string DecodeBase64mod(const std::string& Value);

// One UU-encoded line: the UU character for the data length, then
// Encode3to4 of the data with the UU alphabet (no padding).  Data of 64 bytes
// or more gives "".  The empty data gives the single character "`".
std::string EncodeUU(const std::string& Value);

// The data of one UU-encoded line.  An empty line, or one that trimmed and
// upper-cased begins with "BEGIN", "END" or "TABLE", gives "".  Otherwise the
// first character's UU value n is the byte count: the (n div 3) * 4 (+2 when
// n mod 3 is 1, +3 when it is 2) characters after it, padded with spaces to
// that number, are decoded with Decode4to3 and the UU alphabet.  A first
// character outside the alphabet gives "".
std::string DecodeUU(const std::string& Value);

// The data of one XX-encoded line: as DecodeUU with the XX alphabet; only
// "BEGIN" and "END" lines are ignored.
std::string DecodeXX(const std::string& Value);

// yEnc decoding: "=" takes the following byte minus 64 and consumes both, any
// other byte stands for itself; each output byte is that value minus 42,
// modulo 256.  Line breaks are not treated specially.  A "=" that is the last
// byte has no byte to escape and is dropped.
std::string DecodeYEnc(const std::string& Value);

}  // namespace velmora::net
