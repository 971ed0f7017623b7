// ssl_openssl_lib: OpenSSL 3 bound at run time.
//
// The TLS library (DLLSSLName, "libssl.so.3") and the crypto library
// (DLLUtilName, "libcrypto.so.3") are opened with dlopen on first use, their
// entry points looked up by name and typed from OpenSSL's own declarations.
// Every wrapper below first makes sure the libraries are loaded
// (InitSSLInterface) and calls OpenSSL only when that succeeded and its entry
// point was found; otherwise it returns the neutral value written beside it.
// A failed load is not remembered: the next wrapper call tries again, so a
// host may change the library names and retry.  Where OpenSSL is missing the
// library still loads; TLS then stays unavailable (TSSLNone).
//
// Functions that OpenSSL 3 no longer has are bound to their current
// equivalents (TLS_method for the version-flexible method, OpenSSL_version,
// SSL_get1_peer_certificate, X509_set1_notBefore, OPENSSL_sk_pop_free,
// X509_NAME_hash_ex, OPENSSL_init_ssl/_crypto); what OpenSSL 3 does itself
// (thread locking, seeding, clean-up at exit) is left to it.
//
// Thread safety: InitSSLInterface may be called from any thread.
// DestroySSLInterface must not run while another thread is inside a wrapper.
#pragma once

#include <openssl/types.h>

#include <array>
#include <cstdint>
#include <string>

// OpenSSL types that <openssl/types.h> does not declare (the same
// declarations as OpenSSL's own headers, so both may be included).
struct ssl_method_st;
struct ssl_cipher_st;
struct bio_method_st;
struct PKCS12_st;
struct stack_st_X509;
typedef struct ssl_method_st SSL_METHOD;
typedef struct ssl_cipher_st SSL_CIPHER;
typedef struct bio_method_st BIO_METHOD;
typedef struct PKCS12_st PKCS12;

namespace velmora::net {

// --- Loader state.
extern std::string DLLSSLName;   // first name tried for the TLS library
extern std::string DLLSSLName2;  // second name tried for the TLS library
extern std::string DLLUtilName;  // the crypto library
// Library handles (dlopen's), null when not loaded.
extern void* SSLLibHandle;
extern void* SSLUtilHandle;
// Full paths of the loaded libraries, as the dynamic loader reports them.
extern std::string SSLLibFile;
extern std::string SSLUtilFile;
// OpenSSL's X509_free (null while not loaded), for use as an element
// destructor.
using TX509FreeProc = void (*)(X509*);
extern TX509FreeProc _X509Free;

// Loads and initialises OpenSSL if that is not done yet; true when loaded.
bool InitSSLInterface();
// Unloads OpenSSL and forgets every entry point; always true.
bool DestroySSLInterface();
// Both libraries are loaded and initialised.
bool IsSSLloaded();

// The password callback type of SslCtxSetDefaultPasswdCb (OpenSSL's
// pem_password_cb).
using TPasswordCallback = int (*)(char* buf, int size, int rwflag, void* userdata);
// An 8-byte DES block and a DES key schedule, passed by value so that what
// OpenSSL writes there stays inside the wrapper.
using TDesCBlock = std::array<uint8_t, 8>;
using TDesKeySchedule = std::array<uint8_t, 128>;

// --- TLS library (neutral value in the comment).
int SslGetError(const SSL* s, int ret_code);                                    // 1
int SslLibraryInit();                                                           // 1
void SslLoadErrorStrings();                                                     // -
int SslCtxSetCipherList(SSL_CTX* ctx, const std::string& str);                  // 0
SSL_CTX* SslCtxNew(const SSL_METHOD* meth);                                     // null
void SslCtxFree(SSL_CTX* ctx);                                                  // -
int SslSetFd(SSL* s, int fd);                                                   // 0
const SSL_METHOD* SslMethodV2();                                                // null
const SSL_METHOD* SslMethodV3();                                                // null
const SSL_METHOD* SslMethodTLSV1();                                             // null
const SSL_METHOD* SslMethodV23();                                               // null
int SslCtxUsePrivateKey(SSL_CTX* ctx, EVP_PKEY* pkey);                          // 0
int SslCtxUsePrivateKeyASN1(int pk, SSL_CTX* ctx, const std::string& d);        // 0
int SslCtxUsePrivateKeyFile(SSL_CTX* ctx, const std::string& file, int type);   // 0
int SslCtxUseCertificate(SSL_CTX* ctx, X509* x);                                // 0
int SslCtxUseCertificateASN1(SSL_CTX* ctx, const std::string& d);               // 0
int SslCtxUseCertificateFile(SSL_CTX* ctx, const std::string& file, int type);  // 0
int SslCtxUseCertificateChainFile(SSL_CTX* ctx, const std::string& file);       // 0
int SslCtxCheckPrivateKeyFile(const SSL_CTX* ctx);                              // 0
void SslCtxSetDefaultPasswdCb(SSL_CTX* ctx, TPasswordCallback cb);              // -
void SslCtxSetDefaultPasswdCbUserdata(SSL_CTX* ctx, void* u);                   // -
int SslCtxLoadVerifyLocations(SSL_CTX* ctx, const std::string& CAfile,
                              const std::string& CApath);       // 0
long SslCtxCtrl(SSL_CTX* ctx, int cmd, long larg, void* parg);  // 0
long SSLCtrl(SSL* s, int cmd, long larg, void* parg);           // 50
SSL* SslNew(SSL_CTX* ctx);                                      // null
void SslFree(SSL* s);                                           // -
int SslAccept(SSL* s);                                          // -1
int SslConnect(SSL* s);                                         // -1
int SslShutdown(SSL* s);                                        // -1
int SslRead(SSL* s, void* buf, int num);                        // -1
int SslPeek(SSL* s, void* buf, int num);                        // -1
int SslWrite(SSL* s, const void* buf, int num);                 // -1
int SslPending(const SSL* s);                                   // 0
std::string SslGetVersion(const SSL* s);                        // ""
X509* SslGetPeerCertificate(const SSL* s);                      // null; the caller frees it
void SslCtxSetVerify(SSL_CTX* ctx, int mode, int (*cb)(int, X509_STORE_CTX*));  // -
const SSL_CIPHER* SSLGetCurrentCipher(const SSL* s);                            // null
std::string SSLCipherGetName(const SSL_CIPHER* c);                              // ""
int SSLCipherGetBits(const SSL_CIPHER* c, int* alg_bits);                       // 0
long SSLGetVerifyResult(const SSL* s);                                          // 50
// Beyond the classic table: what the plug-in needs from OpenSSL 3.
void SslSetBio(SSL* s, BIO* rbio, BIO* wbio);          // -
int SslSet1Host(SSL* s, const std::string& hostname);  // 0
int SslSetIpHost(SSL* s, const std::string& ip);       // 0
int SslShutdownState(const SSL* s);                    // SSL_get_shutdown; 0

// --- Crypto library.
X509* X509New();                                                                             // null
void X509Free(X509* x);                                                                      // -
std::string X509NameOneline(const X509_NAME* a);                                             // ""
X509_NAME* X509GetSubjectName(const X509* a);                                                // null
X509_NAME* X509GetIssuerName(const X509* a);                                                 // null
unsigned long X509NameHash(const X509_NAME* x);                                              // 0
int X509Digest(const X509* data, const EVP_MD* type, unsigned char* md, unsigned int* len);  // 0
int X509print(BIO* b, X509* a);                                                              // 0
int X509SetVersion(X509* x, long version);                                                   // 0
int X509SetPubkey(X509* x, EVP_PKEY* pkey);                                                  // 0
int X509SetIssuerName(X509* x, const X509_NAME* name);                                       // 0
int X509NameAddEntryByTxt(X509_NAME* name, const std::string& field, int type,
                          const std::string& bytes, int loc, int set);                      // 0
int X509Sign(X509* x, EVP_PKEY* pkey, const EVP_MD* md);                                    // 0
ASN1_TIME* X509GmtimeAdj(ASN1_TIME* s, long adj);                                           // null
int X509SetNotBefore(X509* x, const ASN1_TIME* tm);                                         // 0
int X509SetNotAfter(X509* x, const ASN1_TIME* tm);                                          // 0
ASN1_INTEGER* X509GetSerialNumber(X509* x);                                                 // null
EVP_PKEY* EvpPkeyNew();                                                                     // null
void EvpPkeyFree(EVP_PKEY* pkey);                                                           // -
int EvpPkeyAssign(EVP_PKEY* pkey, int type, void* key);                                     // 0
void EVPcleanup();                                                                          // -
const EVP_MD* EvpGetDigestByName(const std::string& name);                                  // null
RSA* RsaGenerateKey(int bits, unsigned long e, void (*cb)(int, int, void*), void* cb_arg);  // null
// Beyond the classic table: an RSA key as an EVP_PKEY (EVP_RSA_gen).
EVP_PKEY* EvpRsaGen(unsigned int bits);            // null
std::string SSLeayversion(int t);                  // ""
std::string ErrErrorString(unsigned long e);       // ""
unsigned long ErrGetError();                       // 1
void ErrClearError();                              // -
void ErrFreeStrings();                             // -
void ErrRemoveState(int pid);                      // -
void OPENSSLaddallalgorithms();                    // -
void CRYPTOcleanupAllExData();                     // -
void RandScreen();                                 // -
BIO* BioNew(const BIO_METHOD* b);                  // null
void BioFreeAll(BIO* b);                           // -
const BIO_METHOD* BioSMem();                       // null
int BioCtrlPending(BIO* b);                        // 0
int BioRead(BIO* b, void* data, int dlen);         // -2
int BioWrite(BIO* b, const void* data, int dlen);  // -2
PKCS12* d2iPKCS12bio(BIO* bp, PKCS12** p12);       // null
int PKCS12parse(PKCS12* p12, const std::string& pass, EVP_PKEY** pkey, X509** cert,
                stack_st_X509** ca);                                     // 0
void PKCS12free(PKCS12* p12);                                            // -
int i2dX509bio(BIO* bp, const X509* x509);                               // 0
X509* d2iX509bio(BIO* bp, X509** x509);                                  // null
X509* PEMReadBioX509(BIO* bp, X509** x, TPasswordCallback cb, void* u);  // null
// Frees the list and every certificate in it.
void SkX509PopFree(stack_st_X509* sk);                                                 // -
int i2dPrivateKeyBio(BIO* bp, const EVP_PKEY* pkey);                                   // 0
ASN1_UTCTIME* Asn1UtctimeNew();                                                        // null
void Asn1UtctimeFree(ASN1_UTCTIME* a);                                                 // -
int Asn1IntegerSet(ASN1_INTEGER* a, long v);                                           // 0
long Asn1IntegerGet(const ASN1_INTEGER* a);                                            // 0
void DESsetoddparity(TDesCBlock key);                                                  // -
int DESsetkeychecked(TDesCBlock key, TDesKeySchedule schedule);                        // -1
void DESecbencrypt(TDesCBlock input, TDesCBlock output, TDesKeySchedule ks, int enc);  // -

}  // namespace velmora::net
