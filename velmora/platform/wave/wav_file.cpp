#include "velmora/platform/wave/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace velmora::platform::wave {

namespace {

constexpr uint16_t kFormatExtensible = 0xFFFE;
// Sound data beyond this cannot be described by the 32-bit sizes of a RIFF
// header; the writer stops there rather than write a header that lies.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool ReadExact(std::FILE* f, uint8_t* out, size_t size) {
  return std::fread(out, 1, size, f) == size;
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

std::string WavReader::Open(const std::string& path) {
  file_ = File(std::fopen(path.c_str(), "rb"));
  if (!file_) return path + ": cannot open: " + std::strerror(errno);
  uint64_t file_size = 0;
  if (std::fseek(file_.get(), 0, SEEK_END) == 0) {
    long end = std::ftell(file_.get());
    if (end > 0) file_size = static_cast<uint64_t>(end);
  }
  std::rewind(file_.get());
  std::string why = Parse(file_size);
  if (!why.empty()) {
    file_.Close();
    return path + ": " + why;
  }
  return "";
}

std::string WavReader::Parse(uint64_t file_size) {
  std::FILE* f = file_.get();
  uint8_t riff[12];
  if (!ReadExact(f, riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return "not a RIFF/WAVE file";
  uint64_t at = 12;
  bool have_format = false;
  for (;;) {
    uint8_t chunk[8];
    if (!ReadExact(f, chunk, 8)) return have_format ? "no sound data chunk" : "no format chunk";
    at += 8;
    uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16) return "format chunk of " + std::to_string(size) + " bytes is too short";
      uint8_t fmt[40] = {};
      size_t take = std::min<size_t>(size, sizeof fmt);
      if (!ReadExact(f, fmt, take)) return "format chunk cut short";
      uint16_t tag = Le16(fmt);
      uint16_t channels = Le16(fmt + 2);
      uint32_t rate = Le32(fmt + 4);
      uint16_t bits = Le16(fmt + 14);
      if (tag == kFormatExtensible && take >= 26) tag = Le16(fmt + 24);  // the sub-format
      if (tag == 3) return "floating-point samples (only 8- and 16-bit PCM is played)";
      if (tag != WAVE_FORMAT_PCM) return "format tag " + std::to_string(tag) + " is not PCM";
      if (bits != 8 && bits != 16)
        return std::to_string(bits) + "-bit samples (only 8- and 16-bit PCM is played)";
      if (channels != 1 && channels != 2)
        return std::to_string(channels) + " channels (only mono and stereo are played)";
      if (rate == 0) return "sample rate 0";
      format_ = PcmFormat{rate, channels, bits};
      have_format = true;
      uint64_t skip = size - take + (size & 1);
      if (skip && std::fseek(f, static_cast<long>(skip), SEEK_CUR) != 0) return "cut short";
      at += size + (size & 1);
      continue;
    }
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return "sound data before the format chunk";
      // A header written before the length was known (0 or all ones) or a
      // file cut short: play what is there.
      uint64_t present = file_size > at ? file_size - at : 0;
      uint64_t declared = size == 0 || size == 0xFFFFFFFFu ? present : size;
      data_bytes_ = format_.WholeFrames(std::min(declared, present));
      left_ = data_bytes_;
      return "";
    }
    uint64_t skip = static_cast<uint64_t>(size) + (size & 1);
    if (at + skip > file_size) return have_format ? "no sound data chunk" : "no format chunk";
    if (std::fseek(f, static_cast<long>(skip), SEEK_CUR) != 0) return "cut short";
    at += skip;
  }
}

size_t WavReader::Read(uint8_t* out, size_t size) {
  if (!file_) return 0;
  size_t want = format_.WholeFrames(static_cast<size_t>(std::min<uint64_t>(size, left_)));
  size_t got = want ? std::fread(out, 1, want, file_.get()) : 0;
  got = format_.WholeFrames(got);
  // A read error ends the sound where it happened.
  left_ = got < want ? 0 : left_ - got;
  return got;
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
