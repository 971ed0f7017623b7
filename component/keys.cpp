// The DTMF key decision and TDTMF::FFTDTMF.  See keys.h.

#include "component/keys.h"

#include <charconv>
#include <cmath>

#include "component/spectrum.h"
#include "component/unit_state.h"
#include "host/format.h"

namespace velmora::tonvel {

namespace keys {

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

namespace {

// Appends `value` as host::Format("%.2n") (decimals 2, with thousands
// separators) or host::FormatFloat("0") (decimals 0, without) write it, with
// the separators of `settings`, but without allocating: the line is
// rewritten for every buffer.  The same steps as the host's: the value's own
// 15 significant digits (correctly rounded, as the C library prints them),
// then rounding to `decimals` with halves away from zero, and no minus sign
// on a result of zero.  `value` is finite.
void AppendNumber(std::string& out, double value, int decimals, bool thousands,
                  const host::TFormatSettings& settings) {
  // d.dddddddddddddde+x: 15 significant digits.
  char text[32];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific, 14);
  if (ec != std::errc()) return;  // cannot happen: the buffer holds any double
  // digits[0..count) with value = 0.digits * 10^exponent.
  char digits[16];
  int count = 0;
  const char* e = text;
  for (; e < end && *e != 'e'; ++e)
    if (*e >= '0' && *e <= '9') digits[count++] = *e;
  // The exponent after 'e' (to_chars writes no terminating zero).
  int exponent = 0;
  const bool negative_exponent = e + 1 < end && e[1] == '-';
  for (const char* p = e + 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
  exponent = (negative_exponent ? -exponent : exponent) + 1;
  bool zero = value == 0;
  // Rounding on digit `keep`, halves away from zero.
  const int keep = exponent + decimals;
  if (!zero && keep < count) {
    if (keep < 0) {
      zero = true;
    } else {
      const bool up = digits[keep] >= '5';
      count = keep;
      if (up) {
        int i = keep - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0) {
          ++digits[i];
        } else {
          for (int k = count; k > 0; --k) digits[k] = digits[k - 1];
          digits[0] = '1';
          ++count;
          ++exponent;
        }
      }
      zero = true;
      for (int k = 0; k < count; ++k) zero = zero && digits[k] == '0';
    }
  }
  auto digit = [&](int position) {
    return !zero && position >= 0 && position < count ? digits[position] : '0';
  };
  if (value < 0 && !zero) out.push_back('-');
  const int integer_digits = zero || exponent <= 0 ? 1 : exponent;
  for (int i = 0; i < integer_digits; ++i) {
    out.push_back(zero || exponent <= 0 ? '0' : digit(i));
    const int left = integer_digits - 1 - i;
    if (thousands && left > 0 && left % 3 == 0) out.push_back(settings.ThousandSeparator);
  }
  if (decimals > 0) {
    out.push_back(settings.DecimalSeparator);
    for (int i = 0; i < decimals; ++i) out.push_back(digit(exponent + i));
  }
}

}  // namespace

void SummaryLine(std::string& out, std::string_view key, double a1, double f1, double a2,
                 double f2) {
  const host::TFormatSettings& settings = host::FormatSettings;
  if (!std::isfinite(a1) || !std::isfinite(f1) || !std::isfinite(a2) || !std::isfinite(f2)) {
    // Not a level the spectrum gives; the host's functions spell it.
    out = "DTMF(" + std::string(key) + "):  " + host::Format("A1= %.2n", {a1}, settings) +
          host::FormatFloat(" [0 Hz]  ", f1, settings) + host::Format("A2= %.2n", {a2}, settings) +
          host::FormatFloat(" [0 Hz]", f2, settings);
    return;
  }
  out.assign("DTMF(");
  out.append(key);
  out.append("):  A1= ");
  AppendNumber(out, a1, 2, true, settings);
  out.append(" [");
  AppendNumber(out, f1, 0, false, settings);
  out.append(" Hz]  A2= ");
  AppendNumber(out, a2, 2, true, settings);
  out.append(" [");
  AppendNumber(out, f2, 0, false, settings);
  out.append(" Hz]");
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
