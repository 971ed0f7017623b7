#include "velmora/platform/wave/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace velmora::platform::wave {

namespace {

// Sound data beyond this cannot be described by the 32-bit sizes of a RIFF
// header; the writer stops there rather than write a header that lies.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    f_ = other.f_;
    other.f_ = nullptr;
  }
  return *this;
}

bool File::Close() {
  if (!f_) return true;
  bool ok = std::fclose(f_) == 0;
  f_ = nullptr;
  return ok;
}

std::string WavWriter::Fail(const char* what) {
  return path_ + ": cannot " + what + ": " + std::strerror(errno);
}

std::string WavWriter::Create(const std::string& path, const PcmFormat& format) {
  path_ = path;
  format_ = format;
  data_bytes_ = 0;
  file_ = File(std::fopen(path.c_str(), "w+b"));
  if (!file_) return Fail("create");
  return Complete();
}

std::string WavWriter::Append(const uint8_t* data, size_t size) {
  if (!file_) return path_ + ": not open";
  size = static_cast<size_t>(std::min<uint64_t>(size, kMaxDataBytes - data_bytes_));
  if (size == 0) return "";
  if (std::fwrite(data, 1, size, file_.get()) != size) return Fail("write");
  data_bytes_ += size;
  return "";
}

std::string WavWriter::Complete() {
  if (!file_) return path_ + ": not open";
  uint8_t h[44];
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, static_cast<uint32_t>(36 + data_bytes_));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, WAVE_FORMAT_PCM);
  Put16(h + 22, format_.channels);
  Put32(h + 24, format_.rate);
  Put32(h + 28, format_.bytes_per_second());
  Put16(h + 32, static_cast<uint16_t>(format_.block_align()));
  Put16(h + 34, format_.bits);
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, static_cast<uint32_t>(data_bytes_));
  std::FILE* f = file_.get();
  if (std::fseek(f, 0, SEEK_SET) != 0 || std::fwrite(h, 1, 44, f) != 44 ||
      std::fseek(f, 0, SEEK_END) != 0 || std::fflush(f) != 0)
    return Fail("write the header of");
  return "";
}

std::string WavWriter::Close() {
  if (!file_) return "";
  std::string why = Complete();
  if (!file_.Close() && why.empty()) why = Fail("close");
  return why;
}

}  // namespace velmora::platform::wave
