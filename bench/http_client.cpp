// THTTPSend against curl and libcurl, all fetching from one nginx on
// loopback, in the same run and interleaved round by round (loopback
// throughput swings a lot from run to run, so only ratios within one run
// mean anything):
//
//   download: 1 GiB into Document, against `curl -s -o /dev/null` of the
//     same URL (http, and https with TLS 1.3 when the TLS plug-in is there);
//   keepalive: 2000 sequential GETs of a 100-byte file over one kept
//     connection (Protocol "1.1"), against libcurl reusing one easy handle;
//   fresh: 2000 GETs with a new connection each (the default Protocol
//     "1.0"), against libcurl with CURLOPT_FORBID_REUSE.
//
// After the runs the median of each and the median of the per-round ratios
// are printed.
#include <curl/curl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/round_summary.h"
#include "benchmark/benchmark.h"
#include "tests/peers/tls_peers.h"
#include "velmora/net/httpclient.h"

extern char** environ;

namespace {

using velmora::net::THTTPSend;
using velmora::testing::FreeLoopbackPort;
using velmora::testing::NginxServer;
using velmora::testing::TempDir;
using velmora::testing::TestPki;

constexpr int64_t kDownloadBytes = int64_t{1} << 30;  // 1 GiB
constexpr int kRequests = 2000;
constexpr int kRounds = 5;

struct Peer {
  TempDir dir;
  std::unique_ptr<TestPki> pki;
  std::unique_ptr<NginxServer> nginx;
  int http_port = 0;
  int https_port = 0;
  bool tls = false;

  std::string Url(bool https, const std::string& path) const {
    return std::string(https ? "https" : "http") + "://" + (https ? "localhost" : "127.0.0.1") +
           ":" + std::to_string(https ? https_port : http_port) + path;
  }
};

Peer& TheServer() {
  static std::unique_ptr<Peer> peer = [] {
    auto owner = std::make_unique<Peer>();
    Peer& p = *owner;
    std::filesystem::create_directories(p.dir.path() / "www");
    {
      std::FILE* f = std::fopen(p.dir.file("www/big").c_str(), "wb");
      std::string block(1 << 20, 'v');
      for (int64_t i = 0; i < kDownloadBytes; i += static_cast<int64_t>(block.size()))
        std::fwrite(block.data(), 1, block.size(), f);
      std::fclose(f);
    }
    velmora::testing::WriteFile(p.dir.file("www/small"), std::string(100, 's'));
    p.pki = std::make_unique<TestPki>(p.dir);
    p.http_port = FreeLoopbackPort();
    p.https_port = FreeLoopbackPort();
    const std::string common =
        "root " + p.dir.file("www") + "; sendfile on; keepalive_requests 1000000; access_log off;";
    p.nginx = std::make_unique<NginxServer>(
        p.dir,
        "server { listen 127.0.0.1:" + std::to_string(p.http_port) + "; " + common +
            " }\nserver { listen 127.0.0.1:" + std::to_string(p.https_port) + " ssl; " + common +
            " ssl_certificate " + p.pki->File("server.pem") + "; ssl_certificate_key " +
            p.pki->File("server.key") + "; ssl_protocols TLSv1.3; }",
        p.http_port);
    velmora::net::TTCPBlockSocket probe;
    p.tls = probe.SSLPlugin()->LibName() != "ssl_none";
    return owner;
  }();
  return *peer;
}

void VerifyWithTestCa(THTTPSend& http) {
  http.Sock().SSLPlugin()->set_VerifyCert(true);
  http.Sock().SSLPlugin()->set_CertCAFile(TheServer().pki->CaFile());
}

// --- Downloads.

void CurlDownload(benchmark::State& state, bool https, bool) {
  const Peer& p = TheServer();
  std::vector<std::string> argv = {
      "/usr/bin/curl", "-s", "-o", "/dev/null", "--cacert", p.pki->CaFile(), p.Url(https, "/big")};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (auto _ : state) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(kDownloadBytes * state.iterations());
}

// `reuse`: one object for every round, so its Document's memory is already
// there; else a new object, which pays for the system zeroing fresh pages.
void VelmoraDownload(benchmark::State& state, bool https, bool reuse) {
  static THTTPSend kept[2];
  std::unique_ptr<THTTPSend> fresh;
  if (!reuse) fresh = std::make_unique<THTTPSend>();
  THTTPSend& http = reuse ? kept[https] : *fresh;
  if (https) VerifyWithTestCa(http);
  for (auto _ : state) {
    http.Clear();
    if (!http.HTTPMethod("GET", TheServer().Url(https, "/big")) ||
        http.Document().Size() != kDownloadBytes)
      state.SkipWithError(("download failed: " + http.Sock().LastErrorText()).c_str());
  }
  state.SetBytesProcessed(kDownloadBytes * state.iterations());
}

// --- Request rates.

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

void LibcurlRequests(benchmark::State& state, bool https, bool reuse) {
  CURL* curl = curl_easy_init();
  const std::string url = TheServer().Url(https, "/small");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(curl, CURLOPT_CAINFO, TheServer().pki->CaFile().c_str());
  if (!reuse) curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  for (auto _ : state) {
    for (int i = 0; i < kRequests; ++i) {
      if (curl_easy_perform(curl) != CURLE_OK) {
        state.SkipWithError("libcurl failed");
        break;
      }
    }
  }
  curl_easy_cleanup(curl);
  state.SetItemsProcessed(int64_t{kRequests} * state.iterations());
}

void VelmoraRequests(benchmark::State& state, bool https, bool reuse) {
  THTTPSend http;
  if (https) VerifyWithTestCa(http);
  http.set_Protocol(reuse ? "1.1" : "1.0");
  const std::string url = TheServer().Url(https, "/small");
  for (auto _ : state) {
    for (int i = 0; i < kRequests; ++i) {
      http.Clear();
      if (!http.HTTPMethod("GET", url) || http.Document().Size() != 100) {
        state.SkipWithError(("request failed: " + http.Sock().LastErrorText()).c_str());
        break;
      }
    }
  }
  state.SetItemsProcessed(int64_t{kRequests} * state.iterations());
}

// A summary line for the names of two kinds.
void Summary(const velmora::bench::Collector& c, const std::string& ours, const std::string& peer,
             const char* unit, double scale) {
  velmora::bench::Summary(c, ours.c_str(), peer.c_str(), unit, scale);
}

void Register(const std::string& name, void (*fn)(benchmark::State&, bool, bool), bool https,
              bool reuse) {
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { fn(s, https, reuse); })
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const bool tls = TheServer().tls;
  if (!tls) std::printf("The TLS plug-in is not installed: the https cases are left out.\n");
  for (int round = 1; round <= kRounds; ++round) {
    const std::string r = "/round:" + std::to_string(round);
    for (bool https : {false, true}) {
      if (https && !tls) continue;
      const std::string s = https ? "https" : "http";
      Register("download_" + s + "_curl" + r, CurlDownload, https, false);
      Register("download_" + s + "_velmora" + r, VelmoraDownload, https, true);
      Register("download_" + s + "_velmora_fresh" + r, VelmoraDownload, https, false);
      Register("keepalive_" + s + "_libcurl" + r, LibcurlRequests, https, true);
      Register("keepalive_" + s + "_velmora" + r, VelmoraRequests, https, true);
    }
    Register("fresh_http_libcurl" + r, LibcurlRequests, false, false);
    Register("fresh_http_velmora" + r, VelmoraRequests, false, false);
  }
  benchmark::Initialize(&argc, argv);
  velmora::bench::Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\nSummary over %d interleaved rounds:\n", kRounds);
  for (const char* s : {"http", "https"}) {
    Summary(collector, std::string("download_") + s + "_velmora",
            std::string("download_") + s + "_curl", "MB/s", 1e6);
    Summary(collector, std::string("download_") + s + "_velmora_fresh",
            std::string("download_") + s + "_curl", "MB/s", 1e6);
    Summary(collector, std::string("keepalive_") + s + "_velmora",
            std::string("keepalive_") + s + "_libcurl", "req/s", 1);
  }
  Summary(collector, "fresh_http_velmora", "fresh_http_libcurl", "req/s", 1);
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
