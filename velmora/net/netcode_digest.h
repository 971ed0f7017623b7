// Message digests of the coding unit: MD4, MD5 and SHA-1, their HMAC
// (RFC 2104) and the "long hash" of a value repeated to a given length.
// Results are the raw digest bytes.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::net {

// The 16-byte MD4 digest of Value (RFC 1320).
std::string MD4(const std::string& Value);

// The 16-byte MD5 digest of Value (RFC 1321).
std::string MD5(const std::string& Value);

// The 20-byte SHA-1 digest of Value (FIPS 180-1).
std::string SHA1(const std::string& Value);

// HMAC-MD5 of Text under Key (RFC 2104, 64-byte block; a key longer than 64
// bytes is first replaced by its digest).
std::string HMAC_MD5(const std::string& Text, const std::string& Key);

// HMAC-SHA1 of Text under Key (RFC 2104, 64-byte block; a key longer than 64
// bytes is first replaced by its digest).
std::string HMAC_SHA1(const std::string& Text, const std::string& Key);

// The MD5 digest of Value repeated until exactly Len bytes have been hashed:
// (Len div |Value|) whole copies, then the first (Len mod |Value|) bytes.
// An empty Value, or a Len of 0 or less, gives the digest of no bytes.
std::string MD5LongHash(const std::string& Value, int32_t Len);

// The SHA-1 digest of Value repeated until exactly Len bytes have been
// hashed, as MD5LongHash.  An empty Value, or a Len of 0 or less, gives the
// digest of no bytes.
std::string SHA1LongHash(const std::string& Value, int32_t Len);

}  // namespace velmora::net
