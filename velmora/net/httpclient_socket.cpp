// THTTPSocket: bounded line reads, direct body reads and protocol failures
// for the HTTP client.
#include "velmora/net/httpclient_socket.h"

#include <algorithm>
#include <cstring>

#include "velmora/net/netutil_time.h"

namespace velmora::net {

namespace {

// The most room taken ahead for an announced length.
constexpr int64_t kReserveLimit = int64_t{1} << 30;  // bytes
// The most asked of one receive: large enough that the system calls cost
// little next to the copy.
constexpr int64_t kPiece = int64_t{256} << 10;  // bytes

}  // namespace

void THTTPSocket::Fail(int32_t code, const std::string& text) {
  last_error_ = code;
  error_text_ = text;
  try {
    ExceptCheck();
  } catch (...) {
    error_text_.clear();
    throw;
  }
  error_text_.clear();
}

std::string THTTPSocket::GetErrorDescEx() {
  if (!error_text_.empty()) return error_text_;
  return TTCPBlockSocket::GetErrorDescEx();
}

std::string THTTPSocket::RecvLineWithin(int32_t timeout, int64_t& budget, const char* what,
                                        int64_t limit) {
  const std::string too_long = std::string(what) + " exceeds " + std::to_string(limit) + " bytes";
  if (budget <= 0) {
    Fail(WSAENOBUFS, too_long);
    return std::string();
  }
  // The line limit of the block socket bounds what is gathered while no line
  // end has come; a limit the application set that is smaller still wins.
  const int32_t saved = max_line_length_;
  const int32_t allowed = static_cast<int32_t>(std::min<int64_t>(budget, INT32_MAX));
  const bool ours = saved == 0 || allowed < saved;
  if (ours) max_line_length_ = allowed;
  std::string line;
  try {
    line = RecvString(timeout);
  } catch (...) {
    max_line_length_ = saved;
    throw;
  }
  max_line_length_ = saved;
  if (last_error_ == WSAENOBUFS && ours) {
    Fail(WSAENOBUFS, too_long);
    return std::string();
  }
  if (last_error_ == 0) budget -= static_cast<int64_t>(line.size()) + 2;
  return line;
}

int64_t THTTPSocket::RecvIntoStream(host::TMemoryStream& doc, int64_t size, int32_t timeout) {
  ResetLastError();
  const int64_t start = doc.Position();
  // Room for the announced size up to a limit, taken as address space only:
  // pages are used as bytes arrive, so a length the server does not deliver
  // costs nothing, and the content is not moved while it grows.
  doc.Reserve(start + std::min(size, kReserveLimit));
  int64_t got = 0;
  // However the receive ends, a raised socket error included, the document
  // holds exactly the bytes that arrived, none of the piece not written.
  struct Settle {
    host::TMemoryStream& doc;
    const int64_t& end;
    ~Settle() {
      doc.SetSize(end);
      doc.Seek(end, host::soBeginning);
    }
  };
  int64_t end = start;
  const Settle settle{doc, end};
  while (got < size && last_error_ == 0) {
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(size - got, kPiece));
    // The stream grows by what is about to arrive, never by the announced
    // size, so a length that the server does not deliver costs no memory;
    // the new bytes are not cleared, the receive is the first to write them.
    doc.SetSize(end);
    char* dst = doc.Extend(piece);
    int32_t n = 0;
    if (BacklogSize() > 0) {
      // Bytes read ahead with the header come first, without a receive.
      ApplyLineEndCarry(backlog_, backlog_pos_);
      n = static_cast<int32_t>(std::min<size_t>(BacklogSize(), static_cast<size_t>(piece)));
      std::memcpy(dst, backlog_.data() + backlog_pos_, static_cast<size_t>(n));
      backlog_pos_ += static_cast<size_t>(n);
      if (backlog_pos_ == backlog_.size()) ClearBacklog();
    } else if (saw_lone_cr_ || saw_lone_lf_) {
      // A line end split between packets: the buffered reader completes it
      // (dropping its second byte) and keeps the rest as the backlog.
      n = RecvBufferEx(dst, 1, timeout);
    } else if (WaitingData() > 0 || CanRead(timeout)) {
      // A TLS receive that meets only protocol records waits for more
      // within the same time-out.
      recv_limit_ = timeout;
      recv_start_ = GetTick();
      try {
        n = RecvBuffer(dst, piece);
      } catch (...) {
        recv_limit_ = -1;
        throw;
      }
      recv_limit_ = -1;
    } else {
      if (last_error_ == 0) last_error_ = WSAETIMEDOUT;
      ExceptCheck();
    }
    if (n > 0) got += n;
    end = start + got;
  }
  return got;
}

bool THTTPSocket::Clean() {
  if (socket_ == INVALID_SOCKET || BacklogSize() > 0) return false;
  if (ssl_ && ssl_->SslEnabled() && ssl_->WaitingData() > 0) return false;
  return !CanRead(0);
}

void THTTPSocket::CloseAfterResponse() {
  if (ssl_ && ssl_->SslEnabled()) ssl_->Shutdown();
  TBlockSocket::CloseSocket();
}

}  // namespace velmora::net
