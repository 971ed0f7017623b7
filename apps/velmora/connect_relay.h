// What `velmora connect` shares between its TCP and UDP relays: the failure
// line, the output of received bytes, and the wait for the socket or
// standard input with the quiet time that ends the relay after the input.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "velmora/net/blocksock.h"

namespace velmora::app {

// Ends the command with exit 1: the socket's code, the library's text and,
// where a system call failed and says more, the system's own words.
[[noreturn]] void FailConnection(const net::TBlockSocket& sock);

// Writes bytes to standard output at once (a pipe sees each as it comes).
void WriteOut(const std::string& bytes);

// The relay's wait: for the socket and, while it is open, standard input.
// Once the input has ended, `timeout_ms` of quiet (nothing received or sent)
// ends the relay; a negative time-out waits for the peer for ever.
class RelayWait {
 public:
  RelayWait(int socket, int64_t timeout_ms);

  // Waits for the next event; false when the quiet time after the input
  // has passed.  Interrupted waits are retried; a failed poll throws.
  bool Next();

  bool SocketReady() const { return socket_ready_; }
  bool InputReady() const { return input_ready_; }
  bool InputOpen() const { return input_open_; }

  // Something moved: the quiet time starts again.
  void Activity() { quiet_since_ = Clock::now(); }
  // Standard input reached its end (or failed): it is not watched again.
  void InputEnded() {
    input_open_ = false;
    Activity();
  }

 private:
  using Clock = std::chrono::steady_clock;
  int socket_;
  int64_t timeout_ms_;
  bool input_open_ = true;
  bool socket_ready_ = false;
  bool input_ready_ = false;
  Clock::time_point quiet_since_ = Clock::now();
};

}  // namespace velmora::app
