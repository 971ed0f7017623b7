// ICMP and ICMPv6 echo requests and the matching of replies.
#include "velmora/net/icmp_echo.h"

namespace velmora::net {

namespace {

constexpr size_t kMinIpv4Header = 20;

uint8_t At(const std::string& s, size_t i) {
  return static_cast<uint8_t>(s[i]);
}

uint16_t Word(const std::string& s, size_t i) {
  return static_cast<uint16_t>(At(s, i) << 8 | At(s, i + 1));
}

void PutWord(std::string& s, size_t i, uint16_t v) {
  s[i] = static_cast<char>(v >> 8);
  s[i + 1] = static_cast<char>(v & 0xFF);
}

}  // namespace

uint16_t InternetChecksum(const void* Data, size_t Length) {
  const auto* p = static_cast<const uint8_t*>(Data);
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < Length; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
  if (i < Length) sum += static_cast<uint32_t>(p[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum & 0xFFFF);
}

std::string IcmpEchoRequest(bool IPv6, uint16_t Identifier, uint16_t Sequence,
                            const std::string& Payload) {
  std::string m(kIcmpEchoHeader, '\0');
  m[0] = static_cast<char>(IPv6 ? kIcmp6EchoRequest : kIcmpEchoRequest);
  PutWord(m, 4, Identifier);
  PutWord(m, 6, Sequence);
  m += Payload;
  if (!IPv6) PutWord(m, 2, InternetChecksum(m.data(), m.size()));
  return m;
}

TIcmpEchoReply ParseIcmpEchoReply(const std::string& Packet, bool IPv6, uint16_t Identifier,
                                  uint16_t Sequence) {
  TIcmpEchoReply r;
  size_t start = 0;
  if (!IPv6) {
    if (Packet.size() < kMinIpv4Header || (At(Packet, 0) >> 4) != 4) return r;
    start = static_cast<size_t>(At(Packet, 0) & 0x0F) * 4;
    if (start < kMinIpv4Header || start > Packet.size()) return r;
    r.TTL = At(Packet, 8);
  }
  if (Packet.size() - start < kIcmpEchoHeader) return r;
  r.Type = At(Packet, start);
  r.Bytes = static_cast<int32_t>(Packet.size() - start);
  const uint8_t reply_type = IPv6 ? kIcmp6EchoReply : kIcmpEchoReply;
  if (r.Type != reply_type || At(Packet, start + 1) != 0) return r;
  // The system checks ICMPv6 checksums before delivery; IPv4 ones are ours
  // to check.
  if (!IPv6 && InternetChecksum(Packet.data() + start, Packet.size() - start) != 0) return r;
  if (Word(Packet, start + 4) != Identifier || Word(Packet, start + 6) != Sequence) return r;
  r.Ours = true;
  r.Payload = Packet.substr(start + kIcmpEchoHeader);
  return r;
}

}  // namespace velmora::net
