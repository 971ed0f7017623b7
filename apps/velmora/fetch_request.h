// How `velmora fetch` turns its command line into a THTTPSend request: the
// method, the body (-d, --data-binary, -F), headers, range, credentials,
// proxy, cookies, protocol and TLS verification.
#pragma once

#include <string>

#include "apps/velmora/command.h"
#include "velmora/net/httpclient.h"

namespace velmora::app {

// The CA bundle HTTPS servers are verified against unless --cacert or -k.
constexpr const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// Sets up `http` from `args` and returns the method to send.  Bad values
// are UsageErrors naming the option; a file that cannot be read is one too.
std::string PrepareFetch(const Args& args, net::THTTPSend& http);

// "A-B" or "A-" as RangeStart/RangeEnd; a UsageError otherwise.
void ParseRange(const std::string& text, int64_t& start, int64_t& end);

}  // namespace velmora::app
