// Pictures of sound: the spectrum of an analysis and the spectrogram of a
// whole file, drawn with cairo into PNG or SVG files.
#pragma once

#include <string>
#include <vector>

#include "velmora/component/series.h"

namespace velmora::app {

// What a spectrum picture marks beside the series.
struct SpectrumMarks {
  double noise_level = 0;         // a dashed line at this level
  double a0 = -1, f0 = 0;         // the strongest tone (drawn when a0 > -1)
  std::string title;              // the file's name
  bool frequencies_in_hz = true;  // false: the x values are positions
};

// Draws the series (x across, y in dB up) with axes, the DTMF frequencies as
// guides, the noise level and the strongest tone, to OUT.png or OUT.svg
// (chosen by the extension).  A UsageError names a bad extension; a
// WorkFailed names the file and the reason it could not be written.
void DrawSpectrum(const std::string& out, const tonvel::TXYSeries& series,
                  const SpectrumMarks& marks);

// A spectrogram: levels[column][row] in dB (row 0 = lowest frequency).
struct Spectrogram {
  std::vector<std::vector<float>> levels;
  double seconds = 0;     // the time across the columns
  double max_hz = 0;      // the frequency of the top row's upper edge
  double range_db = 120;  // colours span [-range_db, 0] dBFS
  std::string title;
  // Per-buffer key decisions: [start, end) seconds and the key.
  struct Mark {
    double start, end;
    std::string key;
  };
  std::vector<Mark> marks;
};

// Where the picture put things, for the user (and tests) to find them.
struct SpectrogramLayout {
  int width = 0, height = 0;   // the whole picture
  int plot_x = 0, plot_y = 0;  // the top-left pixel of the level area
  int plot_width = 0, plot_height = 0;
  int marks_y = 0, marks_height = 0;  // the strip of key marks above the plot
};

SpectrogramLayout DrawSpectrogram(const std::string& out, const Spectrogram& s);

// The colour of a level between 0 (quietest) and 1 (loudest): black through
// blue, purple, red and yellow to white, brighter for louder.
void LevelColour(double v, double& r, double& g, double& b);

}  // namespace velmora::app
