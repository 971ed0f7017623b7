// The waveIn* and waveOut* calls: argument checks, the choice of back end,
// and the hand-over to the device objects.

#include <string>

#include "platform/wave.h"
#include "platform/wave/backend.h"
#include "platform/wave/handle_table.h"
#include "platform/wave/input_device.h"
#include "platform/wave/output_device.h"

namespace velmora::platform {

using wave::Backend;
using wave::BackendFor;
using wave::HandleTable;
using wave::Notifier;
using wave::OpenError;
using wave::PcmFormat;

namespace {

HandleTable<WaveInObject>& Inputs() {
  static HandleTable<WaveInObject> table;
  return table;
}

HandleTable<WaveOutObject>& Outputs() {
  static HandleTable<WaveOutObject> table;
  return table;
}

bool BadHeader(const WAVEHDR* header, uint32_t size) {
  return !header || size != sizeof(WAVEHDR);
}

std::string FormatText(const WAVEFORMATEX& f) {
  return "tag " + std::to_string(f.wFormatTag) + ", " + std::to_string(f.nChannels) +
         " channels, " + std::to_string(f.nSamplesPerSec) + " Hz, " +
         std::to_string(f.wBitsPerSample) + " bits, block " + std::to_string(f.nBlockAlign);
}

// The checks both directions make before opening.  Returns NOERROR when the
// back end should be asked to open device `index`.
MMRESULT CheckOpen(const char* direction, const Backend& backend, uint32_t count, uint32_t device,
                   const WAVEFORMATEX* format, uint32_t flags, bool has_open) {
  MMRESULT r = Notifier::Check(flags);
  if (r != MMSYSERR_NOERROR) {
    wave::SetLastDeviceError(std::string("sound ") + direction + ": unknown notification kind");
    return r;
  }
  if (!format) {
    wave::SetLastDeviceError(std::string("sound ") + direction + ": no format given");
    return MMSYSERR_INVALPARAM;
  }
  if (!has_open || count == 0) {
    wave::SetLastDeviceError(std::string("no sound ") + direction + " device (" + backend.name +
                             ")");
    return MMSYSERR_BADDEVICEID;
  }
  if (device != WAVE_MAPPER && device >= count) {
    wave::SetLastDeviceError(std::string("sound ") + direction + " device " +
                             std::to_string(device) + " does not exist (" + backend.name + " has " +
                             std::to_string(count) + ")");
    return MMSYSERR_BADDEVICEID;
  }
  r = wave::CheckFormat(format);
  if (r != MMSYSERR_NOERROR) {
    wave::SetLastDeviceError(std::string("sound ") + direction + ": format not accepted (" +
                             FormatText(*format) +
                             "); devices take PCM, 8 or 16 bits, 1 or 2 channels, 8000 to "
                             "192000 Hz");
    return r;
  }
  return MMSYSERR_NOERROR;
}

}  // namespace

// ---- input ---------------------------------------------------------------

uint32_t waveInGetNumDevs() {
  InputChoice choice = DefaultInput();
  const Backend& backend = BackendFor(choice.kind);
  return backend.open_input ? backend.input_count(choice) : 0;
}

MMRESULT waveInOpen(HWAVEIN* device_out, uint32_t device, const WAVEFORMATEX* format,
                    uintptr_t callback, uintptr_t instance, uint32_t flags) {
  const bool query = flags & WAVE_FORMAT_QUERY;
  if (!device_out && !query) return MMSYSERR_INVALPARAM;
  if (device_out) *device_out = nullptr;
  InputChoice choice = DefaultInput();
  const Backend& backend = BackendFor(choice.kind);
  uint32_t count = backend.open_input ? backend.input_count(choice) : 0;
  MMRESULT r = CheckOpen("input", backend, count, device, format, flags, backend.open_input);
  if (r != MMSYSERR_NOERROR || query) return r;

  PcmFormat pcm = wave::FormatOf(*format);
  OpenError error;
  auto stream = backend.open_input(choice, device == WAVE_MAPPER ? 0 : device, pcm, error);
  if (!stream) {
    wave::SetLastDeviceError(error.text);
    return error.code != MMSYSERR_NOERROR ? error.code : MMSYSERR_ERROR;
  }
  auto object =
      std::make_shared<WaveInObject>(std::move(stream), pcm, Notifier(flags, callback, instance));
  WaveInObject* handle = object.get();
  Inputs().Add(std::move(object));
  wave::NoteInputOpened(handle);
  wave::SetLastDeviceError("");
  // The handle is stored before anyone is told the device is open: an event
  // waiter may use it as soon as it wakes.
  *device_out = handle;
  handle->Launch();
  handle->NotifyOpen();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t size) {
  auto d = Inputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (BadHeader(header, size)) return MMSYSERR_INVALPARAM;
  return d->Prepare(header);
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t size) {
  auto d = Inputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (BadHeader(header, size)) return MMSYSERR_INVALPARAM;
  return d->Unprepare(header);
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, uint32_t size) {
  auto d = Inputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (BadHeader(header, size)) return MMSYSERR_INVALPARAM;
  return d->Add(header);
}

MMRESULT waveInStart(HWAVEIN device) {
  auto d = Inputs().Find(device);
  return d ? d->Start() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInStop(HWAVEIN device) {
  auto d = Inputs().Find(device);
  return d ? d->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInReset(HWAVEIN device) {
  auto d = Inputs().Find(device);
  return d ? d->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInClose(HWAVEIN device) {
  auto d = Inputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  MMRESULT r = d->Close();
  if (r == MMSYSERR_NOERROR) Inputs().Remove(device);
  return r;
}

// ---- output --------------------------------------------------------------

uint32_t waveOutGetNumDevs() {
  OutputChoice choice = DefaultOutput();
  const Backend& backend = BackendFor(choice.kind);
  return backend.open_output ? backend.output_count(choice) : 0;
}

MMRESULT waveOutOpen(HWAVEOUT* device_out, uint32_t device, const WAVEFORMATEX* format,
                     uintptr_t callback, uintptr_t instance, uint32_t flags) {
  const bool query = flags & WAVE_FORMAT_QUERY;
  if (!device_out && !query) return MMSYSERR_INVALPARAM;
  if (device_out) *device_out = nullptr;
  OutputChoice choice = DefaultOutput();
  const Backend& backend = BackendFor(choice.kind);
  uint32_t count = backend.open_output ? backend.output_count(choice) : 0;
  MMRESULT r = CheckOpen("output", backend, count, device, format, flags, backend.open_output);
  if (r != MMSYSERR_NOERROR || query) return r;

  PcmFormat pcm = wave::FormatOf(*format);
  OpenError error;
  auto stream = backend.open_output(choice, device == WAVE_MAPPER ? 0 : device, pcm, error);
  if (!stream) {
    wave::SetLastDeviceError(error.text);
    return error.code != MMSYSERR_NOERROR ? error.code : MMSYSERR_ERROR;
  }
  auto object =
      std::make_shared<WaveOutObject>(std::move(stream), pcm, Notifier(flags, callback, instance));
  WaveOutObject* handle = object.get();
  Outputs().Add(std::move(object));
  wave::SetLastDeviceError("");
  *device_out = handle;
  handle->Launch();
  handle->NotifyOpen();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
  auto d = Outputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (BadHeader(header, size)) return MMSYSERR_INVALPARAM;
  return d->Prepare(header);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
  auto d = Outputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (BadHeader(header, size)) return MMSYSERR_INVALPARAM;
  return d->Unprepare(header);
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
  auto d = Outputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (BadHeader(header, size)) return MMSYSERR_INVALPARAM;
  return d->Write(header);
}

MMRESULT waveOutReset(HWAVEOUT device) {
  auto d = Outputs().Find(device);
  return d ? d->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutPause(HWAVEOUT device) {
  auto d = Outputs().Find(device);
  return d ? d->Pause() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutRestart(HWAVEOUT device) {
  auto d = Outputs().Find(device);
  return d ? d->Restart() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutClose(HWAVEOUT device) {
  auto d = Outputs().Find(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  MMRESULT r = d->Close();
  if (r == MMSYSERR_NOERROR) Outputs().Remove(device);
  return r;
}

}  // namespace velmora::platform
