// Per-buffer key results from the magnitudes.  See key_scan.h.

#include "velmora/component/key_scan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "velmora/component/capture.h"
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
// levels counted - the largest level) / (bins - 1), the levels counted
// being all, or with cut_minusamp those of 0 dB and more.
double ApproximateNoise(const double* arg, size_t bins, const SpectrumSettings& s, double largest) {
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
  return (sum - largest) / divisor;
}

// A band's strongest bin as KeyTones finds it over the levels (the lowest
// bin holding the band's largest level), found from the arguments: the
// largest argument, then among the bins whose arguments lie within kTie of
// it (their levels may tie after rounding) the lowest whose level is the
// same; and the levels of it and of the bins beside it.
PeakBins StrongestByArgument(const double* arg, size_t bins, const KeyBand& band, int32_t noise) {
  size_t top = band.first;
  for (size_t i = band.first + 1; i < band.last; ++i)
    if (arg[i] > arg[top]) top = i;
  PeakBins p;
  p.centre = LevelOf(arg[top], noise);
  p.best = top;
  const double near_top = arg[top] * (1 - kTie);
  for (size_t i = band.first; i < top; ++i)
    if (arg[i] >= near_top && LevelOf(arg[i], noise) == p.centre) {
      p.best = i;
      break;
    }
  if (p.best > 0 && p.best + 1 < bins) {
    p.left = LevelOf(arg[p.best - 1], noise);
    p.right = LevelOf(arg[p.best + 1], noise);
  }
  return p;
}

// The largest argument of the spectrum, in four independent running maxima.
double LargestArgument(const double* arg, size_t bins) {
  double lane[4] = {arg[0], arg[0], arg[0], arg[0]};
  size_t j = 0;
  for (; j + 4 <= bins; j += 4)
    for (size_t k = 0; k < 4; ++k) lane[k] = arg[j + k] > lane[k] ? arg[j + k] : lane[k];
  for (; j < bins; ++j) lane[0] = arg[j] > lane[0] ? arg[j] : lane[0];
  return std::max(std::max(lane[0], lane[1]), std::max(lane[2], lane[3]));
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
                         const KeyPressSettings& settings) {
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

  KeyBand low, high;
  KeyBands(step, bins, settings, low, high);
  if (low.first >= low.last || high.first >= high.last) return out;
  const PeakBins low_peak = StrongestByArgument(arg, bins, low, noise);
  const PeakBins high_peak = StrongestByArgument(arg, bins, high, noise);
  // Both tones above 0 dB, or the buffer is no evidence and continues no
  // press.
  if (!(low_peak.centre > 0 && high_peak.centre > 0)) return out;
  BufferKeyResult& r = out.result;
  r = KeyTonesAt(low_peak, high_peak, step, settings);
  if (r.key.empty()) {
    r = BufferKeyResult{};
    return out;
  }
  const double other = OtherMaximum(arg, bins, step, r.f1, r.f2, -1.0);
  r.other_level = other < 0 ? -std::numeric_limits<double>::infinity() : LevelOf(other, noise);
  r.noise_level = ApproximateNoise(arg, bins, s, LevelOf(LargestArgument(arg, bins), noise));
  const double floor = r.noise_level + settings.min_level_db;
  const double margin = kNoiseMargin * (1 + std::fabs(static_cast<double>(noise)));
  out.needs_exact = std::fabs(r.a1 - floor) <= margin || std::fabs(r.a2 - floor) <= margin;
  return out;
}

BufferKeyResult ExactBufferResult(const uint8_t* bytes, size_t count, const SpectrumSettings& s,
                                  const KeyPressSettings& settings) {
  capture::ClearResults();
  inwav.y.resize(count);
  capture::BytesToSamples(bytes, count, inwav.y.data());
  calc_spektr(s.requested);
  const double step = spectrum::BinSpacing(1, s.rate, outwav.y.size());
  spectrum::Peaks(step, s.cut_minusamp);
  BufferKeyResult r = KeyTones(outwav.y, step, settings);
  r.noise_level = gl_noise;
  return r;
}

}  // namespace velmora::tonvel
