// Key presses on the command line.  See key_press_output.h.
#include "apps/velmora/key_press_output.h"

#include <cmath>
#include <cstdio>

#include "apps/velmora/session.h"
#include "velmora/component/spectrum.h"
#include "velmora/component/unit_state.h"

namespace velmora::app {

namespace {

// The capture format's sample rate: the component's buffers are 8-bit mono
// samples at 44100 Hz.
constexpr uint32_t kCaptureRate = 44100;

double NumberOption(const Args& args, std::string_view name, double fallback, double lo,
                    double hi) {
  if (!args.Has(name)) return fallback;
  const double v = args.GetDouble(name, std::nan(""));
  if (!(v >= lo && v <= hi))
    throw UsageError(std::string(name) + " needs a number from " + NumberForHumans(lo) + " to " +
                     NumberForHumans(hi) + ", not \"" + args.Get(name) + "\"");
  return v;
}

std::string Fixed(double value, int decimals) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

}  // namespace

std::vector<OptionSpec> PressOptions() {
  const tonvel::KeyPressSettings d;
  return {{"--min-level", "DB",
           "both tones at least DB above the buffer's noise level (default " +
               NumberForHumans(d.min_level_db) + ")"},
          {"--max-twist", "DB",
           "largest level difference of the two tones, either way (default " +
               NumberForHumans(d.max_forward_twist_db) + " with the high tone stronger, " +
               NumberForHumans(d.max_reverse_twist_db) + " with the low tone stronger)"},
          {"--min-clearance", "DB",
           "the weaker tone at least DB above every other part of the spectrum (default " +
               NumberForHumans(d.min_clearance_db) + ")"},
          {"--min-duration", "MS",
           "shortest press reported (default " + NumberForHumans(d.min_duration_ms) + ")"},
          {"--max-deviation", "PCT",
           "largest distance of a tone from its keypad frequency, in per cent (default " +
               NumberForHumans(d.max_deviation_pct) + ")"}};
}

tonvel::KeyPressSettings PressSettingsFrom(const Args& args) {
  tonvel::KeyPressSettings s;
  s.min_level_db = NumberOption(args, "--min-level", s.min_level_db, -200, 200);
  if (args.Has("--max-twist")) {
    s.max_forward_twist_db = s.max_reverse_twist_db = NumberOption(args, "--max-twist", 0, 0, 200);
  }
  s.min_clearance_db = NumberOption(args, "--min-clearance", s.min_clearance_db, -200, 200);
  s.min_duration_ms = NumberOption(args, "--min-duration", s.min_duration_ms, 0, 1e9);
  s.max_deviation_pct = NumberOption(args, "--max-deviation", s.max_deviation_pct, 0, 5);
  return s;
}

PressTracker::PressTracker(tonvel::TDTMF& dtmf, tonvel::KeyPressSettings settings, OnPress on_press)
    : detector_(settings), on_press_(std::move(on_press)) {
  // GetTone comes for every processed buffer, with its spectrum in outwav.
  dtmf.GetTone = [this](host::TObject*, int32_t, double noise_level, double, double) {
    const auto samples = static_cast<uint64_t>(tonvel::inwav.y.size());
    const double step = tonvel::spectrum::BinSpacing(1, kCaptureRate, tonvel::outwav.y.size());
    tonvel::BufferKeyResult buffer = tonvel::KeyTones(tonvel::outwav.y, step, detector_.settings());
    buffer.start_s = static_cast<double>(samples_) / kCaptureRate;
    buffer.duration_s = static_cast<double>(samples) / kCaptureRate;
    buffer.noise_level = noise_level;
    samples_ += samples;
    if (auto press = detector_.Feed(buffer)) on_press_(*press);
  };
}

void PressTracker::Finish() {
  if (auto press = detector_.Finish()) on_press_(*press);
}

void PrintPress(bool json, const std::string& file, const tonvel::KeyPress& press) {
  const std::string key(1, press.key);
  const double start = std::round(press.start_s * 1000) / 1000;
  const auto duration_ms = static_cast<int64_t>(std::llround(press.duration_s * 1000));
  if (json) {
    JsonLine line;
    line.Add("event", "Press");
    if (!file.empty()) line.Add("file", file);
    PrintLine(line.Add("key", key)
                  .Add("start", start)
                  .Add("duration_ms", duration_ms)
                  .Add("low_level", press.low_level_db)
                  .Add("high_level", press.high_level_db)
                  .Add("low_freq", press.low_freq_hz)
                  .Add("high_freq", press.high_freq_hz)
                  .str());
  } else {
    PrintLine((file.empty() ? "" : file + ": ") + key + "  at " + Fixed(start, 3) + " s  for " +
              std::to_string(duration_ms) + " ms");
  }
  std::fflush(stdout);
}

}  // namespace velmora::app
