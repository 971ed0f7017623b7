// A scripted HTTP server of the tests' own: it reads each request (header
// block, then the body its Content-Length announces), records its exact
// bytes, and answers with the next canned reply, for the cases real servers
// do not produce.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/peers/peers.h"

namespace velmora::testing {

struct CannedReply {
  CannedReply() = default;
  CannedReply(std::string reply, bool close_after = true)  // NOLINT: implicit on purpose
      : bytes(std::move(reply)), close(close_after) {}
  std::string bytes;  // sent after the request was read
  bool close = true;  // close the connection after this reply
  // Sent after the header block and before the body is read (the answer to
  // "Expect: 100-continue"); with `skip_body` the body is not read at all.
  std::string interim;
  bool skip_body = false;
  // Runs after `bytes` (a slow or endless body); returns when done.
  std::function<void(int fd, const std::atomic<bool>& stop)> then;
};

class CannedHttpServer {
 public:
  // Replies are used in order over all connections; after the last one the
  // connection is closed.
  explicit CannedHttpServer(std::vector<CannedReply> replies);
  int port() const { return server_->port(); }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;
  // Every request received so far, header block and body, byte for byte.
  std::vector<std::string> Requests() const;
  int Connections() const { return server_->Accepted(); }

 private:
  void Serve(int fd, const std::atomic<bool>& stop);

  std::vector<CannedReply> replies_;
  mutable std::mutex mutex_;
  size_t next_ = 0;
  std::vector<std::string> requests_;
  std::unique_ptr<TcpServer> server_;
};

}  // namespace velmora::testing
