// Starting external programs without a shell, waiting for them, ending
// them; splitting command lines; events and the tick count.

#include "velmora/platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "tests/support/support.h"
#include "velmora/platform/event.h"
#include "velmora/platform/tick.h"

namespace velmora::testing {
namespace {

using namespace platform;
using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksQuotesAndBackslashes) {
  EXPECT_EQ(SplitCommandLine(""), Args{});
  EXPECT_EQ(SplitCommandLine("  \t "), Args{});
  EXPECT_EQ(SplitCommandLine(" a  b\tc "), (Args{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"a b\" c"), (Args{"a b", "c"}));
  EXPECT_EQ(SplitCommandLine("x\"a b\"y"), (Args{"xa by"}));
  EXPECT_EQ(SplitCommandLine("a \"\" b"), (Args{"a", "", "b"}));
  EXPECT_EQ(SplitCommandLine("\"unclosed part"), (Args{"unclosed part"}));
  // The decoder's arguments: Windows paths keep their backslashes.
  EXPECT_EQ(SplitCommandLine("--decode plugins\\x.mp3"), (Args{"--decode", "plugins\\x.mp3"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\dir with space\\\" next"), (Args{"C:\\dir with space\" next"}));
  // Backslashes before a quote: 2n give n and a quote mark, 2n+1 a literal quote.
  EXPECT_EQ(SplitCommandLine("a\\\"b"), (Args{"a\"b"}));
  EXPECT_EQ(SplitCommandLine("a\\\\\"b c\""), (Args{"a\\b c"}));
  EXPECT_EQ(SplitCommandLine("a\\\\\\\"b"), (Args{"a\\\"b"}));
  EXPECT_EQ(SplitCommandLine("\"a\"\"b\""), (Args{"a\"b"}));
}

TEST(Process, ExitCodesAndArgumentsArePassedUnchanged) {
  TempDir dir;
  // Arguments reach the program as they are: no shell sees them.
  SpawnResult r = Spawn(
      "sh", {"-c", "printf '%s|' \"$@\" > out.txt; exit 3", "sh", "a b", "c\"d", "$HOME", "*"},
      dir.path().string());
  ASSERT_TRUE(r) << r.error;
  WaitResult w = WaitForExit(r.pid, 10000);
  ASSERT_EQ(w.status, WaitStatus::Exited);
  EXPECT_EQ(w.exit_code, 3);
  EXPECT_EQ(ReadFile(dir.file("out.txt")), "a b|c\"d|$HOME|*|");
  // Reaped: waiting again fails.
  EXPECT_EQ(WaitForExit(r.pid, 0).status, WaitStatus::Failed);

  // A relative path is taken in the working directory, as the plug-ins are.
  WriteFile(dir.file("tool"), "#!/bin/sh\nexit 7\n");
  chmod(dir.file("tool").c_str(), 0755);
  r = Spawn("./tool", {}, dir.path().string());
  ASSERT_TRUE(r) << r.error;
  EXPECT_EQ(WaitForExit(r.pid, 10000).exit_code, 7);
}

TEST(Process, FailuresNameTheProgramAndTheReason) {
  TempDir dir;
  SpawnResult r = Spawn("/no/such/program", {}, "");
  EXPECT_FALSE(r);
  EXPECT_NE(r.error.find("/no/such/program"), std::string::npos);
  EXPECT_NE(r.error.find("No such file"), std::string::npos);
  r = Spawn("no-such-program-anywhere", {}, "");
  EXPECT_FALSE(r);
  r = Spawn("true", {}, dir.file("missing"));
  EXPECT_FALSE(r);
  EXPECT_NE(r.error.find("working directory"), std::string::npos);
  EXPECT_EQ(WaitForExit(-1, 0).status, WaitStatus::Failed);
  // Only our own children are ever signalled.
  EXPECT_FALSE(Kill(1));
  EXPECT_FALSE(Kill(-1));
}

TEST(Process, TimeOutThenKill) {
  SpawnResult r = Spawn("sleep", {"30"}, "");
  ASSERT_TRUE(r) << r.error;
  auto start = std::chrono::steady_clock::now();
  WaitResult w = WaitForExit(r.pid, 100);
  EXPECT_EQ(w.status, WaitStatus::TimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_TRUE(Kill(r.pid));
  EXPECT_FALSE(Kill(r.pid));  // already reaped
  // A child killed by a signal reports 128 + the signal.
  r = Spawn("sh", {"-c", "kill -TERM $$"}, "");
  ASSERT_TRUE(r);
  EXPECT_EQ(WaitForExit(r.pid, 10000).exit_code, 128 + 15);
}

TEST(EventConcurrency, AutoAndManualResetAndClosedHandles) {
  HEVENT automatic = CreateEvent(false, true);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
  HEVENT manual = CreateEvent(true, false);
  EXPECT_EQ(WaitForSingleObject(manual, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

  // Set from another thread, it wakes a waiter.
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(automatic);
  });
  EXPECT_EQ(WaitForSingleObject(automatic, INFINITE), WAIT_OBJECT_0);
  setter.join();

  // Closing ends a wait in progress; a closed handle is refused.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    CloseHandle(manual);
  });
  EXPECT_EQ(WaitForSingleObject(manual, 10000), WAIT_FAILED);
  closer.join();
  EXPECT_FALSE(SetEvent(manual));
  EXPECT_FALSE(CloseHandle(manual));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(automatic));
}

TEST(Tick, CountsMilliseconds) {
  uint32_t a = GetTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  uint32_t elapsed = GetTickCount() - a;  // wrap-safe difference
  EXPECT_GE(elapsed, 50u);
  EXPECT_LT(elapsed, 60000u);
}

}  // namespace
}  // namespace velmora::testing
