// ssl_openssl: TSSLOpenSSL, the TLS plug-in of the TCP socket over OpenSSL 3
// (bound at run time by ssl_openssl_lib).
//
// Each Connect/Accept makes a fresh connection object from a context for the
// settings (Prepare); sends and receives pass through them until Shutdown,
// BiShutdown or the destructor discards both.  The context is shared with
// earlier connections of the process whose settings were the same (see
// ssl_openssl_cache.h): each plug-in holds a reference of its own, and a
// context handed out through SslContext leaves the store, so what a caller
// changes in it reaches no other connection.  Failing OpenSSL steps leave
// OpenSSL's first error code and its text in SslErrorCode/SslErrorText;
// failing reads and writes leave SSL_get_error's code with an empty text.
//
// Beyond the classic behaviour, on purpose:
// - the connection runs over a socket BIO of its own that sends with
//   MSG_NOSIGNAL (a reset peer never raises SIGPIPE) and reads without
//   blocking, so a receive that meets only protocol records (TLS 1.3 session
//   tickets, key updates) returns to the socket's wait (SslWantRead) instead
//   of blocking in the kernel past the socket's time-out;
// - with VerifyCert the peer certificate must also match the host: SNIHost,
//   or the connected address when SNIHost is empty (an address is checked as
//   an IP address, a name as a DNS name);
// - an IP address in SNIHost is never sent as the server name;
// - a self-signed server certificate is RSA 2048 with SHA-256 (OpenSSL 3
//   refuses RSA 1024 keys at its default security level);
// - SendBuffer after the peer closed the TLS connection stores 6
//   (SSL_ERROR_ZERO_RETURN) in SslErrorCode, so the socket's send loop ends;
// - a peer serial number beyond int32_t's range is -1, not its low bits.
#pragma once

#include <memory>
#include <string>

#include "velmora/net/ssl_openssl_lib.h"
#include "velmora/net/ssl_plugin.h"

namespace velmora::net {

namespace detail {
struct ContextKey;
// Move-only owners of OpenSSL handles (free through the wrappers).
struct SslCtxDeleter {
  void operator()(SSL_CTX* p) const;
};
struct SslDeleter {
  void operator()(SSL* p) const;
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using SslPtr = std::unique_ptr<SSL, SslDeleter>;
}  // namespace detail

class TSSLOpenSSL : public TCustomSSL {
 public:
  // Ciphers := "DEFAULT"; no OpenSSL object is made yet.
  explicit TSSLOpenSSL(TTCPBlockSocket& Value);
  ~TSSLOpenSSL() override;
  std::string ClassName() const override { return "TSSLOpenSSL"; }

  // Makes an RSA 2048 key and a self-signed X.509 v3 certificate (C=CZ,
  // CN=Host, serial 0, valid from one day back for 60 days, SHA-256), stored
  // in DER in Certificate and PrivateKey.
  bool CreateSelfSignedCert(const std::string& Host) override;
  std::string LibVersion() override;
  std::string LibName() override;
  bool Connect() override;
  bool Accept() override;
  bool Shutdown() override;
  bool BiShutdown() override;
  int32_t SendBuffer(const void* Buffer, int32_t Len) override;
  int32_t RecvBuffer(void* Buffer, int32_t Len) override;
  int32_t WaitingData() override;
  std::string GetSSLVersion() override;
  std::string GetPeerSubject() override;
  // -1 without a certificate, and for a serial beyond int32_t's range.
  int32_t GetPeerSerialNo() override;
  std::string GetPeerIssuer() override;
  std::string GetPeerName() override;
  uint32_t GetPeerNameHash() override;
  // The raw 16-byte MD5 digest of the peer certificate.
  std::string GetPeerFingerprint() override;
  // OpenSSL's printed form of the peer certificate, lines ended by CR LF.
  std::string GetCertInfo() override;
  std::string GetCipherName() override;
  int32_t GetCipherBits() override;
  int32_t GetCipherAlgBits() override;
  // OpenSSL's verification result (0 = success); 1 without a connection.
  int32_t GetVerifyCert() override;

  // OpenSSL's connection object and context (null when none exists).  The
  // context is no longer shared with later connections once asked for, and
  // its password callback reads this plug-in's KeyPassword until DeInit.
  SSL* SslHandle() const { return ssl_.get(); }
  SSL_CTX* SslContext();

  // Takes OpenSSL's first queued error into the error pair and empties the
  // queue; true when there was none.
  bool SSLCheck();
  bool Init(bool Server);
  bool DeInit();
  bool Prepare(bool Server);
  bool SetSslKeys();
  bool LoadPFX(const std::string& pfxdata);

 private:
  // Clears the error pair before a send or receive; false (code 1) without
  // a connection object.
  bool BeginIo();
  // The common part of Connect and Accept.
  bool Handshake(bool Server);
  // Waits until the handle can be read (want_read) or written, at most
  // `timeout` ms (-1: no limit); false when it could not.
  bool WaitHandle(bool want_read, int32_t timeout = -1);

  // The context for the settings: a stored one, else a new one (stored
  // when it is complete); false as Init fails.
  bool MakeContext(bool Server);
  // CertificateFile, Certificate, PFXfile or PFX is set.
  bool HasOwnCertificate() const;
  // Certificate and PrivateKey of a self-signed certificate for the remote
  // host, made lately for it or made now.
  void UseSelfSignedCert();
  // Every setting the context is built from, into `key`.
  void SettingsKey(bool Server, detail::ContextKey& key) const;

  detail::SslCtxPtr ctx_;
  detail::SslPtr ssl_;
  // SslContext handed ctx_ out: its password callback points at this.
  bool ctx_exposed_ = false;
};

// The factory that SSLImplementation holds once OpenSSL is loaded.
std::unique_ptr<TCustomSSL> MakeSSLOpenSSL(TTCPBlockSocket& Socket);

// Start-up of the TLS unit: loads OpenSSL and, when it loads, makes
// TSSLOpenSSL the plug-in of every TCP socket created afterwards; Finalize
// puts TSSLNone back and unloads OpenSSL.  Both are idempotent.
namespace unit_ssl_openssl {
void Initialize();
void Finalize();
}  // namespace unit_ssl_openssl

}  // namespace velmora::net
