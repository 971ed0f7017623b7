// SOCKS and HTTP tunnel negotiations against scripted proxies of the test's
// own: the exact request bytes, and canned replies of every form.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

using velmora::testing::Bytes;
using velmora::testing::RecvExactly;
using velmora::testing::SendAll;
using velmora::testing::TcpServer;

constexpr auto kWait = std::chrono::seconds(3);

// A proxy that expects an exact exchange: for each step it reads as many
// bytes as `expect` holds, records them, and answers `reply`; then it echoes.
struct Step {
  std::string expect;
  std::string reply;
};

class ScriptedProxy {
 public:
  explicit ScriptedProxy(std::vector<Step> steps)
      : steps_(std::move(steps)),
        server_([this](int fd, const std::atomic<bool>& stop) { Serve(fd, stop); }) {}
  std::string port() const { return std::to_string(server_.port()); }
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Serve(int fd, const std::atomic<bool>& stop) {
    for (const Step& step : steps_) {
      std::string got = RecvExactly(fd, step.expect.size(), kWait);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(got);
      }
      if (got.size() != step.expect.size()) return;
      if (!step.reply.empty() && !SendAll(fd, step.reply)) return;
    }
    velmora::testing::EchoHandler()(fd, stop);
  }

  std::vector<Step> steps_;
  std::mutex mutex_;
  std::vector<std::string> received_;
  TcpServer server_;
};

TEST(SocksConcurrency, Socks5WithoutUserNameAndANameReplyReadExactly) {
  const std::string request = Bytes({5, 1, 0, 3, 12}) + "example.test" + Bytes({0, 80});
  // The reply names a 9-byte host; the proxy's first data follows at once.
  const std::string reply = Bytes({5, 0, 0, 3, 9}) + "boundhost" + Bytes({0x12, 0x34}) + "hi\r\n";
  ScriptedProxy proxy({{Bytes({5, 1, 0}), Bytes({5, 0})}, {request, reply}});
  TTCPBlockSocket s;
  std::vector<std::string> steps;
  s.OnProtocolStep = [&](host::TObject*, const std::string& step) { steps.push_back(step); };
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(proxy.port());
  s.Connect("example.test", "80");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(proxy.Received(), (std::vector<std::string>{Bytes({5, 1, 0}), request}));
  EXPECT_TRUE(s.ViaSocks());
  EXPECT_EQ(s.SocksReplyCode(), 0);
  EXPECT_EQ(s.SocksReplyIP(), "boundhost");
  EXPECT_EQ(s.SocksBoundPort(), "4660");
  EXPECT_EQ(s.GetLocalSinIP(), "boundhost");
  EXPECT_EQ(s.GetLocalSinPort(), 4660);
  EXPECT_EQ(s.GetRemoteSinIP(), "example.test");
  EXPECT_EQ(s.GetRemoteSinPort(), 80);
  EXPECT_EQ(s.RecvString(2000), "hi");
  s.SendString("echo\r\n");
  EXPECT_EQ(s.RecvString(2000), "echo");
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "SOCKS5: Idle -> Greeting", "SOCKS5: Greeting -> Negotiated",
                       "SOCKS5: Negotiated -> Requested", "SOCKS5: Requested -> Replied"}));
}

TEST(SocksConcurrency, Socks5UserNameAndPasswordSubNegotiation) {
  const std::string auth = Bytes({1, 4}) + "user" + Bytes({6}) + "secret";
  const std::string request = Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90});
  ScriptedProxy proxy({{Bytes({5, 2, 2, 0}), Bytes({5, 2})},
                       {auth, Bytes({1, 0})},
                       {request, Bytes({5, 0, 0, 1, 10, 0, 0, 9, 0x04, 0x38})}});
  TTCPBlockSocket s;
  s.set_SocksIP("127.0.0.1");
  s.set_SocksPort(proxy.port());
  s.set_SocksUsername("user");
  s.set_SocksPassword("secret");
  s.Connect("127.0.0.1", "8080");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(proxy.Received(), (std::vector<std::string>{Bytes({5, 2, 2, 0}), auth, request}));
  EXPECT_EQ(s.SocksBoundIP(), "10.0.0.9");
  EXPECT_EQ(s.SocksBoundPort(), "1080");
}

TEST(SocksConcurrency, RefusalsLeaveNetworkSubsystemUnusable) {
  {
    ScriptedProxy proxy({{Bytes({5, 2, 2, 0}), Bytes({5, 2})},
                         {Bytes({1, 1}) + "u" + Bytes({1}) + "p", Bytes({1, 1})}});
    TTCPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.set_SocksUsername("u");
    s.set_SocksPassword("p");
    s.Connect("127.0.0.1", "80");
    EXPECT_EQ(s.LastError(), 10091);
    EXPECT_EQ(s.LastErrorText(), "Network subsystem is unusable");
    EXPECT_FALSE(s.ViaSocks());
    EXPECT_EQ(s.SocksState(), TSocksState::Failed);
  }
  {
    // Connection refused (5) in the reply.
    ScriptedProxy proxy(
        {{Bytes({5, 1, 0}), Bytes({5, 0})},
         {Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 81}), Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})}});
    TTCPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.Connect("127.0.0.1", "81");
    EXPECT_EQ(s.LastError(), 10091);
    EXPECT_EQ(s.SocksReplyCode(), 5);
  }
  {
    // A method the client did not offer.
    ScriptedProxy proxy({{Bytes({5, 1, 0}), Bytes({5, 0xFF})}});
    TTCPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.Connect("127.0.0.1", "81");
    EXPECT_EQ(s.LastError(), 10091);
  }
  {
    // The proxy hangs up: the read error itself is reported.
    ScriptedProxy proxy({{Bytes({5, 1, 0}), ""}});
    TTCPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.set_SocksTimeout(500);
    s.Connect("127.0.0.1", "81");
    EXPECT_TRUE(s.LastError() == 10054 || s.LastError() == 10060) << s.LastError();
  }
}

// BIND: a refusal of the first reply (listen) or of the second (the
// peer's connection, awaited by accept) is "Non recoverable error".
TEST(SocksConcurrency, RefusedBindIsNonRecoverable) {
  const std::string greeting = Bytes({5, 1, 0});
  const std::string bind_request(10, '?');  // 5 2 0 1, 127.0.0.1, the local port
  const std::string refused = Bytes({5, 1, 0, 1, 0, 0, 0, 0, 0, 0});
  {
    ScriptedProxy proxy({{greeting, Bytes({5, 0})}, {bind_request, refused}});
    TTCPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.Bind("127.0.0.1", "0");
    s.Listen();
    EXPECT_EQ(s.LastError(), 11003);
    EXPECT_EQ(s.LastErrorText(), "Non recoverable error");
    ASSERT_EQ(proxy.Received().size(), 2u);
    EXPECT_EQ(proxy.Received()[1].substr(0, 4), Bytes({5, 2, 0, 1})) << "a BIND request";
  }
  {
    const std::string bound = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90});
    ScriptedProxy proxy({{greeting, Bytes({5, 0})}, {bind_request, bound + refused}});
    TTCPBlockSocket s;
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.Bind("127.0.0.1", "0");
    s.Listen();
    ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
    EXPECT_EQ(s.SocksBoundPort(), "8080");
    s.Accept();
    EXPECT_EQ(s.LastError(), 11003);
    EXPECT_EQ(s.LastErrorText(), "Non recoverable error");
  }
}

TEST(SocksConcurrency, Socks4aSendsTheNameAndPlainSocks4AResolvedAddress) {
  {
    const std::string request =
        Bytes({4, 1, 0, 80, 0, 0, 0, 1}) + "uid" + Bytes({0}) + "example.test" + Bytes({0});
    ScriptedProxy proxy({{request, Bytes({0, 90, 0, 80, 1, 2, 3, 4})}});
    TTCPBlockSocket s;
    s.set_SocksType(ST_Socks4);
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.set_SocksUsername("uid");
    s.Connect("example.test", "80");
    ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
    EXPECT_EQ(proxy.Received(), std::vector<std::string>{request});
    EXPECT_EQ(s.SocksReplyCode(), 90);
    EXPECT_EQ(s.SocksBoundIP(), "1.2.3.4");
  }
  {
    const std::string request = Bytes({4, 1, 0, 80, 127, 0, 0, 1}) + "uid" + Bytes({0});
    ScriptedProxy proxy({{request, Bytes({0, 90, 0, 0, 0, 0, 0, 0})}});
    TTCPBlockSocket s;
    s.set_SocksType(ST_Socks4);
    s.set_SocksResolver(false);
    s.set_SocksIP("127.0.0.1");
    s.set_SocksPort(proxy.port());
    s.set_SocksUsername("uid");
    s.Connect("localhost", "80");
    ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
    EXPECT_EQ(proxy.Received(), std::vector<std::string>{request});
  }
}

TEST(SocksCoding, AddressFormsOfBothVersions) {
  TTCPBlockSocket s;
  EXPECT_EQ(s.SocksCode("::1", "443"),
            Bytes({4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0xBB}));
  EXPECT_EQ(s.SocksCode("10.1.2.3", "http"), Bytes({1, 10, 1, 2, 3, 0, 80}));
  EXPECT_EQ(s.SocksCode(std::string(256, 'n'), "80"), "");  // does not fit its length byte
  s.set_SocksUsername(std::string(256, 'u'));
  EXPECT_FALSE(s.SocksOpen());  // nor does such a user name
}

TEST(SocksCoding, DecodingShortAndOddReplies) {
  TTCPBlockSocket s;
  EXPECT_EQ(s.SocksDecode(Bytes({5, 0, 0})), 0);
  EXPECT_EQ(s.SocksReplyPort(), "0");
  EXPECT_EQ(s.SocksDecode(Bytes({5, 0, 0, 1, 1, 2, 3})), 5);
  EXPECT_EQ(s.SocksDecode(Bytes({5, 0, 0, 9})), 5);
  EXPECT_EQ(s.SocksDecode(Bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 21})), 11);
  EXPECT_EQ(s.SocksReplyIP(), "1.2.3.4");
  EXPECT_EQ(s.SocksReplyPort(), "21");
  std::string v6 =
      Bytes({5, 0, 0, 4, 0x20, 1, 0xD, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 22});
  EXPECT_EQ(s.SocksDecode(v6), 23);
  EXPECT_EQ(s.SocksReplyIP(), "2001:db8::1");
  s.set_SocksType(ST_Socks4);
  EXPECT_EQ(s.SocksDecode(Bytes({0, 90, 0, 22, 9, 8, 7})), 0);
  EXPECT_EQ(s.SocksDecode(Bytes({0, 90, 0, 22, 9, 8, 7, 6})), 9);
  EXPECT_EQ(s.SocksReplyIP(), "9.8.7.6");
}

// --- HTTP CONNECT tunnels

// A proxy that reads the request header up to the empty line, records it,
// and answers `reply`; with `echo` it then echoes.
class ScriptedHttpProxy {
 public:
  ScriptedHttpProxy(std::string reply, bool echo)
      : reply_(std::move(reply)), echo_(echo), server_([this](int fd, const std::atomic<bool>& s) {
          std::string header;
          while (header.find("\r\n\r\n") == std::string::npos) {
            std::string b = RecvExactly(fd, 1, kWait);
            if (b.empty()) return;
            header += b;
          }
          {
            std::lock_guard<std::mutex> lock(mutex_);
            request_ = header;
          }
          SendAll(fd, reply_);
          if (echo_) velmora::testing::EchoHandler()(fd, s);
        }) {}
  std::string port() const { return std::to_string(server_.port()); }
  std::string Request() {
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
  }

 private:
  std::string reply_;
  bool echo_;
  std::mutex mutex_;
  std::string request_;
  TcpServer server_;
};

TEST(HttpTunnelConcurrency, TwoHundredOpensATunnelThatCarriesBytesBothWays) {
  ScriptedHttpProxy proxy("HTTP/1.0 200 Connection established\r\nProxy-agent: test\r\n\r\n", true);
  TTCPBlockSocket s;
  std::vector<std::string> steps;
  s.OnProtocolStep = [&](host::TObject*, const std::string& step) { steps.push_back(step); };
  s.set_HTTPTunnelIP("127.0.0.1");
  s.set_HTTPTunnelPort(proxy.port());
  s.set_HTTPTunnelUser("user");
  s.set_HTTPTunnelPass("pass");
  s.Connect("example.test", "https");
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(proxy.Request(),
            "CONNECT example.test:443 HTTP/1.0\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
  EXPECT_TRUE(s.TunnelOpen());
  EXPECT_EQ(s.TunnelState(), TTunnelState::Open);
  EXPECT_EQ(s.GetRemoteSinIP(), "example.test");
  EXPECT_EQ(s.GetRemoteSinPort(), 443);
  s.SendString("through\r\n");
  EXPECT_EQ(s.RecvString(2000), "through");
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back(), "HTTP tunnel: Headers -> Open");
}

TEST(HttpTunnelConcurrency, RefusalsReadTheHeaderAndLeave10091) {
  for (const char* reply :
       {"HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\nbody",
        "HTTP/1.0 403 Access violation\r\n\r\n", "HTTP/1.0 200 ok\r\nHTTP/1.0 500 no\r\n\r\n"}) {
    ScriptedHttpProxy proxy(reply, false);
    TTCPBlockSocket s;
    s.set_HTTPTunnelIP("127.0.0.1");
    s.set_HTTPTunnelPort(proxy.port());
    s.Connect("::1", "80");
    EXPECT_EQ(s.LastError(), 10091) << reply;
    EXPECT_EQ(s.LastErrorText(), "Network subsystem is unusable");
    EXPECT_EQ(s.TunnelState(), TTunnelState::Refused);
    EXPECT_EQ(proxy.Request(), "CONNECT [::1]:80 HTTP/1.0\r\n\r\n");
  }
  ScriptedHttpProxy later_ok("HTTP/1.0 500 no\r\nHTTP/1.1 200 yes\r\n\r\n", false);
  TTCPBlockSocket s;
  s.set_HTTPTunnelIP("127.0.0.1");
  s.set_HTTPTunnelPort(later_ok.port());
  s.Connect("127.0.0.1", "80");
  EXPECT_EQ(s.LastError(), 0);  // the last status line decides
}

TEST(HttpTunnelConcurrency, ProxyThatHangsUpIsAReadError) {
  ScriptedHttpProxy proxy("HTTP/1.0 200 ok\r\n", false);
  TTCPBlockSocket s;
  s.set_HTTPTunnelIP("127.0.0.1");
  s.set_HTTPTunnelPort(proxy.port());
  s.set_HTTPTunnelTimeout(3000);
  s.Connect("127.0.0.1", "80");
  EXPECT_EQ(s.LastError(), 10054);
  EXPECT_EQ(s.TunnelState(), TTunnelState::Failed);
}

}  // namespace
}  // namespace velmora::net
