// The process-wide stores of TSSLOpenSSL (not exported): finished TLS
// contexts by the settings they were built from, and self-signed server
// certificates by host name.  Both are safe to use from any thread.
//
// Building an SSL_CTX costs OpenSSL 3 a fraction of a millisecond, and an
// RSA 2048 key tens of milliseconds; a connection whose settings match an
// earlier one takes a reference to that one's context instead.  A context in
// the store is never changed again: everything that belongs to one
// connection goes on its SSL object.
#pragma once

#include <string>

#include "velmora/net/ssl_openssl_lib.h"

namespace velmora::net::detail {

// Everything a context is built from.  Files are named by path and by a
// stamp of what is there now (device, inode, size, modification time), so
// a certificate replaced on disk builds a new context.
struct ContextKey {
  bool server = false;
  int ssl_type = 0;
  bool verify = false;
  std::string ciphers;
  std::string ca_file, certificate_file, private_key_file, pfx_file;
  std::string file_stamps;
  std::string certificate, private_key, pfx, password;

  bool operator==(const ContextKey&) const = default;
};

// The stamp of the files named in `key` (filled into key.file_stamps).
void StampFiles(ContextKey& key);

// A new reference to the stored context built from `key`, or null.
SSL_CTX* FindContext(const ContextKey& key);

// Stores `ctx` (taking a reference of its own) for later connections with
// the same settings.  The oldest context leaves when the store is full.
void KeepContext(const ContextKey& key, SSL_CTX* ctx);

// Takes `ctx` out of the store: later connections build their own.  Used
// when a caller is handed the context and may change it.
void ForgetContext(SSL_CTX* ctx);

// Sets the user data of `ctx`'s password callback under the store's lock
// (other connections may share the context).
void SetPasswordUserdata(SSL_CTX* ctx, void* userdata);

// Drops the store's references (before OpenSSL is unloaded).
void ReleaseContexts();

// The self-signed certificate and key (DER) made for `host` in the last
// hour, if any.
bool FindSelfSigned(const std::string& host, std::string& certificate, std::string& key);
void KeepSelfSigned(const std::string& host, const std::string& certificate,
                    const std::string& key);

}  // namespace velmora::net::detail
