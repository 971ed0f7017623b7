// velmora resolve NAME [--family any|4|6] [--json]
//
// For a host name: every address the resolver finds, one a line, in the
// resolver's order.  For an address text: the host name it maps back to.
#include <cstdio>
#include <string>

#include "apps/velmora/command.h"
#include "velmora/host/string_list.h"
#include "velmora/net/netip.h"
#include "velmora/net/sockapi.h"

namespace velmora::app {
namespace {

int32_t FamilyOption(const Args& args) {
  std::string family = args.Get("--family", "any");
  if (family == "any") return AF_UNSPEC;
  if (family == "4") return AF_INET;
  if (family == "6") return AF_INET6;
  throw UsageError("--family must be any, 4 or 6, not \"" + family + "\"");
}

int RunResolve(const Args& args) {
  if (args.positional.size() != 1) throw UsageError("needs exactly one NAME (see --help)");
  const std::string& name = args.positional[0];
  if (name.empty()) throw UsageError("NAME is empty");
  int32_t family = FamilyOption(args);
  bool json = args.Has("--json");
  if (!net::InitSocketInterface("")) throw WorkFailed("the socket interface does not start");
  struct Release {
    ~Release() { net::DestroySocketInterface(); }
  } release;

  if (net::IsIP(name) || net::IsIP6(name)) {
    std::string host = net::ResolveIPToName(name, family, 0, 0);
    if (json)
      std::printf("%s\n", JsonLine().Add("address", name).Add("name", host).str().c_str());
    else
      std::printf("%s\n", host.c_str());
    return kExitOk;
  }

  host::TStringList addresses;
  net::ResolveNameToIP(name, family, 0, 0, addresses);
  // The resolver's "nothing found" is the single entry 0.0.0.0.
  if (addresses.Count() == 1 && addresses[0] == "0.0.0.0")
    throw WorkFailed("no address found for \"" + name + "\"");
  for (const std::string& address : addresses) {
    if (json)
      std::printf("%s\n", JsonLine().Add("name", name).Add("address", address).str().c_str());
    else
      std::printf("%s\n", address.c_str());
  }
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(resolve) {
  return Command{
      "resolve",
      "resolve a host name to its addresses, or an address to its name",
      "velmora resolve NAME [--family any|4|6] [--json]",
      {{"--family", "any|4|6", "only IPv4 (4) or IPv6 (6) addresses; any (default) lists both"},
       {"--json", "", "one JSON object per line"}},
      "A host name prints every address it resolves to, one a line, in the\n"
      "resolver's order.  An IPv4 or IPv6 address prints the host name it maps\n"
      "back to (the address itself when it has none).  A name that does not\n"
      "resolve exits with 1.",
      RunResolve};
}

}  // namespace velmora::app
