// `openssl s_server` on a loopback port, for the TLS tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/peers/peers.h"

namespace velmora::testing {

// openssl s_server on 127.0.0.1 at a port chosen at run time, with its log
// in `dir`.  `options` follow -accept (certificate, key, -rev, -tls1_2, ...).
class OpensslServer {
 public:
  OpensslServer(const TempDir& dir, const std::vector<std::string>& options);
  int port() const { return process_->port(); }
  std::string Log() const { return process_->Log(); }

 private:
  std::unique_ptr<PeerProcess> process_;
};

// What `openssl args...` prints on standard output; throws with its error
// output when it fails.
std::string OpensslOutput(const std::vector<std::string>& args);

}  // namespace velmora::testing
