// `velmora recognize` and `velmora record --recognize` against recognition
// servers of the tests' own over HTTPS (the test CA): canned replies and
// PocketSphinx; no encoder, an encoder that fails, an unreadable file.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/peers/recognition_server.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

const std::string kPath = "/speech-api/v1/recognize?xjerr=1&client=chromium&lang=ru-RU";
// The verdicts and a word, in UTF-8 as the program prints them.
const std::string kRecognised =
    "\xD0\xA0\xD0\xB0\xD1\x81\xD0\xBF\xD0\xBE\xD0\xB7\xD0\xBD\xD0\xB0"
    "\xD0\xBD\xD0\xBE...";
const std::string kNotRecognised =
    "\xD0\x9D\xD0\xB5 \xD1\x80\xD0\xB0\xD1\x81\xD0\xBF\xD0\xBE\xD0\xB7\xD0\xBD\xD0\xB0\xD0\xBD"
    "\xD0\xBE...";
const std::string kPrivet = "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";

std::string Reply(const std::string& status, const std::string& text, const std::string& conf) {
  return "{\"status\":" + status + ",\"id\":\"x-1\",\"hypotheses\":[{\"utterance\":\"" + text +
         "\",\"confidence\":" + conf + "}]}";
}

// 0.3 s of silence, `loud` of 8-bit samples, 4 s of silence: the trigger
// lets go after 2.1 s quiet, and the rest is slack for a loaded machine.
std::vector<uint8_t> Passage(const std::vector<uint8_t>& loud) {
  const size_t before = 44100 * 3 / 10;
  std::vector<uint8_t> sound(before + loud.size() + 44100 * 4, 128);
  std::copy(loud.begin(), loud.end(), sound.begin() + static_cast<std::ptrdiff_t>(before));
  return sound;
}

std::vector<uint8_t> Tone(double seconds) {
  std::vector<uint8_t> v;
  for (int i = 0; i < seconds * 44100; ++i)
    v.push_back(static_cast<uint8_t>(
        128 + std::lround(90 * std::sin(i * 2 * std::numbers::pi * 700 / 44100))));
  return v;
}

class RecognizeCommand : public ::testing::Test {
 protected:
  std::vector<std::string> Remote(std::vector<std::string> args, const RecognitionServer& s) {
    args.insert(args.end(), {"--url", s.Url(kPath), "--cafile", pki_.CaFile()});
    return args;
  }

  TempDir dir_;
  TestPki pki_{dir_};
};

TEST_F(RecognizeCommand, WavAndFlacAgainstTheCannedServer) {
  auto server = RecognitionServer::Canned(
      dir_, &pki_, {Reply("0", kPrivet, "0.87"), "{\"status\":5,\"id\":\"x\",\"hypotheses\":[]}"});
  const std::string wav = dir_.file("speech.wav");
  WriteWav8(wav, Tone(0.5));
  RunResult r = RunVelmora(Remote({"recognize", wav}, *server));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "TriggerOffGSA " + kRecognised + " 87%: " + kPrivet + "\n");
  // The WAV was encoded beside itself; that FLAC is what the server got.
  const std::string flac = dir_.file("speech.flac");
  ASSERT_TRUE(std::filesystem::exists(flac));
  EXPECT_EQ(server->Request(1, "check"), "ok");
  EXPECT_EQ(server->Request(1, "flac"), ReadFile(flac));
  EXPECT_EQ(server->Request(1, "raw").size(), 44100u / 2 - 1);

  // The FLAC itself, with JSON output: status 5 is "not recognised", exit 1.
  r = RunVelmora(Remote({"recognize", flac, "--json"}, *server));
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out,
            "{\"event\": \"TriggerOffGSA\", \"full_answer_google\": "
            "\"{\\\"status\\\":5,\\\"id\\\":\\\"x\\\",\\\"hypotheses\\\":[]}\\r\\n\", "
            "\"recognize_flag\": \"" +
                kNotRecognised + "\", \"recognize_text\": \"\", \"recognize_accuracy\": 0}\n");
  EXPECT_EQ(server->Request(2, "flac"), ReadFile(flac));

  // The WAV again: its FLAC is not overwritten, nothing is sent.
  r = RunVelmora(Remote({"recognize", wav}, *server));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_EQ(server->Requests(), 2);
}

TEST_F(RecognizeCommand, NoEncoderFailingEncoderUnreadableFileNoServer) {
  auto server = RecognitionServer::Canned(dir_, &pki_, {Reply("0", "a", "1")});
  // A copy of the program in a folder of its own, so that its plugins/ is the
  // test's; PATH without flac.
  const std::filesystem::path app = dir_.path() / "app";
  std::filesystem::create_directories(app / "plugins");
  std::filesystem::copy_file(VelmoraProgram(), app / "velmora");
  const std::string wav = dir_.file("a.wav");
  WriteWav8(wav, Tone(0.2));
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"env", "PATH=/nonexistent", (app / "velmora").string()});
    return testing::Run(args);
  };
  RunResult r = run(Remote({"recognize", wav}, *server));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("no FLAC encoder"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");

  const std::string failing = (app / "plugins" / "flac").string();
  WriteFile(failing, "#!/bin/sh\nexit 4\n");
  ::chmod(failing.c_str(), 0755);
  r = run(Remote({"recognize", wav}, *server));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("exit status 4"), std::string::npos) << r.err;
  EXPECT_EQ(server->Requests(), 0);

  // Unreadable input and bad usage.
  r = RunVelmora(Remote({"recognize", dir_.file("missing.flac")}, *server));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("missing.flac"), std::string::npos) << r.err;
  EXPECT_EQ(RunVelmora({"recognize", wav, "--url", "ftp://127.0.0.1/"}).exit_code, 2);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("a.flac"))) << "bad usage encodes nothing";
  EXPECT_EQ(RunVelmora({"recognize"}).exit_code, 2);
  EXPECT_EQ(RunVelmora({"record", "--url", server->Url(kPath)}).exit_code, 2);

  // Nothing listens: an empty reply, not recognised.
  r = RunVelmora({"recognize", wav, "--url",
                  "https://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + kPath});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out, "TriggerOffGSA " + kNotRecognised + " 0%: \n") << r.err;
  EXPECT_EQ(server->Requests(), 0);
}

TEST_F(RecognizeCommand, RecordRecognizesEveryPassage) {
  auto server = RecognitionServer::Canned(dir_, &pki_, {Reply("0", kPrivet, "0.57")});
  const std::string source = dir_.file("source.wav");
  WriteWav8(source, Passage(Tone(0.8)));
  const std::filesystem::path out = dir_.path() / "out";
  std::filesystem::create_directory(out);
  const RunResult r = RunVelmora(
      Remote({"record", "--recognize", "--input", source, "--dir", out.string()}, *server));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  const auto gsa =
      std::find(lines.begin(), lines.end(), "TriggerOffGSA " + kRecognised + " 57%: " + kPrivet);
  ASSERT_NE(gsa, lines.end()) << r.out << r.err;
  // The reply comes in the tick that completes the recording, before the
  // program notices the saved file.
  ASSERT_NE(gsa + 1, lines.end());
  EXPECT_EQ((gsa + 1)->rfind("Saved ", 0), 0u) << r.out;
  EXPECT_EQ(server->Requests(), 1);
  EXPECT_EQ(server->Request(1, "check"), "ok");
}

TEST_F(RecognizeCommand, RecordWithPocketSphinx) {
  auto server = RecognitionServer::Sphinx(dir_, &pki_);
  const std::string speech = dir_.file("speech.wav");
  RunResult r = testing::Run({"espeak-ng", "-s", "110", "-w", speech, "four five six"});
  ASSERT_EQ(r.exit_code, 0) << "espeak-ng (scripts/deps.sh installs it): " << r.err;
  const std::string source = dir_.file("speech8.wav");
  r = testing::Run({"sox", speech, "-r", "44100", "-b", "8", "-e", "unsigned", "-c", "1", source,
                    "gain", "-n", "-1", "pad", "0.3", "4"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunVelmora(
      Remote({"record", "--recognize", "--json", "--input", source, "--dir", dir_.path().string()},
             *server));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(server->Requests(), 1) << r.out << r.err;
  const std::string heard = server->Request(1, "hypothesis");
  EXPECT_FALSE(heard.empty()) << "PocketSphinx heard nothing";
  EXPECT_NE(r.out.find("\"recognize_text\": \"" + heard + "\", \"recognize_accuracy\": 75}"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace velmora::testing
