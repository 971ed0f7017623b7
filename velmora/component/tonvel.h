// TDTMF: the tone component.  Created on a form or in code, it opens the
// default sound input at once and processes every captured buffer; its
// published properties configure it and its eight events deliver every
// result, always on the GUI thread that created it.
//
// One instance per process: the working state is unit-level (unit_state.h).
// A second instance shares that state; it opens no second input while the
// first holds one (see capture.h).
//
// Work is spread over one file per concern; this header is the class:
//   tonvel.cpp     properties, construction, destruction, registration
//   capture.cpp    wcard, waveInProc2: the sound input and the per-buffer
//                  pipeline
//   ticks.cpp      ind and ind2: the 100 ms and 310 ms timer handlers
//   spectrum.cpp   calc_spektr, fft and the peaks of FFTDTMF
//   keys.cpp       the key decision and summary line, FFTDTMF
//   file_analysis.cpp, wav_reader.cpp, hex_list.cpp
//                  loadwavmp3: WAV, MP3 and hexadecimal sample lists
//   key_player.cpp gen_dtmf's sequence, synth_tones, play_samples
//   sine_generator.cpp
//                  the tone-and-pause generator and its worker thread
//   recording.cpp  the sound trigger and WAV recordings
//   recognition.cpp, recognition_request.cpp
//                  the FLAC encoder, the recognition request and its reply,
//                  recognize_flac and the hand-off of each recording
//   noise_random.cpp
//                  random bits from the input's noise, calc_stat
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "velmora/component/series.h"
#include "velmora/host/application.h"
#include "velmora/host/classes.h"
#include "velmora/host/properties.h"
#include "velmora/host/timer.h"

namespace velmora::tonvel {

// ---- event types ------------------------------------------------------------

// After each processed buffer (and after a file analysis): the peak level
// 0..100, the noise level and the strongest tone.
using TGetTone = std::function<void(host::TObject* Sender, int32_t asum, double noise_level,
                                    double a0, double f0)>;
// A recognised key with its two levels and frequencies.
using TKeys = std::function<void(host::TObject* Sender, const std::string& key, double a1,
                                 double a2, double f1, double f2)>;
// The spectrum of the latest buffer, every 100 ms.
using TSpektr =
    std::function<void(host::TObject* Sender, const TXYSeries& series, double noise_level)>;
// The samples of the latest buffer, every 100 ms.
using TDataOsc = std::function<void(host::TObject* Sender, const TYSeries& series)>;
// Recording progress: size in KB and "Start record" / "Stop record".
using TRecordSound =
    std::function<void(host::TObject* Sender, int32_t size_kb, const std::string& status)>;
// The sound trigger switched on (true) or off (false).
using TTriggerOff = std::function<void(host::TObject* Sender, bool onoff)>;
// A parsed recognition reply; the texts are valid during the call only.
using TTriggerOffGSA = std::function<void(host::TObject* Sender, const char* full_answer_google,
                                          const char* recognize_flag, const char* recognize_text,
                                          int32_t recognize_accuracy)>;
// A completed block of random bits with its statistics lines.
using TGenRandom_NoiseSoundCard =
    std::function<void(host::TObject* Sender, const std::string& sa, const std::string& dispers_sm,
                       const std::string& disters_ne, const std::string& koef_asim,
                       const std::string& pic, const std::string& crit_serial_correlation,
                       const std::string& raspred, const TBSeries& series)>;

// ---- the component ------------------------------------------------------------

class TDTMF : public host::TComponent {
 public:
  // Sets the defaults, records the executable's directory, starts the
  // 100 ms and 310 ms timers and opens the sound input (StartRealTime then
  // reads True).  Never fails on account of the sound card.
  explicit TDTMF(host::TComponent* AOwner);
  // Closes the sound input, stops the outputs, completes an open recording
  // and frees the timers.
  ~TDTMF() override;

  std::string ClassName() const override { return "TDTMF"; }
  // The 23 published properties in declaration order.
  const std::vector<host::PropInfo>& PublishedProperties() const override;

  // ---- published properties (getter Name(), setter set_Name(v))
  const std::string& About() const { return FAbout; }
  void set_About(const std::string& v) { setabout(v); }
  const std::string& DTMF_keys() const { return FDTMF_keys; }
  void set_DTMF_keys(const std::string& v) { gen_dtmf(v); }
  int32_t DTMF_volume() const { return FDTMF_volume; }
  void set_DTMF_volume(int32_t v) { FDTMF_volume = v; }
  int32_t DTMF_duration_ms() const { return FDTMF_duration_ms; }
  void set_DTMF_duration_ms(int32_t v) { FDTMF_duration_ms = v; }
  int32_t FFT_point() const { return FFFT_point; }
  void set_FFT_point(int32_t v) { f_cntp(v); }
  int32_t FFT_noise() const { return FFFT_noise; }
  void set_FFT_noise(int32_t v) { fff_noise(v); }
  bool FFT_cut_minusamp() const { return FFFT_cut_minusamp; }
  void set_FFT_cut_minusamp(bool v) { FFFT_cut_minusamp = v; }
  Twindow FFT_window() const { return FFFT_window; }
  void set_FFT_window(Twindow v) { set_window(v); }
  int32_t TriggerOff_Threshold_Sound() const { return FTriggerOff_Threshold_Sound; }
  void set_TriggerOff_Threshold_Sound(int32_t v) { FTriggerOff_Threshold_Sound = v; }
  int32_t TriggerOff_Time_ms() const { return FTriggerOff_Time_ms; }
  void set_TriggerOff_Time_ms(int32_t v) { FTriggerOff_Time_ms = v; }
  bool TriggerOff_Record_Sound() const { return FTriggerOff_Record_Sound; }
  void set_TriggerOff_Record_Sound(bool v) { FTriggerOff_Record_Sound = v; }
  bool TriggerOff_Record_Sound_Recognize() const { return FTriggerOff_Record_Sound_Recognize; }
  void set_TriggerOff_Record_Sound_Recognize(bool v) { FTriggerOff_Record_Sound_Recognize = v; }
  // The recognition service's URL (https or http); the default is the
  // public service with the Russian-language path and query.
  const std::string& TriggerOff_Recognize_URL() const { return FTriggerOff_Recognize_URL; }
  void set_TriggerOff_Recognize_URL(const std::string& v) { FTriggerOff_Recognize_URL = v; }
  // The authorities an https service's certificate must be signed by (a PEM
  // file); empty, the default, is the system's trusted authorities.
  const std::string& TriggerOff_Recognize_CAFile() const { return FTriggerOff_Recognize_CAFile; }
  void set_TriggerOff_Recognize_CAFile(const std::string& v) { FTriggerOff_Recognize_CAFile = v; }
  const std::string& LoadWavMp3Sharc_path() const { return FLoadWavMp3Sharc_path; }
  void set_LoadWavMp3Sharc_path(const std::string& v) { loadwavmp3(v); }
  // The processing switch that each capture buffer consults; writing it
  // neither opens nor closes the input.
  bool StartRealTime() const { return FStartRealTime; }
  void set_StartRealTime(bool v) { FStartRealTime = v; }
  int32_t GenRandom_NoiseSoundCard_BufSize() const { return FGenRandom_NoiseSoundCard_BufSize; }
  void set_GenRandom_NoiseSoundCard_BufSize(int32_t v) { FGenRandom_NoiseSoundCard_BufSize = v; }
  bool GenRandom_NoiseSoundCard_SaveToFile() const { return FGenRandom_NoiseSoundCard_SaveToFile; }
  void set_GenRandom_NoiseSoundCard_SaveToFile(bool v) { FGenRandom_NoiseSoundCard_SaveToFile = v; }
  // The directory of the bits file "test.dat": the executable's directory
  // (fmp3dir) until a directory is written; writing "" returns to it.
  const std::string& GenRandom_NoiseSoundCard_Dir() const;
  void set_GenRandom_NoiseSoundCard_Dir(const std::string& v) { FGenRandom_NoiseSoundCard_Dir = v; }
  int32_t GenSinus_Freq() const { return FGenSinus_Freq; }
  void set_GenSinus_Freq(int32_t v) { Set_Signal_Freq(v); }
  int32_t GenSinus_Time() const { return FGenSinus_Time; }
  void set_GenSinus_Time(int32_t v) { Set_Signal_Time(v); }
  int32_t GenSinus_Pause() const { return FGenSinus_Pause; }
  void set_GenSinus_Pause(int32_t v) { Set_Signal_Paus(v); }
  bool GenSinus_Start() const { return FGenSinus_Start; }
  void set_GenSinus_Start(bool v) { Set_Signal_Start(v); }
  Tbits GenSinus_BitsPerSample() const { return FGenSinus_BitsPerSample; }
  void set_GenSinus_BitsPerSample(Tbits v) { set_bits(v); }

  // ---- events (called only when set, on the GUI thread)
  TGetTone GetTone;
  TKeys Key;
  TSpektr Spektra;
  TDataOsc DataOsc;
  TRecordSound RecordSound;
  TTriggerOff TriggerOff;
  TTriggerOffGSA TriggerOffGSA;
  TGenRandom_NoiseSoundCard GenRandom_NoiseSoundCard_Data;

  // ---- capture (capture.cpp)
  // Toggles the input: inverts StartRealTime, then opens the input when it
  // became True and closes it otherwise.  Failures are swallowed.
  void wcard();
  // The window procedure of the capture message window and the handler of
  // MM_WIM_DATA (0x3C0): processes the returned buffer and queues it again.
  void waveInProc2(host::TMessage& Msg);
  // The component's message dispatch: MM_WIM_DATA goes to waveInProc2; every
  // other message is ignored.
  void Dispatch(host::TMessage& Msg);

  // ---- spectrum and keys (spectrum.cpp, keys.cpp)
  // Over the levels in outwav.y, bins `step` Hz apart: the spectrum series,
  // the peaks, the strongest tone and the noise level, then the key decision
  // (signal) and the summary line (spektr.text).
  void FFTDTMF(double step);

  // ---- timer handlers (ticks.cpp)
  // Every 100 ms: DataOsc and Spektra with the latest results.
  void ind(host::TObject* Sender);
  // Every 310 ms: the next queued key.
  void ind2(host::TObject* Sender);

  // ---- speech recognition (recognition_request.cpp)
  // Posts the named file to TriggerOff_Recognize_URL and raises
  // TriggerOffGSA with the parsed reply (also when no reply came).  A file
  // that cannot be opened for reading raises EFOpenError, without a request
  // or an event.
  void recognize_flac(const char* FileName);

  // ---- property setters with their own names
  void setabout(const std::string& v);
  void gen_dtmf(const std::string& v);
  void f_cntp(int32_t v);
  void fff_noise(int32_t v);
  void set_window(Twindow v);
  void loadwavmp3(const std::string& v);
  void Set_Signal_Freq(int32_t v);
  void Set_Signal_Time(int32_t v);
  void Set_Signal_Paus(int32_t v);
  void Set_Signal_Start(bool v);
  void set_bits(Tbits v);

 private:
  // Property fields.
  std::string FAbout;
  std::string FDTMF_keys;
  int32_t FDTMF_volume = 0;
  int32_t FDTMF_duration_ms = 0;
  int32_t FFFT_point = 0;
  int32_t FFFT_noise = 0;
  bool FFFT_cut_minusamp = false;
  Twindow FFFT_window = dB_0;
  int32_t FTriggerOff_Threshold_Sound = 0;
  int32_t FTriggerOff_Time_ms = 0;
  bool FTriggerOff_Record_Sound = false;
  bool FTriggerOff_Record_Sound_Recognize = false;
  std::string FTriggerOff_Recognize_URL;
  std::string FTriggerOff_Recognize_CAFile;
  std::string FLoadWavMp3Sharc_path;
  bool FStartRealTime = false;
  int32_t FGenRandom_NoiseSoundCard_BufSize = 0;
  bool FGenRandom_NoiseSoundCard_SaveToFile = false;
  std::string FGenRandom_NoiseSoundCard_Dir;
  int32_t FGenSinus_Freq = 0;
  int32_t FGenSinus_Time = 0;
  int32_t FGenSinus_Pause = 0;
  bool FGenSinus_Start = false;
  Tbits FGenSinus_BitsPerSample = bits8;

  // A key sequence is waiting to be played (set by gen_dtmf, cleared by the
  // key player).
  bool play_keys = false;

  // The 100 ms timer (handler ind) and the 310 ms timer (handler ind2),
  // owned by the component.
  host::TTimer* timer_ind_ = nullptr;
  host::TTimer* timer_ind2_ = nullptr;
};

// Registers TDTMF on the palette page "VELMORA-FFT" (and so with the class
// registry, from which a form stream creates it by class name).
void Register();

}  // namespace velmora::tonvel
