#include "tests/platform/wave_helpers.h"

#include <cmath>
#include <numbers>

namespace velmora::testing {

using namespace platform;

WAVEFORMATEX Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  f.wBitsPerSample = bits;
  return f;
}

namespace {
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}
void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v);
  s += static_cast<char>(v >> 8);
}
}  // namespace

std::string WavBytes(uint32_t rate, uint16_t channels, uint16_t bits, const std::string& data) {
  std::string s = "RIFF";
  Put32(s, static_cast<uint32_t>(36 + data.size()));
  s += "WAVEfmt ";
  Put32(s, 16);
  Put16(s, 1);
  Put16(s, channels);
  Put32(s, rate);
  Put32(s, rate * channels * bits / 8);
  Put16(s, static_cast<uint16_t>(channels * bits / 8));
  Put16(s, bits);
  s += "data";
  Put32(s, static_cast<uint32_t>(data.size()));
  return s + data;
}

std::string SineBytes(uint32_t rate, uint16_t channels, uint16_t bits, double freq,
                      double amplitude, size_t frames) {
  std::string s;
  for (size_t i = 0; i < frames; ++i) {
    double v = amplitude * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate);
    for (uint16_t c = 0; c < channels; ++c) {
      if (bits == 8) {
        s += static_cast<char>(static_cast<uint8_t>(std::lround(v * 127) + 128));
      } else {
        auto u = static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767)));
        Put16(s, u);
      }
    }
  }
  return s;
}

std::vector<double> Samples(const std::string& bytes, uint16_t channels, uint16_t bits) {
  std::vector<double> x;
  size_t frame = channels * bits / 8;
  for (size_t i = 0; i + frame <= bytes.size(); i += frame) {
    auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + i);
    if (bits == 8)
      x.push_back((p[0] - 128.0) / 128.0);
    else
      x.push_back(static_cast<int16_t>(p[0] | p[1] << 8) / 32768.0);
  }
  return x;
}

double ToneFrequency(const std::vector<double>& x, double rate) {
  if (x.size() < 2) return 0;
  double mean = 0;
  for (double v : x) mean += v;
  mean /= static_cast<double>(x.size());
  // Time of the first and last upward crossing, interpolated.
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    double a = x[i - 1] - mean, b = x[i] - mean;
    if (a < 0 && b >= 0) {
      double t = static_cast<double>(i - 1) + a / (a - b);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * rate / (last - first);
}

double Peak(const std::vector<double>& x) {
  double p = 0;
  for (double v : x) p = std::max(p, std::fabs(v));
  return p;
}

namespace {
void InProc(HWAVEIN, uint32_t msg, uintptr_t instance, uintptr_t param, uintptr_t) {
  reinterpret_cast<Notes*>(instance)->Add(msg, param);
}
void OutProc(HWAVEOUT, uint32_t msg, uintptr_t instance, uintptr_t param, uintptr_t) {
  reinterpret_cast<Notes*>(instance)->Add(msg, param);
}
}  // namespace

uintptr_t Notes::InputProc() {
  return reinterpret_cast<uintptr_t>(&InProc);
}
uintptr_t Notes::OutputProc() {
  return reinterpret_cast<uintptr_t>(&OutProc);
}

void Notes::Add(uint32_t msg, uintptr_t param) {
  {
    std::lock_guard lock(mutex_);
    notes_.push_back({msg, param});
  }
  added_.notify_all();
}

std::optional<Notes::Note> Notes::Next(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (!added_.wait_for(lock, limit, [&] { return !notes_.empty(); })) return std::nullopt;
  Note n = notes_.front();
  notes_.pop_front();
  return n;
}

WAVEHDR* Notes::NextBuffer(uint32_t msg, std::chrono::milliseconds limit) {
  auto n = Next(limit);
  if (!n || n->msg != msg) return nullptr;
  return reinterpret_cast<WAVEHDR*>(n->param);
}

Buffers::Buffers(size_t count, size_t size)
    : memory(count, std::vector<char>(size)), headers(count) {
  for (size_t i = 0; i < count; ++i) {
    headers[i] = WAVEHDR{};
    headers[i].lpData = memory[i].data();
    headers[i].dwBufferLength = static_cast<uint32_t>(size);
  }
}

}  // namespace velmora::testing
