// The sound trigger and the recorder behind it.
//
// Every tick of the 100 ms timer (TDTMF::ind) compares the peak level
// GLVAL of the latest capture buffer with TriggerOff_Threshold_Sound: the
// trigger switches on at the first loud tick (GLVAL at or above the
// threshold) and off on the tick on which the count of consecutive quiet
// ticks passes L = TriggerOff_Time_ms div 100, i.e. after L + 1 quiet ticks.
// Each switch raises TriggerOff.
//
// With TriggerOff_Record_Sound set (and processing on), switching on opens
// a file named after the date and time; the capture pipeline appends every
// buffer it processes while the trigger is on (step 9), and switching off
// completes the file as a WAV file (44-byte header, 8-bit unsigned mono
// 44100 Hz samples).  While the recording runs the file holds the raw
// samples only.
//
// States (start, start_mp3):
//   Quiet      (false, false)  no sound, no file
//   Triggered  (true,  false)  sound, no recording
//   Recording  (true,  true)   sound, the file receives the buffers
//   Left open  (false, true)   released while recording was switched off;
//                              the next loud tick goes on with the same file
// Destruction completes an open file without TriggerOff.
//
// Everything here runs on the GUI thread (timer and capture handlers never
// overlap), so the unit-level recording state needs no lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "velmora/component/tonvel.h"
#include "velmora/host/datetime.h"
#include "velmora/platform/wave.h"

namespace velmora::tonvel {

// Completes the open recording: fills WaveHeader for n1 sample bytes,
// closes StreamWAV and rewrites the file temp_gsa as the header followed by
// the samples it holds.  Raises the file's failure (EFOpenError, ...) when
// the file cannot be read back or rewritten; StreamWAV is closed either way.
void finish_recording();

namespace recording {

// The interval of the trigger's timer in milliseconds.
constexpr int32_t kTickMs = 100;

// L: the trigger goes off on the tick on which the count of quiet ticks
// becomes greater than this (a signed division truncating toward zero, so
// 0..99 ms give 0: off on the first quiet tick).
constexpr int32_t ReleaseLimit(int32_t time_ms) {
  return time_ms / kTickMs;
}

// The 44 header bytes of a recording of `n` sample bytes: RIFF size n + 36,
// "fmt " chunk of 16 bytes (PCM, 1 channel, 44100 Hz, 44100 bytes per
// second, block align 1, 8 bits), data size n; little-endian.
std::array<uint8_t, 44> MakeWaveHeader(uint32_t n);

// "dd.mm.yyyy" of `date` followed by "_hh-mm-ss" of `time` and ".wav", as
// 07.12.2026_05-30-12.wav.
std::string RecordingName(host::TDateTime date, host::TDateTime time);

// `path` when no file of that name exists; otherwise the first of
// "<stem>_2.wav", "<stem>_3.wav", ... that does not exist (the suffix goes
// before the extension), so a recording never overwrites another.
std::string UniqueFileName(const std::string& path);

// The directory in which recordings are created; empty (the default) is the
// process's current directory, where the names stay relative.
void SetDirectory(const std::string& directory);
const std::string& Directory();

// The trigger tick, run by ind after DataOsc and Spektra.  A recording file
// that cannot be created raises its EFCreateError out of the tick before
// start and start_mp3 change (the next loud tick tries again).  A recording
// that cannot be completed raises too, and the recorder is Quiet afterwards.
void TriggerTick(TDTMF& owner);

// Step 9 of the pipeline: while the trigger is on, recording is enabled and
// a file is open, the buffer's recorded bytes are appended to StreamWAV, n1
// grows by what was written, and RecordSound reports "Start record" with
// round(n1 / 1024).
void AppendBuffer(TDTMF& owner, const platform::WAVEHDR& buffer);

// Step 10: while the trigger is off and recording is enabled, RecordSound
// reports "Stop record" with the size of the latest recording.
void ReportStopped(TDTMF& owner);

// Destruction: an open recording is completed (start and start_mp3
// cleared first), without TriggerOff and without the recognition hand-off.
// A failure goes to Application().OnException; the destructor goes on.
void FinishOnDestroy(TDTMF& owner);

}  // namespace recording

}  // namespace velmora::tonvel
