// Error handling of the block sockets: the error texts, SockCheck and
// ExceptCheck, the exception class, and the names used in traces.
#include <string>

#include "velmora/net/blocksock_core.h"

namespace velmora::net {

namespace {

struct ErrorText {
  int32_t code;
  const char* text;
};

// The texts of the socket numbering.  Codes not listed read
// "Other Winsock error (<code>)".
constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on nonsocket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for Socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket not supported"},
    {10045, "Operation not supported on Socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No Buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after Socket shutdown"},
    {10059, "Too many references:can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name is too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory is not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disk quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unusable"},
    {10092, "Winsock DLL cannot support this application"},
    {10093, "Winsock not initialized"},
    {10101, "Disconnect"},
    {11001, "Host not found"},
    {11002, "Non authoritative - host not found"},
    {11003, "Non recoverable error"},
    {11004, "Valid name, no data record of requested type"},
};

constexpr const char* kReasonNames[] = {
    "HR_ResolvingBegin", "HR_ResolvingEnd", "HR_SocketCreate", "HR_SocketClose", "HR_Bind",
    "HR_Connect",        "HR_CanRead",      "HR_CanWrite",     "HR_Listen",      "HR_Accept",
    "HR_ReadCount",      "HR_WriteCount",   "HR_Wait",         "HR_Error"};

std::string SocketErrorMessage(int32_t code, const std::string& text) {
  return "TCP/IP Socket error " + std::to_string(code) + ": " + text;
}

}  // namespace

int32_t FamilyToAF(TSocketFamily f) {
  switch (f) {
    case SF_IP4:
      return AF_INET;
    case SF_IP6:
      return AF_INET6;
    default:
      return AF_UNSPEC;
  }
}

const char* HookSocketReasonName(THookSocketReason reason) {
  auto i = static_cast<size_t>(reason);
  return i < std::size(kReasonNames) ? kReasonNames[i] : "HR_Unknown";
}

ESocketError::ESocketError(int32_t code, const std::string& text)
    : ESocketError(code, text, SocketErrorMessage(code, text)) {}

ESocketError::ESocketError(int32_t code, const std::string& text, const std::string& message)
    : host::Exception(message), error_code_(code), error_message_(text) {}

ESocketError ESocketError::WithMessage(int32_t code, const std::string& message) {
  return ESocketError(code, message, message);
}

std::string TBlockSocket::GetErrorDesc(int32_t ErrorCode) {
  if (ErrorCode == 0) return "";
  for (const ErrorText& e : kErrorTexts)
    if (e.code == ErrorCode) return e.text;
  return "Other Winsock error (" + std::to_string(ErrorCode) + ")";
}

std::string TBlockSocket::GetErrorDescEx() {
  return GetErrorDesc(last_error_);
}

void TBlockSocket::ResetLastError() {
  last_error_ = 0;
  last_error_text_.clear();
}

int32_t TBlockSocket::SockCheck(int32_t SockResult) {
  ResetLastError();
  if (SockResult == SOCKET_ERROR) {
    last_error_ = WSAGetLastError();
    last_error_text_ = GetErrorDescEx();
  }
  return last_error_;
}

void TBlockSocket::ExceptCheck() {
  // No error has no text; skipping the look-up keeps the per-line cost of
  // the readers low.
  if (last_error_ == 0) {
    last_error_text_.clear();
    return;
  }
  last_error_text_ = GetErrorDescEx();
  if (last_error_ == 0 || last_error_ == WSAEWOULDBLOCK || last_error_ == WSAEINPROGRESS) return;
  DoStatus(HR_Error, std::to_string(last_error_) + "," + last_error_text_);
  if (raise_except_) throw ESocketError(last_error_, last_error_text_);
}

}  // namespace velmora::net
