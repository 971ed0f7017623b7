// `velmora ping` end to end: the kernel answers on 127.0.0.1 and ::1; a
// namespace of the test's own whose kernel ignores echo requests gives the
// time-out path; a process without CAP_NET_RAW is told so.
#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

TEST(PingCommand, RepliesFromIpv4AndIpv6Loopback) {
  RunResult r = RunVelmora({"ping", "-c", "2", "-i", "0.1", "-W", "2", "127.0.0.1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_GE(lines.size(), 6u) << r.out;
  EXPECT_EQ(lines[0], "PING 127.0.0.1 (127.0.0.1) 56 data bytes");
  for (int seq : {1, 2}) {
    // "64 bytes from 127.0.0.1: icmp_seq=N ttl=64 time=T ms", T with 3 decimals.
    const std::string head =
        "64 bytes from 127.0.0.1: icmp_seq=" + std::to_string(seq) + " ttl=64 time=";
    const std::string& line = lines[seq];
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    ASSERT_GE(line.size(), head.size() + 8) << line;
    EXPECT_EQ(line.substr(line.size() - 3), " ms") << line;
    const std::string time = line.substr(head.size(), line.size() - head.size() - 3);
    EXPECT_EQ(time.find_first_not_of("0123456789."), std::string::npos) << line;
    EXPECT_EQ(time.size() - time.find('.'), 4u) << line;
  }
  EXPECT_NE(r.out.find("2 packets transmitted, 2 received, 0% packet loss"), std::string::npos);
  EXPECT_NE(r.out.find("rtt min/avg/max/mdev = "), std::string::npos) << r.out;

  r = RunVelmora({"ping", "--count", "2", "-i", "0", "-s", "100", "--json", "::1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  for (int seq : {1, 2})
    EXPECT_EQ(lines[seq - 1].rfind("{\"event\": \"Reply\", \"from\": \"::1\", \"bytes\": 108, "
                                   "\"icmp_seq\": " +
                                       std::to_string(seq) + ", \"time_ms\": ",
                                   0),
              0u)
        << lines[seq - 1];
  EXPECT_EQ(lines[2].rfind("{\"event\": \"Statistics\", \"host\": \"::1\", \"transmitted\": 2, "
                           "\"received\": 2, \"loss_percent\": 0,",
                           0),
            0u)
      << lines[2];
}

// The request still reaches the raw socket (on loopback it sees its own
// request), but no reply comes: exit 1, never a request taken for a reply.
TEST(PingCommand, NoReplyWhereTheKernelIgnoresEchoRequests) {
  RunResult r =
      velmora::testing::Run({"unshare", "-n", "sh", "-c",
                             "ip link set lo up && sysctl -qw net.ipv4.icmp_echo_ignore_all=1 && "
                             "exec \"$0\" ping -c 2 -i 0.1 -W 0.5 127.0.0.1",
                             VelmoraProgram()});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out.find("bytes from"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no reply for icmp_seq=2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 packets transmitted, 0 received, 100% packet loss"), std::string::npos)
      << r.out;
}

TEST(PingCommand, WithoutRawSocketsAndBadUsage) {
  RunResult r = velmora::testing::Run({"setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw",
                                       VelmoraProgram(), "ping", "-c", "1", "127.0.0.1"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("need root or CAP_NET_RAW"), std::string::npos) << r.err;

  for (const auto& args :
       std::vector<std::vector<std::string>>{{"ping"},
                                             {"ping", "-c", "0", "127.0.0.1"},
                                             {"ping", "-s", "65508", "127.0.0.1"},
                                             {"ping", "-W", "0", "127.0.0.1"},
                                             {"ping", "-i", "-1", "127.0.0.1"},
                                             {"ping", "127.0.0.1", "::1"}}) {
    r = RunVelmora(args);
    EXPECT_EQ(r.exit_code, 2) << args.back() << ": " << r.err;
  }
}

}  // namespace
}  // namespace velmora::testing
