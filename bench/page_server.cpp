// The live view's cost per 100 ms tick: one frame event (the oscilloscope
// trace of 2048 samples and 1024 spectrum levels, formatted by the view's
// feed as `velmora view` does) served to N event-stream clients on loopback.
//   BM_ServeFrame/N   wall time from the tick until every client holds the
//                     frame; counter gui_us: the publishing thread's own
//                     time (formatting once, queueing for N clients), which
//                     is all the GUI thread spends; format_us: the
//                     formatting alone (the same frame, no client)
// The clients are one reader thread in this process (poll over N sockets),
// so the process CPU time counts their reading too.  The figure to hold it
// against is the 100 ms between ticks.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "apps/velmora/view_feed.h"
#include "velmora/component/series.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/pageserver.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

// N loopback clients of the event stream, read by one thread; counts the
// frames each has received complete.
class Clients {
 public:
  Clients(int port, int n) : frames_(n) {
    for (int i = 0; i < n; ++i) {
      auto s = std::make_unique<net::TTCPBlockSocket>();
      s->Connect("127.0.0.1", std::to_string(port));
      s->SendString("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
      sockets_.push_back(std::move(s));
      frames_[i] = -1;  // the stream opens with "retry: 1000\n\n"
    }
    last_.assign(n, 0);
    reader_ = std::thread([this] { Read(); });
  }
  ~Clients() {
    stop_ = true;
    reader_.join();
  }
  // The fewest frames any client has received.
  int64_t Fewest() const {
    int64_t m = INT64_MAX;
    for (const auto& f : frames_) m = std::min<int64_t>(m, f.load());
    return m;
  }

 private:
  void Read() {
    std::vector<pollfd> fds;
    for (auto& s : sockets_) fds.push_back({s->Socket(), POLLIN, 0});
    std::vector<char> buf(1 << 16);
    while (!stop_) {
      if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
      for (size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        const ssize_t got = ::read(fds[i].fd, buf.data(), buf.size());
        if (got <= 0) continue;
        int64_t ends = 0;
        char prev = last_[i];
        for (ssize_t k = 0; k < got; ++k) {
          if (buf[k] == '\n' && prev == '\n') ++ends;
          prev = buf[k];
        }
        last_[i] = prev;
        frames_[i] += ends;
      }
    }
  }

  std::vector<std::unique_ptr<net::TTCPBlockSocket>> sockets_;
  std::vector<std::atomic<int64_t>> frames_;
  std::vector<char> last_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

void BM_ServeFrame(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  net::PageServerOptions options;
  options.queue_limit = 1000;  // nobody is dropped here
  net::PageServer server(options);
  server.SetEventPath("/events");
  if (!server.Start().empty()) {
    state.SkipWithError("cannot listen");
    return;
  }
  app::ViewFeed feed([&server](std::string_view e, std::string_view j) { server.Publish(e, j); });
  tonvel::TYSeries trace;
  tonvel::TXYSeries spectrum;
  for (int i = 0; i < 2048; ++i) trace.y.push_back(std::lround(100 * std::sin(i * 0.11)));
  for (int i = 0; i < 1024; ++i) {
    spectrum.x.push_back(i * 21.533203125);
    spectrum.y.push_back(-40.0 + 30.0 * std::sin(i * 0.05) + 0.123 * (i % 7));
  }
  Clients clients(server.Port(), n);
  while (server.Stats().clients < static_cast<size_t>(n))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));

  // The same frame formatted for no client: the part of gui_us that does not
  // depend on N.
  app::ViewFeed alone([](std::string_view, std::string_view) {});
  int64_t sent = 0;
  double gui_seconds = 0;
  double format_seconds = 0;
  for (auto _ : state) {
    const auto f0 = Clock::now();
    alone.OnTrace(trace);
    alone.OnSpectrum(spectrum, -30.5, 42, 26.7, 1336.0, {});
    format_seconds += std::chrono::duration<double>(Clock::now() - f0).count();
    const auto t0 = Clock::now();
    feed.OnTrace(trace);
    feed.OnSpectrum(spectrum, -30.5, 42, 26.7, 1336.0, {});
    gui_seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    ++sent;
    while (clients.Fewest() < sent) std::this_thread::yield();
  }
  state.counters["gui_us"] =
      benchmark::Counter(gui_seconds * 1e6 / static_cast<double>(state.iterations()));
  state.counters["format_us"] =
      benchmark::Counter(format_seconds * 1e6 / static_cast<double>(state.iterations()));
  state.counters["clients"] = n;
}
BENCHMARK(BM_ServeFrame)->Arg(1)->Arg(10)->Arg(100)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
