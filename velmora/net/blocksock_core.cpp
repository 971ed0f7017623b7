// TBlockSocket: life cycle of the handle (create, bind, connect, listen,
// accept, close), deferred options, names, waits, bandwidth limiting, hooks,
// and the unit start-up of the block sockets.
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

#include "velmora/net/blocksock.h"
#include "velmora/net/netip.h"
#include "velmora/net/netsleep.h"
#include "velmora/net/netutil_time.h"

namespace velmora::net {

// --- Unit start-up.

namespace {

std::mutex g_unit_mutex;
std::atomic<bool> g_unit_started{false};
TWSAData g_wsa_data{};

}  // namespace

namespace unit_blocksock {

void StartSocketLibrary(const std::string& stack) {
  std::lock_guard<std::mutex> lock(g_unit_mutex);
  if (g_unit_started.load()) return;
  if (!InitSocketInterface(stack))
    throw ESocketError::WithMessage(0, "Error loading Socket interface (ws2_32.dll)!");
  WSAStartup(0x0202, &g_wsa_data);
  g_unit_started.store(true);
}

void Initialize() {
  if (!g_unit_started.load()) StartSocketLibrary(DLLStackName);
}

void Finalize() {
  std::lock_guard<std::mutex> lock(g_unit_mutex);
  if (!g_unit_started.load()) return;
  WSACleanup();
  DestroySocketInterface();
  g_unit_started.store(false);
}

bool Initialized() {
  return g_unit_started.load();
}

}  // namespace unit_blocksock

TWSAData TBlockSocket::GetWsaData() {
  std::lock_guard<std::mutex> lock(g_unit_mutex);
  return g_wsa_data;
}

namespace {

// poll() on one handle, restarting after a signal with the time that is
// left.  Returns the poll result; -1 with the thread's socket error set on
// failure (10038 for a handle that is not open).
int32_t PollHandle(TSocket s, short events, int32_t timeout, short& revents) {
  revents = 0;
  if (s < 0) {
    WSASetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  uint32_t start = GetTick();
  int32_t left = timeout;
  for (;;) {
    pollfd p{s, events, 0};
    int r = ::poll(&p, 1, left < 0 ? -1 : left);
    if (r >= 0) {
      revents = p.revents;
      if (p.revents & POLLNVAL) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
      }
      return r;
    }
    if (errno != EINTR) {
      SetLastErrorFromErrno(errno);
      return SOCKET_ERROR;
    }
    if (timeout >= 0) {
      int64_t spent = TickDelta(start, GetTick());
      left = spent >= timeout ? 0 : static_cast<int32_t>(timeout - spent);
    }
  }
}

constexpr short kReadReady = POLLIN | POLLHUP | POLLERR;
constexpr short kWriteReady = POLLOUT | POLLHUP | POLLERR;

}  // namespace

// --- Construction.

TBlockSocket::TBlockSocket() {
  unit_blocksock::Initialize();
  FD_ZERO(fd_set_);
}

TBlockSocket::TBlockSocket(const std::string&) : TBlockSocket() {}

TBlockSocket::~TBlockSocket() {
  if (closed_by_descendant_) return;
  try {
    TBlockSocket::CloseSocket();
  } catch (...) {
    // A hook that throws while the object goes away must not end the process.
  }
}

void TBlockSocket::SetFamily(TSocketFamily Value) {
  family_ = Value;
  active_family_ = Value;
}

void TBlockSocket::SetSocket(TSocket Value) {
  bytes_received_ = 0;
  bytes_sent_ = 0;
  socket_ = Value;
  FD_ZERO(fd_set_);
  FD_SET(socket_, fd_set_);
  GetSins();
  uses_ipv6_ = remote_sin_.sin_family == AF_INET6;
}

// --- Addresses.

// The family to resolve for: with no handle and SF_Any, an address text
// decides (IPv4 or IPv6 text); otherwise Family.  Family is not changed.
void TBlockSocket::SetSin(TVarSin& Sin, const std::string& IP, const std::string& Port) {
  DoStatus(HR_ResolvingBegin, IP + ":" + Port);
  ResetLastError();
  TSocketFamily f = family_;
  if (socket_ == INVALID_SOCKET && family_ == SF_Any) {
    if (IsIP(IP))
      f = SF_IP4;
    else if (IsIP6(IP))
      f = SF_IP6;
  }
  last_error_ =
      SetVarSin(Sin, IP, Port, FamilyToAF(f), GetSocketProtocol(), GetSocketType(), prefer_ip4_);
  DoStatus(HR_ResolvingEnd, GetSinIP(Sin) + ":" + std::to_string(GetSinPort(Sin)));
}

void TBlockSocket::GetSinLocal() {
  GetSockName(socket_, local_sin_);
}
void TBlockSocket::GetSinRemote() {
  GetPeerName(socket_, remote_sin_);
}

void TBlockSocket::GetSins() {
  GetSinLocal();
  GetSinRemote();
}

std::string TBlockSocket::GetLocalSinIP() {
  return GetSinIP(local_sin_);
}
std::string TBlockSocket::GetRemoteSinIP() {
  return GetSinIP(remote_sin_);
}
int32_t TBlockSocket::GetLocalSinPort() {
  return GetSinPort(local_sin_);
}
int32_t TBlockSocket::GetRemoteSinPort() {
  return GetSinPort(remote_sin_);
}
int32_t TBlockSocket::GetSocketType() {
  return 0;
}
int32_t TBlockSocket::GetSocketProtocol() {
  return 0;
}

// --- The handle.

void TBlockSocket::InternalCreateSocket(const TVarSin& Sin) {
  stop_flag_.store(false);
  bytes_received_ = 0;
  bytes_sent_ = 0;
  ResetLastError();
  if (socket_ != INVALID_SOCKET) return;
  ClearBacklog();
  is_bound_ = false;
  uses_ipv6_ = Sin.sin_family == AF_INET6;
  socket_ = net::Socket(Sin.sin_family, GetSocketType(), GetSocketProtocol());
  if (socket_ == INVALID_SOCKET) last_error_ = WSAGetLastError();
  FD_ZERO(fd_set_);
  FD_SET(socket_, fd_set_);
  ExceptCheck();
  // Without a handle there is nothing to report or configure: pending
  // options stay pending for the next attempt.
  if (socket_ == INVALID_SOCKET) return;
  DoStatus(HR_SocketCreate, uses_ipv6_ ? "IPv6" : "IPv4");
  ProcessDelayedOptions();
  DoCreateSocket();
}

void TBlockSocket::CreateSocket() {
  if (family_ == SF_Any || socket_ != INVALID_SOCKET) return;
  TVarSin sin{};
  sin.sin_family = family_ == SF_IP6 ? AF_INET6 : AF_INET;
  InternalCreateSocket(sin);
}

void TBlockSocket::CreateSocketByName(const std::string& Value) {
  if (socket_ != INVALID_SOCKET) return;
  TVarSin sin;
  SetSin(sin, Value, cAnyPort);
  if (last_error_ == 0) InternalCreateSocket(sin);
}

void TBlockSocket::Bind(const std::string& IP, const std::string& Port) {
  ResetLastError();
  // Binding a fresh socket to any address and port is left to the connect.
  if (socket_ == INVALID_SOCKET && family_ == SF_Any && IP == cAnyHost && Port == cAnyPort) return;
  TVarSin sin;
  SetSin(sin, IP, Port);
  if (last_error_ == 0) {
    if (socket_ == INVALID_SOCKET) InternalCreateSocket(sin);
    if (socket_ != INVALID_SOCKET) {
      SockCheck(net::Bind(socket_, sin));
      GetSinLocal();
    }
    ClearBacklog();
    is_bound_ = true;
  }
  ExceptCheck();
  DoStatus(HR_Bind, IP + ":" + Port);
}

void TBlockSocket::Connect(const std::string& IP, const std::string& Port) {
  TVarSin sin;
  SetSin(sin, IP, Port);
  if (last_error_ == 0) {
    if (socket_ == INVALID_SOCKET) InternalCreateSocket(sin);
    if (socket_ != INVALID_SOCKET) {
      SockCheck(net::Connect(socket_, sin));
      if (last_error_ == 0) GetSins();
    }
  }
  ClearBacklog();
  saw_lone_cr_ = false;
  saw_lone_lf_ = false;
  ExceptCheck();
  DoStatus(HR_Connect, IP + ":" + Port);
}

void TBlockSocket::SetRemoteSin(const std::string& IP, const std::string& Port) {
  SetSin(remote_sin_, IP, Port);
}

void TBlockSocket::Listen() {
  SockCheck(net::Listen(socket_, INT32_MAX));
  GetSins();
  ExceptCheck();
  DoStatus(HR_Listen, "");
}

TSocket TBlockSocket::Accept() {
  TSocket result = net::Accept(socket_, remote_sin_);
  SockCheck(result);
  ExceptCheck();
  DoStatus(HR_Accept, "");
  return result;
}

void TBlockSocket::CloseSocket() {
  AbortSocket();
}

void TBlockSocket::AbortSocket() {
  if (socket_ != INVALID_SOCKET) net::CloseSocket(socket_);
  socket_ = INVALID_SOCKET;
  pending_options_.clear();
  family_ = active_family_;
  DoStatus(HR_SocketClose, "");
}

// --- Deferred options.

void TBlockSocket::DelayedOption(const TSockOption& Value) {
  if (socket_ == INVALID_SOCKET)
    pending_options_.push_back(Value);
  else
    SetDelayedOption(Value);
}

void TBlockSocket::ProcessDelayedOptions() {
  std::vector<TSockOption> options;
  options.swap(pending_options_);
  for (const TSockOption& o : options) SetDelayedOption(o);
}

// One option, with this platform's levels and option numbers; results are
// not checked (an option the system refuses is simply not in effect).
void TBlockSocket::SetDelayedOption(const TSockOption& Value) {
  int32_t v = Value.Value;
  int32_t on = Value.Enabled ? 1 : 0;
  const int32_t ip_level = uses_ipv6_ ? IPPROTO_IPV6 : IPPROTO_IP;
  switch (Value.Option) {
    case SOT_Linger: {
      linger li{on, Value.Value / 1000};
      SetSockOpt(socket_, SOL_SOCKET, SO_LINGER, &li, sizeof li);
      break;
    }
    case SOT_RecvBuff:
      SetSockOpt(socket_, SOL_SOCKET, SO_RCVBUF, &v, sizeof v);
      break;
    case SOT_SendBuff:
      SetSockOpt(socket_, SOL_SOCKET, SO_SNDBUF, &v, sizeof v);
      break;
    case SOT_NonBlock: {
      non_block_mode_ = Value.Enabled;
      uint32_t arg = Value.Enabled ? 1 : 0;
      IoctlSocket(socket_, FIONBIO, &arg);
      break;
    }
    case SOT_RecvTimeout:
    case SOT_SendTimeout: {
      timeval tv{Value.Value / 1000, (Value.Value % 1000) * 1000};
      SetSockOpt(socket_, SOL_SOCKET, Value.Option == SOT_RecvTimeout ? SO_RCVTIMEO : SO_SNDTIMEO,
                 &tv, sizeof tv);
      break;
    }
    case SOT_Reuse:
      SetSockOpt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      break;
    case SOT_TTL:
      SetSockOpt(socket_, ip_level, uses_ipv6_ ? IPV6_UNICAST_HOPS : IP_TTL, &v, sizeof v);
      break;
    case SOT_Broadcast:
      SetSockOpt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
      break;
    case SOT_MulticastTTL:
      SetSockOpt(socket_, ip_level, uses_ipv6_ ? IPV6_MULTICAST_HOPS : IP_MULTICAST_TTL, &v,
                 sizeof v);
      break;
    case SOT_MulticastLoop:
      SetSockOpt(socket_, ip_level, uses_ipv6_ ? IPV6_MULTICAST_LOOP : IP_MULTICAST_LOOP, &on,
                 sizeof on);
      break;
  }
}

void TBlockSocket::SetLinger(bool Enable, int32_t Linger) {
  DelayedOption({SOT_Linger, Enable, Linger});
}
void TBlockSocket::SetSizeRecvBuffer(int32_t Size) {
  DelayedOption({SOT_RecvBuff, false, Size});
}
void TBlockSocket::SetSizeSendBuffer(int32_t Size) {
  DelayedOption({SOT_SendBuff, false, Size});
}
void TBlockSocket::SetNonBlockMode(bool Value) {
  DelayedOption({SOT_NonBlock, Value, 0});
}
void TBlockSocket::SetTimeout(int32_t Timeout) {
  SetSendTimeout(Timeout);
  SetRecvTimeout(Timeout);
}
void TBlockSocket::SetSendTimeout(int32_t Timeout) {
  DelayedOption({SOT_SendTimeout, false, Timeout});
}
void TBlockSocket::SetRecvTimeout(int32_t Timeout) {
  DelayedOption({SOT_RecvTimeout, false, Timeout});
}
void TBlockSocket::EnableReuse(bool Value) {
  DelayedOption({SOT_Reuse, Value, 0});
}
void TBlockSocket::SetTTL(int32_t TTL) {
  DelayedOption({SOT_TTL, false, TTL});
}

int32_t TBlockSocket::GetSizeRecvBuffer() {
  int32_t value = 0;
  int32_t len = sizeof value;
  int32_t r = GetSockOpt(socket_, SOL_SOCKET, SO_RCVBUF, &value, &len);
  SockCheck(r);
  if (r != 0) {
    ExceptCheck();
    return 1024;
  }
  return value;
}

int32_t TBlockSocket::GetSizeSendBuffer() {
  int32_t value = 0;
  int32_t len = sizeof value;
  int32_t r = GetSockOpt(socket_, SOL_SOCKET, SO_SNDBUF, &value, &len);
  SockCheck(r);
  if (r != 0) {
    ExceptCheck();
    return 1024;
  }
  return value;
}

int32_t TBlockSocket::GetTTL() {
  int32_t value = 0;
  int32_t len = sizeof value;
  if (uses_ipv6_)
    GetSockOpt(socket_, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &value, &len);
  else
    GetSockOpt(socket_, IPPROTO_IP, IP_TTL, &value, &len);
  return value;
}

void TBlockSocket::SetBandwidth(int32_t Value) {
  max_send_bandwidth_ = Value;
  max_recv_bandwidth_ = Value;
}

// --- Names.

void TBlockSocket::ResolveNameToIP(const std::string& Name, host::TStringList& IPList) {
  IPList.Clear();
  net::ResolveNameToIP(Name, FamilyToAF(family_), GetSocketProtocol(), GetSocketType(), IPList);
  if (IPList.Count() == 0) IPList.Add(cAnyHost);
}

std::string TBlockSocket::ResolveName(const std::string& Name) {
  host::TStringList list;
  ResolveNameToIP(Name, list);
  return list[0];
}

uint16_t TBlockSocket::ResolvePort(const std::string& Port) {
  return net::ResolvePort(Port, FamilyToAF(family_), GetSocketProtocol(), GetSocketType());
}

std::string TBlockSocket::ResolveIPToName(std::string IP) {
  if (!IsIP(IP) && !IsIP6(IP)) IP = ResolveName(IP);
  return net::ResolveIPToName(IP, FamilyToAF(family_), GetSocketProtocol(), GetSocketType());
}

std::string TBlockSocket::LocalName() {
  std::string name = GetHostName();
  return name.empty() ? std::string(cLocalhost) : name;
}

// --- Waits.

bool TBlockSocket::InternalCanRead(int32_t Timeout) {
  short revents = 0;
  int32_t r = PollHandle(socket_, POLLIN, Timeout, revents);
  SockCheck(r);
  return last_error_ == 0 && r > 0 && (revents & kReadReady);
}

bool TBlockSocket::InternalCanWrite(int32_t Timeout) {
  short revents = 0;
  int32_t r = PollHandle(socket_, POLLOUT, Timeout, revents);
  SockCheck(r);
  return last_error_ == 0 && r > 0 && (revents & kWriteReady);
}

bool TBlockSocket::CanRead(int32_t Timeout) {
  int32_t rounds = 0;
  int32_t first = Timeout;
  if (heartbeat_rate_ != 0 && Timeout != -1) {
    rounds = Timeout / heartbeat_rate_;
    first = Timeout % heartbeat_rate_;
  }
  bool result = InternalCanRead(first);
  if (!result) {
    for (int32_t n = 0; n <= rounds; ++n) {
      DoHeartbeat();
      if (stop_flag_.exchange(false)) return false;
      result = InternalCanRead(heartbeat_rate_);
      if (result) break;
    }
  }
  ExceptCheck();
  if (result) DoStatus(HR_CanRead, "");
  return result;
}

bool TBlockSocket::CanReadEx(int32_t Timeout) {
  if (BacklogSize() > 0) return true;
  return CanRead(Timeout);
}

bool TBlockSocket::CanWrite(int32_t Timeout) {
  bool result = InternalCanWrite(Timeout);
  ExceptCheck();
  if (result) DoStatus(HR_CanWrite, "");
  return result;
}

bool TBlockSocket::GroupCanRead(const std::vector<host::TObject*>& Sockets, int32_t Timeout,
                                std::vector<TBlockSocket*>& CanReadList) {
  std::vector<pollfd> fds;
  std::vector<TBlockSocket*> members;
  for (host::TObject* o : Sockets) {
    if (auto* s = dynamic_cast<TBlockSocket*>(o)) {
      fds.push_back(pollfd{s->socket_, POLLIN, 0});
      members.push_back(s);
    }
  }
  uint32_t start = GetTick();
  int32_t left = Timeout;
  int r;
  for (;;) {
    r = ::poll(fds.data(), fds.size(), left < 0 ? -1 : left);
    if (r >= 0 || errno != EINTR) break;
    if (Timeout >= 0) {
      int64_t spent = TickDelta(start, GetTick());
      left = spent >= Timeout ? 0 : static_cast<int32_t>(Timeout - spent);
    }
  }
  if (r < 0) SetLastErrorFromErrno(errno);
  SockCheck(r < 0 ? SOCKET_ERROR : r);
  CanReadList.clear();
  bool result = last_error_ == 0 && r > 0;
  if (result)
    for (size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & kReadReady) CanReadList.push_back(members[i]);
  ExceptCheck();
  return result && !CanReadList.empty();
}

int32_t TBlockSocket::WaitingData() {
  uint32_t x = 0;
  if (IoctlSocket(socket_, FIONREAD, &x) != 0) return 0;
  return x > static_cast<uint32_t>(c64k) ? c64k : static_cast<int32_t>(x);
}

int32_t TBlockSocket::WaitingDataEx() {
  if (BacklogSize() > 0) return static_cast<int32_t>(BacklogSize());
  return WaitingData();
}

// --- Bandwidth, stop requests, hooks.

void TBlockSocket::LimitBandwidth(int32_t Length, int32_t Limit, uint32_t& ResumeTick) {
  if (stop_flag_.load() || Limit <= 0) return;
  uint32_t now = GetTick();
  // Compared as a signed distance so that the wrap of the tick counter does
  // not turn a past tick into a wait of weeks; 0 means "no piece yet".
  if (ResumeTick != 0 && static_cast<int32_t>(ResumeTick - now) > 0) {
    uint32_t x = ResumeTick - now;
    DoStatus(HR_Wait, std::to_string(x));
    Sleep(x % 250);
    for (uint32_t n = 0; n < x / 250; ++n) {
      if (stop_flag_.load()) break;
      Sleep(250);
    }
  }
  ResumeTick =
      GetTick() + static_cast<uint32_t>(std::trunc(static_cast<double>(Length) / Limit * 1000.0));
}

bool TBlockSocket::TestStopFlag() {
  DoHeartbeat();
  if (!stop_flag_.exchange(false)) return false;
  last_error_ = WSAECONNABORTED;
  ExceptCheck();
  return true;
}

void TBlockSocket::DoStatus(THookSocketReason Reason, const std::string& Value) {
  if (OnStatus) OnStatus(this, Reason, Value);
}

void TBlockSocket::DoReadFilter(void* Buffer, int32_t& Len) {
  if (!OnReadFilter || Len <= 0) return;
  std::string s(static_cast<const char*>(Buffer), static_cast<size_t>(Len));
  OnReadFilter(this, s);
  if (s.size() > static_cast<size_t>(Len)) s.resize(static_cast<size_t>(Len));
  std::memcpy(Buffer, s.data(), s.size());
  Len = static_cast<int32_t>(s.size());
}

void TBlockSocket::DoCreateSocket() {
  if (OnCreateSocket) OnCreateSocket(this);
}

void TBlockSocket::DoMonitor(bool Writing, const void* Buffer, int32_t Len) {
  if (OnMonitor) OnMonitor(this, Writing, Buffer, Len);
}

void TBlockSocket::DoHeartbeat() {
  if (OnHeartbeat && heartbeat_rate_ != 0) OnHeartbeat(this);
}

}  // namespace velmora::net
