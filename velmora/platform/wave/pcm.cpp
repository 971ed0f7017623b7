#include "velmora/platform/wave/pcm.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmora::platform::wave {

size_t PcmFormat::BytesFor(uint32_t ms) const {
  size_t frames = static_cast<size_t>(rate) * ms / 1000;
  return std::max<size_t>(frames, 1) * block_align();
}

std::string PcmFormat::Describe() const {
  return std::to_string(rate) + " Hz " + std::to_string(bits) + "-bit " +
         (channels == 1   ? std::string("mono")
          : channels == 2 ? std::string("stereo")
                          : std::to_string(channels) + " channels");
}

MMRESULT CheckFormat(const WAVEFORMATEX* format) {
  if (!format) return MMSYSERR_INVALPARAM;
  if (format->wFormatTag != WAVE_FORMAT_PCM) return WAVERR_BADFORMAT;
  if (format->nChannels != 1 && format->nChannels != 2) return WAVERR_BADFORMAT;
  if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) return WAVERR_BADFORMAT;
  if (format->nSamplesPerSec < kMinRate || format->nSamplesPerSec > kMaxRate)
    return WAVERR_BADFORMAT;
  if (format->nBlockAlign != format->nChannels * format->wBitsPerSample / 8)
    return WAVERR_BADFORMAT;
  return MMSYSERR_NOERROR;
}

PcmFormat FormatOf(const WAVEFORMATEX& format) {
  return PcmFormat{format.nSamplesPerSec, format.nChannels, format.wBitsPerSample};
}

void DecodeToFloat(const uint8_t* in, size_t frames, const PcmFormat& format, float* out) {
  size_t samples = frames * format.channels;
  if (format.bits == 8) {
    for (size_t i = 0; i < samples; ++i) out[i] = (static_cast<float>(in[i]) - 128.0f) / 128.0f;
  } else {
    for (size_t i = 0; i < samples; ++i) {
      auto v = static_cast<int16_t>(static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8)));
      out[i] = static_cast<float>(v) / 32768.0f;
    }
  }
}

namespace {

// std::lrint of a float, inline: on x86-64 the C library's lrintf is this
// very instruction (round in the current mode), without the call.
inline long RoundToLong(float x) {
#if defined(__x86_64__)
  return static_cast<long>(_mm_cvtss_si64(_mm_set_ss(x)));
#else
  return std::lrint(x);
#endif
}

}  // namespace

void EncodeFromFloat(const float* in, size_t frames, const PcmFormat& format, uint8_t* out) {
  size_t samples = frames * format.channels;
  if (format.bits == 8) {
    size_t i = 0;
#if defined(__x86_64__)
    // Eight samples at a time, each rounded as RoundToLong rounds it (in the
    // current mode): a value held within +-256 (beyond, it clips to the
    // same byte) rounds to an integer by adding and taking away 1.5 * 2^23;
    // the packs clip to 0..255 as the clamp below does.
    const __m128 scale = _mm_set1_ps(128.0f);
    const __m128 low = _mm_set1_ps(-256.0f);
    const __m128 high = _mm_set1_ps(256.0f);
    const __m128 round = _mm_set1_ps(12582912.0f);
    const __m128i offset = _mm_set1_epi32(128);
    auto convert = [&](const float* four) {
      __m128 x = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(four), scale), low), high);
      x = _mm_sub_ps(_mm_add_ps(x, round), round);
      return _mm_add_epi32(_mm_cvttps_epi32(x), offset);
    };
    for (; i + 8 <= samples; i += 8) {
      const __m128i words = _mm_packs_epi32(convert(in + i), convert(in + i + 4));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
    }
#endif
    for (; i < samples; ++i) {
      long v = RoundToLong(in[i] * 128.0f) + 128;
      out[i] = static_cast<uint8_t>(std::clamp(v, 0L, 255L));
    }
  } else {
    for (size_t i = 0; i < samples; ++i) {
      long v = std::clamp(RoundToLong(in[i] * 32768.0f), -32768L, 32767L);
      auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
      out[2 * i] = static_cast<uint8_t>(u & 0xFF);
      out[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
  }
}

void Remix(const float* in, size_t frames, int from_channels, int to_channels, float* out) {
  if (from_channels == to_channels) {
    std::copy(in, in + frames * from_channels, out);
  } else if (to_channels == 1) {
    for (size_t f = 0; f < frames; ++f) {
      float sum = 0;
      for (int c = 0; c < from_channels; ++c) sum += in[f * from_channels + c];
      out[f] = sum / static_cast<float>(from_channels);
    }
  } else {
    // From mono (or more channels down-mixed first) to every output channel.
    for (size_t f = 0; f < frames; ++f) {
      float v = 0;
      for (int c = 0; c < from_channels; ++c) v += in[f * from_channels + c];
      v /= static_cast<float>(from_channels);
      for (int c = 0; c < to_channels; ++c) out[f * to_channels + c] = v;
    }
  }
}

Resampler::Resampler(uint32_t from_rate, uint32_t to_rate, int channels)
    : from_(from_rate),
      to_(to_rate),
      channels_(channels),
      step_(static_cast<double>(from_rate) / static_cast<double>(to_rate)),
      last_(static_cast<size_t>(channels), 0.0f) {}

size_t Resampler::InputFor(size_t out_frames) const {
  if (Identity()) return out_frames;
  return static_cast<size_t>(std::ceil(static_cast<double>(out_frames) * step_)) + 1;
}

void Resampler::Process(const float* in, size_t frames, std::vector<float>& out) {
  if (frames == 0) return;
  if (Identity()) {
    out.insert(out.end(), in, in + frames * channels_);
    return;
  }
  const size_t ch = static_cast<size_t>(channels_);
  if (!have_last_) {
    std::copy(in, in + ch, last_.begin());
    have_last_ = true;
    in += ch;
    --frames;
  }
  const double end = static_cast<double>(frames);
  if (ch == 1) {
    ProcessMono(in, end, out);
  } else {
    ProcessFrames(in, end, out);
  }
  if (frames > 0) {
    position_ -= end;
    std::copy(in + (frames - 1) * ch, in + frames * ch, last_.begin());
  }
}

// Positions 0..end: 0 is last_, k is in[k-1]; each output frame lies
// between the positions around position_, which advances by step_.
void Resampler::ProcessFrames(const float* in, double end, std::vector<float>& out) {
  const size_t ch = static_cast<size_t>(channels_);
  auto at = [&](size_t k, size_t c) { return k == 0 ? last_[c] : in[(k - 1) * ch + c]; };
  // Written by index into room made beforehand (about (end - position_) /
  // step_ frames; more is made should rounding give one or two extra).
  size_t used = out.size();
  auto room = [&] {
    const double left = std::max(0.0, (end - position_) / step_);
    out.resize(used + (static_cast<size_t>(left) + 2) * ch);
  };
  room();
  while (position_ < end) {
    if (used + ch > out.size()) room();
    auto k = static_cast<size_t>(position_);
    auto frac = static_cast<float>(position_ - static_cast<double>(k));
    float* o = out.data() + used;
    for (size_t c = 0; c < ch; ++c) {
      float a = at(k, c);
      float b = at(k + 1, c);
      o[c] = a + (b - a) * frac;
    }
    used += ch;
    position_ += step_;
  }
  out.resize(used);
}

// ProcessFrames for one channel, the same sums in the same order, without
// the steps through the channels and the checks for room (room for the
// most frames the positions can give is made first).
void Resampler::ProcessMono(const float* in, double end, std::vector<float>& out) {
  const size_t used = out.size();
  out.resize(used + static_cast<size_t>(std::max(0.0, (end - position_) / step_)) + 2);
  float* o = out.data() + used;
  size_t count = 0;
  double position = position_;
  auto value = [&](double p) {
    const auto k = static_cast<size_t>(p);
    const auto frac = static_cast<float>(p - static_cast<double>(k));
    const float a = k == 0 ? last_[0] : in[k - 1];
    const float b = in[k];
    return a + (b - a) * frac;
  };
  const auto per_sample = static_cast<size_t>(1.0 / step_);
  if (per_sample >= 2 && per_sample <= 16 && static_cast<double>(per_sample) * step_ == 1.0 &&
      ExactSteps(end)) {
    // Upsampling by a whole factor r, with sums that round nowhere: once the
    // position lies on a whole input sample k past the first, the next r
    // frames lie at the same fractions j / r between in[k - 1] and in[k],
    // and r steps add exactly 1.  (end is a whole number of frames.)
    while (position < end && (position < 1 || position != std::floor(position))) {
      o[count++] = value(position);
      position += step_;
    }
    float fractions[16];
    for (size_t j = 0; j < per_sample; ++j)
      fractions[j] = static_cast<float>(static_cast<double>(j) * step_);
    for (; position < end; position += 1.0) {
      const auto k = static_cast<size_t>(position);
      const float a = in[k - 1];
      const float b = in[k];
      for (size_t j = 0; j < per_sample; ++j) o[count++] = a + (b - a) * fractions[j];
    }
  }
  for (; position < end; position += step_) o[count++] = value(position);
  position_ = position;
  out.resize(used + count);
}

// Whether the positions up to `end` are sums without rounding: the step and
// the position are multiples of 2^-24 (as the steps between rates such as
// 22050 and 44100 Hz are) and every sum stays below 2^27, so it needs at
// most 51 bits.
bool Resampler::ExactSteps(double end) const {
  constexpr double kUnits = 16777216.0;  // 2^24
  const double step = step_ * kUnits;
  const double position = position_ * kUnits;
  return step == std::floor(step) && position == std::floor(position) && position_ >= 0 &&
         end + 2 * step_ < 134217728.0;
}

PcmConverter::PcmConverter(const PcmFormat& from, const PcmFormat& to)
    : from_(from), to_(to), resampler_(from.rate, to.rate, to.channels) {}

size_t PcmConverter::InputBytesFor(size_t out_bytes) const {
  size_t out_frames = out_bytes / to_.block_align();
  return std::max<size_t>(resampler_.InputFor(out_frames), 1) * from_.block_align();
}

void PcmConverter::Convert(const uint8_t* in, size_t bytes, std::vector<uint8_t>& out) {
  if (Identity()) {
    out.insert(out.end(), in, in + from_.WholeFrames(bytes));
    return;
  }
  size_t frames = bytes / from_.block_align();
  decoded_.resize(frames * from_.channels);
  DecodeToFloat(in, frames, from_, decoded_.data());
  mixed_.resize(frames * to_.channels);
  Remix(decoded_.data(), frames, from_.channels, to_.channels, mixed_.data());
  resampled_.clear();
  resampler_.Process(mixed_.data(), frames, resampled_);
  size_t out_frames = resampled_.size() / to_.channels;
  size_t old = out.size();
  out.resize(old + out_frames * to_.block_align());
  EncodeFromFloat(resampled_.data(), out_frames, to_, out.data() + old);
}

ToMix::ToMix(const PcmFormat& from, uint32_t mix_rate)
    : from_(from), resampler_(from.rate, mix_rate, 1) {}

void ToMix::Convert(const uint8_t* in, size_t bytes, std::vector<float>& out) {
  size_t frames = bytes / from_.block_align();
  decoded_.resize(frames * from_.channels);
  DecodeToFloat(in, frames, from_, decoded_.data());
  mono_.resize(frames);
  Remix(decoded_.data(), frames, from_.channels, 1, mono_.data());
  out.clear();
  resampler_.Process(mono_.data(), frames, out);
}

FromMix::FromMix(uint32_t mix_rate, const PcmFormat& to)
    : to_(to), resampler_(mix_rate, to.rate, 1) {}

void FromMix::Convert(const float* in, size_t frames, std::vector<uint8_t>& out) {
  resampled_.clear();
  resampler_.Process(in, frames, resampled_);
  size_t out_frames = resampled_.size();
  spread_.resize(out_frames * to_.channels);
  Remix(resampled_.data(), out_frames, 1, to_.channels, spread_.data());
  size_t old = out.size();
  out.resize(old + out_frames * to_.block_align());
  EncodeFromFloat(spread_.data(), out_frames, to_, out.data() + old);
}

}  // namespace velmora::platform::wave
