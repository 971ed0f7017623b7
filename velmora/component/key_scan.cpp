// Per-buffer key results from the magnitudes.  See key_scan.h.

#include "velmora/component/key_scan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "velmora/component/capture.h"
#include "velmora/component/keys.h"
#include "velmora/component/spectrum.h"
#include "velmora/component/unit_state.h"

namespace velmora::tonvel {

namespace {

// Arguments more than this fraction below another one give a level that is
// lower by 8.7e-9 dB or more: far beyond the rounding of log10 and of the
// level formula (1e-13 dB at these magnitudes), so such levels never tie.
constexpr double kTie = 1e-9;

struct Work {
  std::vector<double> samples;
  std::vector<double> arg;
};

Work& ThreadWork() {
  thread_local Work work;
  return work;
}

// The sum of log10(arg[j]) over the bins whose `keep` is true, from the
// product of the arguments: each is split into its binary exponent and a
// mantissa in [0.5, 1), the mantissas multiplied (renormalised every 32, so
// the product stays far from underflow) and one logarithm taken at the
// end.  The relative error of the product is below count * 2^-53.
template <typename Keep>
double SumOfLog10(const double* arg, size_t count, Keep keep) {
  constexpr uint64_t kExponentMask = 0x7ffULL << 52;
  constexpr uint64_t kHalf = 1022ULL << 52;  // exponent field of [0.5, 1)
  double product = 1;
  int64_t exponent = 0;
  size_t taken = 0;
  for (size_t j = 0; j < count; ++j) {
    if (!keep(j)) continue;
    // Arguments are positive normal numbers (at least 0.000001).
    const auto bits = std::bit_cast<uint64_t>(arg[j]);
    exponent += static_cast<int64_t>((bits & kExponentMask) >> 52) - 1022;
    product *= std::bit_cast<double>((bits & ~kExponentMask) | kHalf);
    if (++taken % 32 == 0) {
      int e = 0;
      product = std::frexp(product, &e);
      exponent += e;
    }
  }
  return (static_cast<double>(exponent) + std::log2(product)) * std::log10(2.0);
}

// The pipeline's noise level of these levels, approximately: (sum of the
// levels counted - max(a1, a2)) / (bins - 1), the levels counted being all,
// or with cut_minusamp those of 0 dB and more.
double ApproximateNoise(const double* arg, size_t bins, const SpectrumSettings& s, double a1,
                        double a2) {
  double sum = 0;
  if (!s.cut_minusamp) {
    sum = 20 * SumOfLog10(arg, bins, [](size_t) { return true; }) -
          static_cast<double>(bins) * s.noise_db;
  } else {
    // A level is 0 dB or more from the argument 10^(noise / 20) up; near
    // that argument the level itself decides.
    const double threshold = std::pow(10.0, s.noise_db / 20.0);
    const double below = threshold * (1 - kTie);
    const double above = threshold * (1 + kTie);
    size_t counted = 0;
    auto keep = [&](size_t j) {
      if (arg[j] < below) return false;
      if (arg[j] <= above && !(LevelOf(arg[j], s.noise_db) >= 0)) return false;
      ++counted;
      return true;
    };
    const double logs = SumOfLog10(arg, bins, keep);
    sum = 20 * logs - static_cast<double>(counted) * s.noise_db;
  }
  const double divisor = bins >= 2 ? static_cast<double>(bins - 1) : 1.0;
  return (sum - std::max(a1, a2)) / divisor;
}

}  // namespace

SpectrumSettings CurrentSpectrumSettings(bool cut_minusamp) {
  SpectrumSettings s;
  s.requested = fcntpp;
  s.window_code = f_window;
  s.noise_db = f_noise;
  s.cut_minusamp = cut_minusamp;
  s.rate = capture::CaptureFormat().nSamplesPerSec;
  return s;
}

ScannedBuffer ScanBuffer(const uint8_t* bytes, size_t count, const SpectrumSettings& s,
                         const KeyPressDetector& detector) {
  ScannedBuffer out;
  const int32_t n = SpectrumSize(count, s.requested);
  if (n == 0) return out;
  Work& w = ThreadWork();
  const auto bins = static_cast<size_t>(n) / 2;
  if (w.samples.size() < count) w.samples.resize(count);
  if (w.arg.size() < bins) w.arg.resize(bins);
  capture::BytesToSamples(bytes, count, w.samples.data());
  const double* arg = w.arg.data();
  LevelArguments(w.samples.data(), count, n, s.window_code, w.arg.data());
  const double step = spectrum::BinSpacing(1, s.rate, bins);
  const int32_t noise = s.noise_db;

  // a1: the largest level; f1 the lowest bin holding it.  A second tone
  // above 0 dB (which evidence needs) lies below a1, so a1 > 0 then, and a1
  // is then the largest level however the pipeline's running maximum went.
  size_t top = 0;
  for (size_t j = 1; j < bins; ++j)
    if (arg[j] > arg[top]) top = j;
  const double a1 = LevelOf(arg[top], noise);
  if (!(a1 > 0)) return out;
  const double near_top = arg[top] * (1 - kTie);
  auto tied = [&](size_t j) { return arg[j] >= near_top && LevelOf(arg[j], noise) == a1; };
  size_t first_top = top;
  // a2: the largest level other than a1 (bins tied with a1 left out), f2
  // the highest bin holding it.
  size_t second = bins;
  for (size_t j = 0; j < bins; ++j) {
    if (tied(j)) {
      first_top = std::min(first_top, j);
      continue;
    }
    if (second == bins || arg[j] > arg[second]) second = j;
  }
  if (second == bins) return out;
  const double a2 = LevelOf(arg[second], noise);
  if (!(a2 > 0)) return out;
  const double near_second = arg[second] * (1 - kTie);
  size_t last_second = second;
  for (size_t j = bins; j-- > second + 1;)
    if (arg[j] >= near_second && !tied(j) && LevelOf(arg[j], noise) == a2) {
      last_second = j;
      break;
    }

  BufferKeyResult& r = out.result;
  r.f1 = static_cast<double>(first_top) * step;
  r.f2 = static_cast<double>(last_second) * step;
  r.key = keys::DecideKey(r.f1, r.f2);
  if (r.key.empty()) return out;
  r.a1 = a1;
  r.a2 = a2;
  const size_t other = StrongestOtherBin(arg, bins, step, r.f1, r.f2);
  r.other_level =
      other == bins ? -std::numeric_limits<double>::infinity() : LevelOf(arg[other], noise);
  // Everything but the level floor, decided with the exact values.
  r.noise_level = -std::numeric_limits<double>::infinity();
  if (!detector.IsEvidence(r)) {
    r = BufferKeyResult{};
    return out;
  }
  r.noise_level = ApproximateNoise(arg, bins, s, a1, a2);
  const double weaker = std::min(a1, a2);
  const double floor = r.noise_level + detector.settings().min_level_db;
  const double margin = kNoiseMargin * (1 + std::fabs(static_cast<double>(noise)));
  out.needs_exact = std::fabs(weaker - floor) <= margin;
  return out;
}

BufferKeyResult ExactBufferResult(const uint8_t* bytes, size_t count, const SpectrumSettings& s) {
  capture::ClearResults();
  inwav.y.resize(count);
  capture::BytesToSamples(bytes, count, inwav.y.data());
  calc_spektr(s.requested);
  const double step = spectrum::BinSpacing(1, s.rate, outwav.y.size());
  spectrum::Peaks(step, s.cut_minusamp);
  keys::Decide();
  BufferKeyResult r;
  r.noise_level = gl_noise;
  if (!outwav.y.empty()) r.other_level = OtherLevel(outwav.y, step, f1, f2);
  // The Key event is raised only with a key.
  if (!signal.empty()) {
    r.key = keys::DecideKey(f1, f2);
    r.a1 = a1;
    r.a2 = a2;
    r.f1 = f1;
    r.f2 = f2;
  }
  return r;
}

}  // namespace velmora::tonvel
