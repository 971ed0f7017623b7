// The stores of finished TLS contexts and self-signed certificates.
#include "velmora/net/ssl_openssl_cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "velmora/net/netutil_time.h"
#include "velmora/net/ssl_openssl_entries.h"

namespace velmora::net::detail {

namespace {

// Enough for every set of settings a program uses at once; a program that
// keeps making new ones only rebuilds more often.
constexpr size_t kMaxContexts = 32;
constexpr size_t kMaxSelfSigned = 16;
// A self-signed certificate is made again after an hour, so that the one a
// server hands out is never much older than its connection.
constexpr int64_t kSelfSignedReuse = 3600 * 1000;  // ms

struct StoredContext {
  ContextKey key;
  SSL_CTX* ctx;
};

struct StoredCertificate {
  std::string host, certificate, key;
  uint32_t made;
};

// Never destroyed: freeing contexts at process exit could run after
// OpenSSL's own exit handlers.
struct Stores {
  std::mutex lock;
  std::vector<StoredContext> contexts;  // oldest first
  std::vector<StoredCertificate> certificates;
};

Stores& TheStores() {
  static Stores* stores = new Stores;
  return *stores;
}

void AppendStamp(std::string& out, const std::string& path) {
  if (path.empty()) {
    out += ';';
    return;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    out += "-;";
    return;
  }
  out += std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
         std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
         std::to_string(st.st_mtim.tv_nsec) + ';';
}

}  // namespace

void StampFiles(ContextKey& key) {
  key.file_stamps.clear();
  for (const std::string* path :
       {&key.ca_file, &key.certificate_file, &key.private_key_file, &key.pfx_file})
    AppendStamp(key.file_stamps, *path);
}

SSL_CTX* FindContext(const ContextKey& key) {
  const Entries* e = Loaded();
  if (!e || !e->SSL_CTX_up_ref) return nullptr;
  Stores& s = TheStores();
  std::lock_guard<std::mutex> guard(s.lock);
  for (const StoredContext& c : s.contexts)
    if (c.key == key) return e->SSL_CTX_up_ref(c.ctx) == 1 ? c.ctx : nullptr;
  return nullptr;
}

namespace {

// OpenSSL works out what a certificate's extensions say the first time it
// needs them and keeps that in the certificate, under a lock for the writer
// but with an unlocked test of "done" for the readers: two connections of a
// shared context that verify against the same trusted certificate at once
// may read it while the other writes it.  Working it out here, before the
// context is shared, leaves nothing to write later (the store's lock then
// orders these writes before every other thread's reads).
void SettleCertificates(const Entries& e, SSL_CTX* ctx) {
  if (!e.X509_check_purpose) return;
  if (e.SSL_CTX_get0_certificate)
    if (X509* own = e.SSL_CTX_get0_certificate(ctx)) e.X509_check_purpose(own, -1, 0);
  if (!e.SSL_CTX_get_cert_store || !e.X509_STORE_get0_objects || !e.X509_OBJECT_get0_X509 ||
      !e.OPENSSL_sk_num || !e.OPENSSL_sk_value)
    return;
  X509_STORE* store = e.SSL_CTX_get_cert_store(ctx);
  if (!store) return;
  const auto* objects = reinterpret_cast<const OPENSSL_STACK*>(e.X509_STORE_get0_objects(store));
  const int count = objects ? e.OPENSSL_sk_num(objects) : 0;
  for (int i = 0; i < count; ++i) {
    const auto* object = static_cast<const X509_OBJECT*>(e.OPENSSL_sk_value(objects, i));
    if (X509* cert = object ? e.X509_OBJECT_get0_X509(object) : nullptr)
      e.X509_check_purpose(cert, -1, 0);
  }
}

}  // namespace

void KeepContext(const ContextKey& key, SSL_CTX* ctx) {
  const Entries* e = Loaded();
  if (!e || !e->SSL_CTX_up_ref || !e->SSL_CTX_free || !ctx) return;
  SettleCertificates(*e, ctx);
  Stores& s = TheStores();
  SSL_CTX* leaving = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    // Another thread may have stored one for the same settings meanwhile.
    for (const StoredContext& c : s.contexts)
      if (c.key == key) return;
    if (e->SSL_CTX_up_ref(ctx) != 1) return;
    if (s.contexts.size() >= kMaxContexts) {
      leaving = s.contexts.front().ctx;
      s.contexts.erase(s.contexts.begin());
    }
    s.contexts.push_back({key, ctx});
  }
  if (leaving) e->SSL_CTX_free(leaving);
}

void ForgetContext(SSL_CTX* ctx) {
  if (!ctx) return;
  Stores& s = TheStores();
  SSL_CTX* leaving = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = std::find_if(s.contexts.begin(), s.contexts.end(),
                           [ctx](const StoredContext& c) { return c.ctx == ctx; });
    if (it == s.contexts.end()) return;
    leaving = it->ctx;
    s.contexts.erase(it);
  }
  const Entries* e = Loaded();
  if (e && e->SSL_CTX_free) e->SSL_CTX_free(leaving);
}

void SetPasswordUserdata(SSL_CTX* ctx, void* userdata) {
  const Entries* e = Loaded();
  if (!ctx || !e || !e->SSL_CTX_set_default_passwd_cb_userdata) return;
  std::lock_guard<std::mutex> guard(TheStores().lock);
  e->SSL_CTX_set_default_passwd_cb_userdata(ctx, userdata);
}

void ReleaseContexts() {
  Stores& s = TheStores();
  std::vector<StoredContext> leaving;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    leaving.swap(s.contexts);
  }
  // Called while OpenSSL is still loaded; if it is not, nothing can be freed.
  if (!IsSSLloaded()) return;
  for (const StoredContext& c : leaving) g_entries.SSL_CTX_free(c.ctx);
}

bool FindSelfSigned(const std::string& host, std::string& certificate, std::string& key) {
  Stores& s = TheStores();
  std::lock_guard<std::mutex> guard(s.lock);
  const uint32_t now = GetTick();
  for (const StoredCertificate& c : s.certificates) {
    if (c.host != host || TickDelta(c.made, now) >= kSelfSignedReuse) continue;
    certificate = c.certificate;
    key = c.key;
    return true;
  }
  return false;
}

void KeepSelfSigned(const std::string& host, const std::string& certificate,
                    const std::string& key) {
  if (certificate.empty() || key.empty()) return;
  Stores& s = TheStores();
  std::lock_guard<std::mutex> guard(s.lock);
  auto& certs = s.certificates;
  certs.erase(std::remove_if(certs.begin(), certs.end(),
                             [&](const StoredCertificate& c) { return c.host == host; }),
              certs.end());
  if (certs.size() >= kMaxSelfSigned) certs.erase(certs.begin());
  certs.push_back({host, certificate, key, GetTick()});
}

}  // namespace velmora::net::detail
