#include "apps/velmora/property_table.h"

#include <charconv>
#include <string>

#include "apps/velmora/command.h"
#include "velmora/host/text.h"

namespace velmora::app {

namespace {

// The characters of the sixteen keys, capitals for a to d included.
constexpr const char* kKeyCharacters = "1234567890*#abcdABCD";

// The longest span in ms whose sample count at 44100 Hz fits 32-bit
// arithmetic: the tone and key players' own bound.
constexpr int64_t kMaxSpanMs = 48695;

[[noreturn]] void Refuse(const PropertyRow& row, std::string_view value) {
  throw UsageError("--set " + std::string(row.name) + "=" + std::string(value) + ": accepted " +
                   AcceptedText(row));
}

}  // namespace

const std::vector<PropertyRow>& PropertyTable() {
  // FFT_point: a 2048-sample buffer is transformed with the smaller of 2048
  // and the power of two not below FFT_point, so 513 to 1024 give 1024
  // points (bins 43 Hz apart) and 1025 up give 2048; at 512 points (86 Hz)
  // the 1336 Hz column falls between two bins and its keys are lost.
  static const std::vector<PropertyRow> table = {
      {"About", "string", "Varkosh", "",
       "the component's signature; reads Varkosh whatever is written", 0, 0, "any text (ignored)"},
      {"DTMF_keys", "string", "", "", "keys to play, one every 310 ms, through the key player", 0,
       0, "the characters 1234567890*#abcd (A to D too)", kKeyCharacters},
      {"DTMF_volume", "Integer", "90", "%", "loudness of a key burst", 0, 100},
      {"DTMF_duration_ms", "Integer", "95", "ms", "length of a key burst", 1, kMaxSpanMs},
      {"FFT_point", "Integer", "2048", "points",
       "transform size asked for (the next power of two, at most the buffer's 2048 samples)", 513,
       1 << 20},
      {"FFT_noise", "Integer", "0", "dB", "subtracted from every spectrum level", -120, 120},
      {"FFT_cut_minusamp", "Boolean", "False", "",
       "levels below 0 dB show as 0 and stay out of the noise level", 0, 0, "True or False"},
      {"FFT_window", "Twindow", "dB_0", "",
       "spectrum window: dB_0 rectangular; dB_54, dB_67 (three-term), dB_72, dB_92 (four-term) "
       "Blackman-Harris",
       0, 0, "dB_0, dB_54, dB_67, dB_72 or dB_92"},
      {"TriggerOff_Threshold_Sound", "Integer", "25", "%",
       "peak level (0..100) above which the sound trigger goes on", 0, 100},
      {"TriggerOff_Time_ms", "Integer", "2000", "ms", "quiet time after which the trigger goes off",
       0, 3600000},
      {"TriggerOff_Record_Sound", "Boolean", "False", "",
       "record each loud passage to a WAV file (velmora record: True)", 0, 0, "True or False"},
      {"TriggerOff_Record_Sound_Recognize", "Boolean", "False", "",
       "send each finished recording for speech recognition", 0, 0, "True or False"},
      {"TriggerOff_Recognize_URL", "string",
       "https://www.google.com/speech-api/v1/recognize?xjerr=1&client=chromium&lang=ru-RU", "",
       "the speech-recognition service each recording is posted to", 0, 0, "an https URL"},
      {"TriggerOff_Recognize_CAFile", "string", "", "",
       "certificate authorities the service's certificate must be signed by (empty: the "
       "system's bundle)",
       0, 0, "a PEM file name"},
      {"LoadWavMp3Sharc_path", "string", "", "", "analyse this WAV, MP3 or hexadecimal list file",
       0, 0, "a file name"},
      {"StartRealTime", "Boolean", "True", "", "process each captured buffer (False pauses)", 0, 0,
       "True or False"},
      {"GenRandom_NoiseSoundCard_BufSize", "Integer", "50000", "bits",
       "random bits per block of statistics", 2, 100000000},
      {"GenRandom_NoiseSoundCard_SaveToFile", "Boolean", "False", "",
       "append every block's bits to test.dat", 0, 0, "True or False"},
      {"GenRandom_NoiseSoundCard_Dir", "string", "(the program's directory)", "",
       "directory of test.dat (velmora random: --bits-dir, default the current one)", 0, 0,
       "a directory"},
      {"GenSinus_Freq", "Integer", "440", "Hz", "frequency of the sine generator's tone", 1, 22050},
      {"GenSinus_Time", "Integer", "100", "ms", "length of each tone", 0, kMaxSpanMs},
      {"GenSinus_Pause", "Integer", "0", "ms", "silence after each tone", 0, kMaxSpanMs},
      {"GenSinus_Start", "Boolean", "False", "", "run the sine generator", 0, 0, "True or False"},
      {"GenSinus_BitsPerSample", "Tbits", "bits8", "",
       "sample width of the sine generator (written: bits8 8-bit, bits16 16-bit)", 0, 0,
       "bits8 or bits16"},
  };
  return table;
}

const PropertyRow* FindPropertyRow(std::string_view name) {
  for (const PropertyRow& row : PropertyTable())
    if (name == row.name) return &row;
  for (const PropertyRow& row : PropertyTable())
    if (host::SameText(name, row.name)) return &row;
  return nullptr;
}

std::string AcceptedText(const PropertyRow& row) {
  if (std::string_view(row.type) != "Integer") return row.accepted;
  std::string text = std::to_string(row.min) + ".." + std::to_string(row.max);
  if (*row.unit) text += std::string(" ") + row.unit;
  return text;
}

void CheckSetting(const PropertyRow& row, std::string_view value) {
  const std::string_view type = row.type;
  if (type == "Integer") {
    int64_t v = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, v);
    if (ec != std::errc() || ptr != end || v < row.min || v > row.max) Refuse(row, value);
  } else if (type == "Boolean") {
    if (!host::SameText(value, "True") && !host::SameText(value, "False")) Refuse(row, value);
  } else if (row.charset) {
    const std::string_view allowed = row.charset;
    for (char c : value)
      if (allowed.find(c) == std::string_view::npos)
        throw UsageError("--set " + std::string(row.name) + ": \"" + std::string(1, c) +
                         "\" is not accepted (" + row.accepted + ")");
  }
  // Enumerations are checked by their value names when the property is
  // written; strings without a character set take any text.
}

}  // namespace velmora::app
