// The entry-point table of ssl_openssl_lib (not exported): one pointer per
// OpenSSL function, typed from OpenSSL's own declaration and looked up by
// name when the libraries load.  Included only by the ssl_openssl files.
#pragma once

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/des.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <atomic>

#include "velmora/net/ssl_openssl_lib.h"

namespace velmora::net::detail {

// E(name): the function `name` under its own symbol; A(member, typed_as,
// "symbol"): a symbol whose declaration OpenSSL 3 no longer has (or whose
// current form has another name), typed like `typed_as`.
#define VELMORA_SSL_LIB_ENTRIES(E, A)         \
  E(SSL_get_error)                            \
  E(OPENSSL_init_ssl)                         \
  E(SSL_CTX_set_cipher_list)                  \
  E(SSL_CTX_new)                              \
  E(SSL_CTX_free)                             \
  E(SSL_set_fd)                               \
  A(SSLv2_method, TLS_method, "SSLv2_method") \
  A(SSLv3_method, TLS_method, "SSLv3_method") \
  E(TLSv1_method)                             \
  E(TLS_method)                               \
  E(SSL_CTX_use_PrivateKey)                   \
  E(SSL_CTX_use_PrivateKey_ASN1)              \
  E(SSL_CTX_use_PrivateKey_file)              \
  E(SSL_CTX_use_certificate)                  \
  E(SSL_CTX_use_certificate_ASN1)             \
  E(SSL_CTX_use_certificate_file)             \
  E(SSL_CTX_use_certificate_chain_file)       \
  E(SSL_CTX_check_private_key)                \
  E(SSL_CTX_set_default_passwd_cb)            \
  E(SSL_CTX_set_default_passwd_cb_userdata)   \
  E(SSL_CTX_load_verify_locations)            \
  E(SSL_CTX_ctrl)                             \
  E(SSL_ctrl)                                 \
  E(SSL_new)                                  \
  E(SSL_free)                                 \
  E(SSL_accept)                               \
  E(SSL_connect)                              \
  E(SSL_shutdown)                             \
  E(SSL_read)                                 \
  E(SSL_peek)                                 \
  E(SSL_write)                                \
  E(SSL_pending)                              \
  E(SSL_get_version)                          \
  E(SSL_get1_peer_certificate)                \
  E(SSL_CTX_set_verify)                       \
  E(SSL_get_current_cipher)                   \
  E(SSL_CIPHER_get_name)                      \
  E(SSL_CIPHER_get_bits)                      \
  E(SSL_get_verify_result)                    \
  E(SSL_set_bio)                              \
  E(SSL_set1_host)                            \
  E(SSL_get0_param)                           \
  E(SSL_get_shutdown)                         \
  E(SSL_CTX_up_ref)                           \
  E(SSL_CTX_set_session_ticket_cb)            \
  E(SSL_CTX_get_cert_store)                   \
  E(SSL_CTX_get0_certificate)

#define VELMORA_SSL_CRYPTO_ENTRIES(E, A) \
  E(X509_new)                            \
  E(X509_free)                           \
  E(X509_NAME_oneline)                   \
  E(X509_get_subject_name)               \
  E(X509_get_issuer_name)                \
  E(X509_NAME_hash_ex)                   \
  E(X509_digest)                         \
  E(X509_print)                          \
  E(X509_set_version)                    \
  E(X509_set_pubkey)                     \
  E(X509_set_issuer_name)                \
  E(X509_NAME_add_entry_by_txt)          \
  E(X509_sign)                           \
  E(X509_gmtime_adj)                     \
  E(X509_set1_notBefore)                 \
  E(X509_set1_notAfter)                  \
  E(X509_get_serialNumber)               \
  E(EVP_PKEY_new)                        \
  E(EVP_PKEY_free)                       \
  E(EVP_PKEY_assign)                     \
  E(EVP_get_digestbyname)                \
  E(RSA_generate_key)                    \
  E(EVP_PKEY_Q_keygen)                   \
  E(OpenSSL_version)                     \
  E(OpenSSL_version_num)                 \
  E(ERR_error_string_n)                  \
  E(ERR_get_error)                       \
  E(ERR_clear_error)                     \
  E(ERR_remove_state)                    \
  E(OPENSSL_init_crypto)                 \
  E(BIO_new)                             \
  E(BIO_free_all)                        \
  E(BIO_s_mem)                           \
  E(BIO_ctrl_pending)                    \
  E(BIO_read)                            \
  E(BIO_write)                           \
  E(d2i_PKCS12_bio)                      \
  E(PKCS12_parse)                        \
  E(PKCS12_free)                         \
  E(i2d_X509_bio)                        \
  E(d2i_X509_bio)                        \
  E(PEM_read_bio_X509)                   \
  E(OPENSSL_sk_pop_free)                 \
  E(i2d_PrivateKey_bio)                  \
  E(ASN1_UTCTIME_new)                    \
  E(ASN1_UTCTIME_free)                   \
  E(ASN1_INTEGER_set)                    \
  E(ASN1_INTEGER_get)                    \
  E(DES_set_odd_parity)                  \
  E(DES_set_key_checked)                 \
  E(DES_ecb_encrypt)                     \
  E(X509_VERIFY_PARAM_set1_ip_asc)       \
  E(BIO_get_new_index)                   \
  E(BIO_meth_new)                        \
  E(BIO_meth_free)                       \
  E(BIO_meth_set_write)                  \
  E(BIO_meth_set_read)                   \
  E(BIO_meth_set_ctrl)                   \
  E(BIO_meth_set_create)                 \
  E(BIO_meth_set_destroy)                \
  E(BIO_set_data)                        \
  E(BIO_get_data)                        \
  E(BIO_set_init)                        \
  E(BIO_set_flags)                       \
  E(BIO_clear_flags)                     \
  E(X509_STORE_get0_objects)             \
  E(X509_OBJECT_get0_X509)               \
  E(OPENSSL_sk_num)                      \
  E(OPENSSL_sk_value)                    \
  E(X509_check_purpose)

// The table names functions that OpenSSL 3 marks deprecated (DES, the RSA
// key generator, TLSv1_method, ERR_remove_state): they are bound on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct Entries {
#define VELMORA_SSL_FIELD(name) decltype(&::name) name = nullptr;
#define VELMORA_SSL_ALIAS_FIELD(member, typed_as, symbol) decltype(&::typed_as) member = nullptr;
  VELMORA_SSL_LIB_ENTRIES(VELMORA_SSL_FIELD, VELMORA_SSL_ALIAS_FIELD)
  VELMORA_SSL_CRYPTO_ENTRIES(VELMORA_SSL_FIELD, VELMORA_SSL_ALIAS_FIELD)
#undef VELMORA_SSL_FIELD
#undef VELMORA_SSL_ALIAS_FIELD
};
#pragma GCC diagnostic pop

// Filled under the loader's lock before the loaded flag is set (release),
// cleared by DestroySSLInterface.
extern Entries g_entries;

// Drops the stored contexts of ssl_openssl_cache (DestroySSLInterface calls
// it before unloading).
void ReleaseContexts();

// The loaded flag; InitSSLInterface's fast path reads it without the lock.
extern std::atomic<bool> g_loaded;

// The entry points when OpenSSL is loaded (loading it if needed), else null.
inline const Entries* Loaded() {
  if (g_loaded.load(std::memory_order_acquire) || InitSSLInterface()) return &g_entries;
  return nullptr;
}

}  // namespace velmora::net::detail
