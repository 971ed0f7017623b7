// The batch path of `velmora decode`.  See batch_decode.h.
#include "apps/velmora/batch_decode.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "apps/velmora/session.h"
#include "velmora/component/capture.h"
#include "velmora/component/key_scan.h"
#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/sound_file.h"

namespace velmora::app {

namespace {

using platform::wave::CaptureStream;

// The capture buffer: bufsize frames of the 8-bit mono capture format.
constexpr size_t kBufferBytes = 2048;
// Buffers read and scanned at a time (9 s of sound): the threads meet once
// per block, and presses are printed a block after the sound.
constexpr size_t kBuffersPerBlock = 192;

// Fills `dst` (kBufferBytes) as the input device fills a queued buffer in
// fast mode: reads of what is still free, until it is full or the file
// ends.  Returns the bytes recorded; `ended` turns true at the end.
size_t FillBuffer(CaptureStream& stream, platform::wave::Waiter& waiter, uint8_t* dst,
                  bool& ended) {
  const size_t chunk = std::max<size_t>(stream.ChunkBytes(), 1);
  size_t recorded = 0;
  while (recorded < kBufferBytes) {
    const size_t got =
        stream.Read(dst + recorded, std::min(kBufferBytes - recorded, chunk), waiter);
    recorded += got;
    if (stream.Ended() || got == 0) {
      ended = true;
      break;
    }
  }
  return recorded;
}

// Runs fn(i) for i = 0 .. count - 1 on the calling thread and the helper
// threads, each taking the next index as it comes free.  The caller does
// not wait for a helper to start (on a busy machine it may do the whole
// block alone), only for the indices helpers have taken.
class ScanPool {
 public:
  explicit ScanPool(size_t helpers) {
    for (size_t h = 0; h < helpers; ++h) threads_.emplace_back([this] { Serve(); });
  }
  ~ScanPool() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void Run(size_t count, const std::function<void(size_t)>& fn) {
    std::unique_lock lock(mutex_);
    fn_ = &fn;
    next_ = 0;
    count_ = count;
    if (!threads_.empty()) work_.notify_all();
    while (next_ < count_) {
      const size_t i = next_++;
      lock.unlock();
      fn(i);
      lock.lock();
    }
    done_.wait(lock, [this] { return busy_ == 0; });
    fn_ = nullptr;
  }

 private:
  void Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return quit_ || next_ < count_; });
      if (quit_) return;
      const size_t i = next_++;
      const std::function<void(size_t)>* fn = fn_;
      ++busy_;
      lock.unlock();
      (*fn)(i);
      lock.lock();
      if (--busy_ == 0) done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, done_;
  const std::function<void(size_t)>* fn_ = nullptr;
  size_t next_ = 0, count_ = 0, busy_ = 0;
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

// Helper threads beside the calling one: one per further core.
size_t ScanHelpers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<size_t>(cores, 1, 8) - 1;
}

}  // namespace

bool BatchDecodeApplies(const Args& args) {
  return args.GetAll("--set").empty();
}

std::string DecodeBatch(const std::string& path, const tonvel::KeyPressSettings& settings,
                        const std::function<void(const tonvel::KeyPress&)>& on_press) {
  const platform::WAVEFORMATEX capture = tonvel::capture::CaptureFormat();
  const platform::wave::PcmFormat format = platform::wave::FormatOf(capture);
  platform::wave::OpenError error;
  std::unique_ptr<CaptureStream> stream =
      platform::wave::BackendFor(platform::DeviceKind::FileSource)
          .open_input({platform::DeviceKind::FileSource, path, true}, 0, format, error);
  if (!stream) return error.text.empty() ? path + ": cannot be played" : error.text;
  (void)stream->Start();

  // A new component's settings: FFT_cut_minusamp starts False.
  const tonvel::SpectrumSettings spectrum = tonvel::CurrentSpectrumSettings(false);
  tonvel::KeyPressDetector detector(settings);
  // A stream is decoded as it arrives; a file in blocks on every core.
  const bool streaming = platform::wave::IsStreamPath(path);
  ScanPool pool(streaming ? 0 : ScanHelpers());
  const size_t per_block = streaming ? 1 : kBuffersPerBlock;

  std::vector<uint8_t> block(per_block * kBufferBytes);
  std::vector<size_t> counts(per_block);
  std::vector<tonvel::ScannedBuffer> scanned(per_block);
  platform::wave::Waiter waiter;
  const double rate = capture.nSamplesPerSec;
  uint64_t samples = 0;
  bool ended = false;
  // Ctrl-C ends the decoding, not the program: the press in progress is
  // still printed.
  RunSteps([&] {
    size_t filled = 0;
    while (filled < per_block && !ended) {
      const size_t n = FillBuffer(*stream, waiter, block.data() + filled * kBufferBytes, ended);
      // The capture processes a buffer with more than one byte in it.
      if (n > 1) counts[filled++] = n;
    }
    pool.Run(filled, [&](size_t i) {
      scanned[i] =
          tonvel::ScanBuffer(block.data() + i * kBufferBytes, counts[i], spectrum, detector);
    });

    for (size_t i = 0; i < filled; ++i) {
      tonvel::BufferKeyResult result =
          scanned[i].needs_exact
              ? tonvel::ExactBufferResult(block.data() + i * kBufferBytes, counts[i], spectrum)
              : scanned[i].result;
      result.start_s = static_cast<double>(samples) / rate;
      result.duration_s = static_cast<double>(counts[i]) / rate;
      samples += counts[i];
      if (auto press = detector.Feed(result)) on_press(*press);
    }
    return !ended;
  });
  if (auto press = detector.Finish()) on_press(*press);
  stream->Stop();
  return "";
}

}  // namespace velmora::app
