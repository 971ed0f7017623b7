// PCM WAV files for the virtual devices: the writer of the file sink (the
// 44-byte header, completed whenever asked).  The file source reads through
// libsndfile (sound_file.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "velmora/platform/wave/pcm.h"

namespace velmora::platform::wave {

// Move-only owner of a C stream.
class File {
 public:
  File() = default;
  explicit File(std::FILE* f) : f_(f) {}
  ~File() { Close(); }
  File(File&& other) noexcept : f_(other.f_) { other.f_ = nullptr; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  // Closes the stream; false when the last writes could not be flushed.
  bool Close();

 private:
  std::FILE* f_ = nullptr;
};

class WavWriter {
 public:
  // Creates (or truncates) `path` with a header for `format` and no sound.
  // Returns "" or one line naming the file and the reason.
  std::string Create(const std::string& path, const PcmFormat& format);
  // Appends sound bytes; "" or the reason (disk full, ...).
  std::string Append(const uint8_t* data, size_t size);
  // Writes the sizes into the header so that the file is complete as it
  // stands; later appends extend it.  "" or the reason.
  std::string Complete();
  // Completes and closes the file.
  std::string Close();
  bool is_open() const { return static_cast<bool>(file_); }
  const PcmFormat& format() const { return format_; }
  uint64_t data_bytes() const { return data_bytes_; }
  const std::string& path() const { return path_; }

 private:
  std::string Fail(const char* what);

  File file_;
  std::string path_;
  PcmFormat format_;
  uint64_t data_bytes_ = 0;
};

}  // namespace velmora::platform::wave
