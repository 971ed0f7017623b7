// TSSLOpenSSL as a server (curl and openssl s_client as its clients), and
// the faults: a peer that resets, a plain-text peer, a missing library, the
// peer's close notification.
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/net/tls_pki_fixture.h"
#include "tests/peers/openssl_server.h"
#include "tests/peers/tls_peers.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/ssl_openssl.h"

namespace velmora::net {
namespace {

using testing::OpensslOutput;
using testing::TempDir;
using testing::TestPki;

// A loopback TLS server of ours: accepts one connection, configures its
// plug-in with `configure`, runs the server handshake and then `serve`.
class OurTlsServer {
 public:
  using Step = std::function<void(TTCPBlockSocket&)>;
  OurTlsServer(Step configure, Step serve) : listener_(MakeSSLOpenSSL) {
    listener_.Bind("127.0.0.1", "0");
    listener_.Listen();
    port_ = listener_.GetLocalSinPort();
    thread_ = std::thread([this, configure, serve] {
      TTCPBlockSocket conn(MakeSSLOpenSSL);
      if (!listener_.CanRead(10000)) return;
      conn.set_Socket(listener_.Accept());
      configure(conn);
      accepted_ = conn.SSLAcceptConnection();
      error_ = conn.LastErrorText();
      certificate_ = conn.SSL()->Certificate();
      private_key_ = conn.SSL()->PrivateKey();
      if (accepted_) serve(conn);
    });
  }
  ~OurTlsServer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  bool accepted_ = false;
  std::string error_, certificate_, private_key_;

 private:
  TTCPBlockSocket listener_;
  int port_ = 0;
  std::thread thread_;
};

// Reads an HTTP request header and answers "hello".
void AnswerHttp(TTCPBlockSocket& conn) {
  while (!conn.RecvString(5000).empty() && conn.LastError() == 0) {
  }
  conn.SendString("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nhello\n");
  conn.SSLDoShutdown();
}

class TlsServerConcurrency : public TlsPkiTest {};

TEST_F(TlsServerConcurrency, SelfSignedCertificateServesCurlAndHasTheFixedFields) {
  OurTlsServer server([](TTCPBlockSocket&) {}, AnswerHttp);
  const std::time_t now = std::time(nullptr);
  auto r = testing::Run({"curl", "-sk", "--max-time", "20",
                         "https://127.0.0.1:" + std::to_string(server.port()) + "/"});
  server.Join();
  ASSERT_TRUE(server.accepted_) << server.error_;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "hello\n");

  // The certificate made on the fly, read by openssl.
  testing::WriteFile(dir_->file("self.der"), server.certificate_);
  testing::WriteFile(dir_->file("self-key.der"), server.private_key_);
  const std::string text =
      OpensslOutput({"x509", "-inform", "DER", "-in", dir_->file("self.der"), "-noout", "-text",
                     "-dates", "-serial", "-nameopt", "compat"});
  EXPECT_NE(text.find("Version: 3 (0x2)"), std::string::npos) << text;
  EXPECT_NE(text.find("serial=00"), std::string::npos) << text;
  EXPECT_NE(text.find("Public-Key: (2048 bit)"), std::string::npos);
  EXPECT_NE(text.find("sha256WithRSAEncryption"), std::string::npos);
  // The common name is the resolved client address.
  EXPECT_NE(text.find("Subject: C=CZ, CN=localhost"), std::string::npos) << text;
  EXPECT_NE(text.find("Issuer: C=CZ, CN=localhost"), std::string::npos);
  auto date_of = [&](const std::string& key) {
    std::string line = text.substr(text.find(key) + key.size());
    line = line.substr(0, line.find('\n'));
    std::tm tm{};
    ::strptime(line.c_str(), "%b %d %H:%M:%S %Y GMT", &tm);
    return ::timegm(&tm);
  };
  EXPECT_NEAR(static_cast<double>(date_of("notBefore=")), now - 86400.0, 60);
  EXPECT_NEAR(static_cast<double>(date_of("notAfter=")), now + 5184000.0, 60);
  // The key is the certificate's.
  EXPECT_EQ(OpensslOutput(
                {"rsa", "-inform", "DER", "-in", dir_->file("self-key.der"), "-noout", "-modulus"}),
            OpensslOutput(
                {"x509", "-inform", "DER", "-in", dir_->file("self.der"), "-noout", "-modulus"}));
}

TEST_F(TlsServerConcurrency, OwnCertificateFromFilesDerBytesOrPkcs12) {
  const std::string pass = TestPki::Password();
  struct Case {
    const char* what;
    OurTlsServer::Step configure;
  } cases[] = {
      {"PEM files, key with a password",
       [&](TTCPBlockSocket& s) {
         s.SSL()->set_CertificateFile(pki_->File("server.pem"));
         s.SSL()->set_PrivateKeyFile(pki_->File("server-enc.key"));
         s.SSL()->set_KeyPassword(pass);
       }},
      {"DER bytes",
       [&](TTCPBlockSocket& s) {
         s.SSL()->set_Certificate(testing::ReadFile(pki_->File("server.der")));
         s.SSL()->set_PrivateKey(testing::ReadFile(pki_->File("server-key.der")));
       }},
      {"PKCS#12 file",
       [&](TTCPBlockSocket& s) {
         s.SSL()->set_PFXfile(pki_->File("server.p12"));
         s.SSL()->set_KeyPassword(pass);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OurTlsServer server(c.configure, AnswerHttp);
    auto r = testing::Run({"curl", "-s", "--max-time", "20", "--cacert", pki_->CaFile(),
                           "https://localhost:" + std::to_string(server.port()) + "/"});
    server.Join();
    EXPECT_TRUE(server.accepted_) << server.error_;
    EXPECT_EQ(r.out, "hello\n") << r.err;
  }
  // openssl s_client checks the chain against the test CA as well.
  OurTlsServer server(cases[2].configure, AnswerHttp);
  auto r =
      testing::Run({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(server.port()),
                    "-CAfile", pki_->CaFile(), "-verify_return_error", "-quiet"},
                   "GET / HTTP/1.0\r\n\r\n");
  server.Join();
  EXPECT_NE(r.out.find("hello"), std::string::npos) << r.err;
  // A wrong password fails with OpenSSL's words.
  OurTlsServer bad(
      [&](TTCPBlockSocket& s) {
        s.SSL()->set_PFXfile(pki_->File("server.p12"));
        s.SSL()->set_KeyPassword("wrong");
      },
      AnswerHttp);
  testing::Run(
      {"curl", "-sk", "--max-time", "5", "https://127.0.0.1:" + std::to_string(bad.port())});
  bad.Join();
  EXPECT_FALSE(bad.accepted_);
  EXPECT_NE(bad.error_, "");
}

TEST_F(TlsServerConcurrency, CloseNotificationResetAndSendAfterClose) {
  // The server closes TLS cleanly: the client reads 0 with no error, and a
  // later send ends with an error instead of spinning.
  OurTlsServer server([](TTCPBlockSocket&) {},
                      [](TTCPBlockSocket& conn) {
                        conn.SendString("bye\n");
                        conn.SSL()->Shutdown();  // one close notification
                      });
  TTCPBlockSocket sock(MakeSSLOpenSSL);
  sock.Connect("127.0.0.1", std::to_string(server.port()));
  sock.SSLDoConnect();
  ASSERT_EQ(sock.LastError(), 0) << sock.LastErrorText();
  EXPECT_EQ(sock.RecvTerminated(5000, "\n"), "bye");
  char buf[100];
  EXPECT_EQ(sock.RecvBuffer(buf, sizeof buf), 0);
  EXPECT_EQ(sock.LastError(), 0);
  EXPECT_EQ(sock.SSL()->SslErrorCode(), 0);
  server.Join();
  std::string big(1 << 20, 'x');
  sock.SendString(big);
  sock.SendString(big);
  EXPECT_EQ(sock.LastError(), WSASYSNOTREADY);
  EXPECT_EQ(sock.SSL()->SslErrorCode(), 6);  // SSL_ERROR_ZERO_RETURN
}

TEST_F(TlsServerConcurrency, PeerResettingMidTransferIsAnErrorNotSigpipe) {
  auto previous = std::signal(SIGPIPE, SIG_DFL);  // as in a program that set nothing
  OurTlsServer server([](TTCPBlockSocket&) {},
                      [](TTCPBlockSocket& conn) {
                        conn.RecvBufferStr(100000, 5000);
                        conn.SetLinger(true, 0);  // close with a reset
                        ::close(conn.Socket());
                        conn.set_Socket(INVALID_SOCKET);
                      });
  TTCPBlockSocket sock(MakeSSLOpenSSL);
  sock.Connect("127.0.0.1", std::to_string(server.port()));
  sock.SSLDoConnect();
  ASSERT_EQ(sock.LastError(), 0);
  std::string chunk(1 << 16, 'y');
  for (int i = 0; i < 400 && sock.LastError() == 0; ++i) sock.SendString(chunk);
  server.Join();
  EXPECT_EQ(sock.LastError(), WSASYSNOTREADY);
  EXPECT_NE(sock.SSL()->SslErrorCode(), 0);
  std::signal(SIGPIPE, previous);
}

TEST_F(TlsServerConcurrency, SharedServerContextResumesNoSessionAndFollowsTheFiles) {
  // The certificate files live where the test may replace them.
  TempDir dir;
  const std::string cert = dir.file("cert.pem"), key = dir.file("key.pem");
  testing::WriteFile(cert, testing::ReadFile(pki_->File("server.pem")));
  testing::WriteFile(key, testing::ReadFile(pki_->File("server.key")));
  auto configure = [&](TTCPBlockSocket& s) {
    s.SSL()->set_CertificateFile(cert);
    s.SSL()->set_PrivateKeyFile(key);
  };
  // A client that brings back its session from the first connection gets
  // a full handshake each time, as from a server with a fresh context.
  const std::string session = dir.file("session.pem");
  for (const std::string option : {"-sess_out", "-sess_in"}) {
    SCOPED_TRACE(option);
    OurTlsServer server(configure, AnswerHttp);
    auto r =
        testing::Run({"openssl", "s_client", "-connect",
                      "127.0.0.1:" + std::to_string(server.port()), "-ign_eof", option, session},
                     "GET / HTTP/1.0\r\n\r\n");
    server.Join();
    EXPECT_TRUE(server.accepted_) << server.error_;
    EXPECT_NE(r.out.find("hello"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("New, TLSv1.3"), std::string::npos) << r.out;
  }
  // Certificate and key replaced on disk: the next connection gets the new one.
  testing::WriteFile(cert, testing::ReadFile(pki_->File("other.pem")));
  testing::WriteFile(key, testing::ReadFile(pki_->File("other.key")));
  OurTlsServer server(configure, AnswerHttp);
  TTCPBlockSocket sock(MakeSSLOpenSSL);
  sock.Connect("127.0.0.1", std::to_string(server.port()));
  sock.SSLDoConnect();
  ASSERT_EQ(sock.LastError(), 0) << sock.LastErrorText() << server.error_;
  EXPECT_EQ(sock.SSL()->GetPeerName(), "other.test");
}

TEST_F(TlsServerConcurrency, HandedOutContextAsksTheLivePluginForThePassword) {
  auto configure = [&](TTCPBlockSocket& s) {
    s.SSL()->set_CertificateFile(pki_->File("server.pem"));
    s.SSL()->set_PrivateKeyFile(pki_->File("server-enc.key"));
    s.SSL()->set_KeyPassword(TestPki::Password());
  };
  // The first server builds the context with the password and goes away;
  // the second one, with the same settings, is handed that context.
  int loaded = -1;
  for (int round = 0; round < 2; ++round) {
    OurTlsServer server(configure, [&](TTCPBlockSocket& conn) {
      if (round == 1) {
        auto* ssl = dynamic_cast<TSSLOpenSSL*>(conn.SSL());
        loaded = SslCtxUsePrivateKeyFile(ssl->SslContext(), pki_->File("server-enc.key"),
                                         SSL_FILETYPE_PEM);
      }
      AnswerHttp(conn);
    });
    auto r = testing::Run({"curl", "-sk", "--max-time", "20",
                           "https://127.0.0.1:" + std::to_string(server.port()) + "/"});
    server.Join();
    EXPECT_TRUE(server.accepted_) << server.error_;
    EXPECT_EQ(r.out, "hello\n") << r.err;
  }
  EXPECT_EQ(loaded, 1);
}

TEST_F(TlsServerConcurrency, ThreadsHandshakingAtOnceShareContextsSafely) {
  // Servers and clients of ours on several threads at once, all with the
  // same settings per side: every exchange must come through.
  constexpr int kThreads = 4, kRounds = 5;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        OurTlsServer server(
            [&](TTCPBlockSocket& s) {
              s.SSL()->set_Certificate(testing::ReadFile(pki_->File("server.der")));
              s.SSL()->set_PrivateKey(testing::ReadFile(pki_->File("server-key.der")));
            },
            [](TTCPBlockSocket& conn) { conn.SendString(conn.RecvString(5000) + "\r\n"); });
        TTCPBlockSocket sock(MakeSSLOpenSSL);
        sock.Connect("127.0.0.1", std::to_string(server.port()));
        sock.SSL()->set_SNIHost("localhost");
        sock.SSL()->set_CertCAFile(pki_->CaFile());
        sock.SSL()->set_VerifyCert(true);
        sock.SSLDoConnect();
        sock.SendString("ping\r\n");
        if (sock.RecvString(5000) == "ping" && sock.LastError() == 0) ++good;
        server.Join();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads * kRounds);
}

TEST(TlsFaults, PlainTextPeerFailsTheHandshakeWithOpensslsWords) {
  testing::TcpServer plain([](int fd, const std::atomic<bool>&) {
    testing::RecvExactly(fd, 5, std::chrono::milliseconds(5000));
    testing::SendAll(fd, "HTTP/1.0 400 Bad Request\r\n\r\n");
  });
  TTCPBlockSocket sock(MakeSSLOpenSSL);
  sock.Connect("127.0.0.1", std::to_string(plain.port()));
  sock.SSLDoConnect();
  EXPECT_EQ(sock.LastError(), WSASYSNOTREADY);
  EXPECT_FALSE(sock.SSL()->SslEnabled());
  EXPECT_NE(sock.SSL()->SslErrorCode(), 0);
  EXPECT_NE(sock.LastErrorText().find("SSL routines"), std::string::npos) << sock.LastErrorText();
}

TEST(TlsFaults, MissingLibraryGivesNeutralValuesAndKeepsTSSLNone) {
  const std::string saved = DLLSSLName, saved2 = DLLSSLName2;
  DestroySSLInterface();
  DLLSSLName = "libvelmora-no-such-ssl.so.3";
  DLLSSLName2 = "";
  EXPECT_FALSE(InitSSLInterface());
  EXPECT_FALSE(IsSSLloaded());
  EXPECT_EQ(SslGetError(nullptr, 0), 1);
  EXPECT_EQ(ErrGetError(), 1u);
  EXPECT_EQ(SSLeayversion(0), "");
  EXPECT_EQ(BioRead(nullptr, nullptr, 0), -2);
  EXPECT_EQ(SSLGetVerifyResult(nullptr), 50);
  EXPECT_EQ(SslCtxNew(nullptr), nullptr);
  EXPECT_EQ(_X509Free, nullptr);
  unit_ssl_openssl::Initialize();
  EXPECT_EQ(TTCPBlockSocket().SSL()->ClassName(), "TSSLNone");
  // Nothing is remembered: with the right name the next call loads.
  DLLSSLName = saved;
  DLLSSLName2 = saved2;
  EXPECT_NE(SSLeayversion(0).find("OpenSSL 3"), std::string::npos);
  EXPECT_TRUE(IsSSLloaded());
  EXPECT_NE(SSLLibFile.find("libssl.so.3"), std::string::npos) << SSLLibFile;
  unit_ssl_openssl::Initialize();
  EXPECT_EQ(TTCPBlockSocket().SSL()->ClassName(), "TSSLOpenSSL");
  unit_ssl_openssl::Finalize();
  EXPECT_EQ(TTCPBlockSocket().SSL()->ClassName(), "TSSLNone");
}

}  // namespace
}  // namespace velmora::net
