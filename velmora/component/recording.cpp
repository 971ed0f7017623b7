// The sound trigger, the recording file and the WAV header.

#include "velmora/component/recording.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "velmora/component/recognition.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/host/datetime.h"
#include "velmora/host/math.h"
#include "velmora/host/paths.h"
#include "velmora/host/streams.h"

namespace velmora::tonvel {

namespace recording {

namespace {

// Both fit the short-string buffer: reporting progress allocates nothing.
const std::string kStartRecord = "Start record";
const std::string kStopRecord = "Stop record";

// The largest recording: its RIFF size (n + 36) and n1 must stay in range.
constexpr int64_t kMaxSampleBytes = std::numeric_limits<int32_t>::max() - 36;

std::string g_directory;

void Put32(std::array<uint8_t, 44>& h, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put16(std::array<uint8_t, 44>& h, size_t at, uint16_t v) {
  h[at] = static_cast<uint8_t>(v);
  h[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutTag(std::array<uint8_t, 44>& h, size_t at, const char (&tag)[5]) {
  for (size_t i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(tag[i]);
}

int32_t SizeKb() {
  return static_cast<int32_t>(host::Round(static_cast<double>(n1) / 1024.0));
}

// Quiet or Triggered -> Recording: a new file, created empty.  The name is
// made unique and the file created before any state changes, so a failure
// leaves the recorder as it was.
void OpenRecording() {
  const std::string name = UniqueFileName(g_directory + RecordingName(host::Date(), host::Time()));
  auto stream = std::make_unique<host::TFileStream>(name, host::fmCreate);
  n1 = 0;
  temp_gsa = name;
  StreamWAV = std::move(stream);
  start_mp3 = true;
}

// Recording -> Quiet.  start_mp3 is cleared also when completing fails, so
// the recorder never stays "open" with its stream gone.
void CloseRecording() {
  start_mp3 = false;
  finish_recording();
}

}  // namespace

std::array<uint8_t, 44> MakeWaveHeader(uint32_t n) {
  constexpr uint16_t kChannels = 1;
  constexpr uint32_t kRate = 44100;
  constexpr uint16_t kBits = 8;
  std::array<uint8_t, 44> h{};
  PutTag(h, 0, "RIFF");
  Put32(h, 4, n + 36);
  PutTag(h, 8, "WAVE");
  PutTag(h, 12, "fmt ");
  Put32(h, 16, 16);
  Put16(h, 20, platform::WAVE_FORMAT_PCM);
  Put16(h, 22, kChannels);
  Put32(h, 24, kRate);
  Put32(h, 28, kChannels * kRate * kBits / 8);
  Put16(h, 32, 1);  // block align
  Put16(h, 34, kBits);
  PutTag(h, 36, "data");
  Put32(h, 40, n);
  return h;
}

std::string RecordingName(host::TDateTime date, host::TDateTime time) {
  return host::FormatDateTime("dd.mm.yyyy", date) + host::FormatDateTime("_hh-mm-ss", time) +
         ".wav";
}

std::string UniqueFileName(const std::string& path) {
  if (!host::FileExists(path)) return path;
  const std::string ext = host::ExtractFileExt(path);
  const std::string stem = path.substr(0, path.size() - ext.size());
  for (int k = 2;; ++k) {
    std::string candidate = stem + "_" + std::to_string(k) + ext;
    if (!host::FileExists(candidate)) return candidate;
  }
}

void SetDirectory(const std::string& directory) {
  g_directory = directory.empty() ? std::string() : host::IncludeTrailingPathDelimiter(directory);
}

const std::string& Directory() {
  return g_directory;
}

void TriggerTick(TDTMF& owner) {
  if (GLVAL < owner.TriggerOff_Threshold_Sound()) {
    ++gl_start;  // a quiet tick
  } else {
    gl_start = 0;
    if (!start) {
      if (owner.StartRealTime() && owner.TriggerOff_Record_Sound() && !start_mp3)
        OpenRecording();  // may raise: then start stays False
      start = true;
      if (owner.TriggerOff) owner.TriggerOff(&owner, true);
    }
  }
  if (gl_start > ReleaseLimit(owner.TriggerOff_Time_ms())) {
    gl_start = 0;
    if (start) {
      start = false;
      if (owner.TriggerOff) owner.TriggerOff(&owner, false);
      if (owner.StartRealTime() && owner.TriggerOff_Record_Sound() && start_mp3) {
        CloseRecording();
        if (owner.TriggerOff_Record_Sound_Recognize()) recognition::HandOff(owner);
      }
    }
  }
}

void AppendBuffer(TDTMF& owner, const platform::WAVEHDR& buffer) {
  if (!(start && owner.TriggerOff_Record_Sound() && start_mp3) || !StreamWAV) return;
  const int64_t count = std::min<int64_t>(std::min(buffer.dwBytesRecorded, buffer.dwBufferLength),
                                          kMaxSampleBytes - n1);
  // n1 counts what reached the file, so the header always agrees with the
  // samples that follow it, even after a failed write.
  if (count > 0) {
    const int64_t written = StreamWAV->Write(buffer.lpData, count);
    if (written > 0) n1 += static_cast<int32_t>(written);
  }
  if (owner.RecordSound) owner.RecordSound(&owner, SizeKb(), kStartRecord);
}

void ReportStopped(TDTMF& owner) {
  if (!start && owner.TriggerOff_Record_Sound() && owner.RecordSound)
    owner.RecordSound(&owner, SizeKb(), kStopRecord);
}

void FinishOnDestroy(TDTMF& owner) {
  if (!start_mp3) return;
  start = false;
  try {
    CloseRecording();
  } catch (...) {
    host::Application().HandleException(&owner);
  }
}

}  // namespace recording

void finish_recording() {
  WaveHeader = recording::MakeWaveHeader(static_cast<uint32_t>(std::max(n1, 0)));
  StreamWAV.reset();
  host::TMemoryStream image;
  image.WriteBuffer(WaveHeader.data(), static_cast<int64_t>(WaveHeader.size()));
  {
    host::TFileStream samples(temp_gsa, host::fmOpenRead);
    image.CopyFrom(samples, 0);
  }
  image.SaveToFile(temp_gsa);
}

}  // namespace velmora::tonvel
