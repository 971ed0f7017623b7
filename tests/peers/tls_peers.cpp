#include "tests/peers/tls_peers.h"

#include <sys/stat.h>

#include <sstream>
#include <stdexcept>
#include <vector>

namespace velmora::testing {
namespace {

void Openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = Run(argv);
  if (r.exit_code != 0) {
    std::string words;
    for (const auto& a : args) words += " " + a;
    throw std::runtime_error("openssl" + words + " failed (Debian package openssl): " + r.err);
  }
}

// A key and a certificate for `cn` with `san`, signed by the test CA.
void SignedCertificate(const std::string& dir, const std::string& name, const std::string& cn,
                       const std::string& san) {
  const std::string base = dir + "/" + name;
  Openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out",
           base + ".csr", "-subj", "/C=CZ/O=Velmora tests/CN=" + cn});
  WriteFile(base + ".ext", "subjectAltName=" + san +
                               "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,"
                               "keyEncipherment\nextendedKeyUsage=serverAuth,clientAuth\n");
  Openssl({"x509", "-req", "-in", base + ".csr", "-CA", dir + "/ca.pem", "-CAkey", dir + "/ca.key",
           "-CAcreateserial", "-days", "30", "-sha256", "-extfile", base + ".ext", "-out",
           base + ".pem"});
}

}  // namespace

TestPki::TestPki(const TempDir& dir) : dir_(dir.path().string()) {
  Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir_ + "/ca.key", "-out",
           dir_ + "/ca.pem", "-days", "30", "-sha256", "-subj", "/C=CZ/O=Velmora tests/CN=Test CA",
           "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign"});
  SignedCertificate(dir_, "server", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1");
  SignedCertificate(dir_, "other", "other.test", "DNS:other.test");
  SignedCertificate(dir_, "client", "velmora-client", "DNS:velmora-client");
  const std::string pass = "pass:" + Password();
  Openssl({"pkey", "-in", dir_ + "/server.key", "-aes256", "-passout", pass, "-out",
           dir_ + "/server-enc.key"});
  Openssl({"x509", "-in", dir_ + "/server.pem", "-outform", "DER", "-out", dir_ + "/server.der"});
  Openssl(
      {"pkey", "-in", dir_ + "/server.key", "-outform", "DER", "-out", dir_ + "/server-key.der"});
  Openssl({"pkcs12", "-export", "-inkey", dir_ + "/server.key", "-in", dir_ + "/server.pem",
           "-certfile", dir_ + "/ca.pem", "-passout", pass, "-out", dir_ + "/server.p12"});
}

NginxServer::NginxServer(const TempDir& dir, const std::string& http_body, int port)
    : dir_(dir.path().string()) {
  const std::string run = dir_ + "/nginx";
  ::mkdir(run.c_str(), 0755);
  std::ostringstream c;
  c << "user root;\n"
    << "worker_processes 1;\n"
    << "daemon off;\n"
    << "pid " << run << "/nginx.pid;\n"
    << "error_log " << run << "/error.log info;\n"
    << "events { worker_connections 256; }\n"
    << "http {\n"
    << "  log_format velmora '$remote_addr \"$request\" $status $body_bytes_sent "
       "conn=$connection reqs=$connection_requests';\n"
    << "  access_log " << run << "/access.log velmora;\n"
    << "  client_body_temp_path " << run << "/body;\n"
    << "  proxy_temp_path " << run << "/proxy;\n"
    << "  fastcgi_temp_path " << run << "/fastcgi;\n"
    << "  uwsgi_temp_path " << run << "/uwsgi;\n"
    << "  scgi_temp_path " << run << "/scgi;\n"
    << "  default_type application/octet-stream;\n"
    << http_body << "\n}\n";
  const std::string conf = run + "/nginx.conf";
  WriteFile(conf, c.str());
  process_ = std::make_unique<PeerProcess>("nginx",
                                           std::vector<std::string>{"nginx", "-p", run, "-c", conf},
                                           run + "/nginx.pid", run + "/nginx.out", port, "nginx");
}

std::string NginxServer::AccessLog() const {
  return ReadFile(dir_ + "/nginx/access.log");
}

}  // namespace velmora::testing
