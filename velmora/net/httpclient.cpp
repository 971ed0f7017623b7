// THTTPSend: the object, the request (URL, proxy choice, header block,
// sending with or without "Expect: 100-continue") and the connection.
#include "velmora/net/httpclient.h"

#include <algorithm>

#include "velmora/host/format.h"
#include "velmora/host/text.h"
#include "velmora/net/httpclient_socket.h"
#include "velmora/net/netcode_base64.h"
#include "velmora/net/netcode_triplet.h"
#include "velmora/net/netip.h"
#include "velmora/net/netutil_headers.h"
#include "velmora/net/netutil_text.h"

namespace velmora::net {

namespace {

// A body below this size goes out in one send with the header block.
constexpr int64_t kJoinedSendLimit = 65536;  // bytes
// SendBuffer counts in 32 bits; a larger body goes out in pieces of this.
constexpr int64_t kSendSlice = 1 << 30;  // bytes

}  // namespace

struct THTTPSend::Request {
  std::string prot, user, pass, host, port, path, para, uri;
  bool https = false;
  bool via_proxy = false;
};

THTTPSend::THTTPSend() : sock_(std::make_unique<THTTPSocket>()) {
  timeout_ = 90000;
  target_port_ = "80";
  sock_->set_Owner(this);
  sock_->set_ConvertLineEnd(true);
  // Queued as options of a socket without a handle: every connection
  // begins with a close that discards them, so connections run with the
  // system's buffer sizes (which grow with the traffic on Linux).
  sock_->SetSizeRecvBuffer(c64k);
  sock_->SetSizeSendBuffer(c64k);
}

THTTPSend::~THTTPSend() = default;

TTCPBlockSocket& THTTPSend::Sock() {
  return *sock_;
}

void THTTPSend::Clear() {
  range_start_ = 0;
  range_end_ = 0;
  document_.Clear();
  headers_.Clear();
  mime_type_ = "text/html";
}

void THTTPSend::Abort() {
  sock_->set_StopFlag(true);
}

void THTTPSend::DecodeStatus(const std::string& Value) {
  const std::string s = host::Trim(SeparateRight(Value, " "));
  const std::string code = host::Trim(SeparateLeft(s, " "));
  result_code_ = host::StrToIntDef(code, 0);
  result_string_ =
      s.find(' ') == std::string::npos ? std::string() : host::Trim(SeparateRight(s, " "));
}

std::string THTTPSend::PrepareHeaders() {
  if (protocol_ == "0.9") return headers_.Count() > 0 ? headers_[0] + CRLF : std::string(CRLF);
  size_t total = 0;
  for (const std::string& line : headers_) total += line.size() + 2;
  std::string block;
  block.reserve(total);
  for (const std::string& line : headers_) block.append(line).append(CRLF);
  return block;
}

THTTPSend::Request THTTPSend::ParseRequest(const std::string& URL) {
  Request r;
  r.uri = ParseURL(URL, r.prot, r.user, r.pass, r.host, r.port, r.path, r.para);
  r.user = DecodeURL(r.user);
  r.pass = DecodeURL(r.pass);
  if (r.user.empty()) {
    r.user = user_name_;
    r.pass = password_;
  }
  r.https = host::UpperCase(r.prot) == "HTTPS";
  if (r.https) {
    sock_->set_HTTPTunnelIP(proxy_host_);
    sock_->set_HTTPTunnelPort(proxy_port_);
    sock_->set_HTTPTunnelUser(proxy_user_);
    sock_->set_HTTPTunnelPass(proxy_pass_);
  } else {
    sock_->set_HTTPTunnelIP("");
    sock_->set_HTTPTunnelPort("");
    sock_->set_HTTPTunnelUser("");
    sock_->set_HTTPTunnelPass("");
  }
  r.via_proxy = !proxy_host_.empty() && !r.https;
  return r;
}

// Each header goes in at the top, so the block reads, top to bottom: the
// request line, Host, Proxy-Authorization, Authorization, Keep-Alive,
// Connection, Cookie, Range, User-Agent, Content-Type, Content-Length,
// Expect, then the caller's own headers.
void THTTPSend::BuildHeaders(const std::string& Method, const Request& r) {
  const bool sending = document_.Size() > 0;
  const bool expect = status100_ && sending && protocol_ == "1.1";
  auto top = [this](const std::string& line) { headers_.Insert(0, line); };
  if (expect) top("Expect: 100-continue");
  if (sending) {
    top("Content-Length: " + std::to_string(document_.Size()));
    if (!mime_type_.empty()) top("Content-Type: " + mime_type_);
  }
  if (!user_agent_.empty()) top("User-Agent: " + user_agent_);
  if (range_start_ > 0 || range_end_ > 0) {
    std::string range = "Range: bytes=" + std::to_string(range_start_) + "-";
    if (range_end_ >= range_start_) range += std::to_string(range_end_);
    top(range);
  }
  if (cookies_.Count() > 0) {
    std::string cookie = "Cookie: ";
    for (int i = 0; i < cookies_.Count(); ++i) cookie += (i ? "; " : "") + cookies_[i];
    top(cookie);
  }
  const std::string prefix = r.via_proxy ? "Proxy-" : "";
  if (keep_alive_) {
    top(prefix + "Connection: keep-alive");
    top("Keep-Alive: " + std::to_string(keep_alive_timeout_));
  } else {
    top(prefix + "Connection: close");
  }
  if (!r.user.empty()) top("Authorization: Basic " + EncodeBase64(r.user + ":" + r.pass));
  if (r.via_proxy && !proxy_user_.empty())
    top("Proxy-Authorization: Basic " + EncodeBase64(proxy_user_ + ":" + proxy_pass_));
  const std::string host = IsIP6(r.host) ? "[" + r.host + "]" : r.host;
  top("Host: " + host + (add_port_number_to_host_ && r.port != "80" ? ":" + r.port : ""));
  std::string target = r.uri;
  if (r.via_proxy)
    target = r.prot + "://" + host + ":" + r.port + target;
  else if (target == "/*")
    target = "*";
  const std::string method = host::UpperCase(Method);
  top(protocol_ == "0.9" ? method + " " + target : method + " " + target + " HTTP/" + protocol_);
  if (!headers_[headers_.Count() - 1].empty()) headers_.Add("");
}

bool THTTPSend::HTTPMethod(const std::string& Method, const std::string& URL) {
  result_code_ = 500;
  result_string_.clear();
  download_size_ = 0;
  upload_size_ = 0;
  const Request r = ParseRequest(URL);
  const bool expect = status100_ && document_.Size() > 0 && protocol_ == "1.1";
  BuildHeaders(Method, r);
  target_host_ = r.via_proxy ? proxy_host_ : r.host;
  target_port_ = r.via_proxy ? proxy_port_ : r.port;
  if (!InternalConnect(r.https)) {
    open_host_.clear();
    open_port_.clear();
    return false;
  }
  std::string kept_status;
  if (!SendRequest(expect, kept_status)) {
    // What the server made of a request that did not go out whole is
    // unknown: the connection is not offered for reuse.
    open_host_.clear();
    open_port_.clear();
    return false;
  }
  return ReceiveResponse(Method, std::move(kept_status), r.via_proxy);
}

void THTTPSend::SendDocument() {
  const char* p = static_cast<const char*>(document_.Memory());
  int64_t left = document_.Size();
  while (left > 0) {
    const int32_t n = static_cast<int32_t>(std::min(left, kSendSlice));
    sock_->SendBuffer(p, n);
    if (sock_->LastError() != 0) return;
    p += n;
    left -= n;
  }
}

bool THTTPSend::SendRequest(bool expect, std::string& kept_status) {
  document_.set_Position(0);
  const std::string block = PrepareHeaders();
  const int64_t body = document_.Size();
  if (expect) {
    sock_->SendString(block);
    if (sock_->LastError() != 0) return false;
    int64_t budget = kMaxHeaderBlock;
    std::string line;
    do {
      line = sock_->RecvLineWithin(timeout_, budget, "HTTP header block", kMaxHeaderBlock);
    } while (line.empty() && sock_->LastError() == 0);
    if (sock_->LastError() != 0) return false;
    DecodeStatus(line);
    // The header lines of the answer are kept: when it is final (not 1xx)
    // they are the response's headers, read once.
    interim_headers_.clear();
    for (;;) {
      std::string h = sock_->RecvLineWithin(timeout_, budget, "HTTP header block", kMaxHeaderBlock);
      if (sock_->LastError() != 0) return false;
      if (h.empty()) break;
      interim_headers_.push_back(std::move(h));
    }
    if (result_code_ >= 100 && result_code_ <= 199) {
      interim_headers_.clear();
      upload_size_ = body;
      SendDocument();
    } else {
      kept_status = line;
    }
  } else if (body > 0 && body < kJoinedSendLimit) {
    std::string joined;
    joined.reserve(block.size() + static_cast<size_t>(body));
    joined.append(block).append(document_.View());
    upload_size_ = static_cast<int64_t>(joined.size());
    sock_->SendString(joined);
  } else if (body > 0) {
    sock_->SendString(block);
    if (sock_->LastError() != 0) return false;
    upload_size_ = body;
    SendDocument();
  } else {
    sock_->SendString(block);
  }
  return sock_->LastError() == 0;
}

bool THTTPSend::InternalDoConnect(bool UseTLS) {
  sock_->CloseSocket();
  sock_->Bind(ip_interface_, cAnyPort);
  if (sock_->LastError() != 0) return false;
  sock_->Connect(target_host_, target_port_);
  if (sock_->LastError() != 0) return false;
  if (UseTLS) {
    TCustomSSL* ssl = sock_->SSLPlugin();
    if (ssl->SNIHost().empty()) ssl->set_SNIHost(target_host_);
    sock_->SSLDoConnect();
    // A name the application set is used for one handshake only.
    ssl->set_SNIHost("");
    if (sock_->LastError() != 0) return false;
  }
  open_host_ = target_host_;
  open_port_ = target_port_;
  return true;
}

bool THTTPSend::InternalConnect(bool UseTLS) {
  // A connection is reused only when nothing is left on it: a byte already
  // buffered, or one the server sent since, belongs to no request of ours.
  if (sock_->Socket() != INVALID_SOCKET && open_host_ == target_host_ &&
      open_port_ == target_port_ && sock_->Clean()) {
    return true;
  }
  return InternalDoConnect(UseTLS);
}

}  // namespace velmora::net
