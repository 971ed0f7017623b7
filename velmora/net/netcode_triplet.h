// Escaping encoders of mail and web protocols: a byte becomes an escape
// character and two hexadecimal digits (quoted-printable with "=", URL
// escaping with "%").
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::net {

// A set of byte values: the bytes an escaping encoder escapes.  A literal
// type, so that the exported sets are constants with no start-up order.
class TSpecials {
 public:
  constexpr TSpecials() = default;
  // The set of the bytes of Chars.
  constexpr explicit TSpecials(std::string_view Chars) {
    for (char c : Chars) set(static_cast<uint8_t>(c));
  }
  // The set of the bytes Lo to Hi inclusive.
  static constexpr TSpecials Range(uint8_t Lo, uint8_t Hi) {
    TSpecials s;
    for (unsigned c = Lo; c <= Hi; ++c) s.set(static_cast<uint8_t>(c));
    return s;
  }

  constexpr bool test(uint8_t C) const { return (bits_[C >> 6] >> (C & 63)) & 1u; }
  constexpr bool operator[](uint8_t C) const { return test(C); }
  constexpr TSpecials& set(uint8_t C) {
    bits_[C >> 6] |= uint64_t{1} << (C & 63);
    return *this;
  }
  constexpr TSpecials& reset(uint8_t C) {
    bits_[C >> 6] &= ~(uint64_t{1} << (C & 63));
    return *this;
  }
  constexpr size_t count() const {
    size_t n = 0;
    for (uint64_t w : bits_) n += static_cast<size_t>(std::popcount(w));
    return n;
  }
  constexpr TSpecials operator|(const TSpecials& o) const {
    TSpecials r;
    for (int i = 0; i < 4; ++i) r.bits_[i] = bits_[i] | o.bits_[i];
    return r;
  }
  constexpr TSpecials operator&(const TSpecials& o) const {
    TSpecials r;
    for (int i = 0; i < 4; ++i) r.bits_[i] = bits_[i] & o.bits_[i];
    return r;
  }
  constexpr bool operator==(const TSpecials&) const = default;

 private:
  uint64_t bits_[4] = {};
};

// "=", ( ) , / : ; < > ? @ [ \ ] _ and the double quote.
inline constexpr TSpecials SpecialChar{"=(),/:;<>?@[\\]_\""};
// 0x00-0x1F and 0x7F-0xFF.
inline constexpr TSpecials NonAsciiChar =
    TSpecials::Range(0x00, 0x1F) | TSpecials::Range(0x7F, 0xFF);
// # & + / : ; = ? @
inline constexpr TSpecials URLFullSpecialChar{"#&+/:;=?@"};
// 0x00-0x20 (space included), " % < > [ \ ] ^ _ { | } ~ and the backquote,
// and 0x7F-0xFF.
inline constexpr TSpecials URLSpecialChar =
    TSpecials::Range(0x00, 0x20) | TSpecials{"\"%<>[\\]^_{|}~`"} | TSpecials::Range(0x7F, 0xFF);

// Value with escape sequences decoded.  At a Delimiter byte: when fewer than
// two bytes follow, decoding stops and the rest is dropped; a following CR or
// LF is a soft line break (the escape, that byte and, when it is the other of
// the pair, the byte after it are skipped); two following hexadecimal digits
// give the byte they denote; otherwise the escape byte is copied and decoding
// goes on with the byte after it.
std::string DecodeTriplet(const std::string& Value, char Delimiter);

// Value with each byte that is a member of Specials written as Delimiter and
// two upper-case hexadecimal digits.  Line lengths are not limited.
std::string EncodeTriplet(const std::string& Value, char Delimiter, const TSpecials& Specials);

// DecodeTriplet with "=".
std::string DecodeQuotedPrintable(const std::string& Value);
// EncodeTriplet with "=", escaping "=" and NonAsciiChar (never space).
std::string EncodeQuotedPrintable(const std::string& Value);
// EncodeTriplet with "=", escaping SpecialChar and NonAsciiChar.
std::string EncodeSafeQuotedPrintable(const std::string& Value);
// DecodeTriplet with "%".
std::string DecodeURL(const std::string& Value);
// EncodeTriplet with "%", escaping URLSpecialChar.
std::string EncodeURL(const std::string& Value);
// EncodeTriplet with "%", escaping URLSpecialChar and URLFullSpecialChar.
std::string EncodeURLElement(const std::string& Value);

}  // namespace velmora::net
