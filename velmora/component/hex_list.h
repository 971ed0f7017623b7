// The analysis of a hexadecimal sample list: a text file with one sample per
// line in hexadecimal (optionally "0x"-prefixed, optionally headed by the
// line "@@Hexadecimal"), a block quadrature demodulation of the samples and
// a spectrum of the whole list with a peak and a noise level of its own.
//
// Results go to the unit-level state: hex (the lines), dim (the samples, each
// value - 511), quad/qcos/qsin (the demodulation), bpf (the levels in dB),
// inwav.y (the samples), spektr.x/spektr.y (positions and levels) and
// gl_noise.  A list of any length is analysed whole; the working storage
// grows with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "velmora/host/exception.h"

namespace velmora::tonvel {

// A hexadecimal list that cannot be analysed; the message names the file and
// the reason.
class EHexListError : public host::Exception {
 public:
  using host::Exception::Exception;
  std::string ClassName() const override { return "EHexListError"; }
};

// The text as a hexadecimal number, read from its last character to its
// first: 0-9, a-f and A-F are digits, any other character counts as the
// digit 0 (so "12 " is 0x120 = 288).  The result is the low 32 bits of the
// number as a two's-complement value ("000001ff" -> 511, "ffffffff" -> -1);
// digits above the eighth from the right do not change the low 32 bits.
int32_t hex_to_int(std::string_view t);

// The demodulation weights of positions 1..8 of each quarter block.
inline constexpr long double kDemodWeights[8] = {0.1169777L, 0.4131758L, 0.7499999L, 0.9698463L,
                                                 0.9698463L, 0.7499999L, 0.4131758L, 0.1169777L};

// Block quadrature demodulation of the first n samples of x: quad :=
// ceil(n / 32) blocks (0 when n <= 0); block m (from 1) is made of the
// samples 32(m - 1) + 1 .. 32m of x, counted from its first sample; positions
// past the end of x read 0.  With Gg the sum of the g-th samples of the four
// quarters of the block and Tg = wg Gg:
//   qcos[m] = (T1 - T3 + T5 - T7) - (T2 - T4 + T6 - T8) + 10 S1
//   qsin[m] = (T1 - T3 + T5 - T7) + (T2 - T4 + T6 - T8) + 10 S2
// with S1 = 4 (w1 - w2 - w3 + w4 + w5 - w6 - w7 + w8) and
// S2 = 4 (w1 + w2 - w3 - w4 + w5 + w6 - w7 - w8), in long double.  qcos[0]
// and qsin[0] are unused.  The process-wide random generator is reseeded
// from the clock, as at every list analysis.
void quad_demod(int32_t n, const std::vector<double>& x);

// The whole analysis of the list in `path`.  Raises EHexListError (naming
// the file and the reason) when the file cannot be read, holds no sample,
// a bin of its spectrum has magnitude 0, or no bin is left outside the peak
// region for the noise level (always the case for lists of up to 34
// samples).
void AnalyseHexList(const std::string& path);

}  // namespace velmora::tonvel
