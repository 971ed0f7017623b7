#include "velmora/net/netip.h"

#include <cstdio>

#include "velmora/net/netutil_text.h"

namespace velmora::net {

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Value of a non-empty run of digits in the given base, or -1 when Text is
// empty, holds another byte, or exceeds Max (leading zeros are allowed, so
// the digit count is not limited).
int64_t ReadNumber(const std::string& Text, int Base, int64_t Max) {
  if (Text.empty()) return -1;
  int64_t v = 0;
  for (char c : Text) {
    int d = Base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return -1;
    v = v * Base + d;
    if (v > Max) return -1;
  }
  return v;
}

// A decimal integer with an optional sign, as a 32-bit value; 0 when Text is
// not one (empty, other bytes, or outside the 32-bit signed range).
int32_t DecimalOrZero(const std::string& Text) {
  size_t i = 0;
  bool negative = false;
  if (!Text.empty() && (Text[0] == '-' || Text[0] == '+')) {
    negative = Text[0] == '-';
    i = 1;
  }
  int64_t v = ReadNumber(Text.substr(i), 10, int64_t{1} << 31);
  if (v < 0) return 0;
  if (negative) v = -v;
  if (v > INT32_MAX) return 0;
  return static_cast<int32_t>(v);
}

bool IsHexGroup(const std::string& Part) {
  return ReadNumber(Part, 16, 0xFFFF) >= 0;
}

}  // namespace

bool IsIP(const std::string& Value) {
  std::string rest = Value;
  for (int i = 0; i < 3; ++i) {
    if (ReadNumber(Fetch(rest, "."), 10, 255) < 0) return false;
  }
  return ReadNumber(rest, 10, 255) >= 0;
}

bool IsIP6(const std::string& Value) {
  if (Value == "::") return true;
  // Fetch drops a final empty part, so a text ending in ":" is refused here.
  if (!Value.empty() && Value.back() == ':') return false;
  // A leading "::" that stands for one zero group ("::2:3:4:5:6:7:8", as
  // Ip6ToStr writes it) takes nine parts.
  const int max_parts = Value.compare(0, 2, "::") == 0 ? 9 : 8;
  std::string rest = Value;
  int parts = 0;
  int empty_parts = 0;
  while (!rest.empty()) {
    std::string part = Fetch(rest, ":");
    ++parts;
    if (part.empty()) {
      // An empty first part is the first half of a leading "::".
      if (parts > 1 && ++empty_parts > 1) return false;
      continue;
    }
    if (parts > max_parts) return false;
    if (rest.empty()) {
      size_t zone = part.find('%');
      if (zone != std::string::npos) {
        if (!IsHexGroup(part.substr(zone + 1))) return false;
        part.erase(zone);
      }
      if (!IsHexGroup(part)) return false;
      return parts > 1;
    }
    if (!IsHexGroup(part)) return false;
  }
  return false;
}

std::string IPToID(const std::string& Host) {
  std::string rest = Host;
  std::string result(4, '\0');
  for (int i = 0; i < 4; ++i) {
    result[i] = static_cast<char>(DecimalOrZero(Fetch(rest, ".")) & 0xFF);
  }
  return result;
}

uint32_t StrToIp(const std::string& Value) {
  std::string rest = Value;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    result = result * 256 + static_cast<uint32_t>(DecimalOrZero(Fetch(rest, ".")));
  }
  return result;
}

std::string IpToStr(uint32_t Value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", Value >> 24, (Value >> 16) & 0xFF,
                (Value >> 8) & 0xFF, Value & 0xFF);
  return buf;
}

std::string ExpandIP6(const std::string& Value) {
  if (Value.empty()) return std::string();
  const int colons = CountOfChar(Value, ':');
  // Eight ":" are still an address when a leading or trailing "::" stands for
  // one zero group ("1:2:3:4:5:6:7::", which Ip6ToStr writes); the fill below
  // then adds no group.
  const size_t pair = Value.find("::");
  const bool edge_pair = pair != std::string::npos && pair == Value.rfind("::") &&
                         (pair == 0 || pair == Value.size() - 2);
  if (colons > 8 || (colons == 8 && !edge_pair)) return std::string();
  std::string s = Value;
  if (s.front() == ':') s = "0" + s;
  if (s.back() == ':') s += '0';
  std::string fill;
  for (int i = 0; i < 8 - colons; ++i) fill += ":0";
  fill += ':';
  return ReplaceString(s, "::", fill);
}

TIp6Bytes StrToIp6(const std::string& Value) {
  TIp6Bytes result{};
  uint16_t groups[8] = {};
  std::string rest = ExpandIP6(Value);
  int n = 0;
  while (!rest.empty()) {
    std::string part = Fetch(rest, ":");
    if (part == "@") break;
    if (n >= 8) return result;
    int64_t v = part.empty() ? 0 : ReadNumber(part, 16, 0xFFFF);
    if (v < 0) return result;
    groups[n++] = static_cast<uint16_t>(v);
  }
  for (int i = 0; i < 8; ++i) {
    result[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    result[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xFF);
  }
  return result;
}

std::string Ip6ToStr(const TIp6Bytes& Value) {
  uint16_t g[8];
  for (int i = 0; i < 8; ++i) g[i] = static_cast<uint16_t>((Value[2 * i] << 8) | Value[2 * i + 1]);

  // The first of the longest runs of zero groups; run_len 0 when none.
  int run_start = -1, run_len = 0;
  for (int i = 0; i < 8;) {
    if (g[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > run_len) {
      run_start = i;
      run_len = j - i;
    }
    i = j;
  }
  const int run_end = run_start + run_len - 1;  // last group of the run

  std::string text;
  char buf[8];
  for (int i = 0; i < 8; ++i) {
    if (run_len > 0 && i >= run_start && i <= run_end) continue;
    if (run_len > 0 && i == run_end + 1) text += text.empty() ? "::" : ":";
    std::snprintf(buf, sizeof buf, "%x:", g[i]);
    text += buf;
  }
  if (run_len > 0 && run_end == 7) {
    text += text.empty() ? "::0" : ":";
  } else {
    text.pop_back();  // the last group was written with a ":" after it
  }
  return text;
}

std::string ReverseIP(const std::string& Value) {
  std::string result;
  size_t end = Value.size();
  while (true) {
    size_t dot = end == 0 ? std::string::npos : Value.rfind('.', end - 1);
    size_t begin = dot == std::string::npos ? 0 : dot + 1;
    result.append(Value, begin, end - begin);
    if (dot == std::string::npos) break;
    result += '.';
    end = dot;
  }
  return result;
}

std::string ReverseIP6(const std::string& Value) {
  const TIp6Bytes bytes = StrToIp6(Value);
  std::string result;
  result.reserve(63);
  for (int i = 15; i >= 0; --i) {
    if (!result.empty()) result += '.';
    result += kHexUpper[bytes[i] & 15];
    result += '.';
    result += kHexUpper[bytes[i] >> 4];
  }
  return result;
}

}  // namespace velmora::net
