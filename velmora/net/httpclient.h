// THTTPSend: a blocking HTTP/1.x client, and the one-call GET and POST
// functions built on it.
//
// The caller fills Headers (extra request headers), MimeType and Document
// (the request body), calls HTTPMethod(Method, URL), and then reads
// ResultCode, ResultString, Headers (the response header lines) and Document
// (the response body) from the same object.  The connection is kept between
// requests to the same server with Protocol "1.1" while the server does not
// ask to close; "https" URLs speak TLS through the socket's plug-in; an HTTP
// proxy is used in absolute request form for plain URLs and as a CONNECT
// tunnel for https.
//
// Contracts:
// - Failures are the false result of HTTPMethod; the reason is in
//   Sock().LastError() and Sock().LastErrorText().  Nothing is raised.
// - Sizes are 64-bit.  A length or chunk size that does not fit 63 bits is a
//   failed transfer (10022), never a wrapped number.
// - What a server sends is bounded before it is buffered: the status line
//   and header block together at most kMaxHeaderBlock bytes, a chunk-size
//   line and the trailer section the same (10055, the text names the limit).
//   A status line beginning "HTTP/" without a three-digit code, and a chunk
//   size that is not hexadecimal, fail with 10022.
// - One thread uses the object; Abort() may be called from any other thread
//   and ends the transfer in progress with 10053.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmora/host/streams.h"
#include "velmora/host/string_list.h"
#include "velmora/net/netclient.h"
#include "velmora/net/tcp_socket.h"

namespace velmora::net {

// How the body of the current response is delimited.
enum TTransferEncoding : uint8_t {
  TE_UNKNOWN,   // read until the server closes
  TE_IDENTITY,  // read Content-Length bytes
  TE_CHUNKED    // chunked coding
};

// The most the status line and header block (and, separately, a chunk-size
// line or the trailer section) may take; no real server comes near it.
constexpr int64_t kMaxHeaderBlock = 1 << 20;  // bytes

// Where the chunked reader stands.
enum class TChunkState : uint8_t {
  Size,      // reading a chunk-size line
  Data,      // reading the data of a chunk
  Trailers,  // the last chunk was read; reading the trailer section
  Done,      // the body is complete
  Failed     // a read failed or the size line was not valid
};

const char* ChunkStateName(TChunkState state);

class THTTPSocket;

class THTTPSend : public TNetClient {
 public:
  THTTPSend();
  ~THTTPSend() override;
  THTTPSend(const THTTPSend&) = delete;
  THTTPSend& operator=(const THTTPSend&) = delete;
  std::string ClassName() const override { return "THTTPSend"; }
  const std::vector<host::PropInfo>& PublishedProperties() const override;

  // Range := none, Document and Headers emptied, MimeType := "text/html".
  void Clear();
  // One complete request and response.  True when the response was received
  // completely; ResultCode is then the server's status, whatever it is.
  bool HTTPMethod(const std::string& Method, const std::string& URL);
  // Sets the socket's stop flag: the transfer in progress ends at its next
  // step with 10053.  Safe from any thread.
  void Abort();

  // --- The steps of HTTPMethod.
  // ResultCode and ResultString from a status line.
  void DecodeStatus(const std::string& Value);
  // Headers as the request's header block: each line followed by CR LF (so
  // it ends with an empty line); for Protocol "0.9" only the request line.
  std::string PrepareHeaders();
  bool InternalDoConnect(bool UseTLS);
  // Reuses the open connection when it goes to TargetHost:TargetPort and
  // nothing is pending on it; else InternalDoConnect.
  bool InternalConnect(bool UseTLS);
  bool ReadUnknown();
  bool ReadIdentity(int64_t Size);
  bool ReadChunked();
  void ParseCookies();

  // --- Properties.
  TTCPBlockSocket& Sock();
  TTransferEncoding TransferEncoding() const { return transfer_encoding_; }
  const std::string& OpenHost() const { return open_host_; }
  const std::string& OpenPort() const { return open_port_; }
  host::TStringList& Headers() { return headers_; }
  host::TMemoryStream& Document() { return document_; }
  const std::string& MimeType() const { return mime_type_; }
  void set_MimeType(const std::string& v) { mime_type_ = v; }
  const std::string& Protocol() const { return protocol_; }
  void set_Protocol(const std::string& v) { protocol_ = v; }
  bool KeepAlive() const { return keep_alive_; }
  void set_KeepAlive(bool v) { keep_alive_ = v; }
  int32_t KeepAliveTimeout() const { return keep_alive_timeout_; }
  void set_KeepAliveTimeout(int32_t v) { keep_alive_timeout_ = v; }
  bool Status100() const { return status100_; }
  void set_Status100(bool v) { status100_ = v; }
  const std::string& ProxyHost() const { return proxy_host_; }
  void set_ProxyHost(const std::string& v) { proxy_host_ = v; }
  const std::string& ProxyPort() const { return proxy_port_; }
  void set_ProxyPort(const std::string& v) { proxy_port_ = v; }
  const std::string& ProxyUser() const { return proxy_user_; }
  void set_ProxyUser(const std::string& v) { proxy_user_ = v; }
  const std::string& ProxyPass() const { return proxy_pass_; }
  void set_ProxyPass(const std::string& v) { proxy_pass_ = v; }
  int32_t ResultCode() const { return result_code_; }
  const std::string& ResultString() const { return result_string_; }
  const std::string& UserAgent() const { return user_agent_; }
  void set_UserAgent(const std::string& v) { user_agent_ = v; }
  host::TStringList& Cookies() { return cookies_; }
  int64_t DownloadSize() const { return download_size_; }
  int64_t UploadSize() const { return upload_size_; }
  int64_t RangeStart() const { return range_start_; }
  void set_RangeStart(int64_t v) { range_start_ = v; }
  int64_t RangeEnd() const { return range_end_; }
  void set_RangeEnd(int64_t v) { range_end_ = v; }
  bool AddPortNumberToHost() const { return add_port_number_to_host_; }
  void set_AddPortNumberToHost(bool v) { add_port_number_to_host_ = v; }
  // Where the chunked reader of the last response stopped.
  TChunkState ChunkState() const { return chunk_state_; }

 private:
  struct Request;  // the parts of the URL and the proxy choice of one call

  Request ParseRequest(const std::string& URL);
  void BuildHeaders(const std::string& Method, const Request& r);
  bool SendRequest(bool expect, std::string& kept_status);
  bool ReceiveResponse(const std::string& Method, std::string kept_status, bool via_proxy);
  bool ReadStatusLine(std::string kept_status, int64_t& budget);
  bool ReadHeaderBlock(bool via_proxy, int64_t& budget, int64_t& size, bool& to_close);
  // Sends Document's bytes straight from its memory.
  void SendDocument();
  void ChunkStep(TChunkState next);

  std::unique_ptr<THTTPSocket> sock_;
  TTransferEncoding transfer_encoding_ = TE_UNKNOWN;
  std::string open_host_;
  std::string open_port_;
  host::TStringList headers_;
  host::TMemoryStream document_;
  std::string mime_type_ = "text/html";
  std::string protocol_ = "1.0";
  bool keep_alive_ = true;
  int32_t keep_alive_timeout_ = 300;
  bool status100_ = false;
  std::string proxy_host_;
  std::string proxy_port_ = "8080";
  std::string proxy_user_;
  std::string proxy_pass_;
  int32_t result_code_ = 0;
  std::string result_string_;
  std::string user_agent_ = "Mozilla/4.0 (compatible; Velmora)";
  host::TStringList cookies_;
  int64_t download_size_ = 0;
  int64_t upload_size_ = 0;
  int64_t range_start_ = 0;
  int64_t range_end_ = 0;
  bool add_port_number_to_host_ = true;
  TChunkState chunk_state_ = TChunkState::Done;
  // The header lines that came with the answer to "Expect: 100-continue".
  std::vector<std::string> interim_headers_;
  bool used_interim_ = false;  // the response's headers are interim_headers_
};

// --- One-call functions: each makes a THTTPSend with default settings for
// one request and returns the result of HTTPMethod.

// GET; on success Response holds the body split into lines.
bool HttpGetText(const std::string& URL, host::TStringList& Response);
// GET; on success the body is written into Response from its start.
bool HttpGetBinary(const std::string& URL, host::TStream& Response);
// POST of all of Data as "Application/octet-stream".  Data is emptied
// whatever the result; on success it receives the response body.
bool HttpPostBinary(const std::string& URL, host::TStream& Data);
// POST of FormText as "application/x-www-form-urlencoded"; the response body
// is appended to Data at its position.
bool HttpPostURL(const std::string& URL, const std::string& FormText, host::TStream& Data);
// POST of Data as one file part of a multipart/form-data body; ReplyLines
// receives the response body split into lines.
bool HttpPostFile(const std::string& URL, const std::string& PartName, const std::string& FileName,
                  host::TStream& Data, host::TStringList& ReplyLines);

// The multipart body HttpPostFile sends: Data (from its start) as the part
// PartName with the file name FileName, between two lines of Boundary.
// Returns the MIME type naming the boundary.
std::string BuildMultipartFile(const std::string& Boundary, const std::string& PartName,
                               const std::string& FileName, host::TStream& Data,
                               host::TStream& Body);
// A fresh boundary: 8 upper-case hexadecimal digits of a random number below
// 2147483647, then "_Velmora_boundary".
std::string NewMultipartBoundary();

}  // namespace velmora::net
