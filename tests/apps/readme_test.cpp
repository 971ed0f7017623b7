// The README's embedding example must keep compiling and linking against
// the library as the library changes, and stay the one in examples/.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/support.h"

namespace velmora::testing {
namespace {

std::string FirstCppBlock(const std::string& markdown) {
  const std::string open = "```cpp\n";
  size_t start = markdown.find(open);
  if (start == std::string::npos) return "";
  start += open.size();
  size_t end = markdown.find("```", start);
  return end == std::string::npos ? "" : markdown.substr(start, end - start);
}

TEST(Readme, EmbeddingExampleCompilesAndLinks) {
  std::string example = FirstCppBlock(ReadFile((SourceDir() / "README.md").string()));
  ASSERT_NE(example.find("TDTMF"), std::string::npos) << "the README lost its example";
  // The README shows the example that the consumer projects build.
  EXPECT_EQ(example, ReadFile((SourceDir() / "examples" / "print_keys.cpp").string()));
  TempDir dir;
  WriteFile(dir.file("app.cpp"), example);
  RunResult r = velmora::testing::Run(
      {"g++", "-std=c++20", "-fsyntax-only", "-I" + SourceDir().string(), dir.file("app.cpp")}, "",
      std::chrono::seconds(120));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> link = {
      "g++", "-std=c++20",    "-I" + SourceDir().string(),           dir.file("app.cpp"),
      "-o",  dir.file("app"), "-L" + (BinaryDir() / "lib").string(), "-lvelmora"};
  // A library built with sanitizers needs their run-times in the program too.
  if (std::string(VELMORA_SANITIZE_FLAGS).size())
    link.push_back("-fsanitize=" + std::string(VELMORA_SANITIZE_FLAGS));
  r = velmora::testing::Run(link, "", std::chrono::seconds(120));
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

}  // namespace
}  // namespace velmora::testing
