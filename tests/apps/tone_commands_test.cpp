// The tone-output, recording and random-bit commands end to end: the
// program of this build writing WAV files that sox and multimon-ng read,
// recording from a WAV file played as the microphone, random bits from a
// noise file, and the demo through the loopback device.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using std::chrono::seconds;

// `soxi -<field> file`, trimmed.
std::string Soxi(const std::string& field, const std::string& file) {
  RunResult r = testing::Run({"soxi", "-" + field, file}, "", seconds(30));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == ' ')) r.out.pop_back();
  return r.out;
}

bool HaveSox() {
  return HaveProgram("sox") && HaveProgram("soxi");
}

TEST(ToneCommands, DialWritesBurstsThatMultimonDecodes) {
  if (!HaveSox() || !HaveProgram("multimon-ng"))
    GTEST_FAIL() << "sox or multimon-ng missing (make deps installs it)";
  TempDir dir;
  const std::string wav = dir.file("dial.wav");
  const RunResult r = RunVelmora({"dial", "147*0#ad", "--output", wav});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 8u) << r.out;
  EXPECT_EQ(lines[0], "Dial 1 697+1209 Hz");
  EXPECT_EQ(lines[7], "Dial d 941+1633 Hz");
  EXPECT_EQ(Soxi("r", wav), "22050");
  EXPECT_EQ(Soxi("b", wav), "8");
  EXPECT_EQ(Soxi("c", wav), "1");
  // Eight keys 310 ms apart, the last one sounding 95 ms.
  const double duration = std::stod(Soxi("D", wav));
  EXPECT_GT(duration, 7 * 0.31 + 0.09);
  EXPECT_LT(duration, 8 * 0.31 + 2.0);  // late ticks on a loaded machine lengthen it

  const std::string raw = dir.file("dial.raw");
  ASSERT_EQ(testing::Run({"sox", wav, "-t", "raw", "-r", "22050", "-e", "signed-integer", "-b",
                          "16", "-c", "1", raw})
                .exit_code,
            0);
  const RunResult m = testing::Run({"multimon-ng", "-q", "-c", "-a", "DTMF", "-t", "raw", raw});
  ASSERT_EQ(m.exit_code, 0) << m.err;
  std::string decoded;
  for (const std::string& line : SplitLines(m.out))
    if (line.rfind("DTMF: ", 0) == 0) decoded += line.substr(6);
  EXPECT_EQ(decoded, "147*0#AD");
}

TEST(ToneCommands, DialSettingsAndFailures) {
  TempDir dir;
  // Bursts of 200 ms at half volume: the file holds quieter, longer bursts.
  const std::string wav = dir.file("long.wav");
  const RunResult r = RunVelmora({"dial", "5", "--output", wav, "--set", "DTMF_duration_ms=200",
                                  "--set", "DTMF_volume=50", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\"samples\": 4410"), std::string::npos) << r.out;
  const std::string f = ReadFile(wav);
  ASSERT_GT(f.size(), 44u + 4410);
  int lo = 255, hi = 0;
  for (size_t i = 44; i < f.size(); ++i) {
    lo = std::min(lo, int(uint8_t(f[i])));
    hi = std::max(hi, int(uint8_t(f[i])));
  }
  EXPECT_LE(hi - 127, 32) << "2 x 127 x 0.25 x 0.5 at most";
  EXPECT_GE(hi - 127, 25);

  EXPECT_EQ(RunVelmora({"dial"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"dial", "12", "--set", "DTMF_volume=loud"}).exit_code, 2);
  // Refused, with nothing written: a character that is no key, a file name
  // that promises another format, a burst without a sample.
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"dial", "1x2", "--output", dir.file("x.wav")},
        std::vector<std::string>{"dial", "12", "--output", dir.file("x.mp3")},
        std::vector<std::string>{"dial", "1", "--output", dir.file("x.wav"), "--set",
                                 "DTMF_duration_ms=0"},
        std::vector<std::string>{"demo", "--keys", "xyz"}}) {
    SCOPED_TRACE(bad[1]);
    const RunResult r = RunVelmora(bad);
    EXPECT_EQ(r.exit_code, 2) << r.out;
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.wav")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.mp3")));
  const RunResult none = RunVelmora({"dial", "1", "--output", "none"});
  EXPECT_EQ(none.exit_code, 1) << none.out;
  EXPECT_NE(none.err.find("no key could be played"), std::string::npos) << none.err;
}

TEST(ToneCommands, ToneWritesTheSineGeneratorsSound) {
  if (!HaveSox()) GTEST_FAIL() << "sox missing (make deps installs it)";
  TempDir dir;
  const std::string wav = dir.file("tone.wav");
  const RunResult r =
      RunVelmora({"tone", "--seconds", "1", "--output", wav, "--set", "GenSinus_Freq=1000"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Tone 1000 Hz for 100 ms, pause 0 ms, 16-bit\n");
  EXPECT_EQ(Soxi("r", wav), "44100");
  EXPECT_EQ(Soxi("b", wav), "16");
  const double duration = std::stod(Soxi("D", wav));
  EXPECT_GT(duration, 0.9);
  EXPECT_LT(duration, 2.5);
  const RunResult stat = testing::Run({"sox", wav, "-n", "stat"});
  const size_t at = stat.err.find("Rough   frequency:");
  ASSERT_NE(at, std::string::npos) << stat.err;
  EXPECT_NEAR(std::stod(stat.err.substr(at + 18)), 1000, 15) << stat.err;

  const std::string wav8 = dir.file("tone8.wav");
  const RunResult r8 = RunVelmora({"tone", "--seconds", "0.5", "--output", wav8, "--set",
                                   "GenSinus_BitsPerSample=bits8", "--set", "GenSinus_Pause=100"});
  ASSERT_EQ(r8.exit_code, 0) << r8.err;
  EXPECT_EQ(Soxi("b", wav8), "8");
  EXPECT_EQ(Soxi("r", wav8), "44100");

  EXPECT_EQ(RunVelmora({"tone", "--output", "none", "--seconds", "1"}).exit_code, 1);
  EXPECT_EQ(RunVelmora({"tone", "extra"}).exit_code, 2);
}

// 0.3 s of silence, 1 s of a loud tone, 4 s of silence (the trigger lets go
// after 2.1 s quiet; the rest is slack for a loaded machine), played in real
// time as the microphone.
TEST(ToneCommands, RecordSavesTheLoudPassage) {
  TempDir dir;
  std::vector<uint8_t> sound(44100 * 3 / 10, 128);
  for (int i = 0; i < 44100; ++i)
    sound.push_back(static_cast<uint8_t>(
        128 + std::lround(90 * std::sin(i * 2 * std::numbers::pi * 700 / 44100))));
  sound.resize(sound.size() + 44100 * 4, 128);
  const std::string source = dir.file("source.wav");
  WriteWav8(source, sound);
  const std::filesystem::path out = dir.path() / "recordings";
  std::filesystem::create_directory(out);

  // Recording is on without being asked for; one line when it starts and
  // one when it is saved, with its length and size.
  const RunResult r = RunVelmora({"record", "--input", source, "--dir", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(out)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename().string();
  // dd.mm.yyyy_hh-mm-ss.wav
  ASSERT_EQ(name.size(), 23u) << name;
  EXPECT_EQ(name[2], '.');
  EXPECT_EQ(name[10], '_');
  EXPECT_EQ(name.substr(19), ".wav");
  const auto size = std::filesystem::file_size(files[0]);
  char length[32];
  std::snprintf(length, sizeof length, "%.2f", static_cast<double>(size - 44) / 44100);
  EXPECT_EQ(
      SplitLines(r.out),
      (std::vector<std::string>{"TriggerOff on", "Recording " + files[0].string(), "TriggerOff off",
                                "Saved " + files[0].string() + ": " + length + " s, " +
                                    std::to_string(size) + " bytes"}));
  if (!HaveSox()) return;
  EXPECT_EQ(Soxi("r", files[0].string()), "44100");
  EXPECT_EQ(Soxi("b", files[0].string()), "8");
  // About 0.9 s of the tone and 2.1 s of the silence after it; never more
  // than the 3.5 s from the tone's start to the file's end.
  const double duration = std::stod(Soxi("D", files[0].string()));
  EXPECT_GT(duration, 2.7);
  EXPECT_LT(duration, 3.6);
  std::filesystem::remove(files[0]);

  // --fast: the trigger counts time in sound, so the same passage is
  // recorded: from the first 100 ms tick in the tone to the 21st quiet tick
  // after it (1.0 s + 2.1 s, within one tick and one buffer).
  const RunResult f =
      RunVelmora({"record", "--input", source, "--fast", "--dir", out.string(), "--verbose"});
  ASSERT_EQ(f.exit_code, 0) << f.err;
  files.clear();
  for (const auto& e : std::filesystem::directory_iterator(out)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u) << f.out;
  const double fast_seconds =
      static_cast<double>(std::filesystem::file_size(files[0]) - 44) / 44100;
  EXPECT_GT(fast_seconds, 3.1 - 0.15);
  EXPECT_LT(fast_seconds, 3.1 + 0.15);
  EXPECT_NE(f.out.find(" KB Start record"), std::string::npos) << "--verbose";

  EXPECT_EQ(RunVelmora({"record", "--dir", dir.file("missing"), "--input", source}).exit_code, 2);
}

// The number after "key": in a JSON line.
double JsonNumber(const std::string& line, const std::string& key) {
  const size_t at = line.find("\"" + key + "\": ");
  EXPECT_NE(at, std::string::npos) << key << " in " << line;
  return at == std::string::npos ? NAN : std::stod(line.substr(at + key.size() + 4));
}

TEST(ToneCommands, RandomPrintsEachBlockAndAppendsTheBitsInTheCurrentDirectory) {
  TempDir dir;
  std::vector<uint8_t> noise(44100);
  uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(128 + static_cast<int>((x >> 16) % 61) - 30);
  }
  const std::string source = dir.file("noise.wav");
  WriteWav8(source, noise);

  // test.dat goes to the current directory (an installed program's own
  // directory is not writable), and is appended to, never truncated.
  const std::string bits_file = dir.file("test.dat");
  WriteFile(bits_file, "xyz");
  const RunResult r = testing::Run({VelmoraProgram(), "random", "--input", source, "--fast",
                                    "--set", "GenRandom_NoiseSoundCard_BufSize=10000", "--set",
                                    "GenRandom_NoiseSoundCard_SaveToFile=True"},
                                   "", seconds(60), {}, dir.path().string());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string after = ReadFile(bits_file);
  ASSERT_EQ(after.size(), 3u + 40000);
  EXPECT_EQ(after.substr(0, 3), "xyz");
  for (size_t i = 0; i < 40000; ++i) ASSERT_EQ(after[3 + i], noise[i] & 1) << i;
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::path(VelmoraProgram()).parent_path() / "test.dat"));

  const std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 4u * 9) << r.out;
  EXPECT_EQ(lines[0].rfind("Block 1: 10000 bits, ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("  Cреднее арифметическое: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[6].rfind("  Критерий сериальной корреляции: ", 0), 0u) << lines[6];
  EXPECT_EQ(lines[7].rfind("  Распределение: ", 0), 0u) << lines[7];

  // --bits-dir names another directory.
  TempDir other;
  ASSERT_EQ(RunVelmora({"random", "--input", source, "--fast", "--bits-dir", other.path().string(),
                        "--set", "GenRandom_NoiseSoundCard_BufSize=20000", "--set",
                        "GenRandom_NoiseSoundCard_SaveToFile=True"})
                .exit_code,
            0);
  EXPECT_EQ(ReadFile(other.file("test.dat")).size(), 40000u);
  EXPECT_EQ(RunVelmora({"random", "--input", source, "--bits-dir", dir.file("missing")}).exit_code,
            2);

  // JSON: the statistics as numbers under English names, against the
  // definitions computed here from the samples (circular serial products).
  const RunResult j = RunVelmora({"random", "--input", source, "--fast", "--set",
                                  "GenRandom_NoiseSoundCard_BufSize=40000", "--json"});
  ASSERT_EQ(j.exit_code, 0) << j.err;
  const std::vector<std::string> json = SplitLines(j.out);
  ASSERT_EQ(json.size(), 1u) << j.out;
  const size_t n = 40000;
  double mean = 0;
  for (size_t i = 0; i < n; ++i) mean += noise[i] - 128.0;
  mean /= n;
  double c2 = 0, c3 = 0, c4 = 0, sum = 0, sum2 = 0, serial = 0;
  for (size_t i = 0; i < n; ++i) {
    const double s = noise[i] - 128.0, d = s - mean;
    c2 += d * d;
    c3 += d * d * d;
    c4 += d * d * d * d;
    sum += s;
    sum2 += s * s;
    serial += s * (noise[(i + 1) % n] - 128.0);
  }
  const double var = c2 / n;
  const struct {
    const char* key;
    double value;
  } expected[] = {
      {"bits", 40000},
      {"mean", mean},
      {"variance_biased", var},
      {"variance_unbiased", c2 / (n - 1)},
      {"skewness", c3 / n / std::pow(var, 1.5)},
      {"kurtosis", c4 / n / (var * var) - 3},
      {"serial_correlation", (n * serial - sum * sum) / (n * sum2 - sum * sum)},
  };
  for (const auto& e : expected)
    EXPECT_NEAR(JsonNumber(json[0], e.key), e.value, 1e-6 * (1 + std::fabs(e.value))) << e.key;
  // Normal when both shape numbers stay below half their bounds.
  const double nd = n;
  const double e3 = std::sqrt(6 * (nd - 1) / ((nd + 1) * (nd + 3)));
  const double e4 =
      std::sqrt(24 * (nd - 2) * (nd - 3) / ((nd + 3) * (nd + 5) * (nd - 1) * (nd - 1)));
  const bool normal = e3 / 2 > expected[4].value && e4 / 2 > expected[5].value;
  EXPECT_NE(
      json[0].find(normal ? "\"distribution\": \"normal\"" : "\"distribution\": \"asymmetric\""),
      std::string::npos)
      << json[0];
  EXPECT_EQ(json[0].find("Распределение"), std::string::npos) << "numbers, not the texts";
}

TEST(ToneCommands, DemoRecognisesEveryKeyThroughTheLoopback) {
  const RunResult r = RunVelmora({"demo"});
  const std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_FALSE(lines.empty()) << r.err;
  EXPECT_EQ(lines.back(), "Keys sent: 16, recognised: 16, missed: 0") << r.out;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string keys;
  for (const std::string& line : lines)
    if (line.find("  at ") == 1) keys += line.substr(0, 1);
  EXPECT_EQ(keys, "1234567890*#abcd") << "each key once, in order";

  // The default command is the demo.
  const RunResult d = RunVelmora({"--keys", "9", "--json"});
  EXPECT_EQ(d.exit_code, 0) << d.err;
  EXPECT_NE(d.out.find("\"sent\": 1, \"recognised\": 1, \"missed\": 0"), std::string::npos)
      << d.out;
  EXPECT_EQ(RunVelmora({"demo", "--keys", "12x"}).exit_code, 2);
}

}  // namespace
}  // namespace velmora::testing
