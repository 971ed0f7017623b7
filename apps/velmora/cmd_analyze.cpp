// velmora analyze FILE [--set Name=value]... [--spectrum OUT.csv] [--json]
//
// Analyses one file through the tone component's LoadWavMp3Sharc_path, with
// live processing switched off first and no sound input opened, and prints
// what GetTone and Key report.  A file that cannot be analysed is one line
// on stderr naming the file and the reason, and exit status 2.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "apps/velmora/command.h"
#include "apps/velmora/plot.h"
#include "apps/velmora/session.h"
#include "apps/velmora/tone_events.h"
#include "velmora/component/file_analysis.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/component/wav_reader.h"
#include "velmora/host/exception.h"
#include "velmora/host/paths.h"
#include "velmora/host/text.h"
#include "velmora/platform/wave.h"

namespace velmora::app {
namespace {

namespace fs = std::filesystem;

enum class FileKind { Wav, Mp3, HexList };

FileKind KindOf(const std::string& path) {
  const std::string extension = host::LowerCase(host::ExtractFileExt(path));
  if (extension == ".wav") return FileKind::Wav;
  if (extension == ".mp3") return FileKind::Mp3;
  return FileKind::HexList;
}

// The component takes an MP3 from plugins/ beside the executable, by name;
// one given elsewhere is copied there first (replacing a file of that name).
void PlaceMp3(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw UsageError(path + ": no such file");
  const fs::path folder = tonvel::file_analysis::DecoderDirectory() + "plugins";
  if (!fs::is_directory(folder, ec))
    throw UsageError(path + ": the MP3 decoder's folder " + folder.string() +
                     " does not exist (plugins/lame beside velmora decodes MP3 files)");
  const fs::path target = folder / fs::path(path).filename();
  if (fs::exists(target, ec) && fs::equivalent(path, target, ec)) return;
  fs::copy_file(path, target, fs::copy_options::overwrite_existing, ec);
  if (ec) throw UsageError(path + ": cannot copy it to " + target.string() + ": " + ec.message());
}

// The --spectrum output, checked before the analysis so that a path that
// cannot be written is reported before any result; "-" is standard output.
// The check opens the file for appending (an existing file keeps its
// contents until the spectrum replaces them); a file it created for an
// analysis that then failed is removed again.
class SpectrumOutput {
 public:
  explicit SpectrumOutput(std::string path) : path_(std::move(path)) {
    if (path_ == "-") return;
    std::error_code ec;
    existed_ = std::filesystem::exists(path_, ec);
    std::FILE* f = std::fopen(path_.c_str(), "a");
    if (!f) throw UsageError(path_ + ": cannot write the spectrum: " + std::strerror(errno));
    std::fclose(f);
  }
  ~SpectrumOutput() {
    if (path_ != "-" && !written_ && !existed_) std::remove(path_.c_str());
  }
  SpectrumOutput(const SpectrumOutput&) = delete;
  SpectrumOutput& operator=(const SpectrumOutput&) = delete;

  // The series x,y, one pair per line under a header line.
  void Write(const tonvel::TXYSeries& series) {
    std::string text = "x,y\n";
    for (size_t i = 0; i < series.x.size() && i < series.y.size(); ++i)
      text += NumberText(series.x[i]) + "," + NumberText(series.y[i]) + "\n";
    std::FILE* f = path_ == "-" ? stdout : std::fopen(path_.c_str(), "w");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = (f == stdout ? std::fflush(f) : std::fclose(f)) == 0 && ok;
    if (!ok) throw WorkFailed(path_ + ": cannot write the spectrum: " + std::strerror(errno));
    written_ = true;
  }

 private:
  std::string path_;
  bool existed_ = false;
  bool written_ = false;
};

struct ToneReport {
  int32_t asum;
  double noise_level, a0, f0;
};

struct KeyReport {
  std::string key;
  double a1, a2, f1, f2;
};

int RunAnalyze(const Args& args) {
  if (args.positional.size() != 1)
    throw UsageError("needs exactly one file to analyse (see --help)");
  const std::string path = args.positional[0];
  const bool json = args.Has("--json");
  const FileKind kind = KindOf(path);

  // The component fails silently on a bad WAV; the file is checked here
  // first so that the reason reaches the user.
  if (kind == FileKind::Wav) {
    const tonvel::wav_info info = tonvel::read_wav(path);
    if (info.status != tonvel::WavStatus::Success)
      throw UsageError(path + ": " + tonvel::WavFailureText(info));
  } else if (kind == FileKind::Mp3) {
    PlaceMp3(path);
  }

  std::unique_ptr<SpectrumOutput> spectrum;
  if (args.Has("--spectrum")) spectrum = std::make_unique<SpectrumOutput>(args.Get("--spectrum"));

  // No sound input: the analysis needs none, and live processing is off.
  platform::SetDefaultInput({platform::DeviceKind::None, "", false});
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  dtmf->set_StartRealTime(false);

  std::optional<ToneReport> tone;
  std::optional<KeyReport> key;
  dtmf->GetTone = [&tone](host::TObject*, int32_t asum, double noise_level, double a0, double f0) {
    tone = ToneReport{asum, noise_level, a0, f0};
  };
  dtmf->Key = [&key](host::TObject*, const std::string& k, double a1, double a2, double f1,
                     double f2) {
    key = KeyReport{k, a1, a2, f1, f2};
  };
  try {
    dtmf->set_LoadWavMp3Sharc_path(path);
  } catch (const host::Exception& e) {
    throw UsageError(e.what());
  }
  if (kind != FileKind::HexList && !tonvel::file_analysis::LastFailure().empty())
    throw UsageError(path + ": " + tonvel::file_analysis::LastFailure());

  if (tone) PrintTone(json, tone->asum, tone->noise_level, tone->a0, tone->f0);
  if (key) PrintKey(json, key->key, key->a1, key->a2, key->f1, key->f2);
  if (spectrum) {
    std::fflush(stdout);
    spectrum->Write(tonvel::spektr);
  }
  if (args.Has("--plot"))
    DrawSpectrum(args.Get("--plot"), tonvel::spektr,
                 {tonvel::gl_noise, tone ? tone->a0 : -1, tone ? tone->f0 : 0, path,
                  kind != FileKind::HexList});
  dtmf.reset();
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(analyze) {
  return Command{
      "analyze",
      "analyse a WAV, MP3 or hexadecimal sample list: strongest tone, noise and DTMF key",
      "velmora analyze FILE [--set Name=value]... [--spectrum OUT.csv] [--json]",
      {SetOption(),
       {"--spectrum", "OUT.csv",
        "write the spectrum series (x,y per line) to OUT.csv (- for stdout)"},
       {"--plot", "OUT.png|OUT.svg", "draw the spectrum (levels, noise, strongest tone)"},
       JsonOption()},
      "Writes FILE to the tone component's LoadWavMp3Sharc_path with live processing\n"
      "switched off (no sound input is opened) and prints what the component reports:\n"
      "a GetTone line (asum: the last live peak level, 0 here; noise_level; a0, f0: the\n"
      "strongest tone) and, when a DTMF key is recognised, a Key line (key; a1, a2: the\n"
      "two strongest levels in dB; f1, f2: their frequencies in Hz).\n"
      "\n"
      "The kind of file comes from its extension, in any case:\n"
      "  .wav  a PCM WAV file; the second byte of every byte pair is a sample, so\n"
      "        16-bit files give their high bytes (stereo interleaved) and 8-bit\n"
      "        files cannot give a key.  The spectrum is that of the first\n"
      "        FFT_point samples (a power of two).\n"
      "  .mp3  decoded by plugins/lame beside velmora, which reads the MP3 from that\n"
      "        plugins/ folder: an MP3 given elsewhere is copied there first\n"
      "        (replacing a file of the same name), and the decoded WAV is left\n"
      "        there as NAME.mp3.wav.\n"
      "  else  a hexadecimal sample list: one sample per line (optionally 0x-prefixed,\n"
      "        optionally under a first line @@Hexadecimal); its spectrum has positions,\n"
      "        not frequencies, as x, and only the noise level is new (GetTone repeats\n"
      "        the tone of the previous analysis, here none).\n"
      "\n"
      "--set writes published properties first: FFT_point, FFT_window (dB_0, dB_54,\n"
      "dB_67, dB_72, dB_92), FFT_noise, FFT_cut_minusamp.  --spectrum writes the\n"
      "spectrum series as CSV.  A missing or malformed file exits with 2 and one line\n"
      "naming the file and the reason.",
      RunAnalyze};
}

}  // namespace velmora::app
