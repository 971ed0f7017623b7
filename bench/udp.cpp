// UDP datagrams per second over loopback against a plain C loop, in the same
// run and interleaved round by round.  One thread sends a datagram and
// receives it on the other socket, datagram after datagram:
//
//   floor: sendto() then recvfrom() on two plain sockets;
//   udp:   TUDPBlockSocket::SendString then RecvPacket on two block sockets.
//
// Payloads of 64 and 1400 bytes; after the runs the median of each and the
// median of the per-round ratios are printed.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/round_summary.h"
#include "benchmark/benchmark.h"
#include "velmora/net/blocksock.h"

namespace {

using velmora::net::TUDPBlockSocket;

constexpr int64_t kDatagrams = 200000;
constexpr int kRounds = 9;

int PlainBoundSocket(sockaddr_in& a) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return fd;
}

void Floor(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  sockaddr_in to{}, from_addr{};
  int receiver = PlainBoundSocket(to);
  int sender = PlainBoundSocket(from_addr);
  std::string payload(size, 'x');
  std::vector<char> buf(65536);
  int64_t count = 0;
  for (auto _ : state) {
    for (int64_t i = 0; i < kDatagrams; ++i) {
      ::sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n =
          ::recvfrom(receiver, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n != static_cast<ssize_t>(size)) state.SkipWithError("lost datagram");
      ++count;
    }
  }
  ::close(sender);
  ::close(receiver);
  state.SetItemsProcessed(count);
}

void BlockSocket(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  TUDPBlockSocket receiver;
  receiver.Bind("127.0.0.1", "0");
  TUDPBlockSocket sender;
  sender.Connect("127.0.0.1", std::to_string(receiver.GetLocalSinPort()));
  std::string payload(size, 'x');
  int64_t count = 0;
  for (auto _ : state) {
    for (int64_t i = 0; i < kDatagrams; ++i) {
      sender.SendString(payload);
      std::string d = receiver.RecvPacket(1000);
      if (d.size() != size) state.SkipWithError("lost datagram");
      benchmark::DoNotOptimize(d);
      ++count;
    }
  }
  state.SetItemsProcessed(count);
}

}  // namespace

int main(int argc, char** argv) {
  for (int round = 1; round <= kRounds; ++round) {
    for (int size : {64, 1400}) {
      char r[48];
      std::snprintf(r, sizeof r, "_%d/round:%d", size, round);
      benchmark::RegisterBenchmark((std::string("udp_floor") + r).c_str(), Floor)
          ->Arg(size)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark((std::string("udp_blocksock") + r).c_str(), BlockSocket)
          ->Arg(size)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  velmora::bench::Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\nSummary over %d interleaved rounds:\n", kRounds);
  velmora::bench::Summary(collector, "udp_blocksock_64", "udp_floor_64", "kdgram/s", 1e3);
  velmora::bench::Summary(collector, "udp_blocksock_1400", "udp_floor_1400", "kdgram/s", 1e3);
  benchmark::Shutdown();
  return 0;
}
