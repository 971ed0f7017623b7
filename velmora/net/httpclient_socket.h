// THTTPSocket: the TCP socket of THTTPSend, with the few reads the HTTP
// client needs beyond the block socket's own: lines within a byte budget,
// a length-delimited body received straight into the document's memory,
// protocol failures with a text of their own, and a close that skips the
// drain when the response was read to its end.
#pragma once

#include <cstdint>
#include <string>

#include "velmora/host/streams.h"
#include "velmora/net/tcp_socket.h"

namespace velmora::net {

class THTTPSocket final : public TTCPBlockSocket {
 public:
  THTTPSocket() { yield_per_packet_ = false; }
  std::string ClassName() const override { return "TTCPBlockSocket"; }

  // Sets LastError to `code` with `text` as LastErrorText (reported and
  // raised like any socket error).
  void Fail(int32_t code, const std::string& text);
  // One line (RecvString) of at most `budget` bytes; the line and its end
  // are taken from the budget.  A longer line fails with 10055 and the text
  // "<what> exceeds <limit> bytes".
  std::string RecvLineWithin(int32_t timeout, int64_t& budget, const char* what, int64_t limit);
  // Appends `size` bytes to `doc` at its position, receiving them straight
  // into the stream's memory in pieces of at most 256 KiB.  Returns the
  // count that arrived; LastError tells why it is short.
  int64_t RecvIntoStream(host::TMemoryStream& doc, int64_t size, int32_t timeout);
  // Nothing is buffered or waiting on the connection.
  bool Clean();
  // Closes a connection whose response was read to its end: the TLS
  // session is shut down, but nothing is drained (CloseSocket waits for
  // unread bytes that a complete response does not leave).
  void CloseAfterResponse();

 private:
  std::string error_text_;
  std::string GetErrorDescEx() override;
};

}  // namespace velmora::net
