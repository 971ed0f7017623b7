// velmora listen [--input FILE.wav|loopback|default|none] [--fast] [--seconds N]
//                [--set Name=value]... [--json]
//
// Opens the sound input through the tone component and prints what it
// reports: one line per processed buffer (GetTone) and one per 100 ms tick
// (DataOsc: the sample count and the smallest and largest sample).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/session.h"
#include "component/tonvel.h"

namespace velmora::app {
namespace {

void PrintTone(bool json, int32_t asum, double noise_level, double a0, double f0) {
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "GetTone")
                  .Add("asum", asum)
                  .Add("noise_level", noise_level)
                  .Add("a0", a0)
                  .Add("f0", f0)
                  .str());
  } else {
    PrintLine("GetTone asum=" + std::to_string(asum) +
              " noise_level=" + NumberForHumans(noise_level) + " a0=" + NumberForHumans(a0) +
              " f0=" + NumberForHumans(f0));
  }
}

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
  const std::optional<int64_t> limit = SecondsLimit(args);
  const InputSource in = ChooseInput(args);

  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  dtmf->GetTone = [json](host::TObject*, int32_t asum, double noise_level, double a0, double f0) {
    PrintTone(json, asum, noise_level, a0, f0);
  };
  dtmf->DataOsc = [json](host::TObject*, const tonvel::TYSeries& series) {
    PrintOsc(json, series);
  };

  const bool have_input = ReportMissingInput("listen");
  const bool until_used_up = have_input && in.IsFile();
  const bool used_up = RunLoop(limit, [until_used_up] { return until_used_up && InputUsedUp(); });
  // The last buffer's notification was posted before the file counted as
  // used up: handle it before stopping.
  if (used_up) DrainMessages();
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
  return Command{"listen",
                 "capture sound and print the peak level per buffer and the samples per tick",
                 "velmora listen [--input FILE.wav|loopback|default|none] [--fast] [--seconds N] "
                 "[--set Name=value]... [--json]",
                 options,
                 "Opens the sound input through the tone component (8-bit mono at 44100 Hz, one\n"
                 "2048-byte buffer at a time) and prints a GetTone line for every processed\n"
                 "buffer (asum: the peak level 0..100; noise_level, a0, f0) and a DataOsc line\n"
                 "every 100 ms (the buffer's sample count and its smallest and largest sample,\n"
                 "128 being 0).\n"
                 "\n"
                 "With a WAV file as input the command ends when the file is used up; --fast\n"
                 "delivers its buffers as fast as they are processed.  --seconds N ends it\n"
                 "after N seconds, Ctrl-C at any time.  Without any sound input the command\n"
                 "says so once on stderr and runs until --seconds pass.  A missing file or one\n"
                 "that is not a PCM WAV exits with 2.",
                 RunListen};
}

}  // namespace velmora::app
