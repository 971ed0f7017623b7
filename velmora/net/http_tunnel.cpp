// The HTTP CONNECT tunnel of the TCP socket: connect to the proxy, ask it
// for a tunnel to the target, read its reply header up to the empty line;
// the last status line decides whether the tunnel is open.
#include "velmora/net/netcode_base64.h"
#include "velmora/net/netip.h"
#include "velmora/net/tcp_socket.h"

namespace velmora::net {

namespace {

constexpr const char* kTunnelStateNames[] = {"Idle", "ProxyConnect", "Requested", "Headers",
                                             "Open", "Refused",      "Failed"};

}  // namespace

const char* TunnelStateName(TTunnelState state) {
  auto i = static_cast<size_t>(state);
  return i < std::size(kTunnelStateNames) ? kTunnelStateNames[i] : "Unknown";
}

void TTCPBlockSocket::TunnelStep(TTunnelState next) {
  if (next == tunnel_state_) return;
  TTunnelState from = tunnel_state_;
  tunnel_state_ = next;
  ProtocolStep("HTTP tunnel", TunnelStateName(from), TunnelStateName(next));
}

void TTCPBlockSocket::HTTPTunnelDoConnect(const std::string& IP, const std::string& Port) {
  const std::string port = std::to_string(ResolvePort(Port));
  TunnelStep(TTunnelState::Idle);
  TunnelStep(TTunnelState::ProxyConnect);
  TBlockSocket::Connect(http_tunnel_ip_, http_tunnel_port_);
  if (last_error_ != 0) {
    TunnelStep(TTunnelState::Failed);
    return;
  }
  tunnel_open_ = false;
  const std::string target = IsIP6(IP) ? "[" + IP + "]" : IP;
  SendString("CONNECT " + target + ":" + port + " HTTP/1.0" + CRLF);
  if (!http_tunnel_user_.empty())
    SendString("Proxy-Authorization: Basic " +
               EncodeBase64(http_tunnel_user_ + ":" + http_tunnel_pass_) + CRLF);
  SendString(CRLF);
  TunnelStep(TTunnelState::Requested);
  // Lines keep their CR (read up to LF); the header ends at an empty line or
  // a lone CR.  Every status line ("HTTP/x.y nnn ...") decides anew, so the
  // last one counts.
  for (;;) {
    std::string line = RecvTerminated(http_tunnel_timeout_, "\n");
    if (last_error_ != 0) break;
    TunnelStep(TTunnelState::Headers);
    if (line.empty() || line == "\r") break;
    if (line.size() > 11 && line.compare(0, 5, "HTTP/") == 0) tunnel_open_ = line[9] == '2';
  }
  const bool read_failed = last_error_ != 0;
  if (!read_failed && !tunnel_open_) last_error_ = WSASYSNOTREADY;
  tunnel_peer_ip_ = target;
  tunnel_peer_port_ = port;
  TunnelStep(read_failed    ? TTunnelState::Failed
             : tunnel_open_ ? TTunnelState::Open
                            : TTunnelState::Refused);
  ExceptCheck();
}

}  // namespace velmora::net
