// The spectrum of one buffer: window, transform, levels and the first phase
// of FFTDTMF.  See spectrum.h for the contracts.
//
// Every value here is a result that hosts compare across machines, so the
// arithmetic is the documented one, operation by operation: no fused
// multiply-add (contraction is switched off for this file, since a build
// for a processor with FMA would otherwise fuse a * b + c), no reassociation,
// std::log10 and std::sqrt for the levels.  The vector kernels run the same
// butterfly on several independent pairs at once; they give the same bits as
// the scalar one, which the tests check.

#pragma GCC optimize("fp-contract=off")

#include "velmora/component/spectrum.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>

#include "velmora/component/unit_state.h"
#include "velmora/host/exception.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmora::tonvel {

namespace {

// ---- descriptors ---------------------------------------------------------------

constexpr WindowCoefficients kWindows[] = {
    {0.42323, 0.49755, 0.07922, 0},        // 1: dB_67, three-term Blackman-Harris
    {0.44959, 0.49364, 0.05677, 0},        // 2: dB_54, three-term Blackman-Harris
    {0.35875, 0.48829, 0.14128, 0.01168},  // 3: dB_92, four-term Blackman-Harris
    {0.40217, 0.49703, 0.09392, 0.00183},  // 4: dB_72, four-term Blackman-Harris
    {1, 0, 0, 0},                          // 5: dB_0, rectangular
};

// The largest transform: the plans and work arrays are indexed with 32 bits.
constexpr int32_t kMaxTransformSize = int32_t{1} << 30;

// Plans kept per thread: live capture needs one; a file analysis may add a
// few sizes of its own.
constexpr size_t kPlansKept = 4;

std::unique_ptr<TransformPlan> MakePlan(int32_t n, uint16_t code, int32_t direction) {
  auto plan = std::make_unique<TransformPlan>();
  plan->n = n;
  plan->code = code;
  plan->direction = direction;
  const WindowCoefficients c = WindowCoefficientsOf(code);
  plan->window.resize(static_cast<size_t>(n));
  for (int32_t t = 0; t < n; ++t) plan->window[static_cast<size_t>(t)] = WindowWeight(c, n, t);

  plan->rot_re.resize(static_cast<size_t>(n - 1));
  plan->rot_im.resize(static_cast<size_t>(n - 1));
  for (int32_t half = n / 2; half >= 1; half /= 2) {
    const double theta = std::numbers::pi / half;
    const double wr = std::cos(theta);
    const double wi = -direction * std::sin(theta);
    double ur = 1;
    double ui = 0;
    double* re = plan->rot_re.data() + (n - 2 * half);
    double* im = plan->rot_im.data() + (n - 2 * half);
    for (int32_t j = 0; j < half; ++j) {
      re[j] = ur;
      im[j] = ui;
      const double next_ur = ur * wr - ui * wi;
      const double next_ui = ui * wr + ur * wi;
      ur = next_ur;
      ui = next_ui;
    }
  }

  plan->reversed.resize(static_cast<size_t>(n));
  plan->reversed[0] = 0;
  for (uint32_t i = 1; i < static_cast<uint32_t>(n); ++i)
    plan->reversed[i] =
        (plan->reversed[i >> 1] >> 1) | ((i & 1) != 0 ? static_cast<uint32_t>(n) / 2 : 0);
  return plan;
}

// ---- butterflies ---------------------------------------------------------------

// One butterfly of the decimation-in-frequency transform, as documented:
// the sum stays at i, the difference turned by (ur, ui) goes to p.
inline void Butterfly(double* re, double* im, int32_t i, int32_t p, double ur, double ui) {
  const double tr = re[i] + re[p];
  const double ti = im[i] + im[p];
  const double dr = re[i] - re[p];
  const double di = im[i] - im[p];
  re[p] = dr * ur - di * ui;
  im[p] = di * ur + dr * ui;
  re[i] = tr;
  im[i] = ti;
}

// One stage: every block of 2 * half values, pair (b + j, b + j + half)
// turned by the stage's factor j.  The pairs are independent, so their order
// does not matter.
void StageScalar(double* re, double* im, int32_t n, int32_t half, const double* wr,
                 const double* wi) {
  for (int32_t b = 0; b < n; b += 2 * half)
    for (int32_t j = 0; j < half; ++j) Butterfly(re, im, b + j, b + j + half, wr[j], wi[j]);
}

#if defined(__x86_64__)

// SSE2 is part of every x86-64 processor: two pairs at once.
void StageSse2(double* re, double* im, int32_t n, int32_t half, const double* wr,
               const double* wi) {
  if (half < 2) {
    StageScalar(re, im, n, half, wr, wi);
    return;
  }
  for (int32_t b = 0; b < n; b += 2 * half) {
    double* r0 = re + b;
    double* i0 = im + b;
    double* r1 = r0 + half;
    double* i1 = i0 + half;
    for (int32_t j = 0; j < half; j += 2) {
      const __m128d xr = _mm_loadu_pd(r0 + j);
      const __m128d xi = _mm_loadu_pd(i0 + j);
      const __m128d yr = _mm_loadu_pd(r1 + j);
      const __m128d yi = _mm_loadu_pd(i1 + j);
      const __m128d ur = _mm_loadu_pd(wr + j);
      const __m128d ui = _mm_loadu_pd(wi + j);
      const __m128d dr = _mm_sub_pd(xr, yr);
      const __m128d di = _mm_sub_pd(xi, yi);
      _mm_storeu_pd(r0 + j, _mm_add_pd(xr, yr));
      _mm_storeu_pd(i0 + j, _mm_add_pd(xi, yi));
      _mm_storeu_pd(r1 + j, _mm_sub_pd(_mm_mul_pd(dr, ur), _mm_mul_pd(di, ui)));
      _mm_storeu_pd(i1 + j, _mm_add_pd(_mm_mul_pd(di, ur), _mm_mul_pd(dr, ui)));
    }
  }
}

// The butterfly on four pairs: x and y hold the first and second members.
__attribute__((target("avx"))) inline void Butterfly4(__m256d& xr, __m256d& xi, __m256d& yr,
                                                      __m256d& yi, __m256d ur, __m256d ui) {
  const __m256d dr = _mm256_sub_pd(xr, yr);
  const __m256d di = _mm256_sub_pd(xi, yi);
  xr = _mm256_add_pd(xr, yr);
  xi = _mm256_add_pd(xi, yi);
  yr = _mm256_sub_pd(_mm256_mul_pd(dr, ur), _mm256_mul_pd(di, ui));
  yi = _mm256_add_pd(_mm256_mul_pd(di, ur), _mm256_mul_pd(dr, ui));
}

// AVX (not FMA): four pairs at once.  The last two stages, whose pairs lie
// within 4 and 2 neighbouring values, gather two blocks into one register
// set and scatter them back.
__attribute__((target("avx"))) void StageAvx(double* re, double* im, int32_t n, int32_t half,
                                             const double* wr, const double* wi) {
  if (n < 8) {
    StageSse2(re, im, n, half, wr, wi);
    return;
  }
  if (half >= 4) {
    for (int32_t b = 0; b < n; b += 2 * half) {
      double* r0 = re + b;
      double* i0 = im + b;
      double* r1 = r0 + half;
      double* i1 = i0 + half;
      for (int32_t j = 0; j < half; j += 4) {
        __m256d xr = _mm256_loadu_pd(r0 + j);
        __m256d xi = _mm256_loadu_pd(i0 + j);
        __m256d yr = _mm256_loadu_pd(r1 + j);
        __m256d yi = _mm256_loadu_pd(i1 + j);
        Butterfly4(xr, xi, yr, yi, _mm256_loadu_pd(wr + j), _mm256_loadu_pd(wi + j));
        _mm256_storeu_pd(r0 + j, xr);
        _mm256_storeu_pd(i0 + j, xi);
        _mm256_storeu_pd(r1 + j, yr);
        _mm256_storeu_pd(i1 + j, yi);
      }
    }
  } else if (half == 2) {
    // Blocks [b0 b1 b2 b3] [c0 c1 c2 c3]: pairs (b0,b2) (b1,b3) (c0,c2) (c1,c3).
    const __m256d ur = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(wr));
    const __m256d ui = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(wi));
    for (int32_t b = 0; b < n; b += 8) {
      const __m256d pr = _mm256_loadu_pd(re + b);
      const __m256d qr = _mm256_loadu_pd(re + b + 4);
      const __m256d pi = _mm256_loadu_pd(im + b);
      const __m256d qi = _mm256_loadu_pd(im + b + 4);
      __m256d xr = _mm256_permute2f128_pd(pr, qr, 0x20);  // b0 b1 c0 c1
      __m256d yr = _mm256_permute2f128_pd(pr, qr, 0x31);  // b2 b3 c2 c3
      __m256d xi = _mm256_permute2f128_pd(pi, qi, 0x20);
      __m256d yi = _mm256_permute2f128_pd(pi, qi, 0x31);
      Butterfly4(xr, xi, yr, yi, ur, ui);
      _mm256_storeu_pd(re + b, _mm256_permute2f128_pd(xr, yr, 0x20));
      _mm256_storeu_pd(re + b + 4, _mm256_permute2f128_pd(xr, yr, 0x31));
      _mm256_storeu_pd(im + b, _mm256_permute2f128_pd(xi, yi, 0x20));
      _mm256_storeu_pd(im + b + 4, _mm256_permute2f128_pd(xi, yi, 0x31));
    }
  } else {
    // Pairs of neighbours (0,1) (2,3) ...: even and odd values split apart.
    const __m256d ur = _mm256_set1_pd(wr[0]);
    const __m256d ui = _mm256_set1_pd(wi[0]);
    for (int32_t b = 0; b < n; b += 8) {
      const __m256d pr = _mm256_loadu_pd(re + b);
      const __m256d qr = _mm256_loadu_pd(re + b + 4);
      const __m256d pi = _mm256_loadu_pd(im + b);
      const __m256d qi = _mm256_loadu_pd(im + b + 4);
      __m256d xr = _mm256_unpacklo_pd(pr, qr);  // 0 4 2 6
      __m256d yr = _mm256_unpackhi_pd(pr, qr);  // 1 5 3 7
      __m256d xi = _mm256_unpacklo_pd(pi, qi);
      __m256d yi = _mm256_unpackhi_pd(pi, qi);
      Butterfly4(xr, xi, yr, yi, ur, ui);
      _mm256_storeu_pd(re + b, _mm256_unpacklo_pd(xr, yr));
      _mm256_storeu_pd(re + b + 4, _mm256_unpackhi_pd(xr, yr));
      _mm256_storeu_pd(im + b, _mm256_unpacklo_pd(xi, yi));
      _mm256_storeu_pd(im + b + 4, _mm256_unpackhi_pd(xi, yi));
    }
  }
}

// Two stages in one pass: the stage of half-span h (h >= 8) and the next
// one (h/2).  Of each block of 2h values, the quarters q0..q3 at k, k + h/2,
// k + h, k + 3h/2 go through (q0,q2) and (q1,q3) of the first stage, then
// (q0,q1) and (q2,q3) of the second: the same butterflies as two passes, with
// half the loads and stores.  kRealInput: the imaginary parts entering the
// first stage are taken as zeros instead of being read, and the products
// and sums with those zeros are left out (only calc_spektr asks for it,
// whose magnitudes do not depend on the sign of a zero: a value that the
// full butterflies make x the shortened ones make x as well, or -x when x
// is a zero, and sums and products carry no more than that on).
template <bool kRealInput>
__attribute__((target("avx"))) void StagePairAvx(double* re, double* im, int32_t n, int32_t h,
                                                 const double* w1r, const double* w1i,
                                                 const double* w2r, const double* w2i) {
  const int32_t q = h / 2;
  for (int32_t b = 0; b < n; b += 2 * h) {
    double* r = re + b;
    double* i = im + b;
    for (int32_t k = 0; k < q; k += 4) {
      __m256d r0 = _mm256_loadu_pd(r + k);
      __m256d r1 = _mm256_loadu_pd(r + k + q);
      __m256d r2 = _mm256_loadu_pd(r + k + h);
      __m256d r3 = _mm256_loadu_pd(r + k + h + q);
      __m256d i0, i1, i2, i3;
      const __m256d ur = _mm256_loadu_pd(w2r + k);
      const __m256d ui = _mm256_loadu_pd(w2i + k);
      if constexpr (kRealInput) {
        // The butterflies with the zero imaginary parts left out: each value
        // is the one the full butterflies give, but for the sign of a zero.
        const __m256d d0 = _mm256_sub_pd(r0, r2);
        const __m256d d1 = _mm256_sub_pd(r1, r3);
        r0 = _mm256_add_pd(r0, r2);
        r1 = _mm256_add_pd(r1, r3);
        r2 = _mm256_mul_pd(d0, _mm256_loadu_pd(w1r + k));
        i2 = _mm256_mul_pd(d0, _mm256_loadu_pd(w1i + k));
        r3 = _mm256_mul_pd(d1, _mm256_loadu_pd(w1r + k + q));
        i3 = _mm256_mul_pd(d1, _mm256_loadu_pd(w1i + k + q));
        const __m256d d = _mm256_sub_pd(r0, r1);
        r0 = _mm256_add_pd(r0, r1);
        i0 = _mm256_setzero_pd();
        r1 = _mm256_mul_pd(d, ur);
        i1 = _mm256_mul_pd(d, ui);
      } else {
        i0 = _mm256_loadu_pd(i + k);
        i1 = _mm256_loadu_pd(i + k + q);
        i2 = _mm256_loadu_pd(i + k + h);
        i3 = _mm256_loadu_pd(i + k + h + q);
        Butterfly4(r0, i0, r2, i2, _mm256_loadu_pd(w1r + k), _mm256_loadu_pd(w1i + k));
        Butterfly4(r1, i1, r3, i3, _mm256_loadu_pd(w1r + k + q), _mm256_loadu_pd(w1i + k + q));
        Butterfly4(r0, i0, r1, i1, ur, ui);
      }
      Butterfly4(r2, i2, r3, i3, ur, ui);
      _mm256_storeu_pd(r + k, r0);
      _mm256_storeu_pd(r + k + q, r1);
      _mm256_storeu_pd(r + k + h, r2);
      _mm256_storeu_pd(r + k + h + q, r3);
      _mm256_storeu_pd(i + k, i0);
      _mm256_storeu_pd(i + k + q, i1);
      _mm256_storeu_pd(i + k + h, i2);
      _mm256_storeu_pd(i + k + h + q, i3);
    }
  }
}

// The butterfly on eight pairs (AVX-512F, not FMA): the same operations,
// lane by lane, as Butterfly4.
__attribute__((target("avx512f"))) inline void Butterfly8(__m512d& xr, __m512d& xi, __m512d& yr,
                                                          __m512d& yi, __m512d ur, __m512d ui) {
  const __m512d dr = _mm512_sub_pd(xr, yr);
  const __m512d di = _mm512_sub_pd(xi, yi);
  xr = _mm512_add_pd(xr, yr);
  xi = _mm512_add_pd(xi, yi);
  yr = _mm512_sub_pd(_mm512_mul_pd(dr, ur), _mm512_mul_pd(di, ui));
  yi = _mm512_add_pd(_mm512_mul_pd(di, ur), _mm512_mul_pd(dr, ui));
}

// StagePairAvx with eight pairs at once, for h >= 16.
template <bool kRealInput>
__attribute__((target("avx512f"))) void StagePairAvx512(double* re, double* im, int32_t n,
                                                        int32_t h, const double* w1r,
                                                        const double* w1i, const double* w2r,
                                                        const double* w2i) {
  const int32_t q = h / 2;
  for (int32_t b = 0; b < n; b += 2 * h) {
    double* r = re + b;
    double* i = im + b;
    for (int32_t k = 0; k < q; k += 8) {
      __m512d r0 = _mm512_loadu_pd(r + k);
      __m512d r1 = _mm512_loadu_pd(r + k + q);
      __m512d r2 = _mm512_loadu_pd(r + k + h);
      __m512d r3 = _mm512_loadu_pd(r + k + h + q);
      __m512d i0, i1, i2, i3;
      const __m512d ur = _mm512_loadu_pd(w2r + k);
      const __m512d ui = _mm512_loadu_pd(w2i + k);
      if constexpr (kRealInput) {
        // As in StagePairAvx: the zero imaginary parts left out.
        const __m512d d0 = _mm512_sub_pd(r0, r2);
        const __m512d d1 = _mm512_sub_pd(r1, r3);
        r0 = _mm512_add_pd(r0, r2);
        r1 = _mm512_add_pd(r1, r3);
        r2 = _mm512_mul_pd(d0, _mm512_loadu_pd(w1r + k));
        i2 = _mm512_mul_pd(d0, _mm512_loadu_pd(w1i + k));
        r3 = _mm512_mul_pd(d1, _mm512_loadu_pd(w1r + k + q));
        i3 = _mm512_mul_pd(d1, _mm512_loadu_pd(w1i + k + q));
        const __m512d d = _mm512_sub_pd(r0, r1);
        r0 = _mm512_add_pd(r0, r1);
        i0 = _mm512_setzero_pd();
        r1 = _mm512_mul_pd(d, ur);
        i1 = _mm512_mul_pd(d, ui);
      } else {
        i0 = _mm512_loadu_pd(i + k);
        i1 = _mm512_loadu_pd(i + k + q);
        i2 = _mm512_loadu_pd(i + k + h);
        i3 = _mm512_loadu_pd(i + k + h + q);
        Butterfly8(r0, i0, r2, i2, _mm512_loadu_pd(w1r + k), _mm512_loadu_pd(w1i + k));
        Butterfly8(r1, i1, r3, i3, _mm512_loadu_pd(w1r + k + q), _mm512_loadu_pd(w1i + k + q));
        Butterfly8(r0, i0, r1, i1, ur, ui);
      }
      Butterfly8(r2, i2, r3, i3, ur, ui);
      _mm512_storeu_pd(r + k, r0);
      _mm512_storeu_pd(r + k + q, r1);
      _mm512_storeu_pd(r + k + h, r2);
      _mm512_storeu_pd(r + k + h + q, r3);
      _mm512_storeu_pd(i + k, i0);
      _mm512_storeu_pd(i + k + q, i1);
      _mm512_storeu_pd(i + k + h, i2);
      _mm512_storeu_pd(i + k + h + q, i3);
    }
  }
}

// Rows of four values become columns and back (the transposition is its
// own inverse).
__attribute__((target("avx"))) inline void Transpose4(__m256d& a, __m256d& b, __m256d& c,
                                                      __m256d& d) {
  const __m256d t0 = _mm256_unpacklo_pd(a, b);
  const __m256d t1 = _mm256_unpackhi_pd(a, b);
  const __m256d t2 = _mm256_unpacklo_pd(c, d);
  const __m256d t3 = _mm256_unpackhi_pd(c, d);
  a = _mm256_permute2f128_pd(t0, t2, 0x20);
  b = _mm256_permute2f128_pd(t1, t3, 0x20);
  c = _mm256_permute2f128_pd(t0, t2, 0x31);
  d = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// The last two stages (half-spans 2 and 1) in one pass, four blocks of four
// values at a time: after the transposition, column t holds value t of each
// block, so that every butterfly works on whole registers.
__attribute__((target("avx"))) void LastStagesAvx(double* re, double* im, int32_t n,
                                                  const double* w2r, const double* w2i,
                                                  const double* w1r, const double* w1i) {
  const __m256d u0r = _mm256_set1_pd(w2r[0]);
  const __m256d u0i = _mm256_set1_pd(w2i[0]);
  const __m256d u1r = _mm256_set1_pd(w2r[1]);
  const __m256d u1i = _mm256_set1_pd(w2i[1]);
  const __m256d vr = _mm256_set1_pd(w1r[0]);
  const __m256d vi = _mm256_set1_pd(w1i[0]);
  for (int32_t b = 0; b < n; b += 16) {
    __m256d r0 = _mm256_loadu_pd(re + b);
    __m256d r1 = _mm256_loadu_pd(re + b + 4);
    __m256d r2 = _mm256_loadu_pd(re + b + 8);
    __m256d r3 = _mm256_loadu_pd(re + b + 12);
    __m256d i0 = _mm256_loadu_pd(im + b);
    __m256d i1 = _mm256_loadu_pd(im + b + 4);
    __m256d i2 = _mm256_loadu_pd(im + b + 8);
    __m256d i3 = _mm256_loadu_pd(im + b + 12);
    Transpose4(r0, r1, r2, r3);
    Transpose4(i0, i1, i2, i3);
    Butterfly4(r0, i0, r2, i2, u0r, u0i);
    Butterfly4(r1, i1, r3, i3, u1r, u1i);
    Butterfly4(r0, i0, r1, i1, vr, vi);
    Butterfly4(r2, i2, r3, i3, vr, vi);
    Transpose4(r0, r1, r2, r3);
    Transpose4(i0, i1, i2, i3);
    _mm256_storeu_pd(re + b, r0);
    _mm256_storeu_pd(re + b + 4, r1);
    _mm256_storeu_pd(re + b + 8, r2);
    _mm256_storeu_pd(re + b + 12, r3);
    _mm256_storeu_pd(im + b, i0);
    _mm256_storeu_pd(im + b + 4, i1);
    _mm256_storeu_pd(im + b + 8, i2);
    _mm256_storeu_pd(im + b + 12, i3);
  }
}

// The whole transform with AVX, n >= 16; with `wide`, the stage pairs of
// half-span 16 and more take eight pairs at once (AVX-512F).
template <bool kRealInput>
__attribute__((target("avx"))) void TransformAvx(double* re, double* im, const TransformPlan& plan,
                                                 bool wide) {
  const int32_t n = plan.n;
  int32_t half = n / 2;
  if (wide && half >= 16)
    StagePairAvx512<kRealInput>(re, im, n, half, plan.StageRe(half), plan.StageIm(half),
                                plan.StageRe(half / 2), plan.StageIm(half / 2));
  else
    StagePairAvx<kRealInput>(re, im, n, half, plan.StageRe(half), plan.StageIm(half),
                             plan.StageRe(half / 2), plan.StageIm(half / 2));
  for (half /= 4; half >= 8; half /= 4) {
    if (wide && half >= 16)
      StagePairAvx512<false>(re, im, n, half, plan.StageRe(half), plan.StageIm(half),
                             plan.StageRe(half / 2), plan.StageIm(half / 2));
    else
      StagePairAvx<false>(re, im, n, half, plan.StageRe(half), plan.StageIm(half),
                          plan.StageRe(half / 2), plan.StageIm(half / 2));
  }
  if (half == 4) {
    StageAvx(re, im, n, 4, plan.StageRe(4), plan.StageIm(4));
    half = 2;
  }
  if (half == 2)
    LastStagesAvx(re, im, n, plan.StageRe(2), plan.StageIm(2), plan.StageRe(1), plan.StageIm(1));
  else
    StageAvx(re, im, n, 1, plan.StageRe(1), plan.StageIm(1));
}

#endif  // __x86_64__

// The kernels a transform can run with, best last.
enum class Kernel { Scalar, Sse2, Avx, Avx512 };

// 0 = the best the processor has; else a Kernel + 1 (tests, benchmarks).
int g_forced_kernel = 0;

Kernel ChosenKernel() {
#if defined(__x86_64__)
  static const Kernel best = __builtin_cpu_supports("avx512f") ? Kernel::Avx512
                             : __builtin_cpu_supports("avx")   ? Kernel::Avx
                                                               : Kernel::Sse2;
  if (g_forced_kernel == 0) return best;
  const auto forced = static_cast<Kernel>(g_forced_kernel - 1);
  return forced > best ? best : forced;
#else
  return Kernel::Scalar;
#endif
}

// The butterfly stages from span n down to span 2; the output is in
// bit-reversed order.  real_input: im is not read and holds the imaginary
// parts afterwards (see StagePairAvx).
void Transform(double* re, double* im, const TransformPlan& plan, bool real_input) {
  const Kernel kernel = ChosenKernel();
#if defined(__x86_64__)
  if (kernel >= Kernel::Avx && plan.n >= 16) {
    const bool wide = kernel == Kernel::Avx512;
    if (real_input)
      TransformAvx<true>(re, im, plan, wide);
    else
      TransformAvx<false>(re, im, plan, wide);
    return;
  }
#endif
  if (real_input) std::fill(im, im + plan.n, 0.0);
  void (*stage)(double*, double*, int32_t, int32_t, const double*, const double*) = StageScalar;
#if defined(__x86_64__)
  if (kernel == Kernel::Sse2) stage = StageSse2;
  if (kernel >= Kernel::Avx) stage = StageAvx;
#endif
  for (int32_t half = plan.n / 2; half >= 1; half /= 2)
    stage(re, im, plan.n, half, plan.StageRe(half), plan.StageIm(half));
}

// The windowing step: every value times its weight.
void ApplyWindow(double* re, double* im, const TransformPlan& plan) {
  const double* w = plan.window.data();
  for (int32_t t = 0; t < plan.n; ++t) {
    re[t] = re[t] * w[t];
    im[t] = im[t] * w[t];
  }
}

void Reorder(double* re, double* im, const TransformPlan& plan) {
  const uint32_t* rev = plan.reversed.data();
  for (uint32_t i = 0; i < static_cast<uint32_t>(plan.n); ++i) {
    const uint32_t j = rev[i];
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
}

// arg[j] := sqrt(arg[j]) / n + 0.000001 for the sums of squares in arg.
// Dividing by the power of two n is multiplying by its exact reciprocal, and
// the vector square root is the correctly rounded one of std::sqrt, so every
// path gives the same bits.  (A sum of squares is never negative, so the
// square root never needs the library's error handling.)
void LogArgumentsScalar(double* arg, size_t count, double inverse) {
  for (size_t j = 0; j < count; ++j) arg[j] = std::sqrt(arg[j]) * inverse + 0.000001;
}

#if defined(__x86_64__)
__attribute__((target("avx"))) void LogArgumentsAvx(double* arg, size_t count, double inverse) {
  const __m256d scale = _mm256_set1_pd(inverse);
  const __m256d floor = _mm256_set1_pd(0.000001);
  size_t j = 0;
  for (; j + 4 <= count; j += 4) {
    const __m256d m = _mm256_sqrt_pd(_mm256_loadu_pd(arg + j));
    _mm256_storeu_pd(arg + j, _mm256_add_pd(_mm256_mul_pd(m, scale), floor));
  }
  LogArgumentsScalar(arg + j, count - j, inverse);
}

void LogArgumentsSse2(double* arg, size_t count, double inverse) {
  const __m128d scale = _mm_set1_pd(inverse);
  const __m128d floor = _mm_set1_pd(0.000001);
  size_t j = 0;
  for (; j + 2 <= count; j += 2) {
    const __m128d m = _mm_sqrt_pd(_mm_loadu_pd(arg + j));
    _mm_storeu_pd(arg + j, _mm_add_pd(_mm_mul_pd(m, scale), floor));
  }
  LogArgumentsScalar(arg + j, count - j, inverse);
}
#endif

// The work arrays of calc_spektr, kept per thread so that no buffer
// allocates after the first.
struct Scratch {
  std::vector<double> re, im, arg;
};

Scratch& ThreadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

void LogArguments(double* arg, size_t count, int32_t n) {
  const double inverse = 1.0 / n;  // exact: n is a power of two
#if defined(__x86_64__)
  switch (ChosenKernel()) {
    case Kernel::Avx512:
    case Kernel::Avx:
      LogArgumentsAvx(arg, count, inverse);
      return;
    case Kernel::Sse2:
      LogArgumentsSse2(arg, count, inverse);
      return;
    case Kernel::Scalar:
      break;
  }
#endif
  LogArgumentsScalar(arg, count, inverse);
}

}  // namespace

// ---- window ------------------------------------------------------------------------

WindowCoefficients WindowCoefficientsOf(uint16_t code) {
  if (code < 1 || code > 5) code = 5;
  return kWindows[code - 1];
}

double WindowWeight(const WindowCoefficients& c, int32_t N, int32_t t) {
  const double x = 2 * std::numbers::pi / N * t;
  return c.a0 - c.a1 * std::cos(x) + c.a2 * std::cos(2 * x) - c.a3 * std::cos(3 * x);
}

// ---- transform ---------------------------------------------------------------------

int32_t NormalizeTransformSize(int32_t N) {
  const int32_t h = N / 2;
  int32_t b = 1;
  while (b < h) b *= 2;
  return 2 * b;
}

namespace detail {

// Tests and benchmarks run each kernel on its own: 0 automatic, 1 scalar,
// 2 SSE2, 3 AVX, 4 AVX-512 (a kernel the processor lacks gives the best it
// has).
void ForceTransformKernel(int kernel) {
  g_forced_kernel = kernel >= 1 && kernel <= 4 ? kernel : 0;
}

}  // namespace detail

const TransformPlan& PlanFor(int32_t n, uint16_t code, int32_t direction) {
  thread_local std::vector<std::unique_ptr<TransformPlan>> plans;  // latest first
  for (size_t i = 0; i < plans.size(); ++i) {
    const TransformPlan& p = *plans[i];
    if (p.n == n && p.code == code && p.direction == direction) {
      std::rotate(plans.begin(), plans.begin() + static_cast<std::ptrdiff_t>(i),
                  plans.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return *plans.front();
    }
  }
  if (plans.size() == kPlansKept) plans.pop_back();
  plans.insert(plans.begin(), MakePlan(n, code, direction));
  return *plans.front();
}

void fft(double* re, double* im, int32_t& N, uint16_t window_code, int32_t direction) {
  if (N > kMaxTransformSize)
    throw host::Exception("transform size " + std::to_string(N) +
                          " is above the largest supported size");
  N = NormalizeTransformSize(N);
  const TransformPlan& plan = PlanFor(N, window_code, direction);
  ApplyWindow(re, im, plan);
  Transform(re, im, plan, false);
  Reorder(re, im, plan);
}

void fft(std::vector<double>& re, std::vector<double>& im, int32_t& N, uint16_t window_code,
         int32_t direction) {
  if (N > kMaxTransformSize)
    throw host::Exception("transform size " + std::to_string(N) +
                          " is above the largest supported size");
  const auto n = static_cast<size_t>(NormalizeTransformSize(N));
  if (re.size() < n) re.resize(n, 0.0);
  if (im.size() < n) im.resize(n, 0.0);
  fft(re.data(), im.data(), N, window_code, direction);
}

// ---- levels ------------------------------------------------------------------------

int32_t SpectrumSize(size_t samples, int32_t requested) {
  if (samples == 0) return 0;
  size_t l = samples;
  int32_t k = 0;
  while (l > 1 && (int64_t{1} << k) < requested) {
    l /= 2;
    ++k;
  }
  return std::max<int32_t>(int32_t{1} << k, 4);
}

namespace {

// LevelArguments over samples that sample(t) gives.
template <typename Sample>
void LevelArgumentsOf(Sample sample, size_t count, int32_t n, uint16_t window_code, double* arg) {
  const auto size = static_cast<size_t>(n);
  const TransformPlan& plan = PlanFor(n, window_code, 1);

  Scratch& s = ThreadScratch();
  if (s.re.size() < size) {
    s.re.resize(size);
    s.im.resize(size);
  }
  double* re = s.re.data();
  double* im = s.im.data();
  const double* w = plan.window.data();
  const size_t taken = std::min(count, size);
  // The first N samples (zeros after the last of a short buffer), windowed.
  for (size_t t = 0; t < taken; ++t) re[t] = sample(t) * w[t];
  for (size_t t = taken; t < size; ++t) re[t] = 0.0 * w[t];
  // The imaginary parts are all zero: the transform does not read them.
  Transform(re, im, plan, true);

  // Bin j of the natural order lies at its bit reversal; it is read from
  // there instead of reordering the arrays.
  const size_t bins = size / 2;
  const uint32_t* rev = plan.reversed.data();
  for (size_t j = 0; j < bins; ++j) {
    const double r = re[rev[j]];
    const double i = im[rev[j]];
    arg[j] = r * r + i * i;
  }
  LogArguments(arg, bins, n);
}

}  // namespace

void LevelArguments(const double* samples, size_t count, int32_t n, uint16_t window_code,
                    double* arg) {
  LevelArgumentsOf([samples](size_t t) { return samples[t]; }, count, n, window_code, arg);
}

void LevelArgumentsOfCapture(const uint8_t* bytes, size_t count, int32_t n, uint16_t window_code,
                             double* arg) {
  // s = byte - 128, exactly the capture's samples.
  LevelArgumentsOf([bytes](size_t t) { return static_cast<double>(int32_t{bytes[t]} - 128); },
                   count, n, window_code, arg);
}

double LevelOf(double arg, int32_t noise) {
  return 20 * std::log10(arg) - noise;
}

void calc_spektr(int32_t requested) {
  const std::vector<double>& samples = inwav.y;
  const int32_t n = SpectrumSize(samples.size(), requested);
  if (n == 0) return;
  const size_t bins = static_cast<size_t>(n) / 2;
  Scratch& s = ThreadScratch();
  if (s.arg.size() < bins) s.arg.resize(bins);
  double* arg = s.arg.data();
  LevelArguments(samples.data(), samples.size(), n, f_window, arg);

  std::vector<double>& out = outwav.y;
  const size_t first = out.size();
  out.resize(first + bins);
  double* level = out.data() + first;
  const double noise = f_noise;
  // Neighbouring bins of equal magnitude (every bin of a silent buffer) give
  // the same level: the logarithm is taken once for them.  (The same
  // operations as LevelOf.)
  double last_arg = -1;
  double last_log = 0;
  for (size_t j = 0; j < bins; ++j) {
    if (arg[j] != last_arg) {
      last_arg = arg[j];
      last_log = std::log10(last_arg);
    }
    level[j] = 20 * last_log - noise;
  }
}

namespace spectrum {

double BinSpacing(uint32_t channels, uint32_t rate, size_t bins) {
  if (bins == 0) return 0;
  return static_cast<double>(static_cast<uint64_t>(channels) * rate) /
         (2.0 * static_cast<double>(bins));
}

void Peaks(double step, bool cut_minusamp) {
  const std::vector<double>& v = outwav.y;
  const size_t m = v.size();
  const size_t first = spektr.x.size();
  spektr.x.resize(first + m);
  spektr.y.resize(first + m);
  double* xs = spektr.x.data() + first;
  double* ys = spektr.y.data() + first;

  // Locals: the unit-level results are doubles the series' stores could
  // alias, which would keep them in memory through the loops.
  double sum = 0;
  double top = -1000;  // a1
  double top_f = f1;
  for (size_t i = 0; i < m; ++i) {
    const double f = static_cast<double>(i) * step;
    xs[i] = f;
    if (cut_minusamp) {
      if (v[i] >= 0) {
        ys[i] = v[i];
        sum += v[i];
      } else {
        ys[i] = 0;
      }
    } else {
      ys[i] = v[i];
      sum += v[i];
    }
    // New maxima are rare: a branch, not a conditional move whose
    // dependency would chain every bin to the one before.
    if (__builtin_expect(v[i] > top, 0)) {
      top = v[i];
      top_f = f;
    }
    if (top == -1) top = 0;
  }

  // The second value and the strongest tone, from the highest bin down, in
  // one pass (their comparisons are independent of each other).  f2 and f0
  // keep their values when no bin qualifies.  The second value falls back
  // from its start value -1 to 0 only after the highest bin: later it is 0
  // or a bin value above -1, and only grows.
  double second = -1;  // a2
  double second_f = f2;
  double best = -1;  // a0
  double best_f = f0;
  auto visit = [&](size_t i) {
    if (__builtin_expect(v[i] > second && v[i] != top, 0)) {
      second = v[i];
      second_f = static_cast<double>(i) * step;
    }
    if (__builtin_expect(v[i] > best, 0)) {
      best = v[i];
      best_f = static_cast<double>(i) * step;
    }
  };
  if (m > 0) {
    visit(m - 1);
    if (second == -1) second = 0;
  }
  for (size_t i = m - (m > 0 ? 1 : 0); i-- > 0;) visit(i);
  a1 = top;
  f1 = top_f;
  a2 = second;
  f2 = second_f;
  a0 = best;
  f0 = best_f;

  // With fewer than two bins the divisor would be 0 or negative; one bin
  // (which the component never produces) is taken as its own noise level.
  const double divisor = m >= 2 ? static_cast<double>(m - 1) : 1.0;
  gl_noise = (sum - std::max(a1, a2)) / divisor;
}

}  // namespace spectrum

}  // namespace velmora::tonvel
