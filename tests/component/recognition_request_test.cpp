// The recognition request end to end against recognition servers of the
// tests' own over HTTPS (the test CA): canned replies for the parse cases,
// and PocketSphinx hearing espeak-ng's speech recorded from the file source.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tone_fixture.h"
#include "tests/peers/recognition_server.h"
#include "velmora/component/recognition.h"
#include "velmora/component/recording.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/exception.h"

namespace velmora::testing {
namespace {

namespace recognition = tonvel::recognition;
using tonvel::TDTMF;

const std::string kRecognised(recognition::kRecognised);
const std::string kNotRecognised(recognition::kNotRecognised);
const std::string kPath(recognition::kPathAndQuery);

struct Gsa {
  std::string full_answer, flag, text;
  int32_t accuracy = -1;
};

// A component without input whose TriggerOffGSA events are kept, posting to
// a server of the test's own that it trusts through the test CA.
class RecognitionRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dtmf_ = std::make_unique<TDTMF>(nullptr);
    dtmf_->TriggerOffGSA = [this](host::TObject* sender, const char* full, const char* flag,
                                  const char* text, int32_t accuracy) {
      EXPECT_EQ(sender, dtmf_.get());
      events_.push_back({full, flag, text, accuracy});
    };
    dtmf_->set_TriggerOff_Recognize_CAFile(pki_.CaFile());
  }
  void Serve(const std::vector<std::string>& replies) {
    server_ = RecognitionServer::Canned(dir_, &pki_, replies);
    dtmf_->set_TriggerOff_Recognize_URL(server_->Url(kPath));
  }
  // A small FLAC file made by flac from noise.
  std::string MakeFlac(const std::string& name) {
    std::vector<uint8_t> samples(20000);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<uint8_t>(128 + 60 * std::sin(static_cast<double>(i) * 0.3));
    const std::string wav = dir_.file(name + ".wav");
    WriteWav8(wav, samples);
    const recognition::EncodeResult r = recognition::EncodeFlac(recognition::FindEncoder(), wav);
    EXPECT_TRUE(r) << r.failure;
    return r.flac_path;
  }

  InputGuard input_{NoInput()};
  TempDir dir_;
  TestPki pki_{dir_};
  std::unique_ptr<RecognitionServer> server_;
  std::unique_ptr<TDTMF> dtmf_;
  std::vector<Gsa> events_;
};

TEST_F(RecognitionRequestTest, TheRequestOnTheWireAndTheCannedReplies) {
  const std::string privet_utf8 = "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
  auto reply = [](const std::string& status, const std::string& text, const std::string& conf) {
    return "{\"status\":" + status + ",\"id\":\"x-1\",\"hypotheses\":[{\"utterance\":\"" + text +
           "\",\"confidence\":" + conf + "}]}";
  };
  Serve({reply("0", privet_utf8, "0.87"), "{\"status\":5,\"id\":\"x-2\",\"hypotheses\":[]}",
         "no markers at all", reply("0", "a", "0.5"), reply("0", "b", "0.999"),
         reply("0", "c", "0.29"), "<empty>", "<close>"});
  const std::string flac = MakeFlac("speech");
  const std::string bytes = ReadFile(flac);
  ::chmod(flac.c_str(), 0444);  // a read-only file is sent all the same
  for (int k = 0; k < 8; ++k) dtmf_->recognize_flac(flac.c_str());
  ASSERT_EQ(events_.size(), 8u) << server_->Log();

  // What reached the server: the path and query, the content types, the
  // boundary, the file's name and bytes; the FLAC decodes.
  EXPECT_EQ(server_->Request(1, "check"), "ok");
  const std::string head = server_->Request(1, "head");
  EXPECT_EQ(head.rfind("POST " + kPath + " HTTP/1.", 0), 0u) << head;
  EXPECT_NE(head.find("Content-Type: audio/x-flac; rate=44100, boundary="), std::string::npos);
  EXPECT_NE(head.find("Content-Length: " + std::to_string(server_->Request(1, "body").size())),
            std::string::npos)
      << head;
  EXPECT_EQ(server_->Request(1, "flac"), bytes);
  EXPECT_NE(server_->Request(1, "body").find("filename=\"" + flac + "\""), std::string::npos);
  EXPECT_EQ(server_->Request(1, "raw").size(), 20000u - 1);
  // A new boundary for each request.
  auto boundary = [&](int n) {
    const std::string h = server_->Request(n, "head");
    const size_t at = h.find("boundary=") + 9;
    return h.substr(at, 25);
  };
  EXPECT_NE(boundary(1), boundary(2));

  // The replies, parsed: UTF-8 text arrives in Windows-1251.
  EXPECT_EQ(events_[0].flag, kRecognised);
  EXPECT_EQ(events_[0].text, "\xEF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(events_[0].accuracy, 87);
  EXPECT_EQ(events_[0].full_answer, reply("0", "\xEF\xF0\xE8\xE2\xE5\xF2", "0.87") + "\r\n");
  EXPECT_EQ(events_[1].flag, kNotRecognised);
  EXPECT_EQ(events_[1].text, "");
  EXPECT_EQ(events_[1].accuracy, 0);
  EXPECT_EQ(events_[2].flag, kNotRecognised);
  EXPECT_EQ(events_[2].full_answer, "no markers at all\r\n");
  EXPECT_EQ(events_[3].accuracy, 50);
  EXPECT_EQ(events_[4].accuracy, 99);
  EXPECT_EQ(events_[5].accuracy, 29);
  for (int k : {6, 7}) {  // an empty reply, and a connection closed unanswered
    SCOPED_TRACE(k);
    EXPECT_EQ(events_[k].full_answer, "");
    EXPECT_EQ(events_[k].flag, kNotRecognised);
    EXPECT_EQ(events_[k].text, "");
    EXPECT_EQ(events_[k].accuracy, 0);
  }
}

TEST_F(RecognitionRequestTest, NoServerUntrustedServerAndUnreadableFile) {
  const std::string flac = MakeFlac("a");
  // Nothing listens: the event still comes, with an empty reply (not the
  // request's own body, which the client's document still holds).
  dtmf_->set_TriggerOff_Recognize_URL("https://127.0.0.1:" + std::to_string(FreeLoopbackPort()) +
                                      kPath);
  dtmf_->recognize_flac(flac.c_str());
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].full_answer, "");
  EXPECT_EQ(events_[0].flag, kNotRecognised);

  // A server whose certificate no trusted authority signed gets nothing.
  Serve({"{\"status\":0,\"id\":\"x\",\"hypotheses\":[{\"utterance\":\"a\",\"confidence\":1}]}"});
  dtmf_->set_TriggerOff_Recognize_CAFile(pki_.File("other.pem"));
  dtmf_->recognize_flac(flac.c_str());
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].full_answer, "");
  EXPECT_EQ(server_->Requests(), 0);
  dtmf_->set_TriggerOff_Recognize_CAFile(pki_.CaFile());
  dtmf_->recognize_flac(flac.c_str());
  ASSERT_EQ(events_.size(), 3u);
  EXPECT_EQ(events_[2].flag, kRecognised);

  // A file that cannot be opened raises: no request, no event.
  const std::string missing = dir_.file("missing.flac");
  EXPECT_THROW(dtmf_->recognize_flac(missing.c_str()), host::EFOpenError);
  EXPECT_EQ(events_.size(), 3u);
  EXPECT_EQ(server_->Requests(), 1);
}

// ---- the hand-off of a recording made from the file source ---------------------

// Plays `source` through the file source as fast as the component takes it,
// with the manual clock following the sound (one tick per 100 ms of samples),
// until the file is used up.  Returns the recording's name.
std::string RecordFromFileSource(TDTMF& dtmf, ManualTime& time) {
  int64_t processed = 0;
  dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) { processed += 2048; };
  host::TApplication& app = host::Application();
  for (int round = 0; round < 40000 && !platform::InputFinished(); ++round) {
    app.HandleMessage(20);
    const int64_t due = processed * 1000 / 44100;
    if (due > time.Now()) time.Advance(due - time.Now());
  }
  app.ProcessMessages();
  time.Advance(3000);  // the release, if the sound ended loud
  EXPECT_TRUE(platform::InputFinished());
  return tonvel::temp_gsa;
}

class RecognitionHandOffConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    // The trigger's state is the unit's: another test may have left it on.
    tonvel::n1 = 0;
    tonvel::gl_start = 0;
    tonvel::start = false;
    tonvel::start_mp3 = false;
    host::Application().OnException = [this](host::TObject*, const std::exception& e) {
      failures_ += std::string(e.what()) + "\n";
    };
    out_ = dir_.path() / "out";
    std::filesystem::create_directory(out_);
    tonvel::recording::SetDirectory(out_.string());
  }
  void TearDown() override {
    tonvel::recording::SetDirectory("");
    host::Application().OnException = nullptr;
  }
  // Records `sound` with recognition on and returns the events.
  std::vector<Gsa> RecordAndRecognise(const std::vector<uint8_t>& sound, const std::string& url) {
    const std::string source = dir_.file("source.wav");
    WriteWav8(source, sound);
    InputGuard input(FileInput(source, true));
    ManualTime time;
    std::vector<Gsa> events;
    TDTMF dtmf(nullptr);
    EXPECT_NE(tonvel::hwi2, nullptr);
    dtmf.set_TriggerOff_Record_Sound(true);
    dtmf.set_TriggerOff_Record_Sound_Recognize(true);
    dtmf.set_TriggerOff_Recognize_URL(url);
    dtmf.set_TriggerOff_Recognize_CAFile(pki_.CaFile());
    dtmf.TriggerOffGSA = [&](host::TObject*, const char* full, const char* flag, const char* text,
                             int32_t accuracy) {
      events.push_back({full, flag, text, accuracy});
    };
    recording_ = RecordFromFileSource(dtmf, time);
    return events;
  }

  TempDir dir_;
  TestPki pki_{dir_};
  std::filesystem::path out_;
  std::string recording_;
  std::string failures_;  // what escaped the timer handler
};

TEST_F(RecognitionHandOffConcurrency, RecordingIsEncodedSentAndReported) {
  auto server = RecognitionServer::Canned(
      dir_, &pki_,
      {"{\"status\":0,\"id\":\"x\",\"hypotheses\":[{\"utterance\":\"ok\",\"confidence\":0.57}]}"});
  // 1 s of a loud 700 Hz tone between silences.
  std::vector<uint8_t> sound(44100 / 5, 128);
  for (int i = 0; i < 44100; ++i)
    sound.push_back(static_cast<uint8_t>(
        128 + std::lround(90 * std::sin(i * 2 * std::numbers::pi * 700 / 44100))));
  sound.resize(sound.size() + 3 * 44100, 128);
  const std::vector<Gsa> events = RecordAndRecognise(sound, server->Url(kPath));

  ASSERT_EQ(events.size(), 1u) << recognition::LastFailure() << "\n"
                               << failures_ << recording_ << "\n"
                               << server->Log();
  EXPECT_EQ(events[0].flag, kRecognised);
  EXPECT_EQ(events[0].text, "ok");
  EXPECT_EQ(events[0].accuracy, 57);
  EXPECT_EQ(recognition::LastFailure(), "");
  // The FLAC beside the recording was sent, and it decodes to exactly the
  // recorded samples after the skipped first one.
  ASSERT_EQ(server->Requests(), 1);
  EXPECT_EQ(server->Request(1, "check"), "ok");
  const std::string flac = recognition::FlacName(recording_);
  EXPECT_EQ(server->Request(1, "flac"), ReadFile(flac));
  EXPECT_NE(server->Request(1, "body").find("filename=\"" + flac + "\""), std::string::npos);
  const std::string wav = ReadFile(recording_);
  ASSERT_GT(wav.size(), 45u + 44100 / 2);
  EXPECT_EQ(server->Request(1, "raw"), wav.substr(45));
}

TEST_F(RecognitionHandOffConcurrency, PocketSphinxHearsEspeakSpeech) {
  auto server = RecognitionServer::Sphinx(dir_, &pki_);
  // Three digits, slowly, then 8-bit 44.1 kHz with silence around.
  const std::string speech = dir_.file("speech.wav");
  const RunResult said = testing::Run({"espeak-ng", "-s", "110", "-w", speech, "one two three"});
  ASSERT_EQ(said.exit_code, 0) << "espeak-ng (scripts/deps.sh installs it): " << said.err;
  const std::string source = dir_.file("speech8.wav");
  const RunResult converted =
      testing::Run({"sox", speech, "-r", "44100", "-b", "8", "-e", "unsigned", "-c", "1", source,
                    "gain", "-n", "-1", "pad", "0.3", "3"});
  ASSERT_EQ(converted.exit_code, 0) << converted.err;
  const std::string bytes = ReadFile(source);
  const std::vector<uint8_t> sound(bytes.begin() + 44, bytes.end());
  const std::vector<Gsa> events = RecordAndRecognise(sound, server->Url(kPath));

  ASSERT_EQ(events.size(), 1u) << recognition::LastFailure() << "\n"
                               << failures_ << recording_ << "\n"
                               << server->Log();
  ASSERT_EQ(server->Requests(), 1);
  EXPECT_EQ(server->Request(1, "check"), "ok");
  // Recognition is imperfect: the event carries what the recogniser heard.
  const std::string heard = server->Request(1, "hypothesis");
  EXPECT_FALSE(heard.empty()) << "PocketSphinx heard nothing";
  EXPECT_EQ(events[0].text, heard);
  EXPECT_EQ(events[0].flag, kRecognised);
  EXPECT_EQ(events[0].accuracy, 75);
}

}  // namespace
}  // namespace velmora::testing
