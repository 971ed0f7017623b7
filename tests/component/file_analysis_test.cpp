// LoadWavMp3Sharc_path on WAV and MP3 files: DTMF keys made by sox in every
// sample format the analysis supports (and those that cannot give a key by
// design), an MP3 decoded by the real lame in plugins/, and the silent
// failures, which repeat the previous results.
#include "velmora/component/file_analysis.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/component/wav_bytes.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/component/wav_reader.h"
#include "velmora/host/paths.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

struct KeyTones {
  char key;
  int row, column;  // nominal DTMF frequencies, Hz
};

constexpr KeyTones kKeys[] = {
    {'1', 697, 1209}, {'2', 697, 1336}, {'3', 697, 1477}, {'a', 697, 1633},
    {'4', 770, 1209}, {'5', 770, 1336}, {'6', 770, 1477}, {'b', 770, 1633},
    {'7', 852, 1209}, {'8', 852, 1336}, {'9', 852, 1477}, {'c', 852, 1633},
    {'*', 941, 1209}, {'0', 941, 1336}, {'#', 941, 1477}, {'d', 941, 1633}};

// A key of 0.25 s made by sox: both tones in every channel.
std::string SoxKey(const TempDir& dir, const KeyTones& k, int rate, int bits, int channels) {
  const std::string base = std::string("key_") + std::to_string(k.row) + "_" +
                           std::to_string(k.column) + "_" + std::to_string(rate) + "_" +
                           std::to_string(bits);
  const std::string mono = dir.file(base + "_1.wav");
  RunResult r =
      Run({"sox", "-D", "-n", "-r", std::to_string(rate), "-b", std::to_string(bits), "-c", "1",
           mono, "synth", "0.25", "sine", std::to_string(k.row), "sine", std::to_string(k.column)});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  if (channels == 1) return mono;
  const std::string stereo = dir.file(base + "_2.wav");
  r = Run({"sox", "-D", mono, "-c", "2", stereo});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return stereo;
}

class FileAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dtmf_ = std::make_unique<tonvel::TDTMF>(nullptr);
    dtmf_->set_StartRealTime(false);
    dtmf_->GetTone = [this](host::TObject*, int32_t, double, double a0, double f0) {
      tones_.push_back({a0, f0});
    };
    dtmf_->Key = [this](host::TObject*, const std::string& key, double, double, double, double) {
      keys_.push_back(key);
    };
  }
  // Analyses `path` and returns the key reported ("" for none).
  std::string Analyse(const std::string& path) {
    keys_.clear();
    tones_.clear();
    dtmf_->set_LoadWavMp3Sharc_path(path);
    EXPECT_EQ(dtmf_->LoadWavMp3Sharc_path(), "");
    EXPECT_EQ(tones_.size(), 1u);
    EXPECT_LE(keys_.size(), 1u);
    return keys_.empty() ? "" : keys_[0];
  }

  InputGuard input_{NoInput()};
  TempDir dir_;
  std::unique_ptr<tonvel::TDTMF> dtmf_;
  std::vector<std::pair<double, double>> tones_;
  std::vector<std::string> keys_;
};

TEST_F(FileAnalysisTest, SoxKeysGiveTheirKeyIn16BitFiles) {
  if (!HaveProgram("sox")) GTEST_FAIL() << "sox is not installed (make deps installs it)";
  struct Format {
    int rate, channels;
  };
  for (const Format f : {Format{44100, 1}, Format{22050, 1}, Format{44100, 2}, Format{22050, 2}}) {
    for (const KeyTones& k : kKeys) {
      SCOPED_TRACE(std::string("key ") + k.key + " at " + std::to_string(f.rate) + " Hz, " +
                   std::to_string(f.channels) + " channel(s)");
      const std::string path = SoxKey(dir_, k, f.rate, 16, f.channels);
      EXPECT_EQ(Analyse(path), std::string(1, k.key))
          << tonvel::spektr.text << " " << tonvel::file_analysis::LastFailure();
      EXPECT_EQ(tonvel::file_analysis::LastFailure(), "");
      // The high byte of every sample (channels interleaved), the spectrum
      // of the first 2048, bins rate * channels / 4096 apart.
      const tonvel::wav_info info = tonvel::read_wav(path);
      ASSERT_EQ(tonvel::inwav.y.size(), info.data.size() / 2);
      EXPECT_EQ(tonvel::inwav.y[1001], static_cast<int8_t>(info.data[2003]));
      ASSERT_EQ(tonvel::spektr.x.size(), 1024u);
      EXPECT_DOUBLE_EQ(tonvel::spektr.x[1], f.rate * f.channels / 2048.0);
    }
  }
}

// 8-bit WAV files (the component's own recordings among them) hold one
// unsigned sample per byte, s = byte - 128, as the capture has them; read as
// byte pairs they would give no key at all.
TEST_F(FileAnalysisTest, EightBitFilesAreReadOneUnsignedSamplePerByte) {
  if (!HaveProgram("sox")) GTEST_FAIL() << "sox is not installed (make deps installs it)";
  for (int channels : {1, 2}) {
    for (const KeyTones& k : {kKeys[5], kKeys[0], kKeys[15]}) {
      SCOPED_TRACE(std::string("key ") + k.key + ", " + std::to_string(channels) + " channel(s)");
      const std::string path = SoxKey(dir_, k, 44100, 8, channels);
      EXPECT_EQ(Analyse(path), std::string(1, k.key)) << tonvel::spektr.text;
      const tonvel::wav_info info = tonvel::read_wav(path);
      ASSERT_EQ(info.status, tonvel::WavStatus::Success);
      ASSERT_EQ(tonvel::inwav.y.size(), info.data.size());
      for (size_t i = 0; i < tonvel::inwav.y.size(); ++i)
        ASSERT_EQ(tonvel::inwav.y[i], info.data[i] - 128) << i;
      EXPECT_DOUBLE_EQ(tonvel::spektr.x[1], 44100.0 * channels / 2048);
    }
  }
}

TEST_F(FileAnalysisTest, ExtensionInAnyCaseAndTheSettingsApply) {
  if (!HaveProgram("sox")) GTEST_FAIL() << "sox is not installed (make deps installs it)";
  const std::string lower = SoxKey(dir_, kKeys[5], 44100, 16, 1);
  const std::string upper = dir_.file("Tone.WAV");
  fs::copy_file(lower, upper);
  EXPECT_EQ(Analyse(upper), "5");
  dtmf_->set_FFT_point(1000);  // 1024 points: 512 bins, 43.07 Hz apart
  dtmf_->set_FFT_window(tonvel::dB_92);
  EXPECT_EQ(Analyse(upper), "5");
  EXPECT_EQ(tonvel::spektr.x.size(), 512u);
  EXPECT_EQ(tonvel::f_window, 3);
}

TEST_F(FileAnalysisTest, AFailureIsSilentAndRepeatsThePreviousResults) {
  if (!HaveProgram("sox")) GTEST_FAIL() << "sox is not installed (make deps installs it)";
  ASSERT_EQ(Analyse(SoxKey(dir_, kKeys[5], 44100, 16, 1)), "5");
  const std::pair<double, double> tone = tones_[0];
  const std::vector<double> spectrum = tonvel::spektr.y;

  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"RIFF size one byte short",
       Riff(FmtChunk(1, 1, 44100, 16) + Chunk("data", std::string(4096, '\x10')), -1),
       "size mismatch"},
      {"not a WAV", "hello, world\n", "not a RIFF/WAVE file"},
      {"one byte of data", Riff(FmtChunk(1, 1, 44100, 16) + Chunk("data", "x")), "no samples"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_.file(std::string(c.what) + ".wav");
    WriteFile(path, c.bytes);
    EXPECT_EQ(Analyse(path), "5");  // the previous key, reported again
    EXPECT_EQ(tones_[0], tone);
    EXPECT_NE(tonvel::file_analysis::LastFailure().find(c.reason), std::string::npos)
        << tonvel::file_analysis::LastFailure();
    EXPECT_TRUE(tonvel::spektr.y.empty()) << "the series were emptied";
  }
  EXPECT_EQ(Analyse(dir_.file("missing.wav")), "5");
  EXPECT_NE(tonvel::file_analysis::LastFailure().find("No such file"), std::string::npos);
}

TEST_F(FileAnalysisTest, NothingHappensWhileLiveProcessingRuns) {
  dtmf_->set_StartRealTime(true);
  tonvel::inwav.y = {1, 2, 3};
  dtmf_->set_LoadWavMp3Sharc_path(dir_.file("any.wav"));
  EXPECT_EQ(dtmf_->LoadWavMp3Sharc_path(), "");
  EXPECT_TRUE(tones_.empty());
  EXPECT_EQ(tonvel::inwav.y, (std::vector<double>{1, 2, 3}));
  dtmf_->set_StartRealTime(false);
  dtmf_->set_LoadWavMp3Sharc_path("");
  EXPECT_TRUE(tones_.empty());
}

TEST_F(FileAnalysisTest, Mp3IsDecodedFromPluginsBesideTheExecutable) {
  if (!HaveProgram("sox") || !HaveProgram("lame"))
    GTEST_FAIL() << "sox or lame is missing (make deps installs it)";
  const std::string plugins = tonvel::file_analysis::DecoderDirectory() + "plugins/";
  if (!host::FileExists(plugins + "lame"))
    GTEST_FAIL() << "no " << plugins << "lame (the build links it)";
  const std::string name = "key5_" + std::to_string(getpid()) + ".mp3";
  const std::string mp3 = dir_.file(name);
  RunResult r = testing::Run({"lame", "--quiet", SoxKey(dir_, kKeys[5], 44100, 16, 1), mp3});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  // Given with another directory: only the name counts, and the MP3 must lie
  // in plugins/.
  tonvel::signal.clear();
  EXPECT_EQ(Analyse(mp3), "");
  EXPECT_NE(tonvel::file_analysis::LastFailure().find("must lie in " + plugins), std::string::npos)
      << tonvel::file_analysis::LastFailure();

  fs::copy_file(mp3, plugins + name, fs::copy_options::overwrite_existing);
  EXPECT_EQ(Analyse("/no/such/folder/" + name), "5") << tonvel::file_analysis::LastFailure();
  EXPECT_EQ(tonvel::file_analysis::LastFailure(), "");
  EXPECT_EQ(tonvel::file_analysis::DecodedPath(mp3), plugins + name + ".wav");
  EXPECT_TRUE(host::FileExists(plugins + name + ".wav"));

  fs::remove(plugins + name);
  fs::remove(plugins + name + ".wav");

  // A decoder that does not finish in time is stopped. The "MP3" is a FIFO
  // nobody writes, so the decoder waits in open() however fast the machine.
  const std::string stuck = "stuck_" + std::to_string(getpid()) + ".mp3";
  ASSERT_EQ(::mkfifo((plugins + stuck).c_str(), 0600), 0) << std::strerror(errno);
  const std::string late = tonvel::file_analysis::DecodeMp3(stuck, 50);
  fs::remove(plugins + stuck);
  EXPECT_NE(late.find("did not finish within 50 ms"), std::string::npos) << late;
}

}  // namespace
}  // namespace velmora::testing
