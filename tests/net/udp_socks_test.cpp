// UDP through a SOCKS 5 relay: against dante (the datagram on the wire, the
// payload at the target, the reply with its sender, refusals) and against a
// scripted proxy of the test's own whose relay sends malformed datagrams.
#include <chrono>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "tests/peers/udp_peers.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

using namespace std::chrono_literals;
using velmora::testing::Bytes;
using velmora::testing::DanteServer;
using velmora::testing::FreeLoopbackPort;
using velmora::testing::Port16;
using velmora::testing::RecvExactly;
using velmora::testing::RecvUntilClose;
using velmora::testing::SendAll;
using velmora::testing::TcpServer;
using velmora::testing::TempDir;
using velmora::testing::UdpPeer;

TEST(DanteConcurrency, UdpAssociateRelaysADatagramAndItsReply) {
  TempDir dir;
  DanteServer dante(dir, false);
  UdpPeer target;
  TUDPBlockSocket s;
  std::vector<std::string> written;
  s.OnMonitor = [&](host::TObject*, bool writing, const void* buffer, int32_t len) {
    if (writing) written.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(len));
  };
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(dante.port()));
  s.Connect("127.0.0.1", std::to_string(target.port()));
  s.SendString("0123456789");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText() << "\n" << dante.Log();
  EXPECT_TRUE(s.ViaSocks());
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0], Bytes({0, 0, 0, 1, 127, 0, 0, 1}) + Port16(target.port()) + "0123456789");
  EXPECT_EQ(s.BytesSent(), 20);

  int relay_port = 0;
  EXPECT_EQ(target.Recv(5s, &relay_port), "0123456789") << dante.Log();
  ASSERT_NE(relay_port, 0);
  target.SendTo(relay_port, "reply");
  EXPECT_EQ(s.RecvPacket(5000), "reply") << s.LastErrorText() << "\n" << dante.Log();
  EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.1");
  EXPECT_EQ(s.GetRemoteSinPort(), target.port());
}

TEST(DanteConcurrency, RefusedOrUnreachableUdpAssociationSendsNothing) {
  TempDir dir;
  DanteServer dante(dir, true);  // asks for a user name this socket does not offer
  UdpPeer target;
  for (int proxy_port : {dante.port(), FreeLoopbackPort()}) {
    TUDPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(std::to_string(proxy_port));
    s.Connect("127.0.0.1", std::to_string(target.port()));
    s.SendString("never");
    EXPECT_EQ(s.LastError(), WSANO_RECOVERY);
    EXPECT_EQ(s.LastErrorText(), "Non recoverable error");
    EXPECT_EQ(s.BytesSent(), 0);
  }
  EXPECT_FALSE(target.Recv(200ms).has_value());
}

// A SOCKS 5 proxy that grants every UDP association with the wildcard
// address and the port of `relay`, and holds the control connection open.
TcpServer::Handler GrantAssociation(int relay_port) {
  return [relay_port](int fd, const std::atomic<bool>& stop) {
    if (RecvExactly(fd, 3, 5s) != Bytes({5, 1, 0})) return;
    SendAll(fd, Bytes({5, 0}));
    if (RecvExactly(fd, 10, 5s).substr(0, 4) != Bytes({5, 3, 0, 1})) return;
    SendAll(fd, Bytes({5, 0, 0, 1, 0, 0, 0, 0}) + Port16(relay_port));
    while (!stop.load() && !RecvUntilClose(fd, 100ms).empty()) {
    }
  };
}

TEST(UdpSocksConcurrency, MalformedRelayedDatagramsAreDroppedAsErrors) {
  UdpPeer relay;
  TcpServer proxy(GrantAssociation(relay.port()));
  TUDPBlockSocket s;
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(std::to_string(proxy.port()));
  s.Connect("127.0.0.1", "9");
  s.SendString("hi");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  // The wildcard in the proxy's answer means the proxy's own address.
  int client_port = 0;
  EXPECT_EQ(relay.Recv(2s, &client_port), Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0, 9}) + "hi");
  ASSERT_NE(client_port, 0);

  const std::string malformed[] = {
      Bytes({0, 0, 0}),                                         // shorter than any header
      Bytes({0, 0, 0, 1, 127, 0}),                              // address cut short
      Bytes({0, 0, 0, 9, 127, 0, 0, 1, 0, 53}) + "x",           // no such address type
      Bytes({0, 0, 0, 3, 200}) + "name",                        // name longer than the datagram
      Bytes({0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),  // IPv6 address cut short
      Bytes({0, 0, 1, 1, 127, 0, 0, 2, 0, 53}) + "frag",        // a fragment
  };
  for (const std::string& d : malformed) {
    SCOPED_TRACE(d.size());
    relay.SendTo(client_port, d);
    EXPECT_EQ(s.RecvPacket(2000), "");
    EXPECT_EQ(s.LastError(), WSANO_RECOVERY);
  }
  relay.SendTo(client_port, Bytes({0, 0, 0, 1, 127, 0, 0, 2, 0, 53}) + "answer");
  EXPECT_EQ(s.RecvPacket(2000), "answer");
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.2");
  EXPECT_EQ(s.GetRemoteSinPort(), 53);
  relay.SendTo(client_port, Bytes({0, 0, 0, 3, 9}) + "localhost" + Port16(7) + "named");
  EXPECT_EQ(s.RecvPacket(2000), "named");
  EXPECT_EQ(s.GetRemoteSinPort(), 7);
}

}  // namespace
}  // namespace velmora::net
