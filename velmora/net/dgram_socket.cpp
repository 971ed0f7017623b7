// TDgramBlockSocket: connect without a connection, and the routing of the
// block socket's transfer slots to the datagram primitives.
#include "velmora/net/dgram_socket.h"

namespace velmora::net {

void TDgramBlockSocket::Connect(const std::string& IP, const std::string& Port) {
  SetRemoteSin(IP, Port);
  if (last_error_ == 0 && socket_ == INVALID_SOCKET) InternalCreateSocket(remote_sin_);
  ClearBacklog();
  saw_lone_cr_ = false;
  saw_lone_lf_ = false;
  ExceptCheck();
  DoStatus(HR_Connect, IP + ":" + Port);
}

int32_t TDgramBlockSocket::SendBuffer(const void* Buffer, int32_t Length) {
  return SendBufferTo(Buffer, Length);
}

int32_t TDgramBlockSocket::RecvBuffer(void* Buffer, int32_t Length) {
  return RecvBufferFrom(Buffer, Length);
}

// The stream socket's RecvPacket sizes its read by the bytes waiting, which
// for a datagram socket is the size of the next datagram: an empty datagram
// would read as the peer's close and stay queued, failing every later read.
// Here one receive takes the next datagram whatever its size, into a buffer
// that holds the largest one.
std::string TDgramBlockSocket::RecvPacket(int32_t Timeout) {
  if (BacklogSize() > 0) return TBlockSocket::RecvPacket(Timeout);
  ResetLastError();
  std::string result;
  if (!CanRead(Timeout)) {
    if (last_error_ == 0) {
      last_error_ = WSAETIMEDOUT;
      ExceptCheck();
    }
    return result;
  }
  if (datagram_.empty()) datagram_.resize(c64k);
  const int32_t n = RecvBuffer(datagram_.data(), c64k);
  if (last_error_ != 0 || n <= 0) return result;
  result.assign(reinterpret_cast<const char*>(datagram_.data()), static_cast<size_t>(n));
  if (convert_line_end_) {
    // A line end split between two datagrams (CR ending one, LF starting
    // the next) counts once.
    size_t pos = 0;
    ApplyLineEndCarry(result, pos);
    result.erase(0, pos);
  }
  return result;
}

}  // namespace velmora::net
