// THTTPSend against real servers: nginx (static files, HEAD, ranges, 304,
// kept connections, chunked SSI output), httpbin under gunicorn (statuses,
// Basic authentication, cookies, the three POST bodies, streams, headers,
// time-outs) and tinyproxy (absolute request form, refused tunnels).
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/peers/httpbin.h"
#include "tests/peers/peers.h"
#include "tests/peers/tls_peers.h"
#include "velmora/net/httpclient.h"
#include "velmora/net/ssl_openssl.h"

namespace velmora::net {
namespace {

using velmora::testing::FreeLoopbackPort;
using velmora::testing::HttpbinServer;
using velmora::testing::NginxServer;
using velmora::testing::RecordingRelay;
using velmora::testing::TcpServer;
using velmora::testing::TempDir;
using velmora::testing::TinyProxy;
using velmora::testing::WriteFile;

std::string Doc(THTTPSend& http) {
  return std::string(http.Document().View());
}

// Bytes that differ from file to file and from block to block.
std::string Pattern(size_t size, int seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + i / 4093 + seed) & 0xFF);
  return s;
}

// nginx serving the files of `www`, with `ssi on` under /ssi/.
struct Nginx {
  Nginx() : port(FreeLoopbackPort()) {
    std::filesystem::create_directories(dir.path() / "www" / "ssi");
    server = std::make_unique<NginxServer>(
        dir,
        "server { listen 127.0.0.1:" + std::to_string(port) + "; root " + dir.file("www") +
            "; keepalive_requests 100000; location /ssi/ { ssi on; } }",
        port);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
  std::string Put(const std::string& name, const std::string& bytes) {
    WriteFile(dir.file("www/" + name), bytes);
    return Url("/" + name);
  }
  TempDir dir;
  int port;
  std::unique_ptr<NginxServer> server;
};

// The value of the first header line named `name` ("Name: value").
std::string HeaderValue(THTTPSend& http, const std::string& name) {
  for (const std::string& line : http.Headers())
    if (line.size() > name.size() + 1 && line.compare(0, name.size() + 1, name + ":") == 0)
      return line.substr(name.size() + 2);
  return "";
}

TEST(HttpNginxConcurrency, FilesOfEverySizeArriveExactly) {
  Nginx nginx;
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{3 << 20} + 7}) {
    const std::string bytes = Pattern(size, static_cast<int>(size));
    std::string name = "f";
    name += std::to_string(size);
    const std::string url = nginx.Put(name, bytes);
    THTTPSend http;
    ASSERT_TRUE(http.HTTPMethod("GET", url)) << size << " " << http.Sock().LastErrorText();
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(http.TransferEncoding(), TE_IDENTITY);
    EXPECT_EQ(http.MimeType(), "application/octet-stream");
    EXPECT_TRUE(Doc(http) == bytes) << size << " bytes differ";
  }
}

TEST(HttpNginxConcurrency, HeadRangesAndNotModified) {
  Nginx nginx;
  const std::string bytes = Pattern(1000, 5);
  const std::string url = nginx.Put("r.bin", bytes);
  THTTPSend http;
  ASSERT_TRUE(http.HTTPMethod("HEAD", url));
  EXPECT_EQ(http.ResultCode(), 200);
  EXPECT_EQ(HeaderValue(http, "Content-Length"), "1000");
  EXPECT_EQ(http.Document().Size(), 0);
  const std::string modified = HeaderValue(http, "Last-Modified");
  ASSERT_FALSE(modified.empty());

  http.Clear();
  http.set_RangeStart(10);
  http.set_RangeEnd(19);
  ASSERT_TRUE(http.HTTPMethod("GET", url));
  EXPECT_EQ(http.ResultCode(), 206);
  EXPECT_EQ(Doc(http), bytes.substr(10, 10));
  http.Clear();
  http.set_RangeStart(990);
  ASSERT_TRUE(http.HTTPMethod("GET", url));
  EXPECT_EQ(HeaderValue(http, "Content-Range"), "bytes 990-999/1000");
  EXPECT_EQ(Doc(http), bytes.substr(990));

  http.Clear();
  http.Headers().Add("If-Modified-Since: " + modified);
  ASSERT_TRUE(http.HTTPMethod("GET", url));
  EXPECT_EQ(http.ResultCode(), 304);
  EXPECT_EQ(http.ResultString(), "Not Modified");
  EXPECT_EQ(http.Document().Size(), 0);
}

TEST(HttpNginxConcurrency, OneConnectionCarriesEveryRequestWithProtocol11) {
  Nginx nginx;
  const std::string url = nginx.Put("k.txt", "kept");
  for (const char* protocol : {"1.1", "1.0"}) {
    THTTPSend http;
    http.set_Protocol(protocol);
    int connects = 0;
    http.Sock().OnStatus = [&connects](host::TObject*, THookSocketReason reason,
                                       const std::string&) { connects += reason == HR_Connect; };
    for (int i = 0; i < 3; ++i) {
      http.Clear();
      ASSERT_TRUE(http.HTTPMethod("GET", url)) << http.Sock().LastErrorText();
      EXPECT_EQ(Doc(http), "kept");
    }
    EXPECT_EQ(connects, std::string(protocol) == "1.1" ? 1 : 3) << protocol;
  }
  // The server saw it too: requests 1, 2 and 3 of one connection, then
  // three connections of one request each.
  // nginx logs a request after its response went out: wait for the last.
  std::vector<std::string> log;
  for (int i = 0; i < 500 && log.size() < 6; ++i) {
    if (i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    log = velmora::testing::SplitLines(nginx.server->AccessLog());
  }
  ASSERT_EQ(log.size(), 6u);
  const std::string conn = log[0].substr(log[0].find("conn="));
  EXPECT_EQ(conn.substr(conn.find("reqs=")), "reqs=1");
  EXPECT_EQ(log[2].substr(log[2].find("conn=")), conn.substr(0, conn.find(' ')) + " reqs=3");
  for (int i = 3; i < 6; ++i) EXPECT_NE(log[i].find("reqs=1"), std::string::npos) << log[i];
}

TEST(HttpNginxConcurrency, SsiOutputIsChunkedWithProtocol11AndUntilCloseWith10) {
  Nginx nginx;
  nginx.Put("part.txt", "PART");
  nginx.Put("ssi/page.html", "a<!--# include virtual=\"/part.txt\" -->b");
  for (const char* protocol : {"1.1", "1.0"}) {
    THTTPSend http;
    http.set_Protocol(protocol);
    ASSERT_TRUE(http.HTTPMethod("GET", nginx.Url("/ssi/page.html"))) << protocol;
    EXPECT_EQ(Doc(http), "aPARTb") << protocol;
    EXPECT_EQ(http.TransferEncoding(), std::string(protocol) == "1.1" ? TE_CHUNKED : TE_UNKNOWN);
  }
}

TEST(HttpbinConcurrency, StatusesAuthenticationAndCookies) {
  TempDir dir;
  HttpbinServer httpbin(dir);
  THTTPSend http;
  ASSERT_TRUE(http.HTTPMethod("GET", httpbin.Url("/status/204"))) << httpbin.Log();
  EXPECT_EQ(http.ResultCode(), 204);
  http.Clear();
  ASSERT_TRUE(http.HTTPMethod("GET", httpbin.Url("/status/418")));
  EXPECT_EQ(http.ResultCode(), 418);
  EXPECT_NE(Doc(http).find("teapot"), std::string::npos);

  const std::string auth = "127.0.0.1:" + std::to_string(httpbin.port()) + "/basic-auth/u/p%40ss";
  http.Clear();
  ASSERT_TRUE(http.HTTPMethod("GET", "http://u:p%40ss@" + auth));
  EXPECT_EQ(http.ResultCode(), 200);
  http.Clear();
  ASSERT_TRUE(http.HTTPMethod("GET", "http://" + auth));
  EXPECT_EQ(http.ResultCode(), 401);
  http.Clear();
  http.set_UserName("u");
  http.set_Password("p@ss");
  ASSERT_TRUE(http.HTTPMethod("GET", "http://" + auth));
  EXPECT_EQ(http.ResultCode(), 200);
  EXPECT_NE(Doc(http).find("\"authenticated\":true"), std::string::npos) << Doc(http);

  // The cookie comes with a redirect, which is not followed; it goes back
  // with the next request.
  http.Clear();
  ASSERT_TRUE(http.HTTPMethod("GET", httpbin.Url("/cookies/set?a=1")));
  EXPECT_EQ(http.ResultCode(), 302);
  EXPECT_EQ(http.Cookies().Text(), "a=1\r\n");
  http.Clear();
  ASSERT_TRUE(http.HTTPMethod("GET", httpbin.Url("/cookies")));
  EXPECT_NE(Doc(http).find("\"a\":\"1\""), std::string::npos) << Doc(http);
}

TEST(HttpbinConcurrency, TheThreePostBodiesAreEchoed) {
  TempDir dir;
  HttpbinServer httpbin(dir);
  host::TMemoryStream reply;
  ASSERT_TRUE(HttpPostURL(httpbin.Url("/post"), "x=1&y=two+words", reply)) << httpbin.Log();
  std::string json(reply.View());
  EXPECT_NE(json.find("\"x\":\"1\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"y\":\"two words\""), std::string::npos) << json;

  host::TMemoryStream data;
  data.WriteBuffer("binary body", 11);
  ASSERT_TRUE(HttpPostBinary(httpbin.Url("/post"), data));
  json.assign(data.View());
  EXPECT_NE(json.find("\"data\":\"binary body\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"Content-Type\":\"Application/octet-stream\""), std::string::npos);

  host::TMemoryStream file;
  file.WriteBuffer("file\r\ncontent", 13);
  host::TStringList lines;
  ASSERT_TRUE(HttpPostFile(httpbin.Url("/post"), "upload", "a.txt", file, lines));
  json = lines.Text();
  EXPECT_NE(json.find("\"upload\":\"file\\r\\ncontent\""), std::string::npos) << json;
  EXPECT_NE(json.find("multipart/form-data; boundary="), std::string::npos) << json;
}

TEST(HttpbinConcurrency, StreamsHeadersAndTimeout) {
  TempDir dir;
  HttpbinServer httpbin(dir);
  RecordingRelay relay(httpbin.port());
  THTTPSend http;
  http.set_Protocol("1.1");
  ASSERT_TRUE(http.HTTPMethod("GET", httpbin.Url("/stream/5"))) << httpbin.Log();
  EXPECT_EQ(http.TransferEncoding(), TE_CHUNKED);
  host::TStringList lines;
  lines.LoadFromStream(http.Document());
  ASSERT_EQ(lines.Count(), 5);
  EXPECT_NE(lines[4].find("\"id\": 4"), std::string::npos);

  // Our header lines, in their order and spelling, as the server read them.
  THTTPSend h;
  h.Headers().Add("X-Velmora: yes");
  ASSERT_TRUE(h.HTTPMethod("GET", "http://127.0.0.1:" + std::to_string(relay.port()) + "/headers"));
  EXPECT_EQ(relay.ClientBytes(),
            "GET /headers HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(relay.port()) +
                "\r\nKeep-Alive: 300\r\nConnection: keep-alive\r\n"
                "User-Agent: Mozilla/4.0 (compatible; Velmora)\r\nX-Velmora: yes\r\n\r\n");
  EXPECT_NE(Doc(h).find("\"User-Agent\":\"Mozilla/4.0 (compatible; Velmora)\""), std::string::npos)
      << Doc(h);
  EXPECT_NE(Doc(h).find("\"X-Velmora\":\"yes\""), std::string::npos);

  THTTPSend slow;
  slow.set_Timeout(500);
  EXPECT_FALSE(slow.HTTPMethod("GET", httpbin.Url("/delay/3")));
  EXPECT_EQ(slow.Sock().LastError(), 10060);
}

TEST(HttpTinyproxyConcurrency, PlainUrlsThroughTheProxyAndTunnels) {
  Nginx nginx;
  const std::string url = nginx.Put("p.txt", "proxied");
  TempDir dir;
  TcpServer tunnel_target(velmora::testing::EchoHandler());
  TinyProxy proxy(dir, "pu", "pp", {tunnel_target.port()});
  THTTPSend http;
  http.set_ProxyHost("127.0.0.1");
  http.set_ProxyPort(std::to_string(proxy.port()));
  ASSERT_TRUE(http.HTTPMethod("GET", url)) << proxy.Log();
  EXPECT_EQ(http.ResultCode(), 407);
  http.Clear();
  http.set_ProxyUser("pu");
  http.set_ProxyPass("pp");
  ASSERT_TRUE(http.HTTPMethod("GET", url)) << proxy.Log();
  EXPECT_EQ(http.ResultCode(), 200);
  EXPECT_EQ(Doc(http), "proxied");

  // https goes through a CONNECT tunnel: refused for a port the proxy does
  // not allow, opened for one it does (where the TLS handshake follows).
  http.Clear();
  EXPECT_FALSE(http.HTTPMethod("GET", "https://127.0.0.1:" + std::to_string(nginx.port) + "/"));
  EXPECT_EQ(http.Sock().LastError(), 10091);
  EXPECT_EQ(http.Sock().TunnelState(), TTunnelState::Refused);
  EXPECT_EQ(http.ResultCode(), 500);
  http.Clear();
  http.HTTPMethod("GET", "https://127.0.0.1:" + std::to_string(tunnel_target.port()) + "/");
  EXPECT_EQ(http.Sock().TunnelState(), TTunnelState::Open);
}

// nginx with the test CA's server certificate, https on `tls_port` and http
// on `port`.
struct TlsNginx {
  TlsNginx() : pki(dir), port(FreeLoopbackPort()), tls_port(FreeLoopbackPort()) {
    std::filesystem::create_directories(dir.path() / "www");
    WriteFile(dir.file("www/s.txt"), "secure");
    const std::string root = "root " + dir.file("www") + ";";
    server = std::make_unique<NginxServer>(
        dir,
        "server { listen 127.0.0.1:" + std::to_string(port) + "; " + root + " }\n" +
            "server { listen 127.0.0.1:" + std::to_string(tls_port) + " ssl; " + root +
            " ssl_certificate " + pki.File("server.pem") + "; ssl_certificate_key " +
            pki.File("server.key") + "; ssl_protocols TLSv1.2 TLSv1.3; }",
        port);
  }
  std::string Url(const std::string& path) const {
    return "https://localhost:" + std::to_string(tls_port) + path;
  }
  TempDir dir;
  velmora::testing::TestPki pki;
  int port;
  int tls_port;
  std::unique_ptr<NginxServer> server;
};

// The TLS unit started for one test (this suite runs without the package's
// start-up).
struct TlsUnit {
  TlsUnit() { unit_ssl_openssl::Initialize(); }
  ~TlsUnit() { unit_ssl_openssl::Finalize(); }
};

void TrustTestCa(THTTPSend& http, const TlsNginx& nginx) {
  http.Sock().SSLPlugin()->set_VerifyCert(true);
  http.Sock().SSLPlugin()->set_CertCAFile(nginx.pki.CaFile());
}

TEST(HttpTlsConcurrency, VerifiedHttpsKeptAliveAndRefusedByAnotherCa) {
  TlsUnit tls;
  TlsNginx nginx;
  THTTPSend http;
  TrustTestCa(http, nginx);
  http.set_Protocol("1.1");
  int connects = 0;
  http.Sock().OnStatus = [&connects](host::TObject*, THookSocketReason reason, const std::string&) {
    connects += reason == HR_Connect;
  };
  for (int i = 0; i < 3; ++i) {
    http.Clear();
    ASSERT_TRUE(http.HTTPMethod("GET", nginx.Url("/s.txt"))) << http.Sock().LastErrorText();
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(Doc(http), "secure");
  }
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(http.Sock().SSLPlugin()->GetSSLVersion(), "TLSv1.3");
  // The host name was offered for one handshake only.
  EXPECT_EQ(http.Sock().SSLPlugin()->SNIHost(), "");

  THTTPSend stranger;
  stranger.Sock().SSLPlugin()->set_VerifyCert(true);
  stranger.Sock().SSLPlugin()->set_CertCAFile(nginx.pki.File("other.pem"));
  EXPECT_FALSE(stranger.HTTPMethod("GET", nginx.Url("/s.txt")));
  EXPECT_EQ(stranger.Sock().LastError(), 10091);
  EXPECT_EQ(stranger.ResultCode(), 500);
}

TEST(HttpTlsConcurrency, HttpsThroughATinyproxyTunnel) {
  TlsUnit tls;
  TlsNginx nginx;
  TempDir dir;
  TinyProxy proxy(dir, "", "", {nginx.tls_port});
  THTTPSend http;
  TrustTestCa(http, nginx);
  http.set_ProxyHost("127.0.0.1");
  http.set_ProxyPort(std::to_string(proxy.port()));
  ASSERT_TRUE(http.HTTPMethod("GET", nginx.Url("/s.txt")))
      << http.Sock().LastErrorText() << proxy.Log();
  EXPECT_EQ(http.Sock().TunnelState(), TTunnelState::Open);
  EXPECT_EQ(Doc(http), "secure");
}

}  // namespace
}  // namespace velmora::net
