// The key-sequence player: synthesis of the two-tone bursts and the key
// output device.  The tick that walks through DTMF_keys is TDTMF::ind2
// (ticks.cpp).

#include "velmora/component/key_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "velmora/component/unit_state.h"
#include "velmora/platform/wave.h"

namespace velmora::tonvel {

namespace {

using platform::WAVEHDR;

constexpr uint32_t kHeaderSize = sizeof(WAVEHDR);
// Each tone contributes a quarter of full scale at 100 % volume, so two
// tones at up to 200 % stay within the byte range.
constexpr double kToneWeight = 0.25;
// Midpoint of the key output's 8-bit samples.
constexpr int32_t kMidpoint8 = 127;

key_player::KeyPlayedHook g_key_played;

}  // namespace

std::vector<uint8_t> synth_tones(int32_t rate, uint8_t bits, const std::vector<double>& amplitudes,
                                 const std::vector<int16_t>& frequencies, double duration) {
  const size_t tones = std::min(amplitudes.size(), frequencies.size());
  std::vector<double> step(tones);
  for (size_t k = 0; k < tones; ++k) {
    // One period in samples is (1 / f) / (1 / rate); the phase advances by
    // a full turn over it.
    const double f = frequencies[k];
    step[k] = 2 * std::numbers::pi / ((1 / f) / (1 / static_cast<double>(rate)));
  }
  const double p = 1 / static_cast<double>(rate);
  const long double quotient = static_cast<long double>(duration) / static_cast<long double>(p);
  if (!(quotient >= 0.5L)) return {};  // no samples (also a NaN or negative duration)
  // Bounded so that the byte count of any width fits one output buffer.
  const long double samples_max = 0x3FFFFFFF;
  const auto n = static_cast<int64_t>(std::nearbyint(std::min(quotient, samples_max)));
  const auto byte_count = static_cast<size_t>(std::nearbyint(static_cast<double>(n) * bits / 8.0));
  std::vector<uint8_t> out(byte_count);

  const double full_scale = bits == 8 ? 127 : 32767;
  for (int64_t s = 0; s < n; ++s) {
    double v = 0;
    for (size_t k = 0; k < tones; ++k)
      v += std::sin(static_cast<double>(s) * step[k]) * kToneWeight * amplitudes[k];
    const auto r = static_cast<int64_t>(std::nearbyint(full_scale * v));
    if (bits == 8) {
      // The low 8 bits: a value beyond the byte range wraps.
      out[static_cast<size_t>(s)] = static_cast<uint8_t>(r + kMidpoint8);
    } else {
      // A width between 9 and 15 bits gives fewer bytes than 16-bit samples
      // need: what does not fit is left out.
      const size_t at = static_cast<size_t>(s) * 2;
      if (at < out.size()) out[at] = static_cast<uint8_t>(r & 0xFF);
      if (at + 1 < out.size()) out[at + 1] = static_cast<uint8_t>((r >> 8) & 0xFF);
    }
  }
  return out;
}

void close_key_output() {
  if (Opened == 0) return;
  (void)platform::waveOutReset(waveOut);
  // The reset has handed the buffer back; unpreparing it before the close
  // leaves nothing of it to the device.
  (void)platform::waveOutUnprepareHeader(waveOut, &outHdr, kHeaderSize);
  // The device copies what it plays under its lock, and the reset has
  // taken the buffer back: the block can go whatever the close says.
  (void)platform::waveOutClose(waveOut);
  waveOut = nullptr;
  std::vector<uint8_t>().swap(pBuf);
  pBuffer = nullptr;
  outHdr = WAVEHDR{};
  Opened = 0;
}

void play_samples(host::HWND notify, int32_t rate, uint8_t bits,
                  const std::vector<uint8_t>& samples) {
  header2 = platform::WAVEFORMATEX{};
  header2.wFormatTag = platform::WAVE_FORMAT_PCM;
  header2.nChannels = 1;
  header2.nSamplesPerSec = static_cast<uint32_t>(rate);
  header2.wBitsPerSample = bits;
  header2.nBlockAlign = static_cast<uint16_t>(bits / 8 * header2.nChannels);
  header2.nAvgBytesPerSec = header2.nBlockAlign * header2.nSamplesPerSec;
  header2.cbSize = 0;

  if (Opened == 1) close_key_output();
  platform::HWAVEOUT device = nullptr;
  // Device 0, the first output device (not the mapper).
  if (platform::waveOutOpen(&device, 0, &header2, notify, 0, platform::CALLBACK_WINDOW) !=
      platform::MMSYSERR_NOERROR)
    return;
  waveOut = device;
  Opened = 1;
  pBuf.assign(samples.size(), 0);
  pBuffer = pBuf.data();
  outHdr = WAVEHDR{};
  outHdr.lpData = reinterpret_cast<char*>(pBuffer);
  outHdr.dwBufferLength = static_cast<uint32_t>(samples.size());
  outHdr.dwUser = 0;
  outHdr.dwFlags = 0;
  outHdr.dwLoops = 0;
  if (platform::waveOutPrepareHeader(waveOut, &outHdr, kHeaderSize) != platform::MMSYSERR_NOERROR)
    return;
  std::memcpy(pBuffer, samples.data(), samples.size());
  (void)platform::waveOutWrite(waveOut, &outHdr, kHeaderSize);
}

namespace key_player {

int KeyIndex(char c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const size_t at = kKeyChars.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int32_t PlayKey(int index, int32_t volume_percent, int32_t duration_ms) {
  if (index < 0 || index >= static_cast<int>(kKeyChars.size())) return 0;
  const auto i = static_cast<size_t>(index);
  // The tables hold Integers; the synthesis takes their low 16 bits.
  const std::vector<int16_t> frequencies = {static_cast<int16_t>(DTMF1[i]),
                                            static_cast<int16_t>(DTMF2[i])};
  const double amplitude = volume_percent / 100.0;
  const std::vector<double> amplitudes = {amplitude, amplitude};
  const double duration = std::min(duration_ms, kMaxBurstMs) / 1000.0;
  const std::vector<uint8_t> samples = synth_tones(kRate, kBits, amplitudes, frequencies, duration);
  // Nothing to play: the device is left alone and the sequence goes on.
  if (samples.empty()) return 0;
  play_samples(0, kRate, kBits, samples);
  if (g_key_played) g_key_played(kKeyChars[i], DTMF1[i], DTMF2[i], samples.size());
  return static_cast<int32_t>(samples.size());
}

void SetKeyPlayedHook(KeyPlayedHook hook) {
  g_key_played = std::move(hook);
}

}  // namespace key_player

}  // namespace velmora::tonvel
