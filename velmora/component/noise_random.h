// The noise random generator: the lowest bit of every captured sample byte
// is a random bit.  Bits are collected in tinrand, sample by sample inside
// step 4 of the capture pipeline (so only while StartRealTime is True, and
// across buffers); each time GenRandom_NoiseSoundCard_BufSize bits are in
// hand the block is complete: calc_stat describes its samples, the bits are
// optionally appended to "test.dat" in GenRandom_NoiseSoundCard_Dir, and
// GenRandom_NoiseSoundCard_Data delivers the seven lines and the bits.
//
// The event's sixth parameter (crit_serial_correlation) carries the
// distribution verdict and its seventh (raspred) the serial-correlation
// line: hosts rely on that order.
//
// Block sizes below 2 count as 2 (one sample has no variance to speak of).
// A size lowered below the bits already in hand completes the block, with
// all of them, at the next sample.
//
// A "test.dat" that cannot be opened or written does not hold up the block
// (the event still comes and tinrand is emptied) or capture: the failure is
// posted to the GUI thread's loop and reaches Application().OnException
// once the buffer has been processed.
//
// The statistics texts are Windows-1251 bytes.  Per sample the step
// allocates nothing; a block's memory is reserved when it begins.
//
// Capture runs the step over runs of samples (RandomSteps): every sum takes
// integers only, so while a double holds each partial sum exactly (below
// 2^53) a run's integer total added at once gives the same bits as adding
// sample by sample.  Where that bound might be passed (blocks of some 2^25
// samples and more, or sums set from outside to something else) the run
// is summed sample by sample, as RandomStep does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::tonvel {

// Fills stat from the block size N and the sums of s, s^2, s^3, s^4 and of
// the serial products (closed into a circle): mean, biased and unbiased
// variance, skewness, excess kurtosis, the serial-correlation coefficient
// and the verdict, each number with two decimals and thousands separators
// of the host locale.
//
// Where the arithmetic has no answer the lines still come: R is 0.00 when
// all samples are equal (its denominator is 0); skewness or kurtosis that
// come out as no number show 0.00, and the verdict is then "asymmetric",
// since normality was not shown.
void calc_stat(int32_t N, double Sa, double Sb, double Sc, double Sd, double Sp);

// The numbers behind the seven lines of the latest calc_stat, for hosts that
// want them as numbers (the lines round them to two decimals and group the
// thousands): the values the lines show, 0 where a line shows 0.00 for no
// number.
struct BlockStatistics {
  int32_t count = 0;
  double mean = 0;
  double variance_biased = 0;
  double variance_unbiased = 0;
  double skewness = 0;
  double kurtosis = 0;
  double serial_correlation = 0;
  bool normal = false;
};
const BlockStatistics& LastStatistics();

namespace noise {

// The texts, Windows-1251.  The first letter of kMeanLine is the Latin C.
inline constexpr std::string_view kMeanLine =
    "C\xF0\xE5\xE4\xED\xE5\xE5 \xE0\xF0\xE8\xF4\xEC\xE5\xF2\xE8\xF7\xE5\xF1\xEA\xEE\xE5: ";
inline constexpr std::string_view kBiasedVarianceLine =
    "\xC4\xE8\xF1\xEF\xE5\xF0\xF1\xE8\xFF \xF1\xEC\xE5\xF9.: ";
inline constexpr std::string_view kUnbiasedVarianceLine =
    "\xC4\xE8\xF1\xEF\xE5\xF0\xF1\xE8\xFF \xED\xE5\xF1\xEC.: ";
inline constexpr std::string_view kSkewnessLine =
    "\xCA\xEE\xFD\xF4\xF4\xE8\xF6\xE8\xE5\xED\xF2 \xE0\xF1\xF1\xE8\xEC\xE5\xF2\xF0\xE8\xE8: ";
inline constexpr std::string_view kKurtosisLine = "\xCE\xF1\xF2\xF0\xEE\xF2\xE0 \xEF\xE8\xEA\xE0: ";
inline constexpr std::string_view kSerialCorrelationLine =
    "\xCA\xF0\xE8\xF2\xE5\xF0\xE8\xE9 \xF1\xE5\xF0\xE8\xE0\xEB\xFC\xED\xEE\xE9 "
    "\xEA\xEE\xF0\xF0\xE5\xEB\xFF\xF6\xE8\xE8: ";
inline constexpr std::string_view kVerdictNormal =
    "\xD0\xE0\xF1\xEF\xF0\xE5\xE4\xE5\xEB\xE5\xED\xE8\xE5: "
    "\xED\xEE\xF0\xEC\xE0\xEB\xFC\xED\xEE\xE5";
inline constexpr std::string_view kVerdictAsymmetric =
    "\xD0\xE0\xF1\xEF\xF0\xE5\xE4\xE5\xEB\xE5\xED\xE8\xE5: "
    "\xE0\xF1\xF1\xE8\xEC\xEC\xE5\xF2\xF0\xE8\xF7\xED\xEE\xE5";

// The name of the bits file in GenRandom_NoiseSoundCard_Dir (by default
// fmp3dir, the executable's directory).
inline constexpr std::string_view kBitsFileName = "test.dat";
// Where the component appends its bits.
std::string BitsFilePath(const TDTMF& owner);

constexpr int32_t kMinBlockBits = 2;

// The block size in force: GenRandom_NoiseSoundCard_BufSize, at least 2.
inline size_t BlockBits(const TDTMF& owner) {
  return static_cast<size_t>(std::max(owner.GenRandom_NoiseSoundCard_BufSize(), kMinBlockBits));
}

// A block begins: the sums start from 0 and its memory is reserved.
void BeginBlock(const TDTMF& owner);
// Completes the block whose last sample was `s`.
void CompleteBlock(TDTMF& owner, double s);

// Adds the sample v to the block's sums, in the order of the operations
// that gives their bits.
inline void AddToSums(double v) {
  s_a += v;
  s_b += v * v;
  s_w = v * v * v;
  s_c += s_w;
  s_d += v * s_w;
  s_p += v * s_pred;
  s_pred = v;
}

// The per-sample step, with the raw byte `b` and s = b - 128, in capture
// order.
inline void RandomStep(TDTMF& owner, uint8_t b, int32_t s) {
  if (tinrand.bits.empty()) BeginBlock(owner);
  tinrand.bits.push_back(static_cast<uint8_t>(b & 1));
  const double v = s;
  AddToSums(v);
  if (tinrand.bits.size() == 1) s_pred0 = v;
  if (tinrand.bits.size() >= BlockBits(owner)) CompleteBlock(owner, v);
}

// The samples from now on whose steps run without completing a block: the
// block in hand completes at the last of them (at least 1).
inline size_t SamplesToBlockEnd(const TDTMF& owner) {
  const size_t need = BlockBits(owner);
  const size_t have = tinrand.bits.size();
  return have < need ? need - have : 1;
}

// The per-sample step for the `n` consecutive raw sample bytes at `bytes`
// (n at most SamplesToBlockEnd(owner)): the bits, sums and block of n calls
// of RandomStep, bit for bit.
void RandomSteps(TDTMF& owner, const uint8_t* bytes, size_t n);

namespace detail {
// Sums runs without the AVX2 kernel (tests and benchmarks compare both).
void ForcePortableRunSums(bool portable);
}  // namespace detail

// Appends the bits to the file at `path` (created when missing, never
// truncated).  Raises the stream's EFOpenError/EFCreateError/EWriteError.
void AppendBits(const std::string& path, const TBSeries& bits);

}  // namespace noise

}  // namespace velmora::tonvel
