#include "tests/peers/udp_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace velmora::testing {

namespace {

socklen_t LoopbackAddress(bool ipv6, int port, sockaddr_storage& ss) {
  ss = {};
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    return sizeof *a;
  }
  auto* a = reinterpret_cast<sockaddr_in*>(&ss);
  a->sin_family = AF_INET;
  a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a->sin_port = htons(static_cast<uint16_t>(port));
  return sizeof *a;
}

int PortOf(const sockaddr_storage& ss) {
  return ss.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&ss)->sin6_port)
                                  : ntohs(reinterpret_cast<const sockaddr_in*>(&ss)->sin_port);
}

}  // namespace

UdpPeer::UdpPeer(bool ipv6) : ipv6_(ipv6) {
  fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage ss;
  socklen_t len = LoopbackAddress(ipv6, 0, ss);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
    throw std::runtime_error("UdpPeer: cannot bind a loopback UDP port");
  port_ = PortOf(ss);
}

UdpPeer::~UdpPeer() {
  if (fd_ >= 0) ::close(fd_);
}

bool UdpPeer::SendTo(int port, const std::string& bytes) const {
  sockaddr_storage ss;
  socklen_t len = LoopbackAddress(ipv6_, port, ss);
  return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&ss), len) ==
         static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> UdpPeer::Recv(std::chrono::milliseconds timeout, int* from_port) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  std::string buf(65536, '\0');
  sockaddr_storage from{};
  socklen_t len = sizeof from;
  ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return std::nullopt;
  if (from_port) *from_port = PortOf(from);
  buf.resize(static_cast<size_t>(n));
  return buf;
}

UdpEchoServer::UdpEchoServer(bool ipv6) : peer_(ipv6) {
  thread_ = std::thread([this] {
    std::string buf(65536, '\0');
    while (!stop_.load()) {
      pollfd p{peer_.fd(), POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      sockaddr_storage from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(peer_.fd(), buf.data(), buf.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) continue;
      // Counted before the reply leaves: a client that exits on its last
      // reply must find it counted.
      echoed_.fetch_add(1);
      ::sendto(peer_.fd(), buf.data(), static_cast<size_t>(n), 0,
               reinterpret_cast<sockaddr*>(&from), len);
    }
  });
}

UdpEchoServer::~UdpEchoServer() {
  stop_.store(true);
  thread_.join();
}

const char* NetNamespaceSetup() {
  return "ip link set lo up && ip route add 224.0.0.0/4 dev lo";
}

std::string RunInNetNamespace(const std::function<std::string()>& body, const std::string& setup,
                              std::chrono::milliseconds timeout) {
  const std::string command = setup.empty() ? std::string(NetNamespaceSetup()) : setup;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(pipe_fds[0]);
    std::string result;
    if (::unshare(CLONE_NEWNET) != 0)
      result = "unshare(CLONE_NEWNET) failed (the tests run as root)";
    else if (std::system(command.c_str()) != 0)
      result = "namespace set-up failed (Debian package iproute2): " + command;
    else
      result = body();
    if (result.empty()) result = "ok";
    (void)!::write(pipe_fds[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string report;
  char buf[512];
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      ::kill(pid, SIGKILL);
      report += " (timed out)";
      break;
    }
    ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
    if (n <= 0) break;
    report.append(buf, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (report == "ok") return "";
  return report.empty() ? "the namespace child reported nothing" : report;
}

}  // namespace velmora::testing
