// ICMP echo messages (RFC 792) and ICMPv6 echo messages (RFC 4443) for
// TICMPBlockSocket: the request to send and the matching of what comes back.
//
// A raw ICMP socket receives every ICMP message of its family that reaches
// the host: replies meant for other processes, error messages, and on
// loopback the echo requests themselves (the request travels to this host
// before the reply does).  Only an echo reply with our identifier and
// sequence number is ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::net {

// ICMP message types used by echo.
inline constexpr uint8_t kIcmpEchoReply = 0;
inline constexpr uint8_t kIcmpEchoRequest = 8;
inline constexpr uint8_t kIcmp6EchoRequest = 128;
inline constexpr uint8_t kIcmp6EchoReply = 129;
// Type, code, checksum, identifier, sequence number.
inline constexpr size_t kIcmpEchoHeader = 8;

// The Internet checksum (RFC 1071): the ones' complement of the ones'
// complement sum of the 16-bit big-endian words, an odd last byte padded
// with zero.  A message that carries its checksum sums to 0.
uint16_t InternetChecksum(const void* Data, size_t Length);

// An echo request: type 8 (128 for IPv6), code 0, checksum, Identifier,
// Sequence (both big-endian), then Payload.  The IPv4 checksum is computed
// here; the ICMPv6 checksum covers an IPv6 pseudo-header and is left 0 for
// the system to fill in, as it does for raw ICMPv6 sockets.
std::string IcmpEchoRequest(bool IPv6, uint16_t Identifier, uint16_t Sequence,
                            const std::string& Payload);

// What a received packet turned out to be.
struct TIcmpEchoReply {
  bool Ours = false;    // an echo reply with the identifier and sequence asked for
  uint8_t Type = 0;     // the ICMP type seen (0 when the packet is too short)
  int32_t Bytes = 0;    // length of the ICMP message (header and payload)
  int32_t TTL = -1;     // the IPv4 header's time to live; -1 for IPv6
  std::string Payload;  // the echoed data
};

// Reads one packet as received from a raw ICMP socket: for IPv4 the IP
// header comes first (its length from the header itself), for IPv6 the
// ICMPv6 message alone.  Truncated or malformed packets are never ours, and
// nothing past Packet's end is read.
TIcmpEchoReply ParseIcmpEchoReply(const std::string& Packet, bool IPv6, uint16_t Identifier,
                                  uint16_t Sequence);

}  // namespace velmora::net
