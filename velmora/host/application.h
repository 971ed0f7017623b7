// The message loop of the GUI thread: message windows, posted messages,
// timers and the handling of exceptions that escape handlers.
//
// One TApplication exists per process (Application()); the thread that first
// calls Application() is the GUI thread.  PostMessage and Terminate are safe
// from any thread; everything else belongs to the GUI thread, and every
// message and timer handler runs on the thread that calls the loop functions
// (ProcessMessages, HandleMessage, Run, RunFor, RunUntil, ManualClock::
// Advance).
//
// An exception that escapes a message or timer handler is handed to
// OnException (default: one line "velmora: <class>: <message>" on stderr) and
// the loop goes on.
//
// WakeupFd() becomes readable whenever work is pending (a message posted, a
// timer of a real-time clock due), so another loop (Qt, GTK, asio, poll) can
// watch it and call ProcessMessages().
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "velmora/host/classes.h"
#include "velmora/host/clock.h"

namespace velmora::host {

using HWND = std::uintptr_t;  // 0 = no window

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;
using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& e)>;

constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;

class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // ---- message windows
  // A hidden window whose every message is handed to `method`.
  HWND AllocateHWnd(TWndMethod method);
  // Frees the window; messages still queued for it are dropped.  Safe inside
  // the window's own handler.
  void DeallocateHWnd(HWND wnd);
  // Queues a message for the window; false when the window does not exist.
  // Safe from any thread.
  bool PostMessage(HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);
  // Calls the window's handler at once on the calling thread and returns
  // the message's Result (0 for an unknown window).
  intptr_t SendMessage(HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

  // ---- the loop
  // Handles every message posted before the call and every timer due now,
  // then returns.
  void ProcessMessages();
  // Waits up to `timeout_ms` (-1: no limit) for work and handles what is
  // there; true when something was handled.
  bool HandleMessage(int timeout_ms);
  // Runs the loop until Terminate() is called; the flag is cleared again on
  // return, so the loop can be run anew.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Runs the loop for `ms` milliseconds of real time.
  void RunFor(int ms);
  // Runs the loop until done() returns true (checked after every round and
  // at least every 10 ms) or `timeout_ms` of real time pass; returns done().
  bool RunUntil(const std::function<bool()>& done, int timeout_ms);

  int WakeupFd() const { return epoll_fd_; }
  std::thread::id MainThreadId() const { return main_thread_; }

  // ---- timers (used by TTimer; an id is never 0)
  // Arms a periodic timer of `interval_ms` (>= 1) that first falls due one
  // interval from now.
  uint32_t SetTimer(uint32_t interval_ms, std::function<void()> handler, TObject* sender);
  void KillTimer(uint32_t id);
  // The due time of the earliest timer, if any.
  std::optional<int64_t> NextTimerDue() const;
  // Fires, in order of due time, every timer due at or before Now().
  void FireDueTimers();

  // ---- time
  // Replaces the clock (nullptr: the steady clock).  Armed timers restart
  // their interval on the new clock's time line.
  void SetClock(std::shared_ptr<Clock> clock);
  std::shared_ptr<Clock> GetClock() const;
  int64_t Now() const;

  // ---- exceptions
  TExceptionEvent OnException;
  // Reports an exception: to OnException when set, else on stderr.
  void HandleException(TObject* sender, const std::exception& e);
  // Reports the exception in flight (call inside a catch block).
  void HandleException(TObject* sender);

 private:
  struct Window {
    std::shared_ptr<TWndMethod> method;
  };
  struct Posted {
    HWND wnd;
    TMessage msg;
  };
  // The queue of posted messages: a ring that grows by doubling and keeps
  // its storage, so posting allocates nothing once the ring is as large as
  // the longest queue seen.
  class PostedRing {
   public:
    PostedRing() : slots_(64) {}
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    void push_back(const Posted& p);
    Posted pop_front();
    // Drops the messages of `wnd`, keeping the order of the others.
    void erase_window(HWND wnd);

   private:
    Posted& at(size_t k) { return slots_[(head_ + k) & (slots_.size() - 1)]; }
    std::vector<Posted> slots_;  // a power of two in size
    size_t head_ = 0;
    size_t size_ = 0;
  };
  struct Timer {
    uint32_t interval;
    int64_t due;
    uint64_t order;  // arming order, for timers due at the same moment
    std::shared_ptr<std::function<void()>> handler;
    TObject* sender;
    bool firing = false;
  };

  // The wake-up eventfd is written only when the queue turns non-empty (or
  // Terminate is called) and read only once the queue is empty again:
  // `signalled_` (under mutex_) tells whether its counter is non-zero.
  void SignalLocked();
  void SettleWakeup();
  // Handles pending messages and due timers; returns how many.
  int ProcessPending();
  int FireDue();
  // Sets the timer descriptor for the next due timer of a real-time clock;
  // leaves it alone when it already stands for that time and cannot have
  // expired yet (setting it also clears an expiry, so a descriptor that did
  // expire is always set again).
  void ArmTimerFd();
  void Dispatch(HWND wnd, TMessage& msg);
  bool WorkPending();

  std::thread::id main_thread_;
  int event_fd_ = -1;  // posted messages and Terminate
  int timer_fd_ = -1;  // the next timer of a real-time clock
  int epoll_fd_ = -1;  // both: the WakeupFd

  mutable std::mutex mutex_;  // windows_, queue_, next_wnd_
  std::map<HWND, Window> windows_;
  PostedRing queue_;
  bool signalled_ = false;
  HWND next_wnd_ = 1;

  std::map<uint32_t, Timer> timers_;  // GUI thread only
  uint32_t next_timer_ = 1;
  uint64_t next_order_ = 0;
  // The due time the timer descriptor is set for (nullopt: disarmed);
  // `armed_known_` false forces the next ArmTimerFd to set it.
  std::optional<int64_t> armed_due_;
  bool armed_known_ = false;

  mutable std::mutex clock_mutex_;
  std::shared_ptr<Clock> clock_;

  std::atomic<bool> terminated_{false};
};

// The process's application object; the first caller's thread is the GUI
// thread.  It lives until the process ends.
TApplication& Application();

}  // namespace velmora::host
