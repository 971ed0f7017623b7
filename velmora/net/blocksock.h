// The block sockets: TBlockSocket and its TCP descendant with SOCKS, HTTP
// tunnels and the TLS slot, the datagram, UDP, ICMP, raw and PGM sockets,
// the protocol-client base, and the unit start-up.
#pragma once

#include <string>

#include "velmora/net/blocksock_core.h"
#include "velmora/net/blocksock_types.h"
#include "velmora/net/netclient.h"
#include "velmora/net/raw_sockets.h"
#include "velmora/net/socks.h"
#include "velmora/net/ssl_plugin.h"
#include "velmora/net/tcp_socket.h"
#include "velmora/net/udp_socket.h"

namespace velmora::net {

// Start-up of the block-socket unit: loads the socket interface once for the
// process and starts it at version 2.2, keeping the start-up record for
// TBlockSocket::GetWsaData.  Both are idempotent; the first socket runs
// Initialize itself, so sockets work without the package's start-up.
namespace unit_blocksock {
// ESocketError (code 0, "Error loading Socket interface (ws2_32.dll)!") when
// the socket interface does not load.
void Initialize();
void Finalize();
bool Initialized();
// Initialize with another library name (a name that does not load shows the
// failure path).
void StartSocketLibrary(const std::string& stack);
}  // namespace unit_blocksock

}  // namespace velmora::net
