// velmora record [--input FILE.wav|loopback|default|none] [--fast]
//                [--seconds N] [--dir DIR] [--set Name=value]... [--json]
//                [--recognize [--url URL] [--cafile FILE]]
//
// Listens with the tone component's sound trigger: prints when it switches
// on and off, and saves each loud passage to a WAV file named after the date
// and time (unless --set TriggerOff_Record_Sound=False).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/recognize_events.h"
#include "apps/velmora/session.h"
#include "velmora/component/recognition.h"
#include "velmora/component/recording.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/host/clock.h"
#include "velmora/host/paths.h"

namespace velmora::app {
namespace {

// Sound bytes per second of a recording (8-bit mono at 44100 Hz).
constexpr double kBytesPerSecond = 44100;
constexpr int64_t kHeaderBytes = 44;

void PrintStarted(bool json, const std::string& name) {
  if (json)
    PrintLine(JsonLine().Add("event", "Recording").Add("file", name).str());
  else
    PrintLine("Recording " + name);
  std::fflush(stdout);
}

void PrintSaved(bool json, const std::string& name, int32_t sound_bytes) {
  const double seconds = sound_bytes / kBytesPerSecond;
  const int64_t size = kHeaderBytes + sound_bytes;
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "Saved")
                  .Add("file", name)
                  .Add("seconds", seconds)
                  .Add("bytes", size)
                  .str());
  } else {
    char length[32];
    std::snprintf(length, sizeof length, "%.2f", seconds);
    PrintLine("Saved " + name + ": " + length + " s, " + std::to_string(size) + " bytes");
  }
  std::fflush(stdout);
}

// With --fast the file is read faster than real time, so the trigger's
// 100 ms timer would see a fraction of the buffers: time then runs on a
// manual clock that each buffer moves on by the sound it held, and the
// trigger keeps its timing in sound time.
class SoundTime {
 public:
  explicit SoundTime(bool on) : on_(on) {
    if (!on_) return;
    clock_ = std::make_shared<host::ManualClock>();
    host::Application().SetClock(clock_);
  }
  ~SoundTime() {
    if (on_) host::Application().SetClock(nullptr);
  }
  SoundTime(const SoundTime&) = delete;
  SoundTime& operator=(const SoundTime&) = delete;

  // After a buffer of `samples` samples at 44100 Hz.
  void Heard(size_t samples) {
    if (!on_) return;
    samples_ += samples;
    const int64_t now_ms = static_cast<int64_t>(samples_ * 1000 / 44100);
    clock_->Advance(now_ms - clock_->NowMs());
  }

 private:
  bool on_;
  std::shared_ptr<host::ManualClock> clock_;
  uint64_t samples_ = 0;
};

int RunRecord(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
  const bool verbose = args.Has("--verbose");
  const std::optional<int64_t> limit = SecondsLimit(args);
  if (args.Has("--dir")) {
    const std::string dir = args.Get("--dir");
    if (!host::DirectoryExists(dir)) throw UsageError("--dir: no such directory: " + dir);
    tonvel::recording::SetDirectory(dir);
  }
  struct DirectoryReset {
    ~DirectoryReset() { tonvel::recording::SetDirectory(""); }
  } directory_reset;
  const InputSource in = ChooseInput(args);
  SoundTime sound_time(in.IsFile() && in.fast);

  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  // Recording is what the command is for: on unless --set switches it off.
  dtmf->set_TriggerOff_Record_Sound(true);
  ApplySettings(*dtmf, args);
  const bool recognize = args.Has("--recognize");
  if (recognize) {
    dtmf->set_TriggerOff_Record_Sound(true);
    dtmf->set_TriggerOff_Record_Sound_Recognize(true);
    ApplyRecognizeOptions(*dtmf, args);
    dtmf->TriggerOffGSA = [json](host::TObject*, const char* full_answer, const char* flag,
                                 const char* text, int32_t accuracy) {
      PrintRecognition(json, full_answer, flag, text, accuracy);
    };
  } else if (args.Has("--url") || args.Has("--cafile")) {
    throw UsageError("--url and --cafile go with --recognize");
  }

  // A recording has started once start_mp3 is True and is saved once it
  // falls back to False.
  bool was_recording = false;
  std::string recording_name;
  int32_t recorded = 0;
  auto watch = [&] {
    if (tonvel::start_mp3) {
      if (!was_recording || recording_name != tonvel::temp_gsa) {
        if (was_recording) PrintSaved(json, recording_name, recorded);
        was_recording = true;
        recording_name = tonvel::temp_gsa;
        PrintStarted(json, recording_name);
      }
      recorded = tonvel::n1;
    } else if (was_recording) {
      was_recording = false;
      PrintSaved(json, recording_name, tonvel::n1);
      // The hand-off ran in the same tick; it says why it sent nothing.
      if (recognize && !tonvel::recognition::LastFailure().empty())
        std::fprintf(stderr, "velmora record: %s: not recognised: %s\n", recording_name.c_str(),
                     tonvel::recognition::LastFailure().c_str());
    }
  };

  dtmf->TriggerOff = [json](host::TObject*, bool onoff) {
    if (json)
      PrintLine(JsonLine().Add("event", "TriggerOff").Add("onoff", onoff).str());
    else
      PrintLine(std::string("TriggerOff ") + (onoff ? "on" : "off"));
  };
  if (verbose) {
    dtmf->RecordSound = [json](host::TObject*, int32_t size_kb, const std::string& status) {
      if (json)
        PrintLine(JsonLine()
                      .Add("event", "RecordSound")
                      .Add("size_kb", size_kb)
                      .Add("status", status)
                      .str());
      else
        PrintLine("RecordSound " + std::to_string(size_kb) + " KB " + status);
    };
  }
  // Per buffer: the trigger's time moves on (--fast) and a recording that
  // started or was saved is reported at once.
  dtmf->GetTone = [&](host::TObject*, int32_t, double, double, double) {
    sound_time.Heard(tonvel::inwav.y.size());
    watch();
  };

  if (!ReportMissingInput("record")) return kExitFailed;
  const bool until_used_up = in.IsFile();
  const bool used_up = RunLoop(limit, [&] {
    watch();
    return until_used_up && InputUsedUp();
  });
  if (used_up) DrainMessages();
  watch();
  const bool open_at_end = tonvel::start_mp3;
  dtmf.reset();  // completes an open recording
  if (open_at_end) PrintSaved(json, recording_name, tonvel::n1);
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(record) {
  std::vector<OptionSpec> options = InputOptions();
  options.push_back(SecondsOption());
  options.push_back({"--dir", "DIR", "create the recordings in DIR (default: the current one)"});
  options.push_back({"--verbose", "", "also print the RecordSound event of every buffer"});
  options.push_back(SetOption());
  options.push_back(JsonOption());
  options.push_back({"--recognize", "",
                     "record every loud passage and send it to the speech-recognition service"});
  for (OptionSpec& o : RecognizeOptions()) options.push_back(std::move(o));
  return Command{"record",
                 "switch a sound trigger on loud sound and record each loud passage",
                 "velmora record [--input FILE.wav|loopback|default|none] [--fast] [--seconds N] "
                 "[--dir DIR] [--verbose] [--set Name=value]... [--json] [--recognize [--url URL] "
                 "[--cafile FILE]]",
                 options,
                 "Listens through the tone component's sound trigger: every 100 ms the peak level\n"
                 "of the latest buffer (0..100) is compared with TriggerOff_Threshold_Sound (25);\n"
                 "the trigger goes on at the first loud tick (\"TriggerOff on\") and off after\n"
                 "TriggerOff_Time_ms (2000) plus one tick of quiet (\"TriggerOff off\").\n"
                 "\n"
                 "Each loud passage is written to a WAV file (8-bit mono 44100 Hz) named after\n"
                 "the date and time, such as 07.12.2026_05-30-12.wav, in the current directory\n"
                 "or in --dir; a name in use gets _2, _3, ...  A line says when a recording\n"
                 "starts (\"Recording NAME\") and when it is saved (\"Saved NAME: 3.02 s,\n"
                 "133226 bytes\").  --set TriggerOff_Record_Sound=False only watches the\n"
                 "trigger; --verbose adds the RecordSound event of every buffer.\n"
                 "\n"
                 "With a WAV file as input the command ends when the file is used up; with\n"
                 "--fast the file is read as fast as it is processed and the trigger counts\n"
                 "time in sound (each buffer is 2048/44100 s).  --seconds N ends it after N\n"
                 "seconds, Ctrl-C at any time.  A recording still open then is completed.\n"
                 "Without any sound input the command says so and exits with 1.\n"
                 "\n"
                 "--recognize records every passage and hands it to speech recognition, as\n"
                 "TriggerOff_Record_Sound_Recognize does: FLAC (plugins/flac beside velmora,\n"
                 "else flac on the PATH) encodes it to NAME.flac, which is posted to --url\n"
                 "(default: TriggerOff_Recognize_URL); each reply is one TriggerOffGSA line (as\n"
                 "`velmora recognize` prints it).  When nothing could be sent (no encoder, the\n"
                 "encoder failed) a line on stderr says why.  The loop stands still while a\n"
                 "passage is encoded and sent.",
                 RunRecord};
}

}  // namespace velmora::app
