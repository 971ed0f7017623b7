// PageServer: accepting, reading one request per connection, answering, and
// the per-client event queues.
#include "velmora/net/pageserver.h"

#include <deque>

#include "velmora/host/text.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {

namespace {

constexpr int32_t kAcceptPollMs = 200;  // how often the acceptor looks at the stop flag
constexpr const char* kPlain = "text/plain; charset=utf-8";

int32_t MsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int32_t>(left.count()) : 0;
}

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '!' || c == '#' || c == '$' || c == '%' || c == '&' ||
         c == '\'' || c == '*' || c == '+' || c == '^' || c == '`' || c == '|' || c == '~';
}

// The request as far as this server needs it.
struct Request {
  std::string method;
  std::string path;  // the target without its query
  bool has_length = false;
  uint64_t content_length = 0;
  bool chunked = false;
};

// Parses the head (request line and header lines, without the blank line).
// False for anything that is not a well-formed HTTP/1.x request.
bool ParseHead(const std::string& head, Request& req) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from <= head.size()) {
    size_t end = head.find('\n', from);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    from = end + 1;
  }
  const std::string& first = lines[0];
  const size_t sp1 = first.find(' ');
  const size_t sp2 = sp1 == std::string::npos ? sp1 : first.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || first.find(' ', sp2 + 1) != std::string::npos) return false;
  req.method = first.substr(0, sp1);
  const std::string target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string version = first.substr(sp2 + 1);
  if (req.method.empty()) return false;
  for (char c : req.method)
    if (!IsTokenChar(c)) return false;
  if (target.empty() || target[0] != '/') return false;
  for (unsigned char c : target)
    if (c <= ' ' || c >= 0x7f) return false;
  if (version.size() != 8 || version.compare(0, 5, "HTTP/") != 0 || version[5] != '1' ||
      version[6] != '.' || version[7] < '0' || version[7] > '9')
    return false;
  req.path = target.substr(0, target.find('?'));
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos) return false;
    const std::string name = host::LowerCase(line.substr(0, colon));
    for (char c : name)
      if (!IsTokenChar(c)) return false;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (name == "content-length") {
      if (value.empty() || value.size() > 15 || req.has_length) return false;
      for (char c : value)
        if (c < '0' || c > '9') return false;
      req.has_length = true;
      req.content_length = std::stoull(value);
    } else if (name == "transfer-encoding") {
      req.chunked = true;
    }
  }
  return true;
}

}  // namespace

std::string_view StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

struct PageServer::Client {
  TSocket fd = INVALID_SOCKET;
  std::mutex m;  // guards the fields below
  std::condition_variable cv;
  std::deque<std::shared_ptr<const std::string>> queue;
  bool streaming = false;
  bool dropped = false;
  // Set under clients_mutex_ before the socket is closed: after it nobody
  // may touch fd.
  bool closed = false;
  std::atomic<bool> done{false};
  std::thread thread;
};

PageServer::PageServer(PageServerOptions options) : options_(std::move(options)) {}

PageServer::~PageServer() {
  Stop();
}

void PageServer::AddPage(const std::string& path, const std::string& content_type,
                         std::string body) {
  pages_[path] = Page{content_type, std::move(body)};
}

void PageServer::AddPost(const std::string& path, PostHandler handler) {
  posts_[path] = std::move(handler);
}

std::string PageServer::Start() {
  listener_ = std::make_unique<TTCPBlockSocket>();
  listener_->Bind(options_.bind_ip, options_.port);
  if (listener_->LastError() == 0) listener_->Listen();
  if (listener_->LastError() != 0) {
    std::string why = listener_->LastErrorText();
    listener_.reset();
    return "cannot listen on " + options_.bind_ip + " port " + options_.port + ": " + why;
  }
  port_ = listener_->GetLocalSinPort();
  stopping_ = false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return "";
}

void PageServer::Stop() {
  if (!acceptor_.joinable()) return;
  stopping_ = true;
  acceptor_.join();
  listener_->CloseSocket();
  std::list<std::shared_ptr<Client>> all;
  {
    std::lock_guard lock(clients_mutex_);
    for (auto& c : connections_) {
      std::lock_guard cl(c->m);
      if (!c->closed) net::Shutdown(c->fd, SHUT_RDWR);
      c->cv.notify_all();
    }
    all = connections_;
  }
  for (auto& c : all)
    if (c->thread.joinable()) c->thread.join();
  std::lock_guard lock(clients_mutex_);
  connections_.clear();
}

void PageServer::AcceptLoop() {
  while (!stopping_) {
    ReapFinished();
    if (!listener_->CanRead(kAcceptPollMs)) continue;
    TSocket fd = listener_->Accept();
    if (listener_->LastError() != 0 || fd == INVALID_SOCKET) continue;
    ++accepted_;
    auto client = std::make_shared<Client>();
    client->fd = fd;
    std::lock_guard lock(clients_mutex_);
    connections_.push_back(client);
    client->thread = std::thread([this, client] { Serve(client); });
  }
}

void PageServer::ReapFinished() {
  std::vector<std::shared_ptr<Client>> gone;
  {
    std::lock_guard lock(clients_mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        gone.push_back(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : gone) c->thread.join();
}

void PageServer::Answer(TTCPBlockSocket& sock, int status, const std::string& content_type,
                        const std::string& body, bool head_only) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(StatusText(status)) +
                    "\r\nConnection: close\r\nCache-Control: no-store\r\n";
  if (!content_type.empty()) out += "Content-Type: " + content_type + "\r\n";
  if (status != 204) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "\r\n";
  if (!head_only) out += body;
  sock.SendString(out);
}

void PageServer::Refuse(TTCPBlockSocket& sock, int status) {
  ++bad_;
  Answer(sock, status, kPlain, std::string(StatusText(status)) + "\n");
}

void PageServer::Serve(std::shared_ptr<Client> client) {
  TTCPBlockSocket sock;
  sock.set_Socket(client->fd);
  sock.SetSendTimeout(options_.request_timeout_ms);
  // A fixed send buffer bounds what a stalled client holds in the system, so
  // its queue fills (and it is dropped) within the queue's span of events.
  sock.SetSizeSendBuffer(static_cast<int32_t>(options_.send_buffer));
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.request_timeout_ms);

  // The head: up to the blank line, within the limits and the time-out.
  std::string data;
  size_t head_end = std::string::npos;
  size_t sep = 0;
  int refuse = 0;
  while (refuse == 0) {
    const size_t crlf = data.find("\r\n\r\n");
    const size_t lf = data.find("\n\n");
    if (crlf != std::string::npos || lf != std::string::npos) {
      head_end = std::min(crlf, lf);
      sep = head_end == crlf ? 4 : 2;
    }
    const size_t line_end = data.find('\n');
    const size_t line_len = line_end == std::string::npos ? data.size() : line_end;
    if (line_len > options_.max_request_line) {
      refuse = 414;
    } else if (head_end != std::string::npos) {
      if (head_end > options_.max_head) refuse = 431;
      break;
    } else if (data.size() > options_.max_head) {
      refuse = 431;
    } else {
      const int32_t left = MsLeft(deadline);
      std::string got = left > 0 ? sock.RecvPacket(left) : std::string();
      if (left == 0 || sock.LastError() == WSAETIMEDOUT) {
        refuse = data.empty() ? -1 : 408;  // an idle connection is simply closed
      } else if (sock.LastError() != 0) {
        refuse = -1;
      }
      data += got;
    }
  }

  Request req;
  if (refuse == 0 && !ParseHead(data.substr(0, head_end), req)) refuse = 400;
  if (refuse > 0) Refuse(sock, refuse);

  if (refuse == 0) {
    std::string rest = data.substr(head_end + sep);
    const bool is_get = req.method == "GET" || req.method == "HEAD";
    if (auto page = pages_.find(req.path); page != pages_.end()) {
      if (is_get)
        Answer(sock, 200, page->second.content_type, page->second.body, req.method == "HEAD");
      else
        Refuse(sock, 405);
    } else if (!event_path_.empty() && req.path == event_path_) {
      if (req.method == "GET")
        StreamEvents(client, sock);
      else
        Refuse(sock, 405);
    } else if (auto post = posts_.find(req.path); post != posts_.end()) {
      if (req.method != "POST") {
        Refuse(sock, 405);
      } else if (req.chunked || !req.has_length) {
        Refuse(sock, 411);
      } else if (req.content_length > options_.max_body) {
        Refuse(sock, 413);
      } else {
        while (rest.size() < req.content_length) {
          const int32_t left = MsLeft(deadline);
          std::string got = left > 0 ? sock.RecvPacket(left) : std::string();
          if (left == 0 || sock.LastError() != 0) break;
          rest += got;
        }
        if (rest.size() < req.content_length) {
          Refuse(sock, 408);
        } else {
          rest.resize(req.content_length);
          const PageReply reply = post->second(rest);
          Answer(sock, reply.status, reply.text.empty() ? "" : kPlain, reply.text);
        }
      }
    } else {
      Refuse(sock, 404);
    }
  }

  bool dropped;
  {
    std::lock_guard lock(clients_mutex_);
    std::lock_guard cl(client->m);
    client->closed = true;
    client->streaming = false;
    dropped = client->dropped;
  }
  // A dropped client's unsent events are thrown away at once (a reset)
  // rather than left in the system's buffers for a reader that is not there.
  if (dropped) sock.SetLinger(true, 0);
  sock.CloseSocket();
  client->done = true;
}

void PageServer::StreamEvents(const std::shared_ptr<Client>& client, TTCPBlockSocket& sock) {
  sock.SendString(
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
      "Connection: keep-alive\r\n\r\nretry: 1000\n\n");
  if (sock.LastError() != 0) return;
  {
    std::lock_guard lock(clients_mutex_);
    std::lock_guard cl(client->m);
    client->streaming = true;
  }
  ++streams_;
  const auto keepalive = std::chrono::milliseconds(options_.keepalive_ms);
  std::string out;
  for (;;) {
    std::deque<std::shared_ptr<const std::string>> batch;
    {
      std::unique_lock lk(client->m);
      client->cv.wait_for(lk, keepalive,
                          [&] { return !client->queue.empty() || client->dropped || stopping_; });
      if (client->dropped || stopping_) break;
      batch.swap(client->queue);
    }
    out.clear();
    for (const auto& frame : batch) out += *frame;
    if (out.empty()) out = ": keep-alive\n\n";
    sock.SendString(out);
    // A client that closed its side shows as a failed send or, while the
    // sends still succeed, as the end of its stream.
    bool gone = sock.LastError() != 0;
    if (!gone && sock.CanRead(0)) {
      if (sock.WaitingData() == 0)
        gone = true;
      else
        sock.RecvPacket(0);  // browsers send nothing more; whatever comes is ignored
    }
    if (gone) {
      std::lock_guard lock(clients_mutex_);
      std::lock_guard cl(client->m);
      client->streaming = false;
      ++disconnected_;
      break;
    }
  }
}

void PageServer::Publish(std::string_view name, std::string_view data) {
  std::string text;
  text.reserve(name.size() + data.size() + 16);
  text.append("event: ").append(name).append("\ndata: ").append(data).append("\n\n");
  auto frame = std::make_shared<const std::string>(std::move(text));
  std::lock_guard lock(clients_mutex_);
  for (auto& c : connections_) {
    std::unique_lock cl(c->m);
    if (!c->streaming || c->dropped) continue;
    if (c->queue.size() >= options_.queue_limit) {
      // Too slow to follow: drop it rather than hold events (or the
      // publisher) for it.  Shutting the socket down ends a send in progress.
      c->dropped = true;
      c->queue.clear();
      if (!c->closed) net::Shutdown(c->fd, SHUT_RDWR);
      ++dropped_;
      cl.unlock();
      c->cv.notify_one();
    } else {
      // A writer waits only on an empty queue: waking it once per batch
      // spares the publisher a system call per client and event.
      const bool wake = c->queue.empty();
      c->queue.push_back(frame);
      cl.unlock();
      if (wake) c->cv.notify_one();
    }
  }
}

PageServerStats PageServer::Stats() const {
  PageServerStats s;
  s.accepted = accepted_;
  s.streams = streams_;
  s.dropped = dropped_;
  s.disconnected = disconnected_;
  s.bad_requests = bad_;
  std::lock_guard lock(clients_mutex_);
  for (const auto& c : connections_) {
    std::lock_guard cl(c->m);
    if (c->streaming && !c->dropped) ++s.clients;
  }
  return s;
}

}  // namespace velmora::net
