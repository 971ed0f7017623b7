// The TriggerOffGSA line that `recognize` and `record --recognize` print,
// and the options they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/velmora/command.h"
#include "velmora/component/tonvel.h"

namespace velmora::app {

// --url URL (TriggerOff_Recognize_URL) and --cafile FILE
// (TriggerOff_Recognize_CAFile).
std::vector<OptionSpec> RecognizeOptions();

// Writes --url and --cafile into the component.  A URL that is neither
// http:// nor https:// is a UsageError, and so is a CA file that cannot be
// read.
void ApplyRecognizeOptions(tonvel::TDTMF& dtmf, const Args& args);

// One line per reply: "TriggerOffGSA <verdict> <accuracy>%: <text>", or with
// --json the event's four parameters under their own names; texts in UTF-8.
void PrintRecognition(bool json, const char* full_answer_google, const char* recognize_flag,
                      const char* recognize_text, int32_t recognize_accuracy);

}  // namespace velmora::app
