// The PortAudio back end: the system's sound devices.
//
// PortAudio calls our callbacks on its own real-time thread.  The callbacks
// only move bytes between the device and a single-reader single-writer ring
// (no lock, no allocation); the device thread on the other side of the ring
// waits in short sleeps.  Every other PortAudio call is made under one
// mutex, since PortAudio's API is not safe to call from several threads.
//
// Start-up noise: probing ALSA and JACK prints about a hundred lines on
// stderr.  It is silenced through ALSA's and JACK's own error handlers, set
// before PortAudio starts; stderr itself is left alone.
//
// Device numbers: 0 is PortAudio's default device, then every other device
// of that direction in PortAudio's order.  A format the device does not take
// directly is opened as 16-bit at the device's own rate and converted here.

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/ring_buffer.h"

namespace velmora::platform::wave {

namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

struct PortAudioState {
  std::mutex mutex;  // every PortAudio call except the callbacks
  bool tried = false;
  bool ready = false;
};

// Never destroyed: PortAudio is left to the process's end, so a device still
// open while the process exits never meets a terminated library.
PortAudioState& Pa() {
  static auto* state = new PortAudioState;
  return *state;
}

bool ReadyLocked() {
  PortAudioState& pa = Pa();
  if (!pa.tried) {
    pa.tried = true;
    snd_lib_error_set_handler(QuietAlsa);
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
    pa.ready = Pa_Initialize() == paNoError;
  }
  return pa.ready;
}

// The devices of one direction: the default first, then the others.
std::vector<PaDeviceIndex> DevicesLocked(bool input) {
  std::vector<PaDeviceIndex> list;
  if (!ReadyLocked()) return list;
  PaDeviceIndex def = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
  if (def != paNoDevice) list.push_back(def);
  for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (!info || i == def) continue;
    if ((input ? info->maxInputChannels : info->maxOutputChannels) > 0) list.push_back(i);
  }
  return list;
}

PaSampleFormat SampleFormatOf(const PcmFormat& f) {
  return f.bits == 8 ? paUInt8 : paInt16;
}

// Finds the format to open the device with: the one asked for when the
// device takes it, else 16-bit at the device's own rate.
bool ChooseStreamFormatLocked(PaDeviceIndex device, bool input, const PcmFormat& wanted,
                              PcmFormat& chosen, PaStreamParameters& params) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
  params = PaStreamParameters{};
  params.device = device;
  params.suggestedLatency = input ? info->defaultLowInputLatency : info->defaultHighOutputLatency;
  auto supported = [&](const PcmFormat& f) {
    params.channelCount = f.channels;
    params.sampleFormat = SampleFormatOf(f);
    return Pa_IsFormatSupported(input ? &params : nullptr, input ? nullptr : &params, f.rate) ==
           paFormatIsSupported;
  };
  chosen = wanted;
  if (supported(chosen)) return true;
  int max_channels = input ? info->maxInputChannels : info->maxOutputChannels;
  chosen.rate = static_cast<uint32_t>(info->defaultSampleRate);
  chosen.bits = 16;
  chosen.channels = static_cast<uint16_t>(std::min<int>(wanted.channels, max_channels));
  return chosen.channels > 0 && supported(chosen);
}

std::string DeviceName(PaDeviceIndex device) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
  return info && info->name ? info->name : "device " + std::to_string(device);
}

class PaCapture final : public CaptureStream {
 public:
  PaCapture(const PcmFormat& stream_format, const PcmFormat& format)
      : stream_format_(stream_format),
        format_(format),
        converter_(stream_format, format),
        ring_(stream_format.BytesFor(250)),
        raw_(stream_format.BytesFor(10)) {}

  ~PaCapture() override {
    std::lock_guard lock(Pa().mutex);
    if (stream_) {
      Pa_AbortStream(stream_);
      Pa_CloseStream(stream_);
    }
  }

  PaError Open(const PaStreamParameters& params) {
    std::lock_guard lock(Pa().mutex);
    return Pa_OpenStream(&stream_, &params, nullptr, stream_format_.rate,
                         paFramesPerBufferUnspecified, paNoFlag, &PaCapture::Callback, this);
  }

  size_t ChunkBytes() const override { return format_.BytesFor(10); }

  MMRESULT Start() override {
    std::lock_guard lock(Pa().mutex);
    if (Pa_IsStreamActive(stream_) == 1) return MMSYSERR_NOERROR;
    // The callback is not running: what the ring holds is from before.
    ring_.Clear();
    return Pa_StartStream(stream_) == paNoError ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
  }

  void Stop() override {
    std::lock_guard lock(Pa().mutex);
    if (Pa_IsStreamStopped(stream_) == 0) Pa_AbortStream(stream_);
  }

  size_t Read(uint8_t* dst, size_t size, Waiter& waiter) override {
    size = format_.WholeFrames(size);
    for (;;) {
      if (converter_.Identity()) {
        size_t ready = stream_format_.WholeFrames(ring_.ReadAvailable());
        if (ready > 0) return ring_.Read(dst, std::min(size, ready));
      } else {
        size_t ready = stream_format_.WholeFrames(ring_.ReadAvailable());
        if (ready > 0) {
          size_t got = ring_.Read(raw_.data(), std::min(ready, raw_.size()));
          converter_.Convert(raw_.data(), got, fifo_);
        }
        if (!fifo_.empty()) {
          size_t n = format_.WholeFrames(std::min(size, fifo_.size()));
          std::memcpy(dst, fifo_.data(), n);
          fifo_.erase(fifo_.begin(), fifo_.begin() + static_cast<std::ptrdiff_t>(n));
          if (n > 0) return n;
        }
      }
      if (!waiter.SleepFor(std::chrono::milliseconds(3))) return 0;
    }
  }

 private:
  // Real-time thread: copy in, never wait.  When the ring is full the newest
  // sound is dropped, so the device thread finds the oldest sound intact.
  static int Callback(const void* input, void*, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PaCapture*>(user);
    if (input) self->ring_.Write(input, frames * self->stream_format_.block_align());
    return paContinue;
  }

  PcmFormat stream_format_;  // what PortAudio delivers
  PcmFormat format_;         // what the input was opened with
  PcmConverter converter_;
  RingBuffer ring_;
  std::vector<uint8_t> raw_;
  std::vector<uint8_t> fifo_;
  PaStream* stream_ = nullptr;
};

class PaPlayback final : public PlaybackStream {
 public:
  PaPlayback(const PcmFormat& stream_format, const PcmFormat& format)
      : stream_format_(stream_format),
        format_(format),
        converter_(format, stream_format),
        ring_(stream_format.BytesFor(100)) {}

  ~PaPlayback() override {
    std::lock_guard lock(Pa().mutex);
    if (stream_) {
      Pa_StopStream(stream_);
      Pa_CloseStream(stream_);
    }
  }

  // Opens and starts the stream: it runs, playing silence when nothing is
  // queued, until the output closes (stopping a stream may drop what the
  // device still holds).
  PaError Open(const PaStreamParameters& params) {
    std::lock_guard lock(Pa().mutex);
    PaError e = Pa_OpenStream(&stream_, nullptr, &params, stream_format_.rate,
                              paFramesPerBufferUnspecified, paNoFlag, &PaPlayback::Callback, this);
    if (e == paNoError) e = Pa_StartStream(stream_);
    return e;
  }

  size_t ChunkBytes() const override { return format_.BytesFor(50); }

  size_t Write(const uint8_t* src, size_t size, Waiter& waiter) override {
    size = format_.WholeFrames(size);
    const uint8_t* p = src;
    size_t total = size;
    if (!converter_.Identity()) {
      converted_.clear();
      converter_.Convert(src, size, converted_);
      p = converted_.data();
      total = converted_.size();
    }
    size_t left = total;
    while (left > 0) {
      if (waiter.Interrupted()) break;
      size_t n = ring_.Write(p, left);
      p += n;
      left -= n;
      if (left > 0 && !waiter.SleepFor(std::chrono::milliseconds(2))) break;
    }
    if (total == 0) return size;
    // Consumed in proportion to what went into the ring.
    return format_.WholeFrames(size * (total - left) / total);
  }

  void Pause() override { paused_.store(true); }
  void Resume() override { paused_.store(false); }
  void Flush() override { flush_.store(true); }

  void Drain() override {
    // Until the ring has been played out and the device has sounded its
    // last sample; bounded, so a stalled device cannot hang a close.
    auto give_up = Clock::now() + std::chrono::seconds(2);
    while (!paused_.load() && ring_.ReadAvailable() > 0 && Clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    double end = last_sound_end_.load();
    while (Clock::now() < give_up) {
      double now;
      {
        std::lock_guard lock(Pa().mutex);
        now = Pa_GetStreamTime(stream_);
      }
      if (now == 0 || now >= end) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  static int Callback(const void*, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PaPlayback*>(user);
    const PcmFormat& f = self->stream_format_;
    size_t bytes = frames * f.block_align();
    if (self->flush_.exchange(false)) self->ring_.Skip(self->ring_.ReadAvailable());
    size_t n = self->paused_.load() ? 0 : self->ring_.Read(output, bytes);
    std::memset(static_cast<uint8_t*>(output) + n, f.silence_byte(), bytes - n);
    if (n > 0 && time)
      self->last_sound_end_.store(time->outputBufferDacTime +
                                  static_cast<double>(n / f.block_align()) / f.rate);
    return paContinue;
  }

  PcmFormat stream_format_;
  PcmFormat format_;
  PcmConverter converter_;
  RingBuffer ring_;
  std::vector<uint8_t> converted_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> flush_{false};
  std::atomic<double> last_sound_end_{0.0};  // stream time when the last sound ends
  PaStream* stream_ = nullptr;
};

uint32_t InputCount(const InputChoice&) {
  std::lock_guard lock(Pa().mutex);
  return static_cast<uint32_t>(DevicesLocked(true).size());
}

uint32_t OutputCount(const OutputChoice&) {
  std::lock_guard lock(Pa().mutex);
  return static_cast<uint32_t>(DevicesLocked(false).size());
}

template <class Stream>
std::unique_ptr<Stream> OpenStream(bool input, uint32_t index, const PcmFormat& format,
                                   OpenError& error) {
  const char* direction = input ? "input" : "output";
  PaStreamParameters params{};
  PcmFormat chosen;
  std::string name;
  {
    std::lock_guard lock(Pa().mutex);
    auto devices = DevicesLocked(input);
    if (index >= devices.size()) {
      error = {MMSYSERR_BADDEVICEID, std::string("PortAudio: no sound ") + direction + " device " +
                                         std::to_string(index)};
      return nullptr;
    }
    name = DeviceName(devices[index]);
    if (!ChooseStreamFormatLocked(devices[index], input, format, chosen, params)) {
      error = {WAVERR_BADFORMAT, "PortAudio: " + name + " does not take " + format.Describe()};
      return nullptr;
    }
  }
  auto stream = std::make_unique<Stream>(chosen, format);
  PaError e = stream->Open(params);
  if (e != paNoError) {
    error = {MMSYSERR_ALLOCATED,
             "PortAudio: cannot open " + name + " for " + direction + ": " + Pa_GetErrorText(e)};
    return nullptr;
  }
  return stream;
}

std::unique_ptr<CaptureStream> OpenInput(const InputChoice&, uint32_t index,
                                         const PcmFormat& format, OpenError& error) {
  return OpenStream<PaCapture>(true, index, format, error);
}

std::unique_ptr<PlaybackStream> OpenOutput(const OutputChoice&, uint32_t index,
                                           const PcmFormat& format, OpenError& error) {
  return OpenStream<PaPlayback>(false, index, format, error);
}

bool HasDefaultInput() {
  std::lock_guard lock(Pa().mutex);
  return ReadyLocked() && Pa_GetDefaultInputDevice() != paNoDevice;
}

bool HasDefaultOutput() {
  std::lock_guard lock(Pa().mutex);
  return ReadyLocked() && Pa_GetDefaultOutputDevice() != paNoDevice;
}

}  // namespace

const Backend kPortAudioBackend = {
    DeviceKind::PortAudio, "PortAudio",      InputCount, OutputCount, OpenInput, OpenOutput,
    HasDefaultInput,       HasDefaultOutput,
};

}  // namespace velmora::platform::wave
