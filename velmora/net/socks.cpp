// SOCKS 4, 4a and 5 negotiation steps (RFC 1928, RFC 1929, and the SOCKS 4
// and 4a protocol notes): greeting, authentication, request and reply, with
// the address coding of both versions.
#include "velmora/net/socks.h"

#include <cstdio>

#include "velmora/net/netip.h"

namespace velmora::net {

namespace {

constexpr const char* kStateNames[] = {"Idle",      "Greeting", "Auth",  "Negotiated",
                                       "Requested", "Replied",  "Failed"};

uint8_t Byte(const std::string& s, size_t pos1) {
  return static_cast<uint8_t>(s[pos1 - 1]);  // 1-based, as the reply layouts count
}

std::string Port16(uint16_t port) {
  return std::string{static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

std::string DottedQuad(const std::string& s, size_t pos1) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", Byte(s, pos1), Byte(s, pos1 + 1),
                Byte(s, pos1 + 2), Byte(s, pos1 + 3));
  return text;
}

}  // namespace

const char* SocksStateName(TSocksState state) {
  auto i = static_cast<size_t>(state);
  return i < std::size(kStateNames) ? kStateNames[i] : "Unknown";
}

TSocksBlockSocket::TSocksBlockSocket() = default;

void TSocksBlockSocket::ProtocolStep(const std::string& protocol, const char* from,
                                     const char* to) {
  if (OnProtocolStep) OnProtocolStep(this, protocol + ": " + from + " -> " + to);
}

void TSocksBlockSocket::SocksStep(TSocksState next) {
  if (next == socks_state_) return;
  TSocksState from = socks_state_;
  socks_state_ = next;
  ProtocolStep(socks_type_ == ST_Socks4 ? "SOCKS4" : "SOCKS5", SocksStateName(from),
               SocksStateName(next));
}

bool TSocksBlockSocket::SocksOpen() {
  via_socks_ = false;
  SocksStep(TSocksState::Idle);
  if (socks_type_ == ST_Socks4) {
    via_socks_ = true;
    SocksStep(TSocksState::Negotiated);
    return true;
  }
  // A length that does not fit its one-byte field cannot be sent.
  if (socks_username_.size() > 255 || socks_password_.size() > 255) {
    SocksStep(TSocksState::Failed);
    return false;
  }
  SendString(socks_username_.empty() ? std::string("\x05\x01\x00", 3)
                                     : std::string("\x05\x02\x02\x00", 4));
  if (last_error_ != 0) {
    SocksStep(TSocksState::Failed);
    return false;
  }
  SocksStep(TSocksState::Greeting);
  std::string reply = RecvBufferStr(2, socks_timeout_);
  bool ok = false;
  if (reply.size() >= 2 && Byte(reply, 1) == 0x05) {
    if (Byte(reply, 2) == 0x00) {
      ok = true;
    } else if (Byte(reply, 2) == 0x02) {
      std::string auth;
      auth += '\x01';
      auth += static_cast<char>(socks_username_.size());
      auth += socks_username_;
      auth += static_cast<char>(socks_password_.size());
      auth += socks_password_;
      SendString(auth);
      SocksStep(TSocksState::Auth);
      reply = RecvBufferStr(2, socks_timeout_);
      ok = reply.size() >= 2 && Byte(reply, 2) == 0x00;
    }
  }
  via_socks_ = ok;
  SocksStep(ok ? TSocksState::Negotiated : TSocksState::Failed);
  return ok;
}

bool TSocksBlockSocket::SocksRequest(uint8_t Command, const std::string& IP,
                                     const std::string& Port) {
  std::string code = SocksCode(IP, Port);
  if (code.empty()) {
    SocksStep(TSocksState::Failed);
    return false;
  }
  std::string request;
  request.reserve(code.size() + 3);
  request += socks_type_ == ST_Socks4 ? '\x04' : '\x05';
  request += static_cast<char>(Command);
  if (socks_type_ == ST_Socks5) request += '\x00';
  request += code;
  SendString(request);
  bool ok = last_error_ == 0;
  SocksStep(ok ? TSocksState::Requested : TSocksState::Failed);
  return ok;
}

// Empty when the request cannot be coded (a name or user id that does not fit
// its field).
std::string TSocksBlockSocket::SocksCode(std::string IP, const std::string& Port) {
  if (!socks_resolver_) IP = ResolveName(IP);
  const uint16_t port = ResolvePort(Port);
  std::string result;
  if (socks_type_ == ST_Socks4) {
    result = Port16(port);
    if (IsIP(IP)) {
      result += IPToID(IP);
      result += socks_username_;
      result += '\0';
    } else {
      // SOCKS 4a: the address 0.0.0.1 asks the proxy to resolve the name.
      result += IPToID("0.0.0.1");
      result += socks_username_;
      result += '\0';
      result += IP;
      result += '\0';
    }
    return result;
  }
  if (IsIP(IP)) {
    result = '\x01';
    result += IPToID(IP);
  } else if (IsIP6(IP)) {
    TIp6Bytes b = StrToIp6(IP);
    result = '\x04';
    result.append(reinterpret_cast<const char*>(b.data()), b.size());
  } else {
    if (IP.size() > 255) return std::string();
    result = '\x03';
    result += static_cast<char>(IP.size());
    result += IP;
  }
  result += Port16(port);
  return result;
}

bool TSocksBlockSocket::SocksResponse() {
  socks_reply_ip_.clear();
  socks_reply_port_.clear();
  socks_reply_code_ = -1;
  std::string buf;
  bool ok = false;
  if (socks_type_ == ST_Socks4) {
    buf = RecvBufferStr(8, socks_timeout_);
    ok = last_error_ == 0 && buf.size() == 8 && Byte(buf, 1) == 0x00;
  } else {
    buf = RecvBufferStr(4, socks_timeout_);
    ok = last_error_ == 0 && buf.size() == 4 && Byte(buf, 1) == 0x05;
    if (ok) {
      switch (Byte(buf, 4)) {
        case 0x01:
          buf += RecvBufferStr(4, socks_timeout_);
          break;
        case 0x03: {
          std::string n = RecvBufferStr(1, socks_timeout_);
          buf += n;
          if (last_error_ == 0 && n.size() == 1)
            buf += RecvBufferStr(static_cast<uint8_t>(n[0]), socks_timeout_);
          break;
        }
        case 0x04:
          buf += RecvBufferStr(16, socks_timeout_);
          break;
        default:
          ok = false;
      }
      if (ok && last_error_ == 0) buf += RecvBufferStr(2, socks_timeout_);
      ok = ok && last_error_ == 0;
    }
  }
  if (ok) {
    socks_reply_code_ = Byte(buf, 2);
    ok = socks_reply_code_ == 0 || socks_reply_code_ == 90;
    if (ok) SocksDecode(buf);
  }
  SocksStep(ok ? TSocksState::Replied : TSocksState::Failed);
  return ok;
}

int32_t TSocksBlockSocket::SocksDecode(const std::string& Value) {
  socks_reply_port_.assign(1, '0');  // (not = "0": GCC 12 -O3 warns falsely)
  const size_t n = Value.size();
  if (socks_type_ == ST_Socks4) {
    if (n < 8) return 0;
    socks_reply_port_ = std::to_string(Byte(Value, 3) * 256 + Byte(Value, 4));
    socks_reply_ip_ = DottedQuad(Value, 5);
    return 9;
  }
  if (n < 4) return 0;
  size_t x;
  switch (Byte(Value, 4)) {
    case 0x01:
      if (n < 10) return 5;
      socks_reply_ip_ = DottedQuad(Value, 5);
      x = 9;
      break;
    case 0x03: {
      if (n < 5) return 5;
      size_t len = Byte(Value, 5);
      if (n < len + 7) return 5;
      socks_reply_ip_ = Value.substr(5, len);
      x = len + 6;
      break;
    }
    case 0x04: {
      if (n < 22) return 5;
      TIp6Bytes b{};
      for (size_t i = 0; i < 16; ++i) b[i] = Byte(Value, 5 + i);
      socks_reply_ip_ = Ip6ToStr(b);
      x = 21;
      break;
    }
    default:
      return 5;
  }
  socks_reply_port_ = std::to_string(Byte(Value, x) * 256 + Byte(Value, x + 1));
  return static_cast<int32_t>(x + 2);
}

}  // namespace velmora::net
