// The loopback: every output opened on it plays into one mix bus, and every
// input opened on it captures that mix, resampled to its own format, in real
// time.  Silence when nothing plays.

#include <algorithm>
#include <cstring>

#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/mix_bus.h"

namespace velmora::platform::wave {

namespace {

// The mix rate of the loopback: the rate of the capture format that the
// tone component uses, so its usual outputs (44100 Hz, 22050 Hz) pass
// without interpolation error.
constexpr uint32_t kLoopbackRate = 44100;
// An input whose owner stopped queueing buffers for a while resumes with at
// most this much of the past.
constexpr std::chrono::milliseconds kMaxBacklog{250};

// Never destroyed: device threads may still use it while the process exits.
MixBus& Bus() {
  static auto* bus = new MixBus(kLoopbackRate);
  return *bus;
}

class LoopbackCapture final : public CaptureStream {
 public:
  LoopbackCapture(MixBus& bus, const PcmFormat& format)
      : bus_(bus),
        format_(format),
        from_mix_(bus.rate(), format),
        block_(static_cast<size_t>(bus.FramesIn(std::chrono::milliseconds(10)))) {}

  size_t ChunkBytes() const override { return format_.BytesFor(10); }

  MMRESULT Start() override {
    cursor_ = bus_.NowFrame() - bus_.FramesIn(MixBus::kReadLag);
    return MMSYSERR_NOERROR;
  }
  void Stop() override {}

  size_t Read(uint8_t* dst, size_t size, Waiter& waiter) override {
    size = format_.WholeFrames(size);
    if (size == 0) return 0;
    if (fifo_start_ == fifo_.size()) {
      fifo_.clear();
      fifo_start_ = 0;
      int64_t oldest =
          bus_.NowFrame() - bus_.FramesIn(MixBus::kReadLag) - bus_.FramesIn(kMaxBacklog);
      cursor_ = std::max(cursor_, oldest);
      auto k = static_cast<int64_t>(block_.size());
      if (!waiter.SleepUntil(bus_.TimeOf(cursor_ + k) + MixBus::kReadLag)) return 0;
      // An output that is late with its sound holds us back (bounded).
      while (bus_.ReadableEnd() < cursor_ + k)
        if (!waiter.SleepFor(std::chrono::milliseconds(2))) return 0;
      bus_.Read(cursor_, block_.data(), block_.size());
      cursor_ += k;
      from_mix_.Convert(block_.data(), block_.size(), fifo_);
    }
    size_t n = format_.WholeFrames(std::min(size, fifo_.size() - fifo_start_));
    std::memcpy(dst, fifo_.data() + fifo_start_, n);
    fifo_start_ += n;
    return n;
  }

 private:
  MixBus& bus_;
  PcmFormat format_;
  FromMix from_mix_;
  std::vector<float> block_;
  std::vector<uint8_t> fifo_;
  size_t fifo_start_ = 0;
  int64_t cursor_ = 0;  // next bus frame to capture
};

uint32_t OneInput(const InputChoice&) {
  return 1;
}
uint32_t OneOutput(const OutputChoice&) {
  return 1;
}

std::unique_ptr<CaptureStream> OpenInput(const InputChoice&, uint32_t index,
                                         const PcmFormat& format, OpenError& error) {
  if (index != 0) {
    error = {MMSYSERR_BADDEVICEID, "the loopback has one input device"};
    return nullptr;
  }
  return std::make_unique<LoopbackCapture>(Bus(), format);
}

std::unique_ptr<PlaybackStream> OpenOutput(const OutputChoice&, uint32_t index,
                                           const PcmFormat& format, OpenError& error) {
  if (index != 0) {
    error = {MMSYSERR_BADDEVICEID, "the loopback has one output device"};
    return nullptr;
  }
  return std::make_unique<BusPlayback>(Bus(), format);
}

}  // namespace

const Backend kLoopbackBackend = {
    DeviceKind::Loopback, "loopback", OneInput, OneOutput, OpenInput, OpenOutput, nullptr, nullptr,
};

}  // namespace velmora::platform::wave
