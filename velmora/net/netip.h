// IP address text: checking, converting between text and binary form, and
// the reverse-lookup forms.  None of these functions raises; text that cannot
// be read gives false, zeros or an empty string as each contract states.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmora::net {

// An IPv6 address as 16 bytes in network order.
using TIp6Bytes = std::array<uint8_t, 16>;

// True for dotted-quad IPv4 text: four parts separated by ".", each trimmed
// of spaces, made of decimal digits only (leading zeros allowed) and at most
// 255.  An empty part fails.
bool IsIP(const std::string& Value);

// True for IPv6 text: at most eight ":"-separated hexadecimal groups of at
// most 0xFFFF, at most one "::" (a leading empty part is not counted), more
// than one part, and a last part that is not empty.  The last part may carry
// a "%" zone suffix that is itself a hexadecimal number of at most 0xFFFF.
// "::" alone is true; a text ending in ":" other than that is false.  A
// leading "::" may stand for a single zero group before seven groups.
bool IsIP6(const std::string& Value);

// Four bytes, one per dotted part of IPv4 text (each part read as a decimal
// number, 0 when it is not one, and cut to its low 8 bits).
std::string IPToID(const std::string& Host);

// The 32-bit value of IPv4 text, first part in the most significant byte:
// result * 256 + part for the four parts in order, parts read as by IPToID
// and not range-checked (the arithmetic wraps modulo 2^32).
uint32_t StrToIp(const std::string& Value);

// Dotted-quad text of Value, most significant byte first.
std::string IpToStr(uint32_t Value);

// IPv6 text with "::" expanded to the missing zero groups.  A leading ":"
// gets a "0" before it and a trailing ":" a "0" after it; each "::" then
// becomes ":0" repeated (8 - number of ":" in Value) times followed by ":".
// An empty text, or one with more than seven ":", gives "" -- except a text
// of eight ":" that begins or ends with "::", where the "::" stands for the
// one missing group.
std::string ExpandIP6(const std::string& Value);

// The 16 bytes of IPv6 text (after ExpandIP6), groups big-endian, group 0
// first.  A part "@" ends the parse keeping what was read; an empty part is a
// zero group.  A ninth part or a part that is not a hexadecimal number of at
// most 0xFFFF gives all zeros.
TIp6Bytes StrToIp6(const std::string& Value);

// The compressed lower-case text of a 16-byte IPv6 address: the first of the
// longest runs of zero groups (even a single one) is written as "::"; all
// zeros give "::0".
std::string Ip6ToStr(const TIp6Bytes& Value);

// The dot-separated parts of Value in reverse order ("1.2.3.4" gives
// "4.3.2.1").
std::string ReverseIP(const std::string& Value);

// The 32 nibbles of IPv6 text (read with StrToIp6), last nibble first, as
// upper-case hexadecimal digits separated by "." (no trailing dot).
std::string ReverseIP6(const std::string& Value);

}  // namespace velmora::net
