// TUDPBlockSocket: the UDP socket type, broadcast and multicast options and
// group membership, and relaying through a SOCKS 5 UDP association
// (RFC 1928, section 7).
#include "velmora/net/udp_socket.h"

#include <cstring>

#include "velmora/net/netip.h"

namespace velmora::net {

namespace {

// The longest SOCKS 5 datagram header: RSV RSV FRAG, ATYP, a name of 255
// bytes with its length byte, and the port.
constexpr size_t kMaxRelayHeader = 3 + 1 + 1 + 255 + 2;

// Codes a relay header in the SOCKS 5 form whatever SocksType says: the UDP
// association exists only in SOCKS 5.
class Socks5Form {
 public:
  explicit Socks5Form(TSocksBlockSocket& s) : s_(s), saved_(s.SocksType()) {
    s_.set_SocksType(ST_Socks5);
  }
  ~Socks5Form() { s_.set_SocksType(saved_); }
  Socks5Form(const Socks5Form&) = delete;
  Socks5Form& operator=(const Socks5Form&) = delete;

 private:
  TSocksBlockSocket& s_;
  TSocksType saved_;
};

}  // namespace

TUDPBlockSocket::TUDPBlockSocket() = default;

// The control connection goes with the socket (and with it the association).
TUDPBlockSocket::~TUDPBlockSocket() = default;

int32_t TUDPBlockSocket::GetSocketType() {
  return SOCK_DGRAM;
}

int32_t TUDPBlockSocket::GetSocketProtocol() {
  return IPPROTO_UDP;
}

// --- Broadcast and multicast.

void TUDPBlockSocket::EnableBroadcast(bool Value) {
  DelayedOption({SOT_Broadcast, Value, 0});
}

void TUDPBlockSocket::SetMulticastTTL(int32_t TTL) {
  DelayedOption({SOT_MulticastTTL, false, TTL});
}

void TUDPBlockSocket::EnableMulticastLoop(bool Value) {
  DelayedOption({SOT_MulticastLoop, Value, 0});
}

int32_t TUDPBlockSocket::GetMulticastTTL() {
  int32_t value = 0;
  int32_t len = sizeof value;
  if (uses_ipv6_)
    GetSockOpt(socket_, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &value, &len);
  else
    GetSockOpt(socket_, IPPROTO_IP, IP_MULTICAST_TTL, &value, &len);
  return value;
}

void TUDPBlockSocket::AddMulticast(const std::string& MCastIP) {
  Membership(MCastIP, true);
}

void TUDPBlockSocket::DropMulticast(const std::string& MCastIP) {
  Membership(MCastIP, false);
}

// Any interface: the kernel picks the one its routes name for the group.
void TUDPBlockSocket::Membership(const std::string& MCastIP, bool Join) {
  int32_t r;
  if (uses_ipv6_) {
    ipv6_mreq mreq{};
    const TIp6Bytes group = StrToIp6(MCastIP);
    std::memcpy(&mreq.ipv6mr_multiaddr, group.data(), group.size());
    mreq.ipv6mr_interface = 0;
    r = SetSockOpt(socket_, IPPROTO_IPV6, Join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP, &mreq,
                   sizeof mreq);
  } else {
    ip_mreq mreq{};
    mreq.imr_multiaddr.s_addr = htonl(StrToIp(MCastIP));
    mreq.imr_interface.s_addr = htonl(INADDR_ANY);
    r = SetSockOpt(socket_, IPPROTO_IP, Join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &mreq,
                   sizeof mreq);
  }
  SockCheck(r);
  ExceptCheck();
}

// --- SOCKS 5 UDP association.

bool TUDPBlockSocket::UdpAssociation() {
  via_socks_ = false;
  if (socks_ip_.empty()) return true;
  if (!relay_control_) relay_control_ = std::make_unique<TTCPBlockSocket>();
  TTCPBlockSocket& control = *relay_control_;
  control.CloseSocket();  // ends the previous association
  control.CreateSocketByName(socks_ip_);
  control.Connect(socks_ip_, socks_port_);
  if (control.LastError() != 0) return false;
  if (!is_bound_) Bind(cAnyHost, cAnyPort);
  bool ok = last_error_ == 0;
  control.set_SocksUsername(socks_username_);
  control.set_SocksPassword(socks_password_);
  // The proxy's answers wait as long as this socket's own negotiations do.
  control.set_SocksTimeout(socks_timeout_);
  control.OnProtocolStep = OnProtocolStep;
  if (ok) ok = control.SocksOpen();
  if (ok) ok = control.SocksRequest(3, GetLocalSinIP(), std::to_string(GetLocalSinPort()));
  if (ok) ok = control.SocksResponse();
  if (!ok && last_error_ == 0) last_error_ = WSANO_RECOVERY;
  via_socks_ = control.ViaSocks();
  // A relay that answers with the wildcard address relays on the proxy's
  // own address.
  const std::string& relay = control.SocksReplyIP();
  socks_peer_ip_ = (relay == cAnyHost || relay == "::") ? socks_ip_ : relay;
  socks_peer_port_ = control.SocksReplyPort();
  return ok && last_error_ == 0;
}

int32_t TUDPBlockSocket::SendBufferTo(const void* Buffer, int32_t Length) {
  via_socks_ = false;
  if (!socks_ip_.empty() && !UdpAssociation()) {
    last_error_ = WSANO_RECOVERY;
    ExceptCheck();
    return 0;
  }
  if (!via_socks_) return TBlockSocket::SendBufferTo(Buffer, Length);
  // RemoteSin names the target; the datagram goes to the relay with the
  // target in its header, and RemoteSin names the target again afterwards.
  const TVarSin target = remote_sin_;
  std::string datagram(3, '\0');
  {
    Socks5Form form(*this);
    datagram += SocksCode(GetRemoteSinIP(), std::to_string(GetRemoteSinPort()));
  }
  if (Length > 0) datagram.append(static_cast<const char*>(Buffer), static_cast<size_t>(Length));
  SetRemoteSin(socks_peer_ip_, socks_peer_port_);
  int32_t result = 0;
  if (last_error_ == 0)
    result = TBlockSocket::SendBufferTo(datagram.data(), static_cast<int32_t>(datagram.size()));
  else
    ExceptCheck();
  remote_sin_ = target;
  return result;
}

// A relayed datagram that is shorter than its header, is a fragment (this
// side reassembles none), or names an address type that does not exist is
// dropped with 11003; nothing past the received bytes is read.
int32_t TUDPBlockSocket::RecvBufferFrom(void* Buffer, int32_t Length) {
  const int32_t n = TBlockSocket::RecvBufferFrom(Buffer, Length);
  if (!via_socks_ || last_error_ != 0 || n < 0) return n;
  auto* bytes = static_cast<char*>(Buffer);
  const size_t got = static_cast<size_t>(n);
  const std::string header(bytes, got < kMaxRelayHeader ? got : kMaxRelayHeader);
  int32_t pos = 0;
  if (header.size() >= 4 && header[2] == '\0') {
    Socks5Form form(*this);
    pos = SocksDecode(header);
  }
  // SocksDecode answers 5 (or 0) when the address cannot be read.
  if (pos <= 5 || static_cast<size_t>(pos - 1) > got) {
    last_error_ = WSANO_RECOVERY;
    ExceptCheck();
    return 0;
  }
  const size_t payload = got - static_cast<size_t>(pos - 1);
  std::memmove(bytes, bytes + (pos - 1), payload);
  const std::string sender_ip = socks_reply_ip_;
  const std::string sender_port = socks_reply_port_;
  SetRemoteSin(sender_ip, sender_port);
  return static_cast<int32_t>(payload);
}

}  // namespace velmora::net
