// The loop's wake-up descriptors: written only when the queue turns
// non-empty and consumed only once it is empty again, a timer descriptor set
// only when the next due time changes; none of it may lose a wake-up, leave
// the descriptor readable with nothing to do (a foreign loop would spin), or
// disturb the order of the queue as it grows and wraps.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "velmora/host/application.h"
#include "velmora/host/timer.h"

namespace velmora::host {
namespace {

bool Readable(int fd, int timeout_ms = 0) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
}

TEST(LoopWakeup, TheDescriptorIsReadableExactlyWhileWorkIsQueued) {
  TApplication& app = Application();
  app.ProcessMessages();
  const int fd = app.WakeupFd();
  ASSERT_FALSE(Readable(fd));
  std::vector<int> got;
  HWND w = 0;
  w = app.AllocateHWnd([&](TMessage& m) {
    got.push_back(static_cast<int>(m.WParam));
    // A post from a handler, to a queue that is not empty yet.
    if (m.WParam == 2) app.PostMessage(w, 1, 10, 0);
  });
  for (uintptr_t i = 1; i <= 3; ++i) app.PostMessage(w, 1, i, 0);
  EXPECT_TRUE(Readable(fd));
  app.ProcessMessages();  // handles 1, 2, 3; the post of 2 waits for the next round
  EXPECT_EQ(got, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(Readable(fd)) << "the handler's post is still queued";
  app.ProcessMessages();
  EXPECT_EQ(got.back(), 10);
  EXPECT_FALSE(Readable(fd)) << "an empty queue leaves nothing to wake for";

  // Terminate wakes a loop with nothing queued; the round that sees it
  // consumes the wake-up.
  app.Terminate();
  EXPECT_TRUE(Readable(fd));
  app.ProcessMessages();
  EXPECT_FALSE(Readable(fd));
  app.Run();  // returns at once and clears the flag
  EXPECT_FALSE(app.Terminated());

  // Messages dropped with their window leave no wake-up behind either.
  app.PostMessage(w, 1, 99, 0);
  app.DeallocateHWnd(w);
  EXPECT_TRUE(Readable(fd));
  EXPECT_FALSE(app.HandleMessage(0));
  EXPECT_FALSE(Readable(fd));
}

TEST(LoopWakeup, TheQueueKeepsItsOrderAsItGrowsAndWraps) {
  TApplication& app = Application();
  app.ProcessMessages();
  std::vector<uintptr_t> a_seen, b_seen;
  HWND a = app.AllocateHWnd([&](TMessage& m) { a_seen.push_back(m.WParam); });
  HWND b = app.AllocateHWnd([&](TMessage& m) { b_seen.push_back(m.WParam); });
  // Move the start of the ring away from its first slot, then queue more
  // than it holds, so that it grows while its contents wrap around.
  for (uintptr_t i = 0; i < 40; ++i) app.PostMessage(a, 1, i, 0);
  app.ProcessMessages();
  ASSERT_EQ(a_seen.size(), 40u);
  a_seen.clear();
  for (uintptr_t i = 0; i < 300; ++i) app.PostMessage(i % 3 == 0 ? a : b, 1, i, 0);
  app.DeallocateHWnd(a);  // drops a's 100 messages from the middle of the ring
  for (uintptr_t i = 300; i < 310; ++i) app.PostMessage(b, 1, i, 0);
  app.ProcessMessages();
  EXPECT_TRUE(a_seen.empty());
  std::vector<uintptr_t> want;
  for (uintptr_t i = 0; i < 310; ++i)
    if (i >= 300 || i % 3 != 0) want.push_back(i);
  EXPECT_EQ(b_seen, want);
  app.DeallocateHWnd(b);
}

// A post that comes while the GUI thread decides to sleep must wake it: with
// a lost wake-up HandleMessage would sleep out its whole time-out and
// return false.
TEST(LoopWakeupConcurrency, NoPostIsLostWhileTheLoopGoesToSleep) {
  TApplication& app = Application();
  app.ProcessMessages();
  constexpr int kRounds = 3000;
  std::atomic<int> handled{0};
  HWND w = app.AllocateHWnd(
      [&](TMessage& m) { handled.store(static_cast<int>(m.WParam), std::memory_order_release); });
  std::thread poster([&] {
    for (int i = 1; i <= kRounds; ++i) {
      app.PostMessage(w, WM_USER, static_cast<uintptr_t>(i), 0);
      // Wait for the GUI thread to handle it, so that the next post finds
      // it between rounds, on its way to sleep, or asleep.
      while (handled.load(std::memory_order_acquire) != i) std::this_thread::yield();
    }
  });
  int slept_through = 0;
  while (handled.load(std::memory_order_acquire) != kRounds) {
    if (!app.HandleMessage(5000)) ++slept_through;
    if (slept_through > 0) break;
  }
  poster.join();
  EXPECT_EQ(slept_through, 0);
  EXPECT_EQ(handled.load(), kRounds);
  app.ProcessMessages();
  EXPECT_FALSE(Readable(app.WakeupFd()));
  app.DeallocateHWnd(w);
}

// A foreign loop polls the descriptor and calls ProcessMessages: a timer
// that fired must not leave it readable (the loop would spin), and the next
// due time must wake it again; messages flowing meanwhile change nothing.
TEST(LoopWakeupConcurrency, AFiredTimerLeavesNothingReadableAndTheNextOneWakes) {
  TApplication& app = Application();
  app.SetClock(nullptr);
  app.ProcessMessages();
  const int fd = app.WakeupFd();
  TTimer t(nullptr);
  // Long enough that the check after ProcessMessages comes well before the
  // next due time, also on a slow, loaded machine.
  t.set_Interval(250);
  int fired = 0;
  t.OnTimer = [&](TObject*) { ++fired; };
  for (int tick = 1; tick <= 3; ++tick) {
    ASSERT_TRUE(Readable(fd, 5000)) << "tick " << tick;
    app.ProcessMessages();
    ASSERT_EQ(fired, tick);
    EXPECT_FALSE(Readable(fd)) << "tick " << tick;
  }
  // Posts from another thread while the timer runs: the timer still fires,
  // and every post is handled.
  std::atomic<int> handled{0};
  HWND w = app.AllocateHWnd([&](TMessage&) { ++handled; });
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    while (!stop) {
      app.PostMessage(w, WM_USER, 0, 0);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  const int before = fired;
  const bool ticked = app.RunUntil([&] { return fired >= before + 3; }, 10000);
  stop = true;
  poster.join();
  EXPECT_TRUE(ticked);
  t.set_Enabled(false);
  app.ProcessMessages();
  EXPECT_GT(handled.load(), 0);
  EXPECT_FALSE(Readable(fd));
  app.DeallocateHWnd(w);
}

}  // namespace
}  // namespace velmora::host
