// velmora record [--input FILE.wav|loopback|default|none] [--fast]
//                [--seconds N] [--dir DIR] [--set Name=value]... [--json]
//                [--recognize [--url URL] [--cafile FILE]]
//
// Listens with the tone component's sound trigger: prints when it switches
// on and off and the recording progress, and with
// --set TriggerOff_Record_Sound=True saves each loud passage to a WAV file
// named after the date and time.
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
#include "velmora/host/paths.h"

namespace velmora::app {
namespace {

void PrintSaved(bool json, const std::string& name, int32_t bytes) {
  if (json)
    PrintLine(JsonLine().Add("event", "Saved").Add("file", name).Add("bytes", bytes).str());
  else
    PrintLine("Saved " + name + " (" + std::to_string(bytes) + " bytes of sound)");
}

int RunRecord(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
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

  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
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

  dtmf->TriggerOff = [json](host::TObject*, bool onoff) {
    if (json)
      PrintLine(JsonLine().Add("event", "TriggerOff").Add("onoff", onoff).str());
    else
      PrintLine(std::string("TriggerOff ") + (onoff ? "on" : "off"));
  };
  // Human-readable output shows the progress when it changes; JSON shows
  // every event.
  int32_t last_kb = -1;
  std::string last_status;
  dtmf->RecordSound = [&, json](host::TObject*, int32_t size_kb, const std::string& status) {
    if (json) {
      PrintLine(JsonLine()
                    .Add("event", "RecordSound")
                    .Add("size_kb", size_kb)
                    .Add("status", status)
                    .str());
      return;
    }
    if (size_kb == last_kb && status == last_status) return;
    last_kb = size_kb;
    last_status = status;
    PrintLine("RecordSound " + std::to_string(size_kb) + " KB " + status);
  };

  // A recording is saved once start_mp3 falls back to False.
  bool was_recording = false;
  std::string recording_name;
  auto watch = [&] {
    if (tonvel::start_mp3) {
      was_recording = true;
      recording_name = tonvel::temp_gsa;
    } else if (was_recording) {
      was_recording = false;
      PrintSaved(json, recording_name, tonvel::n1);
      // The hand-off ran in the same tick; it says why it sent nothing.
      if (recognize && !tonvel::recognition::LastFailure().empty())
        std::fprintf(stderr, "velmora record: %s: not recognised: %s\n", recording_name.c_str(),
                     tonvel::recognition::LastFailure().c_str());
    }
  };

  const bool have_input = ReportMissingInput("record");
  const bool until_used_up = have_input && in.IsFile();
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
  options.push_back(SetOption());
  options.push_back(JsonOption());
  options.push_back({"--recognize", "",
                     "record every loud passage and send it to the speech-recognition service"});
  for (OptionSpec& o : RecognizeOptions()) options.push_back(std::move(o));
  return Command{"record",
                 "switch a sound trigger on loud sound and record each loud passage",
                 "velmora record [--input FILE.wav|loopback|default|none] [--fast] [--seconds N] "
                 "[--dir DIR] [--set Name=value]... [--json] [--recognize [--url URL] "
                 "[--cafile FILE]]",
                 options,
                 "Listens through the tone component's sound trigger: every 100 ms the peak level\n"
                 "of the latest buffer (0..100) is compared with TriggerOff_Threshold_Sound (25);\n"
                 "the trigger goes on at the first loud tick (\"TriggerOff on\") and off after\n"
                 "TriggerOff_Time_ms (2000) plus one tick of quiet (\"TriggerOff off\").\n"
                 "\n"
                 "With --set TriggerOff_Record_Sound=True each loud passage is written to a WAV\n"
                 "file (8-bit mono 44100 Hz) named after the date and time, such as\n"
                 "07.12.2026_05-30-12.wav, in the current directory or in --dir; a name in use\n"
                 "gets _2, _3, ...  RecordSound lines show the size recorded (\"Start record\")\n"
                 "and, while the trigger is off, that of the latest recording (\"Stop record\").\n"
                 "\n"
                 "With a WAV file as input the command ends when the file is used up (in real\n"
                 "time, so that the trigger's timing holds); --seconds N ends it after N\n"
                 "seconds, Ctrl-C at any time.  A recording still open then is completed.\n"
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
