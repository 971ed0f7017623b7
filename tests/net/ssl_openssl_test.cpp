// TSSLOpenSSL as a client, against openssl s_server and nginx with a test
// certificate authority made by the openssl command.
#include "velmora/net/ssl_openssl.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "tests/net/tls_pki_fixture.h"
#include "tests/peers/openssl_server.h"
#include "tests/peers/tls_peers.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

using testing::NginxServer;
using testing::OpensslOutput;
using testing::OpensslServer;
using testing::TempDir;
using testing::TestPki;

class TlsClient : public TlsPkiTest {
 protected:
  // s_server with the test server certificate, reversing each line it gets.
  static std::unique_ptr<OpensslServer> Server(std::vector<std::string> extra = {}) {
    std::vector<std::string> options{"-cert", pki_->File("server.pem"), "-key",
                                     pki_->File("server.key"), "-rev"};
    options.insert(options.end(), extra.begin(), extra.end());
    return std::make_unique<OpensslServer>(*dir_, options);
  }
  // A TLS socket connected to 127.0.0.1:port (TCP only).
  static std::unique_ptr<TTCPBlockSocket> Socket(int port) {
    auto sock = std::make_unique<TTCPBlockSocket>(MakeSSLOpenSSL);
    sock->Connect("127.0.0.1", std::to_string(port));
    EXPECT_EQ(sock->LastError(), 0);
    return sock;
  }
};

// The hexadecimal text after "=" in openssl's "... Fingerprint=AB:CD:..." as bytes.
std::string FingerprintBytes(const std::string& line) {
  std::string hex = line.substr(line.find('=') + 1);
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

TEST_F(TlsClient, Tls13HandshakeEchoAndPeerCertificate) {
  auto server = Server();
  auto sock = Socket(server->port());
  auto* ssl = dynamic_cast<TSSLOpenSSL*>(sock->SSL());
  ASSERT_NE(ssl, nullptr);
  // Nothing is known before the handshake.
  EXPECT_EQ(ssl->GetPeerSerialNo(), -1);
  EXPECT_EQ(ssl->GetPeerNameHash(), 0u);
  EXPECT_EQ(ssl->GetPeerSubject(), "");
  EXPECT_EQ(ssl->GetVerifyCert(), 1);

  ssl->set_SNIHost("localhost");
  ssl->set_CertCAFile(pki_->CaFile());
  ssl->set_VerifyCert(true);
  sock->SSLDoConnect();
  ASSERT_EQ(sock->LastError(), 0) << sock->LastErrorText() << "\n" << server->Log();
  EXPECT_TRUE(ssl->SslEnabled());
  EXPECT_EQ(ssl->GetVerifyCert(), 0);
  EXPECT_EQ(ssl->GetSSLVersion(), "TLSv1.3");
  EXPECT_EQ(ssl->GetCipherName(), "TLS_AES_256_GCM_SHA384");
  EXPECT_EQ(ssl->GetCipherBits(), 256);
  EXPECT_EQ(ssl->GetCipherAlgBits(), 256);
  EXPECT_EQ(ssl->GetPeerSubject(), "/C=CZ/O=Velmora tests/CN=localhost");
  EXPECT_EQ(ssl->GetPeerIssuer(), "/C=CZ/O=Velmora tests/CN=Test CA");
  EXPECT_EQ(ssl->GetPeerName(), "localhost");

  const std::string cert = pki_->File("server.pem");
  EXPECT_EQ(
      ssl->GetPeerFingerprint(),
      FingerprintBytes(OpensslOutput({"x509", "-in", cert, "-noout", "-fingerprint", "-md5"})));
  EXPECT_EQ(
      ssl->GetPeerNameHash(),
      std::stoul(OpensslOutput({"x509", "-in", cert, "-noout", "-subject_hash"}), nullptr, 16));
  std::string text = OpensslOutput({"x509", "-in", cert, "-noout", "-text", "-nameopt", "compat"});
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(ssl->GetCertInfo(), crlf);

  // -rev answers each line reversed: both directions pass the TLS layer.
  sock->SendString("hello over tls\n");
  EXPECT_EQ(sock->RecvTerminated(5000, "\n"), "slt revo olleh");
  EXPECT_EQ(sock->LastError(), 0);
  // Many records each way, sent in one call.
  std::string lines;
  for (int i = 0; i < 40; ++i)
    lines += "a" + std::string(8000, static_cast<char>('0' + i % 10)) + "z\n";
  sock->SendString(lines);
  for (int i = 0; i < 40; ++i) {
    std::string line = sock->RecvTerminated(5000, "\n");
    ASSERT_EQ(line.size(), 8002u) << i << " " << sock->LastErrorText();
    EXPECT_TRUE(line.front() == 'z' && line.back() == 'a' && line[1] == '0' + i % 10) << i;
  }
}

TEST_F(TlsClient, Tls12Negotiated) {
  auto server = Server({"-tls1_2"});
  auto sock = Socket(server->port());
  sock->SSLDoConnect();
  ASSERT_EQ(sock->LastError(), 0) << sock->LastErrorText();
  EXPECT_EQ(sock->SSL()->GetSSLVersion(), "TLSv1.2");
  EXPECT_EQ(sock->SSL()->GetCipherName(), "ECDHE-RSA-AES256-GCM-SHA384");
  sock->SendString("abc\n");
  EXPECT_EQ(sock->RecvTerminated(5000, "\n"), "cba");
}

TEST_F(TlsClient, VerificationNeedsTrustedChainMatchingHostAndHookConsent) {
  auto server = Server();
  struct Case {
    const char* what;
    bool ca;
    std::string sni;
    bool hook_refuses;
    bool ok;
  } cases[] = {
      {"no trusted authority", false, "localhost", false, false},
      {"trusted, right name", true, "localhost", false, true},
      {"trusted, wrong name", true, "other.test", false, false},
      {"trusted, address in the certificate", true, "127.0.0.1", false, true},
      {"trusted, no name: the connected address", true, "", false, true},
      {"hook refuses", true, "localhost", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto sock = Socket(server->port());
    TCustomSSL* ssl = sock->SSL();
    ssl->set_VerifyCert(true);
    ssl->set_SNIHost(c.sni);
    if (c.ca) ssl->set_CertCAFile(pki_->CaFile());
    bool hook_called = false;
    if (c.hook_refuses) ssl->OnVerifyCert = [&](host::TObject*) { return !(hook_called = true); };
    sock->SSLDoConnect();
    EXPECT_EQ(sock->LastError() == 0, c.ok) << sock->LastErrorText();
    EXPECT_EQ(ssl->SslEnabled(), c.ok);
    if (!c.ok && !c.hook_refuses) {
      EXPECT_NE(ssl->GetVerifyCert(), 0);
      EXPECT_NE(sock->LastErrorText().find("certificate verify failed"), std::string::npos)
          << sock->LastErrorText();
    }
    if (c.hook_refuses) {
      EXPECT_TRUE(hook_called);
      EXPECT_EQ(ssl->SslErrorCode(), 0);
      EXPECT_EQ(ssl->SslErrorText(), "");
    }
  }
  // Without VerifyCert an untrusted certificate is accepted.
  auto sock = Socket(server->port());
  sock->SSLDoConnect();
  EXPECT_EQ(sock->LastError(), 0);
}

TEST_F(TlsClient, ServerNameIsSentOnlyForHostNames) {
  auto server = Server();
  testing::RecordingRelay relay(server->port());
  for (const std::string sni : {"localhost", "127.0.0.1", ""}) {
    auto sock = Socket(relay.port());
    sock->SSL()->set_SNIHost(sni);
    sock->SSLDoConnect();
    EXPECT_EQ(sock->LastError(), 0) << sni;
    sock->CloseSocket();
  }
  // The ClientHello travels in clear: only the name appears on the wire.
  const std::string wire = relay.ClientBytes();
  EXPECT_NE(wire.find("localhost"), std::string::npos);
  EXPECT_EQ(wire.find("127.0.0.1"), std::string::npos);
}

TEST_F(TlsClient, ReceiveKeepsItsTimeoutWhenOnlySessionTicketsArrive) {
  auto server = Server();
  auto sock = Socket(server->port());
  sock->SSLDoConnect();
  ASSERT_EQ(sock->LastError(), 0);
  // TLS 1.3 servers send session tickets after the handshake: records
  // without application data.
  const auto start = std::chrono::steady_clock::now();
  std::string packet = sock->RecvPacket(500);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_EQ(packet, "");
  EXPECT_EQ(sock->LastError(), WSAETIMEDOUT);
  EXPECT_GE(ms, 450);
  EXPECT_LT(ms, 3000);
  // The connection is still good afterwards.
  sock->SendString("ok\n");
  EXPECT_EQ(sock->RecvTerminated(5000, "\n"), "ko");
}

TEST_F(TlsClient, NginxCertificateFollowsServerName) {
  TempDir dir;
  const int port = testing::FreeLoopbackPort();
  std::string body;
  for (const std::string name : {"localhost", "other.test"}) {
    const std::string file = name == "localhost" ? "server" : "other";
    body += "server { listen 127.0.0.1:" + std::to_string(port) + " ssl; server_name " + name +
            "; ssl_certificate " + pki_->File(file + ".pem") + "; ssl_certificate_key " +
            pki_->File(file + ".key") + "; location / { return 200 \"" + name + "\\n\"; } }\n";
  }
  NginxServer nginx(dir, body, port);
  for (const std::string name : {"other.test", "localhost"}) {
    SCOPED_TRACE(name);
    auto sock = Socket(port);
    sock->SSL()->set_SNIHost(name);
    sock->SSL()->set_CertCAFile(pki_->CaFile());
    sock->SSL()->set_VerifyCert(true);
    sock->SSLDoConnect();
    ASSERT_EQ(sock->LastError(), 0) << sock->LastErrorText();
    EXPECT_EQ(sock->SSL()->GetPeerName(), name);
    sock->SendString("GET / HTTP/1.0\r\nHost: " + name + "\r\n\r\n");
    std::string reply;
    for (;;) {
      std::string p = sock->RecvPacket(5000);
      reply += p;
      if (sock->LastError() != 0) break;
    }
    EXPECT_NE(reply.find("\r\n\r\n" + name + "\n"), std::string::npos) << reply;
  }
}

TEST_F(TlsClient, SerialNumbersBeyondTheIntegerAreMinusOne) {
  // Certificates of the test key with chosen serials; openssl prints each.
  struct Case {
    std::string serial;  // as given to openssl
    std::string printed;
    int32_t expected;
  } cases[] = {
      {"0x7FFFFFFF", "7FFFFFFF", 2147483647},
      {"0x80000000", "80000000", -1},
      // 20 bytes, the most a certificate may carry.
      {"0x" + std::string(40, '7'), std::string(40, '7'), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    const std::string file = dir_->file("serial-" + c.printed.substr(0, 12) + ".pem");
    OpensslOutput({"req", "-new", "-x509", "-key", pki_->File("server.key"), "-subj", "/CN=serial",
                   "-days", "1", "-set_serial", c.serial, "-out", file});
    EXPECT_EQ(OpensslOutput({"x509", "-in", file, "-noout", "-serial"}),
              "serial=" + c.printed + "\n");
    OpensslServer server(*dir_, {"-cert", file, "-key", pki_->File("server.key"), "-rev"});
    auto sock = Socket(server.port());
    sock->SSLDoConnect();
    ASSERT_EQ(sock->LastError(), 0) << sock->LastErrorText();
    EXPECT_EQ(sock->SSL()->GetPeerSerialNo(), c.expected);
    // What OpenSSL said about the size is no error of a later call.
    EXPECT_EQ(ErrGetError(), 0u);
    EXPECT_EQ(sock->SSL()->GetPeerName(), "serial");
  }
}

TEST_F(TlsClient, TlsVersion1PinHolds) {
  const std::vector<std::string> tls1{"-tls1", "-cipher", "DEFAULT:@SECLEVEL=0"};
  // At the system's security level TLS 1.0 is refused: a clean failure.
  {
    auto server = Server(tls1);
    auto sock = Socket(server->port());
    sock->SSL()->set_SSLType(LT_TLSv1);
    sock->SSLDoConnect();
    EXPECT_EQ(sock->LastError(), WSASYSNOTREADY);
    EXPECT_FALSE(sock->SSL()->SslEnabled());
    EXPECT_NE(sock->SSL()->SslErrorText(), "");
  }
  // Where both sides allow it, the pinned client speaks TLS 1.0...
  {
    auto server = Server(tls1);
    auto sock = Socket(server->port());
    sock->SSL()->set_SSLType(LT_TLSv1);
    sock->SSL()->set_Ciphers("DEFAULT:@SECLEVEL=0");
    sock->SSLDoConnect();
    ASSERT_EQ(sock->LastError(), 0) << sock->LastErrorText() << "\n" << server->Log();
    EXPECT_EQ(sock->SSL()->GetSSLVersion(), "TLSv1");
    sock->SendString("pin\n");
    EXPECT_EQ(sock->RecvTerminated(5000, "\n"), "nip");
  }
  // ...and nothing newer: a server from TLS 1.2 up refuses it, although an
  // unpinned client with the same settings gets through.
  auto server = Server({"-min_protocol", "TLSv1.2", "-cipher", "DEFAULT:@SECLEVEL=0"});
  for (const TSSLType type : {LT_TLSv1, LT_all}) {
    auto sock = Socket(server->port());
    sock->SSL()->set_SSLType(type);
    sock->SSL()->set_Ciphers("DEFAULT:@SECLEVEL=0");
    sock->SSLDoConnect();
    EXPECT_EQ(sock->LastError() == 0, type == LT_all)
        << static_cast<int>(type) << sock->LastErrorText();
    if (type == LT_all) {
      EXPECT_EQ(sock->SSL()->GetSSLVersion(), "TLSv1.3");
    }
  }
}

TEST_F(TlsClient, SharedContextIsLeftAloneByWhatAHostChanges) {
  // nginx: several connections open at once.
  TempDir dir;
  const int port = testing::FreeLoopbackPort();
  NginxServer server(dir,
                     "server { listen 127.0.0.1:" + std::to_string(port) +
                         " ssl; ssl_protocols TLSv1.2 TLSv1.3; ssl_certificate " +
                         pki_->File("server.pem") + "; ssl_certificate_key " +
                         pki_->File("server.key") + "; }\n",
                     port);
  auto a = Socket(port);
  auto b = Socket(port);
  a->SSLDoConnect();
  b->SSLDoConnect();
  ASSERT_EQ(a->LastError() + b->LastError(), 0);
  auto* ssl_a = dynamic_cast<TSSLOpenSSL*>(a->SSL());
  auto* ssl_b = dynamic_cast<TSSLOpenSSL*>(b->SSL());
  // Same settings: one context, held by both.
  ASSERT_NE(ssl_a->SslContext(), nullptr);
  EXPECT_EQ(ssl_a->SslContext(), ssl_b->SslContext());
  // A host limits the context it was handed to TLS 1.2: the next connection
  // with the same settings does not inherit that.
  SslCtxCtrl(ssl_a->SslContext(), SSL_CTRL_SET_MAX_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  auto c = Socket(port);
  c->SSLDoConnect();
  ASSERT_EQ(c->LastError(), 0) << c->LastErrorText();
  EXPECT_EQ(c->SSL()->GetSSLVersion(), "TLSv1.3");
  EXPECT_NE(dynamic_cast<TSSLOpenSSL*>(c->SSL())->SslContext(), ssl_a->SslContext());
  // The plug-in gives its context back when done with it.
  a->CloseSocket();
  EXPECT_EQ(ssl_a->SslContext(), nullptr);
}

TEST_F(TlsClient, UnsupportedVersionsFailBeforeAnyTraffic) {
  auto server = Server();
  auto sock = Socket(server->port());
  sock->SSL()->set_SSLType(LT_TLSv1_1);
  sock->SSLDoConnect();
  EXPECT_EQ(sock->LastError(), WSASYSNOTREADY);
  EXPECT_EQ(sock->SSL()->SslErrorCode(), 0);
  EXPECT_EQ(sock->SSL()->SslErrorText(), "");
  // SSL 3 is gone from OpenSSL 3: the context cannot be made, and says so.
  sock->SSL()->set_SSLType(LT_SSLv3);
  sock->SSLDoConnect();
  EXPECT_EQ(sock->LastError(), WSASYSNOTREADY);
  EXPECT_NE(sock->SSL()->SslErrorCode(), 0);
  EXPECT_NE(sock->LastErrorText(), "");
}

}  // namespace
}  // namespace velmora::net
