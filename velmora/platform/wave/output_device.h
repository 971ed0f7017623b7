// An open wave output: the queue of buffers that the device thread plays
// through a playback stream, in queue order.
#pragma once

#include <memory>
#include <vector>

#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/device_core.h"

namespace velmora::platform {

struct WaveOutObject final : wave::DeviceCore {
 public:
  WaveOutObject(std::unique_ptr<wave::PlaybackStream> stream, const wave::PcmFormat& format,
                const wave::Notifier& notifier);
  ~WaveOutObject() override;

  void Launch();
  void NotifyOpen() const { Notify(MM_WOM_OPEN, 0); }

  MMRESULT Prepare(WAVEHDR* header) { return PrepareHeader(header, 0); }
  MMRESULT Unprepare(WAVEHDR* header) { return UnprepareHeader(header); }
  MMRESULT Write(WAVEHDR* header);
  MMRESULT Reset();
  MMRESULT Pause();
  MMRESULT Restart();
  MMRESULT Close();

 private:
  void Run();

  std::unique_ptr<wave::PlaybackStream> stream_;
  bool paused_ = false;
  bool idle_ = true;         // the stream has been told that nothing plays
  size_t offset_ = 0;        // bytes of the head buffer already played
  uint64_t generation_ = 0;  // changes at each reset: a Write in progress is void
  std::vector<uint8_t> scratch_;
};

}  // namespace velmora::platform
