#include "tests/peers/peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velmora::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::string Tail(const std::string& text, size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

}  // namespace

int FreeLoopbackPort() {
  // A port is handed out once per process: two servers of one test that
  // ask one after the other must not both be given the same free port.
  static std::mutex lock;
  static std::set<int> given;
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    ::close(fd);
    if (port == 0) break;
    std::lock_guard<std::mutex> hold(lock);
    if (given.insert(port).second) return port;
  }
  throw std::runtime_error("no free loopback port");
}

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  do {
    int fd = ConnectLoopback(port);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (Clock::now() < deadline);
  return false;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string RecvExactly(int fd, size_t count, std::chrono::milliseconds timeout) {
  std::string out;
  auto deadline = Clock::now() + timeout;
  while (out.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    size_t want = count - out.size() < sizeof buf ? count - out.size() : sizeof buf;
    ssize_t n = ::recv(fd, buf, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string RecvUntilClose(int fd, std::chrono::milliseconds timeout) {
  std::string out;
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return ::access(program.c_str(), X_OK) == 0 ? program : "";
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    std::string full = dir + "/" + program;
    if (::access(full.c_str(), X_OK) == 0) return full;
  }
  return "";
}

// --- PeerProcess

PeerProcess::PeerProcess(std::string name, std::vector<std::string> argv, std::string pid_file,
                         std::string log_file, int port, std::string package)
    : name_(std::move(name)),
      pid_file_(std::move(pid_file)),
      log_file_(std::move(log_file)),
      port_(port) {
  std::string path = FindProgram(argv.at(0));
  if (path.empty())
    throw std::runtime_error(name_ + ": the program " + argv[0] +
                             " is not installed (Debian package " + package +
                             "; scripts/deps.sh installs it)");
  if (!pid_file_.empty()) ::unlink(pid_file_.c_str());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log_file_.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  args.push_back(path.data());
  for (size_t i = 1; i < argv.size(); ++i) args.push_back(argv[i].data());
  args.push_back(nullptr);
  int rc = posix_spawn(&child_, path.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(name_ + ": cannot start " + path);

  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    if (WaitForPort(port_, std::chrono::milliseconds(100))) return;
    int status = 0;
    if (waitpid(child_, &status, WNOHANG) == child_) {
      child_ = -1;
      throw std::runtime_error(name_ + " exited at start-up; its log ends:\n" + Tail(Log(), 2000));
    }
  }
  std::string log = Log();
  Stop();
  throw std::runtime_error(name_ + " did not accept connections on port " + std::to_string(port_) +
                           "; its log ends:\n" + Tail(log, 2000));
}

PeerProcess::~PeerProcess() {
  Stop();
}

std::string PeerProcess::Log() const {
  std::ifstream in(log_file_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void PeerProcess::Stop() {
  pid_t pid = -1;
  if (!pid_file_.empty()) {
    std::ifstream in(pid_file_);
    long v = 0;
    if (in >> v && v > 1) pid = static_cast<pid_t>(v);
  }
  if (pid <= 1) pid = child_;
  if (pid > 1) ::kill(pid, SIGTERM);
  if (child_ > 1 && child_ != pid) ::kill(child_, SIGTERM);
  auto deadline = Clock::now() + std::chrono::seconds(5);
  bool child_done = child_ <= 1;
  while (Clock::now() < deadline) {
    if (!child_done && waitpid(child_, nullptr, WNOHANG) == child_) child_done = true;
    bool pid_done = pid <= 1 || pid == child_ ? child_done : ::kill(pid, 0) != 0;
    if (child_done && pid_done) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (pid > 1 && ::kill(pid, 0) == 0) ::kill(pid, SIGKILL);
  if (!child_done && child_ > 1) {
    ::kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  child_ = -1;
}

// --- danted

DanteServer::DanteServer(const TempDir& dir, bool username_auth) {
  int port = FreeLoopbackPort();
  std::string conf = dir.file("danted.conf");
  std::ostringstream c;
  c << "logoutput: " << dir.file("danted.log") << "\n"
    << "internal: 127.0.0.1 port = " << port << "\n"
    << "external: 127.0.0.1\n"
    << "clientmethod: none\n"
    << "socksmethod: " << (username_auth ? "username" : "none") << "\n"
    << "user.privileged: root\n"
    << "user.unprivileged: nobody\n"
    << "client pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n}\n"
    << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n"
    << "  command: bind connect udpassociate bindreply udpreply\n}\n";
  WriteFile(conf, c.str());
  process_ = std::make_unique<PeerProcess>(
      "danted", std::vector<std::string>{"danted", "-f", conf, "-p", dir.file("danted.pid")},
      dir.file("danted.pid"), dir.file("danted.out"), port, "dante-server");
}

// --- tinyproxy

TinyProxy::TinyProxy(const TempDir& dir, const std::string& user, const std::string& pass,
                     const std::vector<int>& connect_ports) {
  // tinyproxy writes its log and pid file as nobody.
  ::chmod(dir.path().c_str(), 0711);
  std::string run = dir.file("tinyproxy");
  ::mkdir(run.c_str(), 0777);
  ::chmod(run.c_str(), 0777);
  int port = FreeLoopbackPort();
  std::ostringstream c;
  c << "Port " << port << "\n"
    << "Listen 127.0.0.1\n"
    << "Bind 127.0.0.1\n"
    << "Timeout 60\n"
    << "Allow 127.0.0.1\n"
    << "MaxClients 20\n"
    << "LogFile \"" << run << "/tinyproxy.log\"\n"
    << "PidFile \"" << run << "/tinyproxy.pid\"\n";
  for (int p : connect_ports) c << "ConnectPort " << p << "\n";
  if (!user.empty()) c << "BasicAuth " << user << " " << pass << "\n";
  std::string conf = run + "/tinyproxy.conf";
  WriteFile(conf, c.str());
  ::chmod(conf.c_str(), 0644);
  process_ = std::make_unique<PeerProcess>(
      "tinyproxy", std::vector<std::string>{"tinyproxy", "-d", "-c", conf}, run + "/tinyproxy.pid",
      dir.file("tinyproxy.out"), port, "tinyproxy");
}

// --- OpenSSH

SshSocksProxy::SshSocksProxy(const TempDir& dir) {
  for (const char* key : {"host_key", "user_key"}) {
    RunResult r = Run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir.file(key)});
    if (r.exit_code != 0)
      throw std::runtime_error("ssh-keygen failed (Debian package openssh-client): " + r.err);
  }
  WriteFile(dir.file("authorized_keys"), ReadFile(dir.file("user_key.pub")));
  ::mkdir("/run/sshd", 0755);  // sshd's privilege-separation directory
  int sshd_port = FreeLoopbackPort();
  std::ostringstream c;
  c << "Port " << sshd_port << "\n"
    << "ListenAddress 127.0.0.1\n"
    << "HostKey " << dir.file("host_key") << "\n"
    << "PidFile " << dir.file("sshd.pid") << "\n"
    << "AuthorizedKeysFile " << dir.file("authorized_keys") << "\n"
    << "PermitRootLogin prohibit-password\n"
    << "PasswordAuthentication no\n"
    << "StrictModes no\n"
    << "UsePAM no\n"
    << "AllowTcpForwarding yes\n";
  WriteFile(dir.file("sshd.conf"), c.str());
  server_ = std::make_unique<PeerProcess>(
      "sshd", std::vector<std::string>{"sshd", "-D", "-e", "-f", dir.file("sshd.conf")},
      dir.file("sshd.pid"), dir.file("sshd.out"), sshd_port, "openssh-server");
  int socks_port = FreeLoopbackPort();
  // ssh writes no pid file: it is stopped by the pid it was started with.
  client_ = std::make_unique<PeerProcess>(
      "ssh -D",
      std::vector<std::string>{"ssh", "-N", "-D", "127.0.0.1:" + std::to_string(socks_port), "-p",
                               std::to_string(sshd_port), "-i", dir.file("user_key"), "-o",
                               "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                               "-o", "BatchMode=yes", "-o", "ExitOnForwardFailure=yes", "-o",
                               "LogLevel=ERROR", "root@127.0.0.1"},
      "", dir.file("ssh.out"), socks_port, "openssh-client");
}

// --- SystemUser

SystemUser::SystemUser(const std::string& name, const std::string& password) : name_(name) {
  Run({"userdel", name_});  // a leftover of an interrupted run
  RunResult r = Run({"useradd", "-M", "-s", "/usr/sbin/nologin", name_});
  if (r.exit_code != 0) throw std::runtime_error("useradd " + name_ + " failed: " + r.err);
  r = Run({"chpasswd"}, name_ + ":" + password + "\n");
  if (r.exit_code != 0) throw std::runtime_error("chpasswd for " + name_ + " failed: " + r.err);
}

SystemUser::~SystemUser() {
  Run({"userdel", name_});
}

// --- TcpServer

TcpServer::TcpServer(Handler handler, bool ipv6) : handler_(std::move(handler)) {
  listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage ss{};
  socklen_t len;
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a;
  }
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(listener_, 64) != 0)
    throw std::runtime_error("TcpServer: cannot listen on loopback");
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&ss), &len);
  port_ = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
               : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  thread_ = std::thread([this] { AcceptLoop(); });
}

TcpServer::~TcpServer() {
  stop_.store(true);
  thread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& w : workers) w.join();
  ::close(listener_);
}

void TcpServer::AcceptLoop() {
  while (!stop_.load()) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    accepted_.fetch_add(1);
    std::lock_guard<std::mutex> lock(mutex_);
    // The worker closes its descriptor when the handler returns.
    workers_.emplace_back([this, fd] {
      handler_(fd, stop_);
      ::close(fd);
    });
  }
}

TcpServer::Handler EchoHandler() {
  return [](int fd, const std::atomic<bool>& stop) {
    char buf[65536];
    while (!stop.load()) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      if (!SendAll(fd, std::string(buf, static_cast<size_t>(n)))) return;
    }
  };
}

// --- RecordingRelay

RecordingRelay::RecordingRelay(int target_port) : target_port_(target_port) {
  server_ = std::make_unique<TcpServer>([this](int client, const std::atomic<bool>& stop) {
    int target = ConnectLoopback(target_port_);
    if (target < 0) return;
    bool client_open = true;
    bool target_open = true;
    char buf[65536];
    while (!stop.load() && (client_open || target_open)) {
      pollfd p[2] = {{client_open ? client : -1, POLLIN, 0},
                     {target_open ? target : -1, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        int from = i == 0 ? client : target;
        int to = i == 0 ? target : client;
        ssize_t n = ::recv(from, buf, sizeof buf, 0);
        if (n <= 0) {
          // Pass the half-close on and stop reading this side.
          ::shutdown(to, SHUT_WR);
          (i == 0 ? client_open : target_open) = false;
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          (i == 0 ? client_bytes_ : server_bytes_).append(buf, static_cast<size_t>(n));
        }
        SendAll(to, std::string(buf, static_cast<size_t>(n)));
      }
    }
    ::close(target);
  });
}

std::string RecordingRelay::ClientBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return client_bytes_;
}

std::string RecordingRelay::ServerBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_bytes_;
}

}  // namespace velmora::testing
