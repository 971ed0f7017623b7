// The noise random generator: completing a block, its statistics and the
// bits file.

#include "component/noise_random.h"

#include <cmath>
#include <deque>
#include <exception>

#include "host/application.h"
#include "host/format.h"
#include "host/paths.h"
#include "host/streams.h"

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

}  // namespace

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
      AppendBits(fmp3dir + std::string(kBitsFileName), tinrand);
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

}  // namespace noise

}  // namespace velmora::tonvel
