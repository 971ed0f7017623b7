// The live view's events as JSON.
#include "apps/velmora/view_feed.h"

#include <charconv>
#include <cmath>

#include "apps/velmora/command.h"

namespace velmora::app {

namespace {

void AppendInt(std::string& out, int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

}  // namespace

void AppendFixed(std::string& out, double value, int decimals) {
  if (!std::isfinite(value)) {
    out += "null";  // JSON has no infinities
    return;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    out += "null";
    return;
  }
  // "-0.0" reads as 0 anyway, but the page compares texts in its tests.
  std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
  if (text.find_first_not_of("-0.") == std::string_view::npos && text[0] == '-')
    text.remove_prefix(1);
  out += text;
}

ViewFeed::ViewFeed(Sink sink) : sink_(std::move(sink)), start_(std::chrono::steady_clock::now()) {}

double ViewFeed::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ViewFeed::OnTrace(const tonvel::TYSeries& series) {
  trace_.clear();
  for (size_t i = 0; i < series.y.size(); ++i) {
    if (i) trace_ += ',';
    AppendInt(trace_, std::lround(series.y[i]));
  }
}

void ViewFeed::OnSpectrum(const tonvel::TXYSeries& series, double noise_level, int32_t level,
                          double a0, double f0, const ViewSettings& settings) {
  static const char* const kWindows[] = {"dB_0", "dB_54", "dB_67", "dB_72", "dB_92"};
  ++frames_;
  std::string& f = frame_;
  f.assign("{\"n\":");
  AppendInt(f, frames_);
  f += ",\"t\":";
  AppendFixed(f, Now(), 3);
  f += ",\"level\":";
  AppendInt(f, level);
  f += ",\"noise\":";
  AppendFixed(f, noise_level, 2);
  f += ",\"a0\":";
  AppendFixed(f, a0, 2);
  f += ",\"f0\":";
  AppendFixed(f, f0, 2);
  // Bin i lies at i * step Hz (the series' x values).
  f += ",\"step\":";
  AppendFixed(f, series.x.size() > 1 ? series.x[1] - series.x[0] : 0.0, 6);
  f += ",\"window\":\"";
  f += kWindows[settings.window >= 0 && settings.window < 5 ? settings.window : 0];
  f += "\",\"fft_point\":";
  AppendInt(f, settings.fft_point);
  f += ",\"fft_noise\":";
  AppendInt(f, settings.fft_noise);
  f += ",\"cut\":";
  f += settings.cut_minusamp ? "true" : "false";
  f += ",\"trigger\":";
  f += trigger_ ? "true" : "false";
  f += ",\"osc\":[";
  f += trace_;
  f += "],\"spec\":[";
  for (size_t i = 0; i < series.y.size(); ++i) {
    if (i) f += ',';
    AppendFixed(f, series.y[i], 1);
  }
  f += "]}";
  sink_("frame", f);
}

void ViewFeed::OnKey(const std::string& key, double a1, double a2, double f1, double f2) {
  std::string& s = small_;
  s.assign("{\"t\":");
  AppendFixed(s, Now(), 3);
  s += ",\"key\":" + JsonQuote(key) + ",\"a1\":";
  AppendFixed(s, a1, 2);
  s += ",\"a2\":";
  AppendFixed(s, a2, 2);
  s += ",\"f1\":";
  AppendFixed(s, f1, 2);
  s += ",\"f2\":";
  AppendFixed(s, f2, 2);
  s += '}';
  sink_("key", s);
}

void ViewFeed::OnPress(const std::string& key, double start_s, double length_s) {
  std::string& s = small_;
  s.assign("{\"t\":");
  AppendFixed(s, start_s, 3);
  s += ",\"key\":" + JsonQuote(key) + ",\"length\":";
  AppendFixed(s, length_s, 3);
  s += '}';
  sink_("press", s);
}

void ViewFeed::OnTrigger(bool on) {
  trigger_ = on;
  std::string& s = small_;
  s.assign("{\"t\":");
  AppendFixed(s, Now(), 3);
  s += on ? ",\"on\":true}" : ",\"on\":false}";
  sink_("trigger", s);
}

void ViewFeed::OnRecord(int32_t size_kb, const std::string& status) {
  if (size_kb == record_kb_ && status == record_status_) return;
  record_kb_ = size_kb;
  record_status_ = status;
  std::string& s = small_;
  s.assign("{\"t\":");
  AppendFixed(s, Now(), 3);
  s += ",\"size_kb\":";
  AppendInt(s, size_kb);
  s += ",\"status\":" + JsonQuote(status) + "}";
  sink_("record", s);
}

}  // namespace velmora::app
