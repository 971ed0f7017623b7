#include "tests/peers/openssl_server.h"

#include <stdexcept>

namespace velmora::testing {

OpensslServer::OpensslServer(const TempDir& dir, const std::vector<std::string>& options) {
  const int port = FreeLoopbackPort();
  std::vector<std::string> argv{"openssl", "s_server", "-accept",
                                "127.0.0.1:" + std::to_string(port)};
  argv.insert(argv.end(), options.begin(), options.end());
  const std::string log = (dir.path() / ("s_server-" + std::to_string(port) + ".log")).string();
  process_ = std::make_unique<PeerProcess>("openssl s_server", argv, "", log, port, "openssl");
}

std::string OpensslOutput(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = Run(argv);
  if (r.exit_code != 0)
    throw std::runtime_error("openssl failed (Debian package openssl): " + r.err);
  return r.out;
}

}  // namespace velmora::testing
