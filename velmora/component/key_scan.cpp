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
  std::vector<double> arg;
};

Work& ThreadWork() {
  thread_local Work work;
  return work;
}

// The sum of log10(arg[j]) over the bins whose `keep` is true, and their
// count, from the product of the arguments: each is split into its binary
// exponent and a mantissa in [0.5, 1) (1 for a bin left out), the
// mantissas multiplied in four independent products (renormalised every
// 128 factors each, so they stay far from underflow) and one logarithm
// taken at the end.  The relative error of the product is below
// count * 2^-53.
template <typename Keep>
double SumOfLog10(const double* arg, size_t count, Keep keep, size_t& kept) {
  constexpr uint64_t kExponentMask = 0x7ffULL << 52;
  constexpr uint64_t kHalf = 1022ULL << 52;  // exponent field of [0.5, 1)
  constexpr size_t kLanes = 4;
  constexpr size_t kBlock = kLanes * 128;
  double product[kLanes] = {1, 1, 1, 1};
  int64_t exponent = 0;
  kept = 0;
  // One factor: the mantissa of a kept argument, 1 for one left out.
  auto factor = [&](size_t j) {
    // Arguments are positive normal numbers (at least 0.000001).
    const auto bits = std::bit_cast<uint64_t>(arg[j]);
    const bool in = keep(j);
    kept += in ? 1 : 0;
    exponent += in ? static_cast<int64_t>((bits & kExponentMask) >> 52) - 1022 : 0;
    return in ? std::bit_cast<double>((bits & ~kExponentMask) | kHalf) : 1.0;
  };
  for (size_t base = 0; base < count; base += kBlock) {
    const size_t end = std::min(count, base + kBlock);
    // Four products in locals, so that no multiplication waits on another.
    double p0 = product[0], p1 = product[1], p2 = product[2], p3 = product[3];
    size_t j = base;
    for (; j + kLanes <= end; j += kLanes) {
      p0 *= factor(j);
      p1 *= factor(j + 1);
      p2 *= factor(j + 2);
      p3 *= factor(j + 3);
    }
    for (; j < end; ++j) p0 *= factor(j);
    product[0] = p0;
    product[1] = p1;
    product[2] = p2;
    product[3] = p3;
    for (double& p : product) {
      int e = 0;
      p = std::frexp(p, &e);
      exponent += e;
    }
  }
  const double mantissas = (product[0] * product[1]) * (product[2] * product[3]);
  return (static_cast<double>(exponent) + std::log2(mantissas)) * std::log10(2.0);
}

// The pipeline's noise level of these levels, approximately: (sum of the
// levels counted - max(a1, a2)) / (bins - 1), the levels counted being all,
// or with cut_minusamp those of 0 dB and more.
double ApproximateNoise(const double* arg, size_t bins, const SpectrumSettings& s, double a1,
                        double a2) {
  size_t counted = 0;
  double logs = 0;
  if (!s.cut_minusamp) {
    logs = SumOfLog10(
        arg, bins, [](size_t) { return true; }, counted);
  } else {
    // A level is 0 dB or more from the argument 10^(noise / 20) up; near
    // that argument the level itself decides.
    const double threshold = std::pow(10.0, s.noise_db / 20.0);
    const double below = threshold * (1 - kTie);
    const double above = threshold * (1 + kTie);
    auto keep = [&](size_t j) {
      return arg[j] > above || (arg[j] >= below && LevelOf(arg[j], s.noise_db) >= 0);
    };
    logs = SumOfLog10(arg, bins, keep, counted);
  }
  const double sum = 20 * logs - static_cast<double>(counted) * s.noise_db;
  const double divisor = bins >= 2 ? static_cast<double>(bins - 1) : 1.0;
  return (sum - std::max(a1, a2)) / divisor;
}

// The two strongest levels as the pipeline finds them, when both are above
// 0 dB (the only case in which a buffer can be evidence).
struct Peaks {
  double a1 = 0, a2 = 0;
  size_t first_top = 0;    // the lowest bin holding a1
  size_t last_second = 0;  // the highest bin holding a2
};

// a1 is the largest level and f1 the lowest bin holding it: when a second
// tone lies above 0 dB, a1 > 0, and the pipeline's running maximum ends at
// the largest level however it went.  a2 is the largest level other than
// a1 (bins whose level ties with a1 left out), f2 the highest bin holding
// it.  Levels are taken only of the bins whose arguments lie within kTie of
// the largest ones; false when no second tone lies above 0 dB.
bool FindPeaks(const double* arg, size_t bins, int32_t noise, Peaks& p) {
  // The largest argument, in four independent running maxima, and the
  // first bin holding it.
  double lane[4] = {arg[0], arg[0], arg[0], arg[0]};
  size_t j = 0;
  for (; j + 4 <= bins; j += 4)
    for (size_t k = 0; k < 4; ++k) lane[k] = arg[j + k] > lane[k] ? arg[j + k] : lane[k];
  for (; j < bins; ++j) lane[0] = arg[j] > lane[0] ? arg[j] : lane[0];
  const double top_arg = std::max(std::max(lane[0], lane[1]), std::max(lane[2], lane[3]));
  size_t top = 0;
  while (arg[top] != top_arg) ++top;
  p.a1 = LevelOf(top_arg, noise);
  if (!(p.a1 > 0)) return false;
  // The largest of the other arguments; `last_near`: the highest bin from
  // the runner-up's on whose argument lies within kTie below it.
  double runner_arg = -1;  // arguments are positive: -1 is none
  double near_runner = 0;
  size_t runner = bins;
  size_t last_near = bins;
  for (j = 0; j < bins; ++j) {
    if (j == top) continue;
    const double v = arg[j];
    if (v > runner_arg) {
      runner_arg = v;
      near_runner = v * (1 - kTie);
      runner = last_near = j;
    } else if (v >= near_runner) {
      last_near = j;
    }
  }
  if (runner == bins) return false;
  const double near_top = top_arg * (1 - kTie);
  if (runner_arg >= near_top) {
    // Other bins may tie with a1 (rare): sort the bins near the top out by
    // their levels, then the largest of the rest.
    auto tied = [&](size_t b) { return arg[b] >= near_top && LevelOf(arg[b], noise) == p.a1; };
    p.first_top = top;
    size_t second = bins;
    for (j = 0; j < bins; ++j) {
      if (tied(j)) {
        p.first_top = std::min(p.first_top, j);
      } else if (second == bins || arg[j] > arg[second]) {
        second = j;
      }
    }
    if (second == bins) return false;
    runner_arg = arg[second];
    p.a2 = LevelOf(runner_arg, noise);
    if (!(p.a2 > 0)) return false;
    const double near_second = runner_arg * (1 - kTie);
    p.last_second = second;
    for (j = bins; j-- > second + 1;)
      if (arg[j] >= near_second && !tied(j) && LevelOf(arg[j], noise) == p.a2) {
        p.last_second = j;
        break;
      }
    return true;
  }
  // Only the top bin holds a1; the runner-up's level is a2, held by the
  // highest bin (other than the top) whose level equals it, which lies
  // from the runner-up's bin to last_near.
  p.first_top = top;
  p.a2 = LevelOf(runner_arg, noise);
  if (!(p.a2 > 0)) return false;
  for (j = last_near + 1; j-- > runner;) {
    if (j == top || arg[j] < near_runner) continue;
    if (LevelOf(arg[j], noise) == p.a2) {
      p.last_second = j;
      return true;
    }
  }
  return false;  // not reached: the runner-up itself qualifies
}

// Whether no bin of the spectrum can reach 0 dB, known from the samples
// alone (with the rectangular window, the one the component starts with):
// every |X[k]| is at most the sum of |s| over the transformed samples, the
// computed transform exceeds that by far less than the factor allowed here,
// and a level reaches 0 dB only from the argument 10^(noise / 20) up.  Such
// a buffer (silence, or sound too quiet to carry a tone above 0 dB) has no
// second tone above 0 dB and is no evidence: the transform is not needed.
bool NoBinAboveZero(const uint8_t* bytes, size_t taken, int32_t n, const SpectrumSettings& s) {
  if (WindowCoefficientsOf(s.window_code).a0 != 1) return false;  // not rectangular
  uint64_t sum = 0;
  for (size_t t = 0; t < taken; ++t) {
    const int32_t v = static_cast<int32_t>(bytes[t]) - 128;
    sum += static_cast<uint32_t>(v < 0 ? -v : v);
  }
  const double largest_arg = (static_cast<double>(sum) * (1 + 1e-9) / n + 0.000001) * (1 + 1e-9);
  return largest_arg < std::pow(10.0, s.noise_db / 20.0) * (1 - 1e-9);
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
  const auto bins = static_cast<size_t>(n) / 2;
  if (NoBinAboveZero(bytes, std::min(count, static_cast<size_t>(n)), n, s)) return out;
  Work& w = ThreadWork();
  if (w.arg.size() < bins) w.arg.resize(bins);
  const double* arg = w.arg.data();
  LevelArgumentsOfCapture(bytes, count, n, s.window_code, w.arg.data());
  const double step = spectrum::BinSpacing(1, s.rate, bins);
  const int32_t noise = s.noise_db;

  Peaks p;
  if (!FindPeaks(arg, bins, noise, p)) return out;
  const double a1 = p.a1;
  const double a2 = p.a2;

  BufferKeyResult& r = out.result;
  r.f1 = static_cast<double>(p.first_top) * step;
  r.f2 = static_cast<double>(p.last_second) * step;
  r.key = keys::DecideKey(r.f1, r.f2);
  if (r.key.empty()) return out;
  r.a1 = a1;
  r.a2 = a2;
  const double other = OtherMaximum(arg, bins, step, r.f1, r.f2, -1.0);
  r.other_level = other < 0 ? -std::numeric_limits<double>::infinity() : LevelOf(other, noise);
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
