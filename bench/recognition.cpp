// The recognition hand-off of a 3 s recording against a local HTTPS
// recognition server (tests/peers/recognition_server.py with canned replies,
// FLAC left undecoded so that the server's own work stays small), split into
// its stages:
//
//   Encode        flac --skip=1 on the recording, waited for
//   Handshake     TCP connect and TLS handshake to the server, then close
//   Post          post_multipart: connect, handshake, request, reply
//   Parse         the five-marker parse of a reply
//   HandOff       the whole hand-off as the trigger tick runs it: encode,
//                 post, parse and TriggerOffGSA; the GUI thread stands still
//                 for all of it
//   CurlPost      the peer: curl posting the same body to the same server
//                 (a process start included)
//
// Run with repetitions and random interleaving on a shared machine, e.g.
//   build/bin/bench_recognition --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true
#include "velmora/component/recognition.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "benchmark/benchmark.h"
#include "velmora/component/recording.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/streams.h"
#include "velmora/net/tcp_socket.h"
#include "velmora/platform/process.h"
#include "velmora/platform/wave.h"

namespace {

namespace fs = std::filesystem;
namespace recognition = velmora::tonvel::recognition;

const char* kReply =
    "{\"status\":0,\"id\":\"b-1\",\"hypotheses\":[{\"utterance\":\"privet\",\"confidence\":0.87}]}";

int RunProgram(const std::vector<std::string>& argv) {
  const velmora::platform::SpawnResult r =
      velmora::platform::Spawn(argv[0], {argv.begin() + 1, argv.end()}, "");
  if (!r) return -1;
  return velmora::platform::WaitForExit(r.pid, 60000).exit_code;
}

// The server, its certificate and a 3 s recording, made once per run.
struct Setup {
  fs::path dir;
  int port = 0;
  int pid = -1;
  std::string url;
  std::string wav;
  std::string flac;  // the recording's FLAC
  std::string body;  // a request body with it, for the peer

  Setup() {
    char tmpl[] = "/tmp/velmora-bench-recognition-XXXXXX";
    dir = ::mkdtemp(tmpl);
    const std::string cert = (dir / "server.pem").string();
    const std::string key = (dir / "server.key").string();
    if (RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"}) != 0)
      throw std::runtime_error("openssl could not make the server's certificate");
    // JSON-escape the reply's quotes.
    std::string escaped;
    for (const char c : std::string(kReply)) {
      if (c == '"') escaped += '\\';
      escaped += c;
    }
    std::ofstream(dir / "replies.json", std::ios::trunc) << "[\"" << escaped << "\"]";

    // The source tree lies two levels above build/bin.
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    const fs::path script =
        exe.parent_path().parent_path().parent_path() / "tests" / "peers" / "recognition_server.py";
    port = 20000 + static_cast<int>(::getpid() % 20000);
    const velmora::platform::SpawnResult server = velmora::platform::Spawn(
        "/usr/bin/python3",
        {script.string(), "--port", std::to_string(port), "--dir", dir.string(), "--replies",
         (dir / "replies.json").string(), "--cert", cert, "--key", key, "--no-decode"},
        "");
    if (!server) throw std::runtime_error(server.error);
    pid = server.pid;
    url = "https://127.0.0.1:" + std::to_string(port) + std::string(recognition::kPathAndQuery);
    for (int i = 0; i < 100 && !fs::exists(dir / "server.pid"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // 3 s: a tone with a slow vibrato (speech-like for the encoder).
    std::string samples;
    for (int i = 0; i < 3 * 44100; ++i) {
      const double t = i / 44100.0;
      samples += static_cast<char>(
          128 +
          std::lround(80 * std::sin(2 * std::numbers::pi * (300 + 80 * std::sin(7 * t)) * t)));
    }
    wav = (dir / "rec.wav").string();
    const auto header =
        velmora::tonvel::recording::MakeWaveHeader(static_cast<uint32_t>(samples.size()));
    std::ofstream(wav, std::ios::binary) << std::string(header.begin(), header.end()) << samples;
    const recognition::EncodeResult e = recognition::EncodeFlac(recognition::FindEncoder(), wav);
    if (!e) throw std::runtime_error(e.failure);
    std::ifstream in(e.flac_path, std::ios::binary);
    flac.assign(std::istreambuf_iterator<char>(in), {});
    body = recognition::MultipartBody("0A3F19C2_Velmora_boundary", "userfile", "rec.flac", flac);
    std::ofstream(dir / "body", std::ios::binary) << body;
    fs::remove(e.flac_path);
  }
  ~Setup() {
    if (pid > 0) velmora::platform::Kill(pid);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Setup& S() {
  static Setup setup;
  return setup;
}

void BM_Encode(benchmark::State& state) {
  const std::string encoder = recognition::FindEncoder();
  for (auto _ : state) {
    const recognition::EncodeResult e = recognition::EncodeFlac(encoder, S().wav);
    if (!e) state.SkipWithError(e.failure.c_str());
    state.PauseTiming();
    fs::remove(e.flac_path);
    state.ResumeTiming();
  }
}

void BM_Handshake(benchmark::State& state) {
  for (auto _ : state) {
    velmora::net::TTCPBlockSocket sock;
    sock.Connect("127.0.0.1", std::to_string(S().port));
    sock.SSLDoConnect();
    if (sock.LastError() != 0) state.SkipWithError(sock.LastErrorText().c_str());
    sock.CloseSocket();
  }
}

void BM_Post(benchmark::State& state) {
  velmora::host::TMemoryStream data;
  const std::string& flac = S().flac;
  data.WriteBuffer(flac.data(), static_cast<int64_t>(flac.size()));
  for (auto _ : state) {
    std::string reply;
    velmora::tonvel::post_multipart(S().url, "userfile", "rec.flac", reply, data,
                                    (S().dir / "server.pem").string());
    if (reply.find("privet") == std::string::npos) state.SkipWithError("no reply");
  }
}

void BM_Parse(benchmark::State& state) {
  const std::string reply = std::string(kReply) + "\r\n";
  for (auto _ : state) benchmark::DoNotOptimize(recognition::ParseReply(reply).accuracy);
}

void BM_HandOff(benchmark::State& state) {
  velmora::platform::SetDefaultInput({velmora::platform::DeviceKind::None, "", false});
  velmora::tonvel::TDTMF dtmf(nullptr);
  dtmf.set_TriggerOff_Recognize_URL(S().url);
  dtmf.set_TriggerOff_Recognize_CAFile((S().dir / "server.pem").string());
  int events = 0;
  dtmf.TriggerOffGSA = [&](velmora::host::TObject*, const char*, const char*, const char*,
                           int32_t accuracy) { events += accuracy == 87; };
  velmora::tonvel::temp_gsa = S().wav;
  for (auto _ : state) {
    recognition::HandOff(dtmf);
    state.PauseTiming();
    fs::remove(recognition::FlacName(S().wav));
    state.ResumeTiming();
  }
  if (events != static_cast<int>(state.iterations())) state.SkipWithError("an event was missing");
}

void BM_CurlPost(benchmark::State& state) {
  std::string body = "@";
  body += (S().dir / "body").string();
  std::string type = "Content-Type: ";
  type += recognition::RequestMimeType("0A3F19C2_Velmora_boundary");
  for (auto _ : state) {
    if (RunProgram({"curl", "-s", "-o", "/dev/null", "--cacert", (S().dir / "server.pem").string(),
                    "-H", type, "--data-binary", body, S().url}) != 0)
      state.SkipWithError("curl failed");
  }
}

BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Handshake)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Post)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Parse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HandOff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlPost)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
