// The batch path of `velmora decode`.  See batch_decode.h.
#include "apps/velmora/batch_decode.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "velmora/component/capture.h"
#include "velmora/component/key_scan.h"
#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/sound_file.h"

namespace velmora::app {

namespace {

using platform::wave::CaptureStream;

// The capture buffer: bufsize frames of the 8-bit mono capture format.
constexpr size_t kBufferBytes = 2048;
// Buffers each thread scans per block: large enough that starting the
// threads costs little, small enough that presses follow the file closely.
constexpr size_t kBuffersPerThread = 96;

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

size_t ScanThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<size_t>(cores, 1, 8);
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
  const size_t threads = streaming ? 1 : ScanThreads();
  const size_t per_block = streaming ? 1 : threads * kBuffersPerThread;

  std::vector<uint8_t> block(per_block * kBufferBytes);
  std::vector<size_t> counts(per_block);
  std::vector<tonvel::ScannedBuffer> scanned(per_block);
  platform::wave::Waiter waiter;
  const double rate = capture.nSamplesPerSec;
  uint64_t samples = 0;
  bool ended = false;
  while (!ended) {
    size_t filled = 0;
    while (filled < per_block && !ended) {
      const size_t n = FillBuffer(*stream, waiter, block.data() + filled * kBufferBytes, ended);
      // The capture processes a buffer with more than one byte in it.
      if (n > 1) counts[filled++] = n;
    }
    auto scan = [&](size_t part) {
      for (size_t i = part; i < filled; i += threads)
        scanned[i] =
            tonvel::ScanBuffer(block.data() + i * kBufferBytes, counts[i], spectrum, detector);
    };
    std::vector<std::thread> helpers;
    const size_t used = std::min(threads, filled);
    for (size_t part = 1; part < used; ++part) helpers.emplace_back(scan, part);
    scan(0);
    for (std::thread& t : helpers) t.join();

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
  }
  if (auto press = detector.Finish()) on_press(*press);
  stream->Stop();
  return "";
}

}  // namespace velmora::app
