// Building RIFF/WAVE files byte by byte for the tests of the file analysis.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::testing {

inline std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

inline std::string Le16(uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A chunk: identifier, size (the body's unless given) and body.
inline std::string Chunk(const std::string& id, const std::string& body, int64_t size = -1) {
  return id + Le32(static_cast<uint32_t>(size < 0 ? static_cast<int64_t>(body.size()) : size)) +
         body;
}

// A format chunk of 16 bytes plus `extra` bytes.
inline std::string FmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                            size_t extra = 0) {
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  return Chunk("fmt ", Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) +
                           Le16(bits) + std::string(extra, '\0'));
}

// "RIFF", the size (off by `size_delta`), "WAVE" and the chunks.
inline std::string Riff(const std::string& chunks, int size_delta = 0) {
  return "RIFF" + Le32(static_cast<uint32_t>(4 + chunks.size() + size_delta)) + "WAVE" + chunks;
}

}  // namespace velmora::testing
