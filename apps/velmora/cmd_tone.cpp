// velmora tone [--seconds N] [--output FILE.wav|loopback|default|none]
//              [--set Name=value]... [--json]
//
// Runs the tone component's sine generator: GenSinus_Freq Hz for
// GenSinus_Time ms, then GenSinus_Pause ms of silence, over and over.
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/session.h"
#include "velmora/component/sine_generator.h"
#include "velmora/component/tonvel.h"

namespace velmora::app {
namespace {

int RunTone(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
  const std::optional<int64_t> limit = SecondsLimit(args);

  platform::SetDefaultInput({platform::DeviceKind::None, "", false});
  ChooseOutput(args);
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);

  dtmf->set_GenSinus_Start(true);
  const bool have_output = tonvel::sine::sine_out != nullptr;
  const platform::WAVEFORMATEX& f = tonvel::sine::sine_format;
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "Tone")
                  .Add("freq", dtmf->GenSinus_Freq())
                  .Add("time_ms", dtmf->GenSinus_Time())
                  .Add("pause_ms", dtmf->GenSinus_Pause())
                  .Add("bits", static_cast<int>(f.wBitsPerSample))
                  .Add("playing", have_output)
                  .str());
  } else {
    PrintLine("Tone " + std::to_string(dtmf->GenSinus_Freq()) + " Hz for " +
              std::to_string(dtmf->GenSinus_Time()) + " ms, pause " +
              std::to_string(dtmf->GenSinus_Pause()) + " ms, " + std::to_string(f.wBitsPerSample) +
              "-bit");
  }
  std::fflush(stdout);
  if (!have_output) {
    const std::string why = platform::LastDeviceError();
    dtmf->set_GenSinus_Start(false);
    throw WorkFailed("no sound output device is available" + (why.empty() ? "" : ": " + why));
  }
  RunLoop(limit);
  dtmf->set_GenSinus_Start(false);
  dtmf.reset();  // a file output is completed when its device closes
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(tone) {
  std::vector<OptionSpec> options = {SecondsOption(), OutputOption(), SetOption(), JsonOption()};
  return Command{"tone",
                 "play the sine generator's tone-and-pause pattern",
                 "velmora tone [--seconds N] [--output FILE.wav|loopback|default|none] "
                 "[--set Name=value]... [--json]",
                 options,
                 "Runs the tone component's sine generator on the default sound output: a\n"
                 "full-scale tone of GenSinus_Freq Hz (440) for GenSinus_Time ms (100), then\n"
                 "GenSinus_Pause ms (0) of silence, over and over, at 44100 Hz with\n"
                 "16-bit samples, or 8-bit with --set GenSinus_BitsPerSample=bits8.  Each tone\n"
                 "segment starts at phase 0.\n"
                 "\n"
                 "--seconds N stops after N seconds, Ctrl-C at any time.  --output FILE.wav\n"
                 "writes the sound to a WAV file instead.  Exits with 1 when no output device\n"
                 "can be opened.",
                 RunTone};
}

}  // namespace velmora::app
