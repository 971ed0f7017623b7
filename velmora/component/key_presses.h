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

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
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

// The largest of `count` values more than two bins (`step` Hz each) away
// from the bins of both frequencies; `none` when there is none.  OtherLevel
// is this over the levels; over values in the order of the levels (the
// magnitudes behind them) it picks out the same bin's value.
template <typename Value>
Value OtherMaximum(const Value* values, size_t count, double step, double freq_a, double freq_b,
                   Value none) {
  if (!(step > 0) || count == 0) return none;
  const double a = freq_a / step;
  const double b = freq_b / step;
  // Only bins within 3 of a or b can lie within 2.5 of them: the test is
  // made in those windows [lo, hi) alone, and the rest is a plain maximum.
  auto window = [count](double c, size_t& lo, size_t& hi) {
    lo = hi = 0;
    if (!(c > -4 && c < static_cast<double>(count) + 4)) return;
    const double f = std::floor(c);
    lo = f - 3 <= 0 ? 0 : static_cast<size_t>(f - 3);
    hi = f + 4 <= 0 ? 0 : std::min(count, static_cast<size_t>(f + 4));
  };
  size_t lo[2], hi[2];
  window(a, lo[0], hi[0]);
  window(b, lo[1], hi[1]);
  if (lo[1] < lo[0]) {
    std::swap(lo[0], lo[1]);
    std::swap(hi[0], hi[1]);
  }
  bool found = false;
  Value best = none;
  // Four running maxima, so that the comparisons do not wait on each other.
  auto plain = [&](size_t from, size_t to) {
    if (from >= to) return;
    Value m[4] = {values[from], values[from], values[from], values[from]};
    size_t i = from;
    for (; i + 4 <= to; i += 4)
      for (size_t k = 0; k < 4; ++k) m[k] = values[i + k] > m[k] ? values[i + k] : m[k];
    for (; i < to; ++i) m[0] = values[i] > m[0] ? values[i] : m[0];
    for (const Value& v : m)
      if (!found || v > best) {
        best = v;
        found = true;
      }
  };
  auto tested = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const auto bin = static_cast<double>(i);
      if (std::fabs(bin - a) <= 2.5 || std::fabs(bin - b) <= 2.5) continue;
      if (!found || values[i] > best) {
        best = values[i];
        found = true;
      }
    }
  };
  // The windows in order; they may overlap.
  size_t at = 0;
  for (int w = 0; w < 2; ++w) {
    if (lo[w] >= hi[w]) continue;
    plain(at, std::max(at, lo[w]));
    tested(std::max(at, lo[w]), hi[w]);
    at = std::max(at, hi[w]);
  }
  plain(at, count);
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
