// The bound entry points of the socket interface: POSIX calls that report
// failures in the socket numbering, the table variables that point at them,
// loading and unloading, select sets and the IPv6 address helpers.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "velmora/net/sockapi.h"

namespace velmora::net {

namespace {

// A failed call: record its errno in the socket numbering and return -1.
int32_t Fail() {
  SetLastErrorFromErrno(errno);
  return SOCKET_ERROR;
}

int32_t Checked(int r) {
  return r < 0 ? Fail() : r;
}

// --- Windows-only entries: succeed, or map to the POSIX counterpart.

int32_t ImplWSAStartup(uint16_t version, TWSAData* data) {
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "Velmora POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xFFFF;
    data->iMaxUdpDg = 0xFFFF;
  }
  return 0;
}

int32_t ImplWSACleanup() {
  return 0;
}

int32_t ImplWSAGetLastError() {
  return LastSocketError();
}

int32_t ImplWSAFDIsSet(TSocket s, TFDSet* set) {
  if (!set) return 0;
  uint32_t n = set->fd_count < FD_SETSIZE_VELMORA ? set->fd_count : FD_SETSIZE_VELMORA;
  for (uint32_t i = 0; i < n; ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

int32_t ImplIoctlSocket(TSocket s, uint32_t cmd, uint32_t* arg) {
  int value = arg ? static_cast<int>(*arg) : 0;
  if (cmd != FIONREAD && cmd != FIONBIO) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  if (::ioctl(s, cmd, &value) < 0) return Fail();
  if (arg) *arg = static_cast<uint32_t>(value);
  return 0;
}

int32_t ImplWSAIoctl(TSocket s, uint32_t code, void* in, uint32_t in_len, void* out,
                     uint32_t out_len, uint32_t* returned, void*, void*) {
  if (returned) *returned = 0;
  if (code == FIONBIO && in && in_len >= 4) {
    uint32_t v;
    std::memcpy(&v, in, 4);
    return ImplIoctlSocket(s, FIONBIO, &v);
  }
  if (code == FIONREAD && out && out_len >= 4) {
    uint32_t v = 0;
    if (ImplIoctlSocket(s, FIONREAD, &v) != 0) return SOCKET_ERROR;
    std::memcpy(out, &v, 4);
    if (returned) *returned = 4;
    return 0;
  }
  WSASetLastError(WSAEOPNOTSUPP);
  return SOCKET_ERROR;
}

// --- Classic look-ups.  They are not reentrant; callers hold SockLibCS.

servent* ImplGetServByName(const char* name, const char* proto) {
  servent* r = ::getservbyname(name, proto);
  WSASetLastError(r ? 0 : WSATYPE_NOT_FOUND);
  return r;
}

servent* ImplGetServByPort(int32_t port, const char* proto) {
  servent* r = ::getservbyport(port, proto);
  WSASetLastError(r ? 0 : WSATYPE_NOT_FOUND);
  return r;
}

protoent* ImplGetProtoByName(const char* name) {
  return ::getprotobyname(name);
}
protoent* ImplGetProtoByNumber(int32_t proto) {
  return ::getprotobynumber(proto);
}

// A successful look-up clears the thread's error, so that the caller may read
// WSAGetLastError after either outcome.
hostent* ImplGetHostByName(const char* name) {
  hostent* r = ::gethostbyname(name);
  WSASetLastError(r ? 0 : SocketErrorFromHErrno(h_errno));
  return r;
}

hostent* ImplGetHostByAddr(const void* addr, int32_t len, int32_t type) {
  hostent* r = ::gethostbyaddr(addr, static_cast<socklen_t>(len), type);
  WSASetLastError(r ? 0 : SocketErrorFromHErrno(h_errno));
  return r;
}

int32_t ImplGetHostName(char* name, int32_t len) {
  if (len < 0) len = 0;
  return Checked(::gethostname(name, static_cast<size_t>(len)));
}

// --- Sockets.

int32_t ImplShutdown(TSocket s, int32_t how) {
  return Checked(::shutdown(s, how));
}

int32_t ImplSetSockOpt(TSocket s, int32_t level, int32_t optname, const void* optval,
                       int32_t optlen) {
  return Checked(::setsockopt(s, level, optname, optval, static_cast<socklen_t>(optlen)));
}

int32_t ImplGetSockOpt(TSocket s, int32_t level, int32_t optname, void* optval, int32_t* optlen) {
  socklen_t len = optlen ? static_cast<socklen_t>(*optlen) : 0;
  int r = ::getsockopt(s, level, optname, optval, &len);
  if (optlen) *optlen = static_cast<int32_t>(len);
  return Checked(r);
}

// Sends never raise SIGPIPE: a closed peer is reported as 10054.  A signal
// that interrupts a call before any byte moved restarts it.
int32_t ImplSendTo(TSocket s, const void* buf, int32_t len, int32_t flags, const sockaddr* to,
                   int32_t tolen) {
  ssize_t r;
  do {
    r = ::sendto(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags | MSG_NOSIGNAL, to,
                 static_cast<socklen_t>(tolen));
  } while (r < 0 && errno == EINTR);
  return r < 0 ? Fail() : static_cast<int32_t>(r);
}

int32_t ImplSend(TSocket s, const void* buf, int32_t len, int32_t flags) {
  ssize_t r;
  do {
    r = ::send(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags | MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? Fail() : static_cast<int32_t>(r);
}

int32_t ImplRecv(TSocket s, void* buf, int32_t len, int32_t flags) {
  ssize_t r;
  do {
    r = ::recv(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? Fail() : static_cast<int32_t>(r);
}

int32_t ImplRecvFrom(TSocket s, void* buf, int32_t len, int32_t flags, sockaddr* from,
                     int32_t* fromlen) {
  socklen_t flen = fromlen ? static_cast<socklen_t>(*fromlen) : 0;
  ssize_t r;
  do {
    r = ::recvfrom(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags, from,
                   from ? &flen : nullptr);
  } while (r < 0 && errno == EINTR);
  if (fromlen) *fromlen = static_cast<int32_t>(flen);
  return r < 0 ? Fail() : static_cast<int32_t>(r);
}

uint16_t ImplNtohs(uint16_t v) {
  return ::ntohs(v);
}
uint32_t ImplNtohl(uint32_t v) {
  return ::ntohl(v);
}
uint16_t ImplHtons(uint16_t v) {
  return ::htons(v);
}
uint32_t ImplHtonl(uint32_t v) {
  return ::htonl(v);
}

int32_t ImplListen(TSocket s, int32_t backlog) {
  return Checked(::listen(s, backlog));
}

char* ImplInetNtoa(in_addr a) {
  return ::inet_ntoa(a);
}

uint32_t ImplInetAddr(const char* cp) {
  return ::inet_addr(cp);
}

int32_t ImplGetSockName(TSocket s, sockaddr* name, int32_t* namelen) {
  socklen_t len = namelen ? static_cast<socklen_t>(*namelen) : 0;
  int r = ::getsockname(s, name, &len);
  if (namelen) *namelen = static_cast<int32_t>(len);
  return Checked(r);
}

int32_t ImplGetPeerName(TSocket s, sockaddr* name, int32_t* namelen) {
  socklen_t len = namelen ? static_cast<socklen_t>(*namelen) : 0;
  int r = ::getpeername(s, name, &len);
  if (namelen) *namelen = static_cast<int32_t>(len);
  return Checked(r);
}

// A blocking connect interrupted by a signal goes on in the background; wait
// for it to finish and report its outcome instead of failing with 10004.
int32_t ImplConnect(TSocket s, const sockaddr* name, int32_t namelen) {
  if (::connect(s, name, static_cast<socklen_t>(namelen)) == 0) return 0;
  if (errno != EINTR) return Fail();
  for (;;) {
    pollfd p{s, POLLOUT, 0};
    int r = ::poll(&p, 1, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Fail();
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return Fail();
    if (err == 0) return 0;
    SetLastErrorFromErrno(err);
    return SOCKET_ERROR;
  }
}

int32_t ImplCloseSocket(TSocket s) {
  return Checked(::close(s));
}

int32_t ImplBind(TSocket s, const sockaddr* addr, int32_t namelen) {
  return Checked(::bind(s, addr, static_cast<socklen_t>(namelen)));
}

TSocket ImplAccept(TSocket s, sockaddr* addr, int32_t* addrlen) {
  socklen_t len = addrlen ? static_cast<socklen_t>(*addrlen) : 0;
  int r;
  do {
    r = ::accept4(s, addr, addr ? &len : nullptr, SOCK_CLOEXEC);
  } while (r < 0 && errno == EINTR);
  if (addrlen) *addrlen = static_cast<int32_t>(len);
  return r < 0 ? Fail() : r;
}

// Handles are not inherited by programs the process starts.
TSocket ImplSocket(int32_t af, int32_t type, int32_t protocol) {
  return Checked(::socket(af, type | SOCK_CLOEXEC, protocol));
}

// select over TFDSet, waiting with poll(): any descriptor value works.  Like
// the classic call, each set keeps only its ready sockets and the result is
// the number of ready entries over all three sets.
int32_t ImplSelect(int32_t, TFDSet* readfds, TFDSet* writefds, TFDSet* exceptfds,
                   const timeval* timeout) {
  TFDSet* sets[3] = {readfds, writefds, exceptfds};
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  const short ready[3] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};
  std::vector<pollfd> fds;
  std::vector<int> where;  // the set of each pollfd
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    uint32_t n = sets[k]->fd_count < FD_SETSIZE_VELMORA ? sets[k]->fd_count : FD_SETSIZE_VELMORA;
    for (uint32_t i = 0; i < n; ++i) {
      fds.push_back(pollfd{sets[k]->fd_array[i], events[k], 0});
      where.push_back(k);
    }
  }
  int wait_ms = -1;
  if (timeout) {
    int64_t ms = static_cast<int64_t>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
    wait_ms = ms < 0 ? 0 : (ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms));
  }
  int r;
  for (;;) {
    r = ::poll(fds.data(), fds.size(), wait_ms);
    if (r >= 0 || errno != EINTR) break;
  }
  if (r < 0) return Fail();
  for (const pollfd& p : fds)
    if (p.revents & POLLNVAL) {
      WSASetLastError(WSAENOTSOCK);
      return SOCKET_ERROR;
    }
  TFDSet out[3];
  for (auto& o : out) o.fd_count = 0;
  int32_t count = 0;
  for (size_t j = 0; j < fds.size(); ++j) {
    int k = where[j];
    if (fds[j].revents & ready[k]) {
      out[k].fd_array[out[k].fd_count++] = fds[j].fd;
      ++count;
    }
  }
  for (int k = 0; k < 3; ++k)
    if (sets[k]) *sets[k] = out[k];
  return count;
}

int32_t ImplGetAddrInfo(const char* node, const char* service, const addrinfo* hints,
                        addrinfo** res) {
  int r = ::getaddrinfo(node, service, hints, res);
  if (r == 0) return 0;
  int32_t code = SocketErrorFromGai(r, errno);
  WSASetLastError(code);
  if (res) *res = nullptr;
  return code;
}

void ImplFreeAddrInfo(addrinfo* ai) {
  if (ai) ::freeaddrinfo(ai);
}

int32_t ImplGetNameInfo(const sockaddr* addr, int32_t namelen, char* host, uint32_t hostlen,
                        char* serv, uint32_t servlen, int32_t flags) {
  int r = ::getnameinfo(addr, static_cast<socklen_t>(namelen), host, host ? hostlen : 0, serv,
                        serv ? servlen : 0, flags);
  if (r == 0) return 0;
  int32_t code = SocketErrorFromGai(r, errno);
  WSASetLastError(code);
  return code;
}

// Binds every entry of the table, in table order.
void BindTable() {
  WSAStartup = ImplWSAStartup;
  WSACleanup = ImplWSACleanup;
  WSAGetLastError = ImplWSAGetLastError;
  GetServByName = ImplGetServByName;
  GetServByPort = ImplGetServByPort;
  GetProtoByName = ImplGetProtoByName;
  GetProtoByNumber = ImplGetProtoByNumber;
  GetHostByName = ImplGetHostByName;
  GetHostByAddr = ImplGetHostByAddr;
  ssGetHostName = ImplGetHostName;
  Shutdown = ImplShutdown;
  SetSockOpt = ImplSetSockOpt;
  GetSockOpt = ImplGetSockOpt;
  ssSendTo = ImplSendTo;
  ssSend = ImplSend;
  ssRecv = ImplRecv;
  ssRecvFrom = ImplRecvFrom;
  ntohs = ImplNtohs;
  ntohl = ImplNtohl;
  Listen = ImplListen;
  IoctlSocket = ImplIoctlSocket;
  Inet_ntoa = ImplInetNtoa;
  Inet_addr = ImplInetAddr;
  htons = ImplHtons;
  htonl = ImplHtonl;
  ssGetSockName = ImplGetSockName;
  ssGetPeerName = ImplGetPeerName;
  ssConnect = ImplConnect;
  CloseSocket = ImplCloseSocket;
  ssBind = ImplBind;
  ssAccept = ImplAccept;
  Socket = ImplSocket;
  Select = ImplSelect;
  GetAddrInfo = ImplGetAddrInfo;
  FreeAddrInfo = ImplFreeAddrInfo;
  GetNameInfo = ImplGetNameInfo;
  __WSAFDIsSet = ImplWSAFDIsSet;
  WSAIoctl = ImplWSAIoctl;
}

bool IsBuiltInStack(const std::string& name) {
  return name.empty() || name == DLLStackName || name == "libc.so.6" || name == "libc";
}

}  // namespace

// The table, bound from program start (constant initialisation, so it is
// valid before any static constructor runs).
TWSAStartup WSAStartup = ImplWSAStartup;
TWSACleanup WSACleanup = ImplWSACleanup;
TWSAGetLastError WSAGetLastError = ImplWSAGetLastError;
TGetServByName GetServByName = ImplGetServByName;
TGetServByPort GetServByPort = ImplGetServByPort;
TGetProtoByName GetProtoByName = ImplGetProtoByName;
TGetProtoByNumber GetProtoByNumber = ImplGetProtoByNumber;
TGetHostByName GetHostByName = ImplGetHostByName;
TGetHostByAddr GetHostByAddr = ImplGetHostByAddr;
TGetHostName ssGetHostName = ImplGetHostName;
TShutdown Shutdown = ImplShutdown;
TSetSockOpt SetSockOpt = ImplSetSockOpt;
TGetSockOpt GetSockOpt = ImplGetSockOpt;
TSendTo ssSendTo = ImplSendTo;
TSend ssSend = ImplSend;
TRecv ssRecv = ImplRecv;
TRecvFrom ssRecvFrom = ImplRecvFrom;
Tntohs ntohs = ImplNtohs;
Tntohl ntohl = ImplNtohl;
TListen Listen = ImplListen;
TIoctlSocket IoctlSocket = ImplIoctlSocket;
TInet_ntoa Inet_ntoa = ImplInetNtoa;
TInet_addr Inet_addr = ImplInetAddr;
Thtons htons = ImplHtons;
Thtonl htonl = ImplHtonl;
TGetSockName ssGetSockName = ImplGetSockName;
TGetPeerName ssGetPeerName = ImplGetPeerName;
TConnect ssConnect = ImplConnect;
TCloseSocket CloseSocket = ImplCloseSocket;
TBind ssBind = ImplBind;
TAccept ssAccept = ImplAccept;
TSocketProc Socket = ImplSocket;
TSelect Select = ImplSelect;
TGetAddrInfo GetAddrInfo = ImplGetAddrInfo;
TFreeAddrInfo FreeAddrInfo = ImplFreeAddrInfo;
TGetNameInfo GetNameInfo = ImplGetNameInfo;
T__WSAFDIsSet __WSAFDIsSet = ImplWSAFDIsSet;
TWSAIoctl WSAIoctl = ImplWSAIoctl;

std::recursive_mutex SockLibCS;
int32_t SocketLibRefCount = 0;
uintptr_t SocketLibHandle = 0;
uintptr_t Ipv6AddonLibHandle = 0;
bool SockEnhancedApi = true;
bool SockWship6Api = false;

TInAddr6 in6addr_any = {};
TInAddr6 in6addr_loopback = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};

bool InitSocketInterface(const std::string& stack) {
  std::lock_guard<std::recursive_mutex> lock(SockLibCS);
  if (SocketLibRefCount > 0) {
    ++SocketLibRefCount;
    return true;
  }
  if (!IsBuiltInStack(stack)) return false;
  SockEnhancedApi = false;
  SockWship6Api = false;
  BindTable();
  SocketLibHandle = 1;
  Ipv6AddonLibHandle = 0;
  SockEnhancedApi = GetAddrInfo != nullptr && FreeAddrInfo != nullptr && GetNameInfo != nullptr;
  ++SocketLibRefCount;
  return true;
}

bool DestroySocketInterface() {
  std::lock_guard<std::recursive_mutex> lock(SockLibCS);
  if (SocketLibRefCount > 0) --SocketLibRefCount;
  if (SocketLibRefCount > 0) return true;
  SocketLibHandle = 0;
  Ipv6AddonLibHandle = 0;
  return true;
}

// --- Select sets.

void FD_ZERO(TFDSet& fdset) {
  fdset.fd_count = 0;
}

void FD_SET(TSocket socket, TFDSet& fdset) {
  if (fdset.fd_count < FD_SETSIZE_VELMORA) fdset.fd_array[fdset.fd_count++] = socket;
}

void FD_CLR(TSocket socket, TFDSet& fdset) {
  uint32_t n = fdset.fd_count < FD_SETSIZE_VELMORA ? fdset.fd_count : FD_SETSIZE_VELMORA;
  for (uint32_t i = 0; i < n; ++i) {
    if (fdset.fd_array[i] != socket) continue;
    for (uint32_t j = i + 1; j < n; ++j) fdset.fd_array[j - 1] = fdset.fd_array[j];
    fdset.fd_count = n - 1;
    return;
  }
}

bool FD_ISSET(TSocket socket, TFDSet& fdset) {
  return __WSAFDIsSet(socket, &fdset) != 0;
}

// --- IPv6 address tests and setters.

bool IN6_IS_ADDR_UNSPECIFIED(const TInAddr6& a) {
  for (uint8_t b : a.u6_addr8)
    if (b != 0) return false;
  return true;
}

bool IN6_IS_ADDR_LOOPBACK(const TInAddr6& a) {
  for (int i = 0; i < 15; ++i)
    if (a.u6_addr8[i] != 0) return false;
  return a.u6_addr8[15] == 1;
}

bool IN6_IS_ADDR_LINKLOCAL(const TInAddr6& a) {
  return a.u6_addr8[0] == 0xFE && a.u6_addr8[1] == 0x80;
}

bool IN6_IS_ADDR_SITELOCAL(const TInAddr6& a) {
  return a.u6_addr8[0] == 0xFE && a.u6_addr8[1] == 0xC0;
}

bool IN6_IS_ADDR_MULTICAST(const TInAddr6& a) {
  return a.u6_addr8[0] == 0xFF;
}

bool IN6_ADDR_EQUAL(const TInAddr6& a, const TInAddr6& b) {
  return std::memcmp(a.u6_addr8, b.u6_addr8, 16) == 0;
}

void SET_IN6_IF_ADDR_ANY(TInAddr6& a) {
  std::memset(a.u6_addr8, 0, 16);
}

void SET_LOOPBACK_ADDR6(TInAddr6& a) {
  std::memset(a.u6_addr8, 0, 16);
  a.u6_addr8[15] = 1;
}

namespace unit_sockapi {

void Initialize() {
  std::lock_guard<std::recursive_mutex> lock(SockLibCS);
  SET_IN6_IF_ADDR_ANY(in6addr_any);
  SET_LOOPBACK_ADDR6(in6addr_loopback);
}

void Finalize() {}

}  // namespace unit_sockapi

}  // namespace velmora::net
