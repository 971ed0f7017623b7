// THTTPSend: the response — status line, header block, the three body
// readers (until close, by length, chunked) and the cookies.
#include <cstring>

#include "velmora/host/text.h"
#include "velmora/net/httpclient.h"
#include "velmora/net/httpclient_socket.h"
#include "velmora/net/netutil_headers.h"
#include "velmora/net/netutil_text.h"

namespace velmora::net {

namespace {

enum class Number { kOk, kNotNumber, kTooLarge };

// A non-negative number in `base` (10 or 16) made only of digits; one that
// does not fit 63 bits is kTooLarge, never wrapped.
Number ParseNumber(const std::string& text, int base, int64_t& value) {
  if (text.empty()) return Number::kNotNumber;
  uint64_t v = 0;
  bool too_large = false;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return Number::kNotNumber;
    if (v > (static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(d)) / base) too_large = true;
    if (!too_large) v = v * base + static_cast<uint64_t>(d);
  }
  if (too_large) return Number::kTooLarge;
  value = static_cast<int64_t>(v);
  return Number::kOk;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// A status line is valid when its code is three digits.
bool ValidStatusLine(const std::string& line) {
  const std::string code = host::Trim(SeparateLeft(host::Trim(SeparateRight(line, " ")), " "));
  return code.size() == 3 && code.find_first_not_of("0123456789") == std::string::npos;
}

// A short, printable excerpt of what a server sent, for error texts.
std::string Excerpt(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size() && i < 80; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  }
  return s.size() > 80 ? out + "..." : out;
}

constexpr const char* kChunkStateNames[] = {"Size", "Data", "Trailers", "Done", "Failed"};

}  // namespace

const char* ChunkStateName(TChunkState state) {
  auto i = static_cast<size_t>(state);
  return i < std::size(kChunkStateNames) ? kChunkStateNames[i] : "Unknown";
}

void THTTPSend::ChunkStep(TChunkState next) {
  chunk_state_ = next;
}

// Interim answers (1xx other than 101) are skipped with their header lines;
// their status lines stay in Headers.  A line that is not a status line
// begins a response without one: it goes to Document and ResultCode is 0.
bool THTTPSend::ReadStatusLine(std::string kept_status, int64_t& budget) {
  if (!kept_status.empty()) {
    headers_.Add(kept_status);
    return true;
  }
  for (;;) {
    std::string line;
    while (line.empty()) {
      line = sock_->RecvLineWithin(timeout_, budget, "HTTP header block", kMaxHeaderBlock);
      if (sock_->LastError() != 0) return false;
    }
    if (!StartsWith(host::UpperCase(line.substr(0, 5)), "HTTP/")) {
      document_.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
      document_.WriteBuffer(CRLF, 2);
      result_code_ = 0;
      return true;
    }
    headers_.Add(line);
    DecodeStatus(line);
    if (!ValidStatusLine(line)) {
      sock_->Fail(WSAEINVAL, "HTTP status line is not valid: " + Excerpt(line));
      return false;
    }
    if (result_code_ < 100 || result_code_ > 199 || result_code_ == 101) return true;
    for (;;) {  // the interim answer's own header lines
      std::string h = sock_->RecvLineWithin(timeout_, budget, "HTTP header block", kMaxHeaderBlock);
      if (sock_->LastError() != 0) return false;
      if (h.empty()) break;
    }
  }
}

bool THTTPSend::ReadHeaderBlock(bool via_proxy, int64_t& budget, int64_t& size, bool& to_close) {
  host::TStringList raw;
  if (used_interim_) {
    for (std::string& h : interim_headers_) raw.Add(h);
    raw.Add("");
    interim_headers_.clear();
  } else {
    for (;;) {
      std::string line =
          sock_->RecvLineWithin(timeout_, budget, "HTTP header block", kMaxHeaderBlock);
      if (sock_->LastError() != 0) break;
      raw.Add(line);
      if (line.empty()) break;
    }
  }
  const bool read_ok = sock_->LastError() == 0;
  const char* connection = via_proxy ? "PROXY-CONNECTION:" : "CONNECTION:";
  int32_t i = 0;
  while (i < raw.Count()) {
    std::string h = NormalizeHeader(raw, i);
    headers_.Add(h);
    const std::string u = host::UpperCase(h);
    if (StartsWith(u, "CONTENT-LENGTH:")) {
      const std::string value = host::Trim(SeparateRight(h, " "));
      int64_t v = -1;
      switch (ParseNumber(value, 10, v)) {
        case Number::kOk:
          size = v;
          if (transfer_encoding_ == TE_UNKNOWN) transfer_encoding_ = TE_IDENTITY;
          break;
        case Number::kNotNumber:
          size = -1;
          break;
        case Number::kTooLarge:
          if (read_ok)
            sock_->Fail(WSAEINVAL, "HTTP Content-Length does not fit 63 bits: " + Excerpt(value));
          return false;
      }
    } else if (StartsWith(u, "CONTENT-TYPE:")) {
      mime_type_ = host::Trim(SeparateRight(h, " "));
    } else if (StartsWith(u, "TRANSFER-ENCODING:")) {
      if (host::UpperCase(SeparateRight(h, " ")).find("CHUNKED") != std::string::npos)
        transfer_encoding_ = TE_CHUNKED;
    } else if (StartsWith(u, connection) && u.find("CLOSE") != std::string::npos) {
      to_close = true;
    }
  }
  return read_ok;
}

bool THTTPSend::ReceiveResponse(const std::string& Method, std::string kept_status,
                                bool via_proxy) {
  Clear();
  int64_t size = -1;
  transfer_encoding_ = TE_UNKNOWN;
  used_interim_ = !kept_status.empty();
  int64_t budget = kMaxHeaderBlock;
  bool to_close = protocol_ != "1.1";
  bool ok = ReadStatusLine(std::move(kept_status), budget);
  if (ok && headers_.Count() > 0) ok = ReadHeaderBlock(via_proxy, budget, size, to_close);
  if (!ok) {
    // The rest of this response is still on the connection: it cannot
    // carry another request.
    sock_->CloseSocket();
    open_host_.clear();
    open_port_.clear();
    return false;
  }
  bool result = true;
  if (Method != "HEAD" && result_code_ != 204 && result_code_ != 304) {
    switch (transfer_encoding_) {
      case TE_UNKNOWN:
        result = ReadUnknown();
        break;
      case TE_IDENTITY:
        result = ReadIdentity(size);
        break;
      case TE_CHUNKED:
        result = ReadChunked();
        break;
    }
  }
  document_.set_Position(0);
  if (!result) {
    sock_->CloseSocket();
    open_host_.clear();
    open_port_.clear();
  } else if (to_close) {
    sock_->CloseAfterResponse();
    open_host_.clear();
    open_port_.clear();
  }
  ParseCookies();
  return result;
}

bool THTTPSend::ReadUnknown() {
  for (;;) {
    std::string s = sock_->RecvPacket(timeout_);
    if (sock_->LastError() != 0) break;
    document_.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  }
  // The server's close is the normal end of such a body.
  if (sock_->LastError() == WSAECONNRESET) {
    sock_->ResetLastError();
    return true;
  }
  return false;
}

bool THTTPSend::ReadIdentity(int64_t Size) {
  if (Size <= 0) return true;
  download_size_ = Size;
  sock_->RecvIntoStream(document_, Size, timeout_);
  return sock_->LastError() == 0;
}

bool THTTPSend::ReadChunked() {
  chunk_state_ = TChunkState::Size;
  int64_t chunk = 0;
  int64_t trailer_budget = kMaxHeaderBlock;
  while (chunk_state_ != TChunkState::Done && chunk_state_ != TChunkState::Failed) {
    switch (chunk_state_) {
      case TChunkState::Size: {
        // Empty lines before the size are the line ends after chunk data.
        int64_t line_budget = kMaxHeaderBlock;
        std::string line;
        while (line.empty() && sock_->LastError() == 0)
          line =
              sock_->RecvLineWithin(timeout_, line_budget, "HTTP chunk-size line", kMaxHeaderBlock);
        if (sock_->LastError() != 0) {
          ChunkStep(TChunkState::Failed);
          break;
        }
        const std::string text = host::Trim(SeparateLeft(SeparateLeft(line, " "), ";"));
        switch (ParseNumber(text, 16, chunk)) {
          case Number::kOk:
            ChunkStep(chunk == 0 ? TChunkState::Trailers : TChunkState::Data);
            break;
          case Number::kNotNumber:
            sock_->Fail(WSAEINVAL, "HTTP chunk size is not hexadecimal: " + Excerpt(text));
            ChunkStep(TChunkState::Failed);
            break;
          case Number::kTooLarge:
            sock_->Fail(WSAEINVAL, "HTTP chunk size does not fit 63 bits: " + Excerpt(text));
            ChunkStep(TChunkState::Failed);
            break;
        }
        break;
      }
      case TChunkState::Data:
        ChunkStep(ReadIdentity(chunk) ? TChunkState::Size : TChunkState::Failed);
        break;
      case TChunkState::Trailers: {
        // Read up to the empty line that ends the body, so that a kept
        // connection starts clean at the next response.  The body is whole
        // already: a server that closes instead is not a failure, but a
        // trailer section without end is.
        std::string line = sock_->RecvLineWithin(timeout_, trailer_budget, "HTTP trailer section",
                                                 kMaxHeaderBlock);
        if (sock_->LastError() == WSAENOBUFS) {
          ChunkStep(TChunkState::Failed);
        } else if (sock_->LastError() != 0) {
          sock_->ResetLastError();
          open_host_.clear();
          open_port_.clear();
          ChunkStep(TChunkState::Done);
        } else if (line.empty()) {
          ChunkStep(TChunkState::Done);
        }
        break;
      }
      case TChunkState::Done:
      case TChunkState::Failed:
        break;
    }
  }
  return chunk_state_ == TChunkState::Done;
}

void THTTPSend::ParseCookies() {
  for (const std::string& line : headers_) {
    if (!StartsWith(host::LowerCase(line.substr(0, 11)), "set-cookie:")) continue;
    const std::string pair = host::Trim(SeparateLeft(SeparateRight(line, ":"), ";"));
    const std::string name = host::Trim(SeparateLeft(pair, "="));
    const std::string value = host::Trim(SeparateRight(pair, "="));
    cookies_.set_Values(name, value);
  }
}

}  // namespace velmora::net
