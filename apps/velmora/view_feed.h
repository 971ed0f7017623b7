// The live view's events: what the tone component reports, turned into the
// one-line JSON events the page reads from its event stream.
//
//   frame   once per 100 ms tick (DataOsc, then Spektra): the oscilloscope
//           trace, the spectrum levels, the peak level, the strongest tone,
//           the noise level and the current spectrum settings
//   key     every key decision that found a key (one per buffer: a key held
//           over several buffers is reported for each of them)
//   trigger when the sound trigger switches on or off
//   record  when the recorder's state or size changes
//
// Every key enters the view through ViewFeed::OnKey; a detector of whole key
// presses plugs in beside it (OnPress, sent as a "press" event), and the page
// lists presses when they come and per-buffer keys otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "velmora/component/series.h"

namespace velmora::app {

// The spectrum settings shown beside the frame.
struct ViewSettings {
  int window = 0;  // Twindow ordinal
  int32_t fft_point = 2048;
  int32_t fft_noise = 0;
  bool cut_minusamp = false;
};

class ViewFeed {
 public:
  using Sink = std::function<void(std::string_view event, std::string_view json)>;
  explicit ViewFeed(Sink sink);

  // DataOsc: keeps the trace for the next frame.
  void OnTrace(const tonvel::TYSeries& series);
  // Spektra: completes and sends the frame.
  void OnSpectrum(const tonvel::TXYSeries& series, double noise_level, int32_t level, double a0,
                  double f0, const ViewSettings& settings);
  // The one place key decisions enter the view.
  void OnKey(const std::string& key, double a1, double a2, double f1, double f2);
  // A whole key press (start, length), for a press detector.
  void OnPress(const std::string& key, double start_s, double length_s);
  void OnTrigger(bool on);
  void OnRecord(int32_t size_kb, const std::string& status);

  // Seconds since the feed was made.
  double Now() const;
  int64_t frames() const { return frames_; }

 private:
  Sink sink_;
  std::chrono::steady_clock::time_point start_;
  std::string frame_;  // reused: no allocation per tick once grown
  std::string small_;
  std::string trace_;  // the last trace, as JSON numbers
  int64_t frames_ = 0;
  bool trigger_ = false;
  int32_t record_kb_ = -1;
  std::string record_status_;
};

// Appends `value` with `decimals` digits after the point ("-37.8").
void AppendFixed(std::string& out, double value, int decimals);

}  // namespace velmora::app
