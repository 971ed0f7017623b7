// PCM formats and the conversions between them that the virtual devices
// need: sample width (8-bit unsigned, 16-bit signed), channel count (mono,
// stereo) and sample rate (linear interpolation).  Mixing works on float
// samples with full scale 1.0.
//
// Conversions are exact where no rate change is involved: an 8-bit or 16-bit
// sample taken to float and back is the same sample, so a sound that passes
// a virtual device at its own format arrives byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "velmora/platform/wave.h"

namespace velmora::platform::wave {

constexpr uint32_t kMinRate = 8000;
constexpr uint32_t kMaxRate = 192000;

struct PcmFormat {
  uint32_t rate = 44100;
  uint16_t channels = 1;
  uint16_t bits = 8;

  uint32_t block_align() const { return static_cast<uint32_t>(channels) * bits / 8; }
  uint32_t bytes_per_second() const { return rate * block_align(); }
  // Whole frames in `bytes`, as bytes.
  size_t WholeFrames(size_t bytes) const { return bytes - bytes % block_align(); }
  // Bytes of `ms` milliseconds of sound, whole frames, at least one frame.
  size_t BytesFor(uint32_t ms) const;
  uint8_t silence_byte() const { return bits == 8 ? 0x80 : 0x00; }
  std::string Describe() const;  // "44100 Hz 8-bit mono"

  bool operator==(const PcmFormat&) const = default;
};

// WAVERR_BADFORMAT unless the record is PCM, 8- or 16-bit, 1 or 2 channels,
// 8000 to 192000 Hz, with the block align those give.  The average byte rate
// is not checked (a caller may state it wrongly and still be understood).
MMRESULT CheckFormat(const WAVEFORMATEX* format);
PcmFormat FormatOf(const WAVEFORMATEX& format);

// Interleaved PCM bytes (whole frames) to interleaved floats and back.
// Encoding rounds to nearest and clips to the sample range.
void DecodeToFloat(const uint8_t* in, size_t frames, const PcmFormat& format, float* out);
void EncodeFromFloat(const float* in, size_t frames, const PcmFormat& format, uint8_t* out);

// Channel mapping: stereo to mono averages, mono to stereo duplicates.
void Remix(const float* in, size_t frames, int from_channels, int to_channels, float* out);

// Streaming sample-rate conversion by linear interpolation.  Output sample j
// is taken at input position j * from / to; the first input sample is output
// sample 0, so equal rates give the input unchanged.
class Resampler {
 public:
  Resampler(uint32_t from_rate, uint32_t to_rate, int channels);
  // Converts `frames` interleaved frames and appends the result to `out`.
  void Process(const float* in, size_t frames, std::vector<float>& out);
  // Input frames that give about `out_frames` output frames.
  size_t InputFor(size_t out_frames) const;
  bool Identity() const { return from_ == to_; }

 private:
  void ProcessFrames(const float* in, double end, std::vector<float>& out);
  void ProcessMono(const float* in, double end, std::vector<float>& out);
  bool ExactSteps(double end) const;

  uint32_t from_, to_;
  int channels_;
  double step_;          // input samples per output sample
  double position_ = 0;  // next output position; 0 is `last_`, k is input k-1
  bool have_last_ = false;
  std::vector<float> last_;  // the last input frame of the previous call
};

// A stream of PCM bytes in one format turned into another.  Keeps the
// scratch vectors between calls, so a steady stream allocates nothing.
class PcmConverter {
 public:
  PcmConverter(const PcmFormat& from, const PcmFormat& to);
  bool Identity() const { return from_ == to_; }
  const PcmFormat& from() const { return from_; }
  const PcmFormat& to() const { return to_; }
  // Converts `bytes` bytes (whole frames of the source) and appends to `out`.
  void Convert(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out);
  // Source bytes (whole frames) that give about `out_bytes` output bytes.
  size_t InputBytesFor(size_t out_bytes) const;

 private:
  PcmFormat from_, to_;
  Resampler resampler_;
  std::vector<float> decoded_, mixed_, resampled_;
};

// PCM bytes of a device into mono floats at a mix rate (an output into a mix).
class ToMix {
 public:
  ToMix(const PcmFormat& from, uint32_t mix_rate);
  // Replaces `out` with the converted frames.
  void Convert(const uint8_t* in, size_t bytes, std::vector<float>& out);

 private:
  PcmFormat from_;
  Resampler resampler_;
  std::vector<float> decoded_, mono_;
};

// Mono floats at a mix rate into PCM bytes of a device (a mix into an input).
class FromMix {
 public:
  FromMix(uint32_t mix_rate, const PcmFormat& to);
  // Converts `frames` frames and appends the bytes to `out`.
  void Convert(const float* in, size_t frames, std::vector<uint8_t>& out);
  // Mix frames that give about `out_frames` frames.
  size_t InputFor(size_t out_frames) const { return resampler_.InputFor(out_frames); }

 private:
  PcmFormat to_;
  Resampler resampler_;
  std::vector<float> resampled_, spread_;
};

}  // namespace velmora::platform::wave
