// The socket BIO of TSSLOpenSSL's connections (not exported).
#pragma once

#include "velmora/net/ssl_openssl_lib.h"

namespace velmora::net::detail {

// A BIO over the socket handle `fd` (which it does not own): writes pass
// MSG_NOSIGNAL, so a reset peer gives an error instead of SIGPIPE; reads
// never block (an empty socket asks OpenSSL to retry), so the caller decides
// how long to wait for the socket.  Null when OpenSSL is not loaded.
BIO* NewSocketBio(int fd);

}  // namespace velmora::net::detail
