// `velmora listen` end to end: the program of this build on WAV files made
// by the test and by sox, the JSON lines checked by Python's parser, and the
// failures a user can cause.
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using std::chrono::seconds;

// Buffers of 2048 bytes, silent but for one byte: 0 (level 100), 192 (50),
// 144 (12); then a last partial buffer of 100 bytes with a 176 (38).
std::vector<uint8_t> KnownBuffers() {
  std::vector<uint8_t> all;
  for (uint8_t peak : {uint8_t{0}, uint8_t{192}, uint8_t{144}}) {
    std::vector<uint8_t> b(2048, 128);
    b[7] = peak;
    all.insert(all.end(), b.begin(), b.end());
  }
  std::vector<uint8_t> tail(100, 128);
  tail[50] = 176;
  all.insert(all.end(), tail.begin(), tail.end());
  return all;
}

// Every line is a JSON object (checked by Python's own parser); returns the
// values of `key` of the lines whose event is `event`, one per line.
std::vector<std::string> JsonValues(const std::string& out, const std::string& event,
                                    const std::string& key) {
  const std::string script =
      "import json, sys\n"
      "for line in sys.stdin:\n"
      "    o = json.loads(line)\n"
      "    assert isinstance(o, dict), line\n"
      "    if o['event'] == sys.argv[1]:\n"
      "        print(o[sys.argv[2]])\n";
  RunResult r = testing::Run({"python3", "-c", script, event, key}, out, seconds(30));
  EXPECT_EQ(r.exit_code, 0) << r.err << "\n" << out;
  return SplitLines(r.out);
}

TEST(ListenCommandConcurrency, PrintsTheLevelOfEveryBufferOfAFile) {
  TempDir dir;
  const std::string wav = dir.file("known.wav");
  WriteWav8(wav, KnownBuffers());
  RunResult r = RunVelmora({"listen", "--input", wav, "--fast"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> tones;
  for (const std::string& line : SplitLines(r.out))
    if (line.rfind("GetTone ", 0) == 0) tones.push_back(line.substr(0, line.find(' ', 8)));
  EXPECT_EQ(tones, (std::vector<std::string>{"GetTone asum=100", "GetTone asum=50",
                                             "GetTone asum=12", "GetTone asum=38"}))
      << r.out;

  r = RunVelmora({"listen", "--input", wav, "--fast", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(JsonValues(r.out, "GetTone", "asum"),
            (std::vector<std::string>{"100", "50", "12", "38"}));
  // Real time: the same buffers, about 0.15 s, and DataOsc ticks meanwhile.
  r = RunVelmora({"listen", "--input", wav, "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(JsonValues(r.out, "GetTone", "asum").size(), 4u);
  for (const std::string& count : JsonValues(r.out, "DataOsc", "count"))
    EXPECT_TRUE(count == "0" || count == "2048" || count == "100") << count;
}

TEST(ListenCommandConcurrency, ReadsWhatSoxWrites) {
  if (!HaveProgram("sox")) GTEST_FAIL() << "sox is not installed (make deps installs it)";
  TempDir dir;
  // Half scale: a peak of about 64 in 8-bit samples, so a level near 50.
  const std::string mono = dir.file("sox8.wav");
  RunResult s = testing::Run({"sox", "-D", "-n", "-r", "44100", "-b", "8", "-c", "1", mono, "synth",
                              "0.2", "sine", "1000", "vol", "0.5"});
  ASSERT_EQ(s.exit_code, 0) << s.err;
  RunResult r = RunVelmora({"listen", "--input", mono, "--fast", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> levels = JsonValues(r.out, "GetTone", "asum");
  ASSERT_EQ(levels.size(), 5u) << r.out;  // 8820 samples: 4 full buffers and one of 628
  for (const std::string& level : levels) {
    EXPECT_GE(std::stoi(level), 48) << r.out;
    EXPECT_LE(std::stoi(level), 51) << r.out;
  }
  // Another format is converted by the file source: 16-bit stereo 22050 Hz.
  const std::string stereo = dir.file("sox16.wav");
  s = testing::Run({"sox", "-n", "-r", "22050", "-b", "16", "-c", "2", stereo, "synth", "0.2",
                    "sine", "500", "vol", "0.9"});
  ASSERT_EQ(s.exit_code, 0) << s.err;
  r = RunVelmora({"listen", "--input", stereo, "--fast"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  int tones = 0;
  for (const std::string& line : SplitLines(r.out)) {
    if (line.rfind("GetTone asum=", 0) != 0) continue;
    // Full buffers peak at about 0.9 of full scale.
    if (++tones < 4) {
      EXPECT_EQ(line.rfind("GetTone asum=9", 0), 0u) << line;
    }
  }
  EXPECT_GE(tones, 4) << r.out;
}

TEST(ListenCommandConcurrency, SettingsReachTheComponent) {
  TempDir dir;
  const std::string wav = dir.file("known.wav");
  WriteWav8(wav, KnownBuffers());
  // Processing switched off: the file still runs through, but no GetTone.
  RunResult r = RunVelmora({"listen", "--input", wav, "--fast", "--set", "StartRealTime=false"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.find("GetTone"), std::string::npos) << r.out;

  r = RunVelmora({"listen", "--input", wav, "--set", "NoSuchProperty=1"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("no property \"NoSuchProperty\""), std::string::npos) << r.err;
  r = RunVelmora({"listen", "--input", wav, "--set", "FFT_window=dB_93"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("dB_93"), std::string::npos) << r.err;
  r = RunVelmora({"listen", "--input", wav, "--set", "FFT_point"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("Name=value"), std::string::npos) << r.err;
}

TEST(ListenCommandConcurrency, UnreadableInputIsAUsageError) {
  TempDir dir;
  const std::string missing = dir.file("missing.wav");
  RunResult r = RunVelmora({"listen", "--input", missing});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;

  const std::string text = dir.file("text.wav");
  WriteFile(text, "this is not a sound file\n");
  r = RunVelmora({"listen", "--input", text});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not a sound file"), std::string::npos) << r.err;

  EXPECT_EQ(RunVelmora({"listen", "--fast", "--seconds", "0"}).exit_code,
            2);  // --fast needs a file
  EXPECT_EQ(RunVelmora({"listen", "--input", "none", "--seconds", "-1"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"listen", "extra"}).exit_code, 2);
}

TEST(ListenCommandConcurrency, WithoutInputDeviceSaysSoOnceAndFails) {
  // No --seconds: a command that went on listening to nothing would hang.
  for (const char* command : {"listen", "random", "record"}) {
    SCOPED_TRACE(command);
    RunResult r = RunVelmora({command, "--input", "none"}, "", std::chrono::seconds(10));
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    std::vector<std::string> err = SplitLines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_NE(err[0].find("no sound input device is available"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace velmora::testing
