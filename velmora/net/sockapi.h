// The socket interface: the table of socket-library entry points, the socket
// address record `TVarSin`, name and service resolution, and the select sets
// and IPv6 address helpers that the rest of the network client builds on.
//
// Everything above this layer (the block sockets) reaches the operating
// system's sockets only through the variables and functions declared here.
//
// Binding.  The socket library is the C library's own BSD sockets, linked in
// statically: every entry-point variable is bound from program start, so a
// call made before `InitSocketInterface` is safe.  `InitSocketInterface`
// (re)binds the whole table and counts its users; a test may point an entry at
// a fake of its own and rebinds by a fresh Init after a full Destroy.
//
// Error numbering.  Every failing entry point leaves, for the calling thread,
// a code in the 10004..11004 numbering that `WSAGetLastError` returns; the
// system's own errno is kept beside it (`LastSystemError`).  The mapping is
// in net/sockapi_errors.h.
//
// Name clashes.  The C library defines FD_ZERO, FD_SET, FD_CLR, FD_ISSET, the
// IN6_IS_ADDR_* tests and htons/htonl/ntohs/ntohl as macros.  This header
// includes the system headers first and then removes those macros, so that
// the names below are this interface's own functions and variables; include
// it before any code that wants the C library's macro forms.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "velmora/host/string_list.h"
#include "velmora/net/sockapi_errors.h"

#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef IN6_IS_ADDR_UNSPECIFIED
#undef IN6_IS_ADDR_LOOPBACK
#undef IN6_IS_ADDR_LINKLOCAL
#undef IN6_IS_ADDR_SITELOCAL
#undef IN6_IS_ADDR_MULTICAST
#undef htons
#undef htonl
#undef ntohs
#undef ntohl

namespace velmora::net {

// ---------------------------------------------------------------------------
// Handles, families and constants

// A socket handle: the system's descriptor.  The invalid handle is all ones.
using TSocket = int32_t;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int32_t SOCKET_ERROR = -1;

// Family codes, socket types and protocol numbers are the system's own
// (AF_UNSPEC, AF_INET, SOCK_STREAM ...).  AF_INET6 is this platform's value
// (10 on Linux), not the 23 of other socket libraries; always use the name.

// The default library name that `InitSocketInterface` accepts for the
// built-in socket layer, and the add-on library name of the resolver.
inline constexpr const char* DLLStackName = "ws2_32.dll";
inline constexpr const char* DLLwship6 = "wship6.dll";

// Capacity of a TFDSet.
constexpr int FD_SETSIZE_VELMORA = 64;

// ---------------------------------------------------------------------------
// Address records

// A 16-byte IPv6 address in network byte order.
union TInAddr6 {
  uint8_t u6_addr8[16];
  uint16_t u6_addr16[8];
  uint32_t u6_addr32[4];
};
static_assert(sizeof(TInAddr6) == 16);

// The all-zero address and the loopback address ::1; filled at start-up (they
// are constant-initialised, so they are valid before it as well).
extern TInAddr6 in6addr_any;
extern TInAddr6 in6addr_loopback;

// A socket address for IPv4 or IPv6, 28 bytes, laid out as the system's
// sockaddr_in / sockaddr_in6 so that it is handed to the library as it is.
// The two views share the family and port fields:
//   bytes 0-1 family (host order), 2-3 port (network order),
//   IPv4: 4-7 address, 8-15 zero;
//   IPv6: 4-7 flow information, 8-23 address, 24-27 scope identifier.
union TVarSin {
  struct {
    uint16_t sin_family;
    uint16_t sin_port;
    in_addr sin_addr;
    uint8_t sin_zero[8];
  };
  struct {
    uint16_t sin6_family;
    uint16_t sin6_port;
    uint32_t sin6_flowinfo;
    TInAddr6 sin6_addr;
    uint32_t sin6_scope_id;
  };
  sockaddr_in AddrIn;
  sockaddr_in6 AddrIn6;
  uint8_t Bytes[28];

  sockaddr* sa() { return reinterpret_cast<sockaddr*>(this); }
  const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(this); }
};
static_assert(sizeof(TVarSin) == 28);

// A set of sockets for Select: a count, then up to 64 handles in order.
struct TFDSet {
  uint32_t fd_count;
  TSocket fd_array[FD_SETSIZE_VELMORA];
};

// The socket library's start-up record, kept for TBlockSocket::GetWsaData.
struct TWSAData {
  uint16_t wVersion;
  uint16_t wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  uint16_t iMaxSockets;
  uint16_t iMaxUdpDg;
  char* lpVendorInfo;
};

// ---------------------------------------------------------------------------
// The entry-point table, in table order.  Each variable is a plain function
// pointer; the bound implementations are the POSIX calls with the error
// numbering above.  `ssSend` and `ssSendTo` always pass MSG_NOSIGNAL, so a
// send to a closed peer reports 10054 instead of raising SIGPIPE.  `Select`
// waits with poll(), so descriptors of any value work.

using TWSAStartup = int32_t (*)(uint16_t wVersionRequired, TWSAData* WSData);
using TWSACleanup = int32_t (*)();
using TWSAGetLastError = int32_t (*)();
using TGetServByName = servent* (*)(const char* name, const char* proto);
using TGetServByPort = servent* (*)(int32_t port, const char* proto);
using TGetProtoByName = protoent* (*)(const char* name);
using TGetProtoByNumber = protoent* (*)(int32_t proto);
using TGetHostByName = hostent* (*)(const char* name);
using TGetHostByAddr = hostent* (*)(const void* addr, int32_t len, int32_t type);
using TGetHostName = int32_t (*)(char* name, int32_t len);
using TShutdown = int32_t (*)(TSocket s, int32_t how);
using TSetSockOpt = int32_t (*)(TSocket s, int32_t level, int32_t optname, const void* optval,
                                int32_t optlen);
using TGetSockOpt = int32_t (*)(TSocket s, int32_t level, int32_t optname, void* optval,
                                int32_t* optlen);
using TSendTo = int32_t (*)(TSocket s, const void* buf, int32_t len, int32_t flags,
                            const sockaddr* addrto, int32_t tolen);
using TSend = int32_t (*)(TSocket s, const void* buf, int32_t len, int32_t flags);
using TRecv = int32_t (*)(TSocket s, void* buf, int32_t len, int32_t flags);
using TRecvFrom = int32_t (*)(TSocket s, void* buf, int32_t len, int32_t flags, sockaddr* from,
                              int32_t* fromlen);
using Tntohs = uint16_t (*)(uint16_t netshort);
using Tntohl = uint32_t (*)(uint32_t netlong);
using TListen = int32_t (*)(TSocket s, int32_t backlog);
using TIoctlSocket = int32_t (*)(TSocket s, uint32_t cmd, uint32_t* arg);
using TInet_ntoa = char* (*)(in_addr inaddr);
using TInet_addr = uint32_t (*)(const char* cp);
using Thtons = uint16_t (*)(uint16_t hostshort);
using Thtonl = uint32_t (*)(uint32_t hostlong);
using TGetSockName = int32_t (*)(TSocket s, sockaddr* name, int32_t* namelen);
using TGetPeerName = int32_t (*)(TSocket s, sockaddr* name, int32_t* namelen);
using TConnect = int32_t (*)(TSocket s, const sockaddr* name, int32_t namelen);
using TCloseSocket = int32_t (*)(TSocket s);
using TBind = int32_t (*)(TSocket s, const sockaddr* addr, int32_t namelen);
using TAccept = TSocket (*)(TSocket s, sockaddr* addr, int32_t* addrlen);
using TSocketProc = TSocket (*)(int32_t af, int32_t type, int32_t protocol);
using TSelect = int32_t (*)(int32_t nfds, TFDSet* readfds, TFDSet* writefds, TFDSet* exceptfds,
                            const timeval* timeout);
// Returns 0 or the failure in the socket numbering (11001 host not found ...).
using TGetAddrInfo = int32_t (*)(const char* NodeName, const char* ServName, const addrinfo* Hints,
                                 addrinfo** Addrinfo);
using TFreeAddrInfo = void (*)(addrinfo* ai);
using TGetNameInfo = int32_t (*)(const sockaddr* addr, int32_t namelen, char* host,
                                 uint32_t hostlen, char* serv, uint32_t servlen, int32_t flags);
using T__WSAFDIsSet = int32_t (*)(TSocket s, TFDSet* set);
using TWSAIoctl = int32_t (*)(TSocket s, uint32_t dwIoControlCode, void* lpvInBuffer,
                              uint32_t cbInBuffer, void* lpvOutBuffer, uint32_t cbOutBuffer,
                              uint32_t* lpcbBytesReturned, void* lpOverlapped,
                              void* lpCompletionRoutine);

extern TWSAStartup WSAStartup;  // fills the record, always succeeds
extern TWSACleanup WSACleanup;  // does nothing, always succeeds
extern TWSAGetLastError WSAGetLastError;
extern TGetServByName GetServByName;
extern TGetServByPort GetServByPort;
extern TGetProtoByName GetProtoByName;
extern TGetProtoByNumber GetProtoByNumber;
extern TGetHostByName GetHostByName;
extern TGetHostByAddr GetHostByAddr;
extern TGetHostName ssGetHostName;
extern TShutdown Shutdown;
extern TSetSockOpt SetSockOpt;
extern TGetSockOpt GetSockOpt;
extern TSendTo ssSendTo;
extern TSend ssSend;
extern TRecv ssRecv;
extern TRecvFrom ssRecvFrom;
extern Tntohs ntohs;
extern Tntohl ntohl;
extern TListen Listen;
extern TIoctlSocket IoctlSocket;  // FIONREAD and FIONBIO
extern TInet_ntoa Inet_ntoa;
extern TInet_addr Inet_addr;  // INADDR_NONE (0xFFFFFFFF) on failure
extern Thtons htons;
extern Thtonl htonl;
extern TGetSockName ssGetSockName;
extern TGetPeerName ssGetPeerName;
extern TConnect ssConnect;
extern TCloseSocket CloseSocket;
extern TBind ssBind;
extern TAccept ssAccept;
extern TSocketProc Socket;
extern TSelect Select;  // keeps in each set only the ready sockets; returns their count
extern TGetAddrInfo GetAddrInfo;
extern TFreeAddrInfo FreeAddrInfo;
extern TGetNameInfo GetNameInfo;
extern T__WSAFDIsSet __WSAFDIsSet;
extern TWSAIoctl WSAIoctl;  // FIONBIO and FIONREAD; other codes fail with 10045

// ---------------------------------------------------------------------------
// Interface state (process-wide)

// Serialises loading and unloading and every call of the classic,
// non-reentrant look-ups (gethostbyname, gethostbyaddr, getservbyname,
// getprotobynumber), whose results live in static storage.
extern std::recursive_mutex SockLibCS;
// Successful InitSocketInterface calls not yet matched; never below 0.
extern int32_t SocketLibRefCount;
// Non-zero while the socket layer is "loaded" (1: the built-in layer).
extern uintptr_t SocketLibHandle;
// Always 0 here: the resolver is part of the C library.
extern uintptr_t Ipv6AddonLibHandle;
// The protocol-independent resolver (getaddrinfo, freeaddrinfo, getnameinfo)
// is bound.  True from program start; clear it to take the IPv4-only classic
// path (tests do).
extern bool SockEnhancedApi;
// The resolver came from the add-on library; never true here.
extern bool SockWship6Api;

// Loads (binds) the socket layer and counts the user.  The name may be empty,
// "ws2_32.dll" or a name of the C library ("libc.so.6", "libc"); any other
// name is a library that does not load: the result is false and nothing
// changes.  A further call while the layer is loaded only counts, and keeps
// SockEnhancedApi as it is.
bool InitSocketInterface(const std::string& stack);
// Uncounts a user, clamping at 0; at 0 the layer is marked unloaded (the
// entry points keep their values).  Always true.
bool DestroySocketInterface();

// ---------------------------------------------------------------------------
// Addresses and names

// True when the protocol-independent resolver serves `family`.
bool IsNewApi(int32_t family);
// 16 for AF_INET, 28 for AF_INET6, 0 for any other family.
int32_t SizeOfVarSin(const TVarSin& sin);
// Resolves host and port texts into `sin` (zeroed first).  With family
// AF_UNSPEC two passes run, IPv4 first when `PreferIP4`, else IPv6 first.
// "0.0.0.0" and "::0" give the wildcard address and "127.0.0.1" and "::1" the
// loopback address of the family asked for.  With SOCK_RAW the port is
// ignored.  Returns 0 or the resolver's error code (11001 ...).
int32_t SetVarSin(TVarSin& sin, const std::string& IP, const std::string& Port, int32_t Family,
                  int32_t SockProtocol, int32_t SockType, bool PreferIP4);
// The numeric address text of `sin`; empty on failure.
std::string GetSinIP(const TVarSin& sin);
// The port of `sin` in host order.
int32_t GetSinPort(const TVarSin& sin);
// Clears `IPList`, then adds every address `Name` resolves to as numeric text,
// in the resolver's order, keeping only IPv4 (IPv6) entries for family AF_INET
// (AF_INET6).  Never leaves the list empty: "0.0.0.0" when nothing resolved.
void ResolveNameToIP(const std::string& Name, int32_t Family, int32_t SockProtocol,
                     int32_t SockType, host::TStringList& IPList);
// The host name of an address text; the text itself when there is none.
std::string ResolveIPToName(const std::string& IP, int32_t Family, int32_t SockProtocol,
                            int32_t SockType);
// The port of a service name or a decimal text; 0 when it is neither.
uint16_t ResolvePort(const std::string& Port, int32_t Family, int32_t SockProtocol,
                     int32_t SockType);
// The local host's name.
std::string GetHostName();

// Thin wrappers that pass `sin` with its proper length; each returns the
// library call's result unchanged.
int32_t Bind(TSocket s, const TVarSin& addr);
int32_t Connect(TSocket s, const TVarSin& name);
TSocket Accept(TSocket s, TVarSin& addr);
int32_t GetSockName(TSocket s, TVarSin& name);
int32_t GetPeerName(TSocket s, TVarSin& name);
int32_t Send(TSocket s, const void* Buf, int32_t len, int32_t flags);
int32_t Recv(TSocket s, void* Buf, int32_t len, int32_t flags);
int32_t SendTo(TSocket s, const void* Buf, int32_t len, int32_t flags, const TVarSin& addrto);
int32_t RecvFrom(TSocket s, void* Buf, int32_t len, int32_t flags, TVarSin& from);

// ---------------------------------------------------------------------------
// Select sets (at most 64 sockets, in insertion order)

void FD_ZERO(TFDSet& fdset);
// Appends `socket` when fewer than 64 are held; no duplicate check.
void FD_SET(TSocket socket, TFDSet& fdset);
// Removes the first occurrence, keeping the order of the others.
void FD_CLR(TSocket socket, TFDSet& fdset);
bool FD_ISSET(TSocket socket, TFDSet& fdset);

// ---------------------------------------------------------------------------
// IPv6 address tests and setters

bool IN6_IS_ADDR_UNSPECIFIED(const TInAddr6& a);
bool IN6_IS_ADDR_LOOPBACK(const TInAddr6& a);
// fe80 exactly in the first two bytes (a whole-byte test, not a 10-bit prefix).
bool IN6_IS_ADDR_LINKLOCAL(const TInAddr6& a);
// fec0 exactly in the first two bytes.
bool IN6_IS_ADDR_SITELOCAL(const TInAddr6& a);
bool IN6_IS_ADDR_MULTICAST(const TInAddr6& a);
bool IN6_ADDR_EQUAL(const TInAddr6& a, const TInAddr6& b);
void SET_IN6_IF_ADDR_ANY(TInAddr6& a);
void SET_LOOPBACK_ADDR6(TInAddr6& a);

// Unit start-up and shut-down of the socket interface (idempotent).
namespace unit_sockapi {
void Initialize();
void Finalize();
}  // namespace unit_sockapi

}  // namespace velmora::net
