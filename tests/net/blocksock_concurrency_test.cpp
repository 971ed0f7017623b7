// The block socket against peers that send over time (server threads of the
// test's own), and StopFlag set from another thread.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/peers/peers.h"
#include "velmora/net/blocksock.h"

namespace velmora::net {
namespace {

using Clock = std::chrono::steady_clock;
using velmora::testing::SendAll;
using velmora::testing::TcpServer;

// Sends `count` single bytes, one every `gap`.
TcpServer::Handler Trickle(int count, std::chrono::milliseconds gap) {
  return [count, gap](int fd, const std::atomic<bool>& stop) {
    for (int i = 0; i < count && !stop.load(); ++i) {
      if (!SendAll(fd, std::string(1, static_cast<char>('a' + i % 26)))) return;
      std::this_thread::sleep_for(gap);
    }
    // Stay connected until the test is done.
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
}

TEST(BlockSocketConcurrency, WholeReadTimeoutEndsASlowTransfer) {
  TcpServer server(Trickle(20, std::chrono::milliseconds(100)));
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(s.LastError(), 0);
  s.set_InterPacketTimeout(false);
  char buf[20];
  auto start = Clock::now();
  int32_t got = s.RecvBufferEx(buf, 20, 1000);
  auto elapsed = Clock::now() - start;
  EXPECT_EQ(s.LastError(), 10060);
  EXPECT_LT(got, 20);
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::milliseconds(5000));
}

// A read of more than 64 KiB is one read: its pieces share the time-out.
// 64 KiB every 700 ms cannot deliver 200000 bytes within 1 s.
TEST(BlockSocketConcurrency, WholeReadTimeoutCoversEveryPieceOfALongRead) {
  TcpServer server([](int fd, const std::atomic<bool>& stop) {
    for (int i = 0; i < 4 && !stop.load(); ++i) {
      if (!SendAll(fd, std::string(65536, 'p'))) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  for (const bool block : {false, true}) {
    SCOPED_TRACE(block ? "RecvBlock" : "RecvBufferStr");
    TTCPBlockSocket s;
    s.Connect("127.0.0.1", std::to_string(server.port()));
    ASSERT_EQ(s.LastError(), 0);
    s.set_InterPacketTimeout(false);
    std::string got;
    if (block) {
      s.set_InputBacklog(std::string("\x40\x0d\x03\x00", 4));  // length 200000
      got = s.RecvBlock(1000);
    } else {
      got = s.RecvBufferStr(200000, 1000);
    }
    EXPECT_EQ(s.LastError(), 10060);
    EXPECT_TRUE(got.empty());
  }
}

TEST(BlockSocketConcurrency, PerPacketTimeoutLetsASlowTransferComplete) {
  TcpServer server(Trickle(20, std::chrono::milliseconds(100)));
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(s.LastError(), 0);
  char buf[20];
  EXPECT_EQ(s.RecvBufferEx(buf, 20, 1000), 20);
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(std::string(buf, 5), "abcde");
}

TEST(BlockSocketConcurrency, UnlimitedTimeoutStaysUnlimitedForWholeReads) {
  TcpServer server([](int fd, const std::atomic<bool>& stop) {
    SendAll(fd, "12345");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SendAll(fd, "67890line\r\n");
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(s.LastError(), 0);
  s.set_InterPacketTimeout(false);
  char buf[10];
  EXPECT_EQ(s.RecvBufferEx(buf, 10, -1), 10);
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(s.RecvString(-1), "line");
}

TEST(BlockSocketConcurrency, StopFlagFromAnotherThreadAbortsTheTransfer) {
  TcpServer server([](int fd, const std::atomic<bool>& stop) {
    while (!stop.load() && SendAll(fd, "tick"))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(s.LastError(), 0);
  // The flag is raised once data has arrived, in the middle of the stream.
  std::atomic<int64_t> total{0};
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (total.load() == 0 && !done.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s.set_StopFlag(true);
  });
  auto start = Clock::now();
  while (Clock::now() - start < std::chrono::seconds(20)) {
    total += static_cast<int64_t>(s.RecvPacket(2000).size());
    if (s.LastError() != 0) break;
  }
  done = true;
  stopper.join();
  EXPECT_EQ(s.LastError(), 10053);
  EXPECT_EQ(s.LastErrorText(), "Software caused connection abort");
  EXPECT_GT(total.load(), 0);
  EXPECT_FALSE(s.StopFlag());  // whoever acts on the flag clears it
}

TEST(BlockSocketConcurrency, CloseDuringAnEndlessStreamReturns) {
  TcpServer server([](int fd, const std::atomic<bool>& stop) {
    std::string chunk(65536, 's');
    while (!stop.load() && SendAll(fd, chunk)) {
    }
  });
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(s.LastError(), 0);
  EXPECT_FALSE(s.RecvPacket(2000).empty());
  auto start = Clock::now();
  s.CloseSocket();  // discards a bounded amount, then closes
  EXPECT_EQ(s.Socket(), INVALID_SOCKET);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
}

TEST(BlockSocketConcurrency, HeartbeatRoundsSeeAStopRequest) {
  TcpServer server([](int, const std::atomic<bool>& stop) {
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(s.LastError(), 0);
  int beats = 0;
  s.set_HeartbeatRate(50);
  s.OnHeartbeat = [&](host::TObject* sender) {
    if (++beats == 3) static_cast<TBlockSocket*>(sender)->set_StopFlag(true);
  };
  auto start = Clock::now();
  EXPECT_FALSE(s.CanRead(10000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(beats, 3);
  EXPECT_FALSE(s.StopFlag());
}

}  // namespace
}  // namespace velmora::net
