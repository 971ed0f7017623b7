// Reading sound files through libsndfile.  See sound_file.h.

#include "velmora/platform/wave/sound_file.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmora::platform::wave {

struct SoundFileReader::Handle {
  SNDFILE* file = nullptr;
  ~Handle() {
    if (file) sf_close(file);
  }
};

SoundFileReader::SoundFileReader() = default;
SoundFileReader::~SoundFileReader() = default;
SoundFileReader::SoundFileReader(SoundFileReader&&) noexcept = default;
SoundFileReader& SoundFileReader::operator=(SoundFileReader&&) noexcept = default;

bool IsStreamPath(const std::string& path) {
  if (path == "-") return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
}

std::string SoundFileReader::Open(const std::string& path) {
  handle_.reset();
  at_end_ = true;
  const bool stdin_given = path == "-";
  const std::string name = stdin_given ? "standard input" : path;
  struct stat st {};
  if (stdin_given ? ::fstat(STDIN_FILENO, &st) != 0 : ::stat(path.c_str(), &st) != 0)
    return name + ": cannot open: " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return name + ": is a directory, not a sound file";
  if (!stdin_given && ::access(path.c_str(), R_OK) != 0)
    return name + ": cannot open: " + std::strerror(errno);

  SF_INFO info{};
  SNDFILE* file = stdin_given ? sf_open_fd(STDIN_FILENO, SFM_READ, &info, 0)
                              : sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    std::string why = sf_strerror(nullptr);
    while (!why.empty() && (why.back() == '.' || why.back() == ' ')) why.pop_back();
    std::string line = name + ": not a sound file that can be read (" + why + ")";
    // Some decoders need to look back in the file, which a pipe cannot do.
    if (!S_ISREG(st.st_mode)) line += "; this kind of file may need to be given by name";
    return line;
  }
  handle_ = std::make_unique<Handle>();
  handle_->file = file;
  if (info.channels < 1 || info.samplerate < 1)
    return name + ": the file states " + std::to_string(info.channels) + " channels at " +
           std::to_string(info.samplerate) + " Hz";
  // Floating-point samples are scaled to full scale (libsndfile would
  // otherwise truncate them, -1 .. 1 giving silence), and those beyond it
  // are clipped, not wrapped around.
  // Integer encodings are read as integers, which the scaling does not
  // touch; and setting it makes libsndfile read the whole file once to find
  // its peak (twice the reading of a long WAV), so they go without it.
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  const bool integer_samples = subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_S8 ||
                               subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24 ||
                               subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_ULAW ||
                               subtype == SF_FORMAT_ALAW;
  if (!integer_samples) sf_command(file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  file_channels_ = info.channels;
  const int major = info.format & SF_FORMAT_TYPEMASK;
  raw_bytes_ = subtype == SF_FORMAT_PCM_U8 && info.channels <= 2 &&
               (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RAW);
  format_ = PcmFormat{static_cast<uint32_t>(info.samplerate),
                      static_cast<uint16_t>(info.channels <= 2 ? info.channels : 1),
                      static_cast<uint16_t>(raw_bytes_ ? 8 : 16)};
  at_end_ = false;
  return "";
}

size_t SoundFileReader::Read(uint8_t* out, size_t size) {
  if (!handle_ || at_end_) return 0;
  SNDFILE* file = handle_->file;
  const size_t frames = size / format_.block_align();
  if (frames == 0) return 0;
  size_t got = 0;
  if (raw_bytes_) {
    const auto n = sf_read_raw(file, out, static_cast<sf_count_t>(frames * format_.block_align()));
    got = format_.WholeFrames(n > 0 ? static_cast<size_t>(n) : 0) / format_.block_align();
  } else if (file_channels_ <= 2) {
    const auto n =
        sf_readf_short(file, reinterpret_cast<short*>(out), static_cast<sf_count_t>(frames));
    got = n > 0 ? static_cast<size_t>(n) : 0;
  } else {
    // Many channels: read a frame block, average each frame to one sample.
    wide_.resize(frames * static_cast<size_t>(file_channels_));
    const auto n = sf_readf_short(file, wide_.data(), static_cast<sf_count_t>(frames));
    got = n > 0 ? static_cast<size_t>(n) : 0;
    for (size_t f = 0; f < got; ++f) {
      int32_t sum = 0;
      for (int c = 0; c < file_channels_; ++c) sum += wide_[f * file_channels_ + c];
      const auto mono = static_cast<int16_t>(sum / file_channels_);
      std::memcpy(out + 2 * f, &mono, 2);
    }
  }
  if (got < frames) at_end_ = true;
  return got * format_.block_align();
}

}  // namespace velmora::platform::wave
