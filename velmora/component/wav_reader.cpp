// read_wav: the RIFF walk of the offline analysis.  See wav_reader.h.

#include "velmora/component/wav_reader.h"

#include <cstring>
#include <memory>

#include "velmora/host/exception.h"
#include "velmora/host/streams.h"

namespace velmora::tonvel {

namespace {

// Reads a file front to back, refusing any read or skip that would pass its
// end (the sizes inside a file are not trusted).
class ChunkReader {
 public:
  explicit ChunkReader(host::TStream& stream) : stream_(stream), size_(stream.Size()) {}

  int64_t FileSize() const { return size_; }

  bool Read(void* buffer, int64_t count) {
    if (count < 0 || count > size_ - position_) return false;
    if (count > 0 && stream_.Read(buffer, count) != count) return false;
    position_ += count;
    return true;
  }

  bool Skip(int64_t count) {
    if (count < 0 || count > size_ - position_) return false;
    position_ += count;
    return stream_.Seek(position_, host::soBeginning) == position_;
  }

  bool ReadU32(uint32_t& value) {
    uint8_t b[4];
    if (!Read(b, 4)) return false;
    value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
            static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
  }

  bool ReadId(char (&id)[4]) { return Read(id, 4); }

 private:
  host::TStream& stream_;
  int64_t size_;
  int64_t position_ = 0;
};

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Is(const char (&id)[4], const char* text) {
  return std::memcmp(id, text, 4) == 0;
}

wav_info Fail(wav_info& info, WavStatus status, std::string detail) {
  info.status = status;
  info.detail = std::move(detail);
  info.data.clear();
  return std::move(info);
}

}  // namespace

const char* WavStatusText(WavStatus status) {
  switch (status) {
    case WavStatus::Success:
      return "success";
    case WavStatus::ReadError:
      return "read error";
    case WavStatus::NotRiffWave:
      return "not a RIFF/WAVE file";
    case WavStatus::SizeMismatch:
      return "size mismatch";
    case WavStatus::BadChunkSize:
      return "bad chunk size";
    case WavStatus::DataBeforeFormat:
      return "data before format";
  }
  return "unknown status";
}

std::string WavFailureText(const wav_info& info) {
  std::string text = WavStatusText(info.status);
  if (!info.detail.empty()) text += ": " + info.detail;
  return text;
}

wav_info read_wav(const std::string& name) {
  wav_info info;
  std::unique_ptr<host::TFileStream> file;
  try {
    file = std::make_unique<host::TFileStream>(name, host::fmOpenRead);
  } catch (const host::Exception& e) {
    return Fail(info, WavStatus::ReadError, e.what());
  }
  ChunkReader in(*file);

  char id[4];
  if (!in.ReadId(id)) return Fail(info, WavStatus::ReadError, "the file ends before its header");
  if (!Is(id, "RIFF")) return Fail(info, WavStatus::NotRiffWave, "no \"RIFF\" at the start");
  uint32_t riff_size = 0;
  if (!in.ReadU32(riff_size))
    return Fail(info, WavStatus::ReadError, "the file ends before its header");
  if (in.FileSize() != static_cast<int64_t>(riff_size) + 8)
    return Fail(info, WavStatus::SizeMismatch,
                "the header gives " + std::to_string(static_cast<int64_t>(riff_size) + 8) +
                    " bytes, the file has " + std::to_string(in.FileSize()));
  if (!in.ReadId(id)) return Fail(info, WavStatus::ReadError, "the file ends before its header");
  if (!Is(id, "WAVE")) return Fail(info, WavStatus::NotRiffWave, "no \"WAVE\" after the size");

  // Up to the format chunk.
  uint32_t size = 0;
  do {
    if (!in.Skip(size) || !in.ReadId(id) || !in.ReadU32(size))
      return Fail(info, WavStatus::ReadError, "the file ends before its format chunk");
    if (size > 2147483647u)
      return Fail(info, WavStatus::BadChunkSize,
                  "a chunk of " + std::to_string(size) + " bytes before the format");
  } while (!Is(id, "fmt ") && !Is(id, "data"));
  if (Is(id, "data"))
    return Fail(info, WavStatus::DataBeforeFormat, "the data chunk comes before the format chunk");

  // The format record: its first 20 bytes at most, the rest skipped.
  uint8_t format[20] = {};
  const uint32_t taken = size < 20 ? size : 20;
  if (!in.Read(format, taken) || !in.Skip(size - taken))
    return Fail(info, WavStatus::ReadError, "the file ends inside its format chunk");

  // Up to the data chunk.
  size = 0;
  do {
    if (!in.Skip(size) || !in.ReadId(id) || !in.ReadU32(size))
      return Fail(info, WavStatus::ReadError, "the file ends before its data chunk");
  } while (!Is(id, "data"));
  // Checked before any memory is reserved for it.
  if (static_cast<int64_t>(size) > in.FileSize())
    return Fail(info, WavStatus::ReadError,
                "the data chunk claims " + std::to_string(size) + " bytes, more than the file has");
  info.data.resize(size);
  if (!in.Read(info.data.data(), size))
    return Fail(info, WavStatus::ReadError,
                "the data chunk claims " + std::to_string(size) + " bytes, more than the file has");

  info.format_tag = U16(format);
  info.channels = U16(format + 2);
  info.samples_per_sec = U32(format + 4);
  info.rate = static_cast<uint16_t>(info.samples_per_sec & 0xFFFF);
  info.avg_bytes = U32(format + 8);
  info.block_align = U16(format + 12);
  info.bits_per_sample = U16(format + 14);
  info.status = WavStatus::Success;
  return info;
}

}  // namespace velmora::tonvel
