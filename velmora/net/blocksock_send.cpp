// TBlockSocket: the senders (the SendBuffer primitive and everything built
// on it) and the datagram primitives.
#include <cstring>

#include "velmora/net/blocksock.h"

namespace velmora::net {

namespace {

std::string LittleEndian32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::string BigEndian32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFF);
  return s;
}

}  // namespace

int32_t TBlockSocket::SendInPieces(
    const void* Buffer, int32_t Length,
    const std::function<int32_t(const uint8_t*, int32_t)>& send_piece) {
  int32_t result = 0;
  if (TestStopFlag()) return 0;
  // A send of nothing must not report a failure left over from an earlier
  // call.
  ResetLastError();
  DoMonitor(true, Buffer, Length);
  const auto* p = static_cast<const uint8_t*>(Buffer);
  int32_t x = 0;
  while (x < Length) {
    int32_t piece = Length - x < send_max_chunk_ ? Length - x : send_max_chunk_;
    if (piece <= 0) break;
    LimitBandwidth(piece, max_send_bandwidth_, send_resume_tick_);
    const int32_t r = send_piece(p + x, piece);
    if (last_error_ != 0) break;
    x += r;
    result += r;
    bytes_sent_ += r;
    DoStatus(HR_WriteCount, std::to_string(r));
  }
  ExceptCheck();
  return result;
}

// A piece that would block (non-blocking mode) waits up to
// NonblockSendTimeout for writability and is tried once more.
int32_t TBlockSocket::SendBuffer(const void* Buffer, int32_t Length) {
  return SendInPieces(Buffer, Length, [this](const uint8_t* p, int32_t piece) {
    int32_t r = net::Send(socket_, p, piece, 0);
    SockCheck(r);
    if (last_error_ == WSAEWOULDBLOCK) {
      if (CanWrite(nonblock_send_timeout_)) {
        r = net::Send(socket_, p, piece, 0);
        SockCheck(r);
      } else {
        last_error_ = WSAETIMEDOUT;
      }
    }
    return r;
  });
}

void TBlockSocket::SendByte(uint8_t Data) {
  SendBuffer(&Data, 1);
}

void TBlockSocket::SendString(const std::string& Data) {
  SendBuffer(Data.data(), static_cast<int32_t>(Data.size()));
}

void TBlockSocket::SendInteger(int32_t Data) {
  std::string s = LittleEndian32(static_cast<uint32_t>(Data));
  SendBuffer(s.data(), 4);
}

void TBlockSocket::SendBlock(const std::string& Data) {
  SendString(LittleEndian32(static_cast<uint32_t>(Data.size())) + Data);
}

// Sends the stream from its position in pieces of SendMaxChunk.  With
// WithSize the first piece is preceded by the count of bytes left (4 bytes,
// little-endian, or network order with Indy); the count is sent even for an
// empty stream, so that the receiver's RecvStream gets an empty stream
// instead of waiting for a size that never comes.
void TBlockSocket::InternalSendStream(host::TStream& Stream, bool WithSize, bool Indy) {
  const int64_t left = Stream.Size() - Stream.Position();
  const uint32_t count = static_cast<uint32_t>(left < 0 ? 0 : left);
  bool first = true;
  std::string piece;
  ResetLastError();
  for (;;) {
    piece.resize(static_cast<size_t>(send_max_chunk_ > 0 ? send_max_chunk_ : c64k));
    int64_t n = Stream.Read(piece.data(), static_cast<int64_t>(piece.size()));
    piece.resize(static_cast<size_t>(n > 0 ? n : 0));
    if (first && WithSize) {
      piece.insert(0, Indy ? BigEndian32(count) : LittleEndian32(count));
    } else if (piece.empty()) {
      break;
    }
    first = false;
    SendString(piece);
    if (last_error_ != 0 || n <= 0) break;
  }
}

void TBlockSocket::SendStreamRaw(host::TStream& Stream) {
  InternalSendStream(Stream, false, false);
}
void TBlockSocket::SendStream(host::TStream& Stream) {
  InternalSendStream(Stream, true, false);
}
void TBlockSocket::SendStreamIndy(host::TStream& Stream) {
  InternalSendStream(Stream, true, true);
}

int32_t TBlockSocket::SendBufferTo(const void* Buffer, int32_t Length) {
  if (TestStopFlag()) return 0;
  DoMonitor(true, Buffer, Length);
  LimitBandwidth(Length, max_send_bandwidth_, send_resume_tick_);
  int32_t r = net::SendTo(socket_, Buffer, Length, 0, remote_sin_);
  SockCheck(r);
  ExceptCheck();
  if (last_error_ != 0) return 0;
  bytes_sent_ += r;
  DoStatus(HR_WriteCount, std::to_string(r));
  return r;
}

int32_t TBlockSocket::RecvBufferFrom(void* Buffer, int32_t Length) {
  if (TestStopFlag()) return 0;
  LimitBandwidth(Length, max_recv_bandwidth_, recv_resume_tick_);
  int32_t r = net::RecvFrom(socket_, Buffer, Length, recv_from_flags_, remote_sin_);
  SockCheck(r);
  ExceptCheck();
  if (last_error_ != 0) return 0;
  bytes_received_ += r;
  DoStatus(HR_ReadCount, std::to_string(r));
  DoMonitor(false, Buffer, r);
  return r;
}

}  // namespace velmora::net
