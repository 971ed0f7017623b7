// Socket error numbering.
//
// The whole network client reports failures in one numbering, 10004..11004
// (the numbers of the classic socket library), on every platform.  The system's
// errno values and the resolver's EAI_* codes are mapped here, once, when an
// entry point fails; the mapped code is kept per thread for WSAGetLastError,
// the raw errno beside it for diagnostics.
//
// errno -> code:
//   EINTR 10004, EBADF 10009, EACCES/EPERM 10013, EFAULT 10014, EINVAL 10022,
//   EMFILE/ENFILE 10024, EWOULDBLOCK/EAGAIN 10035, EINPROGRESS 10036,
//   EALREADY 10037, ENOTSOCK 10038, EDESTADDRREQ 10039, EMSGSIZE 10040,
//   EPROTOTYPE 10041, ENOPROTOOPT 10042, EPROTONOSUPPORT 10043,
//   ESOCKTNOSUPPORT 10044, EOPNOTSUPP 10045, EPFNOSUPPORT 10046,
//   EAFNOSUPPORT 10047, EADDRINUSE 10048, EADDRNOTAVAIL 10049, ENETDOWN 10050,
//   ENETUNREACH 10051, ENETRESET 10052, ECONNABORTED 10053,
//   ECONNRESET/EPIPE 10054, ENOBUFS/ENOMEM 10055, EISCONN 10056,
//   ENOTCONN 10057, ESHUTDOWN 10058, ETOOMANYREFS 10059, ETIMEDOUT 10060,
//   ECONNREFUSED 10061, ELOOP 10062, ENAMETOOLONG 10063, EHOSTDOWN 10064,
//   EHOSTUNREACH 10065, ENOTEMPTY 10066, EUSERS 10068, EDQUOT 10069,
//   ESTALE 10070, EREMOTE 10071; 0 -> 0; any other errno -> 10107 (system call
//   failure; the errno stays available through LastSystemError).
// EAI_* -> code:
//   EAI_NONAME 11001, EAI_AGAIN 11002, EAI_FAIL 11003,
//   EAI_NODATA/EAI_ADDRFAMILY 11004, EAI_SERVICE 10109 (type not found),
//   EAI_FAMILY 10047, EAI_SOCKTYPE 10044, EAI_BADFLAGS 10022,
//   EAI_MEMORY 10055, EAI_OVERFLOW 10014, EAI_SYSTEM the mapped errno;
//   0 -> 0; any other code 11003.
// h_errno (classic look-ups) -> code:
//   HOST_NOT_FOUND 11001, TRY_AGAIN 11002, NO_RECOVERY 11003, NO_DATA 11004.
#pragma once

#include <cstdint>

namespace velmora::net {

constexpr int32_t WSAEINTR = 10004;
constexpr int32_t WSAEBADF = 10009;
constexpr int32_t WSAEACCES = 10013;
constexpr int32_t WSAEFAULT = 10014;
constexpr int32_t WSAEINVAL = 10022;
constexpr int32_t WSAEMFILE = 10024;
constexpr int32_t WSAEWOULDBLOCK = 10035;
constexpr int32_t WSAEINPROGRESS = 10036;
constexpr int32_t WSAEALREADY = 10037;
constexpr int32_t WSAENOTSOCK = 10038;
constexpr int32_t WSAEDESTADDRREQ = 10039;
constexpr int32_t WSAEMSGSIZE = 10040;
constexpr int32_t WSAEPROTOTYPE = 10041;
constexpr int32_t WSAENOPROTOOPT = 10042;
constexpr int32_t WSAEPROTONOSUPPORT = 10043;
constexpr int32_t WSAESOCKTNOSUPPORT = 10044;
constexpr int32_t WSAEOPNOTSUPP = 10045;
constexpr int32_t WSAEPFNOSUPPORT = 10046;
constexpr int32_t WSAEAFNOSUPPORT = 10047;
constexpr int32_t WSAEADDRINUSE = 10048;
constexpr int32_t WSAEADDRNOTAVAIL = 10049;
constexpr int32_t WSAENETDOWN = 10050;
constexpr int32_t WSAENETUNREACH = 10051;
constexpr int32_t WSAENETRESET = 10052;
constexpr int32_t WSAECONNABORTED = 10053;
constexpr int32_t WSAECONNRESET = 10054;
constexpr int32_t WSAENOBUFS = 10055;
constexpr int32_t WSAEISCONN = 10056;
constexpr int32_t WSAENOTCONN = 10057;
constexpr int32_t WSAESHUTDOWN = 10058;
constexpr int32_t WSAETOOMANYREFS = 10059;
constexpr int32_t WSAETIMEDOUT = 10060;
constexpr int32_t WSAECONNREFUSED = 10061;
constexpr int32_t WSAELOOP = 10062;
constexpr int32_t WSAENAMETOOLONG = 10063;
constexpr int32_t WSAEHOSTDOWN = 10064;
constexpr int32_t WSAEHOSTUNREACH = 10065;
constexpr int32_t WSAENOTEMPTY = 10066;
constexpr int32_t WSAEPROCLIM = 10067;
constexpr int32_t WSAEUSERS = 10068;
constexpr int32_t WSAEDQUOT = 10069;
constexpr int32_t WSAESTALE = 10070;
constexpr int32_t WSAEREMOTE = 10071;
constexpr int32_t WSASYSNOTREADY = 10091;
constexpr int32_t WSAVERNOTSUPPORTED = 10092;
constexpr int32_t WSANOTINITIALISED = 10093;
constexpr int32_t WSAEDISCON = 10101;
constexpr int32_t WSASYSCALLFAILURE = 10107;
constexpr int32_t WSATYPE_NOT_FOUND = 10109;
constexpr int32_t WSAHOST_NOT_FOUND = 11001;
constexpr int32_t WSATRY_AGAIN = 11002;
constexpr int32_t WSANO_RECOVERY = 11003;
constexpr int32_t WSANO_DATA = 11004;

// The code for an errno value (table above).
int32_t SocketErrorFromErrno(int err);
// The code for a getaddrinfo/getnameinfo result; `err` is the errno of the
// call, used for EAI_SYSTEM.
int32_t SocketErrorFromGai(int eai, int err);
// The code for an h_errno value of the classic host look-ups.
int32_t SocketErrorFromHErrno(int herr);

// The calling thread's last socket error (what WSAGetLastError returns).
int32_t LastSocketError();
// Sets the calling thread's last socket error; the system errno beside it
// becomes 0.
void WSASetLastError(int32_t code);
// Records a failed system call: the mapped code of `err` and `err` itself.
void SetLastErrorFromErrno(int err);
// The errno of the calling thread's last failed system call (0 when the
// last failure did not come from one).
int LastSystemError();

}  // namespace velmora::net
