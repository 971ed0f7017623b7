// The key-sequence player of the tone component: DTMF keys written to
// DTMF_keys are played one per tick of the 310 ms timer (TDTMF::ind2) as
// two-tone bursts through the first sound output device.
//
// Everything here runs on the GUI thread.  The output device of the latest
// key stays open (Opened = 1) until the next key opens it anew or the
// component is destroyed; a burst that is still sounding when the next key
// starts is cut off.  Nothing is reported back through events.
//
// Output format: PCM, mono, 22050 Hz, 8-bit unsigned samples whose
// midpoint is 127 (not 128).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "velmora/host/application.h"

namespace velmora::tonvel {

// Synthesises the sum of tones: one entry of `amplitudes` (0..1 is 0 to
// 100 %) and of `frequencies` (Hz) per tone, each tone weighted 0.25 and
// starting at phase 0, for `duration` seconds at `rate` samples per second.
// 8 bits: unsigned bytes around 127 (a value outside 0..255 wraps, it is not
// clipped); any other width: signed 16-bit little-endian samples.  The
// sample count is round(duration / (1 / rate)) with the quotient formed in
// extended precision; a duration that yields no samples gives no bytes.
std::vector<uint8_t> synth_tones(int32_t rate, uint8_t bits, const std::vector<double>& amplitudes,
                                 const std::vector<int16_t>& frequencies, double duration);

// Opens output device 0 with the key output format at `rate` and `bits`
// (closing the previous key's device first), copies the samples into the
// unit-level block pBuf and queues them.  Returns at once.  A device that
// cannot be opened or a header that cannot be prepared plays nothing.
// `notify` is a window for the device's notices, 0 for none.
void play_samples(host::HWND notify, int32_t rate, uint8_t bits,
                  const std::vector<uint8_t>& samples);

// Resets and closes the key output device and releases its sample memory;
// Opened becomes 0.  Does nothing when no key output is open.
void close_key_output();

namespace key_player {

// The key characters in table order: position i (0-based) plays DTMF1[i]
// and DTMF2[i].
constexpr std::string_view kKeyChars = "1234567890*#abcd";
// The sample rate and width the player always uses.
constexpr int32_t kRate = 22050;
constexpr uint8_t kBits = 8;
// The longest burst synthesised, in milliseconds: longer DTMF_duration_ms
// values play this long (the same bound as the sine generator's segments,
// and far below what one output buffer can describe).
constexpr int32_t kMaxBurstMs = 48695;

// The position (0..15) of a key character, compared in lower case; -1 for a
// character that is no key.
int KeyIndex(char c);

// Plays the key at `index` as ind2 does: both tones at volume_percent / 100,
// for duration_ms.  A duration that yields no samples plays nothing.
// Returns the number of samples played (0 when nothing was sent).
int32_t PlayKey(int index, int32_t volume_percent, int32_t duration_ms);

// Observer of the played keys, for tools and tests (the command line prints
// each dialled key): called after each burst has been handed to the device,
// with the key character, the two frequencies and the sample count.
using KeyPlayedHook = std::function<void(char key, int32_t f_low, int32_t f_high, size_t samples)>;
void SetKeyPlayedHook(KeyPlayedHook hook);

}  // namespace key_player

}  // namespace velmora::tonvel
