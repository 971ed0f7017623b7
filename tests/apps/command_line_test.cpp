// The option parser every command shares, through the program: short forms,
// joined values, and what is positional.
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

TEST(CommandLine, ShortOptionsTakeTheirValueJoinedOrAsTheNextWord) {
  TempDir dir;
  RunResult r = RunVelmora({"dial", "5", "-o", dir.file("a.wav")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.file("a.wav")));
  r = RunVelmora({"dial", "5", "-o" + dir.file("b.wav")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.file("b.wav")));
  // The short form is the long option: giving both is giving it twice.
  r = RunVelmora({"dial", "5", "-o", dir.file("c.wav"), "--output", dir.file("d.wav")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("given twice"), std::string::npos) << r.err;
}

TEST(CommandLine, UnknownShortOptionIsBadUsageAndDashHAsksForHelp) {
  RunResult r = RunVelmora({"listen", "-i", "x.wav"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("unknown option -i"), std::string::npos) << r.err;
  r = RunVelmora({"dial", "-h"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("-o, --output"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace velmora::testing
