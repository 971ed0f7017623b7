// TUDPBlockSocket: UDP datagrams over IPv4 or IPv6, with broadcast, multicast
// groups and relaying through a SOCKS 5 server's UDP association.
//
// Through SOCKS (SocksIP set), every send first sets up a UDP association
// over a fresh control connection (SocksRelayControl), then sends the
// datagram to the relay behind a header naming the target (00 00 00, the
// SOCKS 5 address form, the payload); received datagrams lose that header
// and their sender becomes the address it names.  A refused association or
// an unreachable relay leaves 11003 and sends nothing.  The association
// lives as long as its control connection, that is until the next send or
// until the socket goes away.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmora/net/dgram_socket.h"
#include "velmora/net/tcp_socket.h"

namespace velmora::net {

class TUDPBlockSocket : public TDgramBlockSocket {
 public:
  TUDPBlockSocket();
  ~TUDPBlockSocket() override;
  std::string ClassName() const override { return "TUDPBlockSocket"; }

  // Without SOCKS the plain datagram primitives; through SOCKS as above
  // (the send's result counts the header bytes as well).
  int32_t SendBufferTo(const void* Buffer, int32_t Length) override;
  int32_t RecvBufferFrom(void* Buffer, int32_t Length) override;
  int32_t GetSocketType() override;      // SOCK_DGRAM
  int32_t GetSocketProtocol() override;  // IPPROTO_UDP

  // Deferred option SO_BROADCAST.
  void EnableBroadcast(bool Value);
  // Joins or leaves a multicast group on any interface (IP_ADD_MEMBERSHIP /
  // IP_DROP_MEMBERSHIP, or IPV6_JOIN_GROUP / IPV6_LEAVE_GROUP on an IPv6
  // handle).  The handle must exist: bind first.
  void AddMulticast(const std::string& MCastIP);
  void DropMulticast(const std::string& MCastIP);
  // Deferred option: the hop limit of multicast datagrams sent.
  void SetMulticastTTL(int32_t TTL);
  // The hop limit in force for the handle's family (not checked: 0 without
  // a handle).
  int32_t GetMulticastTTL();
  // Deferred option: whether datagrams sent to a group this host has joined
  // come back to it.
  void EnableMulticastLoop(bool Value);

  // Sets up the SOCKS 5 UDP association for the next send (see above);
  // true without SOCKS.  Fills ViaSocks and SocksPeerIP/SocksPeerPort (the
  // relay).
  bool UdpAssociation();

  // The control connection of the last association (null before the first).
  TTCPBlockSocket* SocksRelayControl() const { return relay_control_.get(); }
  int32_t MulticastTTL() { return GetMulticastTTL(); }
  void set_MulticastTTL(int32_t v) { SetMulticastTTL(v); }

 private:
  void Membership(const std::string& MCastIP, bool Join);

  std::unique_ptr<TTCPBlockSocket> relay_control_;
};

}  // namespace velmora::net
