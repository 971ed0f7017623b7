// UDP peers of the tests' own, on loopback ports chosen at run time: a plain
// socket driven by the test, an echo server thread, and the namespace runner
// for tests that need multicast or broadcast routes of their own.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace velmora::testing {

// A UDP socket bound to 127.0.0.1 (or ::1) on a free port, with plain
// sendto/recvfrom for the test to drive.
class UdpPeer {
 public:
  explicit UdpPeer(bool ipv6 = false);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  int port() const { return port_; }
  int fd() const { return fd_; }
  // One datagram to the loopback address of this peer's family.
  bool SendTo(int port, const std::string& bytes) const;
  // One datagram, waiting at most `timeout`; nothing when none came.  The
  // sender's port goes to `from_port`.
  std::optional<std::string> Recv(std::chrono::milliseconds timeout, int* from_port = nullptr);

 private:
  bool ipv6_;
  int fd_ = -1;
  int port_ = 0;
};

// Sends every datagram back to its sender until it goes away.
class UdpEchoServer {
 public:
  explicit UdpEchoServer(bool ipv6 = false);
  ~UdpEchoServer();
  UdpEchoServer(const UdpEchoServer&) = delete;
  UdpEchoServer& operator=(const UdpEchoServer&) = delete;

  int port() const { return peer_.port(); }
  int Echoed() const { return echoed_.load(); }

 private:
  UdpPeer peer_;
  std::atomic<bool> stop_{false};
  std::atomic<int> echoed_{0};
  std::thread thread_;
};

// Runs `body` in a child process inside a network namespace of its own (needs
// root), after the shell command `setup` (by default NetNamespaceSetup()).
// `body` returns "" on success or what went wrong; the result is that text,
// or the reason the child could not run or report.
std::string RunInNetNamespace(const std::function<std::string()>& body,
                              const std::string& setup = "",
                              std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The shell command that does the same set-up for a program run under
// `unshare -n sh -c`: "ip link set lo up && ip route add 224.0.0.0/4 dev lo".
const char* NetNamespaceSetup();

}  // namespace velmora::testing
