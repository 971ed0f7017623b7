// Key presses from the per-buffer key decision.
//
// The component reports a key for every buffer whose two strongest
// frequencies match the key table (the Key event), with no test of the
// levels and with a second frequency that may be remembered from an earlier
// buffer.  KeyPressDetector sits above those results and turns them into
// presses a person can trust: a key with its start and duration in the
// input's own time line and the levels and frequencies that carried it.
//
// A buffer counts as evidence of its key only when
//  - the second tone was found in that buffer: a2 above 0 dB (the component
//    leaves a2 at 0, and f2 at an earlier buffer's value, when it finds no
//    second value above 0 dB);
//  - both tones stand at least `min_level_db` above the buffer's noise level
//    (gl_noise, the GetTone noise_level);
//  - the twist, high-group level minus low-group level, lies within
//    -max_reverse_twist_db .. +max_forward_twist_db;
//  - the weaker tone stands at least `min_clearance_db` above every other
//    part of the spectrum (`other_level`: the strongest level more than two
//    bins away from both tones, see OtherLevel), so that a chord, speech
//    harmonics or gliding tones that pass through a key pair are no key.
// Consecutive evidence buffers of the same key form one press; the press
// ends at the first buffer that is not evidence of it, and is reported only
// when it lasted at least `min_duration_ms`.  A repeated key ("11") is two
// presses because a buffer without it lies between them.
//
// The defaults come from measurements of the component's 8-bit capture
// (2048-point spectrum, rectangular window) on tones made by sox:
//  - level: true keys, down to the quietest the capture resolves and with
//    white noise at 10 dB below them, stand 41.6 dB and more above the noise
//    level; the strongest bin of white and pink noise and of quiet buffers
//    stands at most 25.8 dB above it.  30 dB lies between.
//  - twist: ITU-T Q.24 receivers accept 4 dB with the high group stronger
//    and 8 dB with the low group stronger; a pair of equal tones measures
//    up to 2.4 dB of twist here (a tone between two bins loses up to 3.9 dB
//    with the rectangular window), so 2.5 dB is added to each limit.
//  - clearance: the sixteen keys, alone or with white noise 10 dB below
//    them, stand 14 dB and more clear of the rest of the spectrum; 40 ms
//    keys, cut by the buffer edges, 10 dB.  Two tone sweeps with a third
//    crossing a key pair came within 4 dB.  8 dB lies between.  (A pair of
//    sweeps crossing a key pair in step, with nothing else beside it, is a
//    key pair for that moment and passes; --min-duration 60 or a clearance
//    of 12 dB rejects it, at the price of keys of 40 to 60 ms.)
//  - duration: Q.24 recognises tones of 40 ms and more.  One buffer lasts
//    46.4 ms, so one evidence buffer makes a press.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora::tonvel {

struct KeyPressSettings {
  double min_level_db = 30.0;
  double max_forward_twist_db = 6.5;   // high group stronger than the low group
  double max_reverse_twist_db = 10.5;  // low group stronger than the high group
  double min_clearance_db = 8.0;
  double min_duration_ms = 40.0;
};

// The results of one buffer: its place in the input's time line and what
// GetTone and Key reported for it (key empty when no Key was raised).
struct BufferKeyResult {
  double start_s = 0;
  double duration_s = 0;
  std::string_view key;
  double a1 = 0, a2 = 0, f1 = 0, f2 = 0;
  double noise_level = 0;
  // The strongest level away from both tones (OtherLevel); -infinity when
  // not known, which never fails the clearance.
  double other_level = -std::numeric_limits<double>::infinity();
};

// The strongest of `levels` (one per bin, `step` Hz apart) more than two
// bins away from the bins of both frequencies; -infinity when there is none.
double OtherLevel(const std::vector<double>& levels, double step, double freq_a, double freq_b);

// The bin OtherLevel takes its level from: the first of the largest of
// `count` values more than two bins away from the bins of both frequencies;
// `count` when there is none.  Any values whose order is the order of the
// levels (the magnitudes behind them) give the same bin's level.
template <typename Value>
size_t StrongestOtherBin(const Value* values, size_t count, double step, double freq_a,
                         double freq_b) {
  size_t best = count;
  if (!(step > 0)) return best;
  const double a = freq_a / step;
  const double b = freq_b / step;
  for (size_t i = 0; i < count; ++i) {
    const auto bin = static_cast<double>(i);
    if (bin - a <= 2.5 && a - bin <= 2.5) continue;
    if (bin - b <= 2.5 && b - bin <= 2.5) continue;
    if (best == count || values[i] > values[best]) best = i;
  }
  return best;
}

struct KeyPress {
  char key = 0;
  double start_s = 0;
  double duration_s = 0;
  // The two tones in the buffer where the weaker of them was strongest.
  double low_level_db = 0, high_level_db = 0;
  double low_freq_hz = 0, high_freq_hz = 0;
};

class KeyPressDetector {
 public:
  explicit KeyPressDetector(KeyPressSettings settings = {}) : settings_(settings) {}

  // Takes the next buffer's results (buffers in time order); returns the
  // press that this buffer ends, if one does.
  std::optional<KeyPress> Feed(const BufferKeyResult& buffer);
  // The end of the input: returns the press still running, if any.
  std::optional<KeyPress> Finish();

  // Whether one buffer is evidence of its key (see above).
  bool IsEvidence(const BufferKeyResult& buffer) const;

  const KeyPressSettings& settings() const { return settings_; }

 private:
  std::optional<KeyPress> Close();

  KeyPressSettings settings_;
  bool running_ = false;
  KeyPress press_;
  double best_weaker_db_ = 0;  // the weaker tone's level in press_'s levels
};

}  // namespace velmora::tonvel
