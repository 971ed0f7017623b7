// velmora analyze FILE [--set Name=value]... [--spectrum OUT.csv] [--json]
//
// Analyses one file through the tone component's LoadWavMp3Sharc_path, with
// live processing switched off first and no sound input opened, and prints
// what GetTone and Key report.  A file that cannot be analysed is one line
// on stderr naming the file and the reason, and exit status 2.
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

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

// True when the file begins as a RIFF/WAVE file does.
bool LooksLikeWav(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char head[12] = {};
  const bool riff = std::fread(head, 1, sizeof head, f) == sizeof head &&
                    std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
  std::fclose(f);
  return riff;
}

// By content first: a RIFF/WAVE file is a WAV whatever its name; otherwise
// by extension, in any case.
FileKind KindOf(const std::string& path) {
  const std::string extension = host::LowerCase(host::ExtractFileExt(path));
  if (extension == ".wav" || LooksLikeWav(path)) return FileKind::Wav;
  if (extension == ".mp3") return FileKind::Mp3;
  return FileKind::HexList;
}

// Why the component's WAV reading cannot analyse a file it reads: it takes
// 8-bit unsigned and 16-bit signed PCM only, and needs a channel.  "" when
// it can.
std::string Unanalysable(const tonvel::wav_info& info) {
  constexpr uint16_t kExtensible = 0xFFFE;
  std::string what;
  switch (info.format_tag) {
    case 1:
      break;
    case 3:
      what = "floating-point samples";
      break;
    case 6:
      what = "A-law samples";
      break;
    case 7:
      what = "\u00b5-law samples";
      break;
    case kExtensible:
      what = "an extensible format chunk";
      break;
    default:
      what = "format tag " + std::to_string(info.format_tag);
  }
  if (what.empty() && info.bits_per_sample != 8 && info.bits_per_sample != 16)
    what = std::to_string(info.bits_per_sample) + "-bit samples";
  if (what.empty() && info.channels == 0) what = "no channels";
  if (what.empty()) return "";
  return "cannot be analysed: " + what +
         " (analyze reads 8- and 16-bit PCM WAV; velmora decode reads any sound file)";
}

// Files made for one analysis, removed when it ends whatever happens.
class PrivateFiles {
 public:
  PrivateFiles() = default;
  PrivateFiles(const PrivateFiles&) = delete;
  PrivateFiles& operator=(const PrivateFiles&) = delete;
  ~PrivateFiles() {
    std::error_code ec;
    // Last made first: a link before its folder.
    for (auto p = paths_.rbegin(); p != paths_.rend(); ++p) fs::remove(*p, ec);
  }
  void Add(fs::path p) { paths_.push_back(std::move(p)); }

 private:
  std::vector<fs::path> paths_;
};

// The component takes an MP3 from plugins/ beside the executable, by name.
// The file is copied there under a name no other run uses (so two analyses
// of files with the same name at once cannot read each other's sound); the
// copy and the decoded WAV are removed afterwards.  Returns the copy's path.
std::string PlaceMp3(const std::string& path, PrivateFiles& made) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw UsageError(path + ": no such file");
  const fs::path folder = tonvel::file_analysis::DecoderDirectory() + "plugins";
  if (!fs::is_directory(folder, ec))
    throw UsageError(path + ": the MP3 decoder's folder " + folder.string() +
                     " does not exist (plugins/lame beside velmora decodes MP3 files)");
  std::string name = (folder / "velmora-analyze-XXXXXX.mp3").string();
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0)
    throw UsageError(path + ": cannot make a copy in " + folder.string() + ": " +
                     std::strerror(errno));
  ::close(fd);
  made.Add(name);
  made.Add(tonvel::file_analysis::DecodedPath(name));
  fs::copy_file(path, name, fs::copy_options::overwrite_existing, ec);
  if (ec) throw UsageError(path + ": cannot copy it to " + name + ": " + ec.message());
  return name;
}

// A WAV under another name is handed to the component through a link with
// the extension it dispatches on.
std::string LinkAsWav(const std::string& path, PrivateFiles& made) {
  std::string dir = (fs::temp_directory_path() / "velmora-analyze-XXXXXX").string();
  if (!::mkdtemp(dir.data()))
    throw UsageError(path + ": cannot make a temporary folder: " + std::strerror(errno));
  const fs::path link = fs::path(dir) / "sound.wav";
  std::error_code ec;
  fs::create_symlink(fs::absolute(path, ec), link, ec);
  made.Add(dir);  // removed after the link
  if (ec) throw UsageError(path + ": cannot link it as " + link.string() + ": " + ec.message());
  made.Add(link);
  return link.string();
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
  PrivateFiles made;
  std::string component_path = path;
  if (kind == FileKind::Wav) {
    const tonvel::wav_info info = tonvel::read_wav(path);
    if (info.status != tonvel::WavStatus::Success)
      throw UsageError(path + ": " + tonvel::WavFailureText(info));
    const std::string refusal = Unanalysable(info);
    if (!refusal.empty()) throw UsageError(path + ": " + refusal);
    if (host::LowerCase(host::ExtractFileExt(path)) != ".wav")
      component_path = LinkAsWav(path, made);
  } else if (kind == FileKind::Mp3) {
    component_path = PlaceMp3(path, made);
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
    dtmf->set_LoadWavMp3Sharc_path(component_path);
  } catch (const host::Exception& e) {
    throw UsageError(e.what());
  }
  if (kind != FileKind::HexList && !tonvel::file_analysis::LastFailure().empty())
    throw UsageError(path + ": " + tonvel::file_analysis::LastFailure());
  // The spectrum is that of the first N samples only; say so when the file
  // holds more, since keys later in it are not looked at.
  const size_t analysed = 2 * tonvel::outwav.y.size();
  if (kind != FileKind::HexList && tonvel::inwav.y.size() > analysed)
    std::fprintf(stderr,
                 "velmora analyze: %s: only the first %zu of its %zu samples are analysed; "
                 "velmora decode %s finds the key presses in all of it\n",
                 path.c_str(), analysed, tonvel::inwav.y.size(), path.c_str());

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
      "A file that begins as a RIFF/WAVE file is a WAV; otherwise the kind comes\n"
      "from the extension, in any case:\n"
      "  .wav  an 8- or 16-bit PCM WAV file (others are refused with exit 2): 8-bit\n"
      "        samples are read one per byte, 16-bit ones by their high bytes\n"
      "        (stereo interleaved).  The spectrum is that of the first FFT_point\n"
      "        samples (a power of two); a longer file is noted on stderr (velmora\n"
      "        decode finds every key press in a file).\n"
      "  .mp3  decoded by plugins/lame beside velmora from a private copy in that\n"
      "        plugins/ folder; the copy and the decoded WAV are removed afterwards.\n"
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
