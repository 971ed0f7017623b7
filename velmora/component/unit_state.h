// The unit-level state of the tone component: everything that capture,
// analysis, recording, tone output and the random generator share, held
// once per process under its exported names.
//
// The component is built for one instance per process: all its working
// state lives here, not in the object.  Everything is touched on the GUI
// thread only, except the sine generator's copies (iSignal_*), which its
// worker thread reads and which are therefore atomic.
//
// Each module writes the variables of its own concern and reads the others';
// the comment beside each group names the writer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmora/component/series.h"
#include "velmora/host/application.h"
#include "velmora/host/streams.h"
#include "velmora/host/string_list.h"
#include "velmora/platform/wave.h"

namespace velmora::tonvel {

// ---- component (constructor, destructor) ----------------------------------

// The directory of the host executable, with its trailing delimiter; set by
// every constructor.
extern std::string fmp3dir;
// The lines of the latest hexadecimal sample list; made by the constructor,
// freed when the last component goes.
extern host::TStringList* hex;

// ---- capture (capture module) ---------------------------------------------

// The capture format: PCM, mono, 44100 Hz, 8 bits (set when the input opens).
extern platform::WAVEFORMATEX header;
// The header of the one capture buffer (set when the input opens).
extern platform::WAVEHDR adr2;
// The open sound input (nullptr when none is open or the open failed).
extern platform::HWAVEIN hwi2;
// The capture message window (0 when the input is closed).
extern host::HWND fwnd;
// Capture buffer length in sample frames; never changed.
extern int32_t bufsize;
// Peak level 0..100 of the latest processed buffer.
extern int32_t GLVAL;
// The samples of the latest buffer (s = byte - 128), or of an analysed file.
extern TYSeries inwav;

// ---- spectrum and key decision (spectrum and keys modules) -----------------

// The requested transform size (FFT_point).
extern int32_t fcntpp;
// The window code 1..5 (FFT_window); 5 is the rectangular window.
extern uint16_t f_window;
// Decibels subtracted from every bin (FFT_noise).
extern int32_t f_noise;
// The dB level of each bin of the latest spectrum.
extern TYSeries outwav;
// The spectrum series and the summary line handed to Spektra.
extern TXYSeries spektr;
// Strongest tone (a0 at f0), strongest and second value (a1 at f1, a2 at
// f2); levels in dB, frequencies in Hz.
extern double a0, a1, a2, f0, f1, f2;
// The recognised key character, or empty.
extern std::string signal;
// The noise level of the latest spectrum, in dB.
extern double gl_noise;
// Row (low group) and column (high group) frequency in Hz of each key, in
// the order of the key characters "1234567890*#abcd" (index 0 is key "1").
// Some values differ from the nominal DTMF frequencies on purpose.
extern const std::array<int32_t, 16> DTMF1;
extern const std::array<int32_t, 16> DTMF2;

// ---- noise random generator (noise random module) -------------------------

// The bits of the block in progress.
extern TBSeries tinrand;
// Running sums of the block: s, s^2, s^3 (latest), s^3, s^4, serial
// products, the previous sample and the block's first sample.
extern double s_a, s_b, s_w, s_c, s_d, s_p, s_pred, s_pred0;
// The statistics lines of the latest completed block.
extern TStat stat;

// ---- sound-activated recording (recording module) --------------------------

// The open recording file, receiving raw sample bytes (null when none).
extern std::unique_ptr<host::TFileStream> StreamWAV;
// The 44-byte WAV header of the latest completed recording.
extern std::array<uint8_t, 44> WaveHeader;
// Sample bytes written to the current (or latest) recording.
extern int32_t n1;
// Name of the current (or latest) recording file.
extern std::string temp_gsa;
// The sound trigger is on / a recording file is open.
extern bool start;
extern bool start_mp3;
// Consecutive quiet ticks.
extern int32_t gl_start;

// ---- tone output (key player and sine generator modules) -------------------

// The key output device and the one buffer of the latest key.
extern platform::HWAVEOUT waveOut;
extern platform::WAVEHDR outHdr;
extern platform::WAVEFORMATEX header2;
// The memory block holding the latest key's samples, and its address.
extern std::vector<uint8_t> pBuf;
extern uint8_t* pBuffer;
// 1 while the key output device is open.
extern uint8_t Opened;
// 1-based position in DTMF_keys of the key of the latest tick; 0 when idle.
extern int32_t gl_key;
// The sine generator's copies of GenSinus_Freq (Hz), GenSinus_Time and
// GenSinus_Pause (ms); its worker thread reads them.
extern std::atomic<int32_t> iSignal_Freq;
extern std::atomic<int32_t> iSignal_Time;
extern std::atomic<int32_t> iSignal_Paus;
// Sample width of the sine output, 8 or 16; 16 until GenSinus_BitsPerSample
// is written.
extern uint8_t f_bits;

// ---- offline analysis (file analysis module) -------------------------------

// The samples of the latest hexadecimal list, the number of demodulated
// blocks, their results and the list's spectrum levels.  Empty until the
// first list is analysed; the analysis sizes them.
extern std::vector<double> dim;
extern int32_t quad;
extern std::vector<long double> qcos;
extern std::vector<long double> qsin;
extern std::vector<long double> bpf;

// Unit start-up and shut-down.  Start-up does no work of its own; the last
// Finalize releases the unit-level arrays and strings (inwav, outwav,
// tinrand, spektr, temp_gsa, fmp3dir, stat, signal), after stopping a sine
// generator still running.  Counted: the package
// calls them once each, and a host may call them in pairs.
namespace unit_tonvel {
void Initialize();
void Finalize();
}  // namespace unit_tonvel

}  // namespace velmora::tonvel
