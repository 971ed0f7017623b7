// ssl_openssl_lib: loading and unloading OpenSSL, and the loader state.
#include "velmora/net/ssl_openssl_lib.h"

#include <dlfcn.h>
#include <link.h>

#include <mutex>

#include "velmora/net/ssl_openssl_entries.h"

namespace velmora::net {

std::string DLLSSLName = "libssl.so.3";
// A second name for the TLS library; whatever it loads must be OpenSSL 3 or
// later (the entry points are typed from OpenSSL 3's declarations).
std::string DLLSSLName2 = "libssl.so";
std::string DLLUtilName = "libcrypto.so.3";
void* SSLLibHandle = nullptr;
void* SSLUtilHandle = nullptr;
std::string SSLLibFile;
std::string SSLUtilFile;
TX509FreeProc _X509Free = nullptr;

namespace detail {
Entries g_entries;
std::atomic<bool> g_loaded{false};
}  // namespace detail

namespace {

using detail::g_entries;
using detail::g_loaded;

// Guards loading and unloading.  A function-local static: usable from any
// other unit's start-up, whatever order static initialisers run in.
std::mutex& InterfaceLock() {
  static std::mutex lock;
  return lock;
}

void* OpenLibrary(const std::string& name) {
  if (name.empty()) return nullptr;
  return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string LibraryFile(void* handle) {
  link_map* map = nullptr;
  if (handle && ::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
    return map->l_name;
  return "";
}

template <typename T>
void Bind(void* lib, T& entry, const char* symbol) {
  entry = reinterpret_cast<T>(::dlsym(lib, symbol));
}

void BindAll(void* ssl, void* crypto) {
#define VELMORA_SSL_BIND(name) Bind(ssl, g_entries.name, #name);
#define VELMORA_SSL_BIND_ALIAS(member, typed_as, symbol) Bind(ssl, g_entries.member, symbol);
  VELMORA_SSL_LIB_ENTRIES(VELMORA_SSL_BIND, VELMORA_SSL_BIND_ALIAS)
#undef VELMORA_SSL_BIND
#undef VELMORA_SSL_BIND_ALIAS
#define VELMORA_CRYPTO_BIND(name) Bind(crypto, g_entries.name, #name);
#define VELMORA_CRYPTO_BIND_ALIAS(member, typed_as, symbol) Bind(crypto, g_entries.member, symbol);
  VELMORA_SSL_CRYPTO_ENTRIES(VELMORA_CRYPTO_BIND, VELMORA_CRYPTO_BIND_ALIAS)
#undef VELMORA_CRYPTO_BIND
#undef VELMORA_CRYPTO_BIND_ALIAS
}

void CloseLibraries() {
  // OpenSSL 3 pins itself in memory at initialisation (its exit handlers must
  // stay callable), so this only drops our references.
  if (SSLLibHandle) ::dlclose(SSLLibHandle);
  if (SSLUtilHandle) ::dlclose(SSLUtilHandle);
  SSLLibHandle = nullptr;
  SSLUtilHandle = nullptr;
}

}  // namespace

bool InitSSLInterface() {
  if (g_loaded.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> guard(InterfaceLock());
  if (g_loaded.load(std::memory_order_relaxed)) return true;
  SSLLibHandle = OpenLibrary(DLLSSLName);
  SSLUtilHandle = OpenLibrary(DLLUtilName);
  if (!SSLLibHandle) SSLLibHandle = OpenLibrary(DLLSSLName2);
  if (SSLLibHandle && SSLUtilHandle) {
    BindAll(SSLLibHandle, SSLUtilHandle);
    // What loaded must be OpenSSL 3 or later, with its TLS half.
    const bool usable = g_entries.OpenSSL_version_num &&
                        g_entries.OpenSSL_version_num() >= 0x30000000UL && g_entries.SSL_new &&
                        g_entries.SSL_CTX_new && g_entries.OPENSSL_init_ssl;
    if (!usable) g_entries = detail::Entries{};
  }
  if (!SSLLibHandle || !SSLUtilHandle || !g_entries.SSL_new) {
    CloseLibraries();
    return false;
  }
  SSLLibFile = LibraryFile(SSLLibHandle);
  SSLUtilFile = LibraryFile(SSLUtilHandle);
  // The library's initialisation: TLS, the error texts of both halves, and
  // every cipher and digest.  OpenSSL 3 locks and seeds by itself.
  g_entries.OPENSSL_init_ssl(0, nullptr);
  g_entries.OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                             nullptr);
  if (g_entries.OPENSSL_init_crypto)
    g_entries.OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS,
                                  nullptr);
  _X509Free = g_entries.X509_free;
  g_loaded.store(true, std::memory_order_release);
  return true;
}

bool DestroySSLInterface() {
  // Contexts kept for later connections go while OpenSSL can still free them.
  detail::ReleaseContexts();
  std::lock_guard<std::mutex> guard(InterfaceLock());
  // OpenSSL 3 frees its own state at process exit; its clean-up functions
  // would make it unusable for the rest of the process, so none is called.
  g_loaded.store(false, std::memory_order_release);
  CloseLibraries();
  g_entries = detail::Entries{};
  _X509Free = nullptr;
  return true;
}

bool IsSSLloaded() {
  return g_loaded.load(std::memory_order_acquire);
}

}  // namespace velmora::net
