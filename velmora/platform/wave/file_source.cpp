// The file source: a sound file played as the microphone.  Any file that
// libsndfile reads (sound_file.h), also from a pipe or standard input.
//
// The file is converted to the format the input was opened with (sample
// width, channels, rate); a file already in that format is delivered byte
// for byte.  In real time a buffer is filled at the pace the sound would
// take to record; in fast mode each queued buffer is filled at once.  The
// file advances only into buffers, so no sound is skipped while the owner
// is busy.  At the end of the file the last partial buffer goes back with
// its real byte count and Ended() turns true.
//
// The file is read ahead in large blocks, so a stream of 2048-byte buffers
// costs one read per block rather than one per buffer; a file already in
// the opened format is copied from that block straight into the caller's
// buffer.  Conversions are fed the same pieces as ever (their resampler's
// rounding depends on where the pieces meet), only from memory.  In fast
// mode Read never waits, so the device fills a queued buffer at once on
// the thread that queues it.

#include <algorithm>
#include <cstring>

#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/sound_file.h"

namespace velmora::platform::wave {

namespace {

class FileSource final : public CaptureStream {
 public:
  FileSource(SoundFileReader reader, const PcmFormat& format, bool fast, size_t read_ahead)
      : reader_(std::move(reader)),
        read_ahead_(read_ahead),
        format_(format),
        fast_(fast),
        converter_(reader_.format(), format),
        pacer_(format.rate) {}

  size_t ChunkBytes() const override {
    // Real time: 10 ms steps, so a reset finds what was "recorded" so far.
    return fast_ ? format_.WholeFrames(64 * 1024) : format_.BytesFor(10);
  }

  MMRESULT Start() override {
    pacer_.Restart();
    return MMSYSERR_NOERROR;
  }
  void Stop() override {}

  size_t Read(uint8_t* dst, size_t size, Waiter& waiter) override {
    size = format_.WholeFrames(size);
    if (size == 0 || Ended()) return 0;
    if (!fast_ && !pacer_.Wait(size / format_.block_align(), waiter)) return 0;
    if (converter_.Identity()) return TakeFile(dst, size);
    Fill(size);
    size_t n = format_.WholeFrames(std::min(size, fifo_.size() - fifo_start_));
    std::memcpy(dst, fifo_.data() + fifo_start_, n);
    fifo_start_ += n;
    if (fifo_start_ == fifo_.size()) {
      fifo_.clear();
      fifo_start_ = 0;
    }
    return n;
  }

  bool Ended() const override { return FileUsedUp() && fifo_start_ == fifo_.size(); }
  bool ReadsWithoutWaiting() const override { return fast_; }

 private:
  bool FileUsedUp() const { return reader_.AtEnd() && ahead_start_ == ahead_.size(); }

  // Copies up to `size` file bytes (whole frames) to `out`, refilling the
  // read-ahead block as it runs dry; fewer only at the end of the sound.
  size_t TakeFile(uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      if (ahead_start_ == ahead_.size()) {
        if (reader_.AtEnd()) break;
        ahead_.resize(reader_.format().block_align() *
                      std::max<size_t>(read_ahead_ / reader_.format().block_align(), 1));
        ahead_.resize(reader_.Read(ahead_.data(), ahead_.size()));
        ahead_start_ = 0;
        if (ahead_.empty()) break;
      }
      size_t n = std::min(size - done, ahead_.size() - ahead_start_);
      std::memcpy(out + done, ahead_.data() + ahead_start_, n);
      ahead_start_ += n;
      done += n;
    }
    return done;
  }

  // Converts file sound until `size` bytes are waiting or the file ends.
  void Fill(size_t size) {
    if (fifo_start_ > 0) {
      fifo_.erase(fifo_.begin(), fifo_.begin() + static_cast<std::ptrdiff_t>(fifo_start_));
      fifo_start_ = 0;
    }
    while (fifo_.size() - fifo_start_ < size && !FileUsedUp()) {
      size_t missing = size - (fifo_.size() - fifo_start_);
      size_t want =
          std::max(converter_.InputBytesFor(missing), size_t{reader_.format().block_align()});
      raw_.resize(std::min<size_t>(want, 256 * 1024));
      size_t got = TakeFile(raw_.data(), raw_.size());
      if (got == 0) break;
      converter_.Convert(raw_.data(), got, fifo_);
    }
  }

  SoundFileReader reader_;
  size_t read_ahead_;
  PcmFormat format_;
  bool fast_;
  PcmConverter converter_;
  Pacer pacer_;
  std::vector<uint8_t> ahead_;  // file bytes read ahead, from ahead_start_ on
  size_t ahead_start_ = 0;
  std::vector<uint8_t> raw_;   // file bytes
  std::vector<uint8_t> fifo_;  // converted bytes not yet delivered
  size_t fifo_start_ = 0;
};

uint32_t InputCount(const InputChoice&) {
  return 1;
}

std::unique_ptr<CaptureStream> OpenInput(const InputChoice& choice, uint32_t index,
                                         const PcmFormat& format, OpenError& error) {
  if (index != 0) {
    error = {MMSYSERR_BADDEVICEID, "the file source has one device"};
    return nullptr;
  }
  if (choice.path.empty()) {
    error = {MMSYSERR_NODRIVER, "file source: no input file given"};
    return nullptr;
  }
  SoundFileReader reader;
  std::string why = reader.Open(choice.path);
  if (!why.empty()) {
    error = {MMSYSERR_NODRIVER, why};
    return nullptr;
  }
  // A file is read ahead in large blocks; a pipe in small ones, so that sound
  // arriving at its own pace is not held back until a large block is full.
  const size_t read_ahead = IsStreamPath(choice.path) ? 4096 : 256 * 1024;
  return std::make_unique<FileSource>(std::move(reader), format, choice.fast, read_ahead);
}

}  // namespace

const Backend kFileSourceBackend = {
    DeviceKind::FileSource,
    "file source",
    InputCount,
    nullptr,
    OpenInput,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace velmora::platform::wave
