// Spectrum and spectrogram pictures through cairo.
#include "apps/velmora/plot.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "apps/velmora/command.h"
#include "velmora/host/paths.h"
#include "velmora/host/text.h"

namespace velmora::app {

namespace {

constexpr double kDtmfHz[] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

enum class Format { Png, Svg };

Format FormatOf(const std::string& out) {
  const std::string ext = host::LowerCase(host::ExtractFileExt(out));
  if (ext == ".png") return Format::Png;
  if (ext == ".svg") return Format::Svg;
  throw UsageError(out + ": the picture's name must end in .png or .svg");
}

// A drawing surface for `out`: PNG pixels in memory, or an SVG stream
// written as it is drawn.
Surface MakeSurface(const std::string& out, int width, int height) {
  cairo_surface_t* s = FormatOf(out) == Format::Png
                           ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)
                           : cairo_svg_surface_create(out.c_str(), width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    std::string why = cairo_status_to_string(cairo_surface_status(s));
    cairo_surface_destroy(s);
    throw WorkFailed(out + ": cannot write the picture: " + why);
  }
  return Surface(s);
}

void Finish(const std::string& out, cairo_surface_t* s) {
  cairo_surface_flush(s);
  cairo_status_t st = FormatOf(out) == Format::Png ? cairo_surface_write_to_png(s, out.c_str())
                                                   : CAIRO_STATUS_SUCCESS;
  cairo_surface_finish(s);
  if (st == CAIRO_STATUS_SUCCESS) st = cairo_surface_status(s);
  if (st != CAIRO_STATUS_SUCCESS)
    throw WorkFailed(out + ": cannot write the picture: " + cairo_status_to_string(st));
}

void Text(cairo_t* c, double x, double y, const std::string& text, double align = 0) {
  cairo_text_extents_t e;
  cairo_text_extents(c, text.c_str(), &e);
  cairo_move_to(c, x - align * e.x_advance, y);
  cairo_show_text(c, text.c_str());
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// A step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double TickStep(double span, int count) {
  if (span <= 0) return 1;
  const double raw = span / count;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * p) return m * p;
  return 10 * p;
}

void Font(cairo_t* c, double size) {
  cairo_select_font_face(c, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(c, size);
}

}  // namespace

void LevelColour(double v, double& r, double& g, double& b) {
  v = std::clamp(v, 0.0, 1.0);
  // Stops of a black-blue-purple-red-yellow-white ramp, each brighter.
  static constexpr double kStops[][3] = {{0, 0, 0},   {0, 0, 0.5},    {0.5, 0, 0.6}, {0.85, 0, 0.2},
                                         {1, 0.5, 0}, {1, 0.95, 0.1}, {1, 1, 1}};
  constexpr int kLast = 6;
  const double pos = v * kLast;
  const int i = std::min(static_cast<int>(pos), kLast - 1);
  const double t = pos - i;
  r = kStops[i][0] + t * (kStops[i + 1][0] - kStops[i][0]);
  g = kStops[i][1] + t * (kStops[i + 1][1] - kStops[i][1]);
  b = kStops[i][2] + t * (kStops[i + 1][2] - kStops[i][2]);
}

void DrawSpectrum(const std::string& out, const tonvel::TXYSeries& series,
                  const SpectrumMarks& marks) {
  constexpr int W = 900, H = 480, L = 70, R = 20, T = 36, B = 46;
  FormatOf(out);
  const size_t n = std::min(series.x.size(), series.y.size());
  double xmax = n ? series.x[n - 1] : 1;
  if (!(xmax > 0)) xmax = 1;
  double lo = 0, hi = 0;
  for (size_t i = 0; i < n; ++i)
    if (std::isfinite(series.y[i])) {
      lo = std::min(lo, series.y[i]);
      hi = std::max(hi, series.y[i]);
    }
  lo = std::floor(lo / 20) * 20;
  hi = std::ceil((hi + 5) / 20) * 20;
  const double pw = W - L - R, ph = H - T - B;
  auto X = [&](double x) { return L + pw * x / xmax; };
  auto Y = [&](double db) { return T + ph - ph * (std::clamp(db, lo, hi) - lo) / (hi - lo); };

  Surface surface = MakeSurface(out, W, H);
  Context ctx(cairo_create(surface.get()));
  cairo_t* c = ctx.get();
  cairo_set_source_rgb(c, 1, 1, 1);
  cairo_paint(c);
  Font(c, 12);
  cairo_set_line_width(c, 1);
  // Grid and axes.
  cairo_set_source_rgb(c, 0.3, 0.3, 0.3);
  for (double d = lo; d <= hi + 1e-9; d += 20) {
    cairo_set_source_rgb(c, 0.88, 0.88, 0.88);
    cairo_move_to(c, L, Y(d));
    cairo_line_to(c, W - R, Y(d));
    cairo_stroke(c);
    cairo_set_source_rgb(c, 0.2, 0.2, 0.2);
    Text(c, L - 6, Y(d) + 4, Num(d) + " dB", 1);
  }
  const double step = TickStep(xmax, 10);
  for (double x = 0; x <= xmax + 1e-9; x += step) Text(c, X(x), H - B + 16, Num(x), 0.5);
  Text(c, L + pw / 2, H - 8, marks.frequencies_in_hz ? "frequency (Hz)" : "position", 0.5);
  Text(c, L, 22, marks.title);
  // The DTMF frequencies.
  if (marks.frequencies_in_hz) {
    const double dash[] = {3, 3};
    cairo_set_dash(c, dash, 2, 0);
    cairo_set_source_rgb(c, 0.55, 0.4, 0.85);
    for (double f : kDtmfHz)
      if (f <= xmax) {
        cairo_move_to(c, X(f), T);
        cairo_line_to(c, X(f), T + ph);
        cairo_stroke(c);
      }
    cairo_set_dash(c, nullptr, 0, 0);
  }
  // The series.
  cairo_set_source_rgb(c, 0.1, 0.35, 0.8);
  cairo_set_line_width(c, 1.2);
  for (size_t i = 0; i < n; ++i) {
    const double y = std::isfinite(series.y[i]) ? series.y[i] : lo;
    if (i == 0)
      cairo_move_to(c, X(series.x[i]), Y(y));
    else
      cairo_line_to(c, X(series.x[i]), Y(y));
  }
  cairo_stroke(c);
  // The noise level and the strongest tone.
  const double dash[] = {6, 4};
  cairo_set_dash(c, dash, 2, 0);
  cairo_set_source_rgb(c, 0.85, 0.55, 0.0);
  cairo_move_to(c, L, Y(marks.noise_level));
  cairo_line_to(c, W - R, Y(marks.noise_level));
  cairo_stroke(c);
  cairo_set_dash(c, nullptr, 0, 0);
  Text(c, W - R - 4, Y(marks.noise_level) - 4,
       "noise " + Num(std::round(marks.noise_level * 10) / 10) + " dB", 1);
  if (marks.a0 > -1) {
    cairo_set_source_rgb(c, 0.85, 0.1, 0.1);
    cairo_arc(c, X(marks.f0), Y(marks.a0), 4, 0, 2 * M_PI);
    cairo_fill(c);
    Text(c, X(marks.f0) + 7, Y(marks.a0) - 5,
         Num(std::round(marks.f0)) + " Hz, " + Num(std::round(marks.a0 * 10) / 10) + " dB");
  }
  cairo_set_source_rgb(c, 0, 0, 0);
  cairo_rectangle(c, L, T, pw, ph);
  cairo_stroke(c);
  ctx.reset();
  Finish(out, surface.get());
}

SpectrogramLayout DrawSpectrogram(const std::string& out, const Spectrogram& s) {
  FormatOf(out);
  SpectrogramLayout lay;
  const int columns = static_cast<int>(s.levels.size());
  const int rows = columns ? static_cast<int>(s.levels[0].size()) : 0;
  lay.plot_x = 70;
  lay.marks_y = 30;
  lay.marks_height = 14;
  lay.plot_y = lay.marks_y + lay.marks_height + 4;
  lay.plot_width = columns;
  lay.plot_height = rows;
  lay.width = lay.plot_x + columns + 110;
  lay.height = lay.plot_y + rows + 44;

  Surface surface = MakeSurface(out, lay.width, lay.height);
  Context ctx(cairo_create(surface.get()));
  cairo_t* c = ctx.get();
  cairo_set_source_rgb(c, 1, 1, 1);
  cairo_paint(c);
  Font(c, 12);
  cairo_set_source_rgb(c, 0, 0, 0);
  Text(c, lay.plot_x, 20, s.title);

  // The levels, one pixel per cell, drawn as an image so that the PNG holds
  // exactly the computed colours.
  cairo_surface_t* cells =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(columns, 1), std::max(rows, 1));
  const int stride = cairo_image_surface_get_stride(cells);
  unsigned char* data = cairo_image_surface_get_data(cells);
  for (int x = 0; x < columns; ++x)
    for (int y = 0; y < rows; ++y) {
      double r, g, b;
      LevelColour((s.levels[x][rows - 1 - y] + s.range_db) / s.range_db, r, g, b);
      auto* px = reinterpret_cast<uint32_t*>(data + y * stride) + x;
      *px = (static_cast<uint32_t>(std::lround(r * 255)) << 16) |
            (static_cast<uint32_t>(std::lround(g * 255)) << 8) |
            static_cast<uint32_t>(std::lround(b * 255));
    }
  cairo_surface_mark_dirty(cells);
  cairo_set_source_surface(c, cells, lay.plot_x, lay.plot_y);
  cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
  cairo_rectangle(c, lay.plot_x, lay.plot_y, columns, rows);
  cairo_fill(c);
  cairo_surface_destroy(cells);

  // Key marks: a bar over the buffers of each key decision, the key's name
  // at the start of each run.
  const double px_per_s = s.seconds > 0 ? columns / s.seconds : 0;
  std::string previous;
  double previous_end = -1;
  for (const auto& m : s.marks) {
    const double x0 = lay.plot_x + m.start * px_per_s;
    const double x1 = lay.plot_x + std::max(m.end * px_per_s, m.start * px_per_s + 1);
    cairo_set_source_rgb(c, 0.1, 0.6, 0.2);
    cairo_rectangle(c, x0, lay.marks_y, x1 - x0, lay.marks_height);
    cairo_fill(c);
    if (m.key != previous || m.start - previous_end > 0.05) {
      cairo_set_source_rgb(c, 0, 0, 0);
      Font(c, 11);
      Text(c, x0, lay.marks_y - 2, m.key);
      Font(c, 12);
    }
    previous = m.key;
    previous_end = m.end;
  }

  // Axes.
  cairo_set_source_rgb(c, 0, 0, 0);
  cairo_set_line_width(c, 1);
  cairo_rectangle(c, lay.plot_x - 0.5, lay.plot_y - 0.5, columns + 1, rows + 1);
  cairo_stroke(c);
  const double tstep = TickStep(s.seconds, 10);
  const int bottom = lay.plot_y + rows;
  for (double t = 0; t <= s.seconds + 1e-9 && px_per_s > 0; t += tstep) {
    const double x = lay.plot_x + t * px_per_s;
    cairo_move_to(c, x, bottom);
    cairo_line_to(c, x, bottom + 4);
    cairo_stroke(c);
    Text(c, x, bottom + 17, Num(t), 0.5);
  }
  Text(c, lay.plot_x + columns / 2.0, bottom + 36, "time (s)", 0.5);
  const double fstep = TickStep(s.max_hz, 8);
  for (double f = 0; f <= s.max_hz + 1e-9 && rows > 0; f += fstep) {
    const double y = bottom - f / s.max_hz * rows;
    cairo_move_to(c, lay.plot_x - 4, y);
    cairo_line_to(c, lay.plot_x, y);
    cairo_stroke(c);
    Text(c, lay.plot_x - 6, y + 4, Num(f), 1);
  }
  Text(c, 4, lay.plot_y - 4, "Hz");
  // The colour scale.
  const int sx = lay.plot_x + columns + 20;
  for (int y = 0; y < rows; ++y) {
    double r, g, b;
    LevelColour(1.0 - static_cast<double>(y) / std::max(rows - 1, 1), r, g, b);
    cairo_set_source_rgb(c, r, g, b);
    cairo_rectangle(c, sx, lay.plot_y + y, 16, 1);
    cairo_fill(c);
  }
  cairo_set_source_rgb(c, 0, 0, 0);
  const double dstep = TickStep(s.range_db, 6);
  for (double d = 0; d <= s.range_db + 1e-9 && rows > 0; d += dstep)
    Text(c, sx + 20, lay.plot_y + d / s.range_db * rows + 4, Num(-d) + " dB");
  ctx.reset();
  Finish(out, surface.get());
  return lay;
}

}  // namespace velmora::app
