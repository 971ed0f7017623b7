// Address records and name resolution: SetVarSin and the resolvers, each with
// the protocol-independent path (getaddrinfo/getnameinfo) and the IPv4-only
// classic path, chosen by IsNewApi; and the thin wrappers over TVarSin.
#include <cstdio>
#include <cstring>

#include "velmora/net/sockapi.h"

namespace velmora::net {

namespace {

constexpr uint32_t kHostBuffer = 1025;  // NI_MAXHOST
constexpr uint32_t kServBuffer = 32;
constexpr uint32_t kInAddrNone = 0xFFFFFFFFu;

// True for a non-empty text of decimal digits only.
bool IsDecimal(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The text read as a decimal number, 0 when it is not one.  Larger values
// wrap to 32 bits, as an integer conversion of the text would.
int32_t DecimalOrZero(const std::string& s) {
  if (!IsDecimal(s)) return 0;
  uint32_t v = 0;
  for (char c : s) v = v * 10 + static_cast<uint32_t>(c - '0');
  return static_cast<int32_t>(v);
}

// Frees a getaddrinfo result list on every path out of a scope.
class AddrInfoList {
 public:
  AddrInfoList() = default;
  ~AddrInfoList() {
    if (list_) FreeAddrInfo(list_);
  }
  AddrInfoList(const AddrInfoList&) = delete;
  AddrInfoList& operator=(const AddrInfoList&) = delete;
  addrinfo** out() { return &list_; }
  const addrinfo* get() const { return list_; }

 private:
  addrinfo* list_ = nullptr;
};

// One pass of SetVarSin over getaddrinfo for one family.
int32_t ResolverPass(TVarSin& target, const std::string& IP, const std::string& Port,
                     int32_t Family, int32_t SockProtocol, int32_t SockType) {
  std::memset(&target, 0, sizeof target);
  addrinfo hints{};
  hints.ai_family = Family;
  hints.ai_socktype = SockType;
  hints.ai_protocol = SockProtocol;
  AddrInfoList result;
  int32_t r;
  if (SockType == SOCK_RAW) {
    hints.ai_socktype = 0;
    hints.ai_protocol = 0;
    r = GetAddrInfo(IP.c_str(), nullptr, &hints, result.out());
  } else if (IP == "0.0.0.0" || IP == "::0") {
    // The wildcard address of the family asked for.
    hints.ai_flags = AI_PASSIVE;
    r = GetAddrInfo(nullptr, Port.c_str(), &hints, result.out());
  } else if (IP == "127.0.0.1" || IP == "::1") {
    // The loopback address of the family asked for: the hint decides the
    // family, not the text.
    r = GetAddrInfo(nullptr, Port.c_str(), &hints, result.out());
  } else {
    r = GetAddrInfo(IP.c_str(), Port.c_str(), &hints, result.out());
  }
  if (r == 0 && result.get() && result.get()->ai_addr) {
    size_t len = result.get()->ai_addrlen;
    if (len > sizeof target) len = sizeof target;
    std::memcpy(&target, result.get()->ai_addr, len);
  }
  return r;
}

int32_t SetVarSinClassic(TVarSin& sin, const std::string& IP, const std::string& Port,
                         int32_t SockProtocol) {
  std::lock_guard<std::recursive_mutex> lock(SockLibCS);
  int32_t result = 0;
  sin.sin_family = AF_INET;
  protoent* proto = IsDecimal(Port) ? nullptr : GetProtoByNumber(SockProtocol);
  if (proto) {
    if (servent* serv = GetServByName(Port.c_str(), proto->p_name)) {
      sin.sin_port = static_cast<uint16_t>(serv->s_port);
    }
  } else {
    sin.sin_port = htons(static_cast<uint16_t>(DecimalOrZero(Port)));
  }
  if (IP == "255.255.255.255") {
    sin.sin_addr.s_addr = kInAddrNone;
    return result;
  }
  sin.sin_addr.s_addr = Inet_addr(IP.c_str());
  if (sin.sin_addr.s_addr == kInAddrNone) {
    hostent* host = GetHostByName(IP.c_str());
    result = WSAGetLastError();
    if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list &&
        host->h_addr_list[0]) {
      std::memcpy(&sin.sin_addr.s_addr, host->h_addr_list[0], 4);
      result = 0;
    }
  }
  return result;
}

std::string NumericHost(const sockaddr* addr, int32_t len) {
  char host[kHostBuffer] = {};
  char serv[kServBuffer] = {};
  if (GetNameInfo(addr, len, host, kHostBuffer, serv, kServBuffer,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "";
  return std::string(host);
}

bool SameAddress(const addrinfo* a, const addrinfo* b) {
  return a->ai_family == b->ai_family && a->ai_addrlen == b->ai_addrlen &&
         std::memcmp(a->ai_addr, b->ai_addr, a->ai_addrlen) == 0;
}

}  // namespace

bool IsNewApi(int32_t family) {
  if (SockEnhancedApi) return true;
  return family == AF_INET6 && SockWship6Api;
}

int32_t SizeOfVarSin(const TVarSin& sin) {
  switch (sin.sin_family) {
    case AF_INET:
      return static_cast<int32_t>(sizeof(sockaddr_in));
    case AF_INET6:
      return static_cast<int32_t>(sizeof(sockaddr_in6));
    default:
      return 0;
  }
}

int32_t SetVarSin(TVarSin& sin, const std::string& IP, const std::string& Port, int32_t Family,
                  int32_t SockProtocol, int32_t SockType, bool PreferIP4) {
  std::memset(&sin, 0, sizeof sin);
  if (!IsNewApi(Family)) return SetVarSinClassic(sin, IP, Port, SockProtocol);

  int32_t first_family = Family;
  int32_t second_family = -1;  // none
  if (Family == AF_UNSPEC) {
    first_family = PreferIP4 ? AF_INET : AF_INET6;
    second_family = PreferIP4 ? AF_INET6 : AF_INET;
  }
  TVarSin pass;
  int32_t result = ResolverPass(pass, IP, Port, first_family, SockProtocol, SockType);
  sin = pass;
  if (result != 0 && second_family >= 0) {
    result = ResolverPass(pass, IP, Port, second_family, SockProtocol, SockType);
    if (result == 0) sin = pass;
  }
  return result;
}

std::string GetSinIP(const TVarSin& sin) {
  if (IsNewApi(sin.sin_family)) return NumericHost(sin.sa(), SizeOfVarSin(sin));
  const char* text = Inet_ntoa(sin.sin_addr);
  return text ? std::string(text) : std::string();
}

int32_t GetSinPort(const TVarSin& sin) {
  return ntohs(sin.sin_port);
}

void ResolveNameToIP(const std::string& Name, int32_t Family, int32_t SockProtocol,
                     int32_t SockType, host::TStringList& IPList) {
  IPList.Clear();
  if (IsNewApi(Family)) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    AddrInfoList result;
    if (GetAddrInfo(Name.c_str(), nullptr, &hints, result.out()) == 0) {
      const addrinfo* previous = nullptr;
      for (const addrinfo* ai = result.get(); ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && Family == AF_INET6) continue;
        if (ai->ai_family == AF_INET6 && Family == AF_INET) continue;
        if (!ai->ai_addr) continue;
        // This resolver lists an address once per socket type when none is
        // asked for; those copies are one address, not duplicates.
        if (previous && ai->ai_socktype != previous->ai_socktype && SameAddress(ai, previous))
          continue;
        previous = ai;
        std::string text = NumericHost(ai->ai_addr, static_cast<int32_t>(ai->ai_addrlen));
        if (!text.empty()) IPList.Add(text);
      }
    }
  } else if (Inet_addr(Name.c_str()) != kInAddrNone) {
    IPList.Add(Name);
  } else {
    std::lock_guard<std::recursive_mutex> lock(SockLibCS);
    hostent* host = GetHostByName(Name.c_str());
    if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list) {
      for (char** p = host->h_addr_list; *p; ++p) {
        const auto* b = reinterpret_cast<const uint8_t*>(*p);
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
        IPList.Add(text);
      }
    }
  }
  if (IPList.Count() == 0) IPList.Add("0.0.0.0");
}

std::string ResolveIPToName(const std::string& IP, int32_t Family, int32_t SockProtocol,
                            int32_t SockType) {
  std::string result = IP;
  if (IsNewApi(Family)) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    AddrInfoList list;
    if (GetAddrInfo(IP.c_str(), nullptr, &hints, list.out()) == 0 && list.get() &&
        list.get()->ai_addr) {
      char host[kHostBuffer] = {};
      char serv[kServBuffer] = {};
      if (GetNameInfo(list.get()->ai_addr, static_cast<int32_t>(list.get()->ai_addrlen), host,
                      kHostBuffer, serv, kServBuffer, NI_NUMERICSERV) == 0)
        result = host;
    }
  } else {
    uint32_t addr = Inet_addr(IP.c_str());
    if (addr != kInAddrNone) {
      std::lock_guard<std::recursive_mutex> lock(SockLibCS);
      if (hostent* host = GetHostByAddr(&addr, 4, AF_INET); host && host->h_name)
        result = host->h_name;
    }
  }
  return result;
}

uint16_t ResolvePort(const std::string& Port, int32_t Family, int32_t SockProtocol,
                     int32_t SockType) {
  uint16_t result = 0;
  if (IsNewApi(Family)) {
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SockType;
    hints.ai_protocol = SockProtocol;
    AddrInfoList list;
    if (GetAddrInfo(nullptr, Port.c_str(), &hints, list.out()) == 0 && list.get() &&
        list.get()->ai_addr) {
      const addrinfo* ai = list.get();
      if (ai->ai_family == AF_INET || ai->ai_family == AF_INET6) {
        TVarSin sin{};
        size_t len = ai->ai_addrlen < sizeof sin ? ai->ai_addrlen : sizeof sin;
        std::memcpy(&sin, ai->ai_addr, len);
        result = ntohs(sin.sin_port);
      }
    }
  } else {
    std::lock_guard<std::recursive_mutex> lock(SockLibCS);
    servent* serv = nullptr;
    if (protoent* proto = GetProtoByNumber(SockProtocol))
      serv = GetServByName(Port.c_str(), proto->p_name);
    result = serv ? ntohs(static_cast<uint16_t>(serv->s_port))
                  : static_cast<uint16_t>(DecimalOrZero(Port));
  }
  return result;
}

std::string GetHostName() {
  char buffer[255] = {};
  ssGetHostName(buffer, 254);
  buffer[254] = 0;
  return std::string(buffer);
}

int32_t Bind(TSocket s, const TVarSin& addr) {
  return ssBind(s, addr.sa(), SizeOfVarSin(addr));
}

int32_t Connect(TSocket s, const TVarSin& name) {
  return ssConnect(s, name.sa(), SizeOfVarSin(name));
}

TSocket Accept(TSocket s, TVarSin& addr) {
  int32_t len = sizeof(TVarSin);
  return ssAccept(s, addr.sa(), &len);
}

int32_t GetSockName(TSocket s, TVarSin& name) {
  std::memset(&name, 0, sizeof name);
  int32_t len = sizeof(TVarSin);
  return ssGetSockName(s, name.sa(), &len);
}

int32_t GetPeerName(TSocket s, TVarSin& name) {
  std::memset(&name, 0, sizeof name);
  int32_t len = sizeof(TVarSin);
  return ssGetPeerName(s, name.sa(), &len);
}

int32_t Send(TSocket s, const void* Buf, int32_t len, int32_t flags) {
  return ssSend(s, Buf, len, flags);
}

int32_t Recv(TSocket s, void* Buf, int32_t len, int32_t flags) {
  return ssRecv(s, Buf, len, flags);
}

int32_t SendTo(TSocket s, const void* Buf, int32_t len, int32_t flags, const TVarSin& addrto) {
  TVarSin copy = addrto;
  return ssSendTo(s, Buf, len, flags, copy.sa(), SizeOfVarSin(copy));
}

int32_t RecvFrom(TSocket s, void* Buf, int32_t len, int32_t flags, TVarSin& from) {
  int32_t fromlen = sizeof(TVarSin);
  return ssRecvFrom(s, Buf, len, flags, from.sa(), &fromlen);
}

}  // namespace velmora::net
