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
// that holds the largest one.  A datagram already waiting is taken without a
// wait first (one system call instead of two); under a receive bandwidth
// limit the read is sized by the datagram waiting, so that the limiter
// counts what arrives.
std::string TDgramBlockSocket::RecvPacket(int32_t Timeout) {
  if (BacklogSize() > 0) return TBlockSocket::RecvPacket(Timeout);
  ResetLastError();
  std::string result;
  if (datagram_.empty()) datagram_.resize(c64k);
  int32_t n = -1;
  bool waited = false;
  if (max_recv_bandwidth_ <= 0) {
    recv_from_flags_ = MSG_DONTWAIT;
    n = RecvBuffer(datagram_.data(), c64k);
    recv_from_flags_ = 0;
    if (last_error_ == WSAEWOULDBLOCK)
      ResetLastError();
    else
      waited = true;  // a datagram, or a failure other than "none yet"
  }
  if (!waited) {
    if (!CanRead(Timeout)) {
      if (last_error_ == 0) {
        last_error_ = WSAETIMEDOUT;
        ExceptCheck();
      }
      return result;
    }
    int32_t size = c64k;
    if (max_recv_bandwidth_ > 0) {
      size = WaitingData();
      if (size <= 0) size = 1;  // an empty datagram
    }
    n = RecvBuffer(datagram_.data(), size);
  }
  if (last_error_ != 0 || n <= 0) return result;
  result.swap(spare_);
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
