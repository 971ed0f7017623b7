// `velmora connect --udp` end to end: lines as datagrams to an echo server
// of the test's own, through dante's UDP relay, and a multicast listener in a
// network namespace of the test's own.
#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "tests/peers/udp_peers.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

TEST(UdpCommandConcurrency, EachLineIsOneDatagramAndRepliesArePrinted) {
  UdpEchoServer echo;
  RunResult r = RunVelmora(
      {"connect", "--udp", "--timeout", "2000", "127.0.0.1", std::to_string(echo.port())},
      "hello\nworld\nno line end");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "hello\nworld\nno line end");
  EXPECT_EQ(echo.Echoed(), 3);

  UdpEchoServer echo6(true);
  r = RunVelmora({"connect", "--udp", "--timeout", "2000", "::1", std::to_string(echo6.port())},
                 "six\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "six\n");
}

// One line: every send sets up a fresh association, which ends the one
// before it, so a reply still on its way to an earlier relay is lost.
TEST(DanteConcurrency, UdpConnectCommandThroughTheRelay) {
  TempDir dir;
  DanteServer dante(dir, false);
  UdpEchoServer echo;
  RunResult r =
      RunVelmora({"connect", "--udp", "--socks5", "127.0.0.1:" + std::to_string(dante.port()),
                  "--timeout", "2000", "--trace", "127.0.0.1", std::to_string(echo.port())},
                 "through dante\n");
  EXPECT_EQ(r.exit_code, 0) << r.err << dante.Log();
  EXPECT_EQ(r.out, "through dante\n") << r.err << dante.Log();
  EXPECT_NE(r.err.find("step: SOCKS5: Requested -> Replied"), std::string::npos) << r.err;
}

TEST(UdpCommand, MulticastListenerInANamespace) {
  const std::string script = std::string(NetNamespaceSetup()) +
                             " && { \"$0\" connect --udp --listen 5000 --multicast 239.1.2.3 "
                             "--timeout 4000 </dev/null & "
                             // Send once the listener has bound port 5000 (hex 1388) and
                             // joined the group (hex, low byte first).
                             "i=0; until grep -q ':1388 ' /proc/net/udp && grep -q 030201EF "
                             "/proc/net/igmp || [ $i -ge 100 ]; do sleep 0.1; i=$((i+1)); done; "
                             "printf 'to the group\\n' | \"$0\" connect --udp --timeout 100 "
                             "239.1.2.3 5000; wait; }";
  RunResult r = velmora::testing::Run({"unshare", "-n", "sh", "-c", script, VelmoraProgram()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "to the group\n") << r.err;
}

TEST(UdpCommand, BadUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"connect", "--listen", "5000"},
           {"connect", "--udp", "--socks4", "127.0.0.1:1080", "127.0.0.1", "9"},
           {"connect", "--udp", "127.0.0.1"},
           {"connect", "--udp", "--multicast", "239.1.2.3", "127.0.0.1", "9"},
           {"connect", "--udp", "--listen", "5000", "--multicast", "not-a-group"},
           {"connect", "--udp", "--listen", "5000", "127.0.0.1", "9"}}) {
    RunResult r = RunVelmora(args);
    EXPECT_EQ(r.exit_code, 2) << args[2] << ": " << r.err;
  }
}

}  // namespace
}  // namespace velmora::testing
