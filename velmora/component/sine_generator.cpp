// The sine generator: its worker thread, the block rotation and the
// pattern of tone and pause segments.

#include "velmora/component/sine_generator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::tonvel {

namespace sine {

platform::HWAVEOUT sine_out = nullptr;
platform::WAVEFORMATEX sine_format{};
std::array<std::array<int16_t, kBlockSamples>, kBlockCount> sine_block{};
std::array<platform::WAVEHDR, kBlockCount> sine_hdr{};
platform::WAVEHDR* sine_cur = nullptr;
platform::HEVENT sine_event = nullptr;
std::atomic<bool> sine_stop{false};
bool sine_on = false;
int32_t sine_left = 0;
double sine_phase = 0;
double sine_step = 0;

namespace {

constexpr uint32_t kHeaderSize = sizeof(platform::WAVEHDR);
constexpr double kFullScale16 = 32767;
constexpr double kFullScale8 = 127;
constexpr uint8_t kMidpoint8 = 128;

std::thread g_worker;
bool g_running = false;  // GUI thread only
// Set before the worker starts and read by it only while it runs.
uint8_t g_bits = 16;

// A segment length in samples: the copy's milliseconds within the bounds,
// times 44100 div 1000 (100 ms give 4410 samples, 1 ms gives 44).
int32_t SegmentSamples(const std::atomic<int32_t>& ms) {
  const int32_t bounded = std::clamp(ms.load(std::memory_order_relaxed), 0, kMaxSegmentMs);
  return bounded * kRate / 1000;
}

// Starts the next segment of the pattern; returns its length.
int32_t NextSegment() {
  sine_on = !sine_on;
  if (sine_on) {
    sine_phase = 0;
    sine_step = iSignal_Freq.load(std::memory_order_relaxed) / static_cast<double>(kRate) * 2 *
                std::numbers::pi;
    sine_left = SegmentSamples(iSignal_Time);
  } else {
    sine_left = SegmentSamples(iSignal_Paus);
  }
  return sine_left;
}

}  // namespace

platform::WAVEFORMATEX SineFormat(uint8_t bits) {
  platform::WAVEFORMATEX f{};
  f.wFormatTag = platform::WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = kRate;
  f.wBitsPerSample = bits == 8 ? 8 : 16;
  f.nBlockAlign = static_cast<uint16_t>(f.wBitsPerSample / 8 * f.nChannels);
  f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
  f.cbSize = 0;
  return f;
}

uint8_t BlockBits() {
  return g_bits;
}

void SetBlockBits(uint8_t bits) {
  g_bits = bits == 8 ? 8 : 16;
}

void fill_sine_block(int index) {
  int16_t* samples16 = sine_block[static_cast<size_t>(index)].data();
  // Character access to the same storage: 8-bit samples use its first bytes.
  auto* samples8 = reinterpret_cast<uint8_t*>(samples16);
  const bool wide = g_bits != 8;
  int j = 0;
  int empty_segments = 0;
  for (;;) {
    while (sine_left > 0 && j < kBlockSamples) {
      if (wide) {
        samples16[j] =
            sine_on ? static_cast<int16_t>(std::nearbyint(std::sin(sine_phase) * kFullScale16))
                    : int16_t{0};
      } else {
        samples8[j] = sine_on ? static_cast<uint8_t>(
                                    kMidpoint8 + std::nearbyint(std::sin(sine_phase) * kFullScale8))
                              : kMidpoint8;
      }
      if (sine_on) sine_phase += sine_step;
      ++j;
      --sine_left;
    }
    if (sine_left > 0) return;  // the block is full
    if (NextSegment() > 0) {
      empty_segments = 0;
    } else if (++empty_segments >= 2) {
      // Neither a tone nor a pause lasts a sample: silence instead of
      // switching for ever.  The next block looks at the copies again.
      for (; j < kBlockSamples; ++j) {
        if (wide)
          samples16[j] = 0;
        else
          samples8[j] = kMidpoint8;
      }
      return;
    }
  }
}

int sine_thread() {
  int i = 0;
  while (!sine_stop.load()) {
    const uint32_t woke = platform::WaitForSingleObject(sine_event, kPollMs);
    if (woke == platform::WAIT_TIMEOUT) continue;
    if (woke != platform::WAIT_OBJECT_0) {
      // No event to wait for: poll the stop request at the same pace.
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      continue;
    }
    // Blocks come back in the order they were queued, so the free ones
    // follow the last one queued.  Preparing a header is refused while the
    // device holds it; a free header is (re)prepared, which also covers the
    // first signal, when none is prepared yet.  Asking the device rather than
    // reading the flags keeps the device thread's writes to them ordered.
    for (int k = 0; k < kBlockCount && !sine_stop.load(); ++k) {
      const int next = (i + 1) % kBlockCount;
      platform::WAVEHDR& h = sine_hdr[static_cast<size_t>(next)];
      if (platform::waveOutPrepareHeader(sine_out, &h, kHeaderSize) != platform::MMSYSERR_NOERROR)
        break;
      fill_sine_block(next);
      sine_cur = &h;
      (void)platform::waveOutWrite(sine_out, &h, kHeaderSize);
      i = next;
    }
  }
  return 0;
}

void Start() {
  if (g_running) return;
  sine_stop.store(false);
  SetBlockBits(f_bits);
  sine_format = SineFormat(g_bits);
  const uint32_t block_bytes = kBlockSamples * sine_format.nBlockAlign;
  for (int b = 0; b < kBlockCount; ++b) {
    platform::WAVEHDR& h = sine_hdr[static_cast<size_t>(b)];
    h = platform::WAVEHDR{};
    h.lpData = reinterpret_cast<char*>(sine_block[static_cast<size_t>(b)].data());
    h.dwBufferLength = block_bytes;
  }
  sine_cur = nullptr;
  sine_event = platform::CreateEvent(false, false);
  // The device is opened before the worker starts, so the worker sees its
  // handle; the open's signal waits in the event until the worker looks.
  sine_out = nullptr;
  if (platform::waveOutOpen(&sine_out, platform::WAVE_MAPPER, &sine_format,
                            reinterpret_cast<uintptr_t>(sine_event), 0,
                            platform::CALLBACK_EVENT) != platform::MMSYSERR_NOERROR)
    sine_out = nullptr;
  g_worker = std::thread(sine_thread);
  g_running = true;
}

void Stop() {
  if (!g_running) return;
  sine_stop.store(true);
  // Wakes the worker now rather than at the end of its current wait.
  (void)platform::SetEvent(sine_event);
  if (g_worker.joinable()) g_worker.join();
  (void)platform::CloseHandle(sine_event);
  sine_event = nullptr;
  if (sine_out) {
    (void)platform::waveOutReset(sine_out);
    for (platform::WAVEHDR& h : sine_hdr)
      (void)platform::waveOutUnprepareHeader(sine_out, &h, kHeaderSize);
    (void)platform::waveOutClose(sine_out);
  }
  for (platform::WAVEHDR& h : sine_hdr) h.dwFlags = 0;
  sine_out = nullptr;
  g_running = false;
}

bool Running() {
  return g_running;
}

void ResetPattern() {
  sine_on = false;
  sine_left = 0;
  sine_phase = 0;
  sine_step = 0;
}

}  // namespace sine

}  // namespace velmora::tonvel
