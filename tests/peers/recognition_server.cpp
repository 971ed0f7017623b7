#include "tests/peers/recognition_server.h"

#include <sys/stat.h>

#include <filesystem>

namespace velmora::testing {

namespace {

// A JSON string of the reply text (bytes as they are; UTF-8 passes).
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

RecognitionServer::RecognitionServer(const TempDir& dir, const TestPki* pki,
                                     const std::string& mode,
                                     const std::vector<std::string>& replies)
    : dir_(dir.file("recognition")), tls_(pki != nullptr) {
  std::filesystem::create_directories(dir_);
  const int port = FreeLoopbackPort();
  std::vector<std::string> argv{"/usr/bin/python3",
                                (SourceDir() / "tests/peers/recognition_server.py").string(),
                                "--port",
                                std::to_string(port),
                                "--dir",
                                dir_,
                                "--mode",
                                mode};
  if (!replies.empty()) {
    std::string list = "[";
    for (size_t i = 0; i < replies.size(); ++i) {
      if (i > 0) list += ',';
      list += JsonString(replies[i]);
    }
    WriteFile(dir_ + "/replies.json", list + "]");
    argv.insert(argv.end(), {"--replies", dir_ + "/replies.json"});
  }
  if (pki)
    argv.insert(argv.end(), {"--cert", pki->File("server.pem"), "--key", pki->File("server.key")});
  process_ = std::make_unique<PeerProcess>("recognition server", argv, dir_ + "/server.pid",
                                           dir_ + "/server.log", port, "python3");
}

std::unique_ptr<RecognitionServer> RecognitionServer::Canned(
    const TempDir& dir, const TestPki* pki, const std::vector<std::string>& replies) {
  return std::unique_ptr<RecognitionServer>(new RecognitionServer(dir, pki, "canned", replies));
}

std::unique_ptr<RecognitionServer> RecognitionServer::Sphinx(const TempDir& dir,
                                                             const TestPki* pki) {
  for (const char* program : {"pocketsphinx_continuous", "sox", "flac"})
    if (FindProgram(program).empty())
      throw std::runtime_error(std::string("the recognition server needs ") + program +
                               " (scripts/deps.sh installs it)");
  if (!std::filesystem::exists("/usr/share/pocketsphinx/model/en-us/en-us"))
    throw std::runtime_error(
        "the recognition server needs the English model of pocketsphinx (Debian package "
        "pocketsphinx-en-us)");
  return std::unique_ptr<RecognitionServer>(new RecognitionServer(dir, pki, "sphinx", {}));
}

std::string RecognitionServer::Url(const std::string& path_and_query) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) +
         path_and_query;
}

int RecognitionServer::Requests() const {
  int n = 0;
  while (std::filesystem::exists(dir_ + "/request-" + std::to_string(n + 1) + ".reply")) ++n;
  return n;
}

std::string RecognitionServer::Request(int n, const std::string& what) const {
  const std::string path = dir_ + "/request-" + std::to_string(n) + "." + what;
  return std::filesystem::exists(path) ? ReadFile(path) : "";
}

}  // namespace velmora::testing
