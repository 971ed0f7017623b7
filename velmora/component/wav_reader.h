// Reading a WAV file for the offline analysis: read_wav walks the RIFF
// chunks, takes the format chunk and the content of the data chunk, and
// reports a failure as a status rather than an exception.
//
// The walk is that of the component's own recordings and of ordinary PCM
// files: "RIFF", a size that must equal the file's size less 8, "WAVE", then
// chunks up to "fmt " (a "data" chunk before it is refused), then chunks up
// to "data".  Chunk sizes are taken as they stand (no pad byte after an
// odd-sized chunk) and the format tag is not checked.  Nothing is read past
// the end of the file and no memory is reserved for data the file does not
// hold, whatever the sizes in it say.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::tonvel {

enum class WavStatus : uint16_t {
  Success,
  ReadError,         // cannot be opened, or a read would pass the end
  NotRiffWave,       // no "RIFF" at the start or no "WAVE" after the size
  SizeMismatch,      // the RIFF size is not the file's size less 8
  BadChunkSize,      // a chunk before the format chunk is above 2^31 - 1 bytes
  DataBeforeFormat,  // the data chunk comes before the format chunk
};

// "read error", "not a RIFF/WAVE file", "size mismatch", "bad chunk size",
// "data before format", "success".
const char* WavStatusText(WavStatus status);

// The result of read_wav.  Only status, channels, rate and data are used by
// the analysis; samples_per_sec keeps the whole rate (rate only its low 16
// bits, as the record always had).
struct wav_info {
  WavStatus status = WavStatus::ReadError;
  uint32_t avg_bytes = 0;
  uint16_t bits_per_sample = 0;
  uint16_t channels = 0;
  std::vector<uint8_t> data;
  uint16_t rate = 0;
  uint32_t samples_per_sec = 0;
  uint16_t format_tag = 0;
  uint16_t block_align = 0;
  // What went wrong, for people: the system's reason when the file cannot be
  // opened, or the part of the file that is missing or wrong.
  std::string detail;
};

wav_info read_wav(const std::string& name);

// "<status text>" or "<status text>: <detail>".
std::string WavFailureText(const wav_info& info);

}  // namespace velmora::tonvel
