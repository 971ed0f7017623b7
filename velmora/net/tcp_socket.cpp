// TTCPBlockSocket: TCP connections directly or through SOCKS, SOCKS BIND for
// listening through a proxy, the TLS plug-in path of the transfer
// primitives, and the address getters that see through a proxy.
#include "velmora/net/tcp_socket.h"

#include <cstdlib>

#include "velmora/net/netutil_time.h"

namespace velmora::net {

namespace {

// The most a close discards before it closes the handle anyway.
constexpr int64_t kClosePurgeLimit = 1 << 20;  // bytes

// The number in a port text, 0 when it is not a number.
int32_t PortNumber(const std::string& text) {
  if (text.empty()) return 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  return (end && *end == '\0' && v >= 0 && v <= 65535) ? static_cast<int32_t>(v) : 0;
}

}  // namespace

TTCPBlockSocket::TTCPBlockSocket() : TTCPBlockSocket(SSLImplementation) {}

TTCPBlockSocket::TTCPBlockSocket(const TSSLFactory& SSLPlugin) {
  ssl_ = SSLPlugin ? SSLPlugin(*this) : MakeSSLNone(*this);
  if (!ssl_) ssl_ = MakeSSLNone(*this);
}

TTCPBlockSocket::~TTCPBlockSocket() {
  try {
    TTCPBlockSocket::CloseSocket();
  } catch (...) {
    // Nothing may escape a destructor; the handle is closed below anyway.
    if (socket_ != INVALID_SOCKET) net::CloseSocket(socket_);
    socket_ = INVALID_SOCKET;
  }
  closed_by_descendant_ = true;
}

void TTCPBlockSocket::CloseSocket() {
  if (ssl_ && ssl_->SslEnabled()) ssl_->Shutdown();
  if (socket_ != INVALID_SOCKET && last_error_ == 0) {
    net::Shutdown(socket_, SHUT_WR);
    // What is still waiting is discarded, but a peer in the middle of a long
    // transfer must not make the close read the rest of it.
    PurgeUpTo(kClosePurgeLimit);
  }
  TBlockSocket::CloseSocket();
}

void TTCPBlockSocket::DoAfterConnect() {
  if (OnAfterConnect) OnAfterConnect(this);
}

void TTCPBlockSocket::Connect(const std::string& IP, const std::string& Port) {
  if (!socks_ip_.empty())
    SocksDoConnect(IP, Port);
  else if (!http_tunnel_ip_.empty())
    HTTPTunnelDoConnect(IP, Port);
  else
    TBlockSocket::Connect(IP, Port);
  if (last_error_ == 0) DoAfterConnect();
}

void TTCPBlockSocket::SocksDoConnect(const std::string& IP, const std::string& Port) {
  TBlockSocket::Connect(socks_ip_, socks_port_);
  if (last_error_ == 0) {
    bool ok = SocksOpen();
    if (ok) ok = SocksRequest(1, IP, Port);
    if (ok) ok = SocksResponse();
    if (!ok && last_error_ == 0) last_error_ = WSASYSNOTREADY;
    socks_bound_ip_ = socks_reply_ip_;
    socks_bound_port_ = socks_reply_port_;
    socks_peer_ip_ = IP;
    socks_peer_port_ = Port;
  }
  ExceptCheck();
  DoStatus(HR_Connect, IP + ":" + Port);
}

void TTCPBlockSocket::Listen() {
  if (socks_ip_.empty()) {
    TBlockSocket::Listen();
    return;
  }
  // The address the proxy is told: this side's, or its name when it is the
  // wildcard (or unknown, before any bind).
  std::string local_ip = GetLocalSinIP();
  if (local_ip.empty() || local_ip == cAnyHost) local_ip = LocalName();
  std::string local_port = std::to_string(GetLocalSinPort());
  TBlockSocket::Connect(socks_ip_, socks_port_);
  if (last_error_ == 0) {
    bool ok = SocksOpen();
    if (ok) ok = SocksRequest(2, local_ip, local_port);
    if (ok) ok = SocksResponse();
    if (!ok && last_error_ == 0) last_error_ = WSANO_RECOVERY;
    socks_bound_ip_ = socks_reply_ip_ == cAnyHost ? socks_ip_ : socks_reply_ip_;
    socks_bound_port_ = socks_reply_port_;
    socks_peer_ip_.clear();
    socks_peer_port_.clear();
  }
  ExceptCheck();
  DoStatus(HR_Listen, "");
}

TSocket TTCPBlockSocket::Accept() {
  if (!via_socks_) return TBlockSocket::Accept();
  if (!SocksResponse() && last_error_ == 0) last_error_ = WSANO_RECOVERY;
  socks_peer_ip_ = socks_reply_ip_;
  socks_peer_port_ = socks_reply_port_;
  ExceptCheck();
  DoStatus(HR_Accept, "");
  return socket_;
}

int32_t TTCPBlockSocket::SendBuffer(const void* Buffer, int32_t Length) {
  if (!ssl_->SslEnabled()) return TBlockSocket::SendBuffer(Buffer, Length);
  return SendInPieces(Buffer, Length, [this](const uint8_t* p, int32_t piece) {
    const int32_t n = ssl_->SendBuffer(p, piece);
    if (ssl_->SslErrorCode() != 0) last_error_ = WSASYSNOTREADY;
    // A plug-in that moves nothing without an error would loop forever.
    if (last_error_ == 0 && n <= 0) last_error_ = WSASYSNOTREADY;
    return n;
  });
}

int32_t TTCPBlockSocket::RecvBuffer(void* Buffer, int32_t Length) {
  if (!ssl_->SslEnabled()) return TBlockSocket::RecvBuffer(Buffer, Length);
  if (TestStopFlag()) return 0;
  ResetLastError();
  LimitBandwidth(Length, max_recv_bandwidth_, recv_resume_tick_);
  int32_t n = 0;
  for (;;) {
    n = ssl_->RecvBuffer(Buffer, Length);
    if (ssl_->SslErrorCode() != 0) {
      last_error_ = WSASYSNOTREADY;
      break;
    }
    if (n > 0 || !ssl_->SslWantRead()) break;
    // Only protocol records so far (session tickets, a key update, part of
    // a record): wait for the handle again, never past the receive's limit.
    int32_t left = recv_limit_;
    if (left >= 0) {
      const int64_t spent = TickDelta(recv_start_, GetTick());
      left = spent >= left ? 0 : static_cast<int32_t>(left - spent);
    }
    if (!CanRead(left)) {
      if (last_error_ == 0) last_error_ = WSAETIMEDOUT;
      break;
    }
  }
  ExceptCheck();
  if (n > 0) {
    bytes_received_ += n;
    DoStatus(HR_ReadCount, std::to_string(n));
    DoMonitor(false, Buffer, n);
    DoReadFilter(Buffer, n);
  }
  return n;
}

std::string TTCPBlockSocket::RecvPacket(int32_t Timeout) {
  if (!ssl_->SslEnabled()) return TBlockSocket::RecvPacket(Timeout);
  struct Limit {
    TTCPBlockSocket& s;
    ~Limit() { s.recv_limit_ = -1; }
  } limit{*this};
  recv_limit_ = Timeout;
  recv_start_ = GetTick();
  return TBlockSocket::RecvPacket(Timeout);
}

int32_t TTCPBlockSocket::WaitingData() {
  int32_t result = 0;
  if (ssl_->SslEnabled() && socket_ != INVALID_SOCKET) result = ssl_->WaitingData();
  if (result == 0) result = TBlockSocket::WaitingData();
  return result;
}

std::string TTCPBlockSocket::GetLocalSinIP() {
  if (via_socks_) return socks_bound_ip_;
  return TBlockSocket::GetLocalSinIP();
}

std::string TTCPBlockSocket::GetRemoteSinIP() {
  if (via_socks_) return socks_peer_ip_;
  if (tunnel_open_) return tunnel_peer_ip_;
  return TBlockSocket::GetRemoteSinIP();
}

int32_t TTCPBlockSocket::GetLocalSinPort() {
  if (via_socks_) return PortNumber(socks_bound_port_);
  return TBlockSocket::GetLocalSinPort();
}

int32_t TTCPBlockSocket::GetRemoteSinPort() {
  if (via_socks_) return ResolvePort(socks_peer_port_);
  if (tunnel_open_) return PortNumber(tunnel_peer_port_);
  return TBlockSocket::GetRemoteSinPort();
}

int32_t TTCPBlockSocket::GetSocketType() {
  return SOCK_STREAM;
}
int32_t TTCPBlockSocket::GetSocketProtocol() {
  return IPPROTO_TCP;
}

std::string TTCPBlockSocket::GetErrorDescEx() {
  if (last_error_ == WSASYSNOTREADY && ssl_ && ssl_->SslErrorCode() != 0)
    return ssl_->SslErrorText();
  return TBlockSocket::GetErrorDescEx();
}

void TTCPBlockSocket::SSLDoConnect() {
  ResetLastError();
  if (!ssl_->Connect()) last_error_ = WSASYSNOTREADY;
  ExceptCheck();
}

bool TTCPBlockSocket::SSLAcceptConnection() {
  ResetLastError();
  if (!ssl_->Accept()) last_error_ = WSASYSNOTREADY;
  ExceptCheck();
  return last_error_ == 0;
}

void TTCPBlockSocket::SSLDoShutdown() {
  ResetLastError();
  ssl_->BiShutdown();
}

}  // namespace velmora::net
