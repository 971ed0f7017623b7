// `velmora fetch` against nginx and httpbin: bodies to files and standard
// output, headers, the three request bodies, JSON summaries, exit codes,
// --max-time and --trace.
#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "tests/peers/httpbin.h"
#include "tests/peers/peers.h"
#include "tests/peers/tls_peers.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(FetchCommandConcurrency, FilesHeadersAndExitCodesAgainstNginx) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "www");
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 977);
  WriteFile(dir.file("www/data.bin"), bytes);
  const int port = FreeLoopbackPort();
  NginxServer nginx(
      dir,
      "server { listen 127.0.0.1:" + std::to_string(port) + "; root " + dir.file("www") + "; }",
      port);
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/data.bin";

  RunResult r = RunVelmora({"fetch", url, "-o", dir.file("out.bin")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(ReadFile(dir.file("out.bin")) == bytes);
  r = RunVelmora({"fetch", "-r", "5-9", url});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, bytes.substr(5, 5));

  r = RunVelmora({"fetch", "-I", url});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_TRUE(Has(r.out, "Content-Length: 200000\r\n")) << r.out;

  r = RunVelmora({"fetch", "--trace", "--http1.1", url, "-o", "/dev/null"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "> GET /data.bin HTTP/1.1\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "* HR_Connect: 127.0.0.1:" + std::to_string(port))) << r.err;
  EXPECT_TRUE(Has(r.err, "< HTTP/1.1 200 OK\n")) << r.err;

  // A 404 is a response (0), unless --fail (1).
  const std::string missing = "http://127.0.0.1:" + std::to_string(port) + "/none";
  EXPECT_EQ(RunVelmora({"fetch", missing}).exit_code, 0);
  r = RunVelmora({"fetch", "--fail", missing});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Has(r.err, "404 Not Found")) << r.err;

  r = RunVelmora({"fetch", "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Has(r.err, "10061 Connection refused")) << r.err;
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"fetch"},
                                              {"fetch", url, "-r", "9-5"},
                                              {"fetch", url, "-x", "h"},
                                              {"fetch", url, "-d", "a", "-F", "f=@x"},
                                              {"fetch", url, "--data-binary", "@/nonexistent"}})
    EXPECT_EQ(RunVelmora(bad).exit_code, 2) << bad.back();
}

TEST(FetchCommandConcurrency, BodiesSummariesAndTimeLimitAgainstHttpbin) {
  TempDir dir;
  HttpbinServer httpbin(dir);
  RunResult r = RunVelmora({"fetch", "-d", "x=1", "-d", "y=2", "-u", "u:p", "-H", "X-A: b", "-b",
                            "c=3; d=4", httpbin.Url("/post")});
  ASSERT_EQ(r.exit_code, 0) << r.err << httpbin.Log();
  EXPECT_TRUE(Has(r.out, "\"form\":{\"x\":\"1\",\"y\":\"2\"}")) << r.out;
  EXPECT_TRUE(Has(r.out, "\"Authorization\":\"Basic dTpw\"")) << r.out;
  EXPECT_TRUE(Has(r.out, "\"X-A\":\"b\"")) << r.out;
  EXPECT_TRUE(Has(r.out, "\"Cookie\":\"c=3; d=4\"")) << r.out;

  WriteFile(dir.file("up.txt"), "uploaded\n");
  std::string at_file = "@";
  at_file += dir.file("up.txt");
  r = RunVelmora({"fetch", "-F", "doc=" + at_file, httpbin.Url("/post")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "\"files\":{\"doc\":\"uploaded\\n\"}")) << r.out;
  r = RunVelmora(
      {"fetch", "--data-binary", at_file, "-H", "Content-Type: text/plain", httpbin.Url("/post")});
  EXPECT_TRUE(Has(r.out, "\"data\":\"uploaded\\n\"")) << r.out;
  EXPECT_TRUE(Has(r.out, "\"Content-Type\":\"text/plain\"")) << r.out;

  r = RunVelmora({"fetch", "--json", httpbin.Url("/status/418")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "\"status\": 418, \"reason\": \"I'M A TEAPOT\"")) << r.out;
  EXPECT_TRUE(Has(r.out, "\"headers\": [\"HTTP/1.0 418 I'M A TEAPOT\", \"Server: gunicorn\""))
      << r.out;
  EXPECT_EQ(r.out.back(), '\n');

  auto start = std::chrono::steady_clock::now();
  r = RunVelmora({"fetch", "-m", "1", httpbin.Url("/delay/6")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Has(r.err, "--max-time 1 s passed")) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace velmora::testing
