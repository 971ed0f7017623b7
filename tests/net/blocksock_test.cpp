// The block socket over loopback connections driven from the test's own
// thread: line reading, exact counts, framing, errors, deferred options,
// hooks, bandwidth limiting, high descriptors and closed peers.
#include "velmora/net/blocksock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "velmora/host/streams.h"

namespace velmora::net {
namespace {

using testing_clock = std::chrono::steady_clock;
using velmora::testing::RecvExactly;
using velmora::testing::SendAll;

// A listening loopback socket; the test accepts the connection itself.
class Listener {
 public:
  explicit Listener(bool ipv6 = false) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    TVarSin sin;
    SetVarSin(sin, ipv6 ? "::1" : "127.0.0.1", "0", ipv6 ? AF_INET6 : AF_INET, 0, SOCK_STREAM,
              true);
    EXPECT_EQ(net::Bind(fd_, sin), 0);
    EXPECT_EQ(::listen(fd_, 16), 0);
    GetSockName(fd_, sin);
    port_ = std::to_string(GetSinPort(sin));
  }
  ~Listener() { ::close(fd_); }
  const std::string& port() const { return port_; }
  int Accept() { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

 private:
  int fd_;
  std::string port_;
};

// A client socket connected to a peer descriptor that the test drives.
struct Connection {
  Listener listener;
  TTCPBlockSocket sock;
  int peer = -1;
  explicit Connection(bool ipv6 = false) : listener(ipv6) {
    sock.Connect(ipv6 ? "::1" : "127.0.0.1", listener.port());
    EXPECT_EQ(sock.LastError(), 0) << sock.LastErrorText();
    peer = listener.Accept();
  }
  ~Connection() {
    if (peer >= 0) ::close(peer);
  }
  // Sends bytes from the peer side and waits until the client can see them,
  // so that each Write arrives as a packet of its own.
  void Write(const std::string& bytes) {
    ASSERT_TRUE(SendAll(peer, bytes));
    ASSERT_TRUE(sock.CanRead(2000));
  }
  void ClosePeer() {
    ::close(peer);
    peer = -1;
  }
};

// Records the status events of a socket; detaches itself first when it goes
// away before the socket (whose close still reports).
struct StatusLog {
  std::vector<std::pair<THookSocketReason, std::string>> events;
  TBlockSocket* sock = nullptr;
  ~StatusLog() {
    if (sock) sock->OnStatus = nullptr;
  }
  void Attach(TBlockSocket& s) {
    sock = &s;
    s.OnStatus = [this](host::TObject*, THookSocketReason r, const std::string& v) {
      events.emplace_back(r, v);
    };
  }
  int Count(THookSocketReason r) const {
    int n = 0;
    for (auto& e : events) n += e.first == r;
    return n;
  }
};

// --- Lines

TEST(BlockSocketLines, TwoLinesInOnePacketSecondComesFromTheBacklog) {
  Connection c;
  StatusLog log;
  log.Attach(c.sock);
  c.Write("abc\r\ndef\r\n");
  EXPECT_EQ(c.sock.RecvString(1000), "abc");
  EXPECT_EQ(c.sock.InputBacklog(), "def\r\n");
  EXPECT_EQ(c.sock.RecvString(1000), "def");
  EXPECT_EQ(c.sock.LastError(), 0);
  EXPECT_EQ(log.Count(HR_ReadCount), 1);  // the second line did not touch the socket
  EXPECT_EQ(c.sock.BytesReceived(), 10);
}

TEST(BlockSocketLines, ConvertLineEndJoinsACarriageReturnAndTheNextPacketsLineFeed) {
  Connection c;
  c.sock.set_ConvertLineEnd(true);
  c.Write("abc\r");
  EXPECT_EQ(c.sock.RecvString(1000), "abc");
  c.Write("\ndef\r\n");
  EXPECT_EQ(c.sock.RecvString(1000), "def");
  c.Write("ghi\njkl\r");
  EXPECT_EQ(c.sock.RecvString(1000), "ghi");
  EXPECT_EQ(c.sock.RecvString(1000), "jkl");
  c.Write("mno\n\rpqr\r\n");  // LF CR is one line end too
  EXPECT_EQ(c.sock.RecvString(1000), "mno");
  EXPECT_EQ(c.sock.RecvString(1000), "pqr");
  EXPECT_EQ(c.sock.InputBacklog(), "");
  // Without ConvertLineEnd only CR LF ends a line.
  c.sock.set_ConvertLineEnd(false);
  c.Write("a\nb\rc\r\n");
  EXPECT_EQ(c.sock.RecvString(1000), "a\nb\rc");
}

TEST(BlockSocketLines, OverlongLineFailsAndKeepsItsBytes) {
  Connection c;
  c.sock.set_MaxLineLength(10);
  c.Write("abcdefghijkl");
  EXPECT_EQ(c.sock.RecvString(1000), "");
  EXPECT_EQ(c.sock.LastError(), 10055);
  EXPECT_EQ(c.sock.LastErrorText(), "No Buffer space available");
  EXPECT_EQ(c.sock.InputBacklog(), "abcdefghijkl");
  // The limit applies to the line, not to the lines queued behind it.
  Connection d;
  d.sock.set_MaxLineLength(10);
  d.Write("short\r\n" + std::string(40, 'x') + "\r\n");
  EXPECT_EQ(d.sock.RecvString(1000), "short");
  EXPECT_EQ(d.sock.LastError(), 0);
  EXPECT_EQ(d.sock.RecvString(1000), "");
  EXPECT_EQ(d.sock.LastError(), 10055);
}

TEST(BlockSocketLines, DelimiterSplitAcrossPacketsIsFound) {
  Connection c;
  c.Write("ab|");
  c.Write("|cd");
  EXPECT_EQ(c.sock.RecvTerminated(1000, "||"), "ab");
  EXPECT_EQ(c.sock.InputBacklog(), "cd");
  EXPECT_EQ(c.sock.RecvTerminated(1000, ""), "");
  c.Write("ef||");
  EXPECT_EQ(c.sock.RecvTerminated(1000, "||"), "cdef");
}

TEST(BlockSocketLines, TimeoutAndClosedPeerKeepWhatWasGathered) {
  Connection c;
  c.Write("partial");
  EXPECT_EQ(c.sock.RecvString(200), "");
  EXPECT_EQ(c.sock.LastError(), 10060);
  EXPECT_EQ(c.sock.InputBacklog(), "partial");
  c.sock.SendString("");  // a send of nothing reports no failure of its own
  EXPECT_EQ(c.sock.LastError(), 0);
  c.ClosePeer();
  EXPECT_EQ(c.sock.RecvString(1000), "");
  EXPECT_EQ(c.sock.LastError(), 10054);
  EXPECT_EQ(c.sock.InputBacklog(), "partial");
  EXPECT_EQ(c.sock.RecvPacket(1000), "partial");
  EXPECT_EQ(c.sock.RecvPacket(1000), "");
  EXPECT_EQ(c.sock.LastError(), 10054);
  EXPECT_EQ(c.sock.LastErrorText(), "Connection reset by peer");
}

TEST(BlockSocketLines, RaisedErrorsStillKeepTheGatheredBytes) {
  Connection c;
  c.sock.set_RaiseExcept(true);
  c.Write("no end yet");
  try {
    c.sock.RecvString(100);
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10060);
    EXPECT_EQ(e.ErrorMessage(), "Connection timed out");
    EXPECT_STREQ(e.what(), "TCP/IP Socket error 10060: Connection timed out");
  }
  EXPECT_EQ(c.sock.InputBacklog(), "no end yet");
}

// --- Exact counts and framing

TEST(BlockSocketFraming, ExactCountsLeaveTheRestInTheBacklog) {
  Connection c;
  c.Write("0123456789ABCDE");
  char buf[10];
  EXPECT_EQ(c.sock.RecvBufferEx(buf, 10, 1000), 10);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(c.sock.InputBacklog(), "ABCDE");
  EXPECT_EQ(c.sock.WaitingDataEx(), 5);
  EXPECT_TRUE(c.sock.CanReadEx(0));
  EXPECT_EQ(c.sock.RecvPacket(1000), "ABCDE");
  c.Write("xy");
  EXPECT_EQ(c.sock.RecvByte(1000), 'x');
  EXPECT_EQ(c.sock.PeekByte(1000), 0);  // y is in the backlog, not on the socket
  EXPECT_EQ(c.sock.LastError(), 10060);
  EXPECT_EQ(c.sock.RecvByte(1000), 'y');
  c.Write("zz");
  EXPECT_EQ(c.sock.PeekByte(1000), 'z');
  EXPECT_EQ(c.sock.RecvBufferStr(2, 1000), "zz");
  c.Write("short");
  EXPECT_EQ(c.sock.RecvBufferStr(8, 200), "");  // the bytes taken are lost on error
  EXPECT_EQ(c.sock.LastError(), 10060);
}

TEST(BlockSocketFraming, IntegersBlocksAndStreamsRoundTrip) {
  Connection a;
  TBlockSocket* out = &a.sock;
  TTCPBlockSocket in;
  in.SetSocket(::dup(a.peer));
  out->SendInteger(0x01020304);
  std::string wire = RecvExactly(a.peer, 4, std::chrono::seconds(2));
  EXPECT_EQ(wire, std::string("\x04\x03\x02\x01", 4));  // little-endian
  out->SendInteger(-2);
  EXPECT_EQ(in.RecvInteger(1000), -2);
  out->SendBlock("hello");
  EXPECT_EQ(in.RecvBlock(1000), "hello");
  out->SendByte(0xFF);
  EXPECT_EQ(in.RecvByte(1000), 0xFF);

  host::TMemoryStream src;
  std::string payload(200000, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
  src.Write(payload.data(), static_cast<int64_t>(payload.size()));
  src.set_Position(0);
  out->SendStream(src);
  host::TMemoryStream dst;
  in.RecvStream(dst, 2000);
  ASSERT_EQ(in.LastError(), 0);
  ASSERT_EQ(dst.Size(), static_cast<int64_t>(payload.size()));
  EXPECT_EQ(std::memcmp(dst.Memory(), payload.data(), payload.size()), 0);

  src.set_Position(199990);
  out->SendStreamIndy(src);
  host::TMemoryStream tail;
  in.RecvStreamIndy(tail, 2000);
  EXPECT_EQ(tail.Size(), 10);

  // An empty stream still sends its size, so the receiver is not left
  // waiting for one.
  host::TMemoryStream empty;
  out->SendStream(empty);
  host::TMemoryStream got;
  in.RecvStream(got, 1000);
  EXPECT_EQ(in.LastError(), 0);
  EXPECT_EQ(got.Size(), 0);
}

TEST(BlockSocketFraming, HostileBlockLengthCostsNoMemoryUpFront) {
  Connection c;
  c.Write(std::string("\xff\xff\xff\x7f", 4) + "abc");
  c.ClosePeer();
  EXPECT_EQ(c.sock.RecvBlock(1000), "");
  EXPECT_EQ(c.sock.LastError(), 10054);
}

TEST(BlockSocketFraming, ReadFilterMayShortenButNeverGrow) {
  Connection c;
  c.sock.OnReadFilter = [](host::TObject*, std::string& v) {
    std::string out;
    for (char ch : v)
      if (ch != '-') out += ch;
    v = out + "this would overflow the buffer";
  };
  c.Write("a-b-c\r\n");
  EXPECT_EQ(c.sock.RecvPacket(1000), "abc\r\nth");  // cut back to the 7 bytes received
}

// --- Set-up, options, errors

TEST(BlockSocketSetup, BindToAnyOnAFreshSocketDoesNothing) {
  TTCPBlockSocket s;
  StatusLog log;
  log.Attach(s);
  s.Bind("0.0.0.0", "0");
  EXPECT_EQ(s.Socket(), INVALID_SOCKET);
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(s.LastError(), 0);
}

TEST(BlockSocketSetup, ConnectReportsEachStepWithItsText) {
  Listener l;
  TTCPBlockSocket s;
  StatusLog log;
  log.Attach(s);
  s.Connect("127.0.0.1", l.port());
  ASSERT_EQ(s.LastError(), 0);
  const std::string target = "127.0.0.1:" + l.port();
  ASSERT_EQ(log.events.size(), 4u);
  EXPECT_EQ(log.events[0], std::make_pair(HR_ResolvingBegin, target));
  EXPECT_EQ(log.events[1], std::make_pair(HR_ResolvingEnd, target));
  EXPECT_EQ(log.events[2], std::make_pair(HR_SocketCreate, std::string("IPv4")));
  EXPECT_EQ(log.events[3], std::make_pair(HR_Connect, target));
  EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.1");
  EXPECT_EQ(std::to_string(s.GetRemoteSinPort()), l.port());
  EXPECT_EQ(s.GetLocalSinIP(), "127.0.0.1");
  s.CloseSocket();
  EXPECT_EQ(log.events.back(), std::make_pair(HR_SocketClose, std::string()));
  EXPECT_EQ(s.Socket(), INVALID_SOCKET);
  // A closed object connects again.
  s.Connect("127.0.0.1", l.port());
  EXPECT_EQ(s.LastError(), 0);

  Connection six(true);
  EXPECT_TRUE(six.sock.UsesIPv6());
  EXPECT_EQ(six.sock.GetRemoteSinIP(), "::1");
}

TEST(BlockSocketSetup, RefusedConnectionHasCodeTextAndErrorEvent) {
  std::string port;
  {
    Listener l;
    port = l.port();
  }
  TTCPBlockSocket s;
  StatusLog log;
  log.Attach(s);
  s.Connect("127.0.0.1", port);
  EXPECT_EQ(s.LastError(), 10061);
  EXPECT_EQ(s.LastErrorText(), "Connection refused");
  EXPECT_EQ(log.Count(HR_Error), 1);
  bool seen = false;
  for (auto& e : log.events) seen |= e.first == HR_Error && e.second == "10061,Connection refused";
  EXPECT_TRUE(seen);
  s.set_RaiseExcept(true);
  try {
    s.Connect("127.0.0.1", port);
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10061);
    EXPECT_STREQ(e.what(), "TCP/IP Socket error 10061: Connection refused");
    EXPECT_EQ(e.ClassName(), "ESocketError");
  }
}

TEST(BlockSocketSetup, FailedHandleCreationKeepsOptionsAndReportsItsOwnError) {
  Listener l;
  TTCPBlockSocket s;
  StatusLog log;
  log.Attach(s);
  bool hook_called = false;
  s.OnCreateSocket = [&](host::TObject*) { hook_called = true; };
  s.SetSizeRecvBuffer(12345);
  // Let the next descriptor fail: the soft limit at the lowest free number.
  // Everything else is made first: with the limit this low, nothing in the
  // process (sanitizer run-times included) can open a file.
  int probe = ::dup(0);
  ASSERT_GE(probe, 0);
  ::close(probe);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(probe);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  s.Connect("127.0.0.1", l.port());
  int32_t error = s.LastError();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(error, 10024);  // too many open files, not a later 10009 on no handle
  EXPECT_EQ(s.Socket(), INVALID_SOCKET);
  EXPECT_EQ(log.Count(HR_SocketCreate), 0);
  EXPECT_FALSE(hook_called);
  EXPECT_EQ(s.PendingOptions().size(), 1u);  // kept for the next attempt
  s.Connect("127.0.0.1", l.port());
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_TRUE(hook_called);
  EXPECT_TRUE(s.PendingOptions().empty());
}

TEST(BlockSocketSetup, ErrorTexts) {
  EXPECT_EQ(TBlockSocket::GetErrorDesc(0), "");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10054), "Connection reset by peer");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10091), "Network subsystem is unusable");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(11001), "Host not found");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(12345), "Other Winsock error (12345)");
}

TEST(BlockSocketSetup, DeferredOptionsAreAppliedBeforeCreateHookAndDiscardedByClose) {
  Listener l;
  TTCPBlockSocket s;
  int32_t size_in_hook = 0;
  std::vector<std::string> order;
  s.OnStatus = [&](host::TObject*, THookSocketReason r, const std::string&) {
    if (r == HR_SocketCreate) order.push_back("create");
  };
  s.OnCreateSocket = [&](host::TObject* sender) {
    order.push_back("hook");
    size_in_hook = static_cast<TBlockSocket*>(sender)->GetSizeRecvBuffer();
  };
  s.SetSizeRecvBuffer(12345);
  EXPECT_EQ(s.PendingOptions().size(), 1u);
  s.Connect("127.0.0.1", l.port());
  ASSERT_EQ(s.LastError(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"create", "hook"}));
  EXPECT_EQ(size_in_hook, 2 * 12345);  // the system doubles what it is asked for
  EXPECT_TRUE(s.PendingOptions().empty());

  TTCPBlockSocket t;
  int32_t default_size = 0;
  t.OnCreateSocket = [&](host::TObject* sender) {
    default_size = static_cast<TBlockSocket*>(sender)->GetSizeRecvBuffer();
  };
  t.SetSizeRecvBuffer(12345);
  t.CloseSocket();
  EXPECT_TRUE(t.PendingOptions().empty());
  t.Connect("127.0.0.1", l.port());
  EXPECT_NE(default_size, 2 * 12345);
  // With a handle an option applies at once.
  t.SetSizeRecvBuffer(23456);
  EXPECT_EQ(t.GetSizeRecvBuffer(), 2 * 23456);
}

TEST(BlockSocketSetup, ListenAcceptAndAdoptAHandle) {
  TTCPBlockSocket server;
  server.Bind("127.0.0.1", "0");
  server.Listen();
  ASSERT_EQ(server.LastError(), 0);
  std::string port = std::to_string(server.GetLocalSinPort());
  TTCPBlockSocket client;
  client.Connect("127.0.0.1", port);
  ASSERT_EQ(client.LastError(), 0);
  ASSERT_TRUE(server.CanRead(2000));
  TTCPBlockSocket conn;
  conn.set_Socket(server.Accept());
  ASSERT_EQ(server.LastError(), 0);
  EXPECT_EQ(conn.GetRemoteSinPort(), client.GetLocalSinPort());
  EXPECT_EQ(conn.GetLocalSinPort(), server.GetLocalSinPort());
  client.SendString("ping\r\n");
  EXPECT_EQ(conn.RecvString(2000), "ping");
  EXPECT_EQ(conn.BytesReceived(), 6);
}

TEST(BlockSocketSetup, NamesInTheSocketsFamily) {
  TTCPBlockSocket s;
  EXPECT_EQ(s.ResolveName("localhost"), "127.0.0.1");
  EXPECT_EQ(s.ResolveName("no-such-host.invalid"), "0.0.0.0");
  EXPECT_EQ(s.ResolvePort("http"), 80);
  EXPECT_EQ(s.ResolveIPToName("localhost"), "localhost");
  EXPECT_FALSE(s.LocalName().empty());
  s.set_Family(SF_IP6);
  EXPECT_EQ(s.ResolveName("::1"), "::1");
  EXPECT_EQ(s.ResolveName("127.0.0.1"), "0.0.0.0");
}

TEST(BlockSocketSetup, PublishedPropertiesStartAtTheirStreamDefaults) {
  TTCPBlockSocket s;
  TNetClient client;
  const std::pair<const host::TObject*, const std::vector<host::PropInfo>*> classes[] = {
      {&s, &s.PublishedProperties()},
      {s.SSL(), &s.SSL()->PublishedProperties()},
      {&client, &client.PublishedProperties()}};
  for (auto [object, list] : classes)
    for (const host::PropInfo& p : *list)
      EXPECT_TRUE(host::IsDefaultPropValue(*object, p))
          << p.name << " = " << host::GetPropText(*object, p);
  const host::PropInfo* family = host::FindProperty(s.PublishedProperties(), "Family");
  ASSERT_NE(family, nullptr);
  host::SetPropText(s, *family, "SF_IP6");
  EXPECT_EQ(s.Family(), SF_IP6);
  host::SetPropText(s, *host::FindProperty(s.PublishedProperties(), "socksresolver"), "false");
  EXPECT_FALSE(s.SocksResolver());
  EXPECT_THROW(host::SetPropText(s, *host::FindProperty(s.PublishedProperties(), "Tag"), "x"),
               host::EConvertError);
}

TEST(BlockSocketSetup, UnitStartUpFailureRaisesTheLoadingError) {
  unit_blocksock::Finalize();
  try {
    unit_blocksock::StartSocketLibrary("no-such-stack.dll");
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_EQ(e.ErrorMessage(), "Error loading Socket interface (ws2_32.dll)!");
    EXPECT_STREQ(e.what(), "Error loading Socket interface (ws2_32.dll)!");
  }
  EXPECT_FALSE(unit_blocksock::Initialized());
  unit_blocksock::Initialize();
  unit_blocksock::Initialize();
  EXPECT_TRUE(unit_blocksock::Initialized());
  EXPECT_EQ(TBlockSocket::GetWsaData().wVersion, 0x0202);
}

// --- Sending

TEST(BlockSocketSending, PiecesOfSendMaxChunkWithMonitorAndCounts) {
  Connection c;
  StatusLog log;
  log.Attach(c.sock);
  int monitored = 0;
  c.sock.OnMonitor = [&](host::TObject*, bool writing, const void*, int32_t len) {
    if (writing) monitored += len;
  };
  c.sock.set_SendMaxChunk(1000);
  std::string data(2500, 'q');
  EXPECT_EQ(c.sock.SendBuffer(data.data(), 2500), 2500);
  EXPECT_EQ(monitored, 2500);
  std::vector<std::string> counts;
  for (auto& e : log.events)
    if (e.first == HR_WriteCount) counts.push_back(e.second);
  EXPECT_EQ(counts, (std::vector<std::string>{"1000", "1000", "500"}));
  EXPECT_EQ(c.sock.BytesSent(), 2500);
  EXPECT_EQ(RecvExactly(c.peer, 2500, std::chrono::seconds(2)), data);
}

TEST(BlockSocketSending, BandwidthLimitPausesTheNextPiece) {
  Connection c;
  StatusLog log;
  log.Attach(c.sock);
  c.sock.set_MaxSendBandwidth(1000);
  std::string half(500, 'b');
  auto start = testing_clock::now();
  c.sock.SendString(half);
  c.sock.SendString(half);
  auto elapsed = testing_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(400));
  ASSERT_EQ(log.Count(HR_Wait), 1);
  for (auto& e : log.events)
    if (e.first == HR_Wait) {
      int ms = std::stoi(e.second);
      EXPECT_GT(ms, 0);
      EXPECT_LE(ms, 500);
    }
}

TEST(BlockSocketSending, ReceiveBandwidthLimitPausesTheNextRead) {
  Connection c;
  StatusLog log;
  log.Attach(c.sock);
  c.sock.set_MaxRecvBandwidth(1000);
  c.Write(std::string(1000, 'r'));
  char buf[500];
  auto start = testing_clock::now();
  EXPECT_EQ(c.sock.RecvBuffer(buf, 500), 500);
  EXPECT_EQ(c.sock.RecvBuffer(buf, 500), 500);
  EXPECT_GE(testing_clock::now() - start, std::chrono::milliseconds(400));
  ASSERT_EQ(log.Count(HR_Wait), 1);
  for (auto& e : log.events)
    if (e.first == HR_Wait) {
      EXPECT_GT(std::stoi(e.second), 0);
      EXPECT_LE(std::stoi(e.second), 500);
    }
}

// A peer that reads nothing: in non-blocking mode the send meets 10035 once
// the buffers are full, waits NonblockSendTimeout for room and ends in 10060
// with the count of what went out.
TEST(BlockSocketSending, NonBlockingSendToAFullPeerTimesOut) {
  Connection c;
  c.sock.SetNonBlockMode(true);
  c.sock.set_NonblockSendTimeout(200);
  const std::string chunk(1 << 20, 'f');
  int64_t sent = 0;
  for (int i = 0; i < 256 && c.sock.LastError() == 0; ++i)
    sent += c.sock.SendBuffer(chunk.data(), static_cast<int32_t>(chunk.size()));
  EXPECT_EQ(c.sock.LastError(), 10060);
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, 256LL << 20);
  EXPECT_EQ(c.sock.BytesSent(), sent);
}

TEST(BlockSocketSending, ClosedPeerGivesAnErrorNotSigpipe) {
  struct sigaction old_action {};
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old_action);
  Connection c;
  c.ClosePeer();
  std::string chunk(65536, 'x');
  for (int i = 0; i < 50 && c.sock.LastError() == 0; ++i) c.sock.SendString(chunk);
  EXPECT_EQ(c.sock.LastError(), 10054);
  sigaction(SIGPIPE, &old_action, nullptr);
}

// --- Waiting

TEST(BlockSocketWaiting, DescriptorAbove1023Works) {
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_cur < 3000) {
    rlimit raised = lim;
    raised.rlim_cur = raised.rlim_max < 3000 ? raised.rlim_max : 3000;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  }
  Connection c;
  int high = ::fcntl(c.sock.Socket(), F_DUPFD_CLOEXEC, 2500);
  ASSERT_GE(high, 2500);
  TTCPBlockSocket s;
  s.SetSocket(high);
  EXPECT_FALSE(s.CanRead(50));
  EXPECT_EQ(s.LastError(), 0);
  ASSERT_TRUE(SendAll(c.peer, "high\r\n"));
  EXPECT_EQ(s.RecvString(2000), "high");
  EXPECT_TRUE(s.CanWrite(1000));
}

TEST(BlockSocketWaiting, GroupCanReadTakesAnyNumberOfSockets) {
  std::vector<std::unique_ptr<TBlockSocket>> socks;
  std::vector<int> peers;
  std::vector<host::TObject*> list;
  host::TStringList not_a_socket;
  list.push_back(&not_a_socket);
  for (int i = 0; i < 70; ++i) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    auto s = std::make_unique<TTCPBlockSocket>();
    s->SetSocket(pair[0]);
    list.push_back(s.get());
    peers.push_back(pair[1]);
    socks.push_back(std::move(s));
  }
  std::vector<TBlockSocket*> ready;
  EXPECT_FALSE(socks[0]->GroupCanRead(list, 50, ready));
  EXPECT_TRUE(ready.empty());
  ASSERT_EQ(::write(peers[67], "a", 1), 1);
  ASSERT_EQ(::write(peers[3], "b", 1), 1);
  EXPECT_TRUE(socks[0]->GroupCanRead(list, 2000, ready));
  ASSERT_EQ(ready.size(), 2u);
  EXPECT_EQ(ready[0], socks[3].get());  // list order
  EXPECT_EQ(ready[1], socks[67].get());
  for (int p : peers) ::close(p);
}

TEST(BlockSocketWaiting, PurgeDiscardsBufferedAndWaitingBytes) {
  Connection c;
  c.Write("line one\r\nline two\r\n");
  EXPECT_EQ(c.sock.RecvString(1000), "line one");
  ASSERT_TRUE(SendAll(c.peer, "more"));
  ASSERT_TRUE(c.sock.CanRead(2000));
  c.sock.Purge();
  EXPECT_EQ(c.sock.InputBacklog(), "");
  EXPECT_EQ(c.sock.WaitingData(), 0);
  EXPECT_EQ(c.sock.LastError(), 0);
}

}  // namespace
}  // namespace velmora::net
