// The offline analysis of WAV and MP3 files, and the dispatch by extension.
// See file_analysis.h.

#include "velmora/component/file_analysis.h"

#include <stdlib.h>

#include <exception>
#include <filesystem>
#include <system_error>

#include "velmora/component/capture.h"
#include "velmora/component/hex_list.h"
#include "velmora/component/keys.h"
#include "velmora/component/spectrum.h"
#include "velmora/component/unit_state.h"
#include "velmora/component/wav_reader.h"
#include "velmora/host/paths.h"
#include "velmora/host/text.h"
#include "velmora/platform/process.h"

namespace velmora::tonvel::file_analysis {

namespace {

// The folder the MP3 must lie in, relative to the decoder's working
// directory (the executable's directory).  The decoder itself is
// host::FindExternalProgram("lame"): plugins/lame there, else lame on PATH.
constexpr const char* kPluginFolder = "plugins/";

std::string g_last_failure;

// Appends the samples of the data chunk.  8-bit PCM is unsigned, one sample
// per byte, s = byte - 128, as the capture and the component's own
// recordings have it; read as byte pairs it would be garbage.  Wider sound
// contributes the second byte of every byte pair, as a signed 8-bit value
// (the high byte of 16-bit samples).
void TakeSamples(const std::vector<uint8_t>& data, uint16_t bits_per_sample) {
  if (bits_per_sample == 8) {
    const size_t first = inwav.y.size();
    inwav.y.resize(first + data.size());
    double* y = inwav.y.data() + first;
    for (size_t i = 0; i < data.size(); ++i) y[i] = static_cast<int>(data[i]) - 128;
    return;
  }
  const size_t pairs = data.size() / 2;
  const size_t first = inwav.y.size();
  inwav.y.resize(first + pairs);
  double* y = inwav.y.data() + first;
  for (size_t i = 0; i < pairs; ++i) y[i] = static_cast<int8_t>(data[2 * i + 1]);
}

}  // namespace

const std::string& LastFailure() {
  return g_last_failure;
}

namespace {

// A folder of this process's own under the system's temporary folder, with
// an empty plugins/ in it, removed with its content when the process ends.
class PrivateDecoderFolder {
 public:
  PrivateDecoderFolder() {
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "velmora-XXXXXX").string();
    if (ec || !::mkdtemp(pattern.data())) return;
    if (!std::filesystem::create_directory(std::filesystem::path(pattern) / "plugins", ec) || ec) {
      std::filesystem::remove_all(pattern, ec);
      return;
    }
    path_ = host::IncludeTrailingPathDelimiter(pattern);
  }
  ~PrivateDecoderFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  PrivateDecoderFolder(const PrivateDecoderFolder&) = delete;
  PrivateDecoderFolder& operator=(const PrivateDecoderFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;  // "" when it could not be made
};

}  // namespace

std::string DecoderDirectory() {
  const std::string exe_dir = host::ExtractFilePath(host::ParamStr(0));
  // A program that ships its external programs keeps a plugins/ folder
  // beside itself; an installed one (/usr/bin/velmora) has none and must not
  // need one, so it works in a folder of its own.
  if (host::DirectoryExists(exe_dir + kPluginFolder)) return exe_dir;
  static const PrivateDecoderFolder private_folder;
  return private_folder.path().empty() ? exe_dir : private_folder.path();
}

std::string DecodedPath(const std::string& mp3_path) {
  return DecoderDirectory() + kPluginFolder + host::ExtractFileName(mp3_path) + ".wav";
}

std::string DecodeMp3(const std::string& mp3_path, uint32_t timeout_ms) {
  const std::string dir = DecoderDirectory();
  // Only the name counts: the MP3 is taken from plugins/ whatever directory
  // the path named.
  const std::string source = std::string(kPluginFolder) + host::ExtractFileName(mp3_path);
  if (!host::FileExists(dir + source))
    return "the MP3 must lie in " + dir + kPluginFolder + ", and " + dir + source +
           " does not exist";
  const std::string decoder = host::FindExternalProgram("lame");
  if (decoder.empty())
    return "the MP3 decoder lame is neither in " + dir + kPluginFolder + " nor on the PATH";
  // The name is one argument, blanks and all; the output is named
  // explicitly, so any version of the decoder writes it where it is read.
  const platform::SpawnResult child =
      platform::Spawn(decoder, {"--decode", source, source + ".wav"}, dir);
  if (!child) return "the MP3 decoder could not be started: " + child.error;
  const platform::WaitResult done = platform::WaitForExit(child.pid, timeout_ms);
  switch (done.status) {
    case platform::WaitStatus::TimedOut:
      platform::Kill(child.pid);
      return "the MP3 decoder did not finish within " + std::to_string(timeout_ms) +
             " ms and was stopped";
    case platform::WaitStatus::Failed:
      return "waiting for the MP3 decoder failed: " + done.error;
    case platform::WaitStatus::Exited:
      break;
  }
  if (done.exit_code != 0)
    return "the MP3 decoder failed on " + dir + source + " (exit status " +
           std::to_string(done.exit_code) + ")";
  return "";
}

std::string AnalyseWavMp3(TDTMF& owner, const std::string& path) {
  std::string wav = path;
  if (host::LowerCase(host::ExtractFileExt(path)) == ".mp3") {
    std::string failure = DecodeMp3(path);
    if (!failure.empty()) return failure;
    wav = DecodedPath(path);
  }
  wav_info info = read_wav(wav);
  if (info.status != WavStatus::Success) return wav + ": " + WavFailureText(info);
  TakeSamples(info.data, info.bits_per_sample);
  info.data = {};  // released before the spectrum is taken
  if (inwav.y.empty()) return wav + ": the data chunk holds no samples";
  calc_spektr(fcntpp);
  owner.FFTDTMF(spectrum::BinSpacing(info.channels, info.samples_per_sec, outwav.y.size()));
  return "";
}

void LoadFile(TDTMF& owner, const std::string& path) {
  capture::ClearResults();
  const std::string extension = host::LowerCase(host::ExtractFileExt(path));
  if (extension == ".wav" || extension == ".mp3") {
    // Whatever goes wrong ends this analysis only; the events follow.
    try {
      g_last_failure = AnalyseWavMp3(owner, path);
    } catch (const std::exception& e) {
      g_last_failure = path + ": " + e.what();
    }
  } else {
    g_last_failure.clear();
    AnalyseHexList(path);
  }
  capture::ReportTone(owner);
  keys::ReportKey(owner);
}

}  // namespace velmora::tonvel::file_analysis
