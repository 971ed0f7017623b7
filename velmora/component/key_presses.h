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
//  - both tones stand at least `min_level_db` above the buffer's noise level
//    (gl_noise, the GetTone noise_level);
//  - the twist, high-group level minus low-group level, lies within
//    -max_reverse_twist_db .. +max_forward_twist_db;
//  - the weaker tone stands at least `min_clearance_db` above every other
//    part of the spectrum (`other_level`: the strongest level more than two
//    bins away from both tones, see OtherLevel), so that a chord, speech
//    harmonics or gliding tones that pass through a key pair are no key.
// Consecutive evidence buffers of the same key form one press.  Once a
// press runs, a buffer with the same key whose tones pass the level floor
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

#include <limits>
#include <optional>
#include <string_view>
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
  double a1 = 0, a2 = 0, f1 = 0, f2 = 0;  // level (dB) and frequency (Hz) of the two tones
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
  // Whether a buffer that is no evidence still continues the running press.
  bool Continues(const BufferKeyResult& buffer) const;
  std::optional<KeyPress> Close();

  KeyPressSettings settings_;
  bool running_ = false;
  KeyPress press_;
  double best_weaker_db_ = 0;  // the weaker tone's level in press_'s levels
};

}  // namespace velmora::tonvel
