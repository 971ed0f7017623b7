// The spectrum of a buffer: the transform against a direct DFT and against a
// plain scalar run of the documented butterflies (bit for bit, on every
// kernel), the cached window and rotation factors, the levels, and the peaks,
// tone and noise level that FFTDTMF derives from them.
#include "velmora/component/spectrum.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::testing {
namespace {

using tonvel::WindowCoefficients;

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The published coefficients a0..a3 of window codes 1 to 5 (dB_67, dB_54,
// dB_92, dB_72: the three- and four-term Blackman-Harris windows; dB_0:
// rectangular), written out here rather than read from the component, so
// that a mistyped coefficient fails every comparison below.
WindowCoefficients Published(uint16_t code) {
  switch (code) {
    case 1:
      return {0.42323, 0.49755, 0.07922, 0};
    case 2:
      return {0.44959, 0.49364, 0.05677, 0};
    case 3:
      return {0.35875, 0.48829, 0.14128, 0.01168};
    case 4:
      return {0.40217, 0.49703, 0.09392, 0.00183};
    default:
      return {1, 0, 0, 0};
  }
}

// The window weight exactly as documented: x := (2 pi / N) t, then
// a0 - a1 cos x + a2 cos 2x - a3 cos 3x.
double Weight(uint16_t code, int32_t n, int32_t t) {
  const WindowCoefficients c = Published(code);
  const double x = 2 * std::numbers::pi / n * t;
  return c.a0 - c.a1 * std::cos(x) + c.a2 * std::cos(2 * x) - c.a3 * std::cos(3 * x);
}

// The documented transform, written out plainly: window, the stages with one
// cosine and one sine each and factors advanced by complex multiplication,
// the bit-reversal loop.
void PlainFft(std::vector<double>& re, std::vector<double>& im, int32_t n, uint16_t code) {
  for (int32_t t = 0; t < n; ++t) {
    const double w = Weight(code, n, t);
    re[t] = re[t] * w;
    im[t] = im[t] * w;
  }
  for (int32_t span = n; span >= 2; span /= 2) {
    const int32_t half = span / 2;
    const double theta = std::numbers::pi / half;
    const double wr = std::cos(theta);
    const double wi = -1 * std::sin(theta);
    double ur = 1;
    double ui = 0;
    for (int32_t j = 0; j < half; ++j) {
      for (int32_t i = j; i < n; i += span) {
        const int32_t p = i + half;
        const double tr = re[i] + re[p];
        const double ti = im[i] + im[p];
        const double dr = re[i] - re[p];
        const double di = im[i] - im[p];
        re[p] = dr * ur - di * ui;
        im[p] = di * ur + dr * ui;
        re[i] = tr;
        im[i] = ti;
      }
      const double next = ur * wr - ui * wi;
      ui = ui * wr + ur * wi;
      ur = next;
    }
  }
  int32_t j = 0;
  for (int32_t i = 0; i <= n - 2; ++i) {
    if (i > j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
    int32_t k = n / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
}

std::vector<double> RandomValues(size_t n, uint32_t seed, double scale) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> d(-scale, scale);
  std::vector<double> v(n);
  for (double& x : v) x = d(random);
  return v;
}

// Saves the unit-level settings and results that these tests write.
class SpectrumTest : public ::testing::Test {
 protected:
  void SetUp() override { dtmf_ = std::make_unique<tonvel::TDTMF>(nullptr); }
  void TearDown() override {
    tonvel::detail::ForceTransformKernel(0);
    dtmf_.reset();
    tonvel::f_window = 5;
    tonvel::f_noise = 0;
    tonvel::fcntpp = 2048;
  }
  // calc_spektr and FFTDTMF over `samples`, as the pipeline runs them.
  void Analyse(const std::vector<double>& samples, int32_t requested = 2048) {
    tonvel::inwav.y = samples;
    tonvel::outwav.y.clear();
    tonvel::spektr.x.clear();
    tonvel::spektr.y.clear();
    tonvel::calc_spektr(requested);
    dtmf_->FFTDTMF(44100.0 / (2.0 * static_cast<double>(tonvel::outwav.y.size())));
  }
  // FFTDTMF over given levels, bins 10 Hz apart.
  void Peaks(const std::vector<double>& levels) {
    tonvel::outwav.y = levels;
    tonvel::spektr.x.clear();
    tonvel::spektr.y.clear();
    dtmf_->FFTDTMF(10.0);
  }

  InputGuard input_{NoInput()};
  std::unique_ptr<tonvel::TDTMF> dtmf_;
};

TEST_F(SpectrumTest, TransformMatchesADirectDftInLongDouble) {
  for (int32_t n : {4, 8, 64, 1024, 2048}) {
    for (uint16_t code : {1, 3, 4, 5}) {
      SCOPED_TRACE("n " + std::to_string(n) + " window " + std::to_string(code));
      std::vector<double> re = RandomValues(static_cast<size_t>(n), 11 + n + code, 128);
      std::vector<double> im = RandomValues(static_cast<size_t>(n), 17 + n + code, 128);
      std::vector<long double> xr(re.begin(), re.end());
      std::vector<long double> xi(im.begin(), im.end());
      int32_t size = n;
      tonvel::fft(re, im, size, code, 1);
      ASSERT_EQ(size, n);
      std::vector<long double> c(static_cast<size_t>(n));
      std::vector<long double> s(static_cast<size_t>(n));
      for (int32_t m = 0; m < n; ++m) {
        c[m] = std::cos(2 * std::numbers::pi_v<long double> * m / n);
        s[m] = std::sin(2 * std::numbers::pi_v<long double> * m / n);
      }
      long double largest = 0;
      long double worst = 0;
      for (int32_t k = 0; k < n; ++k) {
        long double sr = 0;
        long double si = 0;
        for (int32_t t = 0; t < n; ++t) {
          const long double w = Weight(code, n, t);
          const size_t m = static_cast<size_t>((int64_t{k} * t) % n);
          // x e^(-i theta) = (xr + i xi)(cos - i sin)
          sr += w * (xr[t] * c[m] + xi[t] * s[m]);
          si += w * (xi[t] * c[m] - xr[t] * s[m]);
        }
        largest = std::max(largest, std::hypot(sr, si));
        worst = std::max(worst, std::hypot(sr - re[k], si - im[k]));
      }
      EXPECT_LT(worst / largest, 1e-9L);
    }
  }
}

TEST_F(SpectrumTest, EveryKernelGivesTheBitsOfThePlainButterflies) {
  for (int kernel : {1, 2, 3, 4}) {
    tonvel::detail::ForceTransformKernel(kernel);
    for (int32_t n : {2, 4, 8, 16, 32, 64, 128, 2048, 8192}) {
      for (uint16_t code : {2, 4, 5}) {
        SCOPED_TRACE("kernel " + std::to_string(kernel) + " n " + std::to_string(n) + " window " +
                     std::to_string(code));
        std::vector<double> re = RandomValues(static_cast<size_t>(n), 3 + n, 100);
        std::vector<double> im = RandomValues(static_cast<size_t>(n), 5 + n, 100);
        std::vector<double> want_re = re;
        std::vector<double> want_im = im;
        PlainFft(want_re, want_im, n, code);
        int32_t size = n;
        tonvel::fft(re, im, size, code, 1);
        for (int32_t k = 0; k < n; ++k) {
          ASSERT_TRUE(SameBits(re[k], want_re[k])) << k << ": " << re[k] << " " << want_re[k];
          ASSERT_TRUE(SameBits(im[k], want_im[k])) << k << ": " << im[k] << " " << want_im[k];
        }
      }
    }
  }
}

TEST_F(SpectrumTest, CachedWindowAndRotationsAreThoseOfTheRecurrence) {
  for (int32_t n : {4, 2048}) {
    for (uint16_t code = 1; code <= 5; ++code) {
      const tonvel::TransformPlan& plan = tonvel::PlanFor(n, code, 1);
      for (int32_t t = 0; t < n; ++t)
        ASSERT_TRUE(SameBits(plan.window[t], Weight(code, n, t))) << n << " " << code << " " << t;
    }
    const tonvel::TransformPlan& plan = tonvel::PlanFor(n, 5, 1);
    for (int32_t half = n / 2; half >= 1; half /= 2) {
      const double theta = std::numbers::pi / half;
      const double wr = std::cos(theta);
      const double wi = -std::sin(theta);
      double ur = 1;
      double ui = 0;
      for (int32_t j = 0; j < half; ++j) {
        ASSERT_TRUE(SameBits(plan.StageRe(half)[j], ur)) << half << " " << j;
        ASSERT_TRUE(SameBits(plan.StageIm(half)[j], ui)) << half << " " << j;
        const double next = ur * wr - ui * wi;
        ui = ui * wr + ur * wi;
        ur = next;
      }
    }
  }
  // The rectangular window is exactly 1; code 4 dips just below 0 at t = 0.
  EXPECT_EQ(tonvel::PlanFor(2048, 5, 1).window[700], 1.0);
  EXPECT_LT(tonvel::PlanFor(2048, 4, 1).window[0], 0.0);
}

TEST_F(SpectrumTest, SizesAreNormalisedAndShortArraysGrow) {
  EXPECT_EQ(tonvel::NormalizeTransformSize(10000), 16384);
  EXPECT_EQ(tonvel::NormalizeTransformSize(9), 8);
  EXPECT_EQ(tonvel::NormalizeTransformSize(2048), 2048);
  EXPECT_EQ(tonvel::NormalizeTransformSize(1), 2);
  std::vector<double> re{1, 2, 3};
  std::vector<double> im;
  int32_t n = 5;  // becomes 4: the arrays are filled up with zeros first
  tonvel::fft(re, im, n, 5, 1);
  EXPECT_EQ(n, 4);
  ASSERT_EQ(re.size(), 4u);
  ASSERT_EQ(im.size(), 4u);
  EXPECT_EQ(re[0], 6.0);  // 1 + 2 + 3 + 0
}

TEST_F(SpectrumTest, LevelsAreThoseOfTheTransformOnEveryKernel) {
  const std::vector<double> samples = RandomValues(2048, 9, 128);
  std::vector<double> rounded(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) rounded[i] = std::nearbyint(samples[i]);
  for (uint16_t code : {3, 4, 5}) {
    for (int kernel : {1, 2, 3, 4}) {
      SCOPED_TRACE("window " + std::to_string(code) + " kernel " + std::to_string(kernel));
      tonvel::detail::ForceTransformKernel(kernel);
      tonvel::f_window = code;
      tonvel::f_noise = 7;
      Analyse(rounded);
      std::vector<double> re = rounded;
      std::vector<double> im(re.size(), 0.0);
      int32_t n = 2048;
      tonvel::fft(re, im, n, code, 1);
      ASSERT_EQ(tonvel::outwav.y.size(), 1024u);
      for (size_t j = 0; j < 1024; ++j) {
        const double m = std::sqrt(re[j] * re[j] + im[j] * im[j]);
        const double level = 20 * std::log10(m / 2048 + 0.000001) - 7;
        ASSERT_TRUE(SameBits(tonvel::outwav.y[j], level)) << j;
      }
    }
  }
}

TEST_F(SpectrumTest, SilenceReadsMinus120EverywhereAndGivesTheQuietResults) {
  tonvel::f0 = 555;  // kept: no bin exceeds -1 dB
  dtmf_->set_FFT_cut_minusamp(true);
  Analyse(std::vector<double>(2048, 0.0));
  ASSERT_EQ(tonvel::outwav.y.size(), 1024u);
  for (double level : tonvel::outwav.y) ASSERT_DOUBLE_EQ(level, -120.0);
  EXPECT_EQ(tonvel::spektr.y, std::vector<double>(1024, 0.0));
  EXPECT_DOUBLE_EQ(tonvel::a1, -120.0);
  EXPECT_EQ(tonvel::f1, 0.0);
  EXPECT_EQ(tonvel::a2, 0.0);
  EXPECT_EQ(tonvel::gl_noise, 0.0);
  EXPECT_EQ(tonvel::a0, -1.0);
  EXPECT_EQ(tonvel::f0, 555.0);
  EXPECT_EQ(tonvel::signal, "");

  // FFT_noise lowers every level; without the cut the noise level follows.
  dtmf_->set_FFT_cut_minusamp(false);
  dtmf_->set_FFT_noise(10);
  Analyse(std::vector<double>(2048, 0.0));
  EXPECT_DOUBLE_EQ(tonvel::outwav.y[17], -130.0);
  EXPECT_DOUBLE_EQ(tonvel::a1, -130.0);
  EXPECT_NEAR(tonvel::gl_noise, (-130.0 * 1024) / 1023, 1e-9);
}

TEST_F(SpectrumTest, BinCentredSineReadsItsAmplitudeInDecibels) {
  // Amplitude 100 on bin 62 of 2048 (1335.06 Hz): |X| = 100 N / 2.
  std::vector<double> s(2048);
  for (int t = 0; t < 2048; ++t) s[t] = 100 * std::cos(2 * std::numbers::pi * 62 * t / 2048);
  Analyse(s);
  EXPECT_NEAR(tonvel::outwav.y[62], 20 * std::log10(50 + 0.000001), 1e-9);  // 33.98 dB
  EXPECT_NEAR(tonvel::outwav.y[62], 33.98, 0.005);
  EXPECT_LT(tonvel::outwav.y[100], -100);
  EXPECT_DOUBLE_EQ(tonvel::f1, 62 * 44100.0 / 2048);
  EXPECT_DOUBLE_EQ(tonvel::a1, tonvel::outwav.y[62]);
  EXPECT_DOUBLE_EQ(tonvel::f0, tonvel::f1);
}

TEST_F(SpectrumTest, TransformSizeFollowsTheRequestAndTheSampleCount) {
  struct Case {
    size_t samples;
    int32_t requested;
    int32_t size;
  };
  for (const Case& c : {Case{2048, 4096, 2048}, Case{2048, 1000, 1024}, Case{2048, 1024, 1024},
                        Case{2048, 1025, 2048}, Case{3000, 100000, 2048}, Case{0, 2048, 0},
                        // requests below 4, and buffers of fewer than 4 samples: 4
                        Case{2048, 3, 4}, Case{2048, 1, 4}, Case{2048, 0, 4}, Case{2048, -7, 4},
                        Case{2, 2048, 4}, Case{3, 2048, 4}}) {
    EXPECT_EQ(tonvel::SpectrumSize(c.samples, c.requested), c.size)
        << c.samples << " " << c.requested;
  }
  Analyse(std::vector<double>(2048, 1.0), 1000);
  EXPECT_EQ(tonvel::outwav.y.size(), 512u);
  EXPECT_EQ(tonvel::spektr.x.size(), 512u);
  EXPECT_DOUBLE_EQ(tonvel::spektr.x[1], 44100.0 / 1024);  // 43.07 Hz
  // The smallest size still gives two bins and a defined noise level.
  Analyse({5, -5}, 1);
  ASSERT_EQ(tonvel::outwav.y.size(), 2u);
  EXPECT_TRUE(std::isfinite(tonvel::gl_noise));
  Analyse(std::vector<double>(2048, 3.0), 2);
  ASSERT_EQ(tonvel::outwav.y.size(), 2u);
  EXPECT_TRUE(std::isfinite(tonvel::gl_noise));
  // No samples, no levels.
  Analyse({});
  EXPECT_TRUE(tonvel::outwav.y.empty());
}

TEST_F(SpectrumTest, PeaksTiesCutAndNoise) {
  // Two equal maxima: f1 is the lower frequency, f0 the higher; a2 the
  // highest of the next value above 0 dB.
  Peaks({-5, 20, 7, 20, 7, 3, -2});
  EXPECT_EQ(tonvel::a1, 20.0);
  EXPECT_EQ(tonvel::f1, 10.0);
  EXPECT_EQ(tonvel::a0, 20.0);
  EXPECT_EQ(tonvel::f0, 30.0);
  EXPECT_EQ(tonvel::a2, 7.0);
  EXPECT_EQ(tonvel::f2, 40.0);
  EXPECT_DOUBLE_EQ(tonvel::gl_noise, (50.0 - 20.0) / 6);
  EXPECT_EQ(tonvel::spektr.x, (std::vector<double>{0, 10, 20, 30, 40, 50, 60}));

  // The cut: bins below 0 dB read 0 and stay out of the sum; the peaks still
  // see the bin values.
  dtmf_->set_FFT_cut_minusamp(true);
  Peaks({-5, 20, 7, 20, 7, 3, -2});
  EXPECT_EQ(tonvel::spektr.y, (std::vector<double>{0, 20, 7, 20, 7, 3, 0}));
  EXPECT_DOUBLE_EQ(tonvel::gl_noise, (57.0 - 20.0) / 6);
  Peaks({-30, -40, -35});
  EXPECT_EQ(tonvel::a1, -30.0);
  EXPECT_EQ(tonvel::f1, 0.0);

  // No second value above 0 dB: a2 is 0 and f2 keeps its value.
  tonvel::f2 = 1234;
  Peaks({-8, 12, -3, -6});
  EXPECT_EQ(tonvel::a2, 0.0);
  EXPECT_EQ(tonvel::f2, 1234.0);
  // A strongest value of exactly -1 becomes 0.
  Peaks({-3, -1, -2});
  EXPECT_EQ(tonvel::a1, 0.0);
}

}  // namespace
}  // namespace velmora::testing
