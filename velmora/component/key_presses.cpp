// Key presses from the per-buffer key decision.  See key_presses.h.

#include "velmora/component/key_presses.h"

#include <algorithm>
#include <cmath>

namespace velmora::tonvel {

namespace {

struct Tones {
  double low_level, high_level, low_freq, high_freq;
};

Tones Split(const BufferKeyResult& b) {
  if (b.f1 <= b.f2) return {b.a1, b.a2, b.f1, b.f2};
  return {b.a2, b.a1, b.f2, b.f1};
}

}  // namespace

double OtherLevel(const std::vector<double>& levels, double step, double freq_a, double freq_b) {
  return OtherMaximum(levels.data(), levels.size(), step, freq_a, freq_b,
                      -std::numeric_limits<double>::infinity());
}

bool KeyPressDetector::IsEvidence(const BufferKeyResult& b) const {
  if (b.key.size() != 1 || !(b.a2 > 0)) return false;
  const Tones t = Split(b);
  const double floor = b.noise_level + settings_.min_level_db;
  if (!(t.low_level >= floor && t.high_level >= floor)) return false;
  if (!(std::min(t.low_level, t.high_level) - b.other_level >= settings_.min_clearance_db))
    return false;
  const double twist = t.high_level - t.low_level;
  return twist <= settings_.max_forward_twist_db && -twist <= settings_.max_reverse_twist_db;
}

std::optional<KeyPress> KeyPressDetector::Feed(const BufferKeyResult& b) {
  const bool evidence = IsEvidence(b);
  std::optional<KeyPress> ended;
  if (running_ && (!evidence || b.key[0] != press_.key)) ended = Close();
  if (!evidence) return ended;
  const Tones t = Split(b);
  const double weaker = std::min(t.low_level, t.high_level);
  if (!running_) {
    running_ = true;
    press_ = KeyPress{b.key[0], b.start_s, 0, t.low_level, t.high_level, t.low_freq, t.high_freq};
    best_weaker_db_ = weaker;
  } else if (weaker > best_weaker_db_) {
    press_.low_level_db = t.low_level;
    press_.high_level_db = t.high_level;
    press_.low_freq_hz = t.low_freq;
    press_.high_freq_hz = t.high_freq;
    best_weaker_db_ = weaker;
  }
  press_.duration_s = b.start_s + b.duration_s - press_.start_s;
  return ended;
}

std::optional<KeyPress> KeyPressDetector::Finish() {
  if (!running_) return std::nullopt;
  return Close();
}

std::optional<KeyPress> KeyPressDetector::Close() {
  running_ = false;
  if (press_.duration_s * 1000.0 + 1e-9 < settings_.min_duration_ms) return std::nullopt;
  return press_;
}

}  // namespace velmora::tonvel
