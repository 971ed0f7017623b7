// Block sockets over loopback against plain C loops, in the same run and
// interleaved round by round (loopback throughput swings a lot from run to
// run, so only ratios within one run mean anything):
//
//   throughput: 1 GiB sent in 64 KiB pieces; TTCPBlockSocket::SendBuffer and
//     RecvPacket against a sender of send() calls and a receiver that
//     poll()s then recv()s 64 KiB (the floor);
//   lines: a stream of 100-byte lines; RecvString against read() plus a
//     memchr splitter that hands each line out as a std::string.
//
// After the runs the median of each and the median of the per-round ratios
// are printed.
#include "velmora/net/blocksock.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback.h"
#include "bench/round_summary.h"
#include "benchmark/benchmark.h"

namespace {

using velmora::bench::PlainConnect;
using velmora::bench::PlainListener;
using velmora::net::TTCPBlockSocket;

constexpr int64_t kTotalBytes = int64_t{1} << 30;  // 1 GiB
constexpr int kPiece = 65536;
constexpr int64_t kLines = 1000000;
constexpr int kLineLength = 100;  // bytes, CR LF included
constexpr int kRounds = 9;

void PlainSendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r <= 0) return;
    p += r;
    n -= static_cast<size_t>(r);
  }
}

// 1000 lines of 98 bytes and CR LF, sent over and over.
const std::string& LineBlock() {
  static const std::string block = [] {
    std::string b;
    for (int i = 0; i < 1000; ++i) {
      std::string line(kLineLength - 2, static_cast<char>('a' + i % 26));
      b += line + "\r\n";
    }
    return b;
  }();
  return block;
}

void PlainLineSender(int port) {
  int fd = PlainConnect(port);
  const std::string& block = LineBlock();
  for (int64_t sent = 0; sent < kLines; sent += 1000) PlainSendAll(fd, block.data(), block.size());
  ::close(fd);
}

// --- Throughput

void FloorThroughput(benchmark::State& state) {
  std::vector<char> buf(kPiece);
  for (auto _ : state) {
    PlainListener l;
    std::thread sender([port = l.port] {
      int fd = PlainConnect(port);
      std::vector<char> chunk(kPiece, 'x');
      for (int64_t sent = 0; sent < kTotalBytes; sent += kPiece)
        PlainSendAll(fd, chunk.data(), chunk.size());
      ::close(fd);
    });
    int fd = ::accept(l.fd, nullptr, nullptr);
    int64_t total = 0;
    while (total < kTotalBytes) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, -1) <= 0) break;
      ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      total += n;
    }
    sender.join();
    ::close(fd);
    if (total != kTotalBytes) state.SkipWithError("short transfer");
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

void BlockSocketThroughput(benchmark::State& state) {
  for (auto _ : state) {
    TTCPBlockSocket server;
    server.Bind("127.0.0.1", "0");
    server.Listen();
    std::string port = std::to_string(server.GetLocalSinPort());
    std::thread sender([port] {
      TTCPBlockSocket c;
      c.Connect("127.0.0.1", port);
      std::string chunk(kPiece, 'x');
      for (int64_t sent = 0; sent < kTotalBytes && c.LastError() == 0; sent += kPiece)
        c.SendBuffer(chunk.data(), kPiece);
    });
    TTCPBlockSocket conn;
    conn.SetSocket(server.Accept());
    int64_t total = 0;
    while (total < kTotalBytes) {
      std::string packet = conn.RecvPacket(60000);
      if (conn.LastError() != 0) break;
      total += static_cast<int64_t>(packet.size());
    }
    sender.join();
    if (total != kTotalBytes) state.SkipWithError("short transfer");
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}

// --- Lines

void FloorLines(benchmark::State& state) {
  std::vector<char> buf(kPiece);
  int64_t lines = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    PlainListener l;
    std::thread sender(PlainLineSender, l.port);
    int fd = ::accept(l.fd, nullptr, nullptr);
    std::string carry;
    int64_t count = 0;
    while (count < kLines) {
      ssize_t n = ::read(fd, buf.data(), buf.size());
      if (n <= 0) break;
      const char* p = buf.data();
      const char* end = p + n;
      while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!lf) {
          carry.append(p, end);
          break;
        }
        std::string line;
        if (carry.empty()) {
          line.assign(p, lf);
        } else {
          line = std::move(carry);
          line.append(p, lf);
          carry.clear();
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bytes += line.size();
        benchmark::DoNotOptimize(line);
        ++count;
        p = lf + 1;
      }
    }
    sender.join();
    ::close(fd);
    lines += count;
    if (count != kLines) state.SkipWithError("short transfer");
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(lines);
}

void BlockSocketLines(benchmark::State& state) {
  int64_t lines = 0;
  for (auto _ : state) {
    TTCPBlockSocket server;
    server.Bind("127.0.0.1", "0");
    server.Listen();
    int port = server.GetLocalSinPort();
    std::thread sender(PlainLineSender, port);
    TTCPBlockSocket conn;
    conn.SetSocket(server.Accept());
    int64_t count = 0;
    while (count < kLines) {
      std::string line = conn.RecvString(60000);
      if (conn.LastError() != 0) break;
      benchmark::DoNotOptimize(line);
      ++count;
    }
    sender.join();
    lines += count;
    if (count != kLines) state.SkipWithError("short transfer");
  }
  state.SetItemsProcessed(lines);
}

}  // namespace

int main(int argc, char** argv) {
  return velmora::bench::RunInterleaved(argc, argv, kRounds,
                                        {{"throughput_floor", FloorThroughput},
                                         {"throughput_blocksock", BlockSocketThroughput},
                                         {"lines_floor", FloorLines},
                                         {"lines_blocksock", BlockSocketLines}},
                                        {{"throughput_blocksock", "throughput_floor", "GB/s", 1e9},
                                         {"lines_blocksock", "lines_floor", "Mlines/s", 1e6}});
}
