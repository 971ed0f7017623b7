// The host services on the component's per-buffer and per-tick paths: the
// summary line's number formatting, the message loop's post-and-dispatch,
// and splitting a reply into lines.  Each is measured beside the C library
// (or kernel) doing the nearest equivalent work in the same run.
#include <benchmark/benchmark.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "velmora/host/application.h"
#include "velmora/host/format.h"
#include "velmora/host/string_list.h"

using namespace velmora::host;

namespace {

TFormatSettings Settings() {
  TFormatSettings s;
  s.DecimalSeparator = '.';
  s.ThousandSeparator = ',';
  return s;
}

void BM_Format_Number(benchmark::State& state) {
  TFormatSettings s = Settings();
  double v = 1234.214;
  for (auto _ : state) benchmark::DoNotOptimize(Format("A1= %.2n", {v}, s));
}
BENCHMARK(BM_Format_Number);

void BM_Peer_Snprintf_Fixed(benchmark::State& state) {
  char buf[64];
  double v = 1234.214;
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "A1= %.2f", v);
    benchmark::DoNotOptimize(std::string(buf));
  }
}
BENCHMARK(BM_Peer_Snprintf_Fixed);

void BM_FormatFloat_Pattern(benchmark::State& state) {
  TFormatSettings s = Settings();
  double v = 1335.9;
  for (auto _ : state) benchmark::DoNotOptimize(FormatFloat(" [0 Hz]  ", v, s));
}
BENCHMARK(BM_FormatFloat_Pattern);

void BM_Peer_Snprintf_Whole(benchmark::State& state) {
  char buf[64];
  double v = 1335.9;
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, " [%.0f Hz]  ", v);
    benchmark::DoNotOptimize(std::string(buf));
  }
}
BENCHMARK(BM_Peer_Snprintf_Whole);

// The appending forms into a string that keeps its memory, as the summary
// line is written; the peer is snprintf into a fixed buffer (no string).
void BM_FormatTo_Number(benchmark::State& state) {
  TFormatSettings s = Settings();
  double v = 1234.214;
  std::string out;
  out.reserve(64);
  for (auto _ : state) {
    out.clear();
    FormatTo(out, "A1= %.2n", {v}, s);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_FormatTo_Number);

void BM_Peer_Snprintf_FixedInPlace(benchmark::State& state) {
  char buf[64];
  double v = 1234.214;
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "A1= %.2f", v);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Peer_Snprintf_FixedInPlace);

void BM_FormatFloatTo_Pattern(benchmark::State& state) {
  TFormatSettings s = Settings();
  double v = 1335.9;
  std::string out;
  out.reserve(64);
  for (auto _ : state) {
    out.clear();
    FormatFloatTo(out, " [0 Hz]  ", v, s);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_FormatFloatTo_Pattern);

void BM_Peer_Snprintf_WholeInPlace(benchmark::State& state) {
  char buf[64];
  double v = 1335.9;
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, " [%.0f Hz]  ", v);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Peer_Snprintf_WholeInPlace);

// The whole summary line of one capture buffer, rewritten in place, with
// values as the spectrum gives them: levels from a logarithm (17 significant
// digits, so they take the slower of the two digit conversions) and
// frequencies on the bins of a 2048-point transform at 44100 Hz.
double Level(double magnitude) {
  return 20 * std::log10(magnitude / 1024 + 0.000001);
}

void BM_SummaryLine_Appending(benchmark::State& state) {
  TFormatSettings s = Settings();
  double a1 = Level(33000), f1 = 62 * (44100.0 / 2048), a2 = Level(24000),
         f2 = 36 * (44100.0 / 2048);
  std::string line;
  line.reserve(96);
  for (auto _ : state) {
    line.assign("DTMF(5):  ");
    FormatTo(line, "A1= %.2n", {a1}, s);
    FormatFloatTo(line, " [0 Hz]  ", f1, s);
    FormatTo(line, "A2= %.2n", {a2}, s);
    FormatFloatTo(line, " [0 Hz]", f2, s);
    benchmark::DoNotOptimize(line.data());
  }
}
BENCHMARK(BM_SummaryLine_Appending);

void BM_Peer_Snprintf_SummaryLine(benchmark::State& state) {
  char buf[96];
  double a1 = Level(33000), f1 = 62 * (44100.0 / 2048), a2 = Level(24000),
         f2 = 36 * (44100.0 / 2048);
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "DTMF(%s):  A1= %.2f [%.0f Hz]  A2= %.2f [%.0f Hz]", "5", a1, f1,
                  a2, f2);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Peer_Snprintf_SummaryLine);

// One posted message handled by the loop, as each capture buffer is.
void BM_Loop_PostAndDispatch(benchmark::State& state) {
  TApplication& app = Application();
  int64_t handled = 0;
  HWND w = app.AllocateHWnd([&](TMessage&) { ++handled; });
  for (auto _ : state) {
    app.PostMessage(w, 0x3C0, 0, 0);
    app.ProcessMessages();
  }
  app.DeallocateHWnd(w);
  if (handled != state.iterations()) state.SkipWithError("lost messages");
}
BENCHMARK(BM_Loop_PostAndDispatch);

// The floor under any eventfd-driven loop: one write and one read.
void BM_Peer_EventfdRoundTrip(benchmark::State& state) {
  int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  uint64_t v = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(::write(fd, &v, sizeof v));
    benchmark::DoNotOptimize(::read(fd, &v, sizeof v));
  }
  ::close(fd);
}
BENCHMARK(BM_Peer_EventfdRoundTrip);

std::string Reply() {
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "{\"status\":0,\"id\":\"line " + std::to_string(i) + "\"}\r\n";
  return text;
}

void BM_StringList_SetText(benchmark::State& state) {
  std::string text = Reply();
  TStringList l;
  for (auto _ : state) {
    l.set_Text(text);
    benchmark::DoNotOptimize(l.Count());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StringList_SetText);

void BM_Peer_GetlineSplit(benchmark::State& state) {
  std::string text = Reply();
  for (auto _ : state) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);  // leaves the CR: less work
    benchmark::DoNotOptimize(lines.size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Peer_GetlineSplit);

}  // namespace

BENCHMARK_MAIN();
