#include "velmora/host/application.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "velmora/host/exception.h"

namespace velmora::host {

namespace {

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int64_t SteadyClock::NowMs() const {
  return MonotonicMs();
}

void ManualClock::Advance(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t target = NowMs() + ms;
  TApplication& app = Application();
  const bool installed = app.GetClock().get() == this;
  if (installed) {
    // Step from one due time to the next, so that every timer sees the time
    // at which it falls due, and timers interleave in time order.
    while (true) {
      std::optional<int64_t> due = app.NextTimerDue();
      if (!due || *due > target) break;
      if (*due > NowMs()) now_.store(*due, std::memory_order_release);
      app.FireDueTimers();
    }
  }
  if (target > NowMs()) now_.store(target, std::memory_order_release);
  if (installed) app.FireDueTimers();
}

TApplication::TApplication()
    : main_thread_(std::this_thread::get_id()), clock_(std::make_shared<SteadyClock>()) {
  event_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  if (event_fd_ < 0 || timer_fd_ < 0 || epoll_fd_ < 0) {
    throw Exception("Cannot create the message loop's descriptors");
  }
  for (int fd : {event_fd_, timer_fd_}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

TApplication::~TApplication() {
  for (int fd : {epoll_fd_, timer_fd_, event_fd_}) {
    if (fd >= 0) ::close(fd);
  }
}

// ---- message windows --------------------------------------------------------

HWND TApplication::AllocateHWnd(TWndMethod method) {
  std::lock_guard<std::mutex> lock(mutex_);
  HWND wnd = next_wnd_++;
  windows_[wnd] = Window{std::make_shared<TWndMethod>(std::move(method))};
  return wnd;
}

void TApplication::DeallocateHWnd(HWND wnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(wnd);
  queue_.erase_window(wnd);
}

bool TApplication::PostMessage(HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (windows_.find(wnd) == windows_.end()) return false;
  TMessage m;
  m.Msg = msg;
  m.WParam = wparam;
  m.LParam = lparam;
  queue_.push_back(Posted{wnd, m});
  SignalLocked();
  return true;
}

intptr_t TApplication::SendMessage(HWND wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  TMessage m;
  m.Msg = msg;
  m.WParam = wparam;
  m.LParam = lparam;
  Dispatch(wnd, m);
  return m.Result;
}

void TApplication::Dispatch(HWND wnd, TMessage& msg) {
  std::shared_ptr<TWndMethod> method;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return;
    method = it->second.method;  // kept alive even if the handler frees the window
  }
  try {
    if (*method) (*method)(msg);
  } catch (...) {
    HandleException(nullptr);
  }
}

// ---- the loop ---------------------------------------------------------------

void TApplication::PostedRing::push_back(const Posted& p) {
  if (size_ == slots_.size()) {
    std::vector<Posted> bigger(slots_.size() * 2);
    for (size_t k = 0; k < size_; ++k) bigger[k] = at(k);
    slots_.swap(bigger);
    head_ = 0;
  }
  at(size_) = p;
  ++size_;
}

TApplication::Posted TApplication::PostedRing::pop_front() {
  Posted p = at(0);
  head_ = (head_ + 1) & (slots_.size() - 1);
  --size_;
  return p;
}

void TApplication::PostedRing::erase_window(HWND wnd) {
  size_t kept = 0;
  for (size_t k = 0; k < size_; ++k) {
    if (at(k).wnd == wnd) continue;
    if (kept != k) at(kept) = at(k);
    ++kept;
  }
  size_ = kept;
}

void TApplication::SignalLocked() {
  if (signalled_) return;  // already readable: the loop has yet to see the queue
  uint64_t one = 1;
  ssize_t n = ::write(event_fd_, &one, sizeof one);
  (void)n;  // cannot fail short of a counter at its limit, which stays readable
  signalled_ = true;
}

void TApplication::SettleWakeup() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Queued work keeps the descriptor readable for the next round (and for a
  // foreign loop watching it); only an empty queue consumes the wake-up.
  if (!signalled_ || !queue_.empty()) return;
  uint64_t v;
  ssize_t n = ::read(event_fd_, &v, sizeof v);
  (void)n;
  signalled_ = false;
}

void TApplication::ArmTimerFd() {
  std::optional<int64_t> due = NextTimerDue();
  std::shared_ptr<Clock> clock = GetClock();
  if (!clock->IsRealTime()) due.reset();
  const int64_t now = due ? clock->NowMs() : 0;
  // Set at a clock reading `now`, the descriptor expires no earlier than
  // max(`due`, `now` + 1): while the clock reads less than the due time it
  // was set for, it cannot be readable and needs no new setting.
  if (armed_known_ && due == armed_due_ && (!due || *due > now)) return;
  itimerspec setting{};
  if (due) {
    // At least 1 ms: a zero value would disarm the descriptor.
    int64_t wait = std::max<int64_t>(*due - now, 1);
    setting.it_value.tv_sec = wait / 1000;
    setting.it_value.tv_nsec = (wait % 1000) * 1000000;
  }
  timerfd_settime(timer_fd_, 0, &setting, nullptr);
  armed_due_ = due;
  armed_known_ = true;
}

bool TApplication::WorkPending() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queue_.empty()) return true;
  }
  std::optional<int64_t> due = NextTimerDue();
  return due && *due <= Now();
}

void TApplication::ProcessMessages() {
  ProcessPending();
}

int TApplication::ProcessPending() {
  int handled = 0;
  size_t count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = queue_.size();
  }
  // Only what was posted before the call: a handler that posts again does
  // not keep this call from returning (its post leaves WakeupFd readable).
  for (size_t k = 0; k < count; ++k) {
    Posted p;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) break;
      p = queue_.pop_front();
    }
    Dispatch(p.wnd, p.msg);
    ++handled;
  }
  handled += FireDue();
  // Also after a round that handled nothing (Terminate, a message dropped
  // with its window): a wake-up with an empty queue is consumed here.
  SettleWakeup();
  ArmTimerFd();
  return handled;
}

bool TApplication::HandleMessage(int timeout_ms) {
  if (!WorkPending()) {
    ArmTimerFd();
    epoll_event events[2];
    int n = epoll_wait(epoll_fd_, events, 2, timeout_ms < 0 ? -1 : timeout_ms);
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd != timer_fd_) continue;
      // Consumed here, so that an expiry the timers do not account for (a
      // clock of another origin) cannot keep the descriptor readable.
      uint64_t v;
      ssize_t r = ::read(timer_fd_, &v, sizeof v);
      (void)r;
      armed_known_ = false;
    }
  }
  return ProcessPending() > 0;
}

void TApplication::Run() {
  while (!terminated_.load()) HandleMessage(-1);
  terminated_.store(false);
}

void TApplication::Terminate() {
  terminated_.store(true);
  std::lock_guard<std::mutex> lock(mutex_);
  SignalLocked();
}

void TApplication::RunFor(int ms) {
  const int64_t deadline = MonotonicMs() + ms;
  for (int64_t left = ms; left > 0; left = deadline - MonotonicMs()) {
    HandleMessage(static_cast<int>(left));
  }
}

bool TApplication::RunUntil(const std::function<bool()>& done, int timeout_ms) {
  const int64_t deadline = MonotonicMs() + timeout_ms;
  while (true) {
    if (done()) return true;
    int64_t left = deadline - MonotonicMs();
    if (left <= 0) return done();
    HandleMessage(static_cast<int>(std::min<int64_t>(left, 10)));
  }
}

// ---- timers -----------------------------------------------------------------

uint32_t TApplication::SetTimer(uint32_t interval_ms, std::function<void()> handler,
                                TObject* sender) {
  if (interval_ms == 0) interval_ms = 1;
  uint32_t id = next_timer_++;
  if (next_timer_ == 0) next_timer_ = 1;
  Timer t;
  t.interval = interval_ms;
  t.due = Now() + interval_ms;
  t.order = next_order_++;
  t.handler = std::make_shared<std::function<void()>>(std::move(handler));
  t.sender = sender;
  timers_[id] = std::move(t);
  ArmTimerFd();
  return id;
}

void TApplication::KillTimer(uint32_t id) {
  if (timers_.erase(id) > 0) ArmTimerFd();
}

std::optional<int64_t> TApplication::NextTimerDue() const {
  std::optional<int64_t> best;
  for (const auto& [id, t] : timers_) {
    if (!t.firing && (!best || t.due < *best)) best = t.due;
  }
  return best;
}

void TApplication::FireDueTimers() {
  FireDue();
}

int TApplication::FireDue() {
  int fired = 0;
  const bool real_time = GetClock()->IsRealTime();
  while (true) {
    const int64_t now = Now();
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      const Timer& t = it->second;
      if (t.firing || t.due > now) continue;
      if (next == timers_.end() || t.due < next->second.due ||
          (t.due == next->second.due && t.order < next->second.order)) {
        next = it;
      }
    }
    if (next == timers_.end()) break;
    const uint32_t id = next->first;
    Timer& t = next->second;
    t.due += t.interval;
    // A real-time loop that was held up fires once, not once per missed
    // interval; a manual clock is stepped through every due time instead.
    if (real_time && t.due <= now) t.due = now + t.interval;
    t.firing = true;
    std::shared_ptr<std::function<void()>> handler = t.handler;
    TObject* sender = t.sender;
    try {
      (*handler)();
    } catch (...) {
      HandleException(sender);
    }
    ++fired;
    auto again = timers_.find(id);  // the handler may have killed it
    if (again != timers_.end()) again->second.firing = false;
  }
  return fired;
}

// ---- time -------------------------------------------------------------------

void TApplication::SetClock(std::shared_ptr<Clock> clock) {
  {
    std::lock_guard<std::mutex> lock(clock_mutex_);
    clock_ = clock ? std::move(clock) : std::make_shared<SteadyClock>();
  }
  const int64_t now = Now();
  for (auto& [id, t] : timers_) t.due = now + t.interval;
  armed_known_ = false;  // a time line of another origin
  ArmTimerFd();
}

std::shared_ptr<Clock> TApplication::GetClock() const {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  return clock_;
}

int64_t TApplication::Now() const {
  return GetClock()->NowMs();
}

// ---- exceptions -------------------------------------------------------------

void TApplication::HandleException(TObject* sender, const std::exception& e) {
  if (OnException) {
    try {
      OnException(sender, e);
      return;
    } catch (...) {
      // A failing handler must not take the loop down: report the original.
    }
  }
  auto* own = dynamic_cast<const Exception*>(&e);
  std::string line =
      "velmora: " + (own ? own->ClassName() : std::string("Exception")) + ": " + e.what() + "\n";
  std::fputs(line.c_str(), stderr);
}

void TApplication::HandleException(TObject* sender) {
  try {
    throw;
  } catch (const std::exception& e) {
    HandleException(sender, e);
  } catch (...) {
    HandleException(sender, std::runtime_error("Unknown exception"));
  }
}

TApplication& Application() {
  static TApplication* app = new TApplication;  // never destroyed: see header
  return *app;
}

}  // namespace velmora::host
