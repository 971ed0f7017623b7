// The sample paths of the virtual sound devices: format conversion of a file
// source, the mix bus of the loopback, and the ring between a PortAudio
// callback and its device thread.  The "x_realtime" counter is seconds of
// sound handled per second of processor time: how far each path stays below
// the sound card's pace.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "velmora/platform/wave/mix_bus.h"
#include "velmora/platform/wave/pcm.h"
#include "velmora/platform/wave/ring_buffer.h"

namespace {

using namespace velmora::platform::wave;

std::vector<uint8_t> Tone(const PcmFormat& f, size_t frames) {
  std::vector<float> x(frames * f.channels);
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < f.channels; ++c)
      x[i * f.channels + c] = 0.5f * std::sin(6.2831853f * 1000.0f * i / f.rate);
  std::vector<uint8_t> bytes(frames * f.block_align());
  EncodeFromFloat(x.data(), frames, f, bytes.data());
  return bytes;
}

// One second of 16-bit stereo 22050 Hz converted to the capture format.
void BM_ConvertToCaptureFormat(benchmark::State& state) {
  PcmFormat from{22050, 2, 16}, to{44100, 1, 8};
  auto in = Tone(from, from.rate);
  std::vector<uint8_t> out;
  out.reserve(2 * to.rate);
  PcmConverter converter(from, to);
  for (auto _ : state) {
    out.clear();
    for (size_t at = 0; at < in.size(); at += 4096)
      converter.Convert(in.data() + at, std::min<size_t>(4096, in.size() - at), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertToCaptureFormat);

// One second through the loopback's path: an 8-bit 22050 Hz output into the
// bus, captured as 8-bit 44100 Hz, in 10 ms chunks.
void BM_LoopbackPath(benchmark::State& state) {
  PcmFormat out_format{22050, 1, 8}, in_format{44100, 1, 8};
  MixBus bus(44100);
  auto chunk = Tone(out_format, 220);
  ToMix to_mix(out_format, bus.rate());
  FromMix from_mix(bus.rate(), in_format);
  std::vector<float> mixed, block(441);
  std::vector<uint8_t> captured;
  int64_t at = bus.NowFrame();
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      to_mix.Convert(chunk.data(), chunk.size(), mixed);
      bus.Mix(&to_mix, at, mixed.data(), mixed.size());
      bus.Read(at, block.data(), block.size());
      at += static_cast<int64_t>(block.size());
      captured.clear();
      from_mix.Convert(block.data(), block.size(), captured);
    }
    benchmark::DoNotOptimize(captured.data());
    at = bus.NowFrame();
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopbackPath);

// The ring a PortAudio callback writes and the device thread reads, in
// 512-byte steps (one callback of 44100 Hz 8-bit mono is about this size).
void BM_RingBuffer(benchmark::State& state) {
  RingBuffer ring(1 << 14);
  std::vector<uint8_t> chunk(512, 0x80), out(512);
  for (auto _ : state) {
    ring.Write(chunk.data(), chunk.size());
    benchmark::DoNotOptimize(ring.Read(out.data(), out.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * chunk.size()));
}
BENCHMARK(BM_RingBuffer);

}  // namespace

BENCHMARK_MAIN();
