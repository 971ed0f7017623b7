// The recognition request without a network: the multipart body and its
// boundary, the reply parse, and the FLAC encoder stage with Debian's flac.
#include "velmora/component/recognition.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/form_stream.h"
#include "velmora/host/paths.h"
#include "velmora/host/random.h"
#include "velmora/platform/process.h"

namespace velmora::testing {
namespace {

namespace recognition = tonvel::recognition;

const std::string kPrivet1251 = "\xEF\xF0\xE8\xE2\xE5\xF2";

// A reply in the service's format.
std::string Reply(const std::string& status, const std::string& text, const std::string& conf) {
  return "{\"status\":" + status +
         ",\"id\":\"b3447b5d98c5653e0067f35b32c0a8ca-1\",\"hypotheses\":" + "[{\"utterance\":\"" +
         text + "\",\"confidence\":" + conf + "}]}\r\n";
}

TEST(RecognitionRequest, BodyOfAThousandByteFileAndItsContentType) {
  std::string data(1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const std::string b = "0A3F19C2_Velmora_boundary";
  const std::string body = recognition::MultipartBody(b, "userfile", "rec.flac", data);
  const std::string expected =
      "--0A3F19C2_Velmora_boundary\r\n"
      "content-disposition: form-data; name=\"userfile\"; filename=\"rec.flac\"\r\n"
      "Content-Type: audio/x-flac; rate=44100\r\n"
      "\r\n" +
      data + "\r\n--0A3F19C2_Velmora_boundary--\r\n";
  EXPECT_EQ(body, expected);
  EXPECT_EQ(recognition::RequestMimeType(b),
            "audio/x-flac; rate=44100, boundary=0A3F19C2_Velmora_boundary");
  // A directory part of the name goes into the header unchanged.
  EXPECT_NE(recognition::MultipartBody(b, "userfile", "dir/07.12.2026_05-30-12.flac", "")
                .find("filename=\"dir/07.12.2026_05-30-12.flac\""),
            std::string::npos);
}

TEST(RecognitionRequest, BoundaryIsEightHexDigitsOfTheRunTimeGenerator) {
  // The generator: state * 134775813 + 1 modulo 2^32, the value the upper
  // bits of state * range.
  host::RandSeed = 12345;
  uint32_t state = 12345;
  for (int k = 0; k < 3; ++k) {
    state = state * 134775813u + 1u;
    const auto value = static_cast<uint32_t>((uint64_t{state} * 2147483647u) >> 32);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", value);
    EXPECT_EQ(recognition::MakeBoundary(), std::string(hex) + "_Velmora_boundary");
  }
  // Small values keep their leading zeros: a seed whose next value is one.
  uint32_t seed = 0;
  while (((uint64_t{seed * 134775813u + 1u} * 2147483647u) >> 32) >= 0x10000000u) ++seed;
  host::RandSeed = seed;
  const std::string b = recognition::MakeBoundary();
  EXPECT_EQ(b.size(), 25u);
  EXPECT_EQ(b[0], '0') << b;
  EXPECT_EQ(b.find_first_not_of("0123456789ABCDEF"), 8u) << b;
}

TEST(RecognitionReply, TheParseCases) {
  host::TFormatSettings point = host::FormatSettings;
  point.DecimalSeparator = '.';
  host::TFormatSettings comma = point;
  comma.DecimalSeparator = ',';

  // Recognised, Cyrillic text (the reply is Windows-1251 by the time it is
  // parsed).
  const std::string privet = Reply("0", kPrivet1251, "0.87");
  recognition::ReplyFields f = recognition::ParseReply(privet, point);
  EXPECT_EQ(f.flag, "\xD0\xE0\xF1\xEF\xEE\xE7\xED\xE0\xED\xEE...");
  EXPECT_EQ(f.text, kPrivet1251);
  EXPECT_EQ(f.accuracy, 87);
  EXPECT_EQ(f.full_answer, privet);
  EXPECT_EQ(recognition::ParseReply(privet, comma).accuracy, 0) << "0.87 is no number here";
  EXPECT_EQ(recognition::ParseReply(Reply("0", "x", "0,87"), comma).accuracy, 87);

  // Status 5 without text or confidence markers.
  f = recognition::ParseReply("{\"status\":5,\"id\":\"\",\"hypotheses\":[]}\r\n", point);
  EXPECT_EQ(f.flag, "\xCD\xE5 \xF0\xE0\xF1\xEF\xEE\xE7\xED\xE0\xED\xEE...");
  EXPECT_EQ(f.text, "");
  EXPECT_EQ(f.accuracy, 0);

  // Only exactly "0" is recognised.
  EXPECT_EQ(recognition::ParseReply(Reply("00", "a", "0.5"), point).flag,
            std::string(recognition::kNotRecognised));

  // Truncated as the decimal text says, never rounded or cut by binary.
  for (auto [conf, percent] : std::vector<std::pair<std::string, int32_t>>{
           {"0.5", 50}, {"0.999", 99}, {"0.29", 29}, {"0.57", 57}, {"1", 100}, {"0.0099", 0}})
    EXPECT_EQ(recognition::ParseReply(Reply("0", "a", conf), point).accuracy, percent) << conf;

  // Empty: nothing recognised, an empty full answer.
  f = recognition::ParseReply("", point);
  EXPECT_EQ(f.flag, std::string(recognition::kNotRecognised));
  EXPECT_EQ(f.text, "");
  EXPECT_EQ(f.accuracy, 0);
  EXPECT_EQ(f.full_answer, "");

  // An error page: no markers at all.
  f = recognition::ParseReply("<html><body>502 Bad Gateway</body></html>", point);
  EXPECT_EQ(f.flag, std::string(recognition::kNotRecognised));
  EXPECT_EQ(f.text, "");
  EXPECT_EQ(f.accuracy, 0);

  // No JSON decoding: escapes stay, and the first marker counts.
  f = recognition::ParseReply(Reply("0", "say \\\"hi\\\"", "0.5") + Reply("0", "second", "0.9"),
                              point);
  EXPECT_EQ(f.text, "say \\\"hi\\\"");
  EXPECT_EQ(f.accuracy, 50);
}

TEST(RecognitionReply, ConfidenceTextsAtTheEdges) {
  host::TFormatSettings point = host::FormatSettings;
  point.DecimalSeparator = '.';
  const int32_t max = std::numeric_limits<int32_t>::max();
  const int32_t min = std::numeric_limits<int32_t>::min();
  for (auto [text, percent] :
       std::vector<std::pair<std::string, int32_t>>{{" 0.29 ", 29},
                                                    {"-0.29", -29},
                                                    {"2.9E-1", 29},
                                                    {"21474836.47", max},
                                                    {"21474836.48", max},
                                                    {"-21474836.48", min},
                                                    {"1e400", 0},  // no number the host converts
                                                    {"0.29x", 0}})
    EXPECT_EQ(recognition::ConfidencePercent(text, point), percent) << "'" << text << "'";
  EXPECT_EQ(recognition::ConfidencePercent("21474836.46", point), max - 1);
}

TEST(RecognitionRequest, EndpointIsAStoredProperty) {
  InputGuard input(NoInput());
  tonvel::TDTMF dtmf(nullptr);
  EXPECT_EQ(dtmf.TriggerOff_Recognize_URL(), std::string(recognition::kDefaultEndpoint));
  EXPECT_EQ(dtmf.TriggerOff_Recognize_URL().substr(dtmf.TriggerOff_Recognize_URL().find("/speech")),
            std::string(recognition::kPathAndQuery));
  dtmf.set_Name("DTMF1");
  EXPECT_EQ(host::ComponentToText(dtmf).find("TriggerOff_Recognize_URL"), std::string::npos)
      << "the default is not stored";
  dtmf.set_TriggerOff_Recognize_URL("https://127.0.0.1:8443/speech-api/v1/recognize?lang=ru-RU");
  std::unique_ptr<host::TComponent> read(
      host::ComponentFromText(host::ComponentToText(dtmf), nullptr));
  // Reading wrote GenSinus_BitsPerSample (bits8) into the unit-level copy;
  // later tests expect the copy a fresh process starts with.
  tonvel::f_bits = 16;
  auto* copy = dynamic_cast<tonvel::TDTMF*>(read.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->TriggerOff_Recognize_URL(),
            "https://127.0.0.1:8443/speech-api/v1/recognize?lang=ru-RU");
}

// ---- the encoder ---------------------------------------------------------------

std::string Flac() {
  const std::string flac = host::FindExternalProgram("flac");
  if (flac.empty()) ADD_FAILURE() << "flac is not installed (scripts/deps.sh installs it)";
  return flac;
}

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 1;
  for (auto& s : v) {
    x = x * 1103515245u + 12345u;
    s = static_cast<uint8_t>(x >> 24);
  }
  return v;
}

TEST(RecognitionEncoder, FlacSkipsTheFirstSampleAndDecodesToTheRest) {
  TempDir dir;
  const std::vector<uint8_t> samples = Noise(30000);
  const std::string wav = dir.file("07.12.2026_05-30-12.wav");
  WriteWav8(wav, samples);
  ::chmod(wav.c_str(), 0444);  // a read-only recording is encoded all the same
  const recognition::EncodeResult r = recognition::EncodeFlac(Flac(), wav);
  ASSERT_TRUE(r) << r.failure;
  EXPECT_EQ(r.flac_path, dir.file("07.12.2026_05-30-12.flac"));
  // Decoded to raw unsigned 8-bit samples by flac itself.
  const RunResult raw = testing::Run({"flac", "-d", "-c", "-s", "--force-raw-format",
                                      "--endian=little", "--sign=unsigned", r.flac_path});
  ASSERT_EQ(raw.exit_code, 0) << raw.err;
  EXPECT_EQ(raw.out, std::string(samples.begin() + 1, samples.end()));

  // Its output is never overwritten: a second run fails and leaves it.
  const std::string before = ReadFile(r.flac_path);
  const recognition::EncodeResult again = recognition::EncodeFlac(Flac(), wav);
  EXPECT_FALSE(again);
  EXPECT_NE(again.failure.find("already exists"), std::string::npos) << again.failure;
  EXPECT_EQ(ReadFile(r.flac_path), before);
}

TEST(RecognitionEncoder, RunsOnTheRecordingWhereItLiesWithARelativeName) {
  TempDir dir;
  WriteWav8(dir.file("-rec.wav"), Noise(5000));
  // The process's current directory holds the recording; a name beginning
  // with '-' is not taken for an option.
  const std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  const recognition::EncodeResult r = recognition::EncodeFlac(Flac(), "-rec.wav");
  std::filesystem::current_path(here);
  ASSERT_TRUE(r) << r.failure;
  EXPECT_EQ(r.flac_path, "-rec.flac");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "-rec.flac"));
}

TEST(RecognitionEncoder, FailingSlowAndMissingEncoders) {
  TempDir dir;
  const std::string wav = dir.file("a.wav");
  WriteWav8(wav, Noise(100));
  auto script = [&](const std::string& name, const std::string& body) {
    const std::string path = dir.file(name);
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  };
  // Exits with 3 after writing an output: the output is not sent.
  recognition::EncodeResult r =
      recognition::EncodeFlac(script("fails", "echo x > \"${2%.wav}.flac\"; exit 3"), wav);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.flac_path, "");
  EXPECT_NE(r.failure.find("exit status 3"), std::string::npos) << r.failure;
  std::filesystem::remove(dir.file("a.flac"));
  // Succeeds without an output.
  r = recognition::EncodeFlac(script("lazy", "exit 0"), wav);
  EXPECT_NE(r.failure.find("left no"), std::string::npos) << r.failure;
  // Runs past the bound: stopped.
  const auto t0 = std::chrono::steady_clock::now();
  r = recognition::EncodeFlac(script("slow", "exec sleep 30"), wav, 300);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_NE(r.failure.find("was stopped"), std::string::npos) << r.failure;
  // Not there at all.
  r = recognition::EncodeFlac(dir.file("none"), wav);
  EXPECT_NE(r.failure.find("could not be started"), std::string::npos) << r.failure;
}

}  // namespace
}  // namespace velmora::testing
