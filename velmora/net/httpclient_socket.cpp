// THTTPSocket: bounded line reads, direct body reads and protocol failures
// for the HTTP client.
#include "velmora/net/httpclient_socket.h"

#include <algorithm>

namespace velmora::net {

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
  int64_t got = 0;
  while (got < size && last_error_ == 0) {
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(size - got, c64k));
    // The stream grows by what is about to arrive, never by the announced
    // size, so a length that the server does not deliver costs no memory.
    if (doc.Size() < start + got + piece) doc.SetSize(start + got + piece);
    char* dst = static_cast<char*>(doc.Memory()) + start + got;
    int32_t n = 0;
    if (BacklogSize() > 0 || saw_lone_cr_ || saw_lone_lf_) {
      // Bytes read ahead with the header (or a line end to complete) come
      // through the buffered reader.
      n = RecvBufferEx(dst, piece, timeout);
    } else if (WaitingData() > 0 || CanRead(timeout)) {
      n = RecvBuffer(dst, piece);
    } else {
      if (last_error_ == 0) last_error_ = WSAETIMEDOUT;
      ExceptCheck();
    }
    if (n > 0) got += n;
  }
  doc.SetSize(start + got);
  doc.Seek(start + got, host::soBeginning);
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
