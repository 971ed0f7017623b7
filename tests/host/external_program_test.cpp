// FindExternalProgram: plugins/<name> beside the executable when it is an
// executable file, else the first executable <name> on the PATH.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/support.h"
#include "velmora/host/paths.h"

namespace velmora::host {
namespace {

namespace fs = std::filesystem;

void MakeProgram(const fs::path& file, bool executable) {
  fs::create_directories(file.parent_path());
  testing::WriteFile(file.string(), "#!/bin/sh\n");
  if (executable) fs::permissions(file, fs::perms::owner_all, fs::perm_options::add);
}

// Sets PATH for one test and puts the old one back.
class PathFor {
 public:
  explicit PathFor(const std::string& value) {
    if (const char* old = std::getenv("PATH")) old_ = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  ~PathFor() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

TEST(FindExternalProgram, PluginsFolderFirstThenThePathInOrder) {
  testing::TempDir dir;
  const std::string exe_dir = dir.file("app");
  MakeProgram(dir.path() / "first" / "tool", false);  // not executable: passed over
  MakeProgram(dir.path() / "second" / "tool", true);
  MakeProgram(dir.path() / "third" / "tool", true);
  PathFor path(dir.file("first") + ":" + dir.file("second") + ":" + dir.file("third"));

  EXPECT_EQ(FindExternalProgram("tool", exe_dir), dir.file("second/tool"));
  MakeProgram(dir.path() / "app" / "plugins" / "tool", true);
  EXPECT_EQ(FindExternalProgram("tool", exe_dir), dir.file("app/plugins/tool"));
  EXPECT_EQ(FindExternalProgram("tool", exe_dir + "/"), dir.file("app/plugins/tool"));

  EXPECT_EQ(FindExternalProgram("missing", exe_dir), "");
  // A folder of that name is no program, and a name with a delimiter is
  // refused rather than looked up relative to either folder.
  fs::create_directories(dir.path() / "third" / "folder");
  EXPECT_EQ(FindExternalProgram("folder", exe_dir), "");
  EXPECT_EQ(FindExternalProgram("plugins/tool", exe_dir), "");
  EXPECT_EQ(FindExternalProgram("", exe_dir), "");
}

TEST(FindExternalProgram, EmptyPathEntryIsTheCurrentFolder) {
  testing::TempDir dir;
  MakeProgram(dir.path() / "tool", true);
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  {
    PathFor path("/nonexistent::/also-nonexistent");
    EXPECT_EQ(FindExternalProgram("tool", "/nonexistent"), dir.file("tool"));
  }
  fs::current_path(before);
  // The running executable's own folder by default: no plugins/ beside the
  // test program, so sh comes from the PATH.
  PathFor path("/usr/bin:/bin");
  EXPECT_EQ(FindExternalProgram("sh"), "/usr/bin/sh");
}

}  // namespace
}  // namespace velmora::host
