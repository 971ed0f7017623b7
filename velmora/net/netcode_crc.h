// The CRCs of the coding unit: CRC-32 as in ISO-HDLC and zlib, and the
// 16-bit CRC with the reflected 0x8408 table (CRC-16/MCRF4XX parameters).
#pragma once

#include <cstdint>
#include <string>

namespace velmora::net {

// Crc32 after one more byte: one step of the reflected 0xEDB88320 table,
// without the initial value or the final complement.
uint32_t UpdateCrc32(uint8_t Value, uint32_t Crc32);

// CRC-32 of Value: initial value all ones, reflected table, final
// complement ("123456789" gives 0xCBF43926).
uint32_t Crc32(const std::string& Value);

// Crc16 after one more byte: table[(Value xor Crc16) and 0xFF] xor
// (Crc16 shr 8) with the reflected 0x8408 table.
uint16_t UpdateCrc16(uint8_t Value, uint16_t Crc16);

// CRC-16 of Value: starts at 0xFFFF, one UpdateCrc16 step per byte, no final
// complement ("123456789" gives 0x6F91).
uint16_t Crc16(const std::string& Value);

}  // namespace velmora::net
