// `velmora connect --udp`: the datagram mode of the connect command.
#pragma once

#include "apps/velmora/command.h"

namespace velmora::app {

// True when the command line asks for the datagram mode or uses one of its
// options (--udp, --listen, --broadcast, --multicast).
bool WantsUdp(const Args& args);
// Runs the datagram mode; a UDP-only option without --udp is a usage error.
int RunConnectUdp(const Args& args);

}  // namespace velmora::app
