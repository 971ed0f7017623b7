// `velmora analyze` and the keys of `velmora listen` end to end: files made
// by sox and lame, the JSON lines read by Python's parser, the spectrum CSV,
// the failures a user can cause, and a key sequence decoded by the batch
// decoder and by multimon-ng.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/component/wav_bytes.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// Values of `key` in the JSON lines whose event is `event` (Python parses).
std::vector<std::string> JsonValues(const std::string& out, const std::string& event,
                                    const std::string& key) {
  const std::string script =
      "import json, sys\n"
      "for line in sys.stdin:\n"
      "    o = json.loads(line)\n"
      "    if o['event'] == sys.argv[1]:\n"
      "        print(o[sys.argv[2]])\n";
  RunResult r = testing::Run({"python3", "-c", script, event, key}, out, seconds(30));
  EXPECT_EQ(r.exit_code, 0) << r.err << "\n" << out;
  return SplitLines(r.out);
}

// Key tones (nominal frequencies) of "123a456b789c*0#d".
struct Tones {
  char key;
  int row, column;
};
constexpr Tones kKeys[] = {{'1', 697, 1209}, {'2', 697, 1336}, {'3', 697, 1477}, {'a', 697, 1633},
                           {'4', 770, 1209}, {'5', 770, 1336}, {'6', 770, 1477}, {'b', 770, 1633},
                           {'7', 852, 1209}, {'8', 852, 1336}, {'9', 852, 1477}, {'c', 852, 1633},
                           {'*', 941, 1209}, {'0', 941, 1336}, {'#', 941, 1477}, {'d', 941, 1633}};

// One key (`seconds` of tone, then as much silence) as a 16-bit WAV.
std::string SoxKey(const TempDir& dir, const Tones& k, int rate, const std::string& length,
                   const std::string& pause) {
  const std::string path = dir.file(std::string("k") + std::to_string(k.row) + "_" +
                                    std::to_string(k.column) + "_" + std::to_string(rate) + ".wav");
  RunResult r = Run({"sox",
                     "-D",
                     "-n",
                     "-r",
                     std::to_string(rate),
                     "-b",
                     "16",
                     "-c",
                     "1",
                     path,
                     "synth",
                     length,
                     "sine",
                     std::to_string(k.row),
                     "sine",
                     std::to_string(k.column),
                     "vol",
                     "0.7",
                     "pad",
                     "0",
                     pause});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return path;
}

TEST(AnalyzeCommand, WavMp3ListSpectrumAndJson) {
  if (!HaveProgram("sox")) GTEST_FAIL() << "sox is not installed (make deps installs it)";
  TempDir dir;
  const std::string wav = SoxKey(dir, kKeys[5], 44100, "0.25", "0");
  RunResult r = RunVelmora({"analyze", wav});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // 0.25 s of sound, of which the first 2048 samples are analysed: said.
  EXPECT_NE(r.err.find("only the first 2048 of its 11025 samples"), std::string::npos) << r.err;
  EXPECT_EQ(SplitLines(r.err).size(), 1u);
  std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].rfind("GetTone asum=0 ", 0), 0u) << r.out;
  EXPECT_EQ(lines[1].rfind("Key key=5 a1=", 0), 0u) << r.out;

  const std::string csv = dir.file("spectrum.csv");
  r = RunVelmora({"analyze", wav, "--json", "--set", "FFT_point=1000", "--set", "FFT_window=dB_72",
                  "--spectrum", csv});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(JsonValues(r.out, "Key", "key"), std::vector<std::string>{"5"});
  const std::vector<std::string> f1 = JsonValues(r.out, "Key", "f1");
  ASSERT_EQ(f1.size(), 1u);
  EXPECT_NEAR(std::stod(f1[0]), 1335.06, 0.01);  // 31 bins of 43.07 Hz
  std::vector<std::string> rows = SplitLines(ReadFile(csv));
  ASSERT_EQ(rows.size(), 513u);  // the header and 512 bins
  EXPECT_EQ(rows[0], "x,y");
  EXPECT_EQ(rows[1].rfind("0,", 0), 0u);
  EXPECT_EQ(rows[2].rfind("43.06640625,", 0), 0u) << rows[2];

  // A hexadecimal list: the noise level is its own.
  std::string list = "@@Hexadecimal\n";
  for (int i = 0; i < 200; ++i) list += "0x" + std::string(i % 3 ? "00000220" : "000001e0") + "\n";
  const std::string lst = dir.file("samples.txt");
  WriteFile(lst, list);
  r = RunVelmora({"analyze", lst, "--json", "--spectrum", csv});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(JsonValues(r.out, "GetTone", "noise_level").size(), 1u) << r.out;
  EXPECT_LT(std::stod(JsonValues(r.out, "GetTone", "noise_level")[0]), 0.0);
  EXPECT_EQ(SplitLines(ReadFile(csv)).size(), 1u + 126u);  // positions 2 .. 127 of 256

  // An MP3 elsewhere is copied into plugins/ beside the program under a
  // private name and decoded there; nothing is left behind.
  if (HaveProgram("lame")) {
    const std::string name = "analyze_" + std::to_string(getpid()) + ".mp3";
    const std::string mp3 = dir.file(name);
    ASSERT_EQ(testing::Run({"lame", "--quiet", wav, mp3}).exit_code, 0);
    r = RunVelmora({"analyze", mp3});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Key key=5 "), std::string::npos) << r.out;
    const fs::path plugins = fs::path(VelmoraProgram()).parent_path() / "plugins";
    for (const auto& entry : fs::directory_iterator(plugins))
      EXPECT_EQ(entry.path().filename().string().find("velmora-analyze-"), std::string::npos)
          << entry.path();
    EXPECT_FALSE(fs::exists(plugins / name));
  }
}

TEST(AnalyzeCommand, AFileThatCannotBeAnalysedIsOneLineAndExit2) {
  TempDir dir;
  const std::string short_riff = dir.file("short.wav");
  WriteFile(short_riff,
            Riff(FmtChunk(1, 1, 44100, 16) + Chunk("data", std::string(100, '\x01')), -1));
  const std::string text = dir.file("text.wav");
  WriteFile(text, "not a sound\n");
  const std::string list = dir.file("few.txt");
  WriteFile(list, "0x000001FF\n0x00000210\n0x000001F0\n");
  struct Case {
    std::string file;
    const char* reason;
  };
  for (const Case& c : {Case{short_riff, "size mismatch"}, Case{text, "not a RIFF/WAVE file"},
                        Case{dir.file("missing.wav"), "No such file"},
                        Case{dir.file("missing.mp3"), "no such file"},
                        Case{dir.file("missing.txt"), "No such file"}, Case{list, "noise level"}}) {
    RunResult r = RunVelmora({"analyze", c.file});
    EXPECT_EQ(r.exit_code, 2) << c.file;
    EXPECT_EQ(r.out, "") << c.file;
    ASSERT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(c.file), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
  // What the component's WAV reading cannot analyse: encodings other than
  // 8- and 16-bit PCM (made by sox) and a format chunk with no channels.
  const std::string key = SoxKey(dir, kKeys[5], 44100, "0.1", "0");
  for (const auto& [encoding, reason] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-b", "24"}, "extensible"},
           {{"-e", "floating-point", "-b", "32"}, "floating-point"},
           {{"-e", "a-law"}, "A-law"},
           {{"-e", "u-law"}, "law samples"}}) {
    const std::string other = dir.file("other_" + reason + ".wav");
    std::vector<std::string> argv = {"sox", key};
    argv.insert(argv.end(), encoding.begin(), encoding.end());
    argv.push_back(other);
    ASSERT_EQ(testing::Run(argv).exit_code, 0);
    RunResult r = RunVelmora({"analyze", other});
    EXPECT_EQ(r.exit_code, 2) << other;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
  const std::string mute = dir.file("mute.wav");
  WriteFile(mute, Riff(FmtChunk(1, 0, 44100, 16) + Chunk("data", std::string(4096, '\x10'))));
  RunResult r = RunVelmora({"analyze", mute});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("no channels"), std::string::npos) << r.err;

  EXPECT_EQ(RunVelmora({"analyze"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"analyze", text, list}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"analyze", list, "--set", "FFT_window=dB_1"}).exit_code, 2);
}

TEST(AnalyzeCommand, SpectrumToStandardOutputAndAnUnwritablePathBeforeAnyResult) {
  TempDir dir;
  const std::string wav = dir.file("quiet.wav");
  WriteWav8(wav, std::vector<uint8_t>(2048, 128));
  RunResult r = RunVelmora({"analyze", wav, "--spectrum", "-"}, "", std::chrono::seconds(30));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  // One unsigned sample per byte: 2048 samples of silence (0), so 1024
  // bins, and bin 0 reads 20 log10(0 + 0.000001) = -120 dB.
  ASSERT_EQ(lines.size(), 1u + 1u + 1024u) << "the result, the header, 1024 bins";
  EXPECT_EQ(lines[0].rfind("GetTone ", 0), 0u);
  EXPECT_EQ(lines[1], "x,y");
  EXPECT_EQ(lines[2], "0,-120");
  EXPECT_FALSE(fs::exists("-"));

  const std::string unwritable = dir.file("no-such-folder/spectrum.csv");
  r = RunVelmora({"analyze", wav, "--spectrum", unwritable});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "") << "reported before the results";
  EXPECT_NE(r.err.find(unwritable), std::string::npos) << r.err;
  // A spectrum file is not left behind by an analysis that failed.
  r = RunVelmora({"analyze", dir.file("missing.wav"), "--spectrum", dir.file("s.csv")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(fs::exists(dir.file("s.csv")));
}

// The program's own 8-bit recordings give their key; a WAV is a WAV by its
// content whatever its name.
TEST(AnalyzeCommand, EightBitRecordingsAndWavByContent) {
  TempDir dir;
  const std::string dialled = dir.file("dialled.wav");
  ASSERT_EQ(RunVelmora({"dial", "9", "--output", dialled}).exit_code, 0);
  RunResult r = RunVelmora({"analyze", dialled});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Key key=9 "), std::string::npos) << r.out;
  const std::string named = dir.file("key5.dat");
  fs::copy_file(SoxKey(dir, kKeys[5], 44100, "0.1", "0"), named);
  r = RunVelmora({"analyze", named});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Key key=5 "), std::string::npos) << r.out;
}

// Two analyses at once of different MP3 files with the same name each
// report their own key.
TEST(AnalyzeCommandConcurrency, Mp3FilesWithTheSameNameAtOnce) {
  if (!HaveProgram("lame")) GTEST_FAIL() << "lame is not installed (make deps installs it)";
  TempDir dir;
  std::vector<std::string> mp3s;
  for (int i : {1, 15}) {
    fs::create_directory(dir.path() / std::to_string(i));
    const std::string mp3 = (dir.path() / std::to_string(i) / "same.mp3").string();
    ASSERT_EQ(
        testing::Run({"lame", "--quiet", SoxKey(dir, kKeys[i], 44100, "0.25", "0"), mp3}).exit_code,
        0);
    mp3s.push_back(mp3);
  }
  for (int round = 0; round < 3; ++round) {
    RunResult results[2];
    std::thread other([&] { results[1] = RunVelmora({"analyze", mp3s[1]}); });
    results[0] = RunVelmora({"analyze", mp3s[0]});
    other.join();
    EXPECT_NE(results[0].out.find("Key key=2 "), std::string::npos) << results[0].out;
    EXPECT_NE(results[1].out.find("Key key=d "), std::string::npos) << results[1].out;
  }
}

// Keys with repeats collapsed (a key spans several buffers).
std::string Collapse(const std::vector<std::string>& keys) {
  std::string out;
  for (const std::string& k : keys)
    if (out.empty() || out.back() != k[0]) out += k;
  return out;
}

TEST(ListenKeysConcurrency, BatchDecoderAgreesWithMultimonNg) {
  if (!HaveProgram("sox") || !HaveProgram("multimon-ng"))
    GTEST_FAIL() << "sox or multimon-ng (make deps installs it)";
  TempDir dir;
  // All sixteen keys, then a few repeated with a pause between them, 100 ms
  // of tone and 100 ms of silence each, at 22050 Hz.
  std::vector<std::string> argv{"sox"};
  std::string sequence;
  for (const Tones& k : kKeys) {
    argv.push_back(SoxKey(dir, k, 22050, "0.1", "0.1"));
    sequence += k.key;
  }
  for (int i : {5, 9, 5, 15, 0}) {
    argv.push_back(argv[1 + i]);
    sequence += kKeys[i].key;
  }
  const std::string wav = dir.file("sequence.wav");
  argv.push_back(wav);
  ASSERT_EQ(testing::Run(argv).exit_code, 0);

  RunResult r = RunVelmora({"listen", "--input", wav, "--fast", "--raw"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> ours;
  for (const std::string& line : SplitLines(r.out)) {
    ASSERT_EQ(line.rfind("Key key=", 0), 0u) << line;
    ours.push_back(line.substr(8, 1));
  }
  const std::string raw = dir.file("sequence.raw");
  ASSERT_EQ(testing::Run({"sox", wav, "-t", "raw", "-e", "signed", "-b", "16", "-r", "22050", raw})
                .exit_code,
            0);
  RunResult m = testing::Run({"multimon-ng", "-q", "-a", "DTMF", "-t", "raw", raw});
  ASSERT_EQ(m.exit_code, 0) << m.err;
  std::vector<std::string> theirs;
  for (const std::string& line : SplitLines(m.out)) {
    if (line.rfind("DTMF: ", 0) != 0) continue;
    theirs.push_back(std::string(1, static_cast<char>(std::tolower(line[6]))));
  }
  EXPECT_EQ(Collapse(ours), sequence) << r.out;
  EXPECT_EQ(Collapse(theirs), sequence) << m.out;

  // JSON: the key with its levels and frequencies; --verbose adds the
  // summary line of every buffer.
  r = RunVelmora({"listen", "--input", argv[6], "--fast", "--json"});  // key 5
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> keys = JsonValues(r.out, "Key", "key");
  ASSERT_FALSE(keys.empty()) << r.out;
  for (const std::string& k : keys) EXPECT_EQ(k, "5");
  EXPECT_EQ(JsonValues(r.out, "Key", "f2").size(), keys.size());
  r = RunVelmora({"listen", "--input", argv[6], "--fast", "--verbose"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  int tones = 0;
  int summaries = 0;
  for (const std::string& line : SplitLines(r.out)) {
    tones += line.rfind("GetTone ", 0) == 0;
    summaries += line.rfind("DTMF(", 0) == 0;
  }
  EXPECT_GT(tones, 0);
  EXPECT_EQ(summaries, tones);
  EXPECT_NE(r.out.find("DTMF(5):  A1= "), std::string::npos) << r.out;
  EXPECT_EQ(RunVelmora({"listen", "--input", wav, "--keys", "--verbose"}).exit_code, 2);
}

}  // namespace
}  // namespace velmora::testing
