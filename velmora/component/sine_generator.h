// The sine generator of the tone component: a tone-and-pause pattern
// (GenSinus_Freq Hz for GenSinus_Time ms, then GenSinus_Pause ms of
// silence, over and over) streamed to the default sound output from a
// worker thread, from the moment True is written to GenSinus_Start until
// False is.
//
// Three blocks of 100 ms (4410 samples) rotate through the device; the
// device signals an auto-reset event when it opens and whenever it finishes
// a block, and the worker then refills and queues again every block the
// device has handed back (one signal may stand for several finished
// blocks).  The worker waits for the event in 200 ms steps, so it notices a
// stop request within 200 ms even without a device.
//
// Threads: the GUI thread starts and stops the generator and writes the
// unit-level copies iSignal_Freq/Time/Paus (atomics); the worker owns the
// pattern state and the blocks while it runs.  Stopping joins the worker
// before the device is reset and closed, and unprepares every header before
// the close, so a restart prepares them afresh for its new device.
//
// Sample width (f_bits at the start): 16 gives signed 16-bit samples at full
// scale (32767), blocks of 8820 bytes, 88200 bytes per second; 8 gives
// unsigned 8-bit samples around 128 (amplitude 127), blocks of 4410 bytes,
// 44100 bytes per second, block align 1.
//
// The pattern state lives once per process and is not reset by a stop or a
// start: a restarted generator goes on with the segment in progress.
//
// This header is internal to the component (tests and benchmarks fill
// blocks directly).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "velmora/platform/event.h"
#include "velmora/platform/wave.h"

namespace velmora::tonvel::sine {

constexpr int kBlockCount = 3;
// Samples per block: 100 ms at 44100 Hz.
constexpr int kBlockSamples = 4410;
constexpr int32_t kRate = 44100;
// GenSinus_Time and GenSinus_Pause are taken within 0..48695 ms, the
// longest span whose sample count (ms * 44100) fits 32-bit arithmetic.
constexpr int32_t kMaxSegmentMs = 48695;
// The worker's longest wait for the device's event.
constexpr uint32_t kPollMs = 200;

// ---- state (the worker's while it runs; the GUI thread's otherwise) --------

extern platform::HWAVEOUT sine_out;
extern platform::WAVEFORMATEX sine_format;
// The sample blocks.  With 8-bit samples each block's first 4410 bytes hold
// them.
extern std::array<std::array<int16_t, kBlockSamples>, kBlockCount> sine_block;
extern std::array<platform::WAVEHDR, kBlockCount> sine_hdr;
// The header the worker handled last.
extern platform::WAVEHDR* sine_cur;
extern platform::HEVENT sine_event;
extern std::atomic<bool> sine_stop;
// The current segment: a tone (true) or a pause, the samples left in it,
// the tone's phase and its increment per sample (radians).
extern bool sine_on;
extern int32_t sine_left;
extern double sine_phase;
extern double sine_step;

// ---- operations ---------------------------------------------------------------

// Starts the generator with the current f_bits: the event, the default
// output device (notification through the event) and the worker.  Nothing
// happens while it already runs.
void Start();
// Stops it: the worker is asked to end and joined, then the device is reset,
// every header unprepared and the device closed.  Nothing happens while it
// is stopped.
void Stop();
bool Running();

// The output format for a sample width of 8 or 16 bits.
platform::WAVEFORMATEX SineFormat(uint8_t bits);
// The width the blocks are filled with: that of the running generator, or
// of the latest start.  Tests set it to fill blocks without a device.
uint8_t BlockBits();
void SetBlockBits(uint8_t bits);

// Fills block `index` (0..2) from the pattern state: tone samples while a
// tone segment lasts, zeros (8-bit: 128) while a pause lasts, switching
// segments as they end and reading the iSignal_* copies when one begins.
// A segment that ends exactly with the block switches before it returns.  A
// pattern whose tone and pause both last no sample fills silence.
void fill_sine_block(int index);

// The worker's routine; returns 0.
int sine_thread();

// Back to the state of a freshly loaded library (no segment in progress).
// For tests and benchmarks; the generator must be stopped.
void ResetPattern();

}  // namespace velmora::tonvel::sine
