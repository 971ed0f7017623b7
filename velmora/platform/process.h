// Launching external programs (the decoder and encoder in plugins/) without a
// shell: the arguments are split as a command line is and passed as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

// Splits a command line into arguments:
//  - blanks (space, tab, newline) separate arguments;
//  - a double quote starts or ends a quoted part, in which blanks are kept;
//    inside a quoted part two double quotes give one literal double quote;
//  - 2n backslashes followed by a double quote give n backslashes and the
//    quote acts as above; 2n+1 backslashes followed by a double quote give n
//    backslashes and a literal double quote;
//  - any other backslash is an ordinary character, so Windows-style paths
//    such as plugins\x.mp3 pass unchanged;
//  - "" on its own is an empty argument.
std::vector<std::string> SplitCommandLine(const std::string& text);

struct SpawnResult {
  int pid = -1;       // the child's process id; -1 on failure
  std::string error;  // one line naming the program and the reason, on failure
  explicit operator bool() const { return pid > 0; }
};

// Starts `program` with `args` (not including the program name) in `workdir`
// ("" = the current directory), with posix_spawn.  A program name without a
// slash is searched on PATH; a relative path with a slash is taken relative to
// `workdir`.  Standard input reads /dev/null; standard output and error are
// discarded unless `keep_output` is true, in which case they are inherited.
SpawnResult Spawn(const std::string& program, const std::vector<std::string>& args,
                  const std::string& workdir, bool keep_output = false);

enum class WaitStatus { Exited, TimedOut, Failed };

struct WaitResult {
  WaitStatus status = WaitStatus::Failed;
  int exit_code = -1;  // Exited: the exit status, or 128 + the signal number
  std::string error;   // Failed: the reason (no such child, ...)
};

// Waits at most `timeout_ms` (0 = only look) for the child to end and reaps
// it.  A child that is still running is left running.
WaitResult WaitForExit(int pid, uint32_t timeout_ms);

// Ends the child at once (SIGKILL) and reaps it.  Returns false when there is
// no such child.
bool Kill(int pid);

}  // namespace velmora::platform
