// velmora random [--input FILE.wav|loopback|default|none] [--fast]
//                [--seconds N] [--bits-dir DIR] [--set Name=value]... [--json]
//
// Turns the noise of the sound input into random bits with the tone
// component and prints the statistics of every completed block.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/session.h"
#include "velmora/component/noise_random.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/paths.h"

namespace velmora::app {
namespace {

int RunRandom(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
  const std::optional<int64_t> limit = SecondsLimit(args);
  const InputSource in = ChooseInput(args);

  // An installed program's own directory is not writable: the bits go to
  // the current directory unless --bits-dir names another.
  const std::string bits_dir =
      args.Has("--bits-dir") ? args.Get("--bits-dir") : host::GetCurrentDir();
  if (!host::DirectoryExists(bits_dir))
    throw UsageError("--bits-dir: no such directory: " + bits_dir);

  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  dtmf->set_GenRandom_NoiseSoundCard_Dir(bits_dir);
  ApplySettings(*dtmf, args);
  const bool saving = dtmf->GenRandom_NoiseSoundCard_SaveToFile();
  const std::string bits_file = tonvel::noise::BitsFilePath(*dtmf);

  int blocks = 0;
  dtmf->GenRandom_NoiseSoundCard_Data =
      [&](host::TObject*, const std::string& sa, const std::string& dispers_sm,
          const std::string& disters_ne, const std::string& koef_asim, const std::string& pic,
          const std::string& crit_serial_correlation, const std::string& raspred,
          const tonvel::TBSeries& series) {
        ++blocks;
        const auto ones = std::count(series.bits.begin(), series.bits.end(), uint8_t{1});
        if (json) {
          // Numbers under English names; the component's texts (rounded,
          // with the locale's separators) are for people.
          const tonvel::BlockStatistics& st = tonvel::LastStatistics();
          PrintLine(JsonLine()
                        .Add("event", "GenRandom_NoiseSoundCard_Data")
                        .Add("block", blocks)
                        .Add("bits", static_cast<int64_t>(series.bits.size()))
                        .Add("ones", static_cast<int64_t>(ones))
                        .Add("mean", st.mean)
                        .Add("variance_biased", st.variance_biased)
                        .Add("variance_unbiased", st.variance_unbiased)
                        .Add("skewness", st.skewness)
                        .Add("kurtosis", st.kurtosis)
                        .Add("serial_correlation", st.serial_correlation)
                        .Add("distribution", st.normal ? "normal" : "asymmetric")
                        .str());
        } else {
          PrintLine("Block " + std::to_string(blocks) + ": " + std::to_string(series.bits.size()) +
                    " bits, " + std::to_string(ones) + " ones");
          for (const std::string* line : {&sa, &dispers_sm, &disters_ne, &koef_asim, &pic, &raspred,
                                          &crit_serial_correlation})
            PrintLine("  " + ToUtf8(*line));
          if (saving) PrintLine("  appended to " + bits_file);
        }
        std::fflush(stdout);
      };

  if (!ReportMissingInput("random")) return kExitFailed;
  const bool until_used_up = in.IsFile();
  const bool used_up = RunLoop(limit, [&] { return until_used_up && InputUsedUp(); });
  // The last buffer's notification, and a failure of the bits file posted
  // while it was processed, may still be queued.
  if (used_up) DrainMessages();
  DrainMessages();
  dtmf.reset();
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(random) {
  std::vector<OptionSpec> options = InputOptions();
  options.push_back(SecondsOption());
  options.push_back({"--bits-dir", "DIR",
                     "with GenRandom_NoiseSoundCard_SaveToFile=True: append the bits to "
                     "DIR/test.dat (default: the current directory)"});
  options.push_back(SetOption());
  options.push_back(JsonOption());
  return Command{"random",
                 "turn input noise into random bits and print each block's statistics",
                 "velmora random [--input FILE.wav|loopback|default|none] [--fast] [--seconds N] "
                 "[--bits-dir DIR] [--set Name=value]... [--json]",
                 options,
                 "Takes the lowest bit of every captured sample as a random bit.  Each time\n"
                 "GenRandom_NoiseSoundCard_BufSize bits (50000) are complete, prints the block's\n"
                 "size and the statistics of its samples: mean, biased and unbiased variance,\n"
                 "skewness, kurtosis, the serial correlation and the distribution verdict.\n"
                 "\n"
                 "With --set GenRandom_NoiseSoundCard_SaveToFile=True the bits are appended to\n"
                 "test.dat in the current directory (or in --bits-dir DIR), one byte 0 or 1\n"
                 "per bit.  A file that cannot be written is reported on stderr and capture\n"
                 "goes on.  --json prints the statistics as numbers: bits, ones, mean,\n"
                 "variance_biased, variance_unbiased, skewness, kurtosis, serial_correlation\n"
                 "and distribution (\"normal\" or \"asymmetric\").\n"
                 "\n"
                 "With a WAV file as input the command ends when the file is used up; --seconds\n"
                 "N ends it after N seconds, Ctrl-C at any time.",
                 RunRandom};
}

}  // namespace velmora::app
