// `velmora spectrogram` and `velmora analyze --plot`: pictures of sox-made
// key sequences, read back by pngcheck and libpng and checked pixel by pixel
// against the tones that were put in.
#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "tests/apps/png_pixels.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using std::chrono::seconds;

void Sox(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"sox", "-D"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = testing::Run(argv, "", seconds(30));
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

// Key 1 (697 + 1209 Hz) for 0.5 s, 0.5 s of silence, key d (941 + 1633 Hz)
// for 0.5 s: 16-bit mono at 44100 Hz.
std::string KeySequence(const TempDir& dir) {
  const std::string one = dir.file("one.wav"), quiet = dir.file("quiet.wav"), d = dir.file("d.wav"),
                    seq = dir.file("seq.wav");
  Sox({"-n", "-r", "44100", "-b", "16", "-c", "1", one, "synth", "0.5", "sine", "697", "sine",
       "1209", "channels", "1", "vol", "0.7"});
  Sox({"-n", "-r", "44100", "-b", "16", "-c", "1", quiet, "trim", "0", "0.5"});
  Sox({"-n", "-r", "44100", "-b", "16", "-c", "1", d, "synth", "0.5", "sine", "941", "sine", "1633",
       "channels", "1", "vol", "0.7"});
  Sox({one, quiet, d, seq});
  return seq;
}

TEST(Spectrogram, ShowsEachToneAtItsTimeAndFrequencyAndMarksTheKeys) {
  TempDir dir;
  const std::string seq = KeySequence(dir);
  const std::string out = dir.file("seq.png");
  RunResult r = RunVelmora({"spectrogram", seq, "-o", out, "--max-freq", "4000"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(testing::Run({"pngcheck", out}).exit_code, 0) << "pngcheck refuses " << out;

  // Where the level area and the key strip lie, as the command reports.
  int px = 0, py = 0, pw = 0, ph = 0, ky = 0, kh = 0;
  const size_t at = r.out.find("levels at x ");
  const size_t keys = r.out.find("keys at y ");
  ASSERT_TRUE(at != std::string::npos && keys != std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + at, "levels at x %d y %d size %dx%d", &px, &py, &pw, &ph),
            4);
  ASSERT_EQ(std::sscanf(r.out.c_str() + keys, "keys at y %d height %d", &ky, &kh), 2);
  EXPECT_EQ(pw, 800);
  EXPECT_EQ(ph, 400);
  const Pixels p = DecodePng(ReadFile(out));
  ASSERT_TRUE(p.ok());
  auto level = [&](double t, double hz) {
    const int x = px + static_cast<int>(t / 1.5 * pw);
    const int y = py + ph - 1 - static_cast<int>(hz / 4000 * ph);
    return p.Brightness(x, y);
  };
  auto marked = [&](double t) {
    const uint8_t* c = p.at(px + static_cast<int>(t / 1.5 * pw), ky + kh / 2);
    return !(c[0] == 255 && c[1] == 255 && c[2] == 255);
  };
  // Loud where a tone sounds, dark beside it and in the silence.
  for (double t : {0.15, 0.35}) {
    EXPECT_GT(level(t, 697), 500) << t;
    EXPECT_GT(level(t, 1209), 500) << t;
    EXPECT_LT(level(t, 941), 150) << t;
    EXPECT_LT(level(t, 1633), 150) << t;
    EXPECT_LT(level(t, 3000), 150) << t;
    EXPECT_TRUE(marked(t)) << t;
  }
  for (double t : {0.65, 0.85}) {
    EXPECT_LT(level(t, 697), 150) << t;
    EXPECT_LT(level(t, 1633), 150) << t;
    EXPECT_FALSE(marked(t)) << t;
  }
  for (double t : {1.15, 1.35}) {
    EXPECT_GT(level(t, 941), 500) << t;
    EXPECT_GT(level(t, 1633), 500) << t;
    EXPECT_LT(level(t, 697), 150) << t;
    EXPECT_LT(level(t, 1209), 150) << t;
    EXPECT_TRUE(marked(t)) << t;
  }
}

TEST(Spectrogram, RefusesWhatItCannotDraw) {
  TempDir dir;
  const std::string seq = KeySequence(dir);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"spectrogram", seq, "-o", dir.file("x.gif")},
           {"spectrogram", seq},
           {"spectrogram", dir.file("missing.wav"), "-o", dir.file("x.png")},
           {"spectrogram", seq, "-o", dir.file("x.png"), "--max-freq", "30000"},
           {"spectrogram", seq, "-o", dir.file("x.png"), "--width", "0"}}) {
    RunResult r = RunVelmora(args);
    EXPECT_EQ(r.exit_code, 2) << args.back() << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  RunResult r = RunVelmora({"spectrogram", seq, "-o", dir.file("no/such/dir/x.png")});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("no/such/dir/x.png"), std::string::npos) << r.err;
}

TEST(AnalyzePlot, DrawsTheSpectrumAsPngAndSvg) {
  TempDir dir;
  const std::string key = dir.file("five.wav");
  Sox({"-n", "-r", "44100", "-b", "16", "-c", "1", key, "synth", "0.2", "sine", "770", "sine",
       "1336", "channels", "1", "vol", "0.7"});
  const std::string png = dir.file("five.png"), svg = dir.file("five.svg");
  RunResult r = RunVelmora({"analyze", key, "--plot", png});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Key key=5"), std::string::npos) << r.out;
  EXPECT_EQ(testing::Run({"pngcheck", png}).exit_code, 0);
  const Pixels p = DecodePng(ReadFile(png));
  ASSERT_TRUE(p.ok());
  EXPECT_GT(p.Colours(), 8u);  // axes, text, the series and its marks
  ASSERT_EQ(RunVelmora({"analyze", key, "--plot", svg}).exit_code, 0);
  RunResult file = testing::Run({"file", "-b", svg});
  EXPECT_NE(file.out.find("SVG"), std::string::npos) << file.out;
  const std::string text = ReadFile(svg);
  EXPECT_NE(text.find("<svg"), std::string::npos);
  EXPECT_NE(text.find("</svg>"), std::string::npos);
}

}  // namespace
}  // namespace velmora::testing
