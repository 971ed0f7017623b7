#include "velmora/platform/wave/notifier.h"

#include <memory>
#include <mutex>

namespace velmora::platform {

namespace {

// The poster is replaced rarely and called often from device threads: callers
// take a reference-counted copy under a short lock and call it unlocked, so
// the poster never runs with a lock held that the GUI thread might need.
std::mutex g_poster_mutex;
std::shared_ptr<const WindowMessagePoster> g_poster;

std::shared_ptr<const WindowMessagePoster> CurrentPoster() {
  std::lock_guard lock(g_poster_mutex);
  return g_poster;
}

}  // namespace

void SetWindowMessagePoster(WindowMessagePoster poster) {
  auto next = poster ? std::make_shared<const WindowMessagePoster>(std::move(poster)) : nullptr;
  std::lock_guard lock(g_poster_mutex);
  g_poster = std::move(next);
}

namespace wave {

Notifier::Notifier(uint32_t flags, uintptr_t callback, uintptr_t instance)
    : kind_(flags & CALLBACK_TYPEMASK), callback_(callback), instance_(instance) {}

MMRESULT Notifier::Check(uint32_t flags) {
  switch (flags & CALLBACK_TYPEMASK) {
    case CALLBACK_NULL:
    case CALLBACK_WINDOW:
    case CALLBACK_FUNCTION:
    case CALLBACK_EVENT:
      return MMSYSERR_NOERROR;
    default:
      return MMSYSERR_INVALPARAM;
  }
}

void Notifier::Notify(uintptr_t device, uint32_t msg, uintptr_t param) const {
  switch (kind_) {
    case CALLBACK_WINDOW: {
      if (callback_ == 0) return;  // "no window": nothing to post to
      auto poster = CurrentPoster();
      if (poster) (*poster)(callback_, msg, device, static_cast<intptr_t>(param));
      return;
    }
    case CALLBACK_EVENT:
      // A closed event is refused by SetEvent; nothing else to do.
      SetEvent(reinterpret_cast<HEVENT>(callback_));
      return;
    case CALLBACK_FUNCTION:
      if (callback_ == 0) return;
      if (input_)
        reinterpret_cast<WaveInProc>(callback_)(reinterpret_cast<HWAVEIN>(device), msg, instance_,
                                                param, 0);
      else
        reinterpret_cast<WaveOutProc>(callback_)(reinterpret_cast<HWAVEOUT>(device), msg, instance_,
                                                 param, 0);
      return;
    default:
      return;
  }
}

}  // namespace wave
}  // namespace velmora::platform
