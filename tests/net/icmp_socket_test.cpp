// ICMP, raw IP and PGM sockets as the kernel sees them: the protocol each
// handle is made with, echo requests to 127.0.0.1 and ::1 answered by the
// kernel, replies told apart by identifier and sequence, a hand-made IP
// packet through the raw socket, and PGM failing where Linux has none.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/icmp_echo.h"

namespace velmora::net {
namespace {

int KernelProtocol(TSocket s) {
  int protocol = -1;
  socklen_t len = sizeof protocol;
  ::getsockopt(s, SOL_SOCKET, SO_PROTOCOL, &protocol, &len);
  return protocol;
}

// Reads packets until one is the reply to (id, seq) or `limit` packets or
// time-outs passed; the types seen before it go to `seen`.
bool AwaitReply(TICMPBlockSocket& s, uint16_t id, uint16_t seq, std::vector<int>& seen,
                std::string& payload, int32_t timeout = 2000) {
  for (int i = 0; i < 20; ++i) {
    std::string packet = s.RecvPacket(timeout);
    if (s.LastError() != 0) return false;
    TIcmpEchoReply r = ParseIcmpEchoReply(packet, s.UsesIPv6(), id, seq);
    if (r.Ours) {
      payload = r.Payload;
      return true;
    }
    seen.push_back(r.Type);
  }
  return false;
}

TEST(IcmpSocket, EchoToLoopbackIsMatchedToItsRequest) {
  for (const char* address : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(address);
    const bool v6 = std::string(address) == "::1";
    TICMPBlockSocket mine;
    TICMPBlockSocket other;  // another pinger on the same host
    mine.Connect(address, "0");
    other.Connect(address, "0");
    ASSERT_EQ(mine.LastError(), 0) << mine.LastErrorText();
    EXPECT_EQ(mine.GetSocketProtocol(), v6 ? 58 : 1);
    EXPECT_EQ(KernelProtocol(mine.Socket()), v6 ? 58 : 1);

    mine.SendString(IcmpEchoRequest(v6, 0x5a01, 7, "velmora echo"));
    ASSERT_EQ(mine.LastError(), 0) << mine.LastErrorText();
    std::vector<int> seen;
    std::string payload;
    ASSERT_TRUE(AwaitReply(mine, 0x5a01, 7, seen, payload)) << mine.LastErrorText();
    EXPECT_EQ(payload, "velmora echo");
    EXPECT_EQ(mine.GetRemoteSinIP(), address);
    // On loopback the request itself arrives before the reply (other
    // pingers on the host may add packets of their own).
    if (!v6) {
      EXPECT_NE(std::find(seen.begin(), seen.end(), kIcmpEchoRequest), seen.end());
    }

    // The other pinger sees the same reply, and it is not its own.
    std::vector<int> other_seen;
    EXPECT_FALSE(AwaitReply(other, 0x5a02, 7, other_seen, payload, 300));
    EXPECT_EQ(other.LastError(), WSAETIMEDOUT);
    const int reply_type = v6 ? kIcmp6EchoReply : kIcmpEchoReply;
    EXPECT_NE(std::find(other_seen.begin(), other_seen.end(), reply_type), other_seen.end());
  }
}

TEST(IcmpSocket, ChecksumAndTruncatedPackets) {
  // RFC 1071's worked example: the sum of 0001 f203 f4f5 f6f7 is ddf2.
  const std::string example("\x00\x01\xf2\x03\xf4\xf5\xf6\xf7", 8);
  EXPECT_EQ(InternetChecksum(example.data(), example.size()), 0x220d);
  const std::string request = IcmpEchoRequest(false, 1, 2, "abc");
  EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0);

  // An IPv4 reply cut anywhere, or with a header length past its end, is
  // never taken.
  std::string header("\x45\0\0\0\0\0\0\0\x40\x01\0\0\x7f\0\0\x01\x7f\0\0\x01", 20);
  std::string reply = IcmpEchoRequest(false, 1, 2, "abc");
  reply[0] = 0;
  reply[2] = reply[3] = 0;
  uint16_t sum = InternetChecksum(reply.data(), reply.size());
  reply[2] = static_cast<char>(sum >> 8);
  reply[3] = static_cast<char>(sum & 0xFF);
  const std::string packet = header + reply;
  TIcmpEchoReply whole = ParseIcmpEchoReply(packet, false, 1, 2);
  EXPECT_TRUE(whole.Ours);
  EXPECT_EQ(whole.TTL, 64);
  EXPECT_EQ(whole.Bytes, 11);
  for (size_t n = 0; n < packet.size(); ++n)
    EXPECT_FALSE(ParseIcmpEchoReply(packet.substr(0, n), false, 1, 2).Ours) << n;
  std::string long_header = packet;
  long_header[0] = '\x4f';  // 60 header bytes, more than there are
  EXPECT_FALSE(ParseIcmpEchoReply(long_header, false, 1, 2).Ours);
  std::string corrupt = packet;
  corrupt.back() ^= 1;
  EXPECT_FALSE(ParseIcmpEchoReply(corrupt, false, 1, 2).Ours);
}

// The raw socket sends a whole IPv4 packet of its own making (an echo
// request from 127.0.0.1 to 127.0.0.1); the kernel's reply shows it left.
TEST(IcmpSocket, RawSocketSendsItsOwnIpHeader) {
  TRAWBlockSocket raw;
  raw.Connect("127.0.0.1", "0");
  ASSERT_EQ(raw.LastError(), 0) << raw.LastErrorText();
  EXPECT_EQ(KernelProtocol(raw.Socket()), 255);
  TICMPBlockSocket icmp;
  icmp.Connect("127.0.0.1", "0");
  const std::string echo = IcmpEchoRequest(false, 0x5a03, 1, "raw");
  std::string ip("\x45\0\0\0\0\0\0\0\x40\x01\0\0\x7f\0\0\x01\x7f\0\0\x01", 20);
  ip[2] = 0;
  ip[3] = static_cast<char>(ip.size() + echo.size());
  const std::string packet = ip + echo;
  EXPECT_EQ(raw.SendBufferTo(packet.data(), static_cast<int32_t>(packet.size())),
            static_cast<int32_t>(packet.size()))
      << raw.LastErrorText();
  std::vector<int> seen;
  std::string payload;
  EXPECT_TRUE(AwaitReply(icmp, 0x5a03, 1, seen, payload)) << icmp.LastErrorText();
  EXPECT_EQ(payload, "raw");
}

// The handle itself is refused (10044 for the message type, 10043 for PGM
// over a stream), and so is every connect.
TEST(PgmSocket, CreatingAHandleFailsWithTheSystemsError) {
  TPGMMessageBlockSocket message;
  message.set_Family(SF_IP4);
  message.CreateSocket();
  EXPECT_EQ(message.LastError(), WSAESOCKTNOSUPPORT);
  EXPECT_EQ(message.LastErrorText(), "Socket not supported");
  TPGMStreamBlockSocket stream;
  stream.set_Family(SF_IP4);
  stream.CreateSocket();
  EXPECT_EQ(stream.LastError(), WSAEPROTONOSUPPORT);
  EXPECT_EQ(stream.LastErrorText(), "Protocol not supported");
  for (TBlockSocket* s : std::initializer_list<TBlockSocket*>{&message, &stream}) {
    s->Connect("127.0.0.1", "7500");
    EXPECT_NE(s->LastError(), 0);
    EXPECT_EQ(s->Socket(), INVALID_SOCKET);
  }
}

}  // namespace
}  // namespace velmora::net
