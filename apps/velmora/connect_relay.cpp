#include "apps/velmora/connect_relay.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "apps/velmora/command.h"
#include "velmora/net/sockapi_errors.h"

namespace velmora::app {

void FailConnection(const net::TBlockSocket& sock) {
  std::string line = std::to_string(sock.LastError()) + " " + sock.LastErrorText();
  const int sys = net::LastSystemError();
  if (sys != 0) {
    const std::string words = std::strerror(sys);
    if (words != sock.LastErrorText()) line += " (" + words + ")";
  }
  throw WorkFailed(line);
}

void WriteOut(const std::string& bytes) {
  if (bytes.empty()) return;
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

RelayWait::RelayWait(int socket, int64_t timeout_ms) : socket_(socket), timeout_ms_(timeout_ms) {}

bool RelayWait::Next() {
  for (;;) {
    int wait_ms = -1;
    if (!input_open_ && timeout_ms_ >= 0) {
      const auto quiet =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - quiet_since_)
              .count();
      if (quiet >= timeout_ms_) return false;
      wait_ms = static_cast<int>(timeout_ms_ - quiet);
    }
    pollfd fds[2] = {{socket_, POLLIN, 0}, {input_open_ ? STDIN_FILENO : -1, POLLIN, 0}};
    const int r = ::poll(fds, 2, wait_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw WorkFailed(std::string("poll: ") + std::strerror(errno));
    socket_ready_ = fds[0].revents != 0;
    input_ready_ = fds[1].revents != 0;
    if (socket_ready_ || input_ready_) return true;
  }
}

}  // namespace velmora::app
