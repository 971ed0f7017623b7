#include "apps/velmora/recognize_events.h"

#include "apps/velmora/session.h"
#include "velmora/host/exception.h"
#include "velmora/host/streams.h"
#include "velmora/host/text.h"

namespace velmora::app {

std::vector<OptionSpec> RecognizeOptions() {
  return {{"--url", "URL",
           "the recognition service (default: TriggerOff_Recognize_URL, the public service)"},
          {"--cafile", "FILE",
           "trust the authorities of this PEM file for an https service (default: the system's)"}};
}

void ApplyRecognizeOptions(tonvel::TDTMF& dtmf, const Args& args) {
  if (args.Has("--url")) {
    const std::string url = args.Get("--url");
    const std::string lower = host::LowerCase(url);
    if (lower.rfind("https://", 0) != 0 && lower.rfind("http://", 0) != 0)
      throw UsageError("--url needs an http:// or https:// URL, not \"" + url + "\"");
    dtmf.set_TriggerOff_Recognize_URL(url);
  }
  if (args.Has("--cafile")) {
    const std::string file = args.Get("--cafile");
    try {
      host::TFileStream probe(file, host::fmOpenRead);
    } catch (const host::Exception& e) {
      throw UsageError(std::string("--cafile: ") + e.what());
    }
    dtmf.set_TriggerOff_Recognize_CAFile(file);
  }
}

void PrintRecognition(bool json, const char* full_answer_google, const char* recognize_flag,
                      const char* recognize_text, int32_t recognize_accuracy) {
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "TriggerOffGSA")
                  .Add("full_answer_google", ToUtf8(full_answer_google))
                  .Add("recognize_flag", ToUtf8(recognize_flag))
                  .Add("recognize_text", ToUtf8(recognize_text))
                  .Add("recognize_accuracy", recognize_accuracy)
                  .str());
    return;
  }
  PrintLine("TriggerOffGSA " + ToUtf8(recognize_flag) + " " + std::to_string(recognize_accuracy) +
            "%: " + ToUtf8(recognize_text));
}

}  // namespace velmora::app
