#include "apps/velmora/session.h"

#include <signal.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "apps/velmora/property_table.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/host/exception.h"
#include "velmora/host/paths.h"
#include "velmora/host/properties.h"
#include "velmora/host/text.h"

namespace velmora::app {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
  g_interrupted = 1;
}

// SIGINT and SIGTERM end the loop instead of the process, so the component
// is destroyed and the devices closed (a file sink gets its header).
class SignalGuard {
 public:
  SignalGuard() {
    g_interrupted = 0;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int_);
    sigaction(SIGTERM, &sa, &old_term_);
  }
  ~SignalGuard() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- options -------------------------------------------------------------------

std::vector<OptionSpec> InputOptions() {
  return {{"--input", "FILE|-|loopback|default|none",
           "the sound input: a sound file (- for standard input) played as the microphone, the "
           "loopback of the "
           "outputs, the system's default device, or none (default: the system's device "
           "when there is one)"},
          {"--fast", "", "with a file: deliver its buffers as fast as they are processed"}};
}

OptionSpec OutputOption() {
  return {"--output", "FILE.wav|loopback|default|none",
          "the sound output: a WAV file written with what is played, the loopback, the "
          "system's default device, or none",
          false, "-o"};
}

OptionSpec SetOption() {
  return {"--set", "Name=value",
          "write a published property (integers in decimal, True/False, dB_92, bits16); "
          "repeatable",
          true};
}

OptionSpec SecondsOption() {
  return {"--seconds", "N", "stop after N seconds"};
}

OptionSpec JsonOption() {
  return {"--json", "", "one JSON object per event and line"};
}

// ---- devices ---------------------------------------------------------------------

InputSource ChooseInput(const Args& args) {
  InputSource in;
  const bool fast = args.Has("--fast");
  if (!args.Has("--input")) {
    if (fast) throw UsageError("--fast needs --input FILE.wav");
    platform::ResetDeviceChoice();
    in.kind = platform::DefaultInput().kind;
    return in;
  }
  const std::string value = args.Get("--input");
  in.chosen = true;
  if (value == "loopback") {
    in.kind = platform::DeviceKind::Loopback;
  } else if (value == "default") {
    in.kind = platform::DeviceKind::PortAudio;
  } else if (value == "none") {
    in.kind = platform::DeviceKind::None;
  } else {
    std::string why = platform::CheckInputFile(value);
    if (!why.empty()) throw UsageError(why);
    in.kind = platform::DeviceKind::FileSource;
    in.path = value;
    in.fast = fast;
  }
  if (fast && !in.IsFile()) throw UsageError("--fast needs --input FILE.wav");
  if (!platform::SetDefaultInput(platform::InputChoice{in.kind, in.path, in.fast}))
    throw UsageError(platform::LastDeviceError());
  return in;
}

void ChooseOutput(const Args& args) {
  if (!args.Has("--output")) return;
  const std::string value = args.Get("--output");
  platform::OutputChoice choice;
  if (value == "loopback") {
    choice.kind = platform::DeviceKind::Loopback;
  } else if (value == "default") {
    choice.kind = platform::DeviceKind::PortAudio;
  } else if (value == "none") {
    choice.kind = platform::DeviceKind::None;
  } else {
    if (value.empty()) throw UsageError("--output needs a file name");
    // What is played is written as WAV: another extension would give a file
    // whose name promises a format it does not hold.
    if (!host::SameText(host::ExtractFileExt(value), ".wav"))
      throw UsageError("--output " + value + ": the output file is written as WAV; name it *.wav");
    choice.kind = platform::DeviceKind::FileSink;
    choice.path = value;
  }
  if (!platform::SetDefaultOutput(choice)) throw UsageError(platform::LastDeviceError());
}

bool ReportMissingInput(std::string_view command) {
  if (tonvel::hwi2 != nullptr) return true;
  std::string why = platform::LastDeviceError();
  std::string line = "velmora " + std::string(command) + ": no sound input device is available";
  // The device layer's own "no sound input device (...)" adds nothing.
  if (!why.empty() && why.rfind("no sound input device", 0) != 0) line += ": " + why;
  std::fprintf(stderr, "%s\n", line.c_str());
  return false;
}

// ---- properties ------------------------------------------------------------------

void ApplySetting(host::TComponent& component, std::string_view assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string_view::npos || eq == 0)
    throw UsageError("--set needs Name=value, not \"" + std::string(assignment) + "\"");
  const std::string name(assignment.substr(0, eq));
  const std::string value(assignment.substr(eq + 1));
  const host::PropInfo* prop = host::FindProperty(component, name);
  if (!prop) {
    std::string known;
    for (const host::PropInfo& p : component.PublishedProperties())
      known += (known.empty() ? "" : ", ") + p.name;
    throw UsageError(component.ClassName() + " has no property \"" + name +
                     "\" (properties: " + known + ")");
  }
  // The tone component's values are held to what the commands accept; the
  // component itself would store anything.
  if (component.ClassName() == "TDTMF") {
    if (const PropertyRow* row = FindPropertyRow(prop->name)) CheckSetting(*row, value);
  }
  try {
    host::SetPropText(component, *prop, value);
  } catch (const host::EConvertError& e) {
    throw UsageError(std::string("--set ") + name + ": " + e.what());
  }
}

void ApplySettings(host::TComponent& component, const Args& args) {
  for (const std::string& assignment : args.GetAll("--set")) ApplySetting(component, assignment);
}

// ---- the loop ----------------------------------------------------------------------

std::optional<int64_t> SecondsLimit(const Args& args) {
  if (!args.Has("--seconds")) return std::nullopt;
  double seconds = args.GetDouble("--seconds", 0);
  if (seconds < 0 || seconds > 1e9)
    throw UsageError("--seconds needs a number of seconds from 0 up, not \"" +
                     args.Get("--seconds") + "\"");
  return static_cast<int64_t>(std::llround(seconds * 1000));
}

bool RunSteps(const std::function<bool()>& step) {
  SignalGuard signals;
  while (!g_interrupted)
    if (!step()) return true;
  return false;
}

bool RunLoop(std::optional<int64_t> limit_ms, const std::function<bool()>& done) {
  SignalGuard signals;
  host::TApplication& app = host::Application();
  const int64_t deadline = limit_ms ? NowMs() + *limit_ms : 0;
  while (true) {
    if (done && done()) return true;
    if (g_interrupted) return false;
    int wait = 50;  // a signal also cuts the wait short (EINTR)
    if (limit_ms) {
      const int64_t left = deadline - NowMs();
      if (left <= 0) return false;
      if (left < wait) wait = static_cast<int>(left);
    }
    app.HandleMessage(wait);
  }
}

void DrainMessages() {
  host::Application().ProcessMessages();
}

bool InputUsedUp() {
  return platform::InputFinished();
}

// ---- output ------------------------------------------------------------------------

std::string ToUtf8(std::string_view ansi) {
  // Bytes below 0x80 are ASCII in the component's code page (Windows-1251)
  // and in UTF-8 alike: key names and most summary lines need no iconv.
  if (std::all_of(ansi.begin(), ansi.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(ansi);
  return host::AnsiToUtf8(ansi);
}

void PrintLine(const std::string& line) {
  // Flushed per line, so that a reader at the other end of a pipe sees each
  // event when it happens rather than when the buffer fills or at exit.
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void AppendNumberForHumans(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    return;
  }
  // What printf("%.6g") writes in the "C" locale, without its cost.
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  out.append(buf, r.ptr);
}

std::string NumberForHumans(double value) {
  std::string text;
  AppendNumberForHumans(text, value);
  return text;
}

}  // namespace velmora::app
