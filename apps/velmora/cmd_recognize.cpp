// velmora recognize FILE.wav|FILE.flac [--url URL] [--cafile FILE]
//                   [--set Name=value]... [--json]
//
// One speech-recognition request through the tone component's
// recognize_flac: a WAV file is encoded by FLAC first (FILE.flac beside it),
// a FLAC file is sent as it is, and the reply is printed as TriggerOffGSA
// reports it.
#include <cstdio>
#include <memory>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/recognize_events.h"
#include "apps/velmora/session.h"
#include "velmora/component/recognition.h"
#include "velmora/component/tonvel.h"
#include "velmora/host/exception.h"
#include "velmora/host/paths.h"
#include "velmora/host/streams.h"
#include "velmora/host/text.h"
#include "velmora/platform/wave.h"

namespace velmora::app {
namespace {

namespace recognition = tonvel::recognition;

// The file must be readable before anything is encoded or sent.
void CheckReadable(const std::string& path) {
  try {
    host::TFileStream probe(path, host::fmOpenRead);
  } catch (const host::Exception& e) {
    throw UsageError(e.what());
  }
}

int RunRecognize(const Args& args) {
  if (args.positional.size() != 1)
    throw UsageError("needs exactly one WAV or FLAC file (see --help)");
  const std::string path = args.positional[0];
  const bool json = args.Has("--json");
  CheckReadable(path);

  // No sound input: the request needs none.
  platform::SetDefaultInput({platform::DeviceKind::None, "", false});
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  ApplyRecognizeOptions(*dtmf, args);
  // Options are checked before anything is written beside the file.
  std::string flac = path;
  if (host::LowerCase(host::ExtractFileExt(path)) == ".wav") {
    const std::string encoder = recognition::FindEncoder();
    if (encoder.empty())
      throw WorkFailed("no FLAC encoder: neither plugins/flac beside velmora nor flac on the PATH");
    const recognition::EncodeResult encoded = recognition::EncodeFlac(encoder, path);
    if (!encoded) throw WorkFailed(encoded.failure);
    flac = encoded.flac_path;
  }

  bool recognised = false;
  dtmf->TriggerOffGSA = [&](host::TObject*, const char* full_answer_google,
                            const char* recognize_flag, const char* recognize_text,
                            int32_t recognize_accuracy) {
    recognised = recognize_flag == recognition::kRecognised;
    PrintRecognition(json, full_answer_google, recognize_flag, recognize_text, recognize_accuracy);
  };
  try {
    dtmf->recognize_flac(flac.c_str());
  } catch (const host::Exception& e) {
    throw UsageError(e.what());
  }
  dtmf.reset();
  std::fflush(stdout);
  return recognised ? kExitOk : kExitFailed;
}

}  // namespace

VELMORA_COMMAND(recognize) {
  std::vector<OptionSpec> options = RecognizeOptions();
  options.push_back(SetOption());
  options.push_back(JsonOption());
  return Command{
      "recognize",
      "send a WAV or FLAC file to the speech-recognition service and print the reply",
      "velmora recognize FILE.wav|FILE.flac [--url URL] [--cafile FILE] [--set Name=value]... "
      "[--json]",
      options,
      "Posts FILE to the recognition service as the tone component does with each\n"
      "recording (a multipart body, field \"userfile\", audio/x-flac; rate=44100) and\n"
      "prints the reply as TriggerOffGSA reports it: the verdict (\"Распознано...\" when\n"
      "the reply's status is 0, else \"Не распознано...\"), the confidence in percent and\n"
      "the recognised text; with --json the four parameters full_answer_google,\n"
      "recognize_flag, recognize_text and recognize_accuracy.\n"
      "\n"
      "A .wav FILE (8-bit mono 44100 Hz, as recordings are) is encoded first by\n"
      "plugins/flac beside velmora, else flac on the PATH, skipping its first sample;\n"
      "the encoder writes FILE.flac beside it and never overwrites an existing one.\n"
      "Any other FILE is sent as it is.\n"
      "\n"
      "--url names the service (default: the component's TriggerOff_Recognize_URL).\n"
      "An https service must show a certificate for its host name signed by an\n"
      "authority of --cafile (default: the system's trusted authorities).\n"
      "\n"
      "Exit status: 0 when the reply says recognised, 1 when it does not or no reply\n"
      "came (no encoder, the encoder failed, no connection), 2 for bad usage or an\n"
      "unreadable FILE.",
      RunRecognize};
}

}  // namespace velmora::app
