// velmora demo [--keys KEYS] [--set Name=value]... [--json]
//
// The default command: dials a key sequence through the loopback device and
// decodes it live through the capture pipeline, printing each key as it is
// recognised, then one line with the keys sent, recognised and missed.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "apps/velmora/command.h"
#include "apps/velmora/key_press_output.h"
#include "apps/velmora/session.h"
#include "apps/velmora/tone_events.h"
#include "velmora/component/key_player.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::app {
namespace {

constexpr const char* kDefaultKeys = "1234567890*#abcd";
// After the tick that ends the sequence: the rest of a burst longer than a
// tick, the loopback's 50 ms lag, one buffer and its processing.
constexpr int64_t kTickMs = 310;
constexpr int64_t kSettleMs = 300;

// The number of dialled keys found in the recognised ones in the same
// order (the longest common subsequence).
size_t KeysInOrder(const std::string& sent, const std::string& got) {
  std::vector<size_t> row(got.size() + 1, 0);
  for (char s : sent) {
    size_t diagonal = 0;
    for (size_t j = 1; j <= got.size(); ++j) {
      const size_t above = row[j];
      row[j] = s == got[j - 1] ? diagonal + 1 : std::max(row[j], row[j - 1]);
      diagonal = above;
    }
  }
  return row[got.size()];
}

std::string Lower(std::string keys) {
  for (char& c : keys)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return keys;
}

int RunDemo(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
  const std::string keys = Lower(args.Get("--keys", kDefaultKeys));
  if (keys.empty()) throw UsageError("--keys: the keys to dial are empty");
  for (char c : keys)
    if (tonvel::key_player::KeyIndex(c) < 0)
      throw UsageError(std::string("--keys: \"") + c + "\" is no key (keys: " + kDefaultKeys + ")");

  if (!platform::SetDefaultInput({platform::DeviceKind::Loopback, "", false}) ||
      !platform::SetDefaultOutput({platform::DeviceKind::Loopback, ""}))
    throw WorkFailed(platform::LastDeviceError());
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  if (!ReportMissingInput("demo")) throw WorkFailed("the loopback input could not be opened");

  // Key presses, each printed as soon as the buffer that ends it is in.
  std::string recognised;
  PressTracker tracker(*dtmf, tonvel::KeyPressSettings{}, [&](const tonvel::KeyPress& press) {
    recognised += press.key;
    PrintPress(json, "", press);
  });

  if (!json) {
    PrintLine("Dialling " + keys + " through the loopback device");
    std::fflush(stdout);
  }
  dtmf->set_DTMF_keys(keys);
  RunLoop(std::nullopt, [&] { return dtmf->DTMF_keys().empty() && tonvel::gl_key == 0; });
  RunLoop(std::max<int64_t>(0, dtmf->DTMF_duration_ms() - kTickMs) + kSettleMs);
  const bool played = tonvel::Opened == 1;
  tracker.Finish();
  dtmf.reset();

  const size_t sent = keys.size();
  const size_t found = KeysInOrder(keys, recognised);
  const size_t missed = sent - found;
  const size_t extra = recognised.size() - found;
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "Result")
                  .Add("sent", static_cast<int64_t>(sent))
                  .Add("recognised", static_cast<int64_t>(found))
                  .Add("missed", static_cast<int64_t>(missed))
                  .Add("extra", static_cast<int64_t>(extra))
                  .str());
  } else {
    PrintLine("Keys sent: " + std::to_string(sent) + ", recognised: " + std::to_string(found) +
              ", missed: " + std::to_string(missed) +
              (extra ? ", extra: " + std::to_string(extra) : std::string()));
  }
  std::fflush(stdout);
  if (!played) throw WorkFailed("the loopback output could not be opened");
  // A key that was never dialled is as much a failure as a missed one.
  return missed == 0 && extra == 0 ? kExitOk : kExitFailed;
}

}  // namespace

VELMORA_COMMAND(demo) {
  return Command{
      "demo",
      "dial DTMF keys through a loopback device and decode them live (the default)",
      "velmora [demo] [--keys KEYS] [--set Name=value]... [--json]",
      {{"--keys", "KEYS", std::string("the keys to dial (default ") + kDefaultKeys + ")"},
       SetOption(),
       JsonOption()},
      "Needs no sound card.  The tone component plays the keys 1234567890*#abcd, one\n"
      "every 310 ms, into a loopback device that captures what is played; the same\n"
      "component listens to it, computes the spectrum of every 2048-sample buffer and\n"
      "recognises the keys.  Each key press is printed as it ends (5  at 1.234 s  for\n"
      "93 ms, as velmora decode prints it), and the last line gives the keys sent,\n"
      "recognised in order, missed and, if any, recognised but never sent.\n"
      "\n"
      "Exits with 0 when every key was recognised and no other, 1 otherwise.",
      RunDemo};
}

}  // namespace velmora::app
