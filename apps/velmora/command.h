// The command table of the `velmora` program and the pieces every command
// shares: option parsing, usage errors and one-line JSON output.
//
// A command lives in its own file (cmd_<name>.cpp) and registers itself with
// VELMORA_COMMAND, so that commands are added without touching the others.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work failed (a refused connection, ...)
constexpr int kExitUsage = 2;   // bad usage or unreadable input

// Bad usage or unreadable input: main prints "velmora <command>: <message>" on
// stderr and exits with 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The work failed: main prints the message and exits with 1.
class WorkFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::string name;        // "--seconds"
  std::string value_name;  // "N"; empty for a flag without value
  std::string help;
  bool repeatable = false;  // may be given several times (--set)
  // The one-letter form ("-o"), stored under `name`; empty for none.  A
  // value follows as the next word or joined to it ("-o FILE", "-oFILE").
  std::string short_name = "";
};

// The parsed command line of one command.
class Args {
 public:
  std::vector<std::string> positional;

  bool Has(std::string_view name) const;
  // The value of an option given once; `fallback` when it is absent.
  std::string Get(std::string_view name, std::string_view fallback = "") const;
  // Every value of a repeatable option, in command-line order.
  std::vector<std::string> GetAll(std::string_view name) const;
  // The value read as a whole number or a decimal number; a value that is not
  // one is a UsageError naming the option.
  int64_t GetInt(std::string_view name, int64_t fallback) const;
  double GetDouble(std::string_view name, double fallback) const;

  void Add(const std::string& name, const std::string& value);

 private:
  std::vector<std::pair<std::string, std::string>> options_;
};

struct Command {
  std::string name;
  std::string summary;              // one line for the command list
  std::string usage;                // "velmora listen [options]"
  std::vector<OptionSpec> options;  // --help is added by the parser
  std::string description;          // paragraphs printed by --help
  std::function<int(const Args&)> run;
};

// The table of commands, ordered by name.
std::map<std::string, Command>& Commands();
bool RegisterCommand(Command command);

// Parses argv (after the command name) against the command's options.
// Throws UsageError for an unknown option, a missing value or a repeated
// option that is not repeatable.  A word of a dash and a letter ("-x...") is
// an option; "-" alone, "-5" and every word after "--" are positional.
Args ParseArgs(const Command& command, const std::vector<std::string>& argv);

std::string HelpText(const Command& command);
std::string ProgramHelp();

// One JSON object on one line, the way --json prints every event:
//   {"event": "Key", "key": "5", "a1": 30.21}
// Keys keep the order in which they are added.  Strings must be UTF-8.
class JsonLine {
 public:
  JsonLine& Add(std::string_view key, std::string_view value);
  JsonLine& Add(std::string_view key, const char* value);
  JsonLine& Add(std::string_view key, double value);
  JsonLine& Add(std::string_view key, int64_t value);
  JsonLine& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
  JsonLine& Add(std::string_view key, bool value);
  JsonLine& AddArray(std::string_view key, const std::vector<double>& values);
  JsonLine& AddRaw(std::string_view key, std::string_view json);
  std::string str() const;

 private:
  void Key(std::string_view key);
  std::string text_;
};

std::string JsonQuote(std::string_view utf8);
// Shortest text that reads back as the same double ("30.21", "1335.9").
std::string NumberText(double value);

}  // namespace velmora::app

// Registers a command at program start:
//   VELMORA_COMMAND(listen) { return Command{...}; }
#define VELMORA_COMMAND(id)                                            \
  static ::velmora::app::Command velmora_make_command_##id();          \
  [[maybe_unused]] static const bool velmora_command_registered_##id = \
      ::velmora::app::RegisterCommand(velmora_make_command_##id());    \
  static ::velmora::app::Command velmora_make_command_##id()
