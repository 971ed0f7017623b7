// TSSLOpenSSL: the self-signed server certificate and the accessors of the
// peer certificate and the cipher.
#include <cstdint>
#include <memory>

#include "velmora/net/netutil_text.h"
#include "velmora/net/ssl_openssl.h"
#include "velmora/net/ssl_openssl_entries.h"

namespace velmora::net {

namespace {

struct X509Deleter {
  void operator()(X509* p) const { X509Free(p); }
};
struct PkeyDeleter {
  void operator()(EVP_PKEY* p) const { EvpPkeyFree(p); }
};
struct BioDeleter {
  void operator()(BIO* p) const { BioFreeAll(p); }
};
struct UtcDeleter {
  void operator()(ASN1_UTCTIME* p) const { Asn1UtctimeFree(p); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using UtcPtr = std::unique_ptr<ASN1_UTCTIME, UtcDeleter>;

// The self-signed certificate's constants.
constexpr unsigned kSelfSignedKeyBits = 2048;
constexpr long kSelfSignedVersion = 2;         // X.509 v3
constexpr long kSelfSignedNotBefore = -86400;  // seconds: one day back
constexpr long kSelfSignedNotAfter = 5184000;  // seconds: 60 days
constexpr const char* kSelfSignedDigest = "SHA256";

// What a memory BIO holds.
std::string Drain(BIO* bio) {
  std::string out;
  const int pending = BioCtrlPending(bio);
  if (pending <= 0) return out;
  out.resize(static_cast<size_t>(pending));
  const int n = BioRead(bio, out.data(), pending);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

}  // namespace

bool TSSLOpenSSL::CreateSelfSignedCert(const std::string& Host) {
  PkeyPtr key(EvpRsaGen(kSelfSignedKeyBits));
  X509Ptr cert(X509New());
  if (!key || !cert) return true;
  X509SetVersion(cert.get(), kSelfSignedVersion);
  Asn1IntegerSet(X509GetSerialNumber(cert.get()), 0);
  UtcPtr t(Asn1UtctimeNew());
  X509GmtimeAdj(t.get(), kSelfSignedNotBefore);
  X509SetNotBefore(cert.get(), t.get());
  X509GmtimeAdj(t.get(), kSelfSignedNotAfter);
  X509SetNotAfter(cert.get(), t.get());
  X509SetPubkey(cert.get(), key.get());
  X509_NAME* name = X509GetSubjectName(cert.get());
  X509NameAddEntryByTxt(name, "C", MBSTRING_ASC, "CZ", -1, 0);
  X509NameAddEntryByTxt(name, "CN", MBSTRING_ASC, Host, -1, 0);
  X509SetIssuerName(cert.get(), name);
  X509Sign(cert.get(), key.get(), EvpGetDigestByName(kSelfSignedDigest));
  BioPtr cert_der(BioNew(BioSMem()));
  if (cert_der && i2dX509bio(cert_der.get(), cert.get()) > 0) certificate_ = Drain(cert_der.get());
  BioPtr key_der(BioNew(BioSMem()));
  if (key_der && i2dPrivateKeyBio(key_der.get(), key.get()) > 0)
    private_key_ = Drain(key_der.get());
  return true;
}

std::string TSSLOpenSSL::GetSSLVersion() {
  return ssl_ ? SslGetVersion(ssl_.get()) : std::string();
}

std::string TSSLOpenSSL::GetPeerSubject() {
  if (!ssl_) return "";
  X509Ptr cert(SslGetPeerCertificate(ssl_.get()));
  return cert ? X509NameOneline(X509GetSubjectName(cert.get())) : std::string();
}

std::string TSSLOpenSSL::GetPeerIssuer() {
  if (!ssl_) return "";
  X509Ptr cert(SslGetPeerCertificate(ssl_.get()));
  return cert ? X509NameOneline(X509GetIssuerName(cert.get())) : std::string();
}

std::string TSSLOpenSSL::GetPeerName() {
  std::string s = SeparateRight(GetPeerSubject(), "/CN=");
  return TrimSP(SeparateLeft(s, "/"));
}

int32_t TSSLOpenSSL::GetPeerSerialNo() {
  if (!ssl_) return -1;
  X509Ptr cert(SslGetPeerCertificate(ssl_.get()));
  if (!cert) return -1;
  // A serial beyond the integer's range (certificates commonly carry 16 to
  // 20 random bytes) is -1, as OpenSSL gives for one beyond a long; the
  // error OpenSSL queues for it is no error of a later call.
  const long serial = Asn1IntegerGet(X509GetSerialNumber(cert.get()));
  ErrClearError();
  if (serial < INT32_MIN || serial > INT32_MAX) return -1;
  return static_cast<int32_t>(serial);
}

uint32_t TSSLOpenSSL::GetPeerNameHash() {
  if (!ssl_) return 0;
  X509Ptr cert(SslGetPeerCertificate(ssl_.get()));
  if (!cert) return 0;
  return static_cast<uint32_t>(X509NameHash(X509GetSubjectName(cert.get())));
}

std::string TSSLOpenSSL::GetPeerFingerprint() {
  if (!ssl_) return "";
  X509Ptr cert(SslGetPeerCertificate(ssl_.get()));
  if (!cert) return "";
  unsigned char md[36] = {};
  unsigned int len = 0;
  if (X509Digest(cert.get(), EvpGetDigestByName("MD5"), md, &len) != 1) return "";
  return std::string(reinterpret_cast<const char*>(md), len);
}

std::string TSSLOpenSSL::GetCertInfo() {
  if (!ssl_) return "";
  X509Ptr cert(SslGetPeerCertificate(ssl_.get()));
  BioPtr bio(BioNew(BioSMem()));
  if (!cert || !bio) return "";
  X509print(bio.get(), cert.get());
  std::string text = Drain(bio.get());
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string TSSLOpenSSL::GetCipherName() {
  return ssl_ ? SSLCipherGetName(SSLGetCurrentCipher(ssl_.get())) : std::string();
}

int32_t TSSLOpenSSL::GetCipherBits() {
  if (!ssl_) return 0;
  int alg_bits = 0;
  return SSLCipherGetBits(SSLGetCurrentCipher(ssl_.get()), &alg_bits);
}

int32_t TSSLOpenSSL::GetCipherAlgBits() {
  if (!ssl_) return 0;
  int alg_bits = 0;
  SSLCipherGetBits(SSLGetCurrentCipher(ssl_.get()), &alg_bits);
  return alg_bits;
}

int32_t TSSLOpenSSL::GetVerifyCert() {
  return ssl_ ? static_cast<int32_t>(SSLGetVerifyResult(ssl_.get())) : 1;
}

}  // namespace velmora::net
