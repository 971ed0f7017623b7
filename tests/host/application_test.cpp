// The message loop: timers on a manual clock, message windows, exceptions
// escaping handlers, and posting from other threads.
#include "velmora/host/application.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "velmora/host/exception.h"
#include "velmora/host/timer.h"

namespace velmora::host {
namespace {

bool Readable(int fd, int timeout_ms = 0) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
}

// Installs a manual clock (or the steady one) and restores the loop's
// state afterwards.
class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<ManualClock>(1000);
    Application().SetClock(clock_);
    Application().ProcessMessages();
  }
  void TearDown() override {
    Application().OnException = nullptr;
    Application().SetClock(nullptr);
    Application().ProcessMessages();
  }
  int64_t Elapsed() const { return clock_->NowMs() - 1000; }

  std::shared_ptr<ManualClock> clock_;
};

using Timers = LoopTest;

TEST_F(Timers, TwoTimersInterleaveInTimeOrder) {
  TComponent owner(nullptr);
  std::vector<std::pair<char, int64_t>> fired;
  auto* fast = new TTimer(&owner);
  fast->set_Enabled(false);
  fast->set_Interval(100);
  fast->OnTimer = [&](TObject* sender) {
    EXPECT_EQ(sender, fast);
    fired.emplace_back('A', Elapsed());
  };
  fast->set_Enabled(true);
  auto* slow = new TTimer(&owner);
  slow->set_Enabled(false);
  slow->set_Interval(310);
  slow->OnTimer = [&](TObject*) { fired.emplace_back('B', Elapsed()); };
  slow->set_Enabled(true);

  clock_->Advance(1000);  // one step covering ten and three due times
  std::vector<std::pair<char, int64_t>> expected = {
      {'A', 100}, {'A', 200}, {'A', 300}, {'B', 310}, {'A', 400}, {'A', 500}, {'A', 600},
      {'B', 620}, {'A', 700}, {'A', 800}, {'A', 900}, {'B', 930}, {'A', 1000}};
  EXPECT_EQ(fired, expected);

  fired.clear();
  for (int i = 0; i < 24; ++i) clock_->Advance(5);  // small steps: 1120 ms
  EXPECT_EQ(fired, (std::vector<std::pair<char, int64_t>>{{'A', 1100}}));
}

TEST_F(Timers, DefaultsDisablingAndIntervalChanges) {
  TTimer t(nullptr);
  EXPECT_TRUE(t.Enabled());
  EXPECT_EQ(t.Interval(), 1000u);
  std::vector<int64_t> at;
  t.OnTimer = [&](TObject*) { at.push_back(Elapsed()); };
  clock_->Advance(1000);
  EXPECT_EQ(at, std::vector<int64_t>{1000});

  t.set_Enabled(false);
  clock_->Advance(5000);
  EXPECT_EQ(at.size(), 1u);
  t.set_Enabled(true);  // one full interval from now
  clock_->Advance(999);
  EXPECT_EQ(at.size(), 1u);
  clock_->Advance(1);
  EXPECT_EQ(at.back(), 7000);

  t.set_Interval(250);  // re-armed from 7000
  clock_->Advance(600);
  EXPECT_EQ(at, (std::vector<int64_t>{1000, 7000, 7250, 7500}));
  t.set_Interval(0);
  clock_->Advance(10000);
  EXPECT_EQ(at.size(), 4u);
}

TEST_F(Timers, HandlerChangesItsOwnTimer) {
  TTimer t(nullptr);
  t.set_Interval(100);
  std::vector<int64_t> at;
  t.OnTimer = [&](TObject*) {
    at.push_back(Elapsed());
    if (at.size() == 2) t.set_Interval(30);
    if (at.size() == 4) t.set_Enabled(false);
  };
  clock_->Advance(1000);
  EXPECT_EQ(at, (std::vector<int64_t>{100, 200, 230, 260}));
}

TEST_F(Timers, TimerFreedInsideItsOwnHandler) {
  int fired = 0;
  auto* t = new TTimer(nullptr);
  t->set_Interval(10);
  t->OnTimer = [&fired, t](TObject*) {
    ++fired;
    delete t;  // also destroys this handler's own std::function
  };
  clock_->Advance(100);
  EXPECT_EQ(fired, 1);

  // Freed through its owner, from its own handler.
  auto* owner = new TComponent(nullptr);
  auto* owned = new TTimer(owner);
  owned->set_Interval(10);
  int owned_fired = 0;
  owned->OnTimer = [&owned_fired, owner](TObject*) {
    ++owned_fired;
    delete owner;
  };
  clock_->Advance(100);
  EXPECT_EQ(owned_fired, 1);
}

TEST_F(Timers, ExceptionInHandlerReachesOnExceptionAndTheLoopGoesOn) {
  TTimer failing(nullptr), steady(nullptr);
  failing.set_Interval(100);
  steady.set_Interval(100);
  int failing_calls = 0, steady_calls = 0;
  failing.OnTimer = [&](TObject*) {
    ++failing_calls;
    throw EConvertError("bad tick");
  };
  steady.OnTimer = [&](TObject*) { ++steady_calls; };
  std::vector<std::pair<TObject*, std::string>> reported;
  Application().OnException = [&](TObject* sender, const std::exception& e) {
    reported.emplace_back(sender, e.what());
  };
  clock_->Advance(300);
  EXPECT_EQ(failing_calls, 3);
  EXPECT_EQ(steady_calls, 3);
  ASSERT_EQ(reported.size(), 3u);
  EXPECT_EQ(reported[0].first, &failing);
  EXPECT_EQ(reported[0].second, "bad tick");

  // Without a handler: one line on stderr, with the class name.
  Application().OnException = nullptr;
  ::testing::internal::CaptureStderr();
  clock_->Advance(100);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "velmora: EConvertError: bad tick\n");
  // A handler that fails itself does not stop the loop either.
  Application().OnException = [](TObject*, const std::exception&) {
    throw std::runtime_error("handler broke");
  };
  ::testing::internal::CaptureStderr();
  clock_->Advance(100);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "velmora: EConvertError: bad tick\n");
  EXPECT_EQ(steady_calls, 5);
}

using Windows = LoopTest;

TEST_F(Windows, PostedMessagesReachTheWindowInOrder) {
  std::vector<std::pair<uint32_t, intptr_t>> got;
  HWND w = Application().AllocateHWnd([&](TMessage& m) { got.emplace_back(m.Msg, m.LParam); });
  EXPECT_NE(w, 0u);
  EXPECT_TRUE(Application().PostMessage(w, 0x3C0, 1, 10));
  EXPECT_TRUE(Application().PostMessage(w, 0x3C0, 2, 20));
  EXPECT_TRUE(got.empty());  // nothing runs before the loop does
  Application().ProcessMessages();
  EXPECT_EQ(got, (std::vector<std::pair<uint32_t, intptr_t>>{{0x3C0, 10}, {0x3C0, 20}}));
  EXPECT_EQ(Application().SendMessage(w, WM_USER, 0, 5), 0);
  EXPECT_EQ(got.back().second, 5);
  Application().DeallocateHWnd(w);
  EXPECT_FALSE(Application().PostMessage(w, 1, 0, 0));
  EXPECT_FALSE(Application().PostMessage(0, 1, 0, 0));
}

TEST_F(Windows, DeallocateDropsQueuedMessages) {
  int calls = 0;
  HWND a = Application().AllocateHWnd([&](TMessage&) { ++calls; });
  HWND b = Application().AllocateHWnd([&](TMessage&) { calls += 100; });
  Application().PostMessage(a, 1, 0, 0);
  Application().PostMessage(b, 1, 0, 0);
  Application().PostMessage(a, 1, 0, 0);
  Application().DeallocateHWnd(a);
  Application().ProcessMessages();
  EXPECT_EQ(calls, 100);
  Application().DeallocateHWnd(b);
}

TEST_F(Windows, HandlerMayFreeItsWindowAndExceptionsAreReported) {
  HWND w = 0;
  int calls = 0;
  w = Application().AllocateHWnd([&](TMessage& m) {
    ++calls;
    if (m.Msg == 1) throw Exception("boom");
    Application().DeallocateHWnd(w);
  });
  std::vector<std::string> reported;
  Application().OnException = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, nullptr);
    reported.push_back(e.what());
  };
  Application().PostMessage(w, 1, 0, 0);
  Application().PostMessage(w, 2, 0, 0);  // frees the window
  Application().PostMessage(w, 3, 0, 0);  // dropped with it
  Application().ProcessMessages();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(reported, std::vector<std::string>{"boom"});
}

TEST_F(Windows, WakeupFdSignalsPendingWork) {
  int fd = Application().WakeupFd();
  EXPECT_FALSE(Readable(fd));
  int calls = 0;
  HWND w = Application().AllocateHWnd([&](TMessage&) { ++calls; });
  Application().PostMessage(w, 7, 0, 0);
  EXPECT_TRUE(Readable(fd));
  Application().ProcessMessages();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(Readable(fd));
  // A handler that posts again leaves the descriptor readable for the next
  // round instead of looping inside ProcessMessages.
  HWND again = 0;
  again = Application().AllocateHWnd([&](TMessage& m) {
    if (m.Msg < 3) Application().PostMessage(again, m.Msg + 1, 0, 0);
  });
  Application().PostMessage(again, 1, 0, 0);
  Application().ProcessMessages();
  EXPECT_TRUE(Readable(fd));
  EXPECT_TRUE(Application().HandleMessage(0));
  EXPECT_TRUE(Application().HandleMessage(0));
  EXPECT_FALSE(Application().HandleMessage(0));
  Application().DeallocateHWnd(w);
  Application().DeallocateHWnd(again);
}

TEST(LoopConcurrency, PostsFromOtherThreadsRunOnTheGuiThread) {
  TApplication& app = Application();
  const auto gui = std::this_thread::get_id();
  EXPECT_EQ(app.MainThreadId(), gui);
  constexpr int kPerThread = 500;
  std::vector<std::vector<uintptr_t>> seen(2);
  int wrong_thread = 0;
  HWND w = app.AllocateHWnd([&](TMessage& m) {
    if (std::this_thread::get_id() != gui) ++wrong_thread;
    seen[static_cast<size_t>(m.LParam)].push_back(m.WParam);
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < 2; ++t) {
    posters.emplace_back([&app, w, t] {
      for (int i = 0; i < kPerThread; ++i)
        app.PostMessage(w, WM_USER, static_cast<uintptr_t>(i), t);
    });
  }
  bool done =
      app.RunUntil([&] { return seen[0].size() + seen[1].size() == 2 * kPerThread; }, 20000);
  for (auto& p : posters) p.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(wrong_thread, 0);
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i)
      EXPECT_EQ(s[static_cast<size_t>(i)], static_cast<uintptr_t>(i));
  }
  app.DeallocateHWnd(w);
}

TEST(LoopConcurrency, TerminateFromAnotherThreadEndsRun) {
  TApplication& app = Application();
  std::thread stopper([&app] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    app.Terminate();
  });
  app.Run();  // returns only through Terminate
  stopper.join();
  EXPECT_FALSE(app.Terminated());  // cleared for the next run
}

TEST(LoopConcurrency, RealClockTimersWakeTheLoop) {
  TApplication& app = Application();
  app.SetClock(nullptr);
  TTimer t(nullptr);
  t.set_Interval(15);
  std::atomic<int> fired{0};
  t.OnTimer = [&](TObject*) { ++fired; };
  // The descriptor turns readable by itself once the timer is due.
  EXPECT_TRUE(Readable(app.WakeupFd(), 5000));
  EXPECT_TRUE(app.RunUntil([&] { return fired >= 3; }, 10000));
  t.set_Enabled(false);
  app.ProcessMessages();
}

}  // namespace
}  // namespace velmora::host
