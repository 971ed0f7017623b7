// Events are reference-counted objects found through a table of live handles,
// so that SetEvent or a wait on a handle that another thread has just closed
// fails cleanly: a device may signal its owner's event after the owner closed
// it (the sine generator closes its event before it resets its device).

#include "velmora/platform/event.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace velmora::platform {

struct EventObject {
  std::mutex mutex;
  std::condition_variable changed;
  bool manual_reset = false;
  bool signalled = false;
  bool closed = false;
};

namespace {

struct EventTable {
  std::mutex mutex;
  std::unordered_map<EventObject*, std::shared_ptr<EventObject>> live;
};

EventTable& Table() {
  static EventTable table;
  return table;
}

std::shared_ptr<EventObject> Find(HEVENT event) {
  if (!event) return nullptr;
  EventTable& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.live.find(event);
  return it == table.live.end() ? nullptr : it->second;
}

}  // namespace

HEVENT CreateEvent(bool manual_reset, bool initial_state) {
  auto event = std::make_shared<EventObject>();
  event->manual_reset = manual_reset;
  event->signalled = initial_state;
  EventTable& table = Table();
  std::lock_guard lock(table.mutex);
  table.live.emplace(event.get(), event);
  return event.get();
}

bool SetEvent(HEVENT handle) {
  auto event = Find(handle);
  if (!event) return false;
  {
    std::lock_guard lock(event->mutex);
    event->signalled = true;
  }
  // An auto-reset event releases one waiter; the one that wakes clears it.
  if (event->manual_reset)
    event->changed.notify_all();
  else
    event->changed.notify_one();
  return true;
}

bool ResetEvent(HEVENT handle) {
  auto event = Find(handle);
  if (!event) return false;
  std::lock_guard lock(event->mutex);
  event->signalled = false;
  return true;
}

uint32_t WaitForSingleObject(HEVENT handle, uint32_t timeout_ms) {
  auto event = Find(handle);
  if (!event) return WAIT_FAILED;
  std::unique_lock lock(event->mutex);
  auto ready = [&] { return event->signalled || event->closed; };
  if (timeout_ms == INFINITE) {
    event->changed.wait(lock, ready);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return WAIT_TIMEOUT;
  }
  if (event->closed) return WAIT_FAILED;
  if (!event->manual_reset) event->signalled = false;
  return WAIT_OBJECT_0;
}

bool CloseHandle(HEVENT handle) {
  std::shared_ptr<EventObject> event;
  {
    EventTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.live.find(handle);
    if (it == table.live.end()) return false;
    event = std::move(it->second);
    table.live.erase(it);
  }
  {
    std::lock_guard lock(event->mutex);
    event->closed = true;
  }
  event->changed.notify_all();
  return true;
}

}  // namespace velmora::platform
