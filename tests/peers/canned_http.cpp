#include "tests/peers/canned_http.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

namespace velmora::testing {

namespace {

constexpr auto kWait = std::chrono::seconds(5);

// Reads until `buffer` holds "\r\n\r\n"; false when the client closes first.
bool ReadHead(int fd, std::string& buffer, const std::atomic<bool>& stop) {
  while (buffer.find("\r\n\r\n") == std::string::npos) {
    if (stop.load()) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char chunk[4096];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

// The Content-Length of a request head (0 when there is none).
size_t ContentLength(const std::string& head) {
  for (const std::string& line : SplitLines(head)) {
    if (line.size() > 16 && (line.compare(0, 16, "Content-Length: ") == 0))
      return std::strtoull(line.c_str() + 16, nullptr, 10);
  }
  return 0;
}

}  // namespace

CannedHttpServer::CannedHttpServer(std::vector<CannedReply> replies)
    : replies_(std::move(replies)) {
  server_ = std::make_unique<TcpServer>(
      [this](int fd, const std::atomic<bool>& stop) { Serve(fd, stop); });
}

std::string CannedHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<std::string> CannedHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void CannedHttpServer::Serve(int fd, const std::atomic<bool>& stop) {
  std::string buffer;
  for (;;) {
    if (!ReadHead(fd, buffer, stop)) return;
    const size_t end = buffer.find("\r\n\r\n") + 4;
    std::string request = buffer.substr(0, end);
    buffer.erase(0, end);
    CannedReply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (next_ >= replies_.size()) return;
      reply = replies_[next_++];
    }
    if (!reply.interim.empty() && !SendAll(fd, reply.interim)) return;
    if (!reply.skip_body) {
      const size_t length = ContentLength(request);
      if (buffer.size() < length) buffer += RecvExactly(fd, length - buffer.size(), kWait);
      request += buffer.substr(0, length);
      buffer.erase(0, length < buffer.size() ? length : buffer.size());
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    if (!SendAll(fd, reply.bytes)) return;
    if (reply.then) reply.then(fd, stop);
    if (reply.close) {
      ::shutdown(fd, SHUT_WR);
      return;
    }
  }
}

}  // namespace velmora::testing
