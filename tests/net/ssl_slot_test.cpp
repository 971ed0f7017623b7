// The TLS slot of the TCP socket: the inert default plug-in, and a plug-in of
// the test's own (a byte-flipping "cipher") through which every transfer of
// the socket must pass once its session is up.
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

std::string Flip(std::string s) {
  for (char& c : s) c = static_cast<char>(c ^ 0x5A);
  return s;
}

// Flips every byte on the way out and in; holds decrypted bytes that the
// caller did not take yet, as a real TLS layer does.
class TFlipSSL : public TCustomSSL {
 public:
  using TCustomSSL::TCustomSSL;
  static inline bool fail_handshake = false;
  std::string pending;

  bool Connect() override {
    if (fail_handshake) {
      ssl_error_code_ = 5;
      ssl_error_text_ = "handshake failure: bad record";
      return false;
    }
    ssl_enabled_ = true;
    return true;
  }
  bool Shutdown() override {
    ssl_enabled_ = false;
    return true;
  }
  int32_t SendBuffer(const void* Buffer, int32_t Len) override {
    std::string s = Flip(std::string(static_cast<const char*>(Buffer), static_cast<size_t>(Len)));
    return net::Send(Socket()->Socket(), s.data(), Len, 0);
  }
  int32_t RecvBuffer(void* Buffer, int32_t Len) override {
    if (pending.empty()) {
      char raw[4096];
      int32_t n = net::Recv(Socket()->Socket(), raw, sizeof raw, 0);
      if (n <= 0) return 0;
      pending = Flip(std::string(raw, static_cast<size_t>(n)));
    }
    size_t n = pending.size() < static_cast<size_t>(Len) ? pending.size() : Len;
    pending.copy(static_cast<char*>(Buffer), n);
    pending.erase(0, n);
    return static_cast<int32_t>(n);
  }
  int32_t WaitingData() override { return static_cast<int32_t>(pending.size()); }
};

struct Pair {
  int fd[2];
  Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0); }
  ~Pair() { ::close(fd[1]); }
};

TEST(TlsSlot, DefaultPluginRefusesEveryTlsOperation) {
  TTCPBlockSocket s;
  ASSERT_NE(s.SSL(), nullptr);
  EXPECT_EQ(s.SSL()->ClassName(), "TSSLNone");
  EXPECT_EQ(s.SSL()->LibName(), "ssl_none");
  EXPECT_EQ(s.SSL()->LibVersion(), "Without SSL support");
  s.SSLDoConnect();
  EXPECT_EQ(s.LastError(), 10091);
  EXPECT_EQ(s.LastErrorText(), "SSL/TLS support is not compiled!");
  EXPECT_EQ(s.SSL()->SslErrorCode(), -1);
  EXPECT_FALSE(s.SSLAcceptConnection());
  EXPECT_FALSE(s.SSL()->SslEnabled());
  EXPECT_TRUE(s.SSL()->DoVerifyCert());
  s.SSL()->OnVerifyCert = [](host::TObject*) { return false; };
  EXPECT_FALSE(s.SSL()->DoVerifyCert());
}

TEST(TlsSlot, TransfersPassThroughAnEstablishedSession) {
  Pair pair;
  TTCPBlockSocket s([](TTCPBlockSocket& sock) { return std::make_unique<TFlipSSL>(sock); });
  s.SetSocket(pair.fd[0]);
  EXPECT_FALSE(s.SSL()->SslEnabled());
  s.SSLDoConnect();
  ASSERT_EQ(s.LastError(), 0);
  ASSERT_TRUE(s.SSL()->SslEnabled());

  s.SendString("hello\r\n");
  char raw[7];
  ASSERT_EQ(::recv(pair.fd[1], raw, 7, MSG_WAITALL), 7);
  EXPECT_EQ(std::string(raw, 7), Flip("hello\r\n"));

  std::string reply = Flip("first\r\nsecond\r\n");
  ASSERT_EQ(::send(pair.fd[1], reply.data(), reply.size(), 0), static_cast<ssize_t>(reply.size()));
  EXPECT_EQ(s.RecvString(1000), "first");
  EXPECT_EQ(s.RecvString(1000), "second");
  EXPECT_EQ(s.BytesReceived(), 15);
}

TEST(TlsSlot, WaitingDataCountsDecryptedBytesFirst) {
  Pair pair;
  TTCPBlockSocket s([](TTCPBlockSocket& sock) { return std::make_unique<TFlipSSL>(sock); });
  s.SetSocket(pair.fd[0]);
  s.SSLDoConnect();
  auto* plugin = static_cast<TFlipSSL*>(s.SSL());
  ASSERT_EQ(::send(pair.fd[1], "abc", 3, 0), 3);
  ASSERT_TRUE(s.CanRead(1000));
  EXPECT_EQ(s.WaitingData(), 3);  // nothing decrypted: the socket's count
  plugin->pending = "decrypted";
  EXPECT_EQ(s.WaitingData(), 9);
  EXPECT_EQ(s.RecvPacket(1000), "decrypted");
}

TEST(TlsSlot, FailedHandshakeReadsAsThePluginsText) {
  TFlipSSL::fail_handshake = true;
  TTCPBlockSocket s([](TTCPBlockSocket& sock) { return std::make_unique<TFlipSSL>(sock); });
  s.SSLDoConnect();
  TFlipSSL::fail_handshake = false;
  EXPECT_EQ(s.LastError(), 10091);
  EXPECT_EQ(s.LastErrorText(), "handshake failure: bad record");
  EXPECT_EQ(s.GetErrorDescEx(), "handshake failure: bad record");
}

// A plug-in whose send moves nothing and reports nothing.
class TStuckSSL : public TFlipSSL {
 public:
  using TFlipSSL::TFlipSSL;
  int32_t SendBuffer(const void*, int32_t) override { return 0; }
};

TEST(TlsSlot, APluginThatMovesNothingEndsTheSendInsteadOfSpinning) {
  Pair pair;
  TTCPBlockSocket s([](TTCPBlockSocket& sock) { return std::make_unique<TStuckSSL>(sock); });
  s.SetSocket(pair.fd[0]);
  s.SSLDoConnect();
  ASSERT_TRUE(s.SSL()->SslEnabled());
  EXPECT_EQ(s.SendBuffer("abc", 3), 0);
  EXPECT_EQ(s.LastError(), 10091);
}

TEST(TlsSlot, FactoryChoosesThePluginOfLaterSockets) {
  TSSLClass saved = SSLImplementation;
  SSLImplementation = [](TTCPBlockSocket& sock) -> std::unique_ptr<TCustomSSL> {
    return std::make_unique<TFlipSSL>(sock);
  };
  TTCPBlockSocket with_flip;
  SSLImplementation = saved;
  TTCPBlockSocket with_default;
  EXPECT_NE(dynamic_cast<TFlipSSL*>(with_flip.SSL()), nullptr);
  EXPECT_EQ(with_default.SSL()->ClassName(), "TSSLNone");
  EXPECT_EQ(with_flip.SSL()->Socket(), &with_flip);

  with_flip.SSL()->set_SNIHost("example.test");
  with_flip.SSL()->set_VerifyCert(true);
  with_flip.SSL()->set_CertCAFile("/etc/ssl/certs/ca.pem");
  with_flip.SSL()->set_SSHChannelType("session");
  with_default.SSL()->Assign(*with_flip.SSL());
  EXPECT_EQ(with_default.SSL()->SNIHost(), "example.test");
  EXPECT_TRUE(with_default.SSL()->VerifyCert());
  EXPECT_EQ(with_default.SSL()->CertCAFile(), "/etc/ssl/certs/ca.pem");
  EXPECT_EQ(with_default.SSL()->SSHChannelType(), "");  // not a setting that is copied
  EXPECT_EQ(with_default.SSL()->CertComplianceLevel(), -1);
}

}  // namespace
}  // namespace velmora::net
