// Helpers for the wave tests: formats, WAV file bytes, test signals, their
// measurement, and a collector of device notifications.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "velmora/platform/wave.h"

namespace velmora::testing {

platform::WAVEFORMATEX Pcm(uint32_t rate, uint16_t channels, uint16_t bits);

// A canonical 44-byte-header PCM WAV file holding `data`.
std::string WavBytes(uint32_t rate, uint16_t channels, uint16_t bits, const std::string& data);

// `frames` frames of a sine of `freq` Hz at `amplitude` (0..1 of full scale),
// the same in every channel, as PCM bytes.
std::string SineBytes(uint32_t rate, uint16_t channels, uint16_t bits, double freq,
                      double amplitude, size_t frames);

// Samples of channel 0 of PCM bytes, scaled to -1..1.
std::vector<double> Samples(const std::string& bytes, uint16_t channels, uint16_t bits);
// Frequency of a steady tone, from the mean-crossings of the signal.
double ToneFrequency(const std::vector<double>& x, double rate);
// Peak absolute value.
double Peak(const std::vector<double>& x);

// Collects the notifications of one device, made through CALLBACK_FUNCTION.
// Open a device with `flags()` as its open flags, InputProc() or
// OutputProc() as callback and `instance()`; Next() then returns each message in the order made.
class Notes {
 public:
  struct Note {
    uint32_t msg;
    uintptr_t param;
  };
  // The procedure to pass as the callback of an input or an output.
  static uintptr_t InputProc();
  static uintptr_t OutputProc();
  uintptr_t instance() const { return reinterpret_cast<uintptr_t>(this); }
  static constexpr uint32_t flags() { return platform::CALLBACK_FUNCTION; }

  // The next message, or nothing after `limit`.
  std::optional<Note> Next(std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits for the next message and returns its header (nullptr when it is
  // another message or nothing came).
  platform::WAVEHDR* NextBuffer(uint32_t msg,
                                std::chrono::milliseconds limit = std::chrono::seconds(10));

  void Add(uint32_t msg, uintptr_t param);

 private:
  std::mutex mutex_;
  std::condition_variable added_;
  std::deque<Note> notes_;
};

// Buffers for a device: `count` headers of `size` bytes each.
struct Buffers {
  Buffers(size_t count, size_t size);
  std::vector<std::vector<char>> memory;
  std::vector<platform::WAVEHDR> headers;
};

}  // namespace velmora::testing
