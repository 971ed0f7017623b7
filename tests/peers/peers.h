// Real servers and small servers of the tests' own, for network tests.
//
// Every server listens on a loopback port chosen at run time.  Programs
// (danted, tinyproxy, sshd) are started with a pid file, waited for until
// they accept connections, and stopped by pid when their object goes away.
// A program that is not installed is a test failure with a clear message
// (the constructor throws), never a silent skip.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/support.h"

namespace velmora::testing {

// A loopback TCP port that was free a moment ago.
int FreeLoopbackPort();
// True once 127.0.0.1:port accepts a connection, within `timeout`.
bool WaitForPort(int port, std::chrono::milliseconds timeout);

// Wire bytes written as numbers: Bytes({5, 1, 0}) is "\x05\x01\x00".
inline std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}
// A port in network byte order, as protocol headers carry it.
inline std::string Port16(int port) {
  return Bytes({port >> 8, port & 0xFF});
}

// Socket helpers for servers of the tests' own (blocking descriptors).
// Sends everything; false when the peer is gone.
bool SendAll(int fd, const std::string& bytes);
// Up to `count` bytes, waiting at most `timeout` for them; fewer when the
// peer closes or the time runs out.
std::string RecvExactly(int fd, size_t count, std::chrono::milliseconds timeout);
// Everything until the peer closes (or `timeout` passes).
std::string RecvUntilClose(int fd, std::chrono::milliseconds timeout);
// A connected loopback TCP socket to `port` (-1 on failure).
int ConnectLoopback(int port);

// A program run as a server for a test.
class PeerProcess {
 public:
  // Starts `argv` (argv[0] is looked up on PATH, /usr/sbin and /sbin) with
  // its output in `log_file`, and waits until `port` accepts connections.
  // Throws std::runtime_error naming the program (and `package` when it is
  // missing) or the tail of its log when it does not come up.
  PeerProcess(std::string name, std::vector<std::string> argv, std::string pid_file,
              std::string log_file, int port, std::string package);
  // Stops the server by the pid in its pid file (else the started pid):
  // SIGTERM, then SIGKILL after 5 s.
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  int port() const { return port_; }
  std::string Log() const;

 private:
  void Stop();

  std::string name_;
  std::string pid_file_;
  std::string log_file_;
  int port_;
  pid_t child_ = -1;
};

// The full path of a program, or "" when it is not installed.
std::string FindProgram(const std::string& program);

// dante-server (danted) as a SOCKS 4/5 proxy on loopback.  With
// `username_auth` clients must authenticate with a system user's name and
// password (SOCKS 5 method 2); without it no authentication is asked (and
// SOCKS 4 works).  CONNECT, BIND and UDP ASSOCIATE are allowed from and to
// 127.0.0.0/8.
class DanteServer {
 public:
  DanteServer(const TempDir& dir, bool username_auth);
  int port() const { return process_->port(); }
  std::string Log() const { return process_->Log(); }

 private:
  std::unique_ptr<PeerProcess> process_;
};

// tinyproxy as an HTTP CONNECT proxy on loopback, with Basic credentials
// `user`/`pass`, allowing CONNECT only to `connect_ports`.
class TinyProxy {
 public:
  TinyProxy(const TempDir& dir, const std::string& user, const std::string& pass,
            const std::vector<int>& connect_ports);
  int port() const { return process_->port(); }
  std::string Log() const { return process_->Log(); }

 private:
  std::unique_ptr<PeerProcess> process_;
};

// OpenSSH as a SOCKS 4, 4a and 5 proxy: sshd on a loopback port with its own
// host key, and `ssh -N -D` logged in to it as root with a key of its own.
class SshSocksProxy {
 public:
  explicit SshSocksProxy(const TempDir& dir);
  int port() const { return client_->port(); }

 private:
  std::unique_ptr<PeerProcess> server_;
  std::unique_ptr<PeerProcess> client_;
};

// A system user made for a test (useradd -M, chpasswd), removed afterwards.
class SystemUser {
 public:
  SystemUser(const std::string& name, const std::string& password);
  ~SystemUser();
  SystemUser(const SystemUser&) = delete;
  SystemUser& operator=(const SystemUser&) = delete;

 private:
  std::string name_;
};

// A loopback TCP server thread of the tests' own.  Each accepted connection
// runs `handler` on a thread of its own; `stop` becomes true when the server
// goes away, and the handler should then return (the destructor joins every
// thread and closes the descriptors).
class TcpServer {
 public:
  using Handler = std::function<void(int fd, const std::atomic<bool>& stop)>;
  explicit TcpServer(Handler handler, bool ipv6 = false);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  int port() const { return port_; }
  // Connections accepted so far.
  int Accepted() const { return accepted_.load(); }

 private:
  void AcceptLoop();

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<int> fds_;
  std::thread thread_;
};

// Echoes every byte back until the client closes.
TcpServer::Handler EchoHandler();

// Passes every connection on to 127.0.0.1:target_port and records the bytes
// of each direction (for checking what a client puts on the wire).
class RecordingRelay {
 public:
  explicit RecordingRelay(int target_port);
  int port() const { return server_->port(); }
  // Everything the clients sent / the target answered, over all connections.
  std::string ClientBytes() const;
  std::string ServerBytes() const;

 private:
  int target_port_;
  mutable std::mutex mutex_;
  std::string client_bytes_;
  std::string server_bytes_;
  std::unique_ptr<TcpServer> server_;
};

}  // namespace velmora::testing
