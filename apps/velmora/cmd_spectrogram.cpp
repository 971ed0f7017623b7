// velmora spectrogram FILE -o OUT.png|OUT.svg [--width W] [--height H]
//                     [--max-freq HZ] [--range DB] [--no-keys]
//
// Draws the whole file's spectrogram: time across, frequency up, level as
// colour, with axes and a colour scale, and above it the buffers in which
// the tone component's key decision found a DTMF key.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "apps/velmora/command.h"
#include "apps/velmora/key_press_output.h"
#include "apps/velmora/plot.h"
#include "apps/velmora/session.h"
#include "velmora/component/spectrum.h"
#include "velmora/component/tonvel.h"
#include "velmora/platform/wave/sound_file.h"

namespace velmora::app {
namespace {

constexpr int32_t kTransform = 2048;
constexpr uint16_t kWindowCode = 3;      // dB_92: the four-term Blackman-Harris window
constexpr double kWindowGain = 0.35875;  // its mean weight (a0)

// The whole file (any format the file source reads) as mono samples in
// [-1, 1].
std::vector<float> ReadMono(const std::string& path, uint32_t& rate) {
  platform::wave::SoundFileReader reader;
  const std::string failure = reader.Open(path);
  if (!failure.empty()) throw UsageError(failure);
  const platform::wave::PcmFormat format = reader.format();
  rate = format.rate;
  std::vector<float> mono;
  std::vector<uint8_t> bytes(1 << 16);
  std::vector<float> frames;
  for (;;) {
    const size_t got = reader.Read(bytes.data(), bytes.size());
    if (got == 0) break;
    const size_t count = got / format.block_align();
    frames.resize(count * format.channels);
    platform::wave::DecodeToFloat(bytes.data(), count, format, frames.data());
    for (size_t i = 0; i < count; ++i) {
      float sum = 0;
      for (int c = 0; c < format.channels; ++c) sum += frames[i * format.channels + c];
      mono.push_back(sum / format.channels);
    }
  }
  return mono;
}

// One column per pixel.  A column that spans no more than one transform
// takes the transform centred on its time; a longer one the mean power of
// the transforms that tile it, so that no sound between column centres is
// lost.  Bins are gathered into rows by their largest level (dBFS: a
// full-scale sine reads 0 dB).
Spectrogram Compute(const std::vector<float>& mono, uint32_t rate, int width, int height,
                    double max_hz) {
  Spectrogram s;
  const int64_t total = static_cast<int64_t>(mono.size());
  s.seconds = static_cast<double>(total) / rate;
  s.max_hz = max_hz;
  s.levels.assign(width, std::vector<float>(height, -1000.0f));
  std::vector<double> re(kTransform), im(kTransform), power(kTransform / 2);
  const double hz_per_bin = static_cast<double>(rate) / kTransform;
  const double scale = 2.0 / (kTransform * kWindowGain);
  auto transform_at = [&](int64_t first) {
    for (int32_t i = 0; i < kTransform; ++i) {
      const int64_t at = first + i;
      re[i] = at >= 0 && at < total ? mono[at] : 0.0;
      im[i] = 0;
    }
    int32_t n = kTransform;
    tonvel::fft(re, im, n, kWindowCode, 1);
    for (int32_t k = 0; k < kTransform / 2; ++k) power[k] += re[k] * re[k] + im[k] * im[k];
  };
  for (int x = 0; x < width; ++x) {
    const int64_t begin = x * total / width;
    const int64_t end = (x + 1) * total / width;
    std::fill(power.begin(), power.end(), 0.0);
    int blocks = 0;
    if (end - begin <= kTransform) {
      transform_at((begin + end) / 2 - kTransform / 2);
      blocks = 1;
    } else {
      for (int64_t first = begin; first < end; first += kTransform, ++blocks) transform_at(first);
    }
    auto& column = s.levels[x];
    for (int32_t k = 0; k < kTransform / 2; ++k) {
      const double hz = k * hz_per_bin;
      if (hz >= max_hz) break;
      const int row = std::min(height - 1, static_cast<int>(hz / max_hz * height));
      const double level = 10 * std::log10(power[k] / blocks * scale * scale + 1e-24);
      column[row] = std::max(column[row], static_cast<float>(level));
    }
    // Rows finer than the bins take the level of the bin below them.
    for (int y = 1; y < height; ++y)
      if (column[y] <= -1000.0f) column[y] = column[y - 1];
  }
  return s;
}

// The key presses in the file, found as `velmora decode` finds them: the
// component's key decision run over the file through the file source, as
// fast as it goes, and the press detector over its per-buffer results.
std::vector<Spectrogram::Mark> KeyMarks(const std::string& path) {
  Args input;
  input.Add("--input", path);
  input.Add("--fast", "");
  ChooseInput(input);
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  std::vector<Spectrogram::Mark> marks;
  PressTracker presses(*dtmf, tonvel::KeyPressSettings{}, [&marks](const tonvel::KeyPress& p) {
    marks.push_back({p.start_s, p.start_s + p.duration_s, std::string(1, p.key)});
  });
  if (!ReportMissingInput("spectrogram")) return marks;
  if (RunLoop(std::nullopt, [] { return InputUsedUp(); })) DrainMessages();
  presses.Finish();
  return marks;
}

int RunSpectrogram(const Args& args) {
  if (args.positional.size() != 1) throw UsageError("needs exactly one WAV file (see --help)");
  if (!args.Has("--out")) throw UsageError("needs -o OUT.png or -o OUT.svg (--out)");
  const std::string path = args.positional[0];
  const std::string out = args.Get("--out");
  const int64_t width = args.GetInt("--width", 800);
  const int64_t height = args.GetInt("--height", 400);
  if (width < 16 || width > 20000) throw UsageError("--width: between 16 and 20000 pixels");
  if (height < 16 || height > 4000) throw UsageError("--height: between 16 and 4000 pixels");
  const double range = args.GetDouble("--range", 120);
  if (!(range >= 10 && range <= 300)) throw UsageError("--range: between 10 and 300 dB");

  uint32_t rate = 0;
  const std::vector<float> mono = ReadMono(path, rate);
  if (mono.empty()) throw UsageError(path + ": the file holds no sound");
  const double max_hz = args.GetDouble("--max-freq", rate / 2.0);
  if (!(max_hz > 0 && max_hz <= rate / 2.0))
    throw UsageError("--max-freq: between 0 and half the sample rate (" +
                     NumberForHumans(rate / 2.0) + " Hz)");

  Spectrogram s = Compute(mono, rate, static_cast<int>(width), static_cast<int>(height), max_hz);
  s.range_db = range;
  s.title = path;
  if (!args.Has("--no-keys")) s.marks = KeyMarks(path);
  const SpectrogramLayout lay = DrawSpectrogram(out, s);
  PrintLine("spectrogram: " + out + " " + std::to_string(lay.width) + "x" +
            std::to_string(lay.height) + " px; levels at x " + std::to_string(lay.plot_x) + " y " +
            std::to_string(lay.plot_y) + " size " + std::to_string(lay.plot_width) + "x" +
            std::to_string(lay.plot_height) + " for 0.." + NumberForHumans(s.seconds) + " s and " +
            NumberForHumans(max_hz) + "..0 Hz; keys at y " + std::to_string(lay.marks_y) +
            " height " + std::to_string(lay.marks_height) + "; " + std::to_string(s.marks.size()) +
            " key presses");
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(spectrogram) {
  return Command{
      "spectrogram",
      "draw a WAV file's spectrogram, with the DTMF key presses marked",
      "velmora spectrogram FILE.wav -o OUT.png|OUT.svg [--width W] [--height H] "
      "[--max-freq HZ] [--range DB] [--no-keys]",
      {{"--out", "OUT", "the picture to write (.png or .svg)", false, "-o"},
       {"--width", "W", "columns of the level area, one per time step (default 800)"},
       {"--height", "H", "rows of the level area (default 400)"},
       {"--max-freq", "HZ", "the highest frequency shown (default half the sample rate)"},
       {"--range", "DB", "the levels shown, down from 0 dBFS (default 120)"},
       {"--no-keys", "", "do not look for key presses in the file"}},
      "Draws the whole file (any PCM WAV, mixed to mono) with time across, frequency\n"
      "up and the level as colour (dBFS: a full-scale sine is 0 dB; black is --range dB\n"
      "below), with a time axis in seconds, a frequency axis in Hz and a colour scale.\n"
      "Each column is the mean power of the 2048-point transforms (Blackman-Harris\n"
      "window) that tile its span of time (for short files, the one centred on it).\n"
      "Above the levels a green bar marks every key press, as `velmora decode FILE`\n"
      "reports them, with the key's name at its start.\n"
      "Prints one line giving the picture's size and where the level area and the key\n"
      "marks lie.",
      RunSpectrogram};
}

}  // namespace velmora::app
