// `velmora resolve` and `velmora connect` end to end: the program of this
// build against an echo server of the test's own, directly and through real
// proxies (dante, tinyproxy).
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using std::chrono::seconds;

TEST(ResolveCommand, NamesAddressesAndFailures) {
  RunResult r = RunVelmora({"resolve", "localhost", "--family", "4"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "127.0.0.1\n");
  r = RunVelmora({"resolve", "127.0.0.1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "localhost\n");
  r = RunVelmora({"resolve", "::1", "--json"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"address\": \"::1\", \"name\": ", 0), 0u) << r.out;
  r = RunVelmora({"resolve", "no-such-host.invalid"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("no address found for \"no-such-host.invalid\""), std::string::npos)
      << r.err;
  EXPECT_EQ(RunVelmora({"resolve"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"resolve", "localhost", "--family", "5"}).exit_code, 2);
}

TEST(ConnectCommandConcurrency, DirectConnectionSendsInputAndPrintsTheReply) {
  TcpServer echo(EchoHandler());
  RunResult r = RunVelmora(
      {"connect", "127.0.0.1", std::to_string(echo.port()), "--timeout", "2000", "--trace"},
      "hello\nworld\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "hello\nworld\n");
  EXPECT_NE(r.err.find("HR_Connect: 127.0.0.1:" + std::to_string(echo.port())), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("HR_SocketCreate: IPv4"), std::string::npos) << r.err;
}

TEST(ConnectCommandConcurrency, PeerThatClosesEndsTheProgram) {
  TcpServer server([](int fd, const std::atomic<bool>&) { SendAll(fd, "banner\r\n"); });
  RunResult r = RunVelmora({"connect", "localhost", std::to_string(server.port())});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, "banner\r\n");
}

TEST(ConnectCommandConcurrency, RefusedPortAndBadUsage) {
  int closed = FreeLoopbackPort();
  RunResult r = RunVelmora({"connect", "127.0.0.1", std::to_string(closed)});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velmora connect: 10061 Connection refused\n");
  EXPECT_EQ(RunVelmora({"connect", "127.0.0.1"}).exit_code, 2);
  // A port that is no port is bad usage, not a refused connection.
  for (const char* port : {"99999", "abc", "0", "-1", "65536"}) {
    SCOPED_TRACE(port);
    r = RunVelmora({"connect", "127.0.0.1", port});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find("is no port"), std::string::npos) << r.err;
    EXPECT_EQ(RunVelmora({"connect", "a", "1", "--socks5", std::string("h:") + port}).exit_code, 2);
  }
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--socks5", "nohostport"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--socks5", "h:1", "--tunnel", "h:2"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--user", "u"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--timeout", "soon"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--set", "NoSuchProperty=1"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"connect", "a", "1", "--set", "SocksTimeout=soon"}).exit_code, 2);
  // A property set from the command line takes effect: sends in pieces of 2.
  TcpServer echo(EchoHandler());
  r = RunVelmora({"connect", "127.0.0.1", std::to_string(echo.port()), "--set", "SendMaxChunk=2",
                  "--timeout", "2000", "--trace"},
                 "hello");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "hello");
  EXPECT_NE(r.err.find("HR_WriteCount: 2\nHR_WriteCount: 2\nHR_WriteCount: 1\n"), std::string::npos)
      << r.err;
}

// A "proxy" that accepts and never answers: the handshake ends at the
// time-out with 10060 instead of holding the command.
TEST(ConnectCommandConcurrency, ProxyHandshakeIsBoundedByTheTimeout) {
  TcpServer silent([](int, const std::atomic<bool>& stop) {
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  const std::string proxy = "127.0.0.1:" + std::to_string(silent.port());
  for (const char* kind : {"--socks5", "--socks4", "--tunnel"}) {
    SCOPED_TRACE(kind);
    const RunResult r =
        RunVelmora({"connect", "127.0.0.1", "7", kind, proxy, "--timeout", "300"}, "", seconds(20));
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("velmora connect: 10060 ", 0), 0u) << r.err;
  }
}

TEST(ConnectCommandConcurrency, ThroughDanteAndTinyproxy) {
  TempDir dir;
  TcpServer echo(EchoHandler());
  const std::string port = std::to_string(echo.port());
  DanteServer dante(dir, false);
  RunResult r =
      RunVelmora({"connect", "127.0.0.1", port, "--socks5",
                  "127.0.0.1:" + std::to_string(dante.port()), "--timeout", "2000", "--trace"},
                 "via socks\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "via socks\n");
  EXPECT_NE(r.err.find("step: SOCKS5: Requested -> Replied"), std::string::npos) << r.err;

  r = RunVelmora({"connect", "127.0.0.1", port, "--socks4",
                  "127.0.0.1:" + std::to_string(dante.port()), "--timeout", "2000"},
                 "via socks4\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "via socks4\n");
  // dante refuses the 4a form (a host name for the proxy to resolve).
  r = RunVelmora({"connect", "localhost", port, "--socks4",
                  "127.0.0.1:" + std::to_string(dante.port()), "--timeout", "500"},
                 "x\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velmora connect: 10091 Network subsystem is unusable\n");

  TinyProxy proxy(dir, "user", "pass", {echo.port()});
  const std::string tunnel = "127.0.0.1:" + std::to_string(proxy.port());
  r = RunVelmora({"connect", "127.0.0.1", port, "--tunnel", tunnel, "--user", "user", "--pass",
                  "pass", "--timeout", "2000"},
                 "via tunnel\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "via tunnel\n");
  r = RunVelmora({"connect", "127.0.0.1", port, "--tunnel", tunnel, "--timeout", "500"}, "x\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velmora connect: 10091 Network subsystem is unusable\n");
}

}  // namespace
}  // namespace velmora::testing
