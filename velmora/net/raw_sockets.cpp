// Socket types and protocols of the ICMP, raw IP and PGM sockets.
#include "velmora/net/raw_sockets.h"

namespace velmora::net {

int32_t TICMPBlockSocket::GetSocketType() {
  return SOCK_RAW;
}

// UsesIPv6 is set from the address before the handle is created, so a
// socket made for an IPv6 address asks for ICMPv6.
int32_t TICMPBlockSocket::GetSocketProtocol() {
  return uses_ipv6_ ? static_cast<int32_t>(IPPROTO_ICMPV6) : static_cast<int32_t>(IPPROTO_ICMP);
}

int32_t TRAWBlockSocket::GetSocketType() {
  return SOCK_RAW;
}

int32_t TRAWBlockSocket::GetSocketProtocol() {
  return IPPROTO_RAW;
}

int32_t TPGMMessageBlockSocket::GetSocketType() {
  return SOCK_RDM;
}

int32_t TPGMMessageBlockSocket::GetSocketProtocol() {
  return kIpProtoPgm;
}

int32_t TPGMStreamBlockSocket::GetSocketType() {
  return SOCK_STREAM;
}

int32_t TPGMStreamBlockSocket::GetSocketProtocol() {
  return kIpProtoPgm;
}

}  // namespace velmora::net
