// TSocksBlockSocket: a block socket that can talk SOCKS 4, 4a and 5 to a
// proxy.  The steps (greeting, authentication, request, reply) are public, so
// that a datagram socket can run them on a control connection of its own;
// the TCP socket runs them for Connect and for Listen/Accept through a proxy.
//
// Every step moves the negotiation state through SocksStep, which reports the
// transition to OnProtocolStep ("SOCKS5: Greeting -> Negotiated").
#pragma once

#include <cstdint>
#include <string>

#include "velmora/net/blocksock_core.h"

namespace velmora::net {

// The protocol version; ST_Socks4 covers SOCKS 4a as well.
enum TSocksType : uint8_t { ST_Socks5, ST_Socks4 };

// Where a SOCKS negotiation stands.
enum class TSocksState : uint8_t {
  Idle,        // nothing sent yet
  Greeting,    // SOCKS 5 method offer sent, waiting for the choice
  Auth,        // user name and password sent, waiting for the verdict
  Negotiated,  // the proxy accepted the client (ViaSocks)
  Requested,   // a request (connect, bind, UDP associate) sent
  Replied,     // a reply with status 0 (or 90) read
  Failed       // the proxy refused, or its answer was malformed or missing
};

const char* SocksStateName(TSocksState state);

class TSocksBlockSocket : public TBlockSocket {
 public:
  TSocksBlockSocket();
  std::string ClassName() const override { return "TSocksBlockSocket"; }
  const std::vector<host::PropInfo>& PublishedProperties() const override;

  // Each proxy negotiation step (not a hook of the classic socket).
  THookProtocolStep OnProtocolStep;

  // SOCKS 5: sends the method offer (05 01 00, or 05 02 02 00 with a user
  // name) and runs the RFC 1929 authentication when the proxy picks it.
  // SOCKS 4 has no greeting.  True (and ViaSocks) when the proxy accepts.
  bool SocksOpen();
  // Sends one request: 1 connect, 2 bind, 3 UDP associate.  False for a
  // name, user name or password longer than 255 bytes (it cannot be coded).
  bool SocksRequest(uint8_t Command, const std::string& IP, const std::string& Port);
  // Reads one reply; true for status 0 or 90, with SocksReplyIP and
  // SocksReplyPort decoded.  SocksReplyCode is -1 when none was read.
  bool SocksResponse();
  // The address and port of a request in the form of SocksType.
  std::string SocksCode(std::string IP, const std::string& Port);
  // Decodes the address and port of a reply into SocksReplyIP/Port; returns
  // the 1-based position after them.
  int32_t SocksDecode(const std::string& Value);

  const std::string& SocksIP() const { return socks_ip_; }
  void set_SocksIP(const std::string& v) { socks_ip_ = v; }
  const std::string& SocksPort() const { return socks_port_; }
  void set_SocksPort(const std::string& v) { socks_port_ = v; }
  int32_t SocksTimeout() const { return socks_timeout_; }
  void set_SocksTimeout(int32_t v) { socks_timeout_ = v; }
  const std::string& SocksUsername() const { return socks_username_; }
  void set_SocksUsername(const std::string& v) { socks_username_ = v; }
  const std::string& SocksPassword() const { return socks_password_; }
  void set_SocksPassword(const std::string& v) { socks_password_ = v; }
  bool ViaSocks() const { return via_socks_; }
  bool SocksResolver() const { return socks_resolver_; }
  void set_SocksResolver(bool v) { socks_resolver_ = v; }
  int32_t SocksReplyCode() const { return socks_reply_code_; }
  const std::string& SocksReplyIP() const { return socks_reply_ip_; }
  const std::string& SocksReplyPort() const { return socks_reply_port_; }
  const std::string& SocksBoundIP() const { return socks_bound_ip_; }
  const std::string& SocksBoundPort() const { return socks_bound_port_; }
  const std::string& SocksPeerIP() const { return socks_peer_ip_; }
  const std::string& SocksPeerPort() const { return socks_peer_port_; }
  TSocksType SocksType() const { return socks_type_; }
  void set_SocksType(TSocksType v) { socks_type_ = v; }
  TSocksState SocksState() const { return socks_state_; }

 protected:
  // The one place where the negotiation state changes.
  void SocksStep(TSocksState next);
  // Reports "<protocol>: <from> -> <to>" to OnProtocolStep.
  void ProtocolStep(const std::string& protocol, const char* from, const char* to);

  std::string socks_ip_;
  std::string socks_port_ = "1080";
  int32_t socks_timeout_ = 60000;
  std::string socks_username_;
  std::string socks_password_;
  bool via_socks_ = false;
  bool socks_resolver_ = true;
  int32_t socks_reply_code_ = 0;
  std::string socks_reply_ip_;
  std::string socks_reply_port_;
  std::string socks_bound_ip_;
  std::string socks_bound_port_;
  std::string socks_peer_ip_;
  std::string socks_peer_port_;
  TSocksType socks_type_ = ST_Socks5;
  TSocksState socks_state_ = TSocksState::Idle;
};

}  // namespace velmora::net
