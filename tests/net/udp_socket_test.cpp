// UDP sockets on loopback against plain sockets of the test's own:
// connectionless connect, datagrams through the buffered readers, the
// sender replacing RemoteSin, IPv6, and the limits of one datagram.
// Broadcast and multicast run inside network namespaces the test makes.
#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "tests/peers/udp_peers.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

using namespace std::chrono_literals;
using velmora::testing::RunInNetNamespace;
using velmora::testing::UdpPeer;

TEST(UdpSocket, ConnectNeedsNoListenerAndEachSendIsOneDatagram) {
  {
    UdpPeer gone;  // a port that was free, with nothing on it any more
    const int port = gone.port();
    TUDPBlockSocket s;
    std::string connected;
    s.OnStatus = [&](host::TObject*, THookSocketReason r, const std::string& v) {
      if (r == HR_Connect) connected = v;
    };
    s.Connect("127.0.0.1", std::to_string(port));
    EXPECT_EQ(s.LastError(), 0) << s.LastErrorText();
    EXPECT_EQ(connected, "127.0.0.1:" + std::to_string(port));
    EXPECT_NE(s.Socket(), INVALID_SOCKET);
  }
  UdpPeer peer;
  TUDPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(peer.port()));
  ASSERT_EQ(s.LastError(), 0);
  s.SendString("first");
  EXPECT_EQ(s.LastError(), 0) << s.LastErrorText();
  s.SendBlock("xyz");  // the length and the bytes together: one datagram
  EXPECT_EQ(peer.Recv(2s), "first");
  EXPECT_EQ(peer.Recv(2s), std::string("\x03\x00\x00\x00xyz", 7));
  EXPECT_FALSE(peer.Recv(100ms).has_value());
  EXPECT_EQ(s.BytesSent(), 12);

  // Larger than a datagram can be: the system refuses it, nothing is sent.
  s.SendString(std::string(70000, 'a'));
  EXPECT_EQ(s.LastError(), WSAEMSGSIZE);
  EXPECT_FALSE(peer.Recv(100ms).has_value());
}

TEST(UdpSocket, LinesAcrossDatagramsAndEachSenderBecomesRemoteSin) {
  UdpPeer a;
  UdpPeer b;
  TUDPBlockSocket s;
  s.Bind("127.0.0.1", "0");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  const int port = s.GetLocalSinPort();
  a.SendTo(port, "hel");
  a.SendTo(port, "lo\r\nwor");
  EXPECT_EQ(s.RecvString(2000), "hello");
  EXPECT_EQ(s.InputBacklog(), "wor");
  EXPECT_EQ(s.GetRemoteSinPort(), a.port());
  b.SendTo(port, "ld\r\n");
  EXPECT_EQ(s.RecvString(2000), "world");
  EXPECT_EQ(s.GetRemoteSinPort(), b.port());
  EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.1");
  // An answer goes to whoever sent last.
  s.SendString("to b");
  EXPECT_EQ(b.Recv(2s), "to b");
  EXPECT_FALSE(a.Recv(100ms).has_value());

  // An empty datagram is an empty packet, not a closed connection, and does
  // not block the ones behind it.
  a.SendTo(port, "");
  a.SendTo(port, "after");
  EXPECT_EQ(s.RecvPacket(2000), "");
  EXPECT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(s.RecvPacket(2000), "after");
  EXPECT_EQ(s.RecvPacket(100), "");
  EXPECT_EQ(s.LastError(), WSAETIMEDOUT);
}

TEST(UdpSocket, Ipv6) {
  UdpPeer peer(true);
  TUDPBlockSocket s;
  s.Connect("::1", std::to_string(peer.port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_TRUE(s.UsesIPv6());
  s.SendString("six");
  int from = 0;
  EXPECT_EQ(peer.Recv(2s, &from), "six");
  ASSERT_NE(from, 0);
  peer.SendTo(from, "back");
  EXPECT_EQ(s.RecvPacket(2000), "back");
  EXPECT_EQ(s.GetRemoteSinIP(), "::1");
  EXPECT_EQ(s.GetRemoteSinPort(), peer.port());
}

// Membership is set with the kernel's own records: joining works for both
// families, leaving a group twice fails the second time (the kernel knows
// the first leave), and a group address that is none is refused.
TEST(UdpSocket, MulticastMembershipRecordsReachTheKernel) {
  for (const auto& [any, group] : {std::pair{"0.0.0.0", "239.1.2.3"}, {"::", "ff15::1:3"}}) {
    SCOPED_TRACE(group);
    TUDPBlockSocket s;
    // (A fresh socket of no family bound to 0.0.0.0:0 binds only when it sends.)
    s.set_Family(std::string(any) == "::" ? SF_IP6 : SF_IP4);
    s.Bind(any, "0");
    ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
    s.AddMulticast(group);
    EXPECT_EQ(s.LastError(), 0) << s.LastErrorText();
    s.DropMulticast(group);
    EXPECT_EQ(s.LastError(), 0) << s.LastErrorText();
    s.DropMulticast(group);
    EXPECT_NE(s.LastError(), 0);
  }
  TUDPBlockSocket s;
  s.Bind("127.0.0.1", "0");
  s.AddMulticast("10.1.2.3");
  EXPECT_EQ(s.LastError(), WSAEINVAL);
  TUDPBlockSocket unbound;
  unbound.AddMulticast("239.1.2.3");
  EXPECT_NE(unbound.LastError(), 0);
}

#define CHECK_OR_RETURN(cond, what) \
  if (!(cond)) return std::string(what)

// Binds to 0.0.0.0 on a port of the system's choice; returns the port.
std::string ListenOnAnyAddress(TUDPBlockSocket& s) {
  s.set_Family(SF_IP4);  // with no family, 0.0.0.0:0 would bind only at the first send
  s.Bind("0.0.0.0", "0");
  return std::to_string(s.GetLocalSinPort());
}

TEST(UdpNetns, MulticastGroupMembersAndTTL) {
  std::string failure = RunInNetNamespace([] {
    TUDPBlockSocket member;
    const std::string port = ListenOnAnyAddress(member);
    member.AddMulticast("239.1.2.3");
    CHECK_OR_RETURN(member.LastError() == 0, "join: " + member.LastErrorText());
    TUDPBlockSocket sender;
    sender.SetMulticastTTL(3);
    sender.EnableMulticastLoop(true);
    sender.Connect("239.1.2.3", port);
    CHECK_OR_RETURN(sender.GetMulticastTTL() == 3,
                    "multicast TTL " + std::to_string(sender.GetMulticastTTL()));
    sender.SendString("one");
    std::string got = member.RecvPacket(2000);
    CHECK_OR_RETURN(got == "one", "member received \"" + got + "\": " + member.LastErrorText());

    member.DropMulticast("239.1.2.3");
    CHECK_OR_RETURN(member.LastError() == 0, "drop: " + member.LastErrorText());
    sender.SendString("two");
    got = member.RecvPacket(300);
    CHECK_OR_RETURN(got.empty() && member.LastError() == WSAETIMEDOUT,
                    "after the drop the member received \"" + got + "\"");
    return std::string();
  });
  EXPECT_EQ(failure, "");
}

// Loopback hands every datagram back whatever the loop option says, so the
// group is routed through one end of a veth pair: only the host's own copy
// can then reach the member, and the option decides whether it is made.
TEST(UdpNetns, MulticastLoopOptionDecidesWhetherTheHostHearsItself) {
  std::string failure = RunInNetNamespace(
      [] {
        TUDPBlockSocket member;
        const std::string port = ListenOnAnyAddress(member);
        member.AddMulticast("239.1.2.3");
        CHECK_OR_RETURN(member.LastError() == 0, "join: " + member.LastErrorText());
        for (bool loop : {true, false}) {
          TUDPBlockSocket sender;
          sender.EnableMulticastLoop(loop);
          sender.Connect("239.1.2.3", port);
          sender.SendString(loop ? "heard" : "unheard");
          std::string got = member.RecvPacket(loop ? 2000 : 300);
          CHECK_OR_RETURN(got == (loop ? "heard" : ""),
                          "loop " + std::to_string(loop) + ": received \"" + got + "\"");
        }
        return std::string();
      },
      "ip link set lo up && ip link add v0 type veth peer name v1 && ip link set v0 up && "
      "ip addr add 10.9.0.1/24 dev v0 && ip route add 224.0.0.0/4 dev v0");
  EXPECT_EQ(failure, "");
}

TEST(UdpNetns, BroadcastNeedsTheOption) {
  std::string failure = RunInNetNamespace([] {
    TUDPBlockSocket listener;
    const std::string port = ListenOnAnyAddress(listener);
    TUDPBlockSocket s;
    s.Connect("127.255.255.255", port);
    s.SendString("refused");
    CHECK_OR_RETURN(s.LastError() == WSAEACCES,
                    "broadcast without the option: " + std::to_string(s.LastError()));
    s.EnableBroadcast(true);
    s.SendString("everyone");
    CHECK_OR_RETURN(s.LastError() == 0, "broadcast: " + s.LastErrorText());
    std::string got = listener.RecvPacket(2000);
    CHECK_OR_RETURN(got == "everyone", "listener received \"" + got + "\"");
    return std::string();
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
}  // namespace velmora::net
