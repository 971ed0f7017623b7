// HMAC (RFC 2104) over MD5 and SHA-1, and the digests of a value repeated
// to a given length.
#include "velmora/net/netcode_digest.h"
#include "velmora/net/netcode_internal.h"

namespace velmora::net {

namespace {

template <class Context, size_t N>
std::string Hmac(const std::string& Text, const std::string& Key, const uint32_t (&Init)[N]) {
  constexpr size_t kBlock = 64;
  std::string key = Key;
  if (key.size() > kBlock) {
    Context c(Init);
    c.Update(key);
    key = c.Final();
  }
  uint8_t ipad[kBlock], opad[kBlock];
  for (size_t i = 0; i < kBlock; ++i) {
    uint8_t k = i < key.size() ? static_cast<uint8_t>(key[i]) : 0;
    ipad[i] = k ^ 0x36;
    opad[i] = k ^ 0x5C;
  }
  Context inner(Init);
  inner.Update(ipad, kBlock);
  inner.Update(Text);
  const std::string inner_digest = inner.Final();
  Context outer(Init);
  outer.Update(opad, kBlock);
  outer.Update(inner_digest);
  return outer.Final();
}

// Feeds Value (Len div |Value|) times and then its first (Len mod |Value|)
// bytes.  An empty value has no bytes to repeat: the digest of nothing.
template <class Context, size_t N>
std::string LongHash(const std::string& Value, int32_t Len, const uint32_t (&Init)[N]) {
  Context c(Init);
  if (!Value.empty() && Len > 0) {
    const size_t len = static_cast<size_t>(Len);
    // Whole copies are fed in chunks of at least 4 KiB, so that a short
    // value does not cost one call per copy.
    std::string chunk = Value;
    while (chunk.size() < 4096 && chunk.size() * 2 <= len) chunk += chunk;
    size_t left = len - len % Value.size();
    while (left >= chunk.size()) {
      c.Update(chunk);
      left -= chunk.size();
    }
    c.Update(chunk.data(), left);  // whole copies, since chunk is made of them
    c.Update(Value.data(), len % Value.size());
  }
  return c.Final();
}

}  // namespace

std::string HMAC_MD5(const std::string& Text, const std::string& Key) {
  return Hmac<detail::Md5Context>(Text, Key, detail::kMdInit);
}

std::string HMAC_SHA1(const std::string& Text, const std::string& Key) {
  return Hmac<detail::Sha1Context>(Text, Key, detail::kSha1Init);
}

std::string MD5LongHash(const std::string& Value, int32_t Len) {
  return LongHash<detail::Md5Context>(Value, Len, detail::kMdInit);
}

std::string SHA1LongHash(const std::string& Value, int32_t Len) {
  return LongHash<detail::Sha1Context>(Value, Len, detail::kSha1Init);
}

}  // namespace velmora::net
