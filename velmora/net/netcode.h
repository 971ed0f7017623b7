// Unit netcode: the text encodings of mail and web protocols, CRCs and
// digests.  Include this header for all of them, or one of the parts:
//   netcode_triplet.h  quoted-printable and URL escaping, the TSpecials sets
//   netcode_base64.h   Base64, modified Base64, UU, XX, yEnc
//   netcode_crc.h      CRC-32 and CRC-16
//   netcode_digest.h   MD4, MD5, SHA-1, HMAC and the long hashes
#pragma once

#include "velmora/net/netcode_base64.h"
#include "velmora/net/netcode_crc.h"
#include "velmora/net/netcode_digest.h"
#include "velmora/net/netcode_triplet.h"
