// Wave input and output: the classic multimedia calls (waveIn*, waveOut*)
// with their records, flags, messages and result codes, over interchangeable
// back ends (PortAudio for real devices; a file source, a loopback, a file
// sink and none as virtual devices).
//
// Contract shared by every back end:
//  - A buffer belongs to the device from waveInAddBuffer/waveOutWrite until it
//    comes back marked WHDR_DONE; the caller must not touch or free it
//    meanwhile.  Buffers come back in the order they were queued.
//  - Notifications (window message, event, function) are made from a device
//    thread without any device lock held, after the header has been updated.
//  - Every call may be made from any thread, but the calls on one handle must
//    not race with its waveInClose/waveOutClose.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "velmora/platform/event.h"

namespace velmora::platform {

// ---- records -------------------------------------------------------------

#pragma pack(push, 1)
struct WAVEFORMATEX {
  uint16_t wFormatTag;       // WAVE_FORMAT_PCM
  uint16_t nChannels;        // 1 or 2
  uint32_t nSamplesPerSec;   // 8000 to 192000
  uint32_t nAvgBytesPerSec;  // nSamplesPerSec * nBlockAlign (not checked)
  uint16_t nBlockAlign;      // nChannels * wBitsPerSample / 8
  uint16_t wBitsPerSample;   // 8 (unsigned, 128 = silence) or 16 (signed)
  uint16_t cbSize;           // extra bytes after the record; ignored for PCM
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is the packed 18-byte record");

struct WAVEHDR;
struct WAVEHDR {
  char* lpData;              // the buffer, owned by the caller
  uint32_t dwBufferLength;   // its length in bytes
  uint32_t dwBytesRecorded;  // input: bytes filled when the buffer comes back
  uintptr_t dwUser;          // the caller's own data, never touched
  uint32_t dwFlags;          // WHDR_* flags
  uint32_t dwLoops;          // output loop count (loops are played once)
  WAVEHDR* lpNext;           // reserved for the device
  uintptr_t reserved;        // reserved for the device
};

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_BEGINLOOP = 0x04;
constexpr uint32_t WHDR_ENDLOOP = 0x08;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// Device numbers: 0 .. count-1, or the mapper, which opens the default device.
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// Open flags: how the device notifies (at most one of the CALLBACK_* values),
// plus WAVE_FORMAT_QUERY to only ask whether the format would be accepted.
constexpr uint32_t CALLBACK_NULL = 0x00000;
constexpr uint32_t CALLBACK_WINDOW = 0x10000;    // callback = window handle
constexpr uint32_t CALLBACK_FUNCTION = 0x30000;  // callback = WaveInProc/WaveOutProc
constexpr uint32_t CALLBACK_EVENT = 0x50000;     // callback = HEVENT
constexpr uint32_t CALLBACK_TYPEMASK = 0x70000;
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;

// Messages: wParam = the device handle, lParam = the WAVEHDR* (DATA/DONE) or 0.
constexpr uint32_t MM_WOM_OPEN = 0x3BB;
constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr uint32_t MM_WOM_DONE = 0x3BD;
constexpr uint32_t MM_WIM_OPEN = 0x3BE;
constexpr uint32_t MM_WIM_CLOSE = 0x3BF;
constexpr uint32_t MM_WIM_DATA = 0x3C0;

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// ---- handles -------------------------------------------------------------

struct WaveInObject;
struct WaveOutObject;
using HWAVEIN = WaveInObject*;    // nullptr = none
using HWAVEOUT = WaveOutObject*;  // nullptr = none

// CALLBACK_FUNCTION procedures, called from the device thread.  They may add
// or write buffers but must not reset or close the device.
using WaveInProc = void (*)(HWAVEIN device, uint32_t msg, uintptr_t instance, uintptr_t param1,
                            uintptr_t param2);
using WaveOutProc = void (*)(HWAVEOUT device, uint32_t msg, uintptr_t instance, uintptr_t param1,
                             uintptr_t param2);

// ---- input ---------------------------------------------------------------

uint32_t waveInGetNumDevs();
MMRESULT waveInOpen(HWAVEIN* device_out, uint32_t device, const WAVEFORMATEX* format,
                    uintptr_t callback, uintptr_t instance, uint32_t flags);
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t header_size);
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, uint32_t header_size);
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, uint32_t header_size);
MMRESULT waveInStart(HWAVEIN device);
// Stops capture; a partly filled buffer comes back marked done, the others
// stay queued.
MMRESULT waveInStop(HWAVEIN device);
// Stops capture and returns every queued buffer marked done, with what was
// recorded into it so far (possibly 0 bytes).
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInClose(HWAVEIN device);

// ---- output --------------------------------------------------------------

uint32_t waveOutGetNumDevs();
MMRESULT waveOutOpen(HWAVEOUT* device_out, uint32_t device, const WAVEFORMATEX* format,
                     uintptr_t callback, uintptr_t instance, uint32_t flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t header_size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t header_size);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t header_size);
// Stops playback at once and returns every queued buffer marked done; what was
// not yet played is not played.
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);

// ---- window notification -------------------------------------------------

// Posts a message to a window; returns false when the window is unknown.  The
// library's start-up wires it to the host's PostMessage.  Devices call it
// from their own threads with no device lock held.  Window handle 0 means
// "no window": nothing is posted.
using WindowMessagePoster =
    std::function<bool(uintptr_t hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam)>;
void SetWindowMessagePoster(WindowMessagePoster poster);

// ---- device choice -------------------------------------------------------

enum class DeviceKind {
  PortAudio,   // the system's sound devices
  FileSource,  // input: a sound file (or a pipe, "-") played as the microphone
  Loopback,    // what the outputs play, mixed and captured
  FileSink,    // output: what is played, written to a WAV file
  None,        // no device: opens fail, counts are 0
};

struct InputChoice {
  DeviceKind kind = DeviceKind::None;
  std::string path;   // FileSource: the sound file; "-" is standard input
  bool fast = false;  // FileSource: fill each buffer as soon as it is queued
};

struct OutputChoice {
  DeviceKind kind = DeviceKind::None;
  std::string path;  // FileSink: the WAV file to write
};

// Choose the back end that later opens use (devices already open keep
// theirs).  Returns false, with LastDeviceError(), for a kind that cannot
// serve that direction (a file sink as input, a file source as output).
bool SetDefaultInput(InputChoice choice);
bool SetDefaultOutput(OutputChoice choice);
// The choice in force: the one set, else the automatic one (PortAudio when it
// finds a default device, else None).
InputChoice DefaultInput();
OutputChoice DefaultOutput();
// Forget the choices made, returning to the automatic ones.  A file sink that
// was chosen is completed once its last device has closed.
void ResetDeviceChoice();

// One line naming the device or file and the reason the latest failed open
// failed ("" when the latest open succeeded).
std::string LastDeviceError();
// Checks that `path` can be played by the file source; returns "" when it
// can, else one line naming the file and the reason.  Standard input ("-")
// and pipes are read once only and so are not checked here: a failure to
// open them is LastDeviceError().
std::string CheckInputFile(const std::string& path);
// True once the most recently opened input is a file source that has
// delivered its last sample (the notification for that buffer has been
// made).  False for every other input.
bool InputFinished();
// Completes the WAV header of the chosen file sink so that the file is valid
// now, with everything played so far; devices still open keep writing.
// Returns false with LastDeviceError() when the file cannot be written.
bool FinishOutputFile();

}  // namespace velmora::platform
