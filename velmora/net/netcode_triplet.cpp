#include "velmora/net/netcode_triplet.h"

namespace velmora::net {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char kHexUpper[] = "0123456789ABCDEF";

constexpr TSpecials kQuotedPrintable = TSpecials{"="} | NonAsciiChar;
constexpr TSpecials kURLElement = URLSpecialChar | URLFullSpecialChar;

}  // namespace

std::string DecodeTriplet(const std::string& Value, char Delimiter) {
  const size_t n = Value.size();
  std::string result;
  result.reserve(n);
  size_t i = 0;
  while (i < n) {
    char c = Value[i];
    if (c != Delimiter) {
      result += c;
      ++i;
      continue;
    }
    if (n - i - 1 < 2) break;
    char a = Value[i + 1];
    if (a == '\r' || a == '\n') {
      char other = a == '\r' ? '\n' : '\r';
      i += Value[i + 2] == other ? 3 : 2;
      continue;
    }
    int hi = HexValue(a), lo = HexValue(Value[i + 2]);
    if (hi >= 0 && lo >= 0) {
      result += static_cast<char>(hi * 16 + lo);
      i += 3;
      continue;
    }
    result += c;
    ++i;
  }
  return result;
}

std::string EncodeTriplet(const std::string& Value, char Delimiter, const TSpecials& Specials) {
  std::string result;
  result.reserve(Value.size() + Value.size() / 4);
  for (char c : Value) {
    uint8_t b = static_cast<uint8_t>(c);
    if (Specials.test(b)) {
      result += Delimiter;
      result += kHexUpper[b >> 4];
      result += kHexUpper[b & 15];
    } else {
      result += c;
    }
  }
  return result;
}

std::string DecodeQuotedPrintable(const std::string& Value) {
  return DecodeTriplet(Value, '=');
}

std::string EncodeQuotedPrintable(const std::string& Value) {
  return EncodeTriplet(Value, '=', kQuotedPrintable);
}

std::string EncodeSafeQuotedPrintable(const std::string& Value) {
  return EncodeTriplet(Value, '=', SpecialChar | NonAsciiChar);
}

std::string DecodeURL(const std::string& Value) {
  return DecodeTriplet(Value, '%');
}

std::string EncodeURL(const std::string& Value) {
  return EncodeTriplet(Value, '%', URLSpecialChar);
}

std::string EncodeURLElement(const std::string& Value) {
  return EncodeTriplet(Value, '%', kURLElement);
}

}  // namespace velmora::net
