// `velmora properties` and the range check of --set: the table agrees with
// the component's published properties, and values outside what the
// commands accept are bad usage.
#include "velmora/host/properties.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/support/support.h"
#include "velmora/component/tonvel.h"

namespace velmora::testing {
namespace {

// The text of "key": "..." in a JSON line.
std::string JsonText(const std::string& line, const std::string& key) {
  const std::string open = "\"" + key + "\": \"";
  const size_t at = line.find(open);
  if (at == std::string::npos) return "<missing>";
  const size_t from = at + open.size();
  return line.substr(from, line.find('"', from) - from);
}

TEST(PropertiesCommand, ListsEveryPublishedPropertyWithItsValueAfterCreation) {
  const RunResult r = RunVelmora({"properties", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  InputGuard input(NoInput());
  tonvel::TDTMF dtmf(nullptr);
  const auto& props = dtmf.PublishedProperties();
  ASSERT_EQ(lines.size(), props.size()) << r.out;
  for (size_t i = 0; i < props.size(); ++i) {
    SCOPED_TRACE(props[i].name);
    EXPECT_EQ(JsonText(lines[i], "name"), props[i].name);
    if (props[i].name != "GenRandom_NoiseSoundCard_Dir") {  // the program's directory
      EXPECT_EQ(JsonText(lines[i], "default"), host::GetPropText(dtmf, props[i]));
    }
    EXPECT_NE(JsonText(lines[i], "meaning"), "");
  }
  const RunResult human = RunVelmora({"properties"});
  EXPECT_NE(human.out.find("GenSinus_Freq (Integer, default 440 Hz)\n"), std::string::npos)
      << human.out;
  EXPECT_NE(human.out.find("accepted: 1..22050 Hz"), std::string::npos) << human.out;
}

TEST(PropertiesCommand, SetOutsideTheAcceptedRangeIsOneLineAndExit2) {
  TempDir dir;
  const std::string wav = dir.file("quiet.wav");
  WriteWav8(wav, std::vector<uint8_t>(4096, 128));
  struct Case {
    const char* setting;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"FFT_point=-5", false},         {"FFT_point=0", false},
      {"FFT_point=512", false},        {"FFT_point=513", true},
      {"FFT_point=4096", true},        {"FFT_noise=-2147483648", false},
      {"FFT_noise=-120", true},        {"GenSinus_Freq=30000", false},
      {"GenSinus_Freq=-5", false},     {"GenSinus_Freq=22050", true},
      {"DTMF_duration_ms=0", false},   {"DTMF_volume=101", false},
      {"DTMF_keys=12x", false},        {"DTMF_keys=12AB#", true},
      {"FFT_cut_minusamp=yes", false}, {"fft_cut_minusamp=TRUE", true},
      {"FFT_point=2048abc", false},    {"TriggerOff_Threshold_Sound=101", false},
      {"GenSinus_Time=48696", false},  {"GenRandom_NoiseSoundCard_BufSize=1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    const RunResult r =
        RunVelmora({"listen", "--input", wav, "--fast", "--keys", "--set", c.setting});
    if (c.accepted) {
      EXPECT_EQ(r.exit_code, 0) << r.err;
    } else {
      EXPECT_EQ(r.exit_code, 2);
      EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
      EXPECT_EQ(r.out, "");
    }
  }
}

}  // namespace
}  // namespace velmora::testing
