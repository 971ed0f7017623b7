// Helpers shared by the test suites: scratch folders, running programs and
// locating the build's own files.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::testing {

// A fresh folder under the system's temporary directory, removed with all
// its content when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int exit_code = -1;  // the exit status, or 128 + signal number
  std::string out;     // everything the program wrote to stdout
  std::string err;     // everything it wrote to stderr
  bool timed_out = false;
};

// Runs a program (no shell) with the given arguments, feeding `input` to its
// standard input, and waits for it at most `timeout`; a program still running
// then is killed and reported as timed out.  `env` entries "NAME=value" are
// added to the environment, replacing an inherited variable of that name.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = "",
              std::chrono::milliseconds timeout = std::chrono::seconds(60),
              const std::vector<std::string>& env = {}, const std::string& workdir = "");

// True when `program` is found on PATH.
bool HaveProgram(const std::string& program);

// The velmora program of this build (build/bin/velmora).
std::string VelmoraProgram();
// Runs this build's velmora with `args`, feeding it `input` (see Run).
RunResult RunVelmora(const std::vector<std::string>& args, const std::string& input = "",
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));
// The lines of `text` without their line ends.
std::vector<std::string> SplitLines(const std::string& text);
// The source tree and the build tree of this build.
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

// Whole-file read and write.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace velmora::testing
