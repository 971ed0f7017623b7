// An open wave input: the queue of buffers that the device thread fills from
// a capture stream.
#pragma once

#include <memory>
#include <vector>

#include "platform/wave/backend.h"
#include "platform/wave/device_core.h"

namespace velmora::platform {

struct WaveInObject final : wave::DeviceCore {
 public:
  WaveInObject(std::unique_ptr<wave::CaptureStream> stream, const wave::PcmFormat& format,
               const wave::Notifier& notifier);
  ~WaveInObject() override;

  // Starts the device thread; called once the handle has been handed out.
  void Launch();
  void NotifyOpen() const { Notify(MM_WIM_OPEN, 0); }

  MMRESULT Prepare(WAVEHDR* header);
  MMRESULT Unprepare(WAVEHDR* header) { return UnprepareHeader(header); }
  MMRESULT Add(WAVEHDR* header);
  MMRESULT Start();
  MMRESULT Stop();
  MMRESULT Reset();
  MMRESULT Close();

 private:
  void Run();
  bool Ready() const { return started_ && head_ && !ended_; }
  // Copies pending sound into the queued buffers, completing full ones.
  void DistributeLocked();
  void AfterNotify() override;

  std::unique_ptr<wave::CaptureStream> stream_;
  bool started_ = false;
  bool source_ended_ = false;  // the stream has no more sound
  bool ended_ = false;         // ... and everything it gave has been delivered
  std::vector<uint8_t> scratch_;
  size_t pending_offset_ = 0;  // sound read but not yet in a buffer
  size_t pending_length_ = 0;
};

}  // namespace velmora::platform
