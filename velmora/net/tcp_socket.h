// TTCPBlockSocket: the TCP client and server socket, connecting directly,
// through a SOCKS proxy or through an HTTP CONNECT tunnel, with a TLS plug-in
// through which every send and receive passes once a session is up.
//
// Proxy refusals (SOCKS connect, tunnel) leave 10091 "Network subsystem is
// unusable"; a refused SOCKS BIND leaves 11003; TLS failures leave 10091 with
// the plug-in's own text.
#pragma once

#include <memory>
#include <string>

#include "velmora/net/socks.h"
#include "velmora/net/ssl_plugin.h"

namespace velmora::net {

// Where an HTTP CONNECT tunnel set-up stands.
enum class TTunnelState : uint8_t {
  Idle,          // no tunnel asked for yet
  ProxyConnect,  // connecting to the proxy
  Requested,     // CONNECT request sent
  Headers,       // reading the proxy's reply header
  Open,          // the proxy answered 2xx: bytes now flow to the target
  Refused,       // the proxy answered, but not with 2xx
  Failed         // no proxy, or its reply could not be read
};

const char* TunnelStateName(TTunnelState state);

class TTCPBlockSocket : public TSocksBlockSocket {
 public:
  // The plug-in comes from SSLImplementation.
  TTCPBlockSocket();
  // The plug-in comes from `SSLPlugin`.
  explicit TTCPBlockSocket(const TSSLFactory& SSLPlugin);
  ~TTCPBlockSocket() override;
  std::string ClassName() const override { return "TTCPBlockSocket"; }
  const std::vector<host::PropInfo>& PublishedProperties() const override;

  // Called after every successful Connect.
  THookAfterConnect OnAfterConnect;

  // Shuts the TLS session down (if any), then, when no error is pending,
  // half-closes the sending side and discards what is still waiting (at
  // most about 1 MiB: a peer in mid-transfer does not hold the close), then
  // closes the handle.
  void CloseSocket() override;
  // Direct, through SOCKS (SocksIP set) or through a tunnel (HTTPTunnelIP
  // set); OnAfterConnect when LastError is 0 afterwards.
  void Connect(const std::string& IP, const std::string& Port) override;
  // Through SOCKS: a BIND request; SocksBoundIP/Port is where the peer must
  // connect.  Else the plain listen.
  void Listen() override;
  // Through SOCKS: waits for the proxy's second BIND reply and returns this
  // socket's own handle (the proxy connection is the accepted stream).
  TSocket Accept() override;
  int32_t SendBuffer(const void* Buffer, int32_t Length) override;
  // With TLS: waits on the handle while the plug-in has taken only
  // protocol records (SslWantRead), within RecvPacket's time-out (10060
  // when it runs out) or without limit when called directly.
  int32_t RecvBuffer(void* Buffer, int32_t Length) override;
  // With TLS, the receive inside never waits past Timeout.
  std::string RecvPacket(int32_t Timeout) override;
  // The plug-in's decrypted bytes first, then the socket's count.
  int32_t WaitingData() override;
  std::string GetLocalSinIP() override;
  std::string GetRemoteSinIP() override;
  int32_t GetLocalSinPort() override;
  int32_t GetRemoteSinPort() override;
  int32_t GetSocketType() override;
  int32_t GetSocketProtocol() override;
  // With 10091 and a plug-in error: the plug-in's text.
  std::string GetErrorDescEx() override;

  // The client handshake over the connected socket; 10091 on failure.
  void SSLDoConnect();
  // The server handshake; true when LastError is 0.
  bool SSLAcceptConnection();
  void SSLDoShutdown();

  TCustomSSL* SSL() const { return ssl_.get(); }
  TCustomSSL* SSLPlugin() const { return ssl_.get(); }
  const std::string& HTTPTunnelIP() const { return http_tunnel_ip_; }
  void set_HTTPTunnelIP(const std::string& v) { http_tunnel_ip_ = v; }
  const std::string& HTTPTunnelPort() const { return http_tunnel_port_; }
  void set_HTTPTunnelPort(const std::string& v) { http_tunnel_port_ = v; }
  bool HTTPTunnel() const { return tunnel_open_; }
  bool TunnelOpen() const { return tunnel_open_; }
  const std::string& TunnelPeerIP() const { return tunnel_peer_ip_; }
  const std::string& TunnelPeerPort() const { return tunnel_peer_port_; }
  const std::string& HTTPTunnelUser() const { return http_tunnel_user_; }
  void set_HTTPTunnelUser(const std::string& v) { http_tunnel_user_ = v; }
  const std::string& HTTPTunnelPass() const { return http_tunnel_pass_; }
  void set_HTTPTunnelPass(const std::string& v) { http_tunnel_pass_ = v; }
  int32_t HTTPTunnelTimeout() const { return http_tunnel_timeout_; }
  void set_HTTPTunnelTimeout(int32_t v) { http_tunnel_timeout_ = v; }
  TTunnelState TunnelState() const { return tunnel_state_; }

 protected:
  void SocksDoConnect(const std::string& IP, const std::string& Port);
  void HTTPTunnelDoConnect(const std::string& IP, const std::string& Port);
  void DoAfterConnect();
  // The one place where the tunnel state changes.
  void TunnelStep(TTunnelState next);

  std::unique_ptr<TCustomSSL> ssl_;
  std::string http_tunnel_ip_;
  std::string http_tunnel_port_;
  bool tunnel_open_ = false;
  std::string tunnel_peer_ip_;
  std::string tunnel_peer_port_;
  std::string http_tunnel_user_;
  std::string http_tunnel_pass_;
  int32_t http_tunnel_timeout_ = 30000;
  TTunnelState tunnel_state_ = TTunnelState::Idle;
  // The time limit of the TLS receive in progress (RecvPacket's), from
  // recv_start_; -1 = none.
  int32_t recv_limit_ = -1;
  uint32_t recv_start_ = 0;
};

}  // namespace velmora::net
