// External programs are started with posix_spawn, never through a shell, so
// that no file name is ever interpreted by one.  Children are reaped by
// WaitForExit or Kill; a child is only ever signalled after checking that it
// is one of ours, so a stale pid never hits an unrelated process.

#include "velmora/platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

extern char** environ;

namespace velmora::platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Owner of a posix_spawn file-action list and attribute set.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// True when `pid` is a child of this process that has not been reaped.
bool IsOurChild(int pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool in_argument = false;
  bool in_quotes = false;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (!in_quotes && IsBlank(c)) {
      if (in_argument) {
        args.push_back(std::move(current));
        current.clear();
        in_argument = false;
      }
      ++i;
      continue;
    }
    in_argument = true;
    if (c == '\\') {
      size_t j = i;
      while (j < n && text[j] == '\\') ++j;
      size_t count = j - i;
      if (j < n && text[j] == '"') {
        current.append(count / 2, '\\');
        if (count % 2 == 1) {
          current += '"';
          i = j + 1;
        } else {
          i = j;  // the quote opens or closes a quoted part
        }
      } else {
        current.append(count, '\\');
        i = j;
      }
      continue;
    }
    if (c == '"') {
      if (in_quotes && i + 1 < n && text[i + 1] == '"') {
        current += '"';
        i += 2;
      } else {
        in_quotes = !in_quotes;
        ++i;
      }
      continue;
    }
    current += c;
    ++i;
  }
  if (in_argument) args.push_back(std::move(current));
  return args;
}

SpawnResult Spawn(const std::string& program, const std::vector<std::string>& args,
                  const std::string& workdir, bool keep_output) {
  SpawnResult result;
  if (program.empty()) {
    result.error = "cannot start a program without a name";
    return result;
  }
  if (!workdir.empty()) {
    struct stat st {};
    std::string why;
    if (stat(workdir.c_str(), &st) != 0)
      why = std::strerror(errno);
    else if (!S_ISDIR(st.st_mode))
      why = "not a directory";
    if (!why.empty()) {
      result.error = "cannot start " + program + ": working directory " + workdir + ": " + why;
      return result;
    }
  }

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  if (!keep_output) {
    posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0);
  }
  if (!workdir.empty()) posix_spawn_file_actions_addchdir_np(&setup.actions, workdir.c_str());
  // The child starts with default signal handling and nothing blocked, whatever
  // this process ignores or blocks (a host that ignores SIGPIPE, a thread that
  // blocks signals).
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  bool has_slash = program.find('/') != std::string::npos;
  int rc = has_slash ? posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes,
                                   argv.data(), environ)
                     : posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attributes,
                                    argv.data(), environ);
  if (rc != 0) {
    result.error = "cannot start " + program + ": " + std::strerror(rc);
    return result;
  }
  result.pid = pid;
  return result;
}

WaitResult WaitForExit(int pid, uint32_t timeout_ms) {
  WaitResult result;
  if (pid <= 0) {
    result.error = "no process " + std::to_string(pid);
    return result;
  }
  auto start = std::chrono::steady_clock::now();
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      result.status = WaitStatus::Exited;
      result.exit_code = DecodeStatus(status);
      return result;
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      result.error = "no child process " + std::to_string(pid) + ": " + std::strerror(errno);
      return result;
    }
    auto waited = std::chrono::steady_clock::now() - start;
    auto left = std::chrono::milliseconds(timeout_ms) - waited;
    if (left <= std::chrono::milliseconds(0)) {
      result.status = WaitStatus::TimedOut;
      return result;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, left));
    pause = std::min(pause * 2, std::chrono::milliseconds(10));
  }
}

bool Kill(int pid) {
  if (pid <= 0 || !IsOurChild(pid)) return false;
  if (kill(pid, SIGKILL) != 0 && errno != ESRCH) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace velmora::platform
