// The tone-output, recording and random-bit commands end to end: the
// program of this build writing WAV files that sox and multimon-ng read,
// recording from a WAV file played as the microphone, random bits from a
// noise file, and the demo through the loopback device.
#include <algorithm>
#include <chrono>
#include <cmath>
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

// 0.3 s of silence, 1 s of a loud tone, 2.5 s of silence, played in real
// time as the microphone.
TEST(ToneCommands, RecordSavesTheLoudPassage) {
  TempDir dir;
  std::vector<uint8_t> sound(44100 * 3 / 10, 128);
  for (int i = 0; i < 44100; ++i)
    sound.push_back(static_cast<uint8_t>(
        128 + std::lround(90 * std::sin(i * 2 * std::numbers::pi * 700 / 44100))));
  sound.resize(sound.size() + 44100 * 5 / 2, 128);
  const std::string source = dir.file("source.wav");
  WriteWav8(source, sound);
  const std::filesystem::path out = dir.path() / "recordings";
  std::filesystem::create_directory(out);

  const RunResult r = RunVelmora({"record", "--input", source, "--dir", out.string(), "--set",
                                  "TriggerOff_Record_Sound=True"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  auto has = [&](const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  };
  EXPECT_TRUE(has("TriggerOff on")) << r.out;
  EXPECT_TRUE(has("TriggerOff off")) << r.out;
  EXPECT_TRUE(has("RecordSound 0 KB Stop record")) << r.out;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(out)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename().string();
  // dd.mm.yyyy_hh-mm-ss.wav
  ASSERT_EQ(name.size(), 23u) << name;
  EXPECT_EQ(name[2], '.');
  EXPECT_EQ(name[10], '_');
  EXPECT_EQ(name.substr(19), ".wav");
  EXPECT_TRUE(has("Saved " + files[0].string() + " (" +
                  std::to_string(std::filesystem::file_size(files[0]) - 44) + " bytes of sound)"))
      << r.out;
  if (!HaveSox()) return;
  EXPECT_EQ(Soxi("r", files[0].string()), "44100");
  EXPECT_EQ(Soxi("b", files[0].string()), "8");
  // About 0.9 s of the tone and 2.1 s of the silence after it; never more
  // than the 3.5 s from the tone's start to the file's end.
  const double duration = std::stod(Soxi("D", files[0].string()));
  EXPECT_GT(duration, 2.7);
  EXPECT_LT(duration, 3.6);

  EXPECT_EQ(RunVelmora({"record", "--dir", dir.file("missing"), "--input", source}).exit_code, 2);
}

TEST(ToneCommands, RandomPrintsEachBlockAndAppendsTheBitsBesideTheProgram) {
  TempDir dir;
  std::vector<uint8_t> noise(44100);
  uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(128 + static_cast<int>((x >> 16) % 61) - 30);
  }
  const std::string source = dir.file("noise.wav");
  WriteWav8(source, noise);

  // test.dat lies beside the program: what a run adds is measured and the
  // file put back as it was.
  const std::string bits_file =
      (std::filesystem::path(VelmoraProgram()).parent_path() / "test.dat").string();
  const bool existed = std::filesystem::exists(bits_file);
  const std::string before = existed ? ReadFile(bits_file) : "";
  const RunResult r = RunVelmora({"random", "--input", source, "--fast", "--set",
                                  "GenRandom_NoiseSoundCard_BufSize=10000", "--set",
                                  "GenRandom_NoiseSoundCard_SaveToFile=True"});
  const std::string after = std::filesystem::exists(bits_file) ? ReadFile(bits_file) : "";
  if (existed)
    WriteFile(bits_file, before);
  else
    std::filesystem::remove(bits_file);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(after.size(), before.size() + 40000);
  EXPECT_EQ(after.compare(0, before.size(), before), 0) << "never truncated";
  for (size_t i = 0; i < 40000; ++i) ASSERT_EQ(after[before.size() + i], noise[i] & 1) << i;

  const std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 4u * 9) << r.out;
  EXPECT_EQ(lines[0].rfind("Block 1: 10000 bits, ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("  Cреднее арифметическое: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[6].rfind("  Критерий сериальной корреляции: ", 0), 0u) << lines[6];
  EXPECT_EQ(lines[7].rfind("  Распределение: ", 0), 0u) << lines[7];

  // JSON: the parameters under their own names, the sixth carrying the
  // verdict.
  const RunResult j = RunVelmora({"random", "--input", source, "--fast", "--set",
                                  "GenRandom_NoiseSoundCard_BufSize=40000", "--json"});
  ASSERT_EQ(j.exit_code, 0) << j.err;
  ASSERT_EQ(SplitLines(j.out).size(), 1u) << j.out;
  EXPECT_NE(j.out.find("\"crit_serial_correlation\": \"Распределение: "), std::string::npos)
      << j.out;
  EXPECT_NE(j.out.find("\"raspred\": \"Критерий сериальной корреляции: "), std::string::npos)
      << j.out;
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
