// velmora listen [--input FILE.wav|loopback|default|none] [--fast] [--seconds N]
//                [--set Name=value]... [--keys|--verbose] [--json]
//
// Opens the sound input through the tone component and prints what it
// reports: one line per processed buffer (GetTone, with --verbose also its
// summary line), one per recognised key (Key) and one per 100 ms tick
// (DataOsc: the sample count and the smallest and largest sample).  With
// --keys only the keys.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/key_press_output.h"
#include "apps/velmora/session.h"
#include "apps/velmora/tone_events.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::app {
namespace {

void PrintOsc(bool json, const tonvel::TYSeries& series) {
  const auto& y = series.y;
  double lo = 0;
  double hi = 0;
  if (!y.empty()) {
    auto [mn, mx] = std::minmax_element(y.begin(), y.end());
    lo = *mn;
    hi = *mx;
  }
  const auto count = static_cast<int64_t>(y.size());
  if (json) {
    PrintLine(
        JsonLine().Add("event", "DataOsc").Add("count", count).Add("min", lo).Add("max", hi).str());
  } else {
    PrintLine("DataOsc count=" + std::to_string(count) + " min=" + NumberForHumans(lo) +
              " max=" + NumberForHumans(hi));
  }
}

int RunListen(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
  const bool presses = args.Has("--keys");
  const bool raw_keys = args.Has("--raw");
  const bool keys_only = presses || raw_keys;
  const bool verbose = args.Has("--verbose");
  if (presses && raw_keys) throw UsageError("--keys and --raw exclude each other");
  if (keys_only && verbose) throw UsageError("--keys or --raw and --verbose exclude each other");
  const tonvel::KeyPressSettings press_settings = PressSettingsFrom(args);
  const std::optional<int64_t> limit = SecondsLimit(args);
  const InputSource in = ChooseInput(args);

  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  if (!keys_only) {
    // GetTone follows the key decision of the same buffer, so the summary
    // line read here is that buffer's.
    dtmf->GetTone = [json, verbose](host::TObject*, int32_t asum, double noise_level, double a0,
                                    double f0) {
      PrintTone(json, asum, noise_level, a0, f0);
      if (verbose) PrintSummary(json, tonvel::spektr.text);
    };
    dtmf->DataOsc = [json](host::TObject*, const tonvel::TYSeries& series) {
      PrintOsc(json, series);
    };
  }
  std::unique_ptr<PressTracker> tracker;
  if (presses) {
    tracker = std::make_unique<PressTracker>(
        *dtmf, press_settings,
        [json](const tonvel::KeyPress& press) { PrintPress(json, "", press); });
  } else {
    dtmf->Key = [json](host::TObject*, const std::string& key, double a1, double a2, double f1,
                       double f2) { PrintKey(json, key, a1, a2, f1, f2); };
  }

  // A file that turned out unreadable when it was opened (a pipe is only
  // checked then) ends the command at once.
  if (in.IsFile() && tonvel::hwi2 == nullptr) throw UsageError(platform::LastDeviceError());
  // Without an input nothing would ever be captured: one line, exit 1.
  if (!ReportMissingInput("listen")) return kExitFailed;
  const bool until_used_up = in.IsFile();
  const bool used_up = RunLoop(limit, [until_used_up] { return until_used_up && InputUsedUp(); });
  // The last buffer's notification was posted before the file counted as
  // used up: handle it before stopping.
  if (used_up) DrainMessages();
  if (tracker) tracker->Finish();
  dtmf.reset();
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(listen) {
  std::vector<OptionSpec> options = InputOptions();
  options.push_back(SecondsOption());
  options.push_back(SetOption());
  options.push_back(JsonOption());
  options.push_back({"--keys", "", "print key presses only (key, start, duration)"});
  options.push_back({"--raw", "", "print the per-buffer Key events only"});
  for (OptionSpec& o : PressOptions()) options.push_back(std::move(o));
  options.push_back({"--verbose", "", "also print the key-decision summary line of every buffer"});
  return Command{"listen",
                 "capture sound and print the DTMF keys, the level per buffer and the samples "
                 "per tick",
                 "velmora listen [--input FILE.wav|loopback|default|none] [--fast] [--seconds N] "
                 "[--set Name=value]... [--keys|--raw|--verbose] [--json]",
                 options,
                 "Opens the sound input through the tone component (8-bit mono at 44100 Hz, one\n"
                 "2048-byte buffer at a time) and prints a GetTone line for every processed\n"
                 "buffer (asum: the peak level 0..100; noise_level, a0, f0: the strongest tone),\n"
                 "a Key line for every buffer in which a DTMF key is recognised (key, the two\n"
                 "strongest levels a1, a2 in dB and their frequencies f1, f2 in Hz) and a\n"
                 "DataOsc line every 100 ms (the buffer's sample count and its smallest and\n"
                 "largest sample, 128 being 0).  A key held over several buffers is printed\n"
                 "for each of them.  --keys prints key presses instead (one line per press:\n"
                 "5  at 12.345 s  for 93 ms; see velmora decode --help), --raw the Key lines\n"
                 "only; --verbose adds the\n"
                 "summary line of every buffer (DTMF(5):  A1= 30.21 [1336 Hz]  A2= ...).\n"
                 "\n"
                 "With a WAV file as input the command ends when the file is used up; --fast\n"
                 "delivers its buffers as fast as they are processed, which makes\n"
                 "`velmora listen --input FILE --fast --keys` a batch DTMF decoder (as is\n"
                 "`velmora decode FILE`).  --input - reads standard input.\n"
                 "--seconds N ends it after N seconds, Ctrl-C at any time.  Without any sound\n"
                 "input the command says so in one line on stderr and exits with 1.  A\n"
                 "file that cannot be read (any format libsndfile reads is played) exits with 2.",
                 RunListen};
}

}  // namespace velmora::app
