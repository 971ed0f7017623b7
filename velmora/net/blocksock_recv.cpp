// TBlockSocket: the receivers.  RecvBuffer is the primitive; RecvPacket takes
// whatever is available (InputBacklog first); every buffered reader (lines,
// exact counts, bytes, blocks, streams) is built on RecvPacket and leaves
// what it did not use in InputBacklog.
#include <poll.h>

#include <cstring>

#include "velmora/net/blocksock.h"
#include "velmora/net/netsleep.h"
#include "velmora/net/netutil_time.h"

namespace velmora::net {

namespace {

// The longest a purge waits for the peer's last bytes.
constexpr int32_t kPurgeWait = 1;  // ms

// Finds the first line end at or after `from`: CR LF, LF CR, or a lone CR or
// LF (a break byte at the very end of the data stands alone).  Returns its
// offset and sets `length`; npos when there is none.
size_t FindLineEnd(const std::string& s, size_t from, size_t& length) {
  for (size_t i = from; i < s.size(); ++i) {
    char c = s[i];
    if (c != '\r' && c != '\n') continue;
    char other = c == '\r' ? '\n' : '\r';
    length = (i + 1 < s.size() && s[i + 1] == other) ? 2 : 1;
    return i;
  }
  return std::string::npos;
}

// The first occurrence of `d` at or after `from` (npos if none): memchr for
// its first byte and a direct check of the rest, cheaper per line than a
// general substring search for the short delimiters lines end with.
size_t FindDelimiter(const std::string& s, size_t from, const std::string& d) {
  const size_t n = d.size();
  if (n == 0 || from >= s.size() || s.size() - from < n) return std::string::npos;
  const char* base = s.data();
  const char* p = base + from;
  const char* last = base + s.size() - n;  // the last place a match can start
  while (p <= last) {
    p = static_cast<const char*>(std::memchr(p, d[0], static_cast<size_t>(last - p) + 1));
    if (!p) return std::string::npos;
    if (n == 1 || (p[1] == d[1] && (n == 2 || std::memcmp(p + 2, d.data() + 2, n - 2) == 0)))
      return static_cast<size_t>(p - base);
    ++p;
  }
  return std::string::npos;
}

bool IsCRLF(const std::string& d) {
  return d.size() == 2 && d[0] == '\r' && d[1] == '\n';
}

// The time-out left after a pass that began at `tick`; -1 (no limit) stays.
int32_t RemainingTimeout(int32_t timeout, uint32_t tick) {
  if (timeout < 0) return timeout;
  int64_t left = static_cast<int64_t>(timeout) - TickDelta(tick, GetTick());
  return left > 0 ? static_cast<int32_t>(left) : 0;
}

}  // namespace

void TBlockSocket::Recycle(std::string&& buffer) {
  if (buffer.capacity() > spare_.capacity()) {
    buffer.clear();
    spare_ = std::move(buffer);
  }
}

void TBlockSocket::set_InputBacklog(std::string v) {
  backlog_ = std::move(v);
  backlog_pos_ = 0;
}

std::string TBlockSocket::TakeBacklog() {
  std::string result;
  if (backlog_pos_ == 0)
    result.swap(backlog_);
  else
    result.assign(backlog_, backlog_pos_, std::string::npos);
  ClearBacklog();
  return result;
}

void TBlockSocket::ApplyLineEndCarry(std::string& Data, size_t& Pos) {
  if (!convert_line_end_ || Pos >= Data.size()) return;
  if (saw_lone_cr_ && Data[Pos] == '\n') ++Pos;
  if (saw_lone_lf_ && Pos < Data.size() && Data[Pos] == '\r') ++Pos;
  saw_lone_cr_ = false;
  saw_lone_lf_ = false;
}

int32_t TBlockSocket::RecvBuffer(void* Buffer, int32_t Length) {
  if (TestStopFlag()) return 0;
  if (Length <= 0) return 0;  // a receive of nothing is not the peer's close
  LimitBandwidth(Length, max_recv_bandwidth_, recv_resume_tick_);
  int32_t result = net::Recv(socket_, Buffer, Length, 0);
  if (result == 0)
    last_error_ = WSAECONNRESET;  // the peer's orderly close
  else
    SockCheck(result);
  ExceptCheck();
  if (result > 0) {
    bytes_received_ += result;
    DoStatus(HR_ReadCount, std::to_string(result));
    DoMonitor(false, Buffer, result);
    DoReadFilter(Buffer, result);
  }
  return result;
}

std::string TBlockSocket::RecvPacket(int32_t Timeout) {
  std::string result;
  ResetLastError();
  if (BacklogSize() > 0) {
    result = TakeBacklog();
  } else {
    // Yield once per packet so that a long download does not monopolise the
    // processor (unless the socket's owner turned it off).
    if (yield_per_packet_) Sleep(0);
    int32_t n = WaitingData();
    if (n <= 0) {
      if (CanRead(Timeout)) {
        n = WaitingData();
        if (n == 0) last_error_ = WSAECONNRESET;
      } else if (last_error_ == 0) {
        last_error_ = WSAETIMEDOUT;
      }
    }
    if (n > 0 && last_error_ == 0) {
      // Reuse the buffer of a packet that a reader of this socket handed
      // back, instead of a fresh 64 KiB allocation per packet.
      result.swap(spare_);
      result.resize(static_cast<size_t>(n));
      int32_t r = RecvBuffer(result.data(), n);
      result.resize(static_cast<size_t>(r > 0 ? r : 0));
    }
  }
  if (convert_line_end_ && !result.empty()) {
    size_t pos = 0;
    ApplyLineEndCarry(result, pos);
    result.erase(0, pos);
  }
  ExceptCheck();
  return result;
}

// Bytes already in InputBacklog are copied straight from it (what RecvPacket
// would hand over, without copying the rest); then packets are read until
// Len bytes are in, and the unused tail of the last one becomes InputBacklog.
int32_t TBlockSocket::RecvBufferEx(void* Buffer, int32_t Len, int32_t Timeout) {
  ResetLastError();
  if (Len <= 0) return 0;
  auto* out = static_cast<uint8_t*>(Buffer);
  const size_t want = static_cast<size_t>(Len);
  size_t got = 0;
  if (BacklogSize() > 0) {
    ApplyLineEndCarry(backlog_, backlog_pos_);
    size_t take = BacklogSize() < want ? BacklogSize() : want;
    std::memcpy(out, backlog_.data() + backlog_pos_, take);
    backlog_pos_ += take;
    if (backlog_pos_ == backlog_.size()) ClearBacklog();
    got = take;
  }
  bool own_timeout = false;
  while (got < want) {
    const uint32_t tick =
        inter_packet_timeout_ ? 0 : GetTick();  // only a whole-read limit needs it
    std::string s = RecvPacket(Timeout);
    size_t take = s.size() < want - got ? s.size() : want - got;
    std::memcpy(out + got, s.data(), take);
    got += take;
    if (take < s.size()) {
      // The rest of the packet becomes the backlog without a copy.
      backlog_ = std::move(s);
      backlog_pos_ = take;
    } else {
      Recycle(std::move(s));
    }
    if (last_error_ != 0 || got >= want) break;
    if (!inter_packet_timeout_ && Timeout >= 0) {
      Timeout = RemainingTimeout(Timeout, tick);
      if (Timeout <= 0) {
        last_error_ = WSAETIMEDOUT;
        own_timeout = true;
        break;
      }
    }
  }
  if (own_timeout) ExceptCheck();
  return static_cast<int32_t>(got);
}

// Reads into a string that grows with the data, so that a huge length (a
// corrupt or hostile block header) costs memory only for bytes that arrive.
std::string TBlockSocket::RecvBufferStr(int32_t Len, int32_t Timeout) {
  std::string result;
  if (Len <= 0) {
    ResetLastError();
    return result;
  }
  result.reserve(static_cast<size_t>(Len < c64k ? Len : c64k));
  std::string piece;
  // A whole-read limit covers all the pieces: each gets what is left of it.
  const bool whole_read = !inter_packet_timeout_ && Timeout >= 0;
  const uint32_t tick = whole_read ? GetTick() : 0;
  int32_t left = Timeout;
  while (static_cast<int32_t>(result.size()) < Len) {
    int32_t want = Len - static_cast<int32_t>(result.size());
    if (want > c64k) want = c64k;
    if (whole_read && !result.empty()) {
      left = RemainingTimeout(Timeout, tick);
      if (left <= 0) {
        last_error_ = WSAETIMEDOUT;
        ExceptCheck();
        return std::string();
      }
    }
    piece.resize(static_cast<size_t>(want));
    int32_t x = RecvBufferEx(piece.data(), want, left);
    result.append(piece, 0, static_cast<size_t>(x));
    if (last_error_ != 0) return std::string();
  }
  return result;
}

uint8_t TBlockSocket::RecvByte(int32_t Timeout) {
  ResetLastError();
  if (BacklogSize() == 0) set_InputBacklog(RecvPacket(Timeout));
  if (last_error_ != 0 || BacklogSize() == 0) return 0;
  uint8_t b = static_cast<uint8_t>(backlog_[backlog_pos_++]);
  if (backlog_pos_ == backlog_.size()) ClearBacklog();
  return b;
}

int32_t TBlockSocket::RecvInteger(int32_t Timeout) {
  std::string s = RecvBufferStr(4, Timeout);
  if (last_error_ != 0 || s.size() != 4) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[i]);
  return static_cast<int32_t>(v);
}

// The line buffer.  The accumulator is the InputBacklog buffer itself (its
// unread part taken as the first packet); further packets are appended, the
// search resumes where the last one stopped, and a found line is cut by
// advancing the read position.  On any error, and when an exception escapes,
// everything gathered stays in InputBacklog.
std::string TBlockSocket::RecvTerminated(int32_t Timeout, const std::string& Delimiter) {
  ResetLastError();
  if (Delimiter.empty()) return std::string();
  const bool crlf_mode = convert_line_end_ && IsCRLF(Delimiter);
  if (BacklogSize() > 0) {
    // A whole line already buffered (most lines of a packet): cut it from
    // the buffer directly.
    ApplyLineEndCarry(backlog_, backlog_pos_);
    size_t term = Delimiter.size();
    size_t found = crlf_mode ? FindLineEnd(backlog_, backlog_pos_, term)
                             : FindDelimiter(backlog_, backlog_pos_, Delimiter);
    if (found != std::string::npos &&
        (max_line_length_ == 0 || found - backlog_pos_ <= static_cast<size_t>(max_line_length_))) {
      if (crlf_mode && term == 1) (backlog_[found] == '\r' ? saw_lone_cr_ : saw_lone_lf_) = true;
      std::string result(backlog_, backlog_pos_, found - backlog_pos_);
      backlog_pos_ = found + term;
      if (backlog_pos_ == backlog_.size()) ClearBacklog();
      return result;
    }
  }
  std::string s;
  size_t start = 0;
  if (BacklogSize() > 0) {
    s.swap(backlog_);
    start = backlog_pos_;
    backlog_pos_ = 0;
    ApplyLineEndCarry(s, start);
  }
  // Puts the accumulator back as InputBacklog, also when a hook or
  // RaiseExcept throws out of a read.
  struct Restore {
    TBlockSocket* self;
    std::string* s;
    size_t* start;
    ~Restore() {
      self->backlog_ = std::move(*s);
      self->backlog_pos_ = *start < self->backlog_.size() ? *start : self->backlog_.size();
      if (self->backlog_pos_ == self->backlog_.size()) self->ClearBacklog();
    }
  } restore{this, &s, &start};

  size_t searched = start;  // no line end before this offset
  size_t found = std::string::npos;
  size_t term = 0;
  bool first = s.size() > start;
  bool own_error = false;
  for (;;) {
    const uint32_t tick =
        inter_packet_timeout_ ? 0 : GetTick();  // only a whole-read limit needs it
    if (!first) {
      // Drop the lines already handed out before the buffer grows, so that
      // it holds at most the current line and one packet.
      if (start > 0) {
        s.erase(0, start);
        searched -= start;
        start = 0;
      }
      std::string packet = RecvPacket(Timeout);
      if (last_error_ == 0 && !packet.empty()) {
        // A line that began in an earlier packet mostly ends early in this
        // one: join just the line and keep the packet itself as the buffer,
        // instead of appending the whole packet to the line's start.
        size_t t = Delimiter.size();
        size_t x = crlf_mode ? FindLineEnd(packet, 0, t) : FindDelimiter(packet, 0, Delimiter);
        bool straddles = false;  // a delimiter that begins in the old bytes
        if (!crlf_mode && Delimiter.size() > 1 && !s.empty()) {
          size_t k = s.size() < Delimiter.size() - 1 ? s.size() : Delimiter.size() - 1;
          std::string edge = s.substr(s.size() - k) + packet.substr(0, Delimiter.size() - 1);
          straddles = FindDelimiter(edge, 0, Delimiter) != std::string::npos;
        }
        if (x != std::string::npos && !straddles &&
            (max_line_length_ == 0 || s.size() + x <= static_cast<size_t>(max_line_length_))) {
          if (crlf_mode && t == 1) (packet[x] == '\r' ? saw_lone_cr_ : saw_lone_lf_) = true;
          std::string result;
          result.reserve(s.size() + x);
          result.append(s).append(packet, 0, x);
          Recycle(std::move(s));
          s = std::move(packet);
          start = x + t;  // the rest of the packet becomes InputBacklog
          return result;
        }
      }
      s += packet;
      Recycle(std::move(packet));
      if (last_error_ != 0) break;
    }
    first = false;
    if (s.size() > start) {
      if (crlf_mode) {
        found = FindLineEnd(s, searched, term);
        if (found != std::string::npos) {
          if (term == 1 && s[found] == '\r') saw_lone_cr_ = true;
          if (term == 1 && s[found] == '\n') saw_lone_lf_ = true;
        }
        searched = s.size();
      } else {
        size_t from = searched;
        if (from > start + Delimiter.size() - 1)
          from -= Delimiter.size() - 1;
        else
          from = start;
        found = FindDelimiter(s, from, Delimiter);
        term = Delimiter.size();
        searched = s.size();
      }
      // The limit is on the line itself: bytes after its end (the next
      // lines of the same packet) do not count.
      size_t line_length = found != std::string::npos ? found - start : s.size() - start;
      if (max_line_length_ != 0 && line_length > static_cast<size_t>(max_line_length_)) {
        last_error_ = WSAENOBUFS;
        own_error = true;
        break;
      }
      if (found != std::string::npos) break;
    }
    if (!inter_packet_timeout_ && Timeout >= 0) {
      Timeout = RemainingTimeout(Timeout, tick);
      if (Timeout <= 0) {
        last_error_ = WSAETIMEDOUT;
        own_error = true;
        break;
      }
    }
  }
  std::string result;
  if (last_error_ == 0 && found != std::string::npos) {
    result.assign(s, start, found - start);
    start = found + term;
  }
  // An error that RecvPacket met was checked and reported there.
  if (own_error || last_error_ == 0) ExceptCheck();
  return result;
}

std::string TBlockSocket::RecvString(int32_t Timeout) {
  static const std::string kLineEnd = CRLF;
  std::string s = RecvTerminated(Timeout, kLineEnd);
  if (last_error_ != 0) return std::string();
  return s;
}

std::string TBlockSocket::RecvBlock(int32_t Timeout) {
  int32_t x = RecvInteger(Timeout);
  if (last_error_ != 0) return std::string();
  return RecvBufferStr(x, Timeout);
}

int32_t TBlockSocket::PeekBuffer(void* Buffer, int32_t Length) {
  int32_t result = net::Recv(socket_, Buffer, Length, MSG_PEEK);
  SockCheck(result);
  ExceptCheck();
  return result;
}

uint8_t TBlockSocket::PeekByte(int32_t Timeout) {
  uint8_t b = 0;
  if (CanRead(Timeout)) {
    int32_t r = net::Recv(socket_, &b, 1, MSG_PEEK);
    SockCheck(r);
    ExceptCheck();
    if (r != 1) b = 0;
  } else {
    last_error_ = WSAETIMEDOUT;
  }
  return b;
}

void TBlockSocket::RecvStreamRaw(host::TStream& Stream, int32_t Timeout) {
  for (;;) {
    std::string s = RecvPacket(Timeout);
    if (last_error_ != 0) break;
    Stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  }
}

void TBlockSocket::RecvStreamSize(host::TStream& Stream, int32_t Timeout, int64_t Size) {
  ResetLastError();
  const int32_t b = send_max_chunk_ > 0 ? send_max_chunk_ : c64k;
  int64_t n = Size / b;
  for (int64_t i = 0; i < n; ++i) {
    std::string s = RecvBufferStr(b, Timeout);
    if (last_error_ != 0) return;
    Stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  }
  int64_t r = Size % b;
  if (r > 0) {
    std::string s = RecvBufferStr(static_cast<int32_t>(r), Timeout);
    if (last_error_ == 0) Stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  }
}

void TBlockSocket::RecvStream(host::TStream& Stream, int32_t Timeout) {
  int32_t x = RecvInteger(Timeout);
  if (last_error_ == 0) RecvStreamSize(Stream, Timeout, x);
}

void TBlockSocket::RecvStreamIndy(host::TStream& Stream, int32_t Timeout) {
  uint32_t x = static_cast<uint32_t>(RecvInteger(Timeout));
  x = (x >> 24) | ((x >> 8) & 0xFF00) | ((x << 8) & 0xFF0000) | (x << 24);
  if (last_error_ == 0) RecvStreamSize(Stream, Timeout, static_cast<int32_t>(x));
}

void TBlockSocket::Purge() {
  PurgeUpTo(-1);
}

void TBlockSocket::PurgeUpTo(int64_t Limit) {
  // Gives what the peer is still sending a moment to arrive (so that a close
  // with unread data does not turn into a reset), but no longer than it
  // takes: the wait ends as soon as data or the peer's close is readable.
  pollfd p{socket_, POLLIN, 0};
  if (socket_ == INVALID_SOCKET || ::poll(&p, 1, kPurgeWait) < 0) Sleep(kPurgeWait);
  // What is discarded needs no turn-taking with other threads.
  struct KeepYield {
    bool& flag;
    const bool saved = flag;
    ~KeepYield() { flag = saved; }
  } keep{yield_per_packet_};
  yield_per_packet_ = false;
  int64_t discarded = 0;
  try {
    while (BacklogSize() > 0 || WaitingData() > 0) {
      discarded += static_cast<int64_t>(RecvPacket(0).size());
      if (last_error_ != 0) break;
      if (Limit >= 0 && discarded >= Limit) break;
    }
  } catch (...) {
    // An exception (RaiseExcept) only ends the purge.
  }
  ResetLastError();
}

}  // namespace velmora::net
