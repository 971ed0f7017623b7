// Live capture: the sound input of the tone component and the steps of the
// per-buffer pipeline that TDTMF::waveInProc2 runs, in order.
//
// One 2048-byte buffer (8-bit unsigned mono at 44100 Hz, 128 = silence)
// circulates between the device and the component.  The device fills it on
// its own thread and posts MM_WIM_DATA to the capture message window; every
// step below runs on the GUI thread when that message is dispatched, so the
// buffer is never read while the device writes it.
//
// The per-buffer sequence (TDTMF::waveInProc2):
//   1   gate: flags exactly done|prepared and more than one byte recorded,
//       else nothing at all (not processed, not queued again)
//   2   StartRealTime False: straight to step 13
//   3   empty inwav, outwav and the spectrum series
//   4   samples s = byte - 128 into inwav, peak |s|; per sample the
//       random-bit step
//   5   GLVAL from the peak
//   6-8 spectrum, bin spacing, peaks and key decision
//   9-10 recording and RecordSound
//   11  GetTone
//   12  Key
//   13  the buffer is queued again
// Later modules insert their steps at the places marked in capture.cpp.
//
// This header is internal to the component (tests and benchmarks use it to
// drive the steps directly).
#pragma once

#include <cstddef>
#include <cstdint>

#include "velmora/component/tonvel.h"
#include "velmora/platform/wave.h"

namespace velmora::tonvel::capture {

// The capture format: PCM, 1 channel, 44100 Hz, 8 bits, block align 1,
// 44100 bytes per second.
platform::WAVEFORMATEX CaptureFormat();

// Opens the default input for `owner` (message window, device, a fresh
// zero-filled buffer, prepare, start, add).  Device results are not
// checked: without a device the component simply never gets a buffer.
// While another component holds the unit-level input, nothing is opened
// (two devices filling the one shared header would corrupt each other).
void OpenInput(TDTMF& owner);
// Closes the input if `owner` holds it: reset (which returns the buffer),
// unprepare, close, free the message window and the buffer.
void CloseInput(TDTMF& owner);
// The component that holds the input, or nullptr.
TDTMF* InputOwner();

// Step 1: the device has handed the buffer back with something in it.
inline bool BufferFilled(const platform::WAVEHDR& h) {
  return h.dwFlags == (platform::WHDR_DONE | platform::WHDR_PREPARED) && h.dwBytesRecorded > 1;
}

// Step 3: empties inwav.y, outwav.y, spektr.x and spektr.y (their memory is
// kept, so the steady state allocates nothing); spektr.text is kept.
void ClearResults();

// The samples of `n` capture bytes: s = byte - 128 into `y`; returns the
// largest |s|.
int32_t BytesToSamples(const uint8_t* bytes, size_t n, double* y);

// Step 4: appends s = byte - 128 of each recorded byte to inwav.y, in
// order, runs the random-bit step per sample, and returns the peak |s|
// (0..128).
int32_t TakeSamples(TDTMF& owner, const platform::WAVEHDR& h);

// Step 5: the peak as a level 0..100, round(peak * 100 / 128) with halves
// to even (16 -> 12, 48 -> 38, 127 -> 99, 128 -> 100).
int32_t PeakLevel(int32_t peak);

// Step 11: GetTone with GLVAL, gl_noise, a0, f0, when set.
void ReportTone(TDTMF& owner);

// Step 13: the buffer goes back into the input queue.
void Requeue();

}  // namespace velmora::tonvel::capture
