// The DTMF key decision and TDTMF::FFTDTMF.  See keys.h.

#include "velmora/component/keys.h"

#include "velmora/component/spectrum.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/format.h"

namespace velmora::tonvel {

namespace keys {

namespace {
constexpr size_t kSummaryLineCapacity = 96;
}  // namespace

bool InBand(double f, int32_t F) {
  const long double frequency = f;
  return frequency > 0.979L * F && frequency < 1.02L * F;
}

std::string_view DecideKey(double f1, double f2) {
  for (size_t i = 0; i < kKeyChars.size(); ++i) {
    const int32_t row = DTMF1[i];
    const int32_t column = DTMF2[i];
    if ((InBand(f1, column) && InBand(f2, row)) || (InBand(f1, row) && InBand(f2, column)))
      return kKeyChars.substr(i, 1);
  }
  return {};
}

void SummaryLine(std::string& out, std::string_view key, double a1, double f1, double a2,
                 double f2) {
  const host::TFormatSettings& settings = host::FormatSettings;
  // Rewritten in place for every buffer.  Room for the longest line the
  // spectrum's levels and frequencies give ("-120.00", "22050") and then
  // some, so that a longer line than the first one (a key, a level of three
  // digits) allocates nothing either.
  if (out.capacity() < kSummaryLineCapacity) out.reserve(kSummaryLineCapacity);
  out.assign("DTMF(");
  out.append(key);
  out.append("):  ");
  host::FormatTo(out, "A1= %.2n", {a1}, settings);
  host::FormatFloatTo(out, " [0 Hz]  ", f1, settings);
  host::FormatTo(out, "A2= %.2n", {a2}, settings);
  host::FormatFloatTo(out, " [0 Hz]", f2, settings);
}

void Decide() {
  signal.assign(DecideKey(f1, f2));
  SummaryLine(spektr.text, signal, a1, f1, a2, f2);
}

void ReportKey(TDTMF& owner) {
  if (!signal.empty() && owner.Key) owner.Key(&owner, signal, a1, a2, f1, f2);
}

}  // namespace keys

void TDTMF::FFTDTMF(double step) {
  spectrum::Peaks(step, FFT_cut_minusamp());
  keys::Decide();
}

}  // namespace velmora::tonvel
