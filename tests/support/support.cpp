#include "tests/support/support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace velmora::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "velmora-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
  return (path_ / name).string();
}

namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe2(fd, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  }
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  void CloseEnd(int i) {
    if (fd[i] >= 0) close(fd[i]);
    fd[i] = -1;
  }
};

}  // namespace

RunResult Run(const std::vector<std::string>& argv, const std::string& input,
              std::chrono::milliseconds timeout, const std::vector<std::string>& env,
              const std::string& workdir) {
  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
  if (!workdir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // An entry of `env` replaces the inherited variable of its name (PATH).
  auto name_of = [](const std::string& e) { return e.substr(0, e.find('=') + 1); };
  std::vector<std::string> env_store;
  for (char** e = environ; *e; ++e) {
    const std::string inherited = *e;
    bool replaced = false;
    for (const auto& mine : env) replaced = replaced || name_of(mine) == name_of(inherited);
    if (!replaced) env_store.push_back(inherited);
  }
  for (const auto& e : env) env_store.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "spawn " + argv[0]);
  in.CloseEnd(0);
  out.CloseEnd(1);
  err.CloseEnd(1);

  RunResult result;
  size_t written = 0;
  if (input.empty())
    in.CloseEnd(1);
  else
    fcntl(in.fd[1], F_SETFL, O_NONBLOCK);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    std::vector<pollfd> fds;
    if (out.fd[0] >= 0) fds.push_back({out.fd[0], POLLIN, 0});
    if (err.fd[0] >= 0) fds.push_back({err.fd[0], POLLIN, 0});
    if (in.fd[1] >= 0) fds.push_back({in.fd[1], POLLOUT, 0});
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int n = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    for (const auto& p : fds) {
      if (!p.revents) continue;
      if (p.fd == in.fd[1]) {
        ssize_t w = write(p.fd, input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == input.size()) in.CloseEnd(1);
        continue;
      }
      char buf[65536];
      ssize_t r = read(p.fd, buf, sizeof buf);
      bool is_out = p.fd == out.fd[0];
      if (r > 0)
        (is_out ? result.out : result.err).append(buf, static_cast<size_t>(r));
      else
        (is_out ? out : err).CloseEnd(0);
    }
  }
  in.CloseEnd(1);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result.exit_code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exit_code = 128 + WTERMSIG(status);
  return result;
}

bool HaveProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

fs::path SourceDir() {
  return VELMORA_SOURCE_DIR;
}
fs::path BinaryDir() {
  return VELMORA_BINARY_DIR;
}
std::string VelmoraProgram() {
  return (BinaryDir() / "bin" / "velmora").string();
}

RunResult RunVelmora(const std::vector<std::string>& args, const std::string& input,
                     std::chrono::milliseconds timeout) {
  std::vector<std::string> argv{VelmoraProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, input, timeout);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace velmora::testing
