// velmora ping HOST [-c COUNT] [-i INTERVAL] [-W TIMEOUT] [-s SIZE] [--json]
//
// ICMP (or ICMPv6) echo through TICMPBlockSocket, like ping: one line per
// reply with its time, then the statistics.  Only echo replies that carry
// this process's identifier and the sequence number waited for count: a raw
// socket also sees the requests themselves on loopback and the replies of
// every other pinger on the host.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "apps/velmora/command.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/icmp_echo.h"

namespace velmora::app {
namespace {

using Clock = std::chrono::steady_clock;

// The largest payload of one echo request over IPv4 (65535 - 20 - 8).
constexpr int64_t kMaxPayload = 65507;

volatile sig_atomic_t g_stop = 0;
std::atomic<net::TBlockSocket*> g_socket{nullptr};

// SIGINT and SIGTERM end the run after the request in flight, so that the
// statistics are printed; the socket's stop flag cuts its wait short.
void OnStop(int) {
  g_stop = 1;
  if (net::TBlockSocket* s = g_socket.load()) s->set_StopFlag(true);
}

struct PingOptions {
  int64_t count = 0;  // 0: until interrupted
  double interval_s = 1.0;
  double timeout_s = 10.0;
  int64_t size = 56;
  bool json = false;
};

PingOptions ReadOptions(const Args& args) {
  PingOptions o;
  o.count = args.GetInt("--count", 0);
  if (args.Has("--count") && o.count < 1) throw UsageError("--count must be 1 or more");
  o.interval_s = args.GetDouble("--interval", 1.0);
  if (o.interval_s < 0 || o.interval_s > 86400)
    throw UsageError("--interval must be 0 to 86400 seconds");
  o.timeout_s = args.GetDouble("--timeout", 10.0);
  if (o.timeout_s <= 0 || o.timeout_s > 86400)
    throw UsageError("--timeout must be more than 0 and at most 86400 seconds");
  o.size = args.GetInt("--size", 56);
  if (o.size < 0 || o.size > kMaxPayload)
    throw UsageError("--size must be 0 to " + std::to_string(kMaxPayload));
  o.json = args.Has("--json");
  return o;
}

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Sleeps `ms`, returning early when a stop was asked for.
void Pause(double ms) {
  const auto until = Clock::now() + std::chrono::duration<double, std::milli>(ms);
  while (!g_stop) {
    const double left = std::chrono::duration<double, std::milli>(until - Clock::now()).count();
    if (left <= 0) break;
    ::poll(nullptr, 0, static_cast<int>(std::min(left, 100.0)) + 1);
  }
}

std::string Fixed3(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

// Waits for the reply to `seq` until `deadline`; its round trip in ms, or a
// negative value when none came.
double AwaitReply(net::TICMPBlockSocket& sock, uint16_t id, uint16_t seq, Clock::time_point sent,
                  Clock::time_point deadline, net::TIcmpEchoReply& reply) {
  while (!g_stop) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    const std::string packet = sock.RecvPacket(static_cast<int32_t>(left.count()));
    if (sock.LastError() == net::WSAETIMEDOUT || sock.LastError() == net::WSAECONNABORTED) break;
    if (sock.LastError() != 0)
      throw WorkFailed(std::to_string(sock.LastError()) + " " + sock.LastErrorText());
    reply = net::ParseIcmpEchoReply(packet, sock.UsesIPv6(), id, seq);
    if (reply.Ours) return MsSince(sent);
  }
  return -1;
}

int RunPing(const Args& args) {
  if (args.positional.size() != 1) throw UsageError("needs one HOST (see --help)");
  const std::string& host = args.positional[0];
  if (host.empty()) throw UsageError("HOST must not be empty");
  const PingOptions o = ReadOptions(args);

  net::TICMPBlockSocket sock;
  sock.Connect(host, "0");
  if (sock.LastError() == net::WSAEACCES)
    throw WorkFailed("raw ICMP sockets need root or CAP_NET_RAW (" +
                     std::to_string(sock.LastError()) + " " + sock.LastErrorText() + ")");
  if (sock.LastError() != 0)
    throw UsageError(host + ": " + std::to_string(sock.LastError()) + " " + sock.LastErrorText());
  const std::string address = sock.GetRemoteSinIP();
  const bool v6 = sock.UsesIPv6();
  sock.set_Family(v6 ? net::SF_IP6 : net::SF_IP4);  // the address is re-read per request
  // Replies are matched by this identifier; the kernel leaves it as sent.
  const uint16_t id = static_cast<uint16_t>(::getpid() & 0xFFFF);
  std::string payload(static_cast<size_t>(o.size), '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i & 0xFF);

  g_stop = 0;
  g_socket.store(&sock);
  sock.set_HeartbeatRate(100);  // lets a stop end a wait within 100 ms
  struct sigaction sa {
  }, old_int{}, old_term{};
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &old_int);
  sigaction(SIGTERM, &sa, &old_term);

  if (!o.json)
    std::printf("PING %s (%s) %lld data bytes\n", host.c_str(), address.c_str(),
                static_cast<long long>(o.size));
  std::fflush(stdout);
  const auto start = Clock::now();
  int64_t transmitted = 0, received = 0;
  double min_ms = 0, max_ms = 0, sum_ms = 0, sum_sq = 0;
  for (int64_t n = 1; !g_stop && (o.count == 0 || n <= o.count); ++n) {
    const uint16_t seq = static_cast<uint16_t>(n & 0xFFFF);
    sock.SetRemoteSin(address, "0");  // a received packet replaced it with its sender
    const auto sent = Clock::now();
    sock.SendString(net::IcmpEchoRequest(v6, id, seq, payload));
    if (sock.LastError() != 0) {
      std::fprintf(stderr, "velmora ping: %d %s\n", sock.LastError(), sock.LastErrorText().c_str());
    } else {
      ++transmitted;
      net::TIcmpEchoReply reply;
      const auto deadline = sent + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(o.timeout_s));
      const double ms = AwaitReply(sock, id, seq, sent, deadline, reply);
      if (ms >= 0) {
        ++received;
        min_ms = received == 1 ? ms : std::min(min_ms, ms);
        max_ms = std::max(max_ms, ms);
        sum_ms += ms;
        sum_sq += ms * ms;
        const std::string from = sock.GetRemoteSinIP();
        if (o.json) {
          JsonLine line;
          line.Add("event", "Reply").Add("from", from).Add("bytes", reply.Bytes);
          line.Add("icmp_seq", static_cast<int64_t>(n));
          if (reply.TTL >= 0) line.Add("ttl", reply.TTL);
          std::printf("%s\n", line.Add("time_ms", ms).str().c_str());
        } else {
          std::string ttl = reply.TTL >= 0 ? " ttl=" + std::to_string(reply.TTL) : "";
          std::printf("%d bytes from %s: icmp_seq=%lld%s time=%s ms\n", reply.Bytes, from.c_str(),
                      static_cast<long long>(n), ttl.c_str(), Fixed3(ms).c_str());
        }
      } else if (!g_stop) {
        if (o.json)
          std::printf("%s\n", JsonLine()
                                  .Add("event", "Timeout")
                                  .Add("icmp_seq", static_cast<int64_t>(n))
                                  .str()
                                  .c_str());
        else
          std::printf("no reply for icmp_seq=%lld\n", static_cast<long long>(n));
      }
      std::fflush(stdout);
    }
    if (o.count == 0 || n < o.count) Pause(o.interval_s * 1000.0 - MsSince(sent));
  }
  g_socket.store(nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);

  const int64_t loss = transmitted == 0 ? 0 : (transmitted - received) * 100 / transmitted;
  const double avg = received ? sum_ms / received : 0;
  const double mdev = received ? std::sqrt(std::max(0.0, sum_sq / received - avg * avg)) : 0;
  const auto elapsed = static_cast<int64_t>(MsSince(start));
  if (o.json) {
    JsonLine line;
    line.Add("event", "Statistics").Add("host", host).Add("transmitted", transmitted);
    line.Add("received", received).Add("loss_percent", loss).Add("time_ms", elapsed);
    if (received) line.Add("min_ms", min_ms).Add("avg_ms", avg).Add("max_ms", max_ms);
    std::printf("%s\n", line.str().c_str());
  } else {
    std::printf("\n--- %s ping statistics ---\n", host.c_str());
    std::printf("%lld packets transmitted, %lld received, %lld%% packet loss, time %lldms\n",
                static_cast<long long>(transmitted), static_cast<long long>(received),
                static_cast<long long>(loss), static_cast<long long>(elapsed));
    if (received)
      std::printf("rtt min/avg/max/mdev = %s/%s/%s/%s ms\n", Fixed3(min_ms).c_str(),
                  Fixed3(avg).c_str(), Fixed3(max_ms).c_str(), Fixed3(mdev).c_str());
  }
  std::fflush(stdout);
  return received > 0 ? kExitOk : kExitFailed;
}

}  // namespace

VELMORA_COMMAND(ping) {
  return Command{
      "ping",
      "send ICMP echo requests to a host and print the replies, like ping",
      "velmora ping HOST [-c COUNT] [-i INTERVAL] [-W TIMEOUT] [-s SIZE] [--json]",
      {{"--count", "COUNT", "stop after COUNT requests (default: until interrupted)", false, "-c"},
       {"--interval", "SECONDS", "wait SECONDS between requests (default 1)", false, "-i"},
       {"--timeout", "SECONDS", "wait at most SECONDS for each reply (default 10)", false, "-W"},
       {"--size", "BYTES", "payload bytes of each request (default 56)", false, "-s"},
       {"--json", "", "one JSON object per reply, time-out and the statistics"}},
      "Sends ICMP echo requests (ICMPv6 for an IPv6 address) and prints one line\n"
      "per reply with its size, sequence number, TTL (IPv4) and round-trip time,\n"
      "then the statistics; SIGINT ends the run early.  Exits with 0 when a reply\n"
      "came, 1 when none did, 2 for bad usage or a host that does not resolve.\n"
      "Raw sockets need root or CAP_NET_RAW; without them the command says so.",
      RunPing};
}

}  // namespace velmora::app
