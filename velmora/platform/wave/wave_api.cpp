// The waveIn* and waveOut* calls: argument checks, the choice of back end,
// and the hand-over to the device objects.

#include <string>

#include "velmora/platform/wave.h"
#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/handle_table.h"
#include "velmora/platform/wave/input_device.h"
#include "velmora/platform/wave/output_device.h"

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

// Runs `op` on the open device `handle` of `devices`; MMSYSERR_INVALHANDLE
// when there is none.
template <class Object, class Handle, class Op>
MMRESULT OnDevice(HandleTable<Object>& devices, Handle handle, Op op) {
  auto d = devices.Find(handle);
  return d ? op(*d) : MMSYSERR_INVALHANDLE;
}

// The same for a call that passes a header: after the handle, the header
// and its size are checked (MMSYSERR_INVALPARAM).
template <class Object, class Handle, class Op>
MMRESULT OnHeader(HandleTable<Object>& devices, Handle handle, WAVEHDR* header, uint32_t size,
                  Op op) {
  return OnDevice(devices, handle, [&](Object& d) {
    return BadHeader(header, size) ? MMSYSERR_INVALPARAM : op(d, header);
  });
}

// Closes the device `handle` and forgets the handle once it is closed.
template <class Object, class Handle>
MMRESULT CloseDevice(HandleTable<Object>& devices, Handle handle) {
  const MMRESULT r = OnDevice(devices, handle, [](Object& d) { return d.Close(); });
  if (r == MMSYSERR_NOERROR) devices.Remove(handle);
  return r;
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
  return OnHeader(Inputs(), device, header, size, [](auto& d, WAVEHDR* h) { return d.Prepare(h); });
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t size) {
  return OnHeader(Inputs(), device, header, size,
                  [](auto& d, WAVEHDR* h) { return d.Unprepare(h); });
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, uint32_t size) {
  return OnHeader(Inputs(), device, header, size, [](auto& d, WAVEHDR* h) { return d.Add(h); });
}

MMRESULT waveInStart(HWAVEIN device) {
  return OnDevice(Inputs(), device, [](auto& d) { return d.Start(); });
}

MMRESULT waveInStop(HWAVEIN device) {
  return OnDevice(Inputs(), device, [](auto& d) { return d.Stop(); });
}

MMRESULT waveInReset(HWAVEIN device) {
  return OnDevice(Inputs(), device, [](auto& d) { return d.Reset(); });
}

MMRESULT waveInClose(HWAVEIN device) {
  return CloseDevice(Inputs(), device);
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
  return OnHeader(Outputs(), device, header, size,
                  [](auto& d, WAVEHDR* h) { return d.Prepare(h); });
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
  return OnHeader(Outputs(), device, header, size,
                  [](auto& d, WAVEHDR* h) { return d.Unprepare(h); });
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t size) {
  return OnHeader(Outputs(), device, header, size, [](auto& d, WAVEHDR* h) { return d.Write(h); });
}

MMRESULT waveOutReset(HWAVEOUT device) {
  return OnDevice(Outputs(), device, [](auto& d) { return d.Reset(); });
}

MMRESULT waveOutPause(HWAVEOUT device) {
  return OnDevice(Outputs(), device, [](auto& d) { return d.Pause(); });
}

MMRESULT waveOutRestart(HWAVEOUT device) {
  return OnDevice(Outputs(), device, [](auto& d) { return d.Restart(); });
}

MMRESULT waveOutClose(HWAVEOUT device) {
  return CloseDevice(Outputs(), device);
}

}  // namespace velmora::platform
