// Helpers of the tone component's tests: choosing the sound input, writing
// 8-bit WAV files, and handing the capture buffer to the component by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "velmora/component/capture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {

// Chooses the sound input for the test and returns to the automatic choice
// afterwards.
class InputGuard {
 public:
  explicit InputGuard(platform::InputChoice choice) { platform::SetDefaultInput(choice); }
  ~InputGuard() { platform::ResetDeviceChoice(); }
  InputGuard(const InputGuard&) = delete;
  InputGuard& operator=(const InputGuard&) = delete;
};

inline platform::InputChoice NoInput() {
  return {platform::DeviceKind::None, "", false};
}

inline platform::InputChoice FileInput(const std::string& path, bool fast) {
  return {platform::DeviceKind::FileSource, path, fast};
}

// A PCM WAV file of 8-bit unsigned mono samples at 44100 Hz, written byte by
// byte here so that the tests do not depend on the library's own writer.
inline void WriteWav8(const std::string& path, const std::vector<uint8_t>& samples) {
  auto le32 = [](std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto le16 = [](std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  };
  const auto n = static_cast<uint32_t>(samples.size());
  std::string f = "RIFF";
  le32(f, 36 + n);
  f += "WAVEfmt ";
  le32(f, 16);
  le16(f, 1);      // PCM
  le16(f, 1);      // mono
  le32(f, 44100);  // Hz
  le32(f, 44100);  // bytes per second
  le16(f, 1);      // block align
  le16(f, 8);      // bits
  f += "data";
  le32(f, n);
  f.append(reinterpret_cast<const char*>(samples.data()), samples.size());
  WriteFile(path, f);
}

// One 2048-byte buffer of silence (128) with `peak_byte` at position 100.
inline std::vector<uint8_t> BufferWithPeak(uint8_t peak_byte) {
  std::vector<uint8_t> b(2048, 128);
  b[100] = peak_byte;
  return b;
}

// Puts `bytes` into the component's capture buffer as a device would hand it
// back (count and flags), then sends the buffer's notification to the
// capture window.  Needs an input without device (hwi2 null), so that no
// device thread shares the header.
inline void Deliver(const std::vector<uint8_t>& bytes, uint32_t flags = 3,
                    uint32_t msg = platform::MM_WIM_DATA) {
  platform::WAVEHDR& h = tonvel::adr2;
  if (!bytes.empty())
    std::memcpy(h.lpData, bytes.data(), std::min<size_t>(bytes.size(), h.dwBufferLength));
  h.dwBytesRecorded = static_cast<uint32_t>(bytes.size());
  h.dwFlags = flags;
  host::Application().SendMessage(tonvel::fwnd, msg, 0, reinterpret_cast<intptr_t>(&h));
}

}  // namespace velmora::testing
