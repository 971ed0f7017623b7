// TSSLOpenSSL: contexts and connection objects, keys and certificates, the
// client and server handshakes, shutdown, and the unit start-up.
#include "velmora/net/ssl_openssl.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "velmora/net/netip.h"
#include "velmora/net/netutil_time.h"
#include "velmora/net/ssl_openssl_bio.h"
#include "velmora/net/ssl_openssl_cache.h"
#include "velmora/net/ssl_openssl_entries.h"
#include "velmora/net/tcp_socket.h"

namespace velmora::net {

namespace detail {
void SslCtxDeleter::operator()(SSL_CTX* p) const {
  SslCtxFree(p);
}
void SslDeleter::operator()(SSL* p) const {
  SslFree(p);
}
}  // namespace detail

namespace {

// The longest BiShutdown waits for the peer's close notification.
constexpr int32_t kShutdownWait = 5000;  // ms

// OpenSSL asks for the key's password: KeyPassword of the plug-in given as
// user data, cut to the buffer's size less the terminating zero.
int PasswordCallback(char* buf, int size, int /*rwflag*/, void* userdata) {
  if (!buf || size <= 0) return 0;
  std::string password;
  if (userdata) password = static_cast<TSSLOpenSSL*>(userdata)->KeyPassword();
  if (password.size() > static_cast<size_t>(size - 1))
    password.resize(static_cast<size_t>(size - 1));
  std::memcpy(buf, password.data(), password.size());
  buf[password.size()] = '\0';
  return static_cast<int>(password.size());
}

// The session tickets that clients bring to a server are never taken back.
SSL_TICKET_RETURN IgnoreTicket(SSL* /*s*/, SSL_SESSION* /*ss*/, const unsigned char* /*keyname*/,
                               size_t /*keyname_length*/, SSL_TICKET_STATUS /*status*/,
                               void* /*arg*/) {
  return SSL_TICKET_RETURN_IGNORE_RENEW;
}

// A memory BIO, freed on every way out.
struct MemBio {
  BIO* bio = BioNew(BioSMem());
  MemBio() = default;
  MemBio(const MemBio&) = delete;
  MemBio& operator=(const MemBio&) = delete;
  ~MemBio() {
    if (bio) BioFreeAll(bio);
  }
};

// The address text without IPv6 brackets ("[::1]" from a tunnel's peer).
std::string Unbracketed(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.substr(1, host.size() - 2);
  return host;
}

bool IsAddress(const std::string& host) {
  return IsIP(host) || IsIP6(host);
}

}  // namespace

TSSLOpenSSL::TSSLOpenSSL(TTCPBlockSocket& Value) : TCustomSSL(Value) {
  ciphers_ = "DEFAULT";
}

TSSLOpenSSL::~TSSLOpenSSL() {
  DeInit();
}

std::string TSSLOpenSSL::LibVersion() {
  return SSLeayversion(0);
}

std::string TSSLOpenSSL::LibName() {
  return "ssl_openssl";
}

bool TSSLOpenSSL::SSLCheck() {
  ssl_error_text_.clear();
  const unsigned long code = ErrGetError();
  ssl_error_code_ = static_cast<int32_t>(code);
  ErrClearError();
  if (code == 0) return true;
  ssl_error_text_ = ErrErrorString(code);
  return false;
}

bool TSSLOpenSSL::Init(bool Server) {
  ssl_error_code_ = 0;
  ssl_error_text_.clear();
  ctx_.reset();
  if (!MakeContext(Server)) return false;
  ssl_.reset(SslNew(ctx_.get()));
  if (!ssl_) {
    SSLCheck();
    return false;
  }
  return true;
}

bool TSSLOpenSSL::MakeContext(bool Server) {
  const SSL_METHOD* method = nullptr;
  switch (ssl_type_) {
    case LT_all:
    case LT_TLSv1:
      method = SslMethodV23();
      break;
    case LT_SSLv2:
      method = SslMethodV2();  // not in OpenSSL 3: the context fails below
      break;
    case LT_SSLv3:
      method = SslMethodV3();  // likewise
      break;
    case LT_TLSv1_1:
    case LT_SSHv2:
      return false;
  }
  // Only the methods that OpenSSL 3 has make contexts worth keeping.
  const bool shared = ssl_type_ == LT_all || ssl_type_ == LT_TLSv1;
  detail::ContextKey key;
  if (shared) {
    // The certificate is part of the settings: it comes first.
    if (Server && !HasOwnCertificate()) UseSelfSignedCert();
    SettingsKey(Server, key);
    if (SSL_CTX* found = detail::FindContext(key)) {
      ctx_.reset(found);
      return true;
    }
  }
  ctx_.reset(SslCtxNew(method));
  if (!ctx_) {
    SSLCheck();
    return false;
  }
  if (ssl_type_ == LT_TLSv1) {
    SslCtxCtrl(ctx_.get(), SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_VERSION, nullptr);
    SslCtxCtrl(ctx_.get(), SSL_CTRL_SET_MAX_PROTO_VERSION, TLS1_VERSION, nullptr);
  }
  // A read that met only protocol records returns to the socket's wait.
  SslCtxCtrl(ctx_.get(), SSL_CTRL_CLEAR_MODE, SSL_MODE_AUTO_RETRY, nullptr);
  SslCtxSetCipherList(ctx_.get(), ciphers_);
  SslCtxSetVerify(ctx_.get(), verify_cert_ ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  SslCtxSetDefaultPasswdCb(ctx_.get(), PasswordCallback);
  SslCtxSetDefaultPasswdCbUserdata(ctx_.get(), this);
  if (Server && !HasOwnCertificate())
    CreateSelfSignedCert(socket_->ResolveIPToName(socket_->GetRemoteSinIP()));
  if (!SetSslKeys()) return false;
  if (shared) {
    // Other connections will hold this context after this plug-in is gone.
    SslCtxSetDefaultPasswdCbUserdata(ctx_.get(), nullptr);
    if (Server) {
      // A server resumes no session, as one with a context of its own per
      // connection: tickets are still issued, but none is taken back, and
      // no session id is remembered.
      SslCtxCtrl(ctx_.get(), SSL_CTRL_SET_SESS_CACHE_MODE, SSL_SESS_CACHE_OFF, nullptr);
      const detail::Entries* e = detail::Loaded();
      if (!e || !e->SSL_CTX_set_session_ticket_cb ||
          e->SSL_CTX_set_session_ticket_cb(ctx_.get(), nullptr, IgnoreTicket, nullptr) != 1)
        return true;  // usable, but not to be shared
    }
    detail::KeepContext(key, ctx_.get());
  }
  return true;
}

bool TSSLOpenSSL::HasOwnCertificate() const {
  return !certificate_file_.empty() || !certificate_.empty() || !pfx_file_.empty() || !pfx_.empty();
}

void TSSLOpenSSL::UseSelfSignedCert() {
  const std::string host = socket_->ResolveIPToName(socket_->GetRemoteSinIP());
  if (detail::FindSelfSigned(host, certificate_, private_key_)) return;
  CreateSelfSignedCert(host);
  detail::KeepSelfSigned(host, certificate_, private_key_);
}

void TSSLOpenSSL::SettingsKey(bool Server, detail::ContextKey& key) const {
  key.server = Server;
  key.ssl_type = static_cast<int>(ssl_type_);
  key.verify = verify_cert_;
  key.ciphers = ciphers_;
  key.ca_file = cert_ca_file_;
  key.certificate_file = certificate_file_;
  key.private_key_file = private_key_file_;
  key.pfx_file = pfx_file_;
  detail::StampFiles(key);
  key.certificate = certificate_;
  key.private_key = private_key_;
  key.pfx = pfx_;
  key.password = key_password_;
}

SSL_CTX* TSSLOpenSSL::SslContext() {
  if (ctx_ && !ctx_exposed_) {
    detail::ForgetContext(ctx_.get());
    detail::SetPasswordUserdata(ctx_.get(), this);
    ctx_exposed_ = true;
  }
  return ctx_.get();
}

bool TSSLOpenSSL::DeInit() {
  ssl_.reset();
  if (ctx_) {
    if (ctx_exposed_) detail::SetPasswordUserdata(ctx_.get(), nullptr);
    ctx_exposed_ = false;
    ctx_.reset();
    ErrRemoveState(0);
  }
  ssl_enabled_ = false;
  ssl_want_read_ = false;
  return true;
}

bool TSSLOpenSSL::Prepare(bool Server) {
  DeInit();
  if (Init(Server)) return true;
  DeInit();
  return false;
}

bool TSSLOpenSSL::SetSslKeys() {
  if (!ctx_) return false;
  SSL_CTX* ctx = ctx_.get();
  bool ok = [&] {
    if (!certificate_file_.empty() && SslCtxUseCertificateChainFile(ctx, certificate_file_) != 1 &&
        SslCtxUseCertificateFile(ctx, certificate_file_, SSL_FILETYPE_PEM) != 1 &&
        SslCtxUseCertificateFile(ctx, certificate_file_, SSL_FILETYPE_ASN1) != 1)
      return false;
    if (!certificate_.empty() && SslCtxUseCertificateASN1(ctx, certificate_) != 1) return false;
    // What a fallback above left queued is not an error of this call.
    SSLCheck();
    if (!private_key_file_.empty() &&
        SslCtxUsePrivateKeyFile(ctx, private_key_file_, SSL_FILETYPE_PEM) != 1 &&
        SslCtxUsePrivateKeyFile(ctx, private_key_file_, SSL_FILETYPE_ASN1) != 1)
      return false;
    if (!private_key_.empty() && SslCtxUsePrivateKeyASN1(EVP_PKEY_RSA, ctx, private_key_) != 1)
      return false;
    SSLCheck();
    if (!cert_ca_file_.empty() && SslCtxLoadVerifyLocations(ctx, cert_ca_file_, "") != 1)
      return false;
    if (!pfx_file_.empty()) {
      std::ifstream in(pfx_file_, std::ios::binary);
      if (!in) return false;
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (in.bad() || !LoadPFX(bytes)) return false;
    }
    if (!pfx_.empty() && !LoadPFX(pfx_)) return false;
    return true;
  }();
  SSLCheck();
  return ok;
}

bool TSSLOpenSSL::LoadPFX(const std::string& pfxdata) {
  MemBio mem;
  if (!mem.bio || !ctx_) return false;
  BioWrite(mem.bio, pfxdata.data(), static_cast<int>(pfxdata.size()));
  PKCS12* p12 = d2iPKCS12bio(mem.bio, nullptr);
  if (!p12) return false;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  stack_st_X509* ca = nullptr;
  bool ok = PKCS12parse(p12, key_password_, &key, &cert, &ca) > 0 &&
            SslCtxUseCertificate(ctx_.get(), cert) > 0 && SslCtxUsePrivateKey(ctx_.get(), key) > 0;
  if (key) EvpPkeyFree(key);
  if (cert) X509Free(cert);
  if (ca) SkX509PopFree(ca);
  PKCS12free(p12);
  return ok;
}

bool TSSLOpenSSL::Handshake(bool Server) {
  const TSocket fd = socket_->Socket();
  if (fd == INVALID_SOCKET) return false;
  if (!Prepare(Server)) return false;
  SSL* ssl = ssl_.get();
  BIO* bio = detail::NewSocketBio(fd);
  if (!bio) {
    SSLCheck();
    return false;
  }
  SslSetBio(ssl, bio, bio);
  if (!Server) {
    // The connected address is asked for only when the host check needs it.
    const std::string target = Unbracketed(!sni_host_.empty() ? sni_host_
                                           : verify_cert_     ? socket_->GetRemoteSinIP()
                                                              : std::string());
    // An address is never a server name.
    if (!sni_host_.empty() && !IsAddress(target))
      SSLCtrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
              const_cast<char*>(target.c_str()));
    // A valid chain is not enough: it must be issued to the host we meant.
    if (verify_cert_ && !target.empty()) {
      if (IsAddress(target))
        SslSetIpHost(ssl, target);
      else
        SslSet1Host(ssl, target);
    }
  }
  ErrClearError();
  for (;;) {
    const int r = Server ? SslAccept(ssl) : SslConnect(ssl);
    if (r >= 1) break;
    const int err = SslGetError(ssl, r);
    if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) &&
        WaitHandle(err == SSL_ERROR_WANT_READ))
      continue;
    if (!SSLCheck()) return false;
    // No text in OpenSSL's queue (the peer closed, a system error): name it.
    ssl_error_code_ = err;
    ssl_error_text_ = err == SSL_ERROR_SYSCALL ? "TLS handshake: the connection was closed or reset"
                                               : "TLS handshake failed";
    return false;
  }
  if (!Server && verify_cert_ && (GetVerifyCert() != 0 || !DoVerifyCert())) return false;
  ssl_enabled_ = true;
  return true;
}

bool TSSLOpenSSL::Connect() {
  return Handshake(false);
}

bool TSSLOpenSSL::Accept() {
  return Handshake(true);
}

bool TSSLOpenSSL::Shutdown() {
  if (ssl_) SslShutdown(ssl_.get());
  DeInit();
  return true;
}

bool TSSLOpenSSL::BiShutdown() {
  if (ssl_ && SslShutdown(ssl_.get()) == 0) {
    net::Shutdown(socket_->Socket(), SHUT_WR);
    // The second call waits for the peer's close notification, but not
    // forever: a peer that never answers must not hold the close.
    const uint32_t start = GetTick();
    for (;;) {
      const int r = SslShutdown(ssl_.get());
      if (r >= 0 || SslGetError(ssl_.get(), r) != SSL_ERROR_WANT_READ) break;
      const int64_t spent = TickDelta(start, GetTick());
      if (spent >= kShutdownWait || !WaitHandle(true, static_cast<int32_t>(kShutdownWait - spent)))
        break;
    }
  }
  ErrClearError();
  DeInit();
  return true;
}

std::unique_ptr<TCustomSSL> MakeSSLOpenSSL(TTCPBlockSocket& Socket) {
  return std::make_unique<TSSLOpenSSL>(Socket);
}

namespace unit_ssl_openssl {

void Initialize() {
  if (InitSSLInterface()) SSLImplementation = MakeSSLOpenSSL;
}

void Finalize() {
  if (SSLImplementation == MakeSSLOpenSSL) SSLImplementation = MakeSSLNone;
  DestroySSLInterface();
}

}  // namespace unit_ssl_openssl

}  // namespace velmora::net
