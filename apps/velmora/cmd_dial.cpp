// velmora dial KEYS [--output FILE.wav|loopback|default|none]
//                   [--set Name=value]... [--json]
//
// Plays a DTMF key sequence through the tone component's key player, one
// key per 310 ms tick, and prints each key as it is dialled.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/property_table.h"
#include "apps/velmora/session.h"
#include "velmora/component/key_player.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"

namespace velmora::app {
namespace {

// After the tick that ends the sequence, the last burst has played for
// 310 ms; a longer burst needs the rest, and the device's own latency a
// little more.
constexpr int64_t kTickMs = 310;
constexpr int64_t kLatencyMs = 150;

int RunDial(const Args& args) {
  if (args.positional.size() != 1)
    throw UsageError("needs one argument, the keys to dial (for example 123#)");
  const std::string keys = args.positional[0];
  if (keys.empty()) throw UsageError("the keys to dial are empty");
  // The same characters as --set DTMF_keys: anything else is refused rather
  // than dialled as a silent tick.
  if (const PropertyRow* row = FindPropertyRow("DTMF_keys"))
    for (char c : keys)
      if (std::string_view(row->charset).find(c) == std::string_view::npos)
        throw UsageError(std::string("\"") + c + "\" is no key (" + row->accepted + ")");
  const bool json = args.Has("--json");

  // The dialler listens to nothing.
  platform::SetDefaultInput({platform::DeviceKind::None, "", false});
  ChooseOutput(args);
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);

  int dialled = 0;
  int unplayed = 0;
  tonvel::key_player::SetKeyPlayedHook(
      [&](char key, int32_t f_low, int32_t f_high, size_t samples) {
        const bool sounding = tonvel::Opened == 1;
        if (sounding)
          ++dialled;
        else
          ++unplayed;
        if (json) {
          PrintLine(JsonLine()
                        .Add("event", "Dial")
                        .Add("key", std::string(1, key))
                        .Add("f1", f_low)
                        .Add("f2", f_high)
                        .Add("samples", static_cast<int64_t>(samples))
                        .Add("played", sounding)
                        .str());
        } else {
          PrintLine("Dial " + std::string(1, key) + " " + std::to_string(f_low) + "+" +
                    std::to_string(f_high) + " Hz" + (sounding ? "" : " (no output device)"));
        }
        std::fflush(stdout);
      });
  struct HookReset {
    ~HookReset() { tonvel::key_player::SetKeyPlayedHook(nullptr); }
  } hook_reset;

  dtmf->set_DTMF_keys(keys);
  // The sequence has ended once the tick after its last key has emptied it.
  RunLoop(std::nullopt, [&] { return dtmf->DTMF_keys().empty() && tonvel::gl_key == 0; });
  const int64_t rest = std::max<int64_t>(0, dtmf->DTMF_duration_ms() - kTickMs) + kLatencyMs;
  RunLoop(rest);
  dtmf.reset();  // closes the key output: a file output is completed
  std::fflush(stdout);
  if (unplayed > 0 && dialled == 0)
    throw WorkFailed("no key could be played: " + (platform::LastDeviceError().empty()
                                                       ? std::string("no sound output device")
                                                       : platform::LastDeviceError()));
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(dial) {
  std::vector<OptionSpec> options = {OutputOption(), SetOption(), JsonOption()};
  return Command{
      "dial",
      "play a DTMF key sequence, one key every 310 ms",
      "velmora dial KEYS [--output FILE.wav|loopback|default|none] [--set Name=value]... "
      "[--json]",
      options,
      "Plays KEYS (the characters 1234567890*#abcd; A to D as a to d) through the tone\n"
      "component's key player: one two-tone burst of DTMF_duration_ms (95 ms) at\n"
      "DTMF_volume percent (90) every 310 ms, 22050 Hz 8-bit mono, on the first sound\n"
      "output; another character is refused (exit 2).  Prints each key as it is\n"
      "dialled and ends when the sequence has ended and the last burst has sounded.\n"
      "\n"
      "--output FILE.wav writes what is played to a WAV file instead (a virtual output\n"
      "device; the silence between the bursts is in the file).  --set\n"
      "DTMF_volume=50 or --set DTMF_duration_ms=200 change the bursts.  Exits with 1\n"
      "when no key could be played.",
      RunDial};
}

}  // namespace velmora::app
