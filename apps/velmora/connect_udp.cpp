// velmora connect --udp HOST PORT [--socks5 H:P [--user U --pass P]] [--broadcast]
// velmora connect --udp --listen PORT [--multicast GROUP]
//
// Like `nc -u`, over TUDPBlockSocket: each line of standard input goes out
// as one datagram (its line end included), and every datagram that comes
// back is printed as it is.  With --socks5 the datagrams travel through the
// proxy's UDP association.  With --listen the socket waits on PORT (joining
// GROUP with --multicast) and input lines answer whoever sent last.
#include "apps/velmora/connect_udp.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "apps/velmora/connect_relay.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/netip.h"

namespace velmora::app {
namespace {

// "host:port" or "[v6-address]:port" of a proxy.
void SplitProxy(const std::string& text, std::string& host, std::string& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    throw UsageError("--socks5 needs HOST:PORT, not \"" + text + "\"");
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
}

void CheckOptions(const Args& args, bool listen) {
  if (!args.Has("--udp")) {
    for (const char* option : {"--listen", "--broadcast", "--multicast"})
      if (args.Has(option)) throw UsageError(std::string(option) + " needs --udp");
  }
  if (args.Has("--socks4") || args.Has("--tunnel"))
    throw UsageError("datagrams travel only through --socks5");
  if (args.Has("--set")) throw UsageError("--set is for TCP connections");
  if ((args.Has("--user") || args.Has("--pass")) && !args.Has("--socks5"))
    throw UsageError("--user and --pass need --socks5");
  if (listen) {
    if (!args.positional.empty()) throw UsageError("--listen takes no HOST and PORT");
    if (args.Has("--socks5") || args.Has("--broadcast"))
      throw UsageError("--socks5 and --broadcast are for sending; --listen receives");
  } else {
    if (args.positional.size() != 2) throw UsageError("needs HOST and PORT (see --help)");
    if (args.positional[0].empty() || args.positional[1].empty())
      throw UsageError("HOST and PORT must not be empty");
    if (args.Has("--multicast"))
      throw UsageError(
          "--multicast joins a group with --listen; to send to a group give it as HOST");
  }
  if (args.Has("--multicast")) {
    const std::string group = args.Get("--multicast");
    if (!net::IsIP(group) && !net::IsIP6(group))
      throw UsageError("--multicast needs a group address, not \"" + group + "\"");
  }
}

// Cuts the complete lines (with their line ends) off the front of `pending`.
template <typename Send>
void SendLines(std::string& pending, bool flush, Send send) {
  size_t start = 0;
  for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
    send(pending.substr(start, nl + 1 - start));
  pending.erase(0, start);
  if (flush && !pending.empty()) {
    send(pending);
    pending.clear();
  }
}

}  // namespace

bool WantsUdp(const Args& args) {
  return args.Has("--udp") || args.Has("--listen") || args.Has("--broadcast") ||
         args.Has("--multicast");
}

int RunConnectUdp(const Args& args) {
  const bool listen = args.Has("--listen");
  CheckOptions(args, listen);
  int64_t timeout = args.GetInt("--timeout", -1);
  if (timeout < -1 || timeout > INT32_MAX) throw UsageError("--timeout must be -1 or more");

  net::TUDPBlockSocket sock;
  if (args.Has("--trace")) {
    sock.OnStatus = [](host::TObject*, net::THookSocketReason reason, const std::string& value) {
      std::fprintf(stderr, "%s: %s\n", net::HookSocketReasonName(reason), value.c_str());
    };
    sock.OnProtocolStep = [](host::TObject*, const std::string& step) {
      std::fprintf(stderr, "step: %s\n", step.c_str());
    };
  }
  std::string target_ip, target_port;
  bool have_peer = !listen;
  if (listen) {
    const std::string group = args.Get("--multicast");
    const bool v6 = net::IsIP6(group);
    sock.set_Family(v6 ? net::SF_IP6 : net::SF_IP4);
    sock.EnableReuse(true);  // several listeners may share a group's port
    sock.Bind(v6 ? "::" : net::cAnyHost, args.Get("--listen"));
    if (sock.LastError() != 0) FailConnection(sock);
    if (!group.empty()) {
      sock.AddMulticast(group);
      if (sock.LastError() != 0) FailConnection(sock);
    }
  } else {
    if (args.Has("--broadcast")) sock.EnableBroadcast(true);
    if (args.Has("--socks5")) {
      std::string proxy_host, proxy_port;
      SplitProxy(args.Get("--socks5"), proxy_host, proxy_port);
      sock.set_SocksIP(proxy_host);
      sock.set_SocksPort(proxy_port);
      sock.set_SocksUsername(args.Get("--user"));
      sock.set_SocksPassword(args.Get("--pass"));
    }
    sock.Connect(args.positional[0], args.positional[1]);
    if (sock.LastError() != 0) FailConnection(sock);
    // Later resolutions keep to the handle's family (a socket of no family
    // reads "::1" as the IPv4 loopback once it has a handle).
    sock.set_Family(sock.UsesIPv6() ? net::SF_IP6 : net::SF_IP4);
    target_ip = sock.GetRemoteSinIP();
    target_port = std::to_string(sock.GetRemoteSinPort());
  }

  auto send = [&](const std::string& datagram) {
    if (!have_peer) {
      std::fprintf(stderr, "velmora connect: nobody has sent anything yet; line dropped\n");
      return;
    }
    // A received datagram names its sender in RemoteSin; the sending side
    // keeps talking to its target.
    if (!listen) sock.SetRemoteSin(target_ip, target_port);
    sock.SendString(datagram);
    if (sock.LastError() != 0) FailConnection(sock);
  };

  RelayWait wait(sock.Socket(), timeout);
  std::string pending;
  char buffer[65536];
  for (;;) {
    if (!wait.Next()) return kExitOk;
    if (wait.SocketReady()) {
      std::string datagram = sock.RecvPacket(0);
      if (sock.LastError() == net::WSANO_RECOVERY) {
        // A relayed datagram with a header that cannot be read: dropped.
        std::fprintf(stderr, "velmora connect: malformed datagram from the relay dropped\n");
      } else if (sock.LastError() != 0) {
        FailConnection(sock);
      } else {
        have_peer = true;
        WriteOut(datagram);
      }
      wait.Activity();
    }
    if (wait.InputReady()) {
      ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) pending.append(buffer, static_cast<size_t>(n));
      if (n <= 0) wait.InputEnded();
      SendLines(pending, !wait.InputOpen(), send);
      wait.Activity();
    }
  }
}

}  // namespace velmora::app
