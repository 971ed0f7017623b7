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

namespace {

// Appends ,"name":value (`decimals` digits; -1: a whole number).
void Field(std::string& out, std::string_view name, double value, int decimals) {
  out.append(",\"").append(name).append("\":");
  if (decimals < 0)
    AppendInt(out, static_cast<int64_t>(value));
  else
    AppendFixed(out, value, decimals);
}

void Field(std::string& out, std::string_view name, bool value) {
  out.append(",\"").append(name).append(value ? "\":true" : "\":false");
}

// Starts an event's object with its time: {"t":12.345
std::string& Begin(std::string& out, double t) {
  out.assign("{\"t\":");
  AppendFixed(out, t, 3);
  return out;
}

}  // namespace

void ViewFeed::OnSpectrum(const tonvel::TXYSeries& series, double noise_level, int32_t level,
                          double a0, double f0, const ViewSettings& settings) {
  static const char* const kWindows[] = {"dB_0", "dB_54", "dB_67", "dB_72", "dB_92"};
  ++frames_;
  std::string& f = Begin(frame_, Now());
  Field(f, "n", static_cast<double>(frames_), -1);
  Field(f, "level", level, -1);
  Field(f, "noise", noise_level, 2);
  Field(f, "a0", a0, 2);
  Field(f, "f0", f0, 2);
  // Bin i lies at i * step Hz (the series' x values).
  Field(f, "step", series.x.size() > 1 ? series.x[1] - series.x[0] : 0.0, 6);
  f += ",\"window\":\"";
  f += kWindows[settings.window >= 0 && settings.window < 5 ? settings.window : 0];
  f += '"';
  Field(f, "fft_point", settings.fft_point, -1);
  Field(f, "fft_noise", settings.fft_noise, -1);
  Field(f, "cut", settings.cut_minusamp);
  Field(f, "trigger", trigger_);
  f += ",\"osc\":[";
  f += trace_;
  f += "],\"spectrum\":[";
  for (size_t i = 0; i < series.y.size(); ++i) {
    if (i) f += ',';
    AppendFixed(f, series.y[i], 1);
  }
  f += "]}";
  sink_("frame", f);
}

void ViewFeed::OnKey(const std::string& key, double a1, double a2, double f1, double f2) {
  std::string& s = Begin(small_, Now());
  s += ",\"key\":" + JsonQuote(key);
  Field(s, "a1", a1, 2);
  Field(s, "a2", a2, 2);
  Field(s, "f1", f1, 2);
  Field(s, "f2", f2, 2);
  s += '}';
  sink_("key", s);
}

void ViewFeed::OnPress(const std::string& key, double start_s, double length_s) {
  std::string& s = Begin(small_, start_s);
  s += ",\"key\":" + JsonQuote(key);
  Field(s, "length", length_s, 3);
  s += '}';
  sink_("press", s);
}

void ViewFeed::OnTrigger(bool on) {
  trigger_ = on;
  std::string& s = Begin(small_, Now());
  Field(s, "on", on);
  s += '}';
  sink_("trigger", s);
}

void ViewFeed::OnRecord(int32_t size_kb, const std::string& status) {
  if (size_kb == record_kb_ && status == record_status_) return;
  record_kb_ = size_kb;
  record_status_ = status;
  std::string& s = Begin(small_, Now());
  Field(s, "size_kb", size_kb, -1);
  s += ",\"status\":" + JsonQuote(status) + "}";
  sink_("record", s);
}

}  // namespace velmora::app
