// SOCKS and HTTP tunnels against real servers: dante (SOCKS 4 and 5, with
// and without user name and password, BIND), OpenSSH (SOCKS 4a) and
// tinyproxy (CONNECT with Basic credentials).  The target behind each proxy
// is an echo server of the test's own; a recording relay checks the bytes
// the socket puts on the wire.
#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

using velmora::testing::Bytes;
using velmora::testing::DanteServer;
using velmora::testing::EchoHandler;
using velmora::testing::Port16;
using velmora::testing::RecordingRelay;
using velmora::testing::SendAll;
using velmora::testing::SshSocksProxy;
using velmora::testing::SystemUser;
using velmora::testing::TcpServer;
using velmora::testing::TempDir;
using velmora::testing::TinyProxy;

// Sends a line through the socket and expects it back from the echo target.
void ExpectEcho(TTCPBlockSocket& s, const std::string& line) {
  s.SendString(line + "\r\n");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(s.RecvString(5000), line);
  EXPECT_EQ(s.LastError(), 0) << s.LastErrorText();
}

TEST(DanteConcurrency, Socks5WithoutAuthenticationPutsTheExactBytesOnTheWire) {
  TempDir dir;
  DanteServer dante(dir, false);
  TcpServer target(EchoHandler());
  RecordingRelay relay(dante.port());
  TTCPBlockSocket s;
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(relay.port()));
  s.Connect("127.0.0.1", std::to_string(target.port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText() << "\n" << dante.Log();
  EXPECT_TRUE(s.ViaSocks());
  EXPECT_EQ(s.SocksBoundIP(), "127.0.0.1");
  ExpectEcho(s, "through dante");
  const std::string expected =
      Bytes({5, 1, 0}) + Bytes({5, 1, 0, 1, 127, 0, 0, 1}) + Port16(target.port());
  EXPECT_EQ(relay.ClientBytes().substr(0, expected.size()), expected);
  EXPECT_EQ(relay.ServerBytes().substr(0, 2), Bytes({5, 0}));
}

TEST(DanteConcurrency, Socks5UserNameAndPasswordFromTheSystemDatabase) {
  TempDir dir;
  SystemUser user("velmora_socks", "Pa55-word");
  DanteServer dante(dir, true);
  TcpServer target(EchoHandler());
  RecordingRelay relay(dante.port());
  TTCPBlockSocket s;
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(relay.port()));
  s.set_SocksUsername("velmora_socks");
  s.set_SocksPassword("Pa55-word");
  s.Connect("localhost", std::to_string(target.port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText() << "\n" << dante.Log();
  ExpectEcho(s, "authenticated");
  const std::string expected = Bytes({5, 2, 2, 0}) + Bytes({1, 13}) + "velmora_socks" + Bytes({9}) +
                               "Pa55-word" + Bytes({5, 1, 0, 3, 9}) + "localhost" +
                               Port16(target.port());
  EXPECT_EQ(relay.ClientBytes().substr(0, expected.size()), expected);

  TTCPBlockSocket wrong;
  wrong.set_SocksIP("127.0.0.1");
  wrong.set_SocksPort(std::to_string(dante.port()));
  wrong.set_SocksUsername("velmora_socks");
  wrong.set_SocksPassword("not-it");
  wrong.Connect("127.0.0.1", std::to_string(target.port()));
  EXPECT_EQ(wrong.LastError(), 10091);
  EXPECT_EQ(wrong.LastErrorText(), "Network subsystem is unusable");
}

TEST(DanteConcurrency, Socks4ConnectAndARefusedTarget) {
  TempDir dir;
  DanteServer dante(dir, false);
  TcpServer target(EchoHandler());
  TTCPBlockSocket s;
  s.set_SocksType(ST_Socks4);
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(dante.port()));
  s.Connect("127.0.0.1", std::to_string(target.port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText() << "\n" << dante.Log();
  EXPECT_EQ(s.SocksReplyCode(), 90);
  ExpectEcho(s, "socks four");

  // A port where nothing listens: the proxy refuses.
  int closed = velmora::testing::FreeLoopbackPort();
  TTCPBlockSocket refused;
  refused.set_SocksIP("127.0.0.1");
  refused.set_SocksPort(std::to_string(dante.port()));
  refused.Connect("127.0.0.1", std::to_string(closed));
  EXPECT_EQ(refused.LastError(), 10091);
  EXPECT_NE(refused.SocksReplyCode(), 0);
}

TEST(DanteConcurrency, ListenAndAcceptThroughABind) {
  TempDir dir;
  DanteServer dante(dir, false);
  TTCPBlockSocket s;
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(dante.port()));
  s.Listen();
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText() << "\n" << dante.Log();
  ASSERT_FALSE(s.SocksBoundIP().empty());
  ASSERT_NE(s.GetLocalSinPort(), 0);
  // A peer connects to the address the proxy bound for us.
  TTCPBlockSocket peer;
  peer.Connect(s.SocksBoundIP(), s.SocksBoundPort());
  ASSERT_EQ(peer.LastError(), 0) << peer.LastErrorText();
  EXPECT_EQ(s.Accept(), s.Socket());
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.1");
  EXPECT_EQ(s.GetRemoteSinPort(), peer.GetLocalSinPort());
  peer.SendString("bound\r\n");
  EXPECT_EQ(s.RecvString(5000), "bound");
  s.SendString("back\r\n");
  EXPECT_EQ(peer.RecvString(5000), "back");
}

TEST(OpenSshSocksConcurrency, Socks4aLetsTheProxyResolveTheName) {
  TempDir dir;
  SshSocksProxy ssh(dir);
  TcpServer target(EchoHandler());
  TTCPBlockSocket s;
  s.set_SocksType(ST_Socks4);
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(ssh.port()));
  s.set_SocksUsername("velmora");
  s.Connect("localhost", std::to_string(target.port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(s.SocksReplyCode(), 90);
  ExpectEcho(s, "four a");

  TTCPBlockSocket five;
  five.set_SocksIP("127.0.0.1");
  five.set_SocksPort(std::to_string(ssh.port()));
  five.Connect("localhost", std::to_string(target.port()));
  ASSERT_EQ(five.LastError(), 0) << five.LastErrorText();
  ExpectEcho(five, "five");
}

TEST(TinyproxyConcurrency, TunnelWithCredentialsCarriesBytesBothWays) {
  TempDir dir;
  TcpServer target(EchoHandler());
  TinyProxy proxy(dir, "tunnel", "s3cret", {target.port()});
  TTCPBlockSocket s;
  s.set_HTTPTunnelIP("127.0.0.1");
  s.set_HTTPTunnelPort(std::to_string(proxy.port()));
  s.set_HTTPTunnelUser("tunnel");
  s.set_HTTPTunnelPass("s3cret");
  s.Connect("127.0.0.1", std::to_string(target.port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText() << "\n" << proxy.Log();
  EXPECT_TRUE(s.TunnelOpen());
  ExpectEcho(s, "tunnelled");
  std::string big(300000, 'z');
  s.SendString(big);
  char* buf = new char[big.size()];
  EXPECT_EQ(s.RecvBufferEx(buf, static_cast<int32_t>(big.size()), 5000),
            static_cast<int32_t>(big.size()));
  EXPECT_EQ(std::string(buf, big.size()), big);
  delete[] buf;
}

TEST(TinyproxyConcurrency, EveryRefusalIsNetworkSubsystemUnusable) {
  TempDir dir;
  TcpServer target(EchoHandler());
  TcpServer unlisted(EchoHandler());
  TinyProxy proxy(dir, "tunnel", "s3cret", {target.port()});
  struct Case {
    std::string user, pass;
    int port;
    const char* why;
  };
  for (const Case& c : {Case{"", "", target.port(), "407 without credentials"},
                        Case{"tunnel", "wrong", target.port(), "401 with a wrong password"},
                        Case{"tunnel", "s3cret", unlisted.port(), "403 for a port not listed"}}) {
    TTCPBlockSocket s;
    s.set_HTTPTunnelIP("127.0.0.1");
    s.set_HTTPTunnelPort(std::to_string(proxy.port()));
    s.set_HTTPTunnelUser(c.user);
    s.set_HTTPTunnelPass(c.pass);
    s.Connect("127.0.0.1", std::to_string(c.port));
    EXPECT_EQ(s.LastError(), 10091) << c.why;
    EXPECT_EQ(s.LastErrorText(), "Network subsystem is unusable") << c.why;
    EXPECT_FALSE(s.TunnelOpen()) << c.why;
  }
}

}  // namespace
}  // namespace velmora::net
