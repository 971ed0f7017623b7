// THTTPSend against curl and libcurl, all fetching from one nginx on
// loopback, in the same run and interleaved round by round (loopback
// throughput swings a lot from run to run, so only ratios within one run
// mean anything):
//
//   download: 1 GiB into Document, with one object kept for every round
//     (its memory is in place) and with a new object per round, against
//     `curl -s -o /dev/null` of the same URL and against libcurl gathering
//     the body in memory (like for like with a new object); http, and https
//     with TLS 1.3 when the TLS plug-in is there;
//   keepalive: 2000 sequential GETs of a 100-byte file over one kept
//     connection (Protocol "1.1"), against libcurl reusing one easy handle;
//   fresh: 2000 GETs with a new connection each (the default Protocol
//     "1.0"), against libcurl with CURLOPT_FORBID_REUSE, over http and
//     https (a full TLS handshake each; libcurl's session resumption, its
//     default, is shown apart).
//
// libcurl runs in its own small C program, bench/curl_requests.c.  After
// the runs the median of each kind and the median of the per-round ratios
// are printed; `--benchmark_filter='round:[12]/'` runs fewer rounds.
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/round_summary.h"
#include "benchmark/benchmark.h"
#include "tests/peers/tls_peers.h"
#include "velmora/net/httpclient.h"

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
      // Written back before the first round, so that no round shares the
      // machine with the write-back.
      std::fflush(f);
      ::fsync(::fileno(f));
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
  const std::vector<std::string> argv = {
      "/usr/bin/curl", "-s", "-o", "/dev/null", "--cacert", p.pki->CaFile(), p.Url(https, "/big")};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const velmora::testing::RunResult r = velmora::testing::Run(argv);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (r.exit_code != 0) {
      state.SkipWithError(("curl failed: " + r.err).c_str());
      break;
    }
  }
  state.SetBytesProcessed(kDownloadBytes * state.iterations());
}

// `reuse`: one object for every round, whose Document keeps its memory
// (it is warmed by one untimed download on first use), so the transfer
// itself is measured; else a new object per round, which also pays for the
// system handing it 1 GiB of fresh pages, as a program that downloads once
// does.
void VelmoraDownload(benchmark::State& state, bool https, bool reuse) {
  static THTTPSend kept[2];
  static bool warmed[2] = {false, false};
  std::unique_ptr<THTTPSend> fresh;
  if (!reuse) fresh = std::make_unique<THTTPSend>();
  THTTPSend& http = reuse ? kept[https] : *fresh;
  if (https) VerifyWithTestCa(http);
  const std::string url = TheServer().Url(https, "/big");
  auto download = [&] {
    http.Clear();
    return http.HTTPMethod("GET", url) && http.Document().Size() == kDownloadBytes;
  };
  if (reuse && !warmed[https]) warmed[https] = download();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = download();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!ok) {
      state.SkipWithError(("download failed: " + http.Sock().LastErrorText()).c_str());
      break;
    }
  }
  state.SetBytesProcessed(kDownloadBytes * state.iterations());
}

// --- The libcurl peer.

// Runs the peer program `curl_requests` (one easy handle, built beside this
// benchmark) once per round: COUNT GETs of `path`, each of `size` bytes, with
// its options.  It reports the time of its requests alone, so process start
// and library set-up are counted for neither side.
void LibcurlPeer(benchmark::State& state, bool https, const std::string& path, int count,
                 int64_t size, const std::vector<std::string>& options) {
  const Peer& p = TheServer();
  std::vector<std::string> argv = {
      (velmora::testing::BinaryDir() / "bin" / "curl_requests").string(),
      p.Url(https, path),
      std::to_string(count),
      std::to_string(size),
      "--cainfo",
      p.pki->CaFile()};
  argv.insert(argv.end(), options.begin(), options.end());
  for (auto _ : state) {
    velmora::testing::RunResult r;
    try {
      r = velmora::testing::Run(argv);
    } catch (const std::exception& e) {  // the peer program is not built
      r.err = e.what();
    }
    double seconds = 0;
    if (r.exit_code != 0 || std::sscanf(r.out.c_str(), "requests %*d seconds %lf", &seconds) != 1 ||
        seconds <= 0) {
      state.SkipWithError(("curl_requests failed: " + r.err).c_str());
      break;
    }
    state.SetIterationTime(seconds);
  }
}

// 1 GiB into a block of libcurl's own program that grows with realloc: the
// memory a download into memory pays for, as a fresh object does.
void LibcurlDownload(benchmark::State& state, bool https, bool) {
  LibcurlPeer(state, https, "/big", 1, kDownloadBytes, {"--keep-body"});
  state.SetBytesProcessed(kDownloadBytes * state.iterations());
}

// `reuse`: one connection for all requests; else a new one for each, with
// a full TLS handshake over https as ours does (libcurl's session
// resumption is off).
void LibcurlRequests(benchmark::State& state, bool https, bool reuse) {
  std::vector<std::string> options;
  if (!reuse) options = {"--forbid-reuse", "--no-session-cache"};
  LibcurlPeer(state, https, "/small", kRequests, 100, options);
  state.SetItemsProcessed(int64_t{kRequests} * state.iterations());
}

// New connections that resume the TLS session, libcurl's default.
void LibcurlResumed(benchmark::State& state, bool https, bool) {
  LibcurlPeer(state, https, "/small", kRequests, 100, {"--forbid-reuse"});
  state.SetItemsProcessed(int64_t{kRequests} * state.iterations());
}

// --- Request rates.

void VelmoraRequests(benchmark::State& state, bool https, bool reuse) {
  THTTPSend http;
  if (https) VerifyWithTestCa(http);
  http.set_Protocol(reuse ? "1.1" : "1.0");
  const std::string url = TheServer().Url(https, "/small");
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequests; ++i) {
      http.Clear();
      if (!http.HTTPMethod("GET", url) || http.Document().Size() != 100) {
        state.SkipWithError(("request failed: " + http.Sock().LastErrorText()).c_str());
        break;
      }
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetItemsProcessed(int64_t{kRequests} * state.iterations());
}

// Every case measures its own time (the peers report theirs).
void Register(const std::string& name, void (*fn)(benchmark::State&, bool, bool), bool https,
              bool reuse) {
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { fn(s, https, reuse); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  const bool tls = TheServer().tls;
  if (!tls) std::printf("The TLS plug-in is not installed: the https cases are left out.\n");
  std::vector<std::string> schemes = {"http"};
  if (tls) schemes.push_back("https");
  for (int round = 1; round <= kRounds; ++round) {
    const std::string r = "/round:" + std::to_string(round);
    for (const std::string& s : schemes) {
      const bool https = s == "https";
      Register("download_" + s + "_curl" + r, CurlDownload, https, false);
      Register("download_" + s + "_velmora" + r, VelmoraDownload, https, true);
      Register("download_" + s + "_velmora_fresh" + r, VelmoraDownload, https, false);
      Register("download_" + s + "_libcurl_memory" + r, LibcurlDownload, https, false);
      Register("keepalive_" + s + "_libcurl" + r, LibcurlRequests, https, true);
      Register("keepalive_" + s + "_velmora" + r, VelmoraRequests, https, true);
      Register("fresh_" + s + "_libcurl" + r, LibcurlRequests, https, false);
      Register("fresh_" + s + "_velmora" + r, VelmoraRequests, https, false);
      if (https) Register("fresh_" + s + "_libcurl_resumed" + r, LibcurlResumed, https, false);
    }
  }
  // Ours against the peer; the names live as long as the summary.
  std::vector<std::array<std::string, 2>> names;
  for (const std::string& s : schemes) {
    names.push_back({"download_" + s + "_velmora", "download_" + s + "_curl"});
    names.push_back({"download_" + s + "_velmora_fresh", "download_" + s + "_curl"});
    names.push_back({"download_" + s + "_velmora_fresh", "download_" + s + "_libcurl_memory"});
    names.push_back({"keepalive_" + s + "_velmora", "keepalive_" + s + "_libcurl"});
    names.push_back({"fresh_" + s + "_velmora", "fresh_" + s + "_libcurl"});
  }
  if (tls) names.push_back({"fresh_https_velmora", "fresh_https_libcurl_resumed"});
  std::vector<velmora::bench::Pairing> pairings;
  for (const auto& [ours, peer] : names) {
    const bool download = ours.rfind("download_", 0) == 0;
    pairings.push_back(
        {ours.c_str(), peer.c_str(), download ? "MB/s" : "req/s", download ? 1e6 : 1});
  }
  benchmark::Initialize(&argc, argv);
  velmora::bench::Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  velmora::bench::PrintSummaries(collector, pairings);
  benchmark::Shutdown();
  return 0;
}
