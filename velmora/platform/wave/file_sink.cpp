// The file sink: outputs opened on it play, in real time, into a mix bus
// whose content a recorder thread writes to a WAV file.  The file is what a
// listener would have heard while an output was open: sound where outputs
// played, silence where they were open but idle; time while no output is
// open is not recorded.
//
// The file takes the format of the first output opened (later outputs are
// converted to it).  Its header is completed whenever the last open output
// closes and when FinishOutputFile() asks, so the file is a valid WAV file
// whenever no output is open.  Real-time consumption is deliberate: a caller
// that paces itself by its buffers coming back (the sine generator) gets
// the same timing as from a sound card, and the gaps between key bursts
// land in the file.

#include "velmora/platform/wave/file_sink.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/mix_bus.h"
#include "velmora/platform/wave/wav_file.h"

namespace velmora::platform::wave {

namespace {

constexpr std::chrono::milliseconds kRecordPeriod{20};

class FileSink {
 public:
  explicit FileSink(std::string path) : path_(std::move(path)) {}
  ~FileSink() {
    StopRecorder();
    writer_.Close();
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  const std::string& path() const { return path_; }
  MixBus& bus() { return *bus_; }

  // An output opens: the first one creates the file in its format; the
  // recorder runs while any output is open.  "" or the reason.
  std::string DeviceOpened(const PcmFormat& format) {
    std::lock_guard life(lifecycle_);
    std::lock_guard lock(mutex_);
    if (!writer_.is_open()) {
      std::string why = writer_.Create(path_, format);
      if (!why.empty()) return why;
      bus_ = std::make_unique<MixBus>(format.rate);
      from_mix_ = std::make_unique<FromMix>(format.rate, format);
      block_.resize(static_cast<size_t>(bus_->FramesIn(kRecordPeriod)) + 1);
      cursor_ = bus_->NowFrame();
    }
    if (open_++ == 0) {
      cursor_ = std::max(cursor_, bus_->NowFrame());
      waiter_.Rearm();
      recorder_ = std::thread([this] { Record(); });
    }
    return "";
  }

  // An output closes: when it was the last, everything up to now is written
  // and the header completed.
  void DeviceClosed() {
    std::lock_guard life(lifecycle_);
    {
      std::lock_guard lock(mutex_);
      if (--open_ > 0) return;
    }
    StopRecorder();
    std::lock_guard lock(mutex_);
    WriteUpToLocked(std::max(bus_->NowFrame(), bus_->HighWater()));
    Keep(writer_.Complete());
  }

  std::string Finish() {
    std::lock_guard life(lifecycle_);
    std::lock_guard lock(mutex_);
    if (!writer_.is_open()) return error_;
    if (open_ > 0) WriteUpToLocked(bus_->ReadableEnd());
    Keep(writer_.Complete());
    return error_;
  }

 private:
  void StopRecorder() {
    waiter_.Interrupt();
    if (recorder_.joinable()) recorder_.join();
  }

  void Record() {
    while (waiter_.SleepFor(kRecordPeriod)) {
      std::lock_guard lock(mutex_);
      WriteUpToLocked(bus_->ReadableEnd());
    }
  }

  void WriteUpToLocked(int64_t end) {
    while (cursor_ < end) {
      size_t k = static_cast<size_t>(std::min<int64_t>(end - cursor_, block_.size()));
      bus_->Read(cursor_, block_.data(), k);
      cursor_ += static_cast<int64_t>(k);
      bytes_.clear();
      from_mix_->Convert(block_.data(), k, bytes_);
      Keep(writer_.Append(bytes_.data(), bytes_.size()));
    }
  }

  // The first failure is kept and reported by Finish().
  void Keep(const std::string& why) {
    if (!why.empty() && error_.empty()) error_ = why;
  }

  const std::string path_;
  std::mutex lifecycle_;  // orders opens and closes; held while joining
  std::mutex mutex_;      // the writer, the bus cursor and the counts
  WavWriter writer_;
  std::unique_ptr<MixBus> bus_;
  std::unique_ptr<FromMix> from_mix_;
  std::vector<float> block_;
  std::vector<uint8_t> bytes_;
  int64_t cursor_ = 0;  // next bus frame to write
  int open_ = 0;
  std::string error_;
  Waiter waiter_;
  std::thread recorder_;
};

// An output on the sink: plays into the sink's bus and tells the sink when
// it opens and closes.
class SinkPlayback final : public PlaybackStream {
 public:
  SinkPlayback(std::shared_ptr<FileSink> sink, const PcmFormat& format)
      : sink_(std::move(sink)), playback_(sink_->bus(), format) {}
  ~SinkPlayback() override { sink_->DeviceClosed(); }
  size_t ChunkBytes() const override { return playback_.ChunkBytes(); }
  size_t Write(const uint8_t* src, size_t size, Waiter& waiter) override {
    return playback_.Write(src, size, waiter);
  }
  void Idle() override { playback_.Idle(); }

 private:
  std::shared_ptr<FileSink> sink_;
  BusPlayback playback_;
};

// The sink of the current choice.  Never destroyed at exit: its file is
// complete whenever no output is open, and outputs still open at exit are
// closed by the device table, which completes it again.
struct SinkSlot {
  std::mutex mutex;
  std::shared_ptr<FileSink> sink;
};

SinkSlot& Slot() {
  static auto* slot = new SinkSlot;
  return *slot;
}

uint32_t OneOutput(const OutputChoice&) {
  return 1;
}

std::unique_ptr<PlaybackStream> OpenOutput(const OutputChoice& choice, uint32_t index,
                                           const PcmFormat& format, OpenError& error) {
  if (index != 0) {
    error = {MMSYSERR_BADDEVICEID, "the file sink has one device"};
    return nullptr;
  }
  if (choice.path.empty()) {
    error = {MMSYSERR_NODRIVER, "file sink: no output file given"};
    return nullptr;
  }
  std::shared_ptr<FileSink> sink;
  {
    std::lock_guard lock(Slot().mutex);
    if (!Slot().sink || Slot().sink->path() != choice.path)
      Slot().sink = std::make_shared<FileSink>(choice.path);
    sink = Slot().sink;
  }
  std::string why = sink->DeviceOpened(format);
  if (!why.empty()) {
    error = {MMSYSERR_ERROR, why};
    return nullptr;
  }
  return std::make_unique<SinkPlayback>(std::move(sink), format);
}

}  // namespace

std::string FinishFileSink() {
  std::shared_ptr<FileSink> sink;
  {
    std::lock_guard lock(Slot().mutex);
    sink = Slot().sink;
  }
  return sink ? sink->Finish() : "";
}

void ForgetFileSink() {
  std::shared_ptr<FileSink> sink;
  {
    std::lock_guard lock(Slot().mutex);
    sink = std::move(Slot().sink);
  }
  // Released outside the lock: the last reference completes the file.
}

const Backend kFileSinkBackend = {
    DeviceKind::FileSink, "file sink", nullptr, OneOutput, nullptr, OpenOutput, nullptr, nullptr,
};

}  // namespace velmora::platform::wave
