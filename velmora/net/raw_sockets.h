// The block sockets that differ only in the socket type and protocol they
// ask for: ICMP (and ICMPv6) echo and error messages, raw IP, and the two
// PGM reliable-multicast sockets.
//
// Raw sockets need root or CAP_NET_RAW: without them creating the handle
// fails with 10013 (permission denied).  Linux has no PGM, so creating a PGM
// handle fails with the library's error (10044 for the message socket, 10043
// for the stream socket).
#pragma once

#include <cstdint>
#include <string>

#include "velmora/net/dgram_socket.h"

namespace velmora::net {

// Raw ICMP datagrams: what is sent is the ICMP message itself (type, code,
// checksum, ...); an IPv4 socket receives each message behind its IP header,
// an IPv6 socket receives the ICMPv6 message alone (the system fills in the
// ICMPv6 checksum).  Every ICMP message for this host arrives, also the ones
// meant for other processes.
class TICMPBlockSocket : public TDgramBlockSocket {
 public:
  std::string ClassName() const override { return "TICMPBlockSocket"; }
  int32_t GetSocketType() override;      // SOCK_RAW
  int32_t GetSocketProtocol() override;  // IPPROTO_ICMP; IPPROTO_ICMPV6 when UsesIPv6
};

// Raw IP (IPPROTO_RAW): every datagram sent carries its own IP header.
class TRAWBlockSocket : public TBlockSocket {
 public:
  std::string ClassName() const override { return "TRAWBlockSocket"; }
  int32_t GetSocketType() override;      // SOCK_RAW
  int32_t GetSocketProtocol() override;  // IPPROTO_RAW
};

// PGM messages (reliably delivered messages).
class TPGMMessageBlockSocket : public TBlockSocket {
 public:
  std::string ClassName() const override { return "TPGMMessageBlockSocket"; }
  int32_t GetSocketType() override;      // SOCK_RDM
  int32_t GetSocketProtocol() override;  // 113 (PGM)
};

// A PGM stream.
class TPGMStreamBlockSocket : public TBlockSocket {
 public:
  std::string ClassName() const override { return "TPGMStreamBlockSocket"; }
  int32_t GetSocketType() override;      // SOCK_STREAM
  int32_t GetSocketProtocol() override;  // 113 (PGM)
};

// The protocol number of PGM (RFC 3208); the system headers do not name it.
inline constexpr int32_t kIpProtoPgm = 113;

}  // namespace velmora::net
