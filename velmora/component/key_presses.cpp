// Key presses from the spectrum of each buffer.  See key_presses.h.

#include "velmora/component/key_presses.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace velmora::tonvel {

namespace {

// The keypad (ITU-T Q.23): rows by the low-group frequency, columns by the
// high-group frequency.
constexpr double kLowGroup[4] = {697, 770, 852, 941};
constexpr double kHighGroup[4] = {1209, 1336, 1477, 1633};
constexpr std::string_view kKeypad = "123a456b789c*0#d";

struct Peak {
  double level = 0;
  double power = 0;  // dB of the summed power of the bin and its neighbours
  double freq = 0;
  int index = -1;  // into the group's frequencies; -1 when none is near
};

double Power(double db) {
  return std::pow(10.0, db / 10.0);
}

// A group's band: from its lowest to its highest frequency, each widened by
// the deviation.
KeyBand BandOf(const double (&group)[4], double step, size_t bins, double deviation) {
  KeyBand band;
  band.first = static_cast<size_t>(std::max(0.0, std::floor(group[0] * (1 - deviation) / step)));
  band.last = std::min(bins, static_cast<size_t>(std::ceil(group[3] * (1 + deviation) / step)) + 1);
  if (band.first > band.last) band.first = band.last;
  return band;
}

// The group's tone at its strongest bin: the frequency refined by a
// parabola through the neighbours' levels, the power of the three bins, and
// the group frequency it lies near.
Peak GroupPeak(const PeakBins& bins, double step, const double (&group)[4], double deviation) {
  Peak peak;
  double offset = 0;
  double power = Power(bins.centre);
  if (!std::isnan(bins.left) && !std::isnan(bins.right)) {
    const double l = bins.left, c = bins.centre, r = bins.right;
    const double curve = l - 2 * c + r;
    if (curve < 0) offset = std::clamp(0.5 * (l - r) / curve, -0.5, 0.5);
    power += Power(l) + Power(r);
  }
  peak.level = bins.centre;
  peak.power = 10.0 * std::log10(power);
  peak.freq = (static_cast<double>(bins.best) + offset) * step;
  double nearest = deviation;
  for (int k = 0; k < 4; ++k) {
    const double off = std::fabs(peak.freq - group[k]) / group[k];
    if (off <= nearest) {
      nearest = off;
      peak.index = k;
    }
  }
  return peak;
}

// The strongest bin of a band (the lowest of equal ones) and its neighbours.
PeakBins StrongestIn(const std::vector<double>& levels, const KeyBand& band) {
  PeakBins p;
  size_t best = band.first;
  for (size_t i = band.first + 1; i < band.last; ++i)
    if (levels[i] > levels[best]) best = i;
  p.best = best;
  p.centre = levels[best];
  if (best > 0 && best + 1 < levels.size()) {
    p.left = levels[best - 1];
    p.right = levels[best + 1];
  }
  return p;
}

}  // namespace

double OtherLevel(const std::vector<double>& levels, double step, double freq_a, double freq_b) {
  return OtherMaximum(levels.data(), levels.size(), step, freq_a, freq_b,
                      -std::numeric_limits<double>::infinity());
}

void KeyBands(double step, size_t bins, const KeyPressSettings& settings, KeyBand& low,
              KeyBand& high) {
  low = high = KeyBand{};
  if (!(step > 0)) return;
  const double deviation = settings.max_deviation_pct / 100.0;
  low = BandOf(kLowGroup, step, bins, deviation);
  high = BandOf(kHighGroup, step, bins, deviation);
}

BufferKeyResult KeyTonesAt(const PeakBins& low_bins, const PeakBins& high_bins, double step,
                           const KeyPressSettings& settings) {
  BufferKeyResult b;
  const double deviation = settings.max_deviation_pct / 100.0;
  const Peak low = GroupPeak(low_bins, step, kLowGroup, deviation);
  const Peak high = GroupPeak(high_bins, step, kHighGroup, deviation);
  b.a1 = low.level;
  b.f1 = low.freq;
  b.a2 = high.level;
  b.f2 = high.freq;
  b.twist_db = high.power - low.power;
  if (low.index >= 0 && high.index >= 0)
    b.key = kKeypad.substr(static_cast<size_t>(low.index * 4 + high.index), 1);
  return b;
}

BufferKeyResult KeyTones(const std::vector<double>& levels, double step,
                         const KeyPressSettings& settings) {
  KeyBand low, high;
  KeyBands(step, levels.size(), settings, low, high);
  if (low.first >= low.last || high.first >= high.last) return BufferKeyResult{};
  BufferKeyResult b =
      KeyTonesAt(StrongestIn(levels, low), StrongestIn(levels, high), step, settings);
  b.other_level = OtherLevel(levels, step, b.f1, b.f2);
  return b;
}

bool KeyPressDetector::AboveFloors(const BufferKeyResult& b) const {
  const double floor = b.noise_level + settings_.min_level_db;
  return b.a1 > 0 && b.a2 > 0 && b.a1 >= floor && b.a2 >= floor;
}

bool KeyPressDetector::IsEvidence(const BufferKeyResult& b) const {
  if (b.key.size() != 1 || !AboveFloors(b)) return false;
  if (!(std::min(b.a1, b.a2) - b.other_level >= settings_.min_clearance_db)) return false;
  const double twist = std::isnan(b.twist_db) ? b.a2 - b.a1 : b.twist_db;
  return twist <= settings_.max_forward_twist_db && -twist <= settings_.max_reverse_twist_db;
}

bool KeyPressDetector::Continues(const BufferKeyResult& b) const {
  return running_ && b.key.size() == 1 && b.key[0] == press_.key && AboveFloors(b);
}

std::optional<KeyPress> KeyPressDetector::Feed(const BufferKeyResult& b) {
  const bool evidence = IsEvidence(b);
  if (!evidence && Continues(b)) {
    press_.duration_s = b.start_s + b.duration_s - press_.start_s;
    return std::nullopt;
  }
  std::optional<KeyPress> ended;
  if (running_ && (!evidence || b.key[0] != press_.key)) ended = Close();
  if (!evidence) return ended;
  // The press keeps the tones of its buffer where the weaker tone was
  // strongest.
  if (!running_ || std::min(b.a1, b.a2) > std::min(press_.low_level_db, press_.high_level_db)) {
    const double start = running_ ? press_.start_s : b.start_s;
    press_ = KeyPress{b.key[0], start, 0, b.a1, b.a2, b.f1, b.f2};
    running_ = true;
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
