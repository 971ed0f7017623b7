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
#include "apps/velmora/session.h"
#include "apps/velmora/tone_events.h"
#include "velmora/component/key_player.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::app {
namespace {

constexpr const char* kDefaultKeys = "1234567890*#abcd";
// Buffers of one burst: a 95 ms burst spans two or three 46 ms buffers,
// and bursts of the same key are 310 ms (six or seven buffers) apart.
constexpr int64_t kSameBurstBuffers = 3;
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

  int64_t buffer = 0;
  dtmf->GetTone = [&](host::TObject*, int32_t, double, double, double) { ++buffer; };
  // One recognition per burst: the same key again within a burst's buffers
  // is the same key still sounding.
  std::string recognised;
  int64_t last_buffer = -kSameBurstBuffers - 1;
  std::string last_key;
  dtmf->Key = [&](host::TObject*, const std::string& key, double a1, double a2, double f1,
                  double f2) {
    const bool same_burst = key == last_key && buffer - last_buffer <= kSameBurstBuffers;
    last_key = key;
    last_buffer = buffer;
    if (same_burst) return;
    recognised += key;
    PrintKey(json, key, a1, a2, f1, f2);
    std::fflush(stdout);
  };

  if (!json) {
    PrintLine("Dialling " + keys + " through the loopback device");
    std::fflush(stdout);
  }
  dtmf->set_DTMF_keys(keys);
  RunLoop(std::nullopt, [&] { return dtmf->DTMF_keys().empty() && tonvel::gl_key == 0; });
  RunLoop(std::max<int64_t>(0, dtmf->DTMF_duration_ms() - kTickMs) + kSettleMs);
  const bool played = tonvel::Opened == 1;
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
  return missed == 0 ? kExitOk : kExitFailed;
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
      "recognises the keys.  Each recognised key is printed with its two tones (a key\n"
      "sounding over several buffers counts once), and the last line gives the keys\n"
      "sent, recognised in order and missed.\n"
      "\n"
      "Exits with 0 when every key was recognised, 1 otherwise.",
      RunDemo};
}

}  // namespace velmora::app
