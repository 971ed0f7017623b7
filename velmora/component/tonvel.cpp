// TDTMF: construction, destruction, the published-property list, the
// property setters and the palette registration.

#include "velmora/component/tonvel.h"

#include "velmora/component/capture.h"
#include "velmora/component/file_analysis.h"
#include "velmora/component/key_player.h"
#include "velmora/component/recognition.h"
#include "velmora/component/recording.h"
#include "velmora/component/sine_generator.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/paths.h"
#include "velmora/host/registry.h"

namespace velmora::tonvel {

namespace {

// Live components; the unit-level string list `hex` is made by the first
// and freed with the last, so that no component frees it under another.
int g_instances = 0;

constexpr const char* kAbout = "Varkosh";

// A timer owned by `owner`: made disabled, given its interval and handler,
// then enabled.
host::TTimer* MakeTimer(TDTMF* owner, uint32_t interval_ms, host::TNotifyEvent handler) {
  auto* timer = new host::TTimer(owner);
  timer->set_Enabled(false);
  timer->set_Interval(interval_ms);
  timer->OnTimer = std::move(handler);
  timer->set_Enabled(true);
  return timer;
}

}  // namespace

TDTMF::TDTMF(host::TComponent* AOwner) : host::TComponent(AOwner) {
  fmp3dir = host::ExtractFilePath(host::ParamStr(0));
  if (hex)
    hex->Clear();
  else
    hex = new host::TStringList;
  ++g_instances;

  // The fields of FFT_point, FFT_window and GenSinus_* are written directly:
  // their unit-level copies start from the same values on their own.
  FGenSinus_Freq = 440;
  FGenSinus_Time = 100;
  FGenSinus_Pause = 0;
  FFFT_point = 2048;
  FFFT_window = dB_0;
  FTriggerOff_Threshold_Sound = 25;
  FTriggerOff_Time_ms = 2000;
  FTriggerOff_Recognize_URL = recognition::kDefaultEndpoint;
  FGenRandom_NoiseSoundCard_BufSize = 50000;
  tinrand.bits.clear();
  FAbout = kAbout;

  // The handlers capture only the component, so copying them (the timer does
  // at every tick) never allocates.
  timer_ind_ = MakeTimer(this, 100, [this](host::TObject* sender) { ind(sender); });
  FDTMF_volume = 90;
  FDTMF_duration_ms = 95;
  timer_ind2_ = MakeTimer(this, 310, [this](host::TObject* sender) { ind2(sender); });

  wcard();
}

TDTMF::~TDTMF() {
  // Whatever StartRealTime reads: a paused input is open too.
  capture::CloseInput(*this);
  if (Opened == 1) close_key_output();
  if (FGenSinus_Start) Set_Signal_Start(false);
  // Without TriggerOff and without the recognition hand-off.
  recording::FinishOnDestroy(*this);
  delete timer_ind_;
  timer_ind_ = nullptr;
  delete timer_ind2_;
  timer_ind2_ = nullptr;
  if (--g_instances == 0) {
    delete hex;
    hex = nullptr;
  }
}

// ---- property setters ---------------------------------------------------------

void TDTMF::setabout(const std::string&) {
  FAbout = kAbout;
}

void TDTMF::gen_dtmf(const std::string& v) {
  FDTMF_keys = v;
  // An empty text leaves play_keys as it is: the next tick then ends the
  // sequence.  The ticks that play the keys are the key player's (ind2).
  if (!v.empty()) play_keys = true;
}

void TDTMF::f_cntp(int32_t v) {
  FFFT_point = v;
  fcntpp = v;
}

void TDTMF::fff_noise(int32_t v) {
  f_noise = v;
  FFFT_noise = v;
}

void TDTMF::set_window(Twindow v) {
  FFFT_window = v;
  f_window = WindowCode(v);
}

void TDTMF::loadwavmp3(const std::string& v) {
  FLoadWavMp3Sharc_path = v;
  if (v.empty() || FStartRealTime) {
    FLoadWavMp3Sharc_path.clear();
    return;
  }
  // A hexadecimal list that cannot be analysed raises out of here, and the
  // path then stays set.
  file_analysis::LoadFile(*this, v);
  FLoadWavMp3Sharc_path.clear();
}

void TDTMF::Set_Signal_Freq(int32_t v) {
  FGenSinus_Freq = v;
  iSignal_Freq.store(v);
}

void TDTMF::Set_Signal_Time(int32_t v) {
  FGenSinus_Time = v;
  iSignal_Time.store(v);
}

void TDTMF::Set_Signal_Paus(int32_t v) {
  FGenSinus_Pause = v;
  iSignal_Paus.store(v);
}

void TDTMF::Set_Signal_Start(bool v) {
  FGenSinus_Start = v;
  // The generator exists once per process: a True while it runs and a False
  // while it is stopped change nothing (a second start would leave a worker
  // and a device behind).
  if (v)
    sine::Start();
  else
    sine::Stop();
}

void TDTMF::set_bits(Tbits v) {
  FGenSinus_BitsPerSample = v;
  f_bits = v == bits8 ? 8 : 16;
}

const std::string& TDTMF::GenRandom_NoiseSoundCard_Dir() const {
  return FGenRandom_NoiseSoundCard_Dir.empty() ? fmp3dir : FGenRandom_NoiseSoundCard_Dir;
}

// ---- published properties -------------------------------------------------------

const std::vector<host::PropInfo>& TDTMF::PublishedProperties() const {
  using host::BooleanProperty;
  using host::EnumProperty;
  using host::IntegerProperty;
  using host::StringProperty;
  using T = TDTMF;
  static const std::vector<host::PropInfo> props = {
      StringProperty<T>("About", &T::About, &T::set_About),
      StringProperty<T>("DTMF_keys", &T::DTMF_keys, &T::set_DTMF_keys),
      IntegerProperty<T>("DTMF_volume", &T::DTMF_volume, &T::set_DTMF_volume, 100),
      IntegerProperty<T>("DTMF_duration_ms", &T::DTMF_duration_ms, &T::set_DTMF_duration_ms, 250),
      IntegerProperty<T>("FFT_point", &T::FFT_point, &T::set_FFT_point, 2048),
      IntegerProperty<T>("FFT_noise", &T::FFT_noise, &T::set_FFT_noise, 0),
      BooleanProperty<T>("FFT_cut_minusamp", &T::FFT_cut_minusamp, &T::set_FFT_cut_minusamp, true),
      EnumProperty<T, Twindow>("FFT_window", {"dB_0", "dB_54", "dB_67", "dB_72", "dB_92"},
                               &T::FFT_window, &T::set_FFT_window),
      IntegerProperty<T>("TriggerOff_Threshold_Sound", &T::TriggerOff_Threshold_Sound,
                         &T::set_TriggerOff_Threshold_Sound, 25),
      IntegerProperty<T>("TriggerOff_Time_ms", &T::TriggerOff_Time_ms, &T::set_TriggerOff_Time_ms,
                         2000),
      BooleanProperty<T>("TriggerOff_Record_Sound", &T::TriggerOff_Record_Sound,
                         &T::set_TriggerOff_Record_Sound, false),
      BooleanProperty<T>("TriggerOff_Record_Sound_Recognize", &T::TriggerOff_Record_Sound_Recognize,
                         &T::set_TriggerOff_Record_Sound_Recognize, false),
      StringProperty<T>("TriggerOff_Recognize_URL", &T::TriggerOff_Recognize_URL,
                        &T::set_TriggerOff_Recognize_URL,
                        std::string(recognition::kDefaultEndpoint)),
      StringProperty<T>("TriggerOff_Recognize_CAFile", &T::TriggerOff_Recognize_CAFile,
                        &T::set_TriggerOff_Recognize_CAFile, std::string()),
      StringProperty<T>("LoadWavMp3Sharc_path", &T::LoadWavMp3Sharc_path,
                        &T::set_LoadWavMp3Sharc_path),
      BooleanProperty<T>("StartRealTime", &T::StartRealTime, &T::set_StartRealTime),
      IntegerProperty<T>("GenRandom_NoiseSoundCard_BufSize", &T::GenRandom_NoiseSoundCard_BufSize,
                         &T::set_GenRandom_NoiseSoundCard_BufSize, 50000),
      BooleanProperty<T>("GenRandom_NoiseSoundCard_SaveToFile",
                         &T::GenRandom_NoiseSoundCard_SaveToFile,
                         &T::set_GenRandom_NoiseSoundCard_SaveToFile, false),
      StringProperty<T>("GenRandom_NoiseSoundCard_Dir", &T::GenRandom_NoiseSoundCard_Dir,
                        &T::set_GenRandom_NoiseSoundCard_Dir),
      IntegerProperty<T>("GenSinus_Freq", &T::GenSinus_Freq, &T::set_GenSinus_Freq, 440),
      IntegerProperty<T>("GenSinus_Time", &T::GenSinus_Time, &T::set_GenSinus_Time, 100),
      IntegerProperty<T>("GenSinus_Pause", &T::GenSinus_Pause, &T::set_GenSinus_Pause, 0),
      BooleanProperty<T>("GenSinus_Start", &T::GenSinus_Start, &T::set_GenSinus_Start, false),
      EnumProperty<T, Tbits>("GenSinus_BitsPerSample", {"bits8", "bits16"},
                             &T::GenSinus_BitsPerSample, &T::set_GenSinus_BitsPerSample, bits16),
  };
  return props;
}

// ---- registration ----------------------------------------------------------------

void Register() {
  host::RegisterComponents("VELMORA-FFT", {{"TDTMF", host::FactoryOf<TDTMF>()}});
}

}  // namespace velmora::tonvel
