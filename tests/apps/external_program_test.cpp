// The external programs are plugins/<name> beside the program when that is
// there, else the system's program on the PATH; a program without a plugins/
// folder (an installed one) decodes in a temporary folder of its own.  A copy
// of velmora in a folder of its own decodes an MP3 through stand-ins for lame
// that log their call and hand it on to the real lame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/support.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

void WriteLameStandIn(const fs::path& file, const std::string& tag, const std::string& log,
                      const std::string& real_lame) {
  WriteFile(file.string(), "#!/bin/sh\necho \"" + tag + " $*\" >> '" + log + "'\nexec '" +
                               real_lame + "' \"$@\"\n");
  fs::permissions(file, fs::perms::owner_all, fs::perm_options::add);
}

TEST(ExternalPrograms, LameBesideTheProgramFirstElseOnThePath) {
  RunResult which = testing::Run({"sh", "-c", "command -v lame"});
  const std::string lame = SplitLines(which.out).empty() ? "" : SplitLines(which.out)[0];
  ASSERT_FALSE(lame.empty()) << "lame is not installed (scripts/deps.sh installs it)";
  TempDir dir;
  const std::string program = dir.file("velmora");
  fs::copy_file(VelmoraProgram(), program);
  fs::create_directories(dir.path() / "bin");
  fs::create_directories(dir.path() / "tmp");
  const std::string log = dir.file("calls.log");
  WriteLameStandIn(dir.path() / "bin" / "lame", "path", log, lame);

  RunResult r = testing::Run({program, "dial", "5", "--output", dir.file("five.wav")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = testing::Run({lame, "--quiet", dir.file("five.wav"), dir.file("five.mp3")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto analyse = [&](const std::string& path) {
    return testing::Run({program, "analyze", dir.file("five.mp3")}, "", std::chrono::seconds(60),
                        {"PATH=" + path, "TMPDIR=" + dir.file("tmp")});
  };
  const std::string path = dir.file("bin") + ":" + std::getenv("PATH");

  // No plugins/ beside the program: lame from the PATH, in a folder of the
  // run's own that is gone afterwards.
  r = analyse(path);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Key key=5 "), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(log).rfind("path --decode ", 0), 0u) << ReadFile(log);
  EXPECT_TRUE(fs::is_empty(dir.path() / "tmp"));
  EXPECT_FALSE(fs::exists(dir.path() / "plugins"));

  fs::remove(log);
  fs::create_directories(dir.path() / "plugins");
  WriteLameStandIn(dir.path() / "plugins" / "lame", "plugins", log, lame);
  r = analyse(path);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Key key=5 "), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(log).rfind("plugins --decode ", 0), 0u) << ReadFile(log);

  // Neither there nor on the PATH: the analysis fails and says why.
  fs::remove(dir.path() / "plugins" / "lame");
  r = analyse(dir.file("no-such-folder"));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("lame is neither in " + dir.file("plugins/") + " nor on the PATH"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace velmora::testing
