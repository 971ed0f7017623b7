// The "none" back end: no devices.  It is also the skeleton of a back end;
// to add one, copy this file and fill in:
//  1. a CaptureStream and/or PlaybackStream subclass, file-local, that moves
//     sound at the format it was opened with (see backend.h for the thread
//     rules: Read/Write run on the device thread and pace the sound; the
//     others come from the application's threads);
//  2. the counts: how many devices there are now (0 when the back end is not
//     installed or finds nothing: that is an answer, not an error);
//  3. the open functions: return the stream, or nullptr with an OpenError
//     whose text names the device and the reason;
//  4. has_default_*: whether the automatic choice may pick this back end;
//  5. a DeviceKind value and an entry in the table in device_choice.cpp, in
//     its place in the order of preference.

#include "velmora/platform/wave/backend.h"

namespace velmora::platform::wave {

namespace {

// A stream that never delivers sound: Read waits until it is interrupted.
class SilentCapture final : public CaptureStream {
 public:
  size_t ChunkBytes() const override { return 4096; }
  MMRESULT Start() override { return MMSYSERR_NOERROR; }
  void Stop() override {}
  size_t Read(uint8_t*, size_t, Waiter& waiter) override {
    while (waiter.SleepFor(std::chrono::seconds(1))) {
    }
    return 0;
  }
};

// A stream that swallows sound at once.
class DiscardPlayback final : public PlaybackStream {
 public:
  size_t ChunkBytes() const override { return 4096; }
  size_t Write(const uint8_t*, size_t size, Waiter&) override { return size; }
};

uint32_t NoInputs(const InputChoice&) {
  return 0;
}
uint32_t NoOutputs(const OutputChoice&) {
  return 0;
}

// Never reached through the public calls (the counts are 0), but kept whole
// so that a copy of this file starts from working code.
std::unique_ptr<CaptureStream> OpenInput(const InputChoice&, uint32_t index, const PcmFormat&,
                                         OpenError& error) {
  if (index != 0) {
    error = {MMSYSERR_BADDEVICEID, "no sound input device " + std::to_string(index)};
    return nullptr;
  }
  return std::make_unique<SilentCapture>();
}

std::unique_ptr<PlaybackStream> OpenOutput(const OutputChoice&, uint32_t index, const PcmFormat&,
                                           OpenError& error) {
  if (index != 0) {
    error = {MMSYSERR_BADDEVICEID, "no sound output device " + std::to_string(index)};
    return nullptr;
  }
  return std::make_unique<DiscardPlayback>();
}

bool Always() {
  return true;
}

}  // namespace

const Backend kNoneBackend = {
    DeviceKind::None, "none", NoInputs, NoOutputs, OpenInput, OpenOutput, Always, Always,
};

}  // namespace velmora::platform::wave
