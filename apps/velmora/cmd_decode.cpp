// velmora decode FILE...|- [--json] [--min-level DB] [--max-twist DB]
//                [--min-clearance DB] [--min-duration MS] [--max-deviation PCT]
//                [--set Name=value]...
//
// The batch DTMF decoder: prints one line per key press (key, start,
// duration) of each file.  Without --set the buffers are scanned on every
// core (batch_decode.h); with --set each file is played as the microphone
// of the tone component, as fast as its buffers are processed.  The presses
// are the same either way.  Any sound file libsndfile reads; "-" is
// standard input.  A file that cannot be read is one line on stderr and,
// once the other files are decoded, exit status 2.
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/batch_decode.h"
#include "apps/velmora/command.h"
#include "apps/velmora/key_press_output.h"
#include "apps/velmora/session.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/platform/wave.h"

namespace velmora::app {
namespace {

// Decodes one file; returns "" or the reason it could not be read.
std::string DecodeOne(const Args& args, const std::string& path, const std::string& label,
                      bool json, const tonvel::KeyPressSettings& settings) {
  std::string why = platform::CheckInputFile(path);
  if (!why.empty()) return why;
  auto print = [json, &label](const tonvel::KeyPress& press) { PrintPress(json, label, press); };
  if (BatchDecodeApplies(args)) return DecodeBatch(path, settings, print);
  if (!platform::SetDefaultInput({platform::DeviceKind::FileSource, path, true}))
    return platform::LastDeviceError();
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  if (tonvel::hwi2 == nullptr) {
    why = platform::LastDeviceError();
    return why.empty() ? path + ": cannot be played" : why;
  }
  PressTracker tracker(*dtmf, settings, print);
  RunLoop(std::nullopt, [] { return InputUsedUp(); });
  // The last buffer's notification was posted before the file counted as
  // used up.
  DrainMessages();
  tracker.Finish();
  dtmf.reset();
  return "";
}

int RunDecode(const Args& args) {
  if (args.positional.empty()) throw UsageError("needs at least one file, or - (see --help)");
  const bool json = args.Has("--json");
  const tonvel::KeyPressSettings settings = PressSettingsFrom(args);
  int status = kExitOk;
  const bool several = args.positional.size() > 1;
  for (const std::string& path : args.positional) {
    // With several files each line says which; JSON lines always do.
    const std::string label = several || json ? path : "";
    std::string why = DecodeOne(args, path, label, json, settings);
    if (!why.empty()) {
      std::fprintf(stderr, "velmora decode: %s\n", why.c_str());
      status = kExitUsage;
    }
  }
  platform::ResetDeviceChoice();
  return status;
}

}  // namespace

VELMORA_COMMAND(decode) {
  std::vector<OptionSpec> options = PressOptions();
  options.push_back(SetOption());
  options.push_back(JsonOption());
  return Command{
      "decode",
      "decode the DTMF key presses in sound files (or standard input)",
      "velmora decode FILE...|- [--json] [--min-level DB] [--max-twist DB] [--min-clearance DB] "
      "[--min-duration MS] [--max-deviation PCT] [--set Name=value]...",
      options,
      "Runs each FILE (- for standard input) through the tone component's analysis,\n"
      "buffer by buffer (a file on every core; with --set through the component\n"
      "itself, as its microphone), and prints one line per key press:\n"
      "  5  at 12.345 s  for 93 ms\n"
      "the key, its start in the file and how long it lasted, to the 46.4 ms buffer\n"
      "the component analyses (with several files each line begins with the file's\n"
      "name).  --json prints {\"event\": \"Press\", \"file\": .., \"key\": \"5\", \"start\":\n"
      "12.345, \"duration_ms\": 93, \"low_level\", \"high_level\" (dB), \"low_freq\",\n"
      "\"high_freq\" (Hz)}.  Lines are flushed as they are printed.\n"
      "\n"
      "A press rests on the buffers that carry it: in each key group the strongest\n"
      "part of the buffer's spectrum within --max-deviation per cent of a keypad\n"
      "frequency, both at least --min-level dB above the buffer's noise level and\n"
      "--min-clearance dB above the rest of the spectrum, their level difference\n"
      "within --max-twist, and at least --min-duration ms in all.  Any sound file\n"
      "libsndfile reads (WAV of any encoding, FLAC, Ogg, AIFF, MP3, ...) is\n"
      "converted to the capture format (8-bit mono 44100 Hz).  A file that cannot be\n"
      "read is one line on stderr; the others are still decoded, and the exit\n"
      "status is then 2.",
      RunDecode};
}

}  // namespace velmora::app
