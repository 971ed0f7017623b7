// velmora connect HOST PORT [--socks5 H:P | --socks4 H:P | --tunnel H:P]
//                [--user U] [--pass P] [--timeout MS] [--trace] [--set Name=value]
//
// A small netcat over TTCPBlockSocket: connects (directly, through a SOCKS
// proxy or through an HTTP CONNECT tunnel), sends its standard input, and
// prints what comes back until the peer closes, or until --timeout ms of
// silence after the input ended.  A connection that fails prints the
// socket's error code and text and exits with 1.
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/connect_relay.h"
#include "apps/velmora/connect_tls.h"
#include "apps/velmora/connect_udp.h"
#include "velmora/net/blocksock.h"
#include "velmora/net/sockapi_errors.h"

namespace velmora::app {
namespace {

struct HostPort {
  std::string host;
  std::string port;
};

// A port is a number from 1 to 65535 or a TCP service name the system knows.
void CheckPort(const std::string& option, const std::string& port) {
  if (!port.empty() && port.find_first_not_of("0123456789") == std::string::npos) {
    if (port.size() <= 5 && std::stoi(port) >= 1 && std::stoi(port) <= 65535) return;
  } else if (!port.empty() && ::getservbyname(port.c_str(), "tcp") != nullptr) {
    return;
  }
  throw UsageError(option + ": \"" + port + "\" is no port (1 to 65535 or a service name)");
}

// "host:port" or "[v6-address]:port".
HostPort ParseHostPort(const std::string& option, const std::string& text) {
  HostPort hp;
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    throw UsageError(option + " needs HOST:PORT, not \"" + text + "\"");
  hp.host = text.substr(0, colon);
  hp.port = text.substr(colon + 1);
  CheckPort(option, hp.port);
  if (hp.host.size() >= 2 && hp.host.front() == '[' && hp.host.back() == ']')
    hp.host = hp.host.substr(1, hp.host.size() - 2);
  if (hp.host.empty()) throw UsageError(option + " needs a host, not \"" + text + "\"");
  return hp;
}

// The proxy handshake's bound when --timeout is not given.
constexpr int32_t kDefaultHandshakeMs = 10000;

int RunConnect(const Args& args) {
  if (WantsUdp(args)) return RunConnectUdp(args);
  if (args.positional.size() != 2) throw UsageError("needs HOST and PORT (see --help)");
  const std::string& host = args.positional[0];
  const std::string& port = args.positional[1];
  if (host.empty() || port.empty()) throw UsageError("HOST and PORT must not be empty");
  CheckPort("PORT", port);
  int proxies = args.Has("--socks5") + args.Has("--socks4") + args.Has("--tunnel");
  if (proxies > 1) throw UsageError("give at most one of --socks5, --socks4 and --tunnel");
  if ((args.Has("--user") || (args.Has("--pass") && !args.Has("--key"))) && proxies == 0)
    throw UsageError("--user and --pass need --socks5, --socks4 or --tunnel");
  int64_t timeout = args.GetInt("--timeout", -1);
  if (timeout < -1 || timeout > INT32_MAX) throw UsageError("--timeout must be -1 or more");
  const bool trace = args.Has("--trace");

  net::TTCPBlockSocket sock;
  if (trace) {
    sock.OnStatus = [](host::TObject*, net::THookSocketReason reason, const std::string& value) {
      std::fprintf(stderr, "%s: %s\n", net::HookSocketReasonName(reason), value.c_str());
    };
    sock.OnProtocolStep = [](host::TObject*, const std::string& step) {
      std::fprintf(stderr, "step: %s\n", step.c_str());
    };
  }
  // A proxy that does not answer (or does not speak the protocol) must not
  // hold the command for ever.
  const int32_t handshake_ms = timeout >= 0 ? static_cast<int32_t>(timeout) : kDefaultHandshakeMs;
  sock.set_SocksTimeout(handshake_ms);
  sock.set_HTTPTunnelTimeout(handshake_ms);
  const std::string user = args.Get("--user");
  const std::string pass = args.Get("--pass");
  if (args.Has("--socks5") || args.Has("--socks4")) {
    bool four = args.Has("--socks4");
    HostPort proxy =
        ParseHostPort(four ? "--socks4" : "--socks5", args.Get(four ? "--socks4" : "--socks5"));
    sock.set_SocksType(four ? net::ST_Socks4 : net::ST_Socks5);
    sock.set_SocksIP(proxy.host);
    sock.set_SocksPort(proxy.port);
    sock.set_SocksUsername(user);
    sock.set_SocksPassword(pass);
  } else if (args.Has("--tunnel")) {
    HostPort proxy = ParseHostPort("--tunnel", args.Get("--tunnel"));
    sock.set_HTTPTunnelIP(proxy.host);
    sock.set_HTTPTunnelPort(proxy.port);
    sock.set_HTTPTunnelUser(user);
    sock.set_HTTPTunnelPass(pass);
  }

  for (const std::string& assignment : args.GetAll("--set")) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError("--set needs Name=value, not \"" + assignment + "\"");
    std::string name = assignment.substr(0, eq);
    const host::PropInfo* prop = host::FindProperty(sock.PublishedProperties(), name);
    if (!prop) throw UsageError("TTCPBlockSocket has no published property " + name);
    try {
      host::SetPropText(sock, *prop, assignment.substr(eq + 1));
    } catch (const host::EConvertError& e) {
      throw UsageError(e.what());
    }
  }

  ConfigureTls(sock, args, host);

  sock.Connect(host, port);
  if (sock.LastError() != 0) FailConnection(sock);
  const bool tls = args.Has("--tls");
  if (tls) {
    sock.SSLDoConnect();
    if (sock.LastError() != 0) FailConnection(sock);
    if (trace) TraceTls(sock);
  }

  RelayWait wait(sock.Socket(), timeout);
  char buffer[65536];
  for (;;) {
    // Bytes the connection set-up already read (after a proxy's reply).
    if (!sock.InputBacklog().empty() || (tls && sock.SSL()->WaitingData() > 0)) {
      WriteOut(sock.RecvPacket(0));
      wait.Activity();
      continue;
    }
    if (!wait.Next()) return kExitOk;
    if (wait.SocketReady()) {
      std::string packet = sock.RecvPacket(0);
      if (sock.LastError() == net::WSAECONNRESET) return kExitOk;  // the peer closed
      // Over TLS: records without data (session tickets), or the peer's
      // close notification.
      if (tls && sock.LastError() == net::WSAETIMEDOUT) continue;
      if (tls && sock.LastError() == 0 && packet.empty()) return kExitOk;
      if (sock.LastError() != 0) FailConnection(sock);
      WriteOut(packet);
      wait.Activity();
    }
    if (wait.InputReady()) {
      ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        wait.InputEnded();
        continue;
      }
      sock.SendBuffer(buffer, static_cast<int32_t>(n));
      if (sock.LastError() != 0) FailConnection(sock);
    }
  }
}

}  // namespace

VELMORA_COMMAND(connect) {
  Command command{
      "connect",
      "connect to a TCP port (directly, through SOCKS or an HTTP tunnel) like netcat",
      "velmora connect HOST PORT [--socks5 H:P | --socks4 H:P | --tunnel H:P] [--user U] "
      "[--pass P] [--timeout MS] [--tls [--sni NAME] [--cafile FILE] [--verify] [--cert FILE "
      "--key FILE]] [--trace] [--set Name=value ...]",
      {{"--socks5", "H:P", "connect through the SOCKS 5 proxy H:P"},
       {"--socks4", "H:P", "connect through the SOCKS 4 proxy H:P (4a for a host name)"},
       {"--tunnel", "H:P", "connect through an HTTP CONNECT tunnel of the proxy H:P"},
       {"--user", "U", "user name for the proxy (SOCKS user id)"},
       {"--pass", "P", "password for the proxy (or, with --key, of the key)"},
       {"--timeout", "MS",
        "bound of the proxy handshake (default 10000), and after the input ended, stop after MS "
        "ms of silence"},
       {"--trace", "", "print every socket status event and proxy step on stderr"},
       {"--set", "Name=value", "set a published property of the socket (ConvertLineEnd=True)",
        true},
       {"--udp", "", "UDP: each input line is one datagram; what comes back is printed"},
       {"--listen", "PORT", "with --udp: receive on PORT; input lines answer the last sender"},
       {"--broadcast", "", "with --udp: allow sending to a broadcast address"},
       {"--multicast", "GROUP", "with --udp --listen: join the multicast group GROUP"}},
      "Sends the standard input to the connection and prints what comes back,\n"
      "until the peer closes the connection (or, with --timeout, until MS ms\n"
      "pass without data after the input ended).  A failed connection or a\n"
      "proxy refusal prints the socket's error code and text, e.g.\n"
      "  velmora connect: 10061 Connection refused\n"
      "and exits with 1; where the system said more, its words follow in brackets.\n"
      "A proxy's handshake is bounded by --timeout (10000 ms without it).  A port\n"
      "that is neither a number from 1 to 65535 nor a known service name is bad\n"
      "usage (exit 2).",
      RunConnect};
  for (OptionSpec& option : TlsOptions()) command.options.push_back(std::move(option));
  return command;
}

}  // namespace velmora::app
