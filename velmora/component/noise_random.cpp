// The noise random generator: completing a block, its statistics and the
// bits file.

#include "velmora/component/noise_random.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <exception>

#include "velmora/host/application.h"
#include "velmora/host/format.h"
#include "velmora/host/paths.h"
#include "velmora/host/streams.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmora::tonvel {

namespace {

// The longest line with room for any number "%.2n" gives, so that a
// block's lines are written without allocating once reserved.
constexpr size_t kLineCapacity = 96;
// Added to the moments and the denominators so that a silent block divides
// by something: part of how the statistics are defined.
constexpr double kTiny = 0.000000001;

// Line := prefix followed by the number with two decimals and thousands
// separators.  The number alone fits the short-string buffer.
void SetLine(std::string& line, std::string_view prefix, double value) {
  const std::string number = host::Format("%.2n", {value});
  line.assign(prefix);
  line += number;
}

// ---- failures of the bits file, reported after the buffer --------------------

// Exceptions waiting for the report window (GUI thread only).
std::deque<std::exception_ptr> g_pending_failures;
host::HWND g_report_window = 0;
constexpr uint32_t kReportMessage = host::WM_USER + 1;

// Hands the failure to the loop: the window's handler raises it again, and
// the loop gives what escapes a handler to Application().OnException.
void ReportLater(std::exception_ptr failure) {
  host::TApplication& app = host::Application();
  if (g_report_window == 0) {
    // Lives as long as the process's loop does.
    g_report_window = app.AllocateHWnd([](host::TMessage&) {
      if (g_pending_failures.empty()) return;
      std::exception_ptr next = g_pending_failures.front();
      g_pending_failures.pop_front();
      std::rethrow_exception(next);
    });
  }
  g_pending_failures.push_back(std::move(failure));
  app.PostMessage(g_report_window, kReportMessage, 0, 0);
}

BlockStatistics g_last;

}  // namespace

const BlockStatistics& LastStatistics() {
  return g_last;
}

void calc_stat(int32_t N, double Sa, double Sb, double Sc, double Sd, double Sp) {
  const double n = N;
  const double m1 = Sa / n;
  const double m2 = Sb / n;
  const double m3 = Sc / n;
  const double m4 = Sd / n;
  const double V = m2 - m1 * m1;
  const double U = n * V / (n - 1);
  const double C3 = kTiny + m3 - 3 * m1 * m2 + 2 * m1 * m1 * m1;
  const double C4 = kTiny + m4 - 4 * m1 * m3 + 6 * m1 * m1 * m2 - 3 * m1 * m1 * m1 * m1;

  // These can fail: a variance that rounding leaves just below 0 has no
  // power 1.5.  A value that comes out as no number counts as failed.
  const double K3 = C3 / (std::pow(V, 1.5) + kTiny);
  const double K4 = C4 / (V * V + kTiny) - 3;
  const double E3 = std::sqrt(std::fabs(6 * (n - 1) / ((n + 1) * (n + 3))));
  const double E4 =
      std::sqrt(std::fabs(24 * (n - 2) * (n - 3) / ((n + 3) * (n + 5) * (n - 1) * (n - 1))));
  const bool computed =
      std::isfinite(K3) && std::isfinite(K4) && std::isfinite(E3) && std::isfinite(E4);
  // Signed comparisons, not magnitudes.
  const bool normal = computed && E3 / 2 > K3 && E4 / 2 > K4;

  // All samples equal: no variation to correlate.
  const double denominator = n * Sb - Sa * Sa;
  const double R = denominator != 0 ? (n * Sp - Sa * Sa) / denominator : 0.0;

  g_last = {N,
            m1,
            V,
            U,
            std::isfinite(K3) ? K3 : 0.0,
            std::isfinite(K4) ? K4 : 0.0,
            std::isfinite(R) ? R : 0.0,
            normal};
  SetLine(stat.sa, noise::kMeanLine, m1);
  SetLine(stat.dispers_sm, noise::kBiasedVarianceLine, V);
  SetLine(stat.disters_ne, noise::kUnbiasedVarianceLine, U);
  SetLine(stat.koef_asim, noise::kSkewnessLine, std::isfinite(K3) ? K3 : 0.0);
  SetLine(stat.pic, noise::kKurtosisLine, std::isfinite(K4) ? K4 : 0.0);
  SetLine(stat.crit_serial_correlation, noise::kSerialCorrelationLine, std::isfinite(R) ? R : 0.0);
  stat.raspred.assign(normal ? noise::kVerdictNormal : noise::kVerdictAsymmetric);
}

namespace noise {

void BeginBlock(const TDTMF& owner) {
  // A new component empties tinrand but finds the sums of the block that an
  // earlier one left unfinished: they belong to no bit in hand.
  s_a = s_b = s_w = s_c = s_d = s_p = s_pred = s_pred0 = 0;
  tinrand.bits.reserve(BlockBits(owner));
  for (std::string* line : {&stat.sa, &stat.dispers_sm, &stat.disters_ne, &stat.koef_asim,
                            &stat.pic, &stat.crit_serial_correlation, &stat.raspred})
    line->reserve(kLineCapacity);
}

void AppendBits(const std::string& path, const TBSeries& bits) {
  const bool exists = host::FileExists(path);
  host::TFileStream file(path, exists ? host::fmOpenReadWrite : host::fmCreate);
  file.Seek(0, host::soEnd);
  file.WriteBuffer(bits.bits.data(), static_cast<int64_t>(bits.bits.size()));
}

namespace {

// Integer totals of a run of samples s = byte - 128.
struct RunSums {
  int64_t s1 = 0;      // sum of s
  int64_t s2 = 0;      // sum of s^2
  int64_t s3 = 0;      // sum of s^3
  int64_t s4 = 0;      // sum of s^4
  int64_t serial = 0;  // sum of s[k] * s[k-1], k >= 1 (within the run)
};

// The totals of `n` bytes.  Products fit 32 bits (s^4 <= 2^28) and totals
// 64, so the order of the additions does not matter.
RunSums SumRunPortable(const uint8_t* bytes, size_t n) {
  int64_t s1 = 0, s2 = 0, s3 = 0, s4 = 0, serial = 0;
  for (size_t k = 0; k < n; ++k) {
    const int32_t s = static_cast<int32_t>(bytes[k]) - 128;
    const int32_t sq = s * s;
    s1 += s;
    s2 += sq;
    s3 += sq * s;
    s4 += sq * sq;
  }
  for (size_t k = 1; k < n; ++k)
    serial += (static_cast<int32_t>(bytes[k]) - 128) * (static_cast<int32_t>(bytes[k - 1]) - 128);
  return {s1, s2, s3, s4, serial};
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) int64_t Sum32(__m256i v) {
  const __m256i wide = _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(v)),
                                        _mm256_cvtepi32_epi64(_mm256_extracti128_si256(v, 1)));
  alignas(32) int64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), wide);
  return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

// Sixteen samples per step as 16-bit lanes: s, s^2 (at most 2^14) and the
// neighbour products fit 16 bits, and each multiply-add of two lanes
// (vpmaddwd) fits 32: s^3 pairs up to 2^22, so 32-bit lanes take 256 steps
// before they are added into the 64-bit totals; s^4 pairs (up to 2^29) go
// into 64-bit lanes at every step.
__attribute__((target("avx2"))) RunSums SumRunAvx2(const uint8_t* bytes, size_t n) {
  RunSums total;
  if (n < 17) return SumRunPortable(bytes, n);
  // Sample 0 has no neighbour before it: the vector steps start at 1, and
  // sample 0 and the tail after the last whole step are added one by one.
  const int32_t s0 = static_cast<int32_t>(bytes[0]) - 128;
  total.s1 = s0;
  total.s2 = s0 * s0;
  total.s3 = s0 * s0 * s0;
  total.s4 = s0 * s0 * s0 * s0;
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i ones = _mm256_set1_epi16(1);
  size_t k = 1;
  while (k + 16 <= n) {
    __m256i a1 = _mm256_setzero_si256(), a2 = a1, a3 = a1, ap = a1, a4 = a1;
    for (int step = 0; step < 256 && k + 16 <= n; ++step, k += 16) {
      const __m256i s = _mm256_sub_epi16(
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k))), bias);
      const __m256i before = _mm256_sub_epi16(
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k - 1))),
          bias);
      const __m256i sq = _mm256_mullo_epi16(s, s);
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(s, ones));
      a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(s, s));
      a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(sq, s));
      ap = _mm256_add_epi32(ap, _mm256_madd_epi16(s, before));
      const __m256i q = _mm256_madd_epi16(sq, sq);
      a4 = _mm256_add_epi64(a4, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(q)));
      a4 = _mm256_add_epi64(a4, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(q, 1)));
    }
    total.s1 += Sum32(a1);
    total.s2 += Sum32(a2);
    total.s3 += Sum32(a3);
    total.serial += Sum32(ap);
    alignas(32) int64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), a4);
    total.s4 += lanes[0] + lanes[1] + lanes[2] + lanes[3];
  }
  for (; k < n; ++k) {
    const int32_t s = static_cast<int32_t>(bytes[k]) - 128;
    const int32_t sq = s * s;
    total.s1 += s;
    total.s2 += sq;
    total.s3 += sq * s;
    total.s4 += sq * sq;
    total.serial += s * (static_cast<int32_t>(bytes[k - 1]) - 128);
  }
  return total;
}

#endif

bool g_portable_sums = false;

RunSums SumRun(const uint8_t* bytes, size_t n) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && !g_portable_sums) return SumRunAvx2(bytes, n);
#endif
  return SumRunPortable(bytes, n);
}

void LowBits(const uint8_t* bytes, size_t n, uint8_t* bits) {
  for (size_t k = 0; k < n; ++k) bits[k] = static_cast<uint8_t>(bytes[k] & 1);
}

// Largest |s|, s^2, |s|^3, s^4 and |s * s_pred| of one sample.
constexpr double kMaxS1 = 128, kMaxS2 = 16384, kMaxS3 = 2097152, kMaxS4 = 268435456;
constexpr double kExactBound = 9007199254740992.0;  // 2^53

// A sum that holds an integer and may take `n` more terms of at most `term`
// with every partial sum still exact in a double.  -0 is left to the
// sample-by-sample path (adding an integer 0 at once would make it +0).
bool StaysExact(double sum, double term, size_t n) {
  return sum == std::trunc(sum) && !(sum == 0 && std::signbit(sum)) &&
         std::fabs(sum) + term * static_cast<double>(n) <= kExactBound;
}

bool RunStaysExact(size_t n) {
  return s_pred == std::trunc(s_pred) && std::fabs(s_pred) <= kMaxS1 &&
         StaysExact(s_a, kMaxS1, n) && StaysExact(s_b, kMaxS2, n) && StaysExact(s_c, kMaxS3, n) &&
         StaysExact(s_d, kMaxS4, n) && StaysExact(s_p, kMaxS2, n);
}

}  // namespace

void RandomSteps(TDTMF& owner, const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  if (tinrand.bits.empty()) BeginBlock(owner);
  const size_t had = tinrand.bits.size();
  tinrand.bits.resize(had + n);
  LowBits(bytes, n, tinrand.bits.data() + had);
  const double first = static_cast<int32_t>(bytes[0]) - 128;
  const double last = static_cast<int32_t>(bytes[n - 1]) - 128;
  if (RunStaysExact(n)) {
    const RunSums r = SumRun(bytes, n);
    s_a += static_cast<double>(r.s1);
    s_b += static_cast<double>(r.s2);
    s_c += static_cast<double>(r.s3);
    s_d += static_cast<double>(r.s4);
    s_p +=
        static_cast<double>(static_cast<int64_t>(s_pred) * static_cast<int64_t>(first) + r.serial);
    s_w = last * last * last;
    s_pred = last;
  } else {
    for (size_t k = 0; k < n; ++k) AddToSums(static_cast<int32_t>(bytes[k]) - 128);
  }
  if (had == 0) s_pred0 = first;
  if (tinrand.bits.size() >= BlockBits(owner)) CompleteBlock(owner, last);
}

std::string BitsFilePath(const TDTMF& owner) {
  return host::IncludeTrailingPathDelimiter(owner.GenRandom_NoiseSoundCard_Dir()) +
         std::string(kBitsFileName);
}

void CompleteBlock(TDTMF& owner, double s) {
  // The last sample times the first closes the circle of serial products.
  s_p += s * s_pred0;
  calc_stat(static_cast<int32_t>(tinrand.bits.size()), s_a, s_b, s_c, s_d, s_p);
  s_a = s_b = s_w = s_c = s_d = s_p = s_pred = s_pred0 = 0;

  // The block ends with its event, also when the file or the handler fails:
  // the next sample begins a new block either way.
  struct EmptyBits {
    ~EmptyBits() { tinrand.bits.clear(); }
  } empty_bits;

  if (owner.GenRandom_NoiseSoundCard_SaveToFile()) {
    try {
      AppendBits(BitsFilePath(owner), tinrand);
    } catch (...) {
      ReportLater(std::current_exception());
    }
  }
  if (owner.GenRandom_NoiseSoundCard_Data) {
    // Sixth parameter the verdict, seventh the serial-correlation line.
    owner.GenRandom_NoiseSoundCard_Data(&owner, stat.sa, stat.dispers_sm, stat.disters_ne,
                                        stat.koef_asim, stat.pic, stat.raspred,
                                        stat.crit_serial_correlation, tinrand);
  }
}

namespace detail {

void ForcePortableRunSums(bool portable) {
  g_portable_sums = portable;
}

}  // namespace detail

}  // namespace noise

}  // namespace velmora::tonvel
