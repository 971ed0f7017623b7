// The per-buffer work of the capture pipeline on one 2048-byte buffer:
//   BM_CaptureSteps1To5   gate, clearing the results, the samples into inwav
//                         with the peak, GLVAL -- the steps every buffer runs
//                         before the spectrum
//   BM_WaveInProc2        the whole window procedure as it stands (no device:
//                         queueing the buffer again is refused at once)
// No peer runs the same work; the figure to hold against is the 46.4 ms that
// one buffer of sound lasts.
#include "velmora/component/capture.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/platform/wave.h"

namespace {

using namespace velmora;

// A component without sound device whose buffer header holds 2048 bytes of
// noise, marked as a device hands it back.
struct Rig {
  Rig() {
    platform::SetDefaultInput({platform::DeviceKind::None, "", false});
    dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
    std::mt19937 random(7);
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    tonvel::adr2.lpData = bytes.data();
    tonvel::adr2.dwBufferLength = static_cast<uint32_t>(bytes.size());
    Refill();
  }
  ~Rig() {
    dtmf.reset();
    platform::ResetDeviceChoice();
  }
  static void Refill() {
    tonvel::adr2.dwBytesRecorded = 2048;
    tonvel::adr2.dwFlags = platform::WHDR_DONE | platform::WHDR_PREPARED;
  }

  std::vector<char> bytes = std::vector<char>(2048);
  std::unique_ptr<tonvel::TDTMF> dtmf;
};

void BM_CaptureSteps1To5(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) {
    if (!tonvel::capture::BufferFilled(tonvel::adr2)) state.SkipWithError("gate refused");
    tonvel::capture::ClearResults();
    const int32_t peak = tonvel::capture::TakeSamples(*rig.dtmf, tonvel::adr2);
    tonvel::GLVAL = tonvel::capture::PeakLevel(peak);
    benchmark::DoNotOptimize(tonvel::inwav.y.data());
    benchmark::DoNotOptimize(tonvel::GLVAL);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2048);
  state.counters["buffers_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CaptureSteps1To5);

void BM_WaveInProc2(benchmark::State& state) {
  Rig rig;
  host::TMessage msg;
  msg.Msg = platform::MM_WIM_DATA;
  msg.LParam = reinterpret_cast<intptr_t>(&tonvel::adr2);
  int32_t tones = 0;
  rig.dtmf->GetTone = [&tones](host::TObject*, int32_t, double, double, double) { ++tones; };
  for (auto _ : state) {
    Rig::Refill();
    rig.dtmf->waveInProc2(msg);
  }
  if (tones != static_cast<int32_t>(state.iterations()))
    state.SkipWithError("buffers not processed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2048);
}
BENCHMARK(BM_WaveInProc2);

}  // namespace

BENCHMARK_MAIN();
