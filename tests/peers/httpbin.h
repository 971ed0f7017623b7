// httpbin (Debian's python3-httpbin) served by gunicorn on a loopback port:
// a real HTTP/1.1 server that echoes requests as JSON, for the HTTP client's
// tests.
#pragma once

#include <memory>
#include <string>

#include "tests/peers/peers.h"

namespace velmora::testing {

class HttpbinServer {
 public:
  // Starts /usr/bin/gunicorn -k gthread --threads 4 httpbin:app on a free
  // port (Debian's gunicorn runs /usr/bin/python3, which has the module).
  explicit HttpbinServer(const TempDir& dir);
  int port() const { return process_->port(); }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;
  std::string Log() const { return process_->Log(); }

 private:
  std::unique_ptr<PeerProcess> process_;
};

}  // namespace velmora::testing
