// The TLS part of `velmora connect`: the options, the socket's TLS settings,
// and the --trace lines about the session.
#pragma once

#include <vector>

#include "apps/velmora/command.h"
#include "velmora/net/blocksock.h"

namespace velmora::app {

// --tls, --sni, --cafile, --verify, --cert, --key (with --pass as the key's
// password).
std::vector<OptionSpec> TlsOptions();

// Checks the TLS options (a UsageError when they do not fit together) and,
// with --tls, sets up the plug-in of `sock` for a handshake with `host`:
// the server name (--sni, else the host), the trusted authorities (--cafile,
// else the system's bundle when --verify is given), verification, and a
// client certificate.
void ConfigureTls(net::TTCPBlockSocket& sock, const Args& args, const std::string& host);

// After a successful handshake, with --trace: the protocol version, cipher,
// peer subject and issuer and the verification result, on stderr.
void TraceTls(net::TTCPBlockSocket& sock);

}  // namespace velmora::app
