// Key presses from the spectrum of each buffer.
//
// The component reports a key for every buffer whose two strongest
// frequencies match its key table (the Key event), with no test of the
// levels and with a second frequency that may be remembered from an earlier
// buffer; and since only the two strongest bins decide, a tone a few dB
// weaker than its partner loses to the partner's leakage into the next bin
// and the key goes unseen.  The press detector does not rest on that
// decision.  KeyTones reads the two tones of a buffer from its spectrum
// itself: in each key group's band (697-941 Hz, 1209-1633 Hz) the strongest
// bin, its frequency refined between the bins, matched to the nearest
// keypad frequency.  KeyPressDetector then turns those per-buffer readings
// into presses a person can trust: a key with its start and duration in
// the input's own time line and the levels and frequencies that carried
// it.
//
// A buffer counts as evidence of its key only when
//  - both group peaks lie within `max_deviation_pct` of a keypad frequency;
//  - both tones lie above 0 dB (a tone of two 8-bit steps; the quietest
//    tones the capture resolves, of some six steps, measure about 10 dB)
//    and at least `min_level_db` above the buffer's noise level (gl_noise,
//    the GetTone noise_level);
//  - the twist, high-group level minus low-group level, lies within
//    -max_reverse_twist_db .. +max_forward_twist_db;
//  - the weaker tone stands at least `min_clearance_db` above every other
//    part of the spectrum (`other_level`: the strongest level more than two
//    bins away from both tones, see OtherLevel), so that a chord, speech
//    harmonics or gliding tones that pass through a key pair are no key.
// Consecutive evidence buffers of the same key form one press.  Once a
// press runs, a buffer with the same key whose tones pass the level floors
// continues it even where twist or clearance fail (a tone near a limit
// wavers across it from buffer to buffer, and one press must not become
// two); the press ends at the first buffer that does neither, and is
// reported only when it lasted at least `min_duration_ms`.  A repeated key ("11") is two
// presses because a buffer without it lies between them.
//
// The defaults come from measurements of the component's 8-bit capture
// (2048-point spectrum, rectangular window) on tones made by sox:
//  - frequency: ITU-T Q.24 receivers accept tones within 1.5 % of the
//    keypad frequency and reject those 3.5 % off.  The refined peak of a
//    clean tone lies within 0.3 bins (6.5 Hz) of the tone, so 2.5 % accepts
//    every tone 1.5 % off and rejects every tone 3.5 % off in every band.
//  - level: true keys, down to the quietest the capture resolves and with
//    white noise at 10 dB below them, stand 41.6 dB and more above the noise
//    level; the strongest bin of white and pink noise and of quiet buffers
//    stands at most 25.8 dB above it.  30 dB lies between.
//  - twist: ITU-T Q.24 receivers accept 4 dB with the high group stronger
//    and 8 dB with the low group stronger.  The twist is measured on each
//    tone's power over its bin and the two beside it: a single bin loses up
//    to 3.9 dB when the tone lies between two bins (rectangular window), the
//    three together less than 1 dB.  Pairs of equal tones, on and 1.5 %
//    off the keypad frequencies, measure -1.3 to +0.3 dB here, so 1.5 dB is
//    added to each limit.  Keys with 8 dB of reverse twist can still fail
//    the clearance below (the stronger tone's leakage beside the weaker).
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
  double max_forward_twist_db = 5.5;  // high group stronger than the low group
  double max_reverse_twist_db = 9.5;  // low group stronger than the high group
  double min_clearance_db = 8.0;
  double min_duration_ms = 40.0;
  double max_deviation_pct = 2.5;  // of the keypad frequency
};

// The reading of one buffer: its place in the input's time line, its two
// key tones (KeyTones: key empty when either group's peak matches no keypad
// frequency) and its noise level (the component's GetTone noise_level).
struct BufferKeyResult {
  double start_s = 0;
  double duration_s = 0;
  std::string_view key;
  // Level (dB) and frequency (Hz) of the low-group tone (a1, f1) and of
  // the high-group tone (a2, f2).
  double a1 = 0, a2 = 0, f1 = 0, f2 = 0;
  // High-group minus low-group tone power (dB), each tone's power summed
  // over its bin and the two beside it, which a tone between two bins
  // spreads over; not a number when not measured: then a2 - a1.
  double twist_db = std::numeric_limits<double>::quiet_NaN();
  double noise_level = 0;
  // The strongest level away from both tones (OtherLevel); -infinity when
  // not known, which never fails the clearance.
  double other_level = -std::numeric_limits<double>::infinity();
};

// The strongest of `levels` (one per bin, `step` Hz apart) more than two
// bins away from the bins of both frequencies; -infinity when there is none.
double OtherLevel(const std::vector<double>& levels, double step, double freq_a, double freq_b);

// The two key tones of a buffer's spectrum (`levels` in dB, one per bin,
// `step` Hz apart, bin 0 at 0 Hz): for each key group the strongest bin of
// its band, its frequency refined by a parabola through the bin and its
// neighbours, its level the bin's own.  Fills key (one of
// "123a456b789c*0#d", or empty when a group's peak lies more than
// `max_deviation_pct` from every keypad frequency of the group), a1/f1 for
// the low group, a2/f2 for the high group and other_level; the caller sets
// the times and the noise level.
BufferKeyResult KeyTones(const std::vector<double>& levels, double step,
                         const KeyPressSettings& settings);

// The steps of KeyTones, for a caller that finds the strongest bins in its
// own way (from the magnitudes behind the levels, say).
// The bins [first, last) of a key group's band.
struct KeyBand {
  size_t first = 0, last = 0;
};
// Both groups' bands in a spectrum of `bins` bins `step` Hz apart (empty
// bands when step is no positive number).
void KeyBands(double step, size_t bins, const KeyPressSettings& settings, KeyBand& low,
              KeyBand& high);
// A band's strongest bin (the lowest bin holding the band's largest level)
// and the levels of it and of the bins beside it (not numbers at the ends of
// the spectrum).
struct PeakBins {
  size_t best = 0;
  double left = std::numeric_limits<double>::quiet_NaN();
  double centre = 0;
  double right = std::numeric_limits<double>::quiet_NaN();
};
// What KeyTones gives from the two strongest bins, all but other_level.
BufferKeyResult KeyTonesAt(const PeakBins& low, const PeakBins& high, double step,
                           const KeyPressSettings& settings);

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
  // Both tones above 0 dB and at least min_level_db above the noise level.
  bool AboveFloors(const BufferKeyResult& buffer) const;
  // Whether a buffer that is no evidence still continues the running press.
  bool Continues(const BufferKeyResult& buffer) const;
  std::optional<KeyPress> Close();

  KeyPressSettings settings_;
  bool running_ = false;
  KeyPress press_;
};

}  // namespace velmora::tonvel
