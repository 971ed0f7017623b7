// TLS material and web servers for the network tests: a test certificate
// authority with server and client certificates made by the `openssl`
// command at test time, and nginx on loopback ports.
#pragma once

#include <memory>
#include <string>

#include "tests/peers/peers.h"

namespace velmora::testing {

// A certificate authority of the test's own and what it signed, as files in
// `dir` (all PEM unless named otherwise):
//   ca.pem / ca.key             the authority (RSA 2048, self-signed)
//   server.pem / server.key     CN=localhost, subjectAltName localhost,
//                               127.0.0.1 and ::1; the key unencrypted
//   server-enc.key              the same key encrypted with Password()
//   server.der / server-key.der the certificate and key in DER
//   server.p12                  key, certificate and CA in PKCS#12, Password()
//   other.pem / other.key       CN=other.test, subjectAltName other.test
//   client.pem / client.key     CN=velmora-client, for client certificates
// Throws std::runtime_error with openssl's words when a step fails.
class TestPki {
 public:
  explicit TestPki(const TempDir& dir);

  std::string CaFile() const { return dir_ + "/ca.pem"; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Password() { return "velmora-pass"; }

 private:
  std::string dir_;
};

// nginx on loopback, as root, with its configuration, logs and temporary
// folders in `dir`.  `http_body` is the inside of the `http { }` block,
// normally one or more `server { listen 127.0.0.1:PORT ...; }` blocks;
// `port` is the one waited for (choose it with FreeLoopbackPort()).
class NginxServer {
 public:
  NginxServer(const TempDir& dir, const std::string& http_body, int port);
  int port() const { return process_->port(); }
  std::string Log() const { return process_->Log(); }
  // The access log (one line per request, nginx's combined format plus
  // the connection number and its request count: "conn=N reqs=M").
  std::string AccessLog() const;

 private:
  std::string dir_;
  std::unique_ptr<PeerProcess> process_;
};

}  // namespace velmora::testing
