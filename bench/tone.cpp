// Tone output and random bits:
//   BM_SynthTones95ms       one key burst as the key player makes it (22050 Hz,
//                           8-bit, two tones, 95 ms = 2095 samples)
//   BM_FillSineBlock        one 100 ms block of the sine generator (4410
//                           samples, 16-bit), with the worst single fill seen
//                           as a counter: the worker must refill a block well
//                           within the 100 ms the device takes to play one
//   BM_SinLoopAnchor        the same number of std::sin calls in a bare loop,
//                           the floor that fill_sine_block stands on
//   BM_RandomStepBuffer     the random-bit step over one 2048-byte capture
//                           buffer (blocks of 50000 bits: a block completes,
//                           with its statistics, every 25th buffer or so),
//                           sample by sample (/0) and in runs (/1 AVX2 run
//                           sums, /2 portable run sums)
// No peer program does the same work in-process; the figures to hold
// against are the 310 ms key tick, the 100 ms block and the 46.4 ms buffer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "velmora/component/key_player.h"
#include "velmora/component/noise_random.h"
#include "velmora/component/sine_generator.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/platform/wave.h"

namespace {

using namespace velmora;

void BM_SynthTones95ms(benchmark::State& state) {
  const std::vector<double> amplitudes = {0.9, 0.9};
  const std::vector<int16_t> frequencies = {770, 1336};
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<uint8_t> burst = tonvel::synth_tones(22050, 8, amplitudes, frequencies, 0.095);
    bytes = burst.size();
    benchmark::DoNotOptimize(burst.data());
  }
  if (bytes != 2095) state.SkipWithError("unexpected burst length");
  state.counters["samples"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SynthTones95ms);

void BM_FillSineBlock(benchmark::State& state) {
  namespace sine = tonvel::sine;
  sine::ResetPattern();
  sine::SetBlockBits(static_cast<uint8_t>(state.range(0)));
  tonvel::iSignal_Freq = 1000;
  tonvel::iSignal_Time = 100;
  tonvel::iSignal_Paus = 0;
  double worst_us = 0;
  int index = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    sine::fill_sine_block(index);
    const auto t1 = std::chrono::steady_clock::now();
    worst_us = std::max(worst_us, std::chrono::duration<double, std::micro>(t1 - t0).count());
    benchmark::DoNotOptimize(sine::sine_block[static_cast<size_t>(index)].data());
    index = (index + 1) % sine::kBlockCount;
  }
  state.counters["worst_us"] = worst_us;
  state.counters["block_ms"] = 100;
  state.counters["samples_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * sine::kBlockSamples, benchmark::Counter::kIsRate);
  sine::SetBlockBits(16);
}
BENCHMARK(BM_FillSineBlock)->Arg(16)->Arg(8);

void BM_SinLoopAnchor(benchmark::State& state) {
  std::vector<int16_t> block(4410);
  double phase = 0;
  const double step = 2 * std::numbers::pi * 1000 / 44100;
  for (auto _ : state) {
    for (int16_t& s : block) {
      s = static_cast<int16_t>(std::nearbyint(std::sin(phase) * 32767));
      phase += step;
    }
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_SinLoopAnchor);

// The random-bit step over one 2048-byte buffer, sample by sample
// (Arg 0) or in runs as capture takes it (1: AVX2 run sums where the
// processor has them, 2: the portable run sums).
void BM_RandomStepBuffer(benchmark::State& state) {
  const int64_t way = state.range(0);
  tonvel::noise::detail::ForcePortableRunSums(way == 2);
  platform::SetDefaultInput({platform::DeviceKind::None, "", false});
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  int64_t blocks = 0;
  dtmf->GenRandom_NoiseSoundCard_Data =
      [&blocks](host::TObject*, const std::string&, const std::string&, const std::string&,
                const std::string&, const std::string&, const std::string&, const std::string&,
                const tonvel::TBSeries&) { ++blocks; };
  std::vector<uint8_t> bytes(2048);
  std::mt19937 random(3);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  for (auto _ : state) {
    if (way == 0) {
      for (uint8_t b : bytes) tonvel::noise::RandomStep(*dtmf, b, static_cast<int32_t>(b) - 128);
    } else {
      for (size_t i = 0; i < bytes.size();) {
        const size_t run = std::min(tonvel::noise::SamplesToBlockEnd(*dtmf), bytes.size() - i);
        tonvel::noise::RandomSteps(*dtmf, bytes.data() + i, run);
        i += run;
      }
    }
    benchmark::DoNotOptimize(tonvel::s_d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2048);
  state.counters["blocks"] = static_cast<double>(blocks);
  dtmf.reset();
  tonvel::tinrand.bits.clear();
  platform::ResetDeviceChoice();
  tonvel::noise::detail::ForcePortableRunSums(false);
}
BENCHMARK(BM_RandomStepBuffer)->Arg(0)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
