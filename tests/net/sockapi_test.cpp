// The socket interface: error numbering, address records, both resolver
// paths, the reference count, select sets and the IPv6 address tests.
#include "velmora/net/sockapi.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace velmora::net {
namespace {

std::vector<std::string> Lines(const host::TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

std::vector<std::string> Resolve(const std::string& name, int family) {
  host::TStringList list;
  ResolveNameToIP(name, family, 0, 0, list);
  return Lines(list);
}

TInAddr6 Addr6(const char* text) {
  TInAddr6 a{};
  EXPECT_EQ(inet_pton(AF_INET6, text, a.u6_addr8), 1) << text;
  return a;
}

// Restores the resolver switch and the entry points a test replaces.
class SockApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitSocketInterface("")); }
  void TearDown() override {
    SockEnhancedApi = saved_enhanced_;
    GetAddrInfo = saved_getaddrinfo_;
    FreeAddrInfo = saved_freeaddrinfo_;
    DestroySocketInterface();
  }

 private:
  bool saved_enhanced_ = SockEnhancedApi;
  TGetAddrInfo saved_getaddrinfo_ = GetAddrInfo;
  TFreeAddrInfo saved_freeaddrinfo_ = FreeAddrInfo;
};

// --- Error numbering

TEST(SocketErrors, ErrnoValuesMapToTheSocketNumbering) {
  const std::pair<int, int32_t> cases[] = {{EINTR, 10004},
                                           {EBADF, 10009},
                                           {EACCES, 10013},
                                           {EFAULT, 10014},
                                           {EINVAL, 10022},
                                           {EMFILE, 10024},
                                           {EAGAIN, 10035},
                                           {EWOULDBLOCK, 10035},
                                           {EINPROGRESS, 10036},
                                           {EALREADY, 10037},
                                           {ENOTSOCK, 10038},
                                           {EDESTADDRREQ, 10039},
                                           {EMSGSIZE, 10040},
                                           {EPROTOTYPE, 10041},
                                           {ENOPROTOOPT, 10042},
                                           {EPROTONOSUPPORT, 10043},
                                           {ESOCKTNOSUPPORT, 10044},
                                           {EOPNOTSUPP, 10045},
                                           {EPFNOSUPPORT, 10046},
                                           {EAFNOSUPPORT, 10047},
                                           {EADDRINUSE, 10048},
                                           {EADDRNOTAVAIL, 10049},
                                           {ENETDOWN, 10050},
                                           {ENETUNREACH, 10051},
                                           {ENETRESET, 10052},
                                           {ECONNABORTED, 10053},
                                           {ECONNRESET, 10054},
                                           {EPIPE, 10054},
                                           {ENOBUFS, 10055},
                                           {EISCONN, 10056},
                                           {ENOTCONN, 10057},
                                           {ESHUTDOWN, 10058},
                                           {ETOOMANYREFS, 10059},
                                           {ETIMEDOUT, 10060},
                                           {ECONNREFUSED, 10061},
                                           {ELOOP, 10062},
                                           {ENAMETOOLONG, 10063},
                                           {EHOSTDOWN, 10064},
                                           {EHOSTUNREACH, 10065},
                                           {ENOTEMPTY, 10066},
                                           {EUSERS, 10068},
                                           {EDQUOT, 10069},
                                           {ESTALE, 10070},
                                           {EREMOTE, 10071},
                                           {0, 0},
                                           {EIO, 10107}};
  for (auto [err, code] : cases) EXPECT_EQ(SocketErrorFromErrno(err), code) << "errno " << err;
}

TEST(SocketErrors, ResolverAndHostCodesMapToTheSocketNumbering) {
  EXPECT_EQ(SocketErrorFromGai(0, 0), 0);
  EXPECT_EQ(SocketErrorFromGai(EAI_NONAME, 0), 11001);
  EXPECT_EQ(SocketErrorFromGai(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(SocketErrorFromGai(EAI_FAIL, 0), 11003);
  EXPECT_EQ(SocketErrorFromGai(EAI_NODATA, 0), 11004);
  EXPECT_EQ(SocketErrorFromGai(EAI_ADDRFAMILY, 0), 11004);
  EXPECT_EQ(SocketErrorFromGai(EAI_SERVICE, 0), 10109);
  EXPECT_EQ(SocketErrorFromGai(EAI_FAMILY, 0), 10047);
  EXPECT_EQ(SocketErrorFromGai(EAI_SOCKTYPE, 0), 10044);
  EXPECT_EQ(SocketErrorFromGai(EAI_MEMORY, 0), 10055);
  EXPECT_EQ(SocketErrorFromGai(EAI_SYSTEM, ECONNREFUSED), 10061);
  EXPECT_EQ(SocketErrorFromHErrno(HOST_NOT_FOUND), 11001);
  EXPECT_EQ(SocketErrorFromHErrno(TRY_AGAIN), 11002);
  EXPECT_EQ(SocketErrorFromHErrno(NO_RECOVERY), 11003);
  EXPECT_EQ(SocketErrorFromHErrno(NO_DATA), 11004);
}

TEST_F(SockApiTest, FailedCallsLeaveTheMappedCodeForTheThread) {
  char byte;
  EXPECT_EQ(ssRecv(-1, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10009);
  EXPECT_EQ(LastSystemError(), EBADF);

  // Connecting to a closed loopback port is refused.
  TSocket listener = Socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  TVarSin sin;
  ASSERT_EQ(SetVarSin(sin, "127.0.0.1", "0", AF_INET, IPPROTO_TCP, SOCK_STREAM, true), 0);
  ASSERT_EQ(Bind(listener, sin), 0);
  ASSERT_EQ(GetSockName(listener, sin), 0);
  ASSERT_EQ(CloseSocket(listener), 0);  // the port is now closed
  TSocket s = Socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_EQ(Connect(s, sin), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10061);
  CloseSocket(s);
}

// --- Address records

TEST_F(SockApiTest, SizeOfVarSinFollowsTheFamily) {
  TVarSin sin{};
  sin.sin_family = AF_INET;
  EXPECT_EQ(SizeOfVarSin(sin), 16);
  sin.sin_family = AF_INET6;
  EXPECT_EQ(SizeOfVarSin(sin), 28);
  sin.sin_family = AF_UNIX;
  EXPECT_EQ(SizeOfVarSin(sin), 0);
  sin.sin_family = AF_UNSPEC;
  EXPECT_EQ(SizeOfVarSin(sin), 0);
}

TEST_F(SockApiTest, WildcardWithBothFamiliesFollowsThePreferIPv4Flag) {
  TVarSin sin;
  ASSERT_EQ(SetVarSin(sin, "0.0.0.0", "0", AF_UNSPEC, 0, SOCK_STREAM, false), 0);
  EXPECT_EQ(sin.sin_family, AF_INET6);
  EXPECT_EQ(GetSinIP(sin), "::");
  ASSERT_EQ(SetVarSin(sin, "0.0.0.0", "8080", AF_UNSPEC, 0, SOCK_STREAM, true), 0);
  EXPECT_EQ(sin.sin_family, AF_INET);
  EXPECT_EQ(GetSinIP(sin), "0.0.0.0");
  EXPECT_EQ(GetSinPort(sin), 8080);
}

TEST_F(SockApiTest, LoopbackTextTakesTheFamilyOfTheHint) {
  TVarSin sin;
  ASSERT_EQ(SetVarSin(sin, "127.0.0.1", "80", AF_INET6, 0, SOCK_STREAM, true), 0);
  EXPECT_EQ(sin.sin_family, AF_INET6);
  EXPECT_EQ(GetSinIP(sin), "::1");
  EXPECT_EQ(GetSinPort(sin), 80);
  ASSERT_EQ(SetVarSin(sin, "::1", "http", AF_INET, 0, SOCK_STREAM, false), 0);
  EXPECT_EQ(GetSinIP(sin), "127.0.0.1");
  EXPECT_EQ(GetSinPort(sin), 80);
}

TEST_F(SockApiTest, NamesAndNumericTextsResolveIntoTheRecord) {
  TVarSin sin;
  ASSERT_EQ(SetVarSin(sin, "localhost", "443", AF_INET, IPPROTO_TCP, SOCK_STREAM, true), 0);
  EXPECT_EQ(GetSinIP(sin), "127.0.0.1");
  EXPECT_EQ(GetSinPort(sin), 443);
  ASSERT_EQ(SetVarSin(sin, "fe80::1", "1", AF_UNSPEC, 0, SOCK_STREAM, true), 0);
  EXPECT_EQ(sin.sin6_family, AF_INET6);
  EXPECT_TRUE(IN6_IS_ADDR_LINKLOCAL(sin.sin6_addr));
  // SOCK_RAW ignores the port, even one that is no service at all.
  ASSERT_EQ(SetVarSin(sin, "10.1.2.3", "no-such-service", AF_INET, 0, SOCK_RAW, true), 0);
  EXPECT_EQ(GetSinIP(sin), "10.1.2.3");
  EXPECT_EQ(GetSinPort(sin), 0);
}

TEST_F(SockApiTest, UnresolvableNameGivesResolverCodeAndZeroRecord) {
  TVarSin sin;
  int32_t r = SetVarSin(sin, "no-such-host.invalid", "80", AF_UNSPEC, 0, SOCK_STREAM, true);
  EXPECT_TRUE(r == 11001 || r == 11002 || r == 11004) << r;
  EXPECT_EQ(sin.sin_family, 0);
  EXPECT_EQ(SizeOfVarSin(sin), 0);
}

// A resolver that answers every question with one IPv6 and one IPv4 address
// (in that order), or fails when asked for a family marked to fail.
int g_fake_calls = 0;
bool g_fake_fail_v4 = false;
bool g_fake_fail_v6 = false;
int32_t FakeGetAddrInfo(const char*, const char*, const addrinfo* hints, addrinfo** res) {
  ++g_fake_calls;
  *res = nullptr;
  if (hints && ((hints->ai_family == AF_INET && g_fake_fail_v4) ||
                (hints->ai_family == AF_INET6 && g_fake_fail_v6)))
    return 11001;
  addrinfo* tail = nullptr;
  for (int family : {AF_INET6, AF_INET}) {
    if (hints && hints->ai_family != AF_UNSPEC && hints->ai_family != family) continue;
    auto* ai = new addrinfo{};
    ai->ai_family = family;
    ai->ai_socktype = SOCK_STREAM;
    if (family == AF_INET6) {
      auto* a = new sockaddr_in6{};
      a->sin6_family = AF_INET6;
      inet_pton(AF_INET6, "2001:db8::7", &a->sin6_addr);
      ai->ai_addr = reinterpret_cast<sockaddr*>(a);
      ai->ai_addrlen = sizeof *a;
    } else {
      auto* a = new sockaddr_in{};
      a->sin_family = AF_INET;
      inet_pton(AF_INET, "192.0.2.7", &a->sin_addr);
      ai->ai_addr = reinterpret_cast<sockaddr*>(a);
      ai->ai_addrlen = sizeof *a;
    }
    if (tail)
      tail->ai_next = ai;
    else
      *res = ai;
    tail = ai;
  }
  return 0;
}
void FakeFreeAddrInfo(addrinfo* ai) {
  while (ai) {
    addrinfo* next = ai->ai_next;
    if (ai->ai_family == AF_INET6)
      delete reinterpret_cast<sockaddr_in6*>(ai->ai_addr);
    else
      delete reinterpret_cast<sockaddr_in*>(ai->ai_addr);
    delete ai;
    ai = next;
  }
}

TEST_F(SockApiTest, NameListKeepsOnlyTheAskedFamily) {
  GetAddrInfo = FakeGetAddrInfo;
  FreeAddrInfo = FakeFreeAddrInfo;
  EXPECT_EQ(Resolve("dual.example", AF_INET), std::vector<std::string>{"192.0.2.7"});
  EXPECT_EQ(Resolve("dual.example", AF_INET6), std::vector<std::string>{"2001:db8::7"});
  EXPECT_EQ(Resolve("dual.example", AF_UNSPEC),
            (std::vector<std::string>{"2001:db8::7", "192.0.2.7"}));
}

TEST_F(SockApiTest, SecondPassReplacesTheRecordOnlyOnSuccess) {
  GetAddrInfo = FakeGetAddrInfo;
  FreeAddrInfo = FakeFreeAddrInfo;
  TVarSin sin;
  g_fake_fail_v4 = true;  // the first pass (prefer IPv4) fails, the second succeeds
  g_fake_calls = 0;
  EXPECT_EQ(SetVarSin(sin, "dual.example", "1", AF_UNSPEC, 0, SOCK_STREAM, true), 0);
  EXPECT_EQ(g_fake_calls, 2);
  EXPECT_EQ(GetSinIP(sin), "2001:db8::7");
  g_fake_fail_v6 = true;  // both fail: the last pass's code, a zeroed record
  g_fake_calls = 0;
  EXPECT_EQ(SetVarSin(sin, "dual.example", "1", AF_UNSPEC, 0, SOCK_STREAM, true), 11001);
  EXPECT_EQ(g_fake_calls, 2);
  EXPECT_EQ(sin.sin_family, 0);
  g_fake_fail_v4 = g_fake_fail_v6 = false;  // the first pass succeeds: no second pass
  g_fake_calls = 0;
  EXPECT_EQ(SetVarSin(sin, "dual.example", "1", AF_UNSPEC, 0, SOCK_STREAM, false), 0);
  EXPECT_EQ(g_fake_calls, 1);
  EXPECT_EQ(GetSinIP(sin), "2001:db8::7");
}

TEST_F(SockApiTest, ResolverListsAddressesAndNeverAnEmptyList) {
  EXPECT_EQ(Resolve("localhost", AF_INET), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(Resolve("10.20.30.40", AF_UNSPEC), std::vector<std::string>{"10.20.30.40"});
  EXPECT_EQ(Resolve("::1", AF_UNSPEC), std::vector<std::string>{"::1"});
  EXPECT_EQ(Resolve("::1", AF_INET), std::vector<std::string>{"0.0.0.0"});
  EXPECT_EQ(Resolve("no-such-host.invalid", AF_UNSPEC), std::vector<std::string>{"0.0.0.0"});
  EXPECT_EQ(ResolveIPToName("127.0.0.1", AF_UNSPEC, 0, 0), "localhost");
  EXPECT_EQ(ResolveIPToName("no-such-host.invalid", AF_UNSPEC, 0, 0), "no-such-host.invalid");
  EXPECT_FALSE(GetHostName().empty());
}

TEST_F(SockApiTest, PortsComeFromTheServiceDatabase) {
  EXPECT_EQ(ResolvePort("http", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 80);
  EXPECT_EQ(ResolvePort("8080", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 8080);
  EXPECT_EQ(ResolvePort("no-such-service", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 0);
  SockEnhancedApi = false;
  EXPECT_EQ(ResolvePort("http", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 80);
  EXPECT_EQ(ResolvePort("8080", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 8080);
  EXPECT_EQ(ResolvePort("no-such-service", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM), 0);
}

TEST_F(SockApiTest, ClassicPathIsIPv4Only) {
  SockEnhancedApi = false;
  EXPECT_FALSE(IsNewApi(AF_INET));
  EXPECT_FALSE(IsNewApi(AF_INET6));
  TVarSin sin;
  EXPECT_EQ(SetVarSin(sin, "127.0.0.1", "http", AF_INET6, IPPROTO_TCP, SOCK_STREAM, false), 0);
  EXPECT_EQ(sin.sin_family, AF_INET);
  EXPECT_EQ(GetSinIP(sin), "127.0.0.1");
  EXPECT_EQ(GetSinPort(sin), 80);
  EXPECT_EQ(SetVarSin(sin, "localhost", "8080", AF_UNSPEC, IPPROTO_TCP, SOCK_STREAM, true), 0);
  EXPECT_EQ(GetSinIP(sin), "127.0.0.1");
  EXPECT_EQ(GetSinPort(sin), 8080);
  EXPECT_EQ(SetVarSin(sin, "255.255.255.255", "1", AF_INET, 0, 0, true), 0);
  EXPECT_EQ(sin.sin_addr.s_addr, 0xFFFFFFFFu);
  EXPECT_EQ(SetVarSin(sin, "no-such-host.invalid", "1", AF_INET, 0, 0, true), 11001);
  EXPECT_EQ(Resolve("localhost", AF_UNSPEC), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(Resolve("10.1.1.1", AF_UNSPEC), std::vector<std::string>{"10.1.1.1"});
  EXPECT_EQ(Resolve("no-such-host.invalid", AF_UNSPEC), std::vector<std::string>{"0.0.0.0"});
  EXPECT_EQ(ResolveIPToName("127.0.0.1", AF_INET, 0, 0), "localhost");
}

// --- Loading

TEST(SockApiLoading, ReferenceCountPairsAndClampsAtZero) {
  while (SocketLibRefCount > 0) DestroySocketInterface();
  EXPECT_TRUE(DestroySocketInterface());
  EXPECT_EQ(SocketLibRefCount, 0);
  EXPECT_EQ(SocketLibHandle, 0u);
  EXPECT_FALSE(InitSocketInterface("no-such-library.dll"));
  EXPECT_EQ(SocketLibRefCount, 0);
  ASSERT_TRUE(InitSocketInterface("ws2_32.dll"));
  EXPECT_TRUE(SockEnhancedApi);
  EXPECT_NE(SocketLibHandle, 0u);
  ASSERT_TRUE(InitSocketInterface(""));
  EXPECT_EQ(SocketLibRefCount, 2);
  // A further start keeps the resolver: only loading decides the switch.
  EXPECT_TRUE(SockEnhancedApi);
  EXPECT_TRUE(DestroySocketInterface());
  EXPECT_NE(SocketLibHandle, 0u);
  EXPECT_TRUE(DestroySocketInterface());
  EXPECT_TRUE(DestroySocketInterface());
  EXPECT_EQ(SocketLibRefCount, 0);
  EXPECT_EQ(SocketLibHandle, 0u);
  // The entry points stay bound after unloading.
  EXPECT_NE(Socket, nullptr);
  EXPECT_EQ(ntohs(htons(0x1234)), 0x1234);
}

TEST(SockApiLoading, StartUpRecordAndConstants) {
  TWSAData data;
  EXPECT_EQ(WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0202);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_TRUE(IN6_IS_ADDR_UNSPECIFIED(in6addr_any));
  EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(in6addr_loopback));
}

// --- Select sets

TEST(SockApiSets, SetHoldsAtMost64InOrderAndClearKeepsTheOrder) {
  TFDSet set;
  FD_ZERO(set);
  for (int i = 0; i < 64; ++i) FD_SET(100 + i, set);
  ASSERT_EQ(set.fd_count, 64u);
  TFDSet before = set;
  FD_SET(999, set);
  EXPECT_EQ(std::memcmp(&before, &set, sizeof set), 0);
  EXPECT_FALSE(FD_ISSET(999, set));
  FD_CLR(999, set);
  EXPECT_EQ(std::memcmp(&before, &set, sizeof set), 0);

  FD_ZERO(set);
  for (TSocket s : {5, 7, 9, 7}) FD_SET(s, set);
  FD_CLR(7, set);
  ASSERT_EQ(set.fd_count, 3u);
  EXPECT_EQ(set.fd_array[0], 5);
  EXPECT_EQ(set.fd_array[1], 9);
  EXPECT_EQ(set.fd_array[2], 7);
  EXPECT_TRUE(FD_ISSET(7, set));
  EXPECT_FALSE(FD_ISSET(6, set));
}

TEST(SockApiSets, SelectWaitsOnDescriptorsAbove1023) {
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_cur < 2100 && lim.rlim_max >= 2100) {
    rlimit raised = lim;
    raised.rlim_cur = 2100;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  }
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  int high = fcntl(pair[0], F_DUPFD_CLOEXEC, 2000);
  ASSERT_GE(high, 2000);
  TFDSet readable;
  FD_ZERO(readable);
  FD_SET(high, readable);
  timeval zero{0, 0};
  EXPECT_EQ(Select(0, &readable, nullptr, nullptr, &zero), 0);
  EXPECT_EQ(readable.fd_count, 0u);
  ASSERT_EQ(write(pair[1], "x", 1), 1);
  FD_SET(high, readable);
  timeval second{1, 0};
  EXPECT_EQ(Select(0, &readable, nullptr, nullptr, &second), 1);
  EXPECT_TRUE(FD_ISSET(high, readable));
  close(high);
  close(pair[0]);
  close(pair[1]);
}

TEST(SockApiSets, SendToAClosedPeerReportsInsteadOfRaisingSigpipe) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  close(pair[1]);
  // With SIGPIPE at its default action this would end the test program.
  struct sigaction old_action {};
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old_action);
  EXPECT_EQ(Send(pair[0], "abc", 3, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10054);
  sigaction(SIGPIPE, &old_action, nullptr);
  close(pair[0]);
}

// --- IPv6 address tests

TEST(SockApiIPv6, PredicatesCompareWholeBytes) {
  EXPECT_TRUE(IN6_IS_ADDR_LINKLOCAL(Addr6("fe80::1")));
  EXPECT_FALSE(IN6_IS_ADDR_LINKLOCAL(Addr6("fe90::1")));  // inside fe80::/10, yet not fe80
  EXPECT_TRUE(IN6_IS_ADDR_SITELOCAL(Addr6("fec0::1")));
  EXPECT_FALSE(IN6_IS_ADDR_SITELOCAL(Addr6("fed0::1")));
  EXPECT_TRUE(IN6_IS_ADDR_MULTICAST(Addr6("ff02::1")));
  EXPECT_FALSE(IN6_IS_ADDR_MULTICAST(Addr6("fe02::1")));
  EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(Addr6("::1")));
  EXPECT_FALSE(IN6_IS_ADDR_LOOPBACK(Addr6("::2")));
  EXPECT_FALSE(IN6_IS_ADDR_LOOPBACK(Addr6("1::1")));
  EXPECT_TRUE(IN6_IS_ADDR_UNSPECIFIED(Addr6("::")));
  EXPECT_FALSE(IN6_IS_ADDR_UNSPECIFIED(Addr6("::1")));
  EXPECT_TRUE(IN6_ADDR_EQUAL(Addr6("2001:db8::1"), Addr6("2001:db8:0::1")));
  EXPECT_FALSE(IN6_ADDR_EQUAL(Addr6("2001:db8::1"), Addr6("2001:db8::2")));
  TInAddr6 a = Addr6("2001:db8::5");
  SET_LOOPBACK_ADDR6(a);
  EXPECT_TRUE(IN6_ADDR_EQUAL(a, in6addr_loopback));
  SET_IN6_IF_ADDR_ANY(a);
  EXPECT_TRUE(IN6_ADDR_EQUAL(a, in6addr_any));
}

}  // namespace
}  // namespace velmora::net
