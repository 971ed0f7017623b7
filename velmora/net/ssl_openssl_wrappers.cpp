// ssl_openssl_lib: the wrappers.  Each loads OpenSSL if needed and calls its
// entry point when bound, else returns its neutral value.
#include <cstring>

#include "velmora/net/ssl_openssl_entries.h"
#include "velmora/net/ssl_openssl_lib.h"

namespace velmora::net {

using detail::Entries;
using detail::Loaded;

// VELMORA_CALL(entry, neutral, args...): the entry's result, or `neutral`
// when OpenSSL or the entry point is missing.
#define VELMORA_CALL(entry, neutral, ...)                          \
  do {                                                             \
    const Entries* e_ = Loaded();                                  \
    return (e_ && e_->entry) ? e_->entry(__VA_ARGS__) : (neutral); \
  } while (0)
#define VELMORA_CALL_VOID(entry, ...)            \
  do {                                           \
    const Entries* e_ = Loaded();                \
    if (e_ && e_->entry) e_->entry(__VA_ARGS__); \
  } while (0)

namespace {

// A zero-terminated text from OpenSSL (null gives "").
std::string Text(const char* p) {
  return p ? std::string(p) : std::string();
}

}  // namespace

// --- TLS library.

int SslGetError(const SSL* s, int ret_code) {
  VELMORA_CALL(SSL_get_error, SSL_ERROR_SSL, s, ret_code);
}
int SslLibraryInit() {
  VELMORA_CALL(OPENSSL_init_ssl, 1, 0, nullptr);
}
void SslLoadErrorStrings() {
  VELMORA_CALL_VOID(OPENSSL_init_ssl,
                    OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
}
int SslCtxSetCipherList(SSL_CTX* ctx, const std::string& str) {
  VELMORA_CALL(SSL_CTX_set_cipher_list, 0, ctx, str.c_str());
}
SSL_CTX* SslCtxNew(const SSL_METHOD* meth) {
  VELMORA_CALL(SSL_CTX_new, nullptr, meth);
}
void SslCtxFree(SSL_CTX* ctx) {
  VELMORA_CALL_VOID(SSL_CTX_free, ctx);
}
int SslSetFd(SSL* s, int fd) {
  VELMORA_CALL(SSL_set_fd, 0, s, fd);
}
const SSL_METHOD* SslMethodV2() {
  VELMORA_CALL(SSLv2_method, nullptr);
}
const SSL_METHOD* SslMethodV3() {
  VELMORA_CALL(SSLv3_method, nullptr);
}
const SSL_METHOD* SslMethodTLSV1() {
  VELMORA_CALL(TLSv1_method, nullptr);
}
const SSL_METHOD* SslMethodV23() {
  VELMORA_CALL(TLS_method, nullptr);
}
int SslCtxUsePrivateKey(SSL_CTX* ctx, EVP_PKEY* pkey) {
  VELMORA_CALL(SSL_CTX_use_PrivateKey, 0, ctx, pkey);
}
int SslCtxUsePrivateKeyASN1(int pk, SSL_CTX* ctx, const std::string& d) {
  VELMORA_CALL(SSL_CTX_use_PrivateKey_ASN1, 0, pk, ctx,
               reinterpret_cast<const unsigned char*>(d.data()), static_cast<long>(d.size()));
}
int SslCtxUsePrivateKeyFile(SSL_CTX* ctx, const std::string& file, int type) {
  VELMORA_CALL(SSL_CTX_use_PrivateKey_file, 0, ctx, file.c_str(), type);
}
int SslCtxUseCertificate(SSL_CTX* ctx, X509* x) {
  VELMORA_CALL(SSL_CTX_use_certificate, 0, ctx, x);
}
int SslCtxUseCertificateASN1(SSL_CTX* ctx, const std::string& d) {
  VELMORA_CALL(SSL_CTX_use_certificate_ASN1, 0, ctx, static_cast<int>(d.size()),
               reinterpret_cast<const unsigned char*>(d.data()));
}
int SslCtxUseCertificateFile(SSL_CTX* ctx, const std::string& file, int type) {
  VELMORA_CALL(SSL_CTX_use_certificate_file, 0, ctx, file.c_str(), type);
}
int SslCtxUseCertificateChainFile(SSL_CTX* ctx, const std::string& file) {
  VELMORA_CALL(SSL_CTX_use_certificate_chain_file, 0, ctx, file.c_str());
}
int SslCtxCheckPrivateKeyFile(const SSL_CTX* ctx) {
  VELMORA_CALL(SSL_CTX_check_private_key, 0, ctx);
}
void SslCtxSetDefaultPasswdCb(SSL_CTX* ctx, TPasswordCallback cb) {
  VELMORA_CALL_VOID(SSL_CTX_set_default_passwd_cb, ctx, cb);
}
void SslCtxSetDefaultPasswdCbUserdata(SSL_CTX* ctx, void* u) {
  VELMORA_CALL_VOID(SSL_CTX_set_default_passwd_cb_userdata, ctx, u);
}
int SslCtxLoadVerifyLocations(SSL_CTX* ctx, const std::string& CAfile, const std::string& CApath) {
  VELMORA_CALL(SSL_CTX_load_verify_locations, 0, ctx, CAfile.empty() ? nullptr : CAfile.c_str(),
               CApath.empty() ? nullptr : CApath.c_str());
}
long SslCtxCtrl(SSL_CTX* ctx, int cmd, long larg, void* parg) {
  VELMORA_CALL(SSL_CTX_ctrl, 0, ctx, cmd, larg, parg);
}
long SSLCtrl(SSL* s, int cmd, long larg, void* parg) {
  VELMORA_CALL(SSL_ctrl, X509_V_ERR_APPLICATION_VERIFICATION, s, cmd, larg, parg);
}
SSL* SslNew(SSL_CTX* ctx) {
  VELMORA_CALL(SSL_new, nullptr, ctx);
}
void SslFree(SSL* s) {
  VELMORA_CALL_VOID(SSL_free, s);
}
int SslAccept(SSL* s) {
  VELMORA_CALL(SSL_accept, -1, s);
}
int SslConnect(SSL* s) {
  VELMORA_CALL(SSL_connect, -1, s);
}
int SslShutdown(SSL* s) {
  VELMORA_CALL(SSL_shutdown, -1, s);
}
int SslRead(SSL* s, void* buf, int num) {
  VELMORA_CALL(SSL_read, -1, s, buf, num);
}
int SslPeek(SSL* s, void* buf, int num) {
  VELMORA_CALL(SSL_peek, -1, s, buf, num);
}
int SslWrite(SSL* s, const void* buf, int num) {
  VELMORA_CALL(SSL_write, -1, s, buf, num);
}
int SslPending(const SSL* s) {
  VELMORA_CALL(SSL_pending, 0, s);
}
std::string SslGetVersion(const SSL* s) {
  const Entries* e = Loaded();
  return (e && e->SSL_get_version) ? Text(e->SSL_get_version(s)) : std::string();
}
X509* SslGetPeerCertificate(const SSL* s) {
  VELMORA_CALL(SSL_get1_peer_certificate, nullptr, s);
}
void SslCtxSetVerify(SSL_CTX* ctx, int mode, int (*cb)(int, X509_STORE_CTX*)) {
  VELMORA_CALL_VOID(SSL_CTX_set_verify, ctx, mode, cb);
}
const SSL_CIPHER* SSLGetCurrentCipher(const SSL* s) {
  VELMORA_CALL(SSL_get_current_cipher, nullptr, s);
}
std::string SSLCipherGetName(const SSL_CIPHER* c) {
  const Entries* e = Loaded();
  return (e && e->SSL_CIPHER_get_name) ? Text(e->SSL_CIPHER_get_name(c)) : std::string();
}
int SSLCipherGetBits(const SSL_CIPHER* c, int* alg_bits) {
  VELMORA_CALL(SSL_CIPHER_get_bits, 0, c, alg_bits);
}
long SSLGetVerifyResult(const SSL* s) {
  VELMORA_CALL(SSL_get_verify_result, X509_V_ERR_APPLICATION_VERIFICATION, s);
}
void SslSetBio(SSL* s, BIO* rbio, BIO* wbio) {
  VELMORA_CALL_VOID(SSL_set_bio, s, rbio, wbio);
}
int SslSet1Host(SSL* s, const std::string& hostname) {
  VELMORA_CALL(SSL_set1_host, 0, s, hostname.c_str());
}
int SslSetIpHost(SSL* s, const std::string& ip) {
  const Entries* e = Loaded();
  if (!e || !e->SSL_get0_param || !e->X509_VERIFY_PARAM_set1_ip_asc) return 0;
  return e->X509_VERIFY_PARAM_set1_ip_asc(e->SSL_get0_param(s), ip.c_str());
}
int SslShutdownState(const SSL* s) {
  VELMORA_CALL(SSL_get_shutdown, 0, s);
}

// --- Crypto library.

X509* X509New() {
  VELMORA_CALL(X509_new, nullptr);
}
void X509Free(X509* x) {
  VELMORA_CALL_VOID(X509_free, x);
}
std::string X509NameOneline(const X509_NAME* a) {
  const Entries* e = Loaded();
  if (!e || !e->X509_NAME_oneline) return std::string();
  char buffer[4096] = {};
  e->X509_NAME_oneline(a, buffer, sizeof buffer);
  return std::string(buffer, ::strnlen(buffer, sizeof buffer));
}
X509_NAME* X509GetSubjectName(const X509* a) {
  VELMORA_CALL(X509_get_subject_name, nullptr, a);
}
X509_NAME* X509GetIssuerName(const X509* a) {
  VELMORA_CALL(X509_get_issuer_name, nullptr, a);
}
unsigned long X509NameHash(const X509_NAME* x) {
  VELMORA_CALL(X509_NAME_hash_ex, 0UL, x, nullptr, nullptr, nullptr);
}
int X509Digest(const X509* data, const EVP_MD* type, unsigned char* md, unsigned int* len) {
  VELMORA_CALL(X509_digest, 0, data, type, md, len);
}
int X509print(BIO* b, X509* a) {
  VELMORA_CALL(X509_print, 0, b, a);
}
int X509SetVersion(X509* x, long version) {
  VELMORA_CALL(X509_set_version, 0, x, version);
}
int X509SetPubkey(X509* x, EVP_PKEY* pkey) {
  VELMORA_CALL(X509_set_pubkey, 0, x, pkey);
}
int X509SetIssuerName(X509* x, const X509_NAME* name) {
  VELMORA_CALL(X509_set_issuer_name, 0, x, name);
}
int X509NameAddEntryByTxt(X509_NAME* name, const std::string& field, int type,
                          const std::string& bytes, int loc, int set) {
  VELMORA_CALL(X509_NAME_add_entry_by_txt, 0, name, field.c_str(), type,
               reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()),
               loc, set);
}
int X509Sign(X509* x, EVP_PKEY* pkey, const EVP_MD* md) {
  VELMORA_CALL(X509_sign, 0, x, pkey, md);
}
ASN1_TIME* X509GmtimeAdj(ASN1_TIME* s, long adj) {
  VELMORA_CALL(X509_gmtime_adj, nullptr, s, adj);
}
int X509SetNotBefore(X509* x, const ASN1_TIME* tm) {
  VELMORA_CALL(X509_set1_notBefore, 0, x, tm);
}
int X509SetNotAfter(X509* x, const ASN1_TIME* tm) {
  VELMORA_CALL(X509_set1_notAfter, 0, x, tm);
}
ASN1_INTEGER* X509GetSerialNumber(X509* x) {
  VELMORA_CALL(X509_get_serialNumber, nullptr, x);
}
EVP_PKEY* EvpPkeyNew() {
  VELMORA_CALL(EVP_PKEY_new, nullptr);
}
void EvpPkeyFree(EVP_PKEY* pkey) {
  VELMORA_CALL_VOID(EVP_PKEY_free, pkey);
}
int EvpPkeyAssign(EVP_PKEY* pkey, int type, void* key) {
  VELMORA_CALL(EVP_PKEY_assign, 0, pkey, type, key);
}
void EVPcleanup() {
  // OpenSSL 3 frees its tables at exit by itself.
}
const EVP_MD* EvpGetDigestByName(const std::string& name) {
  VELMORA_CALL(EVP_get_digestbyname, nullptr, name.c_str());
}
RSA* RsaGenerateKey(int bits, unsigned long e, void (*cb)(int, int, void*), void* cb_arg) {
  VELMORA_CALL(RSA_generate_key, nullptr, bits, e, cb, cb_arg);
}
EVP_PKEY* EvpRsaGen(unsigned int bits) {
  VELMORA_CALL(EVP_PKEY_Q_keygen, nullptr, nullptr, nullptr, "RSA", static_cast<size_t>(bits));
}
std::string SSLeayversion(int t) {
  const Entries* e = Loaded();
  return (e && e->OpenSSL_version) ? Text(e->OpenSSL_version(t)) : std::string();
}
std::string ErrErrorString(unsigned long e) {
  const Entries* en = Loaded();
  if (!en || !en->ERR_error_string_n) return std::string();
  char buffer[256] = {};
  en->ERR_error_string_n(e, buffer, sizeof buffer);
  return std::string(buffer, ::strnlen(buffer, sizeof buffer));
}
unsigned long ErrGetError() {
  VELMORA_CALL(ERR_get_error, 1UL);
}
void ErrClearError() {
  VELMORA_CALL_VOID(ERR_clear_error);
}
void ErrFreeStrings() {
  // OpenSSL 3 frees its error texts at exit by itself.
}
void ErrRemoveState(int pid) {
  VELMORA_CALL_VOID(ERR_remove_state, static_cast<unsigned long>(pid));
}
void OPENSSLaddallalgorithms() {
  VELMORA_CALL_VOID(OPENSSL_init_crypto,
                    OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
}
void CRYPTOcleanupAllExData() {
  // Done by OpenSSL 3 at exit.
}
void RandScreen() {
  // OpenSSL 3 seeds its generator from the operating system.
}
BIO* BioNew(const BIO_METHOD* b) {
  VELMORA_CALL(BIO_new, nullptr, b);
}
void BioFreeAll(BIO* b) {
  VELMORA_CALL_VOID(BIO_free_all, b);
}
const BIO_METHOD* BioSMem() {
  VELMORA_CALL(BIO_s_mem, nullptr);
}
int BioCtrlPending(BIO* b) {
  VELMORA_CALL(BIO_ctrl_pending, 0, b);
}
int BioRead(BIO* b, void* data, int dlen) {
  VELMORA_CALL(BIO_read, -2, b, data, dlen);
}
int BioWrite(BIO* b, const void* data, int dlen) {
  VELMORA_CALL(BIO_write, -2, b, data, dlen);
}
PKCS12* d2iPKCS12bio(BIO* bp, PKCS12** p12) {
  VELMORA_CALL(d2i_PKCS12_bio, nullptr, bp, p12);
}
int PKCS12parse(PKCS12* p12, const std::string& pass, EVP_PKEY** pkey, X509** cert,
                stack_st_X509** ca) {
  VELMORA_CALL(PKCS12_parse, 0, p12, pass.c_str(), pkey, cert, ca);
}
void PKCS12free(PKCS12* p12) {
  VELMORA_CALL_VOID(PKCS12_free, p12);
}
int i2dX509bio(BIO* bp, const X509* x509) {
  VELMORA_CALL(i2d_X509_bio, 0, bp, x509);
}
X509* d2iX509bio(BIO* bp, X509** x509) {
  VELMORA_CALL(d2i_X509_bio, nullptr, bp, x509);
}
X509* PEMReadBioX509(BIO* bp, X509** x, TPasswordCallback cb, void* u) {
  VELMORA_CALL(PEM_read_bio_X509, nullptr, bp, x, cb, u);
}
void SkX509PopFree(stack_st_X509* sk) {
  const Entries* e = Loaded();
  if (!e || !e->OPENSSL_sk_pop_free || !e->X509_free || !sk) return;
  // OpenSSL's stack functions take the element destructor as a generic
  // pointer-to-function; X509_free has that shape for X509 elements.
  e->OPENSSL_sk_pop_free(reinterpret_cast<OPENSSL_STACK*>(sk),
                         reinterpret_cast<OPENSSL_sk_freefunc>(e->X509_free));
}
int i2dPrivateKeyBio(BIO* bp, const EVP_PKEY* pkey) {
  VELMORA_CALL(i2d_PrivateKey_bio, 0, bp, pkey);
}
ASN1_UTCTIME* Asn1UtctimeNew() {
  VELMORA_CALL(ASN1_UTCTIME_new, nullptr);
}
void Asn1UtctimeFree(ASN1_UTCTIME* a) {
  VELMORA_CALL_VOID(ASN1_UTCTIME_free, a);
}
int Asn1IntegerSet(ASN1_INTEGER* a, long v) {
  VELMORA_CALL(ASN1_INTEGER_set, 0, a, v);
}
long Asn1IntegerGet(const ASN1_INTEGER* a) {
  VELMORA_CALL(ASN1_INTEGER_get, 0L, a);
}

static_assert(sizeof(TDesKeySchedule) == sizeof(DES_key_schedule));
static_assert(sizeof(TDesCBlock) == sizeof(DES_cblock));

void DESsetoddparity(TDesCBlock key) {
  VELMORA_CALL_VOID(DES_set_odd_parity, reinterpret_cast<DES_cblock*>(key.data()));
}
int DESsetkeychecked(TDesCBlock key, TDesKeySchedule schedule) {
  DES_key_schedule ks;
  std::memcpy(&ks, schedule.data(), sizeof ks);
  VELMORA_CALL(DES_set_key_checked, -1, reinterpret_cast<const_DES_cblock*>(key.data()), &ks);
}
void DESecbencrypt(TDesCBlock input, TDesCBlock output, TDesKeySchedule schedule, int enc) {
  DES_key_schedule ks;
  std::memcpy(&ks, schedule.data(), sizeof ks);
  VELMORA_CALL_VOID(DES_ecb_encrypt, reinterpret_cast<const_DES_cblock*>(input.data()),
                    reinterpret_cast<DES_cblock*>(output.data()), &ks, enc);
}

}  // namespace velmora::net
