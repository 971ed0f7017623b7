// The table of open devices of one direction.  Every call looks its handle up
// here before touching it, so a handle that was closed or never opened gives
// MMSYSERR_INVALHANDLE instead of a crash, and the reference taken keeps the
// device alive for the length of the call.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

namespace velmora::platform::wave {

template <class Device>
class HandleTable {
 public:
  void Add(std::shared_ptr<Device> device) {
    std::lock_guard lock(mutex_);
    Device* key = device.get();
    live_.emplace(key, std::move(device));
  }
  std::shared_ptr<Device> Find(Device* handle) {
    if (!handle) return nullptr;
    std::lock_guard lock(mutex_);
    auto it = live_.find(handle);
    return it == live_.end() ? nullptr : it->second;
  }
  void Remove(Device* handle) {
    std::shared_ptr<Device> last;  // destroyed after the lock is released
    std::lock_guard lock(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) return;
    last = std::move(it->second);
    live_.erase(it);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<Device*, std::shared_ptr<Device>> live_;
};

}  // namespace velmora::platform::wave
