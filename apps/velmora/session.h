// What the commands that run the tone component share: choosing the sound
// devices from the command line, writing published properties with --set,
// running the message loop for a while, and printing the component's texts.
//
// A command typically does:
//   InputSource in = ChooseInput(args);       // before the component exists
//   ChooseOutput(args);
//   tonvel::TDTMF dtmf(nullptr);              // opens the chosen input
//   ApplySettings(dtmf, args);                // --set Name=value ...
//   ReportMissingInput("listen");             // one stderr line, if no input
//   RunLoop(SecondsLimit(args), done);        // until done, N s or Ctrl-C
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/velmora/command.h"
#include "velmora/host/classes.h"
#include "velmora/platform/wave.h"

namespace velmora::app {

// ---- options -----------------------------------------------------------------

// --input FILE.wav|loopback|default|none and --fast.
std::vector<OptionSpec> InputOptions();
// --output FILE.wav|loopback|default|none.
OptionSpec OutputOption();
// --set Name=value (repeatable).
OptionSpec SetOption();
// --seconds N.
OptionSpec SecondsOption();
// --json.
OptionSpec JsonOption();

// ---- devices -----------------------------------------------------------------

struct InputSource {
  platform::DeviceKind kind = platform::DeviceKind::None;
  std::string path;     // the WAV file of a file source
  bool fast = false;    // the file source fills each buffer at once
  bool chosen = false;  // false: the automatic choice (no --input)
  // A file source: the run ends once the file is used up.
  bool IsFile() const { return kind == platform::DeviceKind::FileSource; }
};

// Makes --input the default sound input of later opens:
//   FILE, -   the sound file (any format libsndfile reads; - is standard
//             input) played as the microphone (a file is checked now: one
//             that cannot be read is a UsageError naming it and the reason;
//             a pipe is checked when it is opened)
//   loopback  what the outputs play
//   default   the system's default device (PortAudio)
//   none      no input device
// Without --input the automatic choice stays (the system's default device
// when there is one, else none).  --fast without a file is a UsageError.
InputSource ChooseInput(const Args& args);
// Makes --output the default sound output: a FILE.wav written with what is
// played, loopback, default, or none.  Without --output the automatic choice
// stays.
void ChooseOutput(const Args& args);
// Says once on stderr ("velmora <command>: no sound input device is
// available ...") when the component found no input to open, and returns
// false then.
bool ReportMissingInput(std::string_view command);

// ---- properties --------------------------------------------------------------

// Writes one "Name=value" through the component's published properties.
// An unknown name, a missing '=' or a value that does not convert is a
// UsageError naming the property and the value.
void ApplySetting(host::TComponent& component, std::string_view assignment);
// Every --set of the command line, in order.
void ApplySettings(host::TComponent& component, const Args& args);

// ---- the loop ----------------------------------------------------------------

// The --seconds limit in milliseconds; none when the option is absent.  A
// value that is not a number >= 0 is a UsageError.
std::optional<int64_t> SecondsLimit(const Args& args);
// Runs the GUI thread's message loop until `done()` returns true (checked
// after each round), the limit passes, or SIGINT/SIGTERM arrives.  Returns
// true when `done()` ended it.
bool RunLoop(std::optional<int64_t> limit_ms, const std::function<bool()>& done = {});
// Runs step() until it returns false or SIGINT/SIGTERM arrives; meanwhile
// those signals cut a blocking read short instead of ending the process.
// Returns true when step() ended it.
bool RunSteps(const std::function<bool()>& step);
// Handles the messages already posted (after RunLoop: the notification of
// the last buffer of a file may still be queued).
void DrainMessages();
// True when the file source behind the input has delivered its last buffer.
bool InputUsedUp();

// ---- output ------------------------------------------------------------------

// The component's single-byte (Windows-1251) text as UTF-8, for printing.
std::string ToUtf8(std::string_view ansi);
// Prints one line on stdout.
void PrintLine(const std::string& line);
// Compact text of a number for human-readable lines ("12.5", "-120"): as
// printf's "%.6g", and "nan", "inf", "-inf".
std::string NumberForHumans(double value);
void AppendNumberForHumans(std::string& out, double value);

}  // namespace velmora::app
