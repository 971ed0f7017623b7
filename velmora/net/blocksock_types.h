// Types shared by the block sockets: families, hook reasons and hook types,
// deferred socket options, the exception class and the constants every
// socket uses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "velmora/host/classes.h"
#include "velmora/host/exception.h"
#include "velmora/net/sockapi.h"

namespace velmora::net {

// Address texts and sizes of the block sockets.
inline constexpr const char* cAnyHost = "0.0.0.0";
inline constexpr const char* cAnyPort = "0";
inline constexpr const char* cLocalhost = "127.0.0.1";
inline constexpr const char* CRLF = "\r\n";
// Default send chunk, cap of WaitingData, and the buffer size the HTTP client
// asks for.
constexpr int32_t c64k = 65536;

// The address family a socket asks for.
enum TSocketFamily : uint8_t { SF_Any, SF_IP4, SF_IP6 };

// AF_UNSPEC, AF_INET or AF_INET6 for a TSocketFamily.
int32_t FamilyToAF(TSocketFamily f);

// What an OnStatus call reports; the value text of each is described at
// TBlockSocket::DoStatus.
enum THookSocketReason : uint8_t {
  HR_ResolvingBegin,  // host + ":" + port, as passed
  HR_ResolvingEnd,    // resolved address + ":" + port number
  HR_SocketCreate,    // "IPv4" or "IPv6"
  HR_SocketClose,     // empty
  HR_Bind,            // host + ":" + port, as passed
  HR_Connect,         // host + ":" + port, as passed
  HR_CanRead,         // empty
  HR_CanWrite,        // empty
  HR_Listen,          // empty
  HR_Accept,          // empty
  HR_ReadCount,       // byte count
  HR_WriteCount,      // byte count
  HR_Wait,            // milliseconds the bandwidth limiter sleeps
  HR_Error            // code + "," + text
};

// The name of a reason ("HR_Connect"), for traces.
const char* HookSocketReasonName(THookSocketReason reason);

// Hooks.  Each is called only when set, always with the socket as Sender.
using THookSocketStatus =
    std::function<void(host::TObject* Sender, THookSocketReason Reason, const std::string& Value)>;
// May change or shorten the received bytes; growing them is cut back.
using THookDataFilter = std::function<void(host::TObject* Sender, std::string& Value)>;
using THookCreateSocket = std::function<void(host::TObject* Sender)>;
// Sees every buffer sent (Writing true) or received; the buffer is valid
// during the call only.
using THookMonitor =
    std::function<void(host::TObject* Sender, bool Writing, const void* Buffer, int32_t Len)>;
using THookHeartbeat = std::function<void(host::TObject* Sender)>;
using THookAfterConnect = std::function<void(host::TObject* Sender)>;
using THookVerifyCert = std::function<bool(host::TObject* Sender)>;
// Not a hook of the classic socket: every step of a proxy negotiation
// (SOCKS, HTTP tunnel) as "<protocol>: <from> -> <to>", for traces.
using THookProtocolStep = std::function<void(host::TObject* Sender, const std::string& Step)>;

// Socket options that wait for the handle to exist.
enum TSockOptionType : uint8_t {
  SOT_Linger,
  SOT_RecvBuff,
  SOT_SendBuff,
  SOT_NonBlock,
  SOT_RecvTimeout,
  SOT_SendTimeout,
  SOT_Reuse,
  SOT_TTL,
  SOT_Broadcast,
  SOT_MulticastTTL,
  SOT_MulticastLoop
};

// One deferred option; the socket that holds it owns it.
struct TSockOption {
  TSockOptionType Option;
  bool Enabled;
  int32_t Value;
};

// A socket failure raised when the socket's RaiseExcept is set.  The message
// is "TCP/IP Socket error <code>: <text>".
class ESocketError : public host::Exception {
 public:
  ESocketError(int32_t code, const std::string& text);
  // A failure outside any socket (the unit start-up): `message` is the
  // message and the ErrorMessage, the code is `code`.
  static ESocketError WithMessage(int32_t code, const std::string& message);

  std::string ClassName() const override { return "ESocketError"; }
  int32_t ErrorCode() const { return error_code_; }
  const std::string& ErrorMessage() const { return error_message_; }

 private:
  ESocketError(int32_t code, const std::string& text, const std::string& message);
  int32_t error_code_;
  std::string error_message_;
};

}  // namespace velmora::net
