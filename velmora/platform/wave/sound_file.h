// Sound files for the file source, read through libsndfile: WAV in every
// encoding, FLAC, Ogg, AIFF, MP3 and whatever else the installed library
// knows, from a file, a named pipe or standard input ("-").
//
// The reader hands out PCM bytes in a format the converters of pcm.h take:
// 8-bit unsigned PCM is passed on as it is in the file (so an 8-bit mono
// 44100 Hz WAV reaches the capture buffer byte for byte), everything else as
// 16-bit signed samples (libsndfile scales float and wider integers and
// clips what lies beyond full scale).  Mono and stereo keep their channels;
// more channels are averaged to mono.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmora/platform/wave/pcm.h"

namespace velmora::platform::wave {

class SoundFileReader {
 public:
  SoundFileReader();
  ~SoundFileReader();
  SoundFileReader(SoundFileReader&&) noexcept;
  SoundFileReader& operator=(SoundFileReader&&) noexcept;
  SoundFileReader(const SoundFileReader&) = delete;
  SoundFileReader& operator=(const SoundFileReader&) = delete;

  // Opens `path` ("-" is standard input) and reads its header.  Returns ""
  // or one line naming the file and the reason it cannot be played.
  std::string Open(const std::string& path);
  // The PCM format Read delivers.
  const PcmFormat& format() const { return format_; }
  // Copies up to `size` bytes of sound (whole frames) into `out`; 0 at the
  // end.  A read error ends the sound where it happened.
  size_t Read(uint8_t* out, size_t size);
  // True once a read found the end of the sound.
  bool AtEnd() const { return at_end_; }

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  PcmFormat format_;
  bool raw_bytes_ = false;  // 8-bit unsigned PCM, passed on as it is
  int file_channels_ = 0;
  bool at_end_ = true;
  std::vector<int16_t> wide_;  // frames of a file with more than two channels
};

// Whether `path` names something the file source reads as a stream that
// cannot be opened twice (standard input, a pipe, a character device):
// checking it beforehand would consume its start.
bool IsStreamPath(const std::string& path);

}  // namespace velmora::platform::wave
