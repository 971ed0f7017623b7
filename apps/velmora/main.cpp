// velmora: the command-line host program.
//
//   velmora [<command>] [options]
//
// With no command the program runs `demo`.  Exit codes: 0 success, 1 the work
// failed, 2 bad usage or unreadable input.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "apps/velmora/command.h"
#include "apps/velmora/manual.h"
#include "velmora/version.h"

using velmora::app::Commands;

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::string name = "demo";
  if (!words.empty() && (words[0] == "--version" || words[0] == "-V")) {
    std::printf("velmora %s\n", velmora::Version().text);
    return velmora::app::kExitOk;
  }
  // help --man and help --completion print the man page and the bash
  // completion, made from the command table at build time.
  if (words.size() == 2 && words[0] == "help") {
    if (auto page = velmora::app::ManualPage(words[1])) {
      std::fputs(page->c_str(), stdout);
      return velmora::app::kExitOk;
    }
  }
  if (!words.empty() && (words[0] == "--help" || words[0] == "-h" || words[0] == "help")) {
    std::fputs(velmora::app::ProgramHelp().c_str(), stdout);
    return velmora::app::kExitOk;
  }
  if (!words.empty() && words[0].compare(0, 2, "--") != 0) {
    name = words[0];
    words.erase(words.begin());
  }
  auto it = Commands().find(name);
  if (it == Commands().end()) {
    std::fprintf(stderr, "velmora: unknown command \"%s\"\n\n%s", name.c_str(),
                 velmora::app::ProgramHelp().c_str());
    return velmora::app::kExitUsage;
  }
  const velmora::app::Command& command = it->second;
  try {
    velmora::app::Args args = velmora::app::ParseArgs(command, words);
    if (args.Has("--help")) {
      std::fputs(velmora::app::HelpText(command).c_str(), stdout);
      return velmora::app::kExitOk;
    }
    return command.run(args);
  } catch (const velmora::app::UsageError& e) {
    std::fprintf(stderr, "velmora %s: %s\n", name.c_str(), e.what());
    return velmora::app::kExitUsage;
  } catch (const velmora::app::WorkFailed& e) {
    std::fprintf(stderr, "velmora %s: %s\n", name.c_str(), e.what());
    return velmora::app::kExitFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora %s: %s\n", name.c_str(), e.what());
    return velmora::app::kExitFailed;
  }
}
