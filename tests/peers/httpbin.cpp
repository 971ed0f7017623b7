#include "tests/peers/httpbin.h"

namespace velmora::testing {

HttpbinServer::HttpbinServer(const TempDir& dir) {
  const int port = FreeLoopbackPort();
  const std::string pid_file = dir.file("gunicorn.pid");
  process_ = std::make_unique<PeerProcess>(
      "gunicorn",
      std::vector<std::string>{"/usr/bin/gunicorn", "-b", "127.0.0.1:" + std::to_string(port), "-k",
                               "gthread", "--threads", "4", "--pid", pid_file, "httpbin:app"},
      pid_file, dir.file("gunicorn.log"), port, "gunicorn (with python3-httpbin)");
}

std::string HttpbinServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

}  // namespace velmora::testing
