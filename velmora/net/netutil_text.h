// Byte-string helpers shared by the network units: splitting, searching,
// trimming, quoting, replacing, and the small binary conversions used for
// protocol fields.
//
// Strings are 8-bit byte strings.  Positions are 1-based; a position that is
// not found is 0 unless the function says otherwise.  An empty search text is
// never found.  Comparisons are byte-exact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace velmora::net {

// ---- Splitting and searching ------------------------------------------------

// The text of Value before the first Delimiter; the whole Value when the
// delimiter does not occur (or is empty).
std::string SeparateLeft(const std::string& Value, const std::string& Delimiter);

// The text of Value after the first Delimiter; the whole Value when the
// delimiter does not occur (or is empty).
std::string SeparateRight(const std::string& Value, const std::string& Delimiter);

// Returns SeparateLeft(Value, Delimiter).  Value keeps what follows the first
// delimiter, or becomes empty when there is none.
std::string FetchBin(std::string& Value, const std::string& Delimiter);

// FetchBin, then both the result and the remaining Value are trimmed of
// spaces (TrimSP).
std::string Fetch(std::string& Value, const std::string& Delimiter);

// Takes the next field off the front of Value up to Delimiter, which is
// removed; delimiters between a pair of Quotation texts are part of the field.
// The quotation characters are kept in the result.  When no delimiter ends the
// field, the result is the whole rest and Value becomes empty.
std::string FetchEx(std::string& Value, const std::string& Delimiter, const std::string& Quotation);

// Last 1-based position of Sub in Value, 0 if none.
int32_t RPos(const std::string& Sub, const std::string& Value);

// Last 1-based position of Sub in Value such that the occurrence ends at or
// before position From; 0 if none.
int32_t RPosEx(const std::string& Sub, const std::string& Value, int32_t From);

// First 1-based position of Sub in Value at or after From (From below 1 counts
// as 1); 0 if none or if either string is empty.
int32_t PosFrom(const std::string& Sub, const std::string& Value, int32_t From);

// Position of the first CR or LF in Value, -1 if there is none.  Terminator
// receives the line break found there: CR LF or LF CR when the other break
// byte follows, else the single byte; empty when there is none.
int32_t PosCRLF(const std::string& Value, std::string& Terminator);

// Number of bytes in Value equal to Delimiter.
int32_t CountOfChar(const std::string& Value, char Delimiter);

// The text between the first occurrence of Opening and its matching Closing,
// with nested Opening/Closing pairs counted.  Value equal to Opening + Closing
// gives ""; a Value shorter than both together, a Value without Opening, or
// one with no Closing after the first Opening, is returned unchanged.
std::string GetBetween(const std::string& Opening, const std::string& Closing,
                       const std::string& Value);

// The pointer P advanced by Offset bytes (the pointee type is kept).
template <class T>
T* IncPoint(T* P, std::ptrdiff_t Offset) {
  using Byte = std::conditional_t<std::is_const_v<T>, const char, char>;
  return reinterpret_cast<T*>(reinterpret_cast<Byte*>(P) + Offset);
}

// ---- Trimming, quoting and replacing ---------------------------------------

// Value without leading spaces (only the byte 32 counts as a space).
std::string TrimSPLeft(const std::string& Value);
// Value without trailing spaces (only the byte 32).
std::string TrimSPRight(const std::string& Value);
// Value without leading and trailing spaces (only the byte 32).
std::string TrimSP(const std::string& Value);

// Quote + Value with every Quote byte doubled + Quote.
std::string QuoteStr(const std::string& Value, char Quote);

// Value with its quoting removed: the enclosing Quote bytes vanish and a
// doubled Quote inside a quoted text gives one Quote.  Bytes outside quotes
// are kept.  An empty Value, or one of exactly two Quote bytes, gives "".
std::string UnquoteStr(const std::string& Value, char Quote);

// Value with every occurrence of Search replaced by Replace, left to right,
// without rescanning the inserted text.  Value is returned unchanged when
// Value or Search is empty.
std::string ReplaceString(const std::string& Value, const std::string& Search,
                          const std::string& Replace);

// Value cut to Len bytes, or extended to Len bytes with Pad.  A Len below 0
// counts as 0.
std::string PadString(const std::string& Value, int32_t Len, char Pad);

// Byte-wise XOR of Value1 with Value2, Value2 first padded with zero bytes (or
// cut) to the length of Value1.
std::string XorString(const std::string& Value1, const std::string& Value2);

// ---- Conversions and dumps --------------------------------------------------

// Two lower-case hexadecimal digits per byte of Value.
std::string StrToHex(const std::string& Value);

// Binary digits of Value: repeated truncating division by 2, a positive
// remainder giving "1" and any other "0", until the value is 0 (at least one
// digit); then left-padded with "0" to at least Digits characters.
std::string IntToBin(int32_t Value, uint8_t Digits);

// The number written by the leading "0"/"1" digits of Value; reading stops at
// the first other byte.  Overflow wraps modulo 2^32.
int32_t BinToInt(const std::string& Value);

// Value as 2 bytes, most significant first.
std::string CodeInt(uint16_t Value);

// 16-bit big-endian value from the bytes at positions Index and Index + 1.
// The first byte is taken only when Value is longer than Index, the second
// only when Value reaches Index + 1; a missing byte (including any position
// below 1) counts as 0, so a lone last byte decodes as 0.
uint16_t DecodeInt(const std::string& Value, int32_t Index);

// Value as 4 bytes, most significant first.
std::string CodeLongInt(int32_t Value);

// 32-bit big-endian value from the bytes at positions Index .. Index + 3,
// with the same rule for missing bytes as DecodeInt.
int32_t DecodeLongInt(const std::string& Value, int32_t Index);

// Value with its four bytes in reverse order.
int32_t SwapBytes(int32_t Value);

// True when Value holds a byte 0-8 or 10-31 (so CR and LF count as binary);
// a single zero byte at the last position is allowed.  TAB and bytes from 32
// up are text.
bool IsBinaryString(const std::string& Value);

// " +#$" and two upper-case hexadecimal digits for every byte of Value.
std::string DumpStr(const std::string& Value);

// Like DumpStr, except that the ASCII letters A-Z and a-z are written as
// " +'" letter "'".
std::string DumpExStr(const std::string& Value);

}  // namespace velmora::net
