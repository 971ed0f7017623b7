// Key presses from capture buffers without the component's message loop:
// the per-buffer results a KeyPressDetector needs, computed for many
// buffers at once (on several threads) and mostly without the logarithms.
//
// The exact per-buffer pipeline (capture steps 4 to 8: samples, spectrum,
// levels, peaks) takes 1024 logarithms per buffer, and the level of every
// bin enters the noise level.  A press, though, rests on few of them: the
// strongest bin of each key group's band and the bins beside it, the
// strongest level away from both tones, and the noise level.  The level of
// a bin is a non-decreasing function of its magnitude, so those bins are
// found from the magnitudes, and only their logarithms (and those of bins a
// rounding away from them, whose levels may tie) are taken: the key, levels,
// frequencies, twist and other level come out bit for bit as KeyTones gives
// them over the pipeline's levels.  The noise level is the mean of all
// levels; it is computed from the product of the magnitudes (one
// logarithm), whose error is a tiny fraction of kNoiseMargin dB.  Where a
// tone's level lies within that margin of the level floor, the buffer is
// marked for the exact pipeline (ExactBufferResult), so the detector
// decides every buffer as it would after the exact pipeline.
//
// Buffers that can be neither evidence nor the continuation of a press (a
// tone at 0 dB or below, a group peak near no keypad frequency) come back
// with an empty key.  The pipeline carries state from buffer to buffer only
// in its own key decision (f1, f2 and f0 when no bin qualifies), which the
// detector does not read, so buffers can be scanned in any order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velmora/component/key_presses.h"

namespace velmora::tonvel {

// How the component turns capture bytes into levels.
struct SpectrumSettings {
  int32_t requested = 2048;  // FFT_point
  uint16_t window_code = 5;  // FFT_window
  int32_t noise_db = 0;      // FFT_noise
  bool cut_minusamp = false;
  uint32_t rate = 44100;  // the capture rate
};

// The unit-level spectrum settings (fcntpp, f_window, f_noise) with
// `cut_minusamp` (the component's FFT_cut_minusamp).
SpectrumSettings CurrentSpectrumSettings(bool cut_minusamp);

// How far (in dB) a tone's level must lie from the level floor for the
// approximate noise level to decide.
inline constexpr double kNoiseMargin = 1e-6;

struct ScannedBuffer {
  // The outcome could depend on the exact noise level: the caller runs
  // ExactBufferResult for this buffer.
  bool needs_exact = false;
  // The results (without start and duration); key empty when the buffer
  // can neither be evidence nor continue a press.  The noise level is the
  // approximate one.
  BufferKeyResult result;
};

// Scans `count` capture bytes (8-bit unsigned, 128 = silence; count >= 2).
// Safe to call from several threads at once.
ScannedBuffer ScanBuffer(const uint8_t* bytes, size_t count, const SpectrumSettings& settings,
                         const KeyPressSettings& press_settings);

// The exact pipeline over the unit-level state, as live capture runs it
// (the samples, calc_spektr, the peaks and the noise level), and what the
// press tracker reads of it at GetTone: KeyTones over the levels and the
// noise level.  Settings must be CurrentSpectrumSettings().  GUI thread
// only; it replaces the latest buffer's results in the unit-level state.
BufferKeyResult ExactBufferResult(const uint8_t* bytes, size_t count,
                                  const SpectrumSettings& settings,
                                  const KeyPressSettings& press_settings);

}  // namespace velmora::tonvel
