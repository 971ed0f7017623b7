// The sound input of the tone component (wcard) and the per-buffer
// pipeline (waveInProc2).  The order of the steps is explained in capture.h.

#include "velmora/component/capture.h"

#include <algorithm>
#include <memory>

#include "velmora/component/keys.h"
#include "velmora/component/noise_random.h"
#include "velmora/component/recording.h"
#include "velmora/component/spectrum.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/host/math.h"

namespace velmora::tonvel {

namespace capture {

namespace {

using platform::WAVEHDR;

constexpr uint32_t kHeaderSize = sizeof(WAVEHDR);

// The component whose input is open; the unit-level handles belong to it.
TDTMF* g_owner = nullptr;
// The capture buffer's memory, allocated zero-filled at each open.
std::unique_ptr<char[]> g_buffer;

}  // namespace

platform::WAVEFORMATEX CaptureFormat() {
  platform::WAVEFORMATEX f{};
  f.wFormatTag = platform::WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 44100;
  f.wBitsPerSample = 8;
  f.nBlockAlign = static_cast<uint16_t>(f.wBitsPerSample / 8 * f.nChannels);
  f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
  f.cbSize = 0;
  return f;
}

TDTMF* InputOwner() {
  return g_owner;
}

void OpenInput(TDTMF& owner) {
  if (g_owner) return;
  g_owner = &owner;
  fwnd = host::Application().AllocateHWnd([&owner](host::TMessage& m) { owner.waveInProc2(m); });
  // The count does not decide anything: a missing device shows as a failed
  // open, which is not checked either.
  (void)platform::waveInGetNumDevs();
  header = CaptureFormat();
  hwi2 = nullptr;
  (void)platform::waveInOpen(&hwi2, platform::WAVE_MAPPER, &header, fwnd, 0,
                             platform::CALLBACK_WINDOW);
  const uint32_t length = static_cast<uint32_t>(header.nBlockAlign) * bufsize;
  g_buffer = std::make_unique<char[]>(length);  // zero-filled
  adr2 = WAVEHDR{};
  adr2.lpData = g_buffer.get();
  adr2.dwBufferLength = length;
  adr2.dwFlags = platform::WHDR_BEGINLOOP;
  (void)platform::waveInPrepareHeader(hwi2, &adr2, kHeaderSize);
  // Started before the buffer is added, as the device expects.
  (void)platform::waveInStart(hwi2);
  (void)platform::waveInAddBuffer(hwi2, &adr2, kHeaderSize);
}

void CloseInput(TDTMF& owner) {
  if (g_owner != &owner) return;
  (void)platform::waveInReset(hwi2);
  (void)platform::waveInUnprepareHeader(hwi2, &adr2, kHeaderSize);
  const platform::MMRESULT closed = platform::waveInClose(hwi2);
  hwi2 = nullptr;
  if (fwnd != 0) host::Application().DeallocateHWnd(fwnd);
  fwnd = 0;
  if (closed == platform::MMSYSERR_NOERROR || closed == platform::MMSYSERR_INVALHANDLE) {
    g_buffer.reset();
  } else {
    // The device refused to close and may still hold the buffer: its memory
    // is left to the device rather than freed under it.
    (void)g_buffer.release();
  }
  adr2.lpData = nullptr;
  g_owner = nullptr;
}

void ClearResults() {
  inwav.y.clear();
  outwav.y.clear();
  spektr.x.clear();
  spektr.y.clear();
}

int32_t BytesToSamples(const uint8_t* bytes, size_t n, double* y) {
  int32_t peak = 0;
  for (size_t i = 0; i < n; ++i) {
    const int32_t s = static_cast<int32_t>(bytes[i]) - 128;
    const int32_t magnitude = s < 0 ? -s : s;
    peak = magnitude > peak ? magnitude : peak;
    y[i] = s;
  }
  return peak;
}

int32_t TakeSamples(TDTMF& owner, const WAVEHDR& h) {
  // A device never reports more than the buffer holds; the bound keeps a
  // faulty count from reading past it.
  const uint32_t count = std::min(h.dwBytesRecorded, h.dwBufferLength);
  const auto* bytes = reinterpret_cast<const uint8_t*>(h.lpData);
  const size_t first = inwav.y.size();
  inwav.y.resize(first + count);
  double* y = inwav.y.data() + first;
  int32_t peak = 0;
  // In runs that end where a block of random bits completes: its event sees
  // inwav.y filled up to the sample that completed it, as when each sample
  // is stored and then stepped.
  for (size_t i = 0; i < count;) {
    const size_t run = std::min<size_t>(noise::SamplesToBlockEnd(owner), count - i);
    peak = std::max(peak, BytesToSamples(bytes + i, run, y + i));
    noise::RandomSteps(owner, bytes + i, run);
    i += run;
  }
  return peak;
}

int32_t PeakLevel(int32_t peak) {
  // peak * 100 / 128 is exact in a double, so halves are true halves.
  return static_cast<int32_t>(host::Round(static_cast<double>(peak) * 100.0 / 128.0));
}

void ReportTone(TDTMF& owner) {
  if (owner.GetTone) owner.GetTone(&owner, GLVAL, gl_noise, a0, f0);
}

void Requeue() {
  (void)platform::waveInAddBuffer(hwi2, &adr2, kHeaderSize);
}

}  // namespace capture

// ---- TDTMF members ------------------------------------------------------------------

void TDTMF::wcard() {
  FStartRealTime = !FStartRealTime;
  try {
    if (FStartRealTime)
      capture::OpenInput(*this);
    else
      capture::CloseInput(*this);
  } catch (...) {
    // A sound card that cannot be opened or closed leaves the component
    // silent: no event, no message.
  }
}

void TDTMF::Dispatch(host::TMessage& Msg) {
  if (Msg.Msg == platform::MM_WIM_DATA) waveInProc2(Msg);
}

void TDTMF::waveInProc2(host::TMessage& Msg) {
  // The window also receives the device's open and close notices.  They
  // carry no buffer, and the header may be in the device's hands while
  // they are handled, so only the buffer's own notice reads it.
  if (Msg.Msg != platform::MM_WIM_DATA) return;
  if (!capture::BufferFilled(adr2)) return;  // step 1
  // Step 13 on every way out: an exception from a host's event handler goes
  // on to Application().OnException, and capture goes on all the same.
  struct RequeueOnExit {
    ~RequeueOnExit() { capture::Requeue(); }
  } requeue;
  if (FStartRealTime) {                                      // step 2
    capture::ClearResults();                                 // step 3
    const int32_t peak = capture::TakeSamples(*this, adr2);  // step 4
    GLVAL = capture::PeakLevel(peak);                        // step 5
    // step 6-8: the spectrum, its bin spacing, the peaks and the key
    calc_spektr(fcntpp);
    FFTDTMF(spectrum::BinSpacing(header.nChannels, header.nSamplesPerSec, outwav.y.size()));
    recording::AppendBuffer(*this, adr2);  // step 9
    recording::ReportStopped(*this);       // step 10
    capture::ReportTone(*this);            // step 11
    keys::ReportKey(*this);                // step 12
  }
}

}  // namespace velmora::tonvel
