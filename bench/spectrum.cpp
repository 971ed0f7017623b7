// The spectrum and key decision of one 2048-sample buffer, beside an
// FFTW-based equivalent in the same run:
//   BM_Pipeline        calc_spektr + FFTDTMF, as the capture pipeline runs
//                      them (window, transform, levels, peaks, key, summary
//                      line)
//   BM_PipelineFftw    the same work with FFTW's 2048-point real transform
//                      (fftw_plan_dft_r2c_1d, FFTW_MEASURE) in place of ours:
//                      the same window table, the same dB conversion with
//                      std::log10, the same peak search and key decision
//   BM_Transform       our windowed transform alone (fft, reordered output);
//                      BM_TransformKernel/1..3 on the scalar, SSE2, AVX kernel
//   BM_WindowWithCos   the window computed with cos, as caching avoids
//   BM_TransformFftw   FFTW's transform alone
//   BM_Levels          1024 levels 20 log10(m / N + 0.000001) alone
//   BM_PipelineSilence calc_spektr + FFTDTMF on a silent buffer
// The input is a DTMF key 5 in 8-bit samples with a little noise, so no two
// bins are alike.  Print the ratio with --benchmark_counters_tabular or
// compare the cpu times of BM_Pipeline and BM_PipelineFftw.
#include "velmora/component/spectrum.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "velmora/component/keys.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/platform/wave.h"

namespace {

using namespace velmora;

constexpr int kN = 2048;

// Samples s = byte - 128 of a key 5 (770 + 1336 Hz at 44100 Hz), amplitude
// 40 + 40, with +-2 of noise, rounded as 8-bit capture would.
std::vector<double> KeyBuffer() {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> noise(-2, 2);
  std::vector<double> s(kN);
  for (int t = 0; t < kN; ++t) {
    const double v = 40 * std::sin(2 * std::numbers::pi * 770 * t / 44100) +
                     40 * std::sin(2 * std::numbers::pi * 1336 * t / 44100) + noise(random);
    s[static_cast<size_t>(t)] = std::nearbyint(v);
  }
  return s;
}

// A component without sound device (FFTDTMF is a method of it).
struct Rig {
  Rig() {
    platform::SetDefaultInput({platform::DeviceKind::None, "", false});
    dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  }
  ~Rig() {
    dtmf.reset();
    platform::ResetDeviceChoice();
  }
  std::unique_ptr<tonvel::TDTMF> dtmf;
};

void ClearResults() {
  tonvel::outwav.y.clear();
  tonvel::spektr.x.clear();
  tonvel::spektr.y.clear();
}

void BM_Pipeline(benchmark::State& state) {
  Rig rig;
  tonvel::inwav.y = KeyBuffer();
  for (auto _ : state) {
    ClearResults();
    tonvel::calc_spektr(kN);
    rig.dtmf->FFTDTMF(44100.0 / kN);
    benchmark::DoNotOptimize(tonvel::signal.data());
  }
  if (tonvel::signal != "5") state.SkipWithError("key 5 not recognised");
}
BENCHMARK(BM_Pipeline);

void BM_PipelineSilence(benchmark::State& state) {
  Rig rig;
  tonvel::inwav.y.assign(kN, 0.0);
  for (auto _ : state) {
    ClearResults();
    tonvel::calc_spektr(kN);
    rig.dtmf->FFTDTMF(44100.0 / kN);
    benchmark::DoNotOptimize(tonvel::signal.data());
  }
}
BENCHMARK(BM_PipelineSilence);

// FFTW's real transform with the same window, levels, peaks and key.
struct FftwRig {
  FftwRig() {
    in = fftw_alloc_real(kN);
    out = fftw_alloc_complex(kN / 2 + 1);
    plan = fftw_plan_dft_r2c_1d(kN, in, out, FFTW_MEASURE);
    const tonvel::TransformPlan& ours = tonvel::PlanFor(kN, tonvel::f_window, 1);
    window = ours.window;
  }
  ~FftwRig() {
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
  }
  void Levels(const std::vector<double>& samples) {
    for (int t = 0; t < kN; ++t)
      in[t] = samples[static_cast<size_t>(t)] * window[static_cast<size_t>(t)];
    fftw_execute(plan);
    std::vector<double>& level = tonvel::outwav.y;
    level.resize(kN / 2);
    const double noise = tonvel::f_noise;
    for (int j = 0; j < kN / 2; ++j) {
      const double m = std::sqrt(out[j][0] * out[j][0] + out[j][1] * out[j][1]);
      level[static_cast<size_t>(j)] = 20 * std::log10(m / kN + 0.000001) - noise;
    }
  }
  double* in;
  fftw_complex* out;
  fftw_plan plan;
  std::vector<double> window;
};

void BM_PipelineFftw(benchmark::State& state) {
  Rig rig;
  FftwRig fftw;
  const std::vector<double> samples = KeyBuffer();
  for (auto _ : state) {
    ClearResults();
    fftw.Levels(samples);
    rig.dtmf->FFTDTMF(44100.0 / kN);
    benchmark::DoNotOptimize(tonvel::signal.data());
  }
  if (tonvel::signal != "5") state.SkipWithError("key 5 not recognised");
}
BENCHMARK(BM_PipelineFftw);

void BM_Transform(benchmark::State& state) {
  const std::vector<double> samples = KeyBuffer();
  std::vector<double> re(kN);
  std::vector<double> im(kN);
  for (auto _ : state) {
    re = samples;
    std::fill(im.begin(), im.end(), 0.0);
    int32_t n = kN;
    tonvel::fft(re.data(), im.data(), n, 5, 1);
    benchmark::DoNotOptimize(re.data());
  }
}
BENCHMARK(BM_Transform);

// The same transform on each kernel: 1 scalar, 2 SSE2, 3 AVX, 4 AVX-512.
void BM_TransformKernel(benchmark::State& state) {
  tonvel::detail::ForceTransformKernel(static_cast<int>(state.range(0)));
  BM_Transform(state);
  tonvel::detail::ForceTransformKernel(0);
}
BENCHMARK(BM_TransformKernel)->Arg(1)->Arg(2)->Arg(3)->Arg(4);

// What caching the window saves: its 2048 weights (four-term window) from
// cos on every buffer.
void BM_WindowWithCos(benchmark::State& state) {
  const tonvel::WindowCoefficients c = tonvel::WindowCoefficientsOf(4);
  std::vector<double> w(kN);
  for (auto _ : state) {
    for (int t = 0; t < kN; ++t) w[static_cast<size_t>(t)] = tonvel::WindowWeight(c, kN, t);
    benchmark::DoNotOptimize(w.data());
  }
}
BENCHMARK(BM_WindowWithCos);

void BM_TransformFftw(benchmark::State& state) {
  FftwRig fftw;
  const std::vector<double> samples = KeyBuffer();
  for (auto _ : state) {
    for (int t = 0; t < kN; ++t) fftw.in[t] = samples[static_cast<size_t>(t)];
    fftw_execute(fftw.plan);
    benchmark::DoNotOptimize(fftw.out);
  }
}
BENCHMARK(BM_TransformFftw);

void BM_Levels(benchmark::State& state) {
  std::vector<double> m(kN / 2);
  std::mt19937 random(3);
  for (double& v : m) v = std::uniform_real_distribution<double>(0, 3000)(random);
  std::vector<double> level(kN / 2);
  for (auto _ : state) {
    for (size_t j = 0; j < m.size(); ++j) level[j] = 20 * std::log10(m[j] / kN + 0.000001);
    benchmark::DoNotOptimize(level.data());
  }
}
BENCHMARK(BM_Levels);

}  // namespace

namespace {

void BM_PeaksOnly(benchmark::State& state) {
  Rig rig;
  tonvel::inwav.y = KeyBuffer();
  ClearResults();
  tonvel::calc_spektr(kN);
  for (auto _ : state) {
    tonvel::spektr.x.clear();
    tonvel::spektr.y.clear();
    tonvel::spectrum::Peaks(44100.0 / kN, false);
    benchmark::DoNotOptimize(tonvel::spektr.y.data());
  }
}
BENCHMARK(BM_PeaksOnly);

void BM_DecideOnly(benchmark::State& state) {
  tonvel::f1 = 1335.9;
  tonvel::f2 = 775.2;
  tonvel::a1 = 30.214;
  tonvel::a2 = 27.4;
  for (auto _ : state) {
    tonvel::keys::Decide();
    benchmark::DoNotOptimize(tonvel::spektr.text.data());
  }
}
BENCHMARK(BM_DecideOnly);

void BM_CalcSpektrOnly(benchmark::State& state) {
  Rig rig;
  tonvel::inwav.y = KeyBuffer();
  for (auto _ : state) {
    tonvel::outwav.y.clear();
    tonvel::calc_spektr(kN);
    benchmark::DoNotOptimize(tonvel::outwav.y.data());
  }
}
BENCHMARK(BM_CalcSpektrOnly);

}  // namespace

BENCHMARK_MAIN();
