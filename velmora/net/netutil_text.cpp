#include "velmora/net/netutil_text.h"

#include <algorithm>

namespace velmora::net {

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr char kHexLower[] = "0123456789abcdef";

// 0-based offset of Sub in Value at or after From; npos when Sub is empty (an
// empty text is never found, so a caller splitting at it keeps the value).
size_t Find(const std::string& Value, const std::string& Sub, size_t From = 0) {
  if (Sub.empty()) return std::string::npos;
  return Value.find(Sub, From);
}

// True when the non-empty Text occurs in Value at 0-based offset At.
bool StartsAt(const std::string& Value, size_t At, const std::string& Text) {
  return !Text.empty() && At <= Value.size() && Value.size() - At >= Text.size() &&
         Value.compare(At, Text.size(), Text) == 0;
}

// The byte at 1-based position Pos, 0 when the position is outside Value.
uint8_t ByteAt(const std::string& Value, int64_t Pos) {
  if (Pos < 1 || Pos > static_cast<int64_t>(Value.size())) return 0;
  return static_cast<uint8_t>(Value[static_cast<size_t>(Pos - 1)]);
}

}  // namespace

// ---- Splitting and searching ------------------------------------------------

std::string SeparateLeft(const std::string& Value, const std::string& Delimiter) {
  size_t x = Find(Value, Delimiter);
  if (x == std::string::npos) return Value;
  return Value.substr(0, x);
}

std::string SeparateRight(const std::string& Value, const std::string& Delimiter) {
  size_t x = Find(Value, Delimiter);
  if (x == std::string::npos) return Value;
  return Value.substr(x + Delimiter.size());
}

std::string FetchBin(std::string& Value, const std::string& Delimiter) {
  size_t x = Find(Value, Delimiter);
  if (x == std::string::npos) {
    std::string result = std::move(Value);
    Value.clear();
    return result;
  }
  std::string result = Value.substr(0, x);
  Value.erase(0, x + Delimiter.size());
  return result;
}

std::string Fetch(std::string& Value, const std::string& Delimiter) {
  std::string result = TrimSP(FetchBin(Value, Delimiter));
  Value = TrimSP(Value);
  return result;
}

std::string FetchEx(std::string& Value, const std::string& Delimiter,
                    const std::string& Quotation) {
  std::string result;
  bool quoted = false;
  size_t i = 0;
  const size_t n = Value.size();
  while (i < n) {
    if (quoted) {
      if (StartsAt(Value, i, Quotation)) quoted = false;
    } else {
      if (StartsAt(Value, i, Delimiter)) {
        i += Delimiter.size();
        Value.erase(0, i);
        return result;
      }
      quoted = StartsAt(Value, i, Quotation);
    }
    result += Value[i++];
  }
  Value.clear();
  return result;
}

int32_t RPos(const std::string& Sub, const std::string& Value) {
  if (Sub.empty() || Sub.size() > Value.size()) return 0;
  size_t x = Value.rfind(Sub);
  return x == std::string::npos ? 0 : static_cast<int32_t>(x + 1);
}

int32_t RPosEx(const std::string& Sub, const std::string& Value, int32_t From) {
  if (Sub.empty() || Sub.size() > Value.size()) return 0;
  // The occurrence starting at 1-based n ends at n + |Sub| - 1 <= From.
  int64_t last_start = static_cast<int64_t>(From) - static_cast<int64_t>(Sub.size()) + 1;
  if (last_start < 1) return 0;
  size_t limit = static_cast<size_t>(std::min<int64_t>(last_start - 1, Value.size()));
  size_t x = Value.rfind(Sub, limit);
  return x == std::string::npos ? 0 : static_cast<int32_t>(x + 1);
}

int32_t PosFrom(const std::string& Sub, const std::string& Value, int32_t From) {
  if (Sub.empty() || Value.empty()) return 0;
  if (From < 1) From = 1;
  if (static_cast<size_t>(From) > Value.size()) return 0;
  size_t x = Value.find(Sub, static_cast<size_t>(From - 1));
  return x == std::string::npos ? 0 : static_cast<int32_t>(x + 1);
}

int32_t PosCRLF(const std::string& Value, std::string& Terminator) {
  const size_t n = Value.size();
  for (size_t i = 0; i < n; ++i) {
    char c = Value[i];
    if (c != '\r' && c != '\n') continue;
    char other = c == '\r' ? '\n' : '\r';
    if (i + 1 < n && Value[i + 1] == other) {
      Terminator.assign({c, other});
    } else {
      Terminator.assign(1, c);
    }
    return static_cast<int32_t>(i + 1);
  }
  Terminator.clear();
  return -1;
}

int32_t CountOfChar(const std::string& Value, char Delimiter) {
  return static_cast<int32_t>(std::count(Value.begin(), Value.end(), Delimiter));
}

std::string GetBetween(const std::string& Opening, const std::string& Closing,
                       const std::string& Value) {
  if (Value.size() == Opening.size() + Closing.size() &&
      Value.compare(0, Opening.size(), Opening) == 0 &&
      Value.compare(Opening.size(), Closing.size(), Closing) == 0) {
    return std::string();
  }
  if (Value.size() < Opening.size() + Closing.size()) return Value;
  size_t open = Find(Value, Opening);
  if (open == std::string::npos) return Value;
  const std::string rest = Value.substr(open + Opening.size());
  if (Find(rest, Closing) == std::string::npos) return Value;

  std::string result;
  int64_t level = 1;
  // A closing text can begin no later than here; rest holds at least one.
  const size_t last = rest.size() - Closing.size();
  for (size_t i = 0; i <= last; ++i) {
    if (StartsAt(rest, i, Closing)) {
      if (--level == 0) break;
    }
    if (StartsAt(rest, i, Opening)) ++level;
    result += rest[i];
  }
  return result;
}

// ---- Trimming, quoting and replacing ---------------------------------------

std::string TrimSPLeft(const std::string& Value) {
  size_t b = Value.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : Value.substr(b);
}

std::string TrimSPRight(const std::string& Value) {
  size_t e = Value.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : Value.substr(0, e + 1);
}

std::string TrimSP(const std::string& Value) {
  size_t b = Value.find_first_not_of(' ');
  if (b == std::string::npos) return std::string();
  size_t e = Value.find_last_not_of(' ');
  return Value.substr(b, e - b + 1);
}

std::string QuoteStr(const std::string& Value, char Quote) {
  std::string result;
  result.reserve(Value.size() + 2);
  result += Quote;
  for (char c : Value) {
    result += c;
    if (c == Quote) result += c;
  }
  result += Quote;
  return result;
}

std::string UnquoteStr(const std::string& Value, char Quote) {
  if (Value.empty()) return std::string();
  if (Value.size() == 2 && Value[0] == Quote && Value[1] == Quote) return std::string();
  std::string result;
  result.reserve(Value.size());
  bool quoted = false;
  bool doubled = false;
  const size_t n = Value.size();
  for (size_t i = 0; i < n; ++i) {
    char c = Value[i];
    if (c != Quote) {
      result += c;
    } else if (doubled) {
      doubled = false;
    } else if (!quoted) {
      quoted = true;
    } else if (i + 1 < n && Value[i + 1] == Quote) {
      result += Quote;
      doubled = true;
    } else {
      quoted = false;
    }
  }
  return result;
}

std::string ReplaceString(const std::string& Value, const std::string& Search,
                          const std::string& Replace) {
  if (Value.empty() || Search.empty()) return Value;
  std::string result;
  result.reserve(Value.size());
  size_t from = 0;
  for (size_t x = Value.find(Search); x != std::string::npos; x = Value.find(Search, from)) {
    result.append(Value, from, x - from);
    result += Replace;
    from = x + Search.size();
  }
  result.append(Value, from, std::string::npos);
  return result;
}

std::string PadString(const std::string& Value, int32_t Len, char Pad) {
  size_t len = Len < 0 ? 0 : static_cast<size_t>(Len);
  std::string result = Value.substr(0, std::min(len, Value.size()));
  result.resize(len, Pad);
  return result;
}

std::string XorString(const std::string& Value1, const std::string& Value2) {
  std::string result = Value1;
  const size_t n = std::min(Value1.size(), Value2.size());
  for (size_t i = 0; i < n; ++i) result[i] = static_cast<char>(Value1[i] ^ Value2[i]);
  return result;
}

// ---- Conversions and dumps --------------------------------------------------

std::string StrToHex(const std::string& Value) {
  std::string result(Value.size() * 2, '0');
  for (size_t i = 0; i < Value.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(Value[i]);
    result[2 * i] = kHexLower[b >> 4];
    result[2 * i + 1] = kHexLower[b & 15];
  }
  return result;
}

std::string IntToBin(int32_t Value, uint8_t Digits) {
  std::string reversed;
  int32_t v = Value;
  do {
    reversed += (v % 2) > 0 ? '1' : '0';
    v /= 2;
  } while (v != 0);
  if (reversed.size() < Digits) reversed.resize(Digits, '0');
  return std::string(reversed.rbegin(), reversed.rend());
}

int32_t BinToInt(const std::string& Value) {
  uint32_t result = 0;
  for (char c : Value) {
    if (c != '0' && c != '1') break;
    result = result * 2 + static_cast<uint32_t>(c - '0');
  }
  return static_cast<int32_t>(result);
}

std::string CodeInt(uint16_t Value) {
  return std::string{static_cast<char>(Value >> 8), static_cast<char>(Value & 0xFF)};
}

uint16_t DecodeInt(const std::string& Value, int32_t Index) {
  const int64_t len = static_cast<int64_t>(Value.size());
  uint32_t hi = len > Index ? ByteAt(Value, Index) : 0;
  uint32_t lo = ByteAt(Value, static_cast<int64_t>(Index) + 1);
  return static_cast<uint16_t>((hi << 8) | lo);
}

std::string CodeLongInt(int32_t Value) {
  uint32_t v = static_cast<uint32_t>(Value);
  return std::string{static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF),
                     static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

int32_t DecodeLongInt(const std::string& Value, int32_t Index) {
  const int64_t len = static_cast<int64_t>(Value.size());
  uint32_t result = len > Index ? ByteAt(Value, Index) : 0;
  for (int64_t k = 1; k <= 3; ++k) {
    result = (result << 8) | ByteAt(Value, static_cast<int64_t>(Index) + k);
  }
  return static_cast<int32_t>(result);
}

int32_t SwapBytes(int32_t Value) {
  uint32_t v = static_cast<uint32_t>(Value);
  v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
  return static_cast<int32_t>(v);
}

bool IsBinaryString(const std::string& Value) {
  const size_t n = Value.size();
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = static_cast<uint8_t>(Value[i]);
    if (c >= 32 || c == 9) continue;
    if (c == 0 && i + 1 == n) continue;
    return true;
  }
  return false;
}

std::string DumpStr(const std::string& Value) {
  std::string result;
  result.reserve(Value.size() * 6);
  for (char ch : Value) {
    uint8_t c = static_cast<uint8_t>(ch);
    result += " +#$";
    result += kHexUpper[c >> 4];
    result += kHexUpper[c & 15];
  }
  return result;
}

std::string DumpExStr(const std::string& Value) {
  std::string result;
  result.reserve(Value.size() * 6);
  for (char ch : Value) {
    uint8_t c = static_cast<uint8_t>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      result += " +'";
      result += ch;
      result += '\'';
    } else {
      result += " +#$";
      result += kHexUpper[c >> 4];
      result += kHexUpper[c & 15];
    }
  }
  return result;
}

}  // namespace velmora::net
