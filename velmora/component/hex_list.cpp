// The hexadecimal-list analysis.  See hex_list.h.

#include "velmora/component/hex_list.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "velmora/component/spectrum.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/random.h"
#include "velmora/host/string_list.h"

namespace velmora::tonvel {

namespace {

// The window of the list's spectrum: code 4, the four-term window of dB_72.
constexpr uint16_t kListWindowCode = 4;
// The offset of the list's levels, in dB.
constexpr long double kListLevelOffset = 40.696L;
// Peak and noise search from this position up to N/2 - 5, the noise leaving
// out this many positions on either side of the peak.
constexpr int32_t kFirstSearched = 10;
constexpr int32_t kPeakHalfWidth = 10;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw EHexListError("Cannot analyse the sample list \"" + path + "\": " + reason);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The text of a sample: the eight characters after "0x" (fewer when the line
// is shorter), or the whole line.
std::string_view SampleText(const std::string& line) {
  if (line.size() >= 2 && line[0] == '0' && line[1] == 'x')
    return std::string_view(line).substr(2, 8);
  return line;
}

}  // namespace

int32_t hex_to_int(std::string_view t) {
  // Only the last eight characters can reach the low 32 bits.
  uint32_t value = 0;
  const size_t n = t.size();
  for (size_t p = 0; p < 8 && p < n; ++p)
    value |= static_cast<uint32_t>(HexDigit(t[n - 1 - p])) << (4 * p);
  return static_cast<int32_t>(value);
}

void quad_demod(int32_t n, const std::vector<double>& x) {
  host::Randomize();
  const int64_t blocks = n <= 0 ? 0 : (int64_t{n} + 31) / 32;
  quad = static_cast<int32_t>(blocks);
  qcos.assign(static_cast<size_t>(blocks) + 1, 0.0L);
  qsin.assign(static_cast<size_t>(blocks) + 1, 0.0L);

  const long double* w = kDemodWeights;
  const long double s1 = 4 * (w[0] - w[1] - w[2] + w[3] + w[4] - w[5] - w[6] + w[7]);
  const long double s2 = 4 * (w[0] + w[1] - w[2] - w[3] + w[4] + w[5] - w[6] - w[7]);
  auto sample = [&x](size_t position) -> long double {
    return position < x.size() ? x[position] : 0.0;
  };
  for (int64_t m = 1; m <= blocks; ++m) {
    const auto base = static_cast<size_t>(32 * (m - 1));  // s1 of the block
    long double t[8];
    for (size_t g = 0; g < 8; ++g) {
      const long double sum =
          sample(base + g) + sample(base + g + 8) + sample(base + g + 16) + sample(base + g + 24);
      t[g] = w[g] * sum;
    }
    const long double i = t[0] - t[2] + t[4] - t[6];
    const long double q = t[1] - t[3] + t[5] - t[7];
    qcos[static_cast<size_t>(m)] = i - q + 10 * s1;
    qsin[static_cast<size_t>(m)] = i + q + 10 * s2;
  }
}

void AnalyseHexList(const std::string& path) {
  // The component's list; a caller without a component gets one of its own.
  std::unique_ptr<host::TStringList> own;
  host::TStringList* lines = hex;
  if (!lines) {
    own = std::make_unique<host::TStringList>();
    lines = own.get();
  }
  try {
    lines->LoadFromFile(path);
  } catch (const host::Exception& e) {
    Fail(path, e.what());
  }
  if (lines->Count() > 0 && (*lines)[0] == "@@Hexadecimal") lines->Delete(0);

  const int32_t count = lines->Count();
  if (count == 0) Fail(path, "the list holds no samples");
  dim.assign(static_cast<size_t>(count), 0.0);
  for (int32_t i = 0; i < count; ++i)
    dim[static_cast<size_t>(i)] = static_cast<double>(hex_to_int(SampleText((*lines)[i]))) - 511;

  quad_demod(count - 1, dim);
  inwav.y.insert(inwav.y.end(), dim.begin(), dim.end());

  // The spectrum of the first count - 1 samples, zeros up to the transform
  // size.  The size may also be smaller (9 samples give 8 points): the
  // transform then takes the first ones.
  int32_t n = count - 1;
  const auto size = static_cast<size_t>(NormalizeTransformSize(n));
  std::vector<double> re(size, 0.0);
  std::vector<double> im(size, 0.0);
  const size_t taken = std::min(size, static_cast<size_t>(count - 1));
  std::copy(dim.begin(), dim.begin() + static_cast<std::ptrdiff_t>(taken), re.begin());
  fft(re, im, n, kListWindowCode, 1);

  // level[k] of X[k - 1], k = 1 .. n - 1; position 0 unused.
  bpf.assign(static_cast<size_t>(n), 0.0L);
  for (int32_t k = 1; k < n; ++k) {
    const auto j = static_cast<size_t>(k - 1);
    const long double magnitude = std::sqrt(static_cast<long double>(re[j]) * re[j] +
                                            static_cast<long double>(im[j]) * im[j]);
    if (magnitude == 0)
      Fail(path, "its spectrum has a bin of magnitude 0 (position " + std::to_string(k) +
                     "), whose level is undefined");
    bpf[static_cast<size_t>(k)] = 20 * std::log10(magnitude / n) - kListLevelOffset;
  }

  for (int32_t k = 2; k <= n / 2 - 1; ++k) {
    spektr.x.push_back(k);
    spektr.y.push_back(static_cast<double>(bpf[static_cast<size_t>(k)]));
  }

  const int32_t last = n / 2 - 5;
  int32_t peak = 0;
  long double best = -1000;
  for (int32_t k = kFirstSearched; k <= last; ++k) {
    if (bpf[static_cast<size_t>(k)] > best) {
      best = bpf[static_cast<size_t>(k)];
      peak = k;
    }
  }
  long double sum = 0;
  int32_t counted = 0;
  for (int32_t k = kFirstSearched; k <= last; ++k) {
    if (k >= peak - kPeakHalfWidth && k <= peak + kPeakHalfWidth) continue;
    sum += bpf[static_cast<size_t>(k)] * bpf[static_cast<size_t>(k)];
    ++counted;
  }
  if (counted == 0)
    Fail(path, "no spectrum position is left outside the peak region for the noise level (" +
                   std::to_string(count) + " samples, transform size " + std::to_string(n) + ")");
  gl_noise = static_cast<double>(-std::sqrt(sum / counted));
}

}  // namespace velmora::tonvel
