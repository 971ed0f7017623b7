// The batch path of `velmora decode`.  See batch_decode.h.
#include "apps/velmora/batch_decode.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
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

// Capture buffers read from the file: `filled` of them, buffer i holding
// counts[i] bytes; `ended` once the file has nothing more.
struct Block {
  explicit Block(size_t buffers) : bytes(buffers * kBufferBytes), counts(buffers) {}
  uint8_t* Buffer(size_t i) { return bytes.data() + i * kBufferBytes; }
  std::vector<uint8_t> bytes;
  std::vector<size_t> counts;
  size_t filled = 0;
  bool ended = false;
};

// Fills blocks on a thread of its own, one ahead of the one being decoded:
// reading and converting the file overlap the scanning.  Blocks come out
// in order; the consumer hands each back (Release) before the next Next.
class ReadAhead {
 public:
  ReadAhead(size_t buffers, std::function<void(Block&)> fill)
      : blocks_{Block(buffers), Block(buffers)},
        fill_(std::move(fill)),
        thread_([this] { Run(); }) {}
  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next block, once it is filled.
  Block& Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return full_[consumer_]; });
    return blocks_[consumer_];
  }
  // The block Next gave is free to be filled again.
  void Release() {
    {
      std::lock_guard lock(mutex_);
      full_[consumer_] = false;
      consumer_ ^= 1;
    }
    changed_.notify_all();
  }

 private:
  void Run() {
    for (size_t slot = 0;; slot ^= 1) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || !full_[slot]; });
        if (stop_) return;
      }
      fill_(blocks_[slot]);
      {
        std::lock_guard lock(mutex_);
        full_[slot] = true;
      }
      changed_.notify_all();
      if (blocks_[slot].ended) return;
    }
  }

  Block blocks_[2];
  std::function<void(Block&)> fill_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool full_[2] = {false, false};
  size_t consumer_ = 0;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the rest is set up
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
  // A stream is decoded as it arrives, buffer by buffer on this thread; a
  // file is read (and converted) ahead on a thread of its own and scanned
  // in blocks on every core.
  const bool streaming = platform::wave::IsStreamPath(path);
  ScanPool pool(streaming ? 0 : ScanHelpers());
  platform::wave::Waiter waiter;
  auto fill = [&](Block& block) {
    block.filled = 0;
    while (block.filled < block.counts.size() && !block.ended) {
      const size_t n = FillBuffer(*stream, waiter, block.Buffer(block.filled), block.ended);
      // The capture processes a buffer with more than one byte in it.
      if (n > 1) block.counts[block.filled++] = n;
    }
  };
  std::optional<ReadAhead> ahead;
  Block here(1);
  if (!streaming) ahead.emplace(kBuffersPerBlock, fill);

  std::vector<tonvel::ScannedBuffer> scanned(streaming ? 1 : kBuffersPerBlock);
  const double rate = capture.nSamplesPerSec;
  uint64_t samples = 0;
  // Ctrl-C ends the decoding, not the program: the press in progress is
  // still printed.
  RunSteps([&] {
    Block* block = &here;
    if (ahead)
      block = &ahead->Next();
    else
      fill(here);
    pool.Run(block->filled, [&](size_t i) {
      scanned[i] = tonvel::ScanBuffer(block->Buffer(i), block->counts[i], spectrum, settings);
    });
    for (size_t i = 0; i < block->filled; ++i) {
      tonvel::BufferKeyResult result =
          scanned[i].needs_exact
              ? tonvel::ExactBufferResult(block->Buffer(i), block->counts[i], spectrum, settings)
              : scanned[i].result;
      result.start_s = static_cast<double>(samples) / rate;
      result.duration_s = static_cast<double>(block->counts[i]) / rate;
      samples += block->counts[i];
      if (auto press = detector.Feed(result)) on_press(*press);
    }
    const bool more = !block->ended;
    if (ahead) ahead->Release();
    return more;
  });
  ahead.reset();
  if (auto press = detector.Finish()) on_press(*press);
  stream->Stop();
  return "";
}

}  // namespace velmora::app
