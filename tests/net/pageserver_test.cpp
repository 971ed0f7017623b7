// The page server: what it answers, and how its event streams treat fast,
// closed and stalled clients.
#include "velmora/net/pageserver.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/peers/peers.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;
using net::PageServer;

// One request on a fresh connection; everything the server answers.
std::string Exchange(int port, const std::string& request, std::chrono::milliseconds wait = 3s) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "no connection";
  SendAll(fd, request);
  std::string reply = RecvUntilClose(fd, wait);
  ::close(fd);
  return reply;
}

std::string StatusLine(const std::string& reply) {
  return reply.substr(0, reply.find("\r\n"));
}

struct Served {
  explicit Served(net::PageServerOptions options = {}) : server(options) {
    server.AddPage("/", "text/html; charset=utf-8", "<p>hello</p>");
    server.SetEventPath("/events");
    server.AddPost("/control", [this](const std::string& body) {
      posted = body;
      return net::PageReply{body == "bad" ? 400 : 204, body == "bad" ? "no such setting" : ""};
    });
    const std::string failure = server.Start();
    EXPECT_EQ(failure, "");
  }
  PageServer server;
  std::string posted;
};

TEST(PageServer, AnswersItsPathsAndRefusesEverythingElse) {
  net::PageServerOptions options;
  options.request_timeout_ms = 400;
  Served s(options);
  const int port = s.server.Port();
  ASSERT_GT(port, 0);

  const std::string page = Exchange(port, "GET /?x=1 HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_EQ(StatusLine(page), "HTTP/1.1 200 OK");
  EXPECT_NE(page.find("Content-Length: 12\r\n"), std::string::npos);
  EXPECT_EQ(page.substr(page.size() - 12), "<p>hello</p>");
  const std::string head = Exchange(port, "HEAD / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(head), "HTTP/1.1 200 OK");
  EXPECT_EQ(head.find("<p>"), std::string::npos);

  EXPECT_EQ(StatusLine(Exchange(port, "GET /etc/passwd HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 404 Not Found");
  EXPECT_EQ(StatusLine(Exchange(port, "GET /../ HTTP/1.1\r\n\r\n")), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(StatusLine(Exchange(port, "DELETE / HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(StatusLine(Exchange(port, "GET /control HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 405 Method Not Allowed");
  for (const char* bad :
       {"hello\r\n\r\n", "GET /\r\n\r\n", "GET / HTTP/1.1 extra\r\n\r\n", "GET x HTTP/1.1\r\n\r\n",
        "GET / HTTP/2.0\r\n\r\n", "GET / HTTP/1.1\r\nno colon\r\n\r\n",
        "POST /control HTTP/1.1\r\nContent-Length: -3\r\n\r\n"})
    EXPECT_EQ(StatusLine(Exchange(port, bad)), "HTTP/1.1 400 Bad Request") << bad;
  EXPECT_EQ(StatusLine(Exchange(port, "GET /" + std::string(5000, 'a') + " HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 414 URI Too Long");
  EXPECT_EQ(StatusLine(Exchange(port, "GET / HTTP/1.1\r\n" + std::string(9000, 'h') + "\r\n")),
            "HTTP/1.1 431 Request Header Fields Too Large");
  // A request that never ends gets its answer when the time-out passes.
  EXPECT_EQ(StatusLine(Exchange(port, "GET / HTTP/1.1\r\nHost: a\r\n")),
            "HTTP/1.1 408 Request Timeout");

  EXPECT_EQ(StatusLine(Exchange(port, "POST /control HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 411 Length Required");
  EXPECT_EQ(StatusLine(Exchange(port, "POST /control HTTP/1.1\r\nContent-Length: 99999\r\n\r\n")),
            "HTTP/1.1 413 Content Too Large");
  EXPECT_EQ(
      StatusLine(Exchange(port, "POST /control HTTP/1.1\r\nContent-Length: 11\r\n\r\nFFT_noise=5")),
      "HTTP/1.1 204 No Content");
  EXPECT_EQ(s.posted, "FFT_noise=5");
  const std::string refused =
      Exchange(port, "POST /control HTTP/1.1\r\nContent-Length: 3\r\n\r\nbad");
  EXPECT_EQ(StatusLine(refused), "HTTP/1.1 400 Bad Request");
  EXPECT_NE(refused.find("no such setting"), std::string::npos);
  EXPECT_GE(s.server.Stats().bad_requests, 15u);
}

// Reads from an event stream until `last` has arrived (or 5 s pass).
std::string ReadEventsUntil(int fd, const std::string& last) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (got.find(last) == std::string::npos && std::chrono::steady_clock::now() < deadline)
    got += RecvExactly(fd, 1, 200ms);
  return got;
}

bool WaitFor(const std::function<bool()>& ok) {
  for (int i = 0; i < 100 && !ok(); ++i) std::this_thread::sleep_for(50ms);
  return ok();
}

TEST(PageServer, StreamsEveryEventToEveryClientAndNoticesAClose) {
  Served s;
  const int a = ConnectLoopback(s.server.Port());
  const int b = ConnectLoopback(s.server.Port());
  SendAll(a, "GET /events HTTP/1.1\r\n\r\n");
  SendAll(b, "GET /events HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return s.server.Stats().clients == 2; }));
  s.server.Publish("frame", R"({"n":1})");
  s.server.Publish("key", R"({"key":"5"})");
  for (int fd : {a, b}) {
    const std::string got = ReadEventsUntil(fd, "\"5\"}\n\n");
    EXPECT_EQ(StatusLine(got), "HTTP/1.1 200 OK");
    EXPECT_NE(got.find("Content-Type: text/event-stream\r\n"), std::string::npos);
    const size_t first = got.find("event: frame\ndata: {\"n\":1}\n\n");
    const size_t second = got.find("event: key\ndata: {\"key\":\"5\"}\n\n");
    EXPECT_NE(first, std::string::npos) << got;
    EXPECT_NE(second, std::string::npos) << got;
    EXPECT_LT(first, second);
  }
  ::close(a);
  // The writer notices the closed stream at the next event it sends.
  EXPECT_TRUE(WaitFor([&] {
    s.server.Publish("frame", "{}");
    return s.server.Stats().disconnected == 1;
  }));
  EXPECT_EQ(s.server.Stats().clients, 1u);
  EXPECT_EQ(s.server.Stats().dropped, 0u);
  ::close(b);
}

TEST(PageServerConcurrency, AStalledClientIsDroppedWithoutHoldingThePublisher) {
  net::PageServerOptions options;
  options.queue_limit = 8;
  Served s(options);
  const int stalled = ConnectLoopback(s.server.Port());
  const int reader = ConnectLoopback(s.server.Port());
  SendAll(stalled, "GET /events HTTP/1.1\r\n\r\n");
  SendAll(reader, "GET /events HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(WaitFor([&] { return s.server.Stats().clients == 2; }));

  // The stalled client reads nothing and takes little into its socket, so
  // its queue fills; the reader takes everything on a thread of its own.
  const int small = 4096;
  ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const std::string payload(64 * 1024, 'x');
  constexpr size_t kEvents = 300;
  const size_t frame_size = std::string("event: frame\ndata: \n\n").size() + payload.size();
  std::atomic<size_t> received{0};
  std::thread read_all([&] {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (received < kEvents * frame_size && std::chrono::steady_clock::now() < deadline)
      received += RecvExactly(reader, 65536, 100ms).size();
  });
  for (size_t i = 0; i < kEvents; ++i) {
    s.server.Publish("frame", payload);
    // A reader keeps pace, within half its queue: wait for it rather than
    // for a fixed time, which a loaded machine may not give it.
    const size_t behind = i + 1 > options.queue_limit / 2 ? i + 1 - options.queue_limit / 2 : 0;
    const auto wait_end = std::chrono::steady_clock::now() + 10s;
    while (received < behind * frame_size && std::chrono::steady_clock::now() < wait_end)
      std::this_thread::sleep_for(1ms);
  }
  read_all.join();
  EXPECT_GE(received, kEvents * frame_size);  // the reader missed nothing
  EXPECT_TRUE(WaitFor([&] { return s.server.Stats().dropped == 1; }));
  EXPECT_EQ(s.server.Stats().clients, 1u);
  // The dropped client's connection is closed: after what was buffered, its
  // stream ends.
  const std::string rest = RecvUntilClose(stalled, 5s);
  EXPECT_LT(rest.size(), kEvents * payload.size());
  ::close(stalled);
  ::close(reader);
}

TEST(PageServer, RefusesToListenOnAnAddressItCannotHave) {
  net::PageServerOptions options;
  options.bind_ip = "192.0.2.1";  // a documentation address no interface here has
  PageServer server(options);
  const std::string failure = server.Start();
  EXPECT_NE(failure.find("cannot listen on 192.0.2.1"), std::string::npos) << failure;
}

}  // namespace
}  // namespace velmora::testing
