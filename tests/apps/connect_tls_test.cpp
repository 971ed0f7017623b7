// `velmora connect --tls` end to end against openssl s_server with the
// test certificate authority.
#include <string>

#include "gtest/gtest.h"
#include "tests/peers/openssl_server.h"
#include "tests/peers/tls_peers.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

TEST(ConnectTlsCommandConcurrency, VerifiedSessionClientCertificateAndRefusals) {
  TempDir dir;
  TestPki pki(dir);
  // The server asks for a client certificate from the test authority.
  OpensslServer server(dir, {"-cert", pki.File("server.pem"), "-key", pki.File("server.key"),
                             "-rev", "-Verify", "1", "-CAfile", pki.CaFile()});
  const std::string port = std::to_string(server.port());
  RunResult r = RunVelmora(
      {"connect", "localhost", port, "--tls", "--verify", "--cafile", pki.CaFile(), "--cert",
       pki.File("client.pem"), "--key", pki.File("client.key"), "--trace", "--timeout", "2000"},
      "hello tls\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "slt olleh\n");
  EXPECT_NE(r.err.find("tls: TLSv1.3, TLS_AES_256_GCM_SHA384 (256 bits)\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("tls subject: /C=CZ/O=Velmora tests/CN=localhost\n"), std::string::npos);
  EXPECT_NE(r.err.find("tls issuer: /C=CZ/O=Velmora tests/CN=Test CA\n"), std::string::npos);
  EXPECT_NE(r.err.find("tls verify: 0 (ok)\n"), std::string::npos);
  EXPECT_NE(server.Log().find("CN = velmora-client"), std::string::npos) << server.Log();

  // Without a client certificate the server refuses the session.
  r = RunVelmora({"connect", "127.0.0.1", port, "--tls", "--timeout", "1000"}, "x\n");
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out, "");
  // A name the certificate does not hold.
  r = RunVelmora({"connect", "127.0.0.1", port, "--tls", "--verify", "--cafile", pki.CaFile(),
                  "--sni", "other.test", "--cert", pki.File("client.pem"), "--key",
                  pki.File("client.key")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("10091 error:0A000086:SSL routines::certificate verify failed"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--sni", "x"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--tls", "--cert", "c.pem"}).exit_code, 2);
}

}  // namespace
}  // namespace velmora::testing
