// TDTMF as a component: its published properties after construction, the
// side effects of their setters, the form-stream round trip, registration
// and the unit's shut-down.  No sound device is opened here.
#include "velmora/component/tonvel.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/form_stream.h"
#include "velmora/host/paths.h"
#include "velmora/host/properties.h"
#include "velmora/host/registry.h"
#include "velmora/package/package.h"

namespace velmora::testing {
namespace {

using tonvel::TDTMF;

class TonvelTest : public ::testing::Test {
 protected:
  InputGuard input_{NoInput()};
};

TEST_F(TonvelTest, PropertiesAfterCreateAndTheirStreamDefaults) {
  TDTMF dtmf(nullptr);
  // Name, value after Create, stream default ("" = none: always written).
  struct Expect {
    const char* name;
    const char* value;
    const char* stream_default;
  };
  const std::string exe_dir = host::ExtractFilePath(host::ParamStr(0));
  const std::vector<Expect> expected = {
      {"About", "Varkosh", nullptr},
      {"DTMF_keys", "", nullptr},
      {"DTMF_volume", "90", "100"},
      {"DTMF_duration_ms", "95", "250"},
      {"FFT_point", "2048", "2048"},
      {"FFT_noise", "0", "0"},
      {"FFT_cut_minusamp", "False", "True"},
      {"FFT_window", "dB_0", nullptr},
      {"TriggerOff_Threshold_Sound", "25", "25"},
      {"TriggerOff_Time_ms", "2000", "2000"},
      {"TriggerOff_Record_Sound", "False", "False"},
      {"TriggerOff_Record_Sound_Recognize", "False", "False"},
      {"TriggerOff_Recognize_URL",
       "https://www.google.com/speech-api/v1/recognize?xjerr=1&client=chromium&lang=ru-RU",
       "https://www.google.com/speech-api/v1/recognize?xjerr=1&client=chromium&lang=ru-RU"},
      {"TriggerOff_Recognize_CAFile", "", ""},
      {"LoadWavMp3Sharc_path", "", nullptr},
      {"StartRealTime", "True", nullptr},
      {"GenRandom_NoiseSoundCard_BufSize", "50000", "50000"},
      {"GenRandom_NoiseSoundCard_SaveToFile", "False", "False"},
      {"GenRandom_NoiseSoundCard_Dir", exe_dir.c_str(), nullptr},
      {"GenSinus_Freq", "440", "440"},
      {"GenSinus_Time", "100", "100"},
      {"GenSinus_Pause", "0", "0"},
      {"GenSinus_Start", "False", "False"},
      {"GenSinus_BitsPerSample", "bits8", "bits16"},
  };
  const auto& props = dtmf.PublishedProperties();
  ASSERT_EQ(props.size(), expected.size());
  for (size_t i = 0; i < props.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(props[i].name, expected[i].name);
    EXPECT_EQ(host::GetPropText(dtmf, props[i]), expected[i].value);
    if (expected[i].stream_default) {
      ASSERT_TRUE(props[i].stream_default.has_value());
      EXPECT_EQ(*props[i].stream_default, expected[i].stream_default);
    } else {
      EXPECT_FALSE(props[i].stream_default.has_value());
    }
  }
  EXPECT_EQ(dtmf.ClassName(), "TDTMF");
  EXPECT_EQ(tonvel::fmp3dir, host::ExtractFilePath(host::ParamStr(0)));
  EXPECT_FALSE(tonvel::fmp3dir.empty());
  EXPECT_EQ(tonvel::fmp3dir.back(), '/');
  ASSERT_NE(tonvel::hex, nullptr);
  EXPECT_EQ(tonvel::hex->Count(), 0);
}

TEST_F(TonvelTest, SettersKeepTheirUnitLevelCopies) {
  TDTMF dtmf(nullptr);
  // The constructor writes the fields only: the copies start on their own.
  EXPECT_EQ(tonvel::fcntpp, 2048);
  EXPECT_EQ(tonvel::f_window, 5);
  EXPECT_EQ(tonvel::f_noise, 0);
  EXPECT_EQ(tonvel::f_bits, 16) << "f_bits is 16 until GenSinus_BitsPerSample is written";

  dtmf.set_About("something else");
  EXPECT_EQ(dtmf.About(), "Varkosh");

  dtmf.set_FFT_point(1000);
  EXPECT_EQ(dtmf.FFT_point(), 1000);
  EXPECT_EQ(tonvel::fcntpp, 1000);
  dtmf.set_FFT_point(-7);  // no range check
  EXPECT_EQ(tonvel::fcntpp, -7);
  dtmf.set_FFT_point(2048);

  dtmf.set_FFT_noise(10);
  EXPECT_EQ(tonvel::f_noise, 10);
  dtmf.set_FFT_noise(0);

  const std::vector<std::pair<tonvel::Twindow, uint16_t>> codes = {{tonvel::dB_92, 3},
                                                                   {tonvel::dB_54, 2},
                                                                   {tonvel::dB_67, 1},
                                                                   {tonvel::dB_72, 4},
                                                                   {tonvel::dB_0, 5}};
  for (auto [window, code] : codes) {
    dtmf.set_FFT_window(window);
    EXPECT_EQ(dtmf.FFT_window(), window);
    EXPECT_EQ(tonvel::f_window, code) << static_cast<int>(window);
  }

  dtmf.set_GenSinus_BitsPerSample(tonvel::bits8);
  EXPECT_EQ(tonvel::f_bits, 8);
  dtmf.set_GenSinus_BitsPerSample(tonvel::bits16);
  EXPECT_EQ(tonvel::f_bits, 16);

  dtmf.set_GenSinus_Freq(441);
  dtmf.set_GenSinus_Time(150);
  dtmf.set_GenSinus_Pause(50);
  EXPECT_EQ(tonvel::iSignal_Freq.load(), 441);
  EXPECT_EQ(tonvel::iSignal_Time.load(), 150);
  EXPECT_EQ(tonvel::iSignal_Paus.load(), 50);
  dtmf.set_GenSinus_Freq(440);
  dtmf.set_GenSinus_Time(100);
  dtmf.set_GenSinus_Pause(0);

  // While live processing is on, a path is refused and reads empty.
  dtmf.set_LoadWavMp3Sharc_path("x.wav");
  EXPECT_EQ(dtmf.LoadWavMp3Sharc_path(), "");

  dtmf.set_DTMF_keys("123");
  EXPECT_EQ(dtmf.DTMF_keys(), "123");
}

TEST_F(TonvelTest, FormStreamRoundTrip) {
  std::string text;
  {
    TDTMF dtmf(nullptr);
    dtmf.set_Name("DTMF1");
    text = host::ComponentToText(dtmf);
  }
  // Values that differ from their stream defaults, and those without one,
  // are written; the others are not.
  EXPECT_NE(text.find("object DTMF1: TDTMF"), std::string::npos) << text;
  for (const char* line : {"DTMF_volume = 90", "DTMF_duration_ms = 95", "FFT_cut_minusamp = False",
                           "GenSinus_BitsPerSample = bits8", "About = 'Varkosh'",
                           "FFT_window = dB_0", "StartRealTime = True"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  for (const char* name : {"FFT_point", "TriggerOff_Time_ms", "GenSinus_Freq", "GenSinus_Start",
                           "GenRandom_NoiseSoundCard_BufSize"})
    EXPECT_EQ(text.find(name), std::string::npos) << name << "\n" << text;

  // Reading creates the class by name and assigns through the setters.
  std::unique_ptr<host::TComponent> read(
      host::ComponentFromText("object DTMF2: TDTMF\n"
                              "  About = 'changed'\n"
                              "  FFT_window = dB_92\n"
                              "  FFT_point = 1024\n"
                              "  GenSinus_BitsPerSample = bits16\n"
                              "end\n",
                              nullptr));
  auto* dtmf = dynamic_cast<TDTMF*>(read.get());
  ASSERT_NE(dtmf, nullptr);
  EXPECT_EQ(dtmf->Name(), "DTMF2");
  EXPECT_EQ(dtmf->About(), "Varkosh");
  EXPECT_EQ(dtmf->FFT_window(), tonvel::dB_92);
  EXPECT_EQ(tonvel::f_window, 3);
  EXPECT_EQ(tonvel::fcntpp, 1024);
  EXPECT_EQ(tonvel::f_bits, 16);
  // Omitted properties keep the constructor's values, not the defaults.
  EXPECT_EQ(dtmf->DTMF_volume(), 90);
  EXPECT_FALSE(dtmf->FFT_cut_minusamp());
  read.reset();

  // Writing what was read reproduces it.
  std::unique_ptr<host::TComponent> again(host::ComponentFromText(text, nullptr));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(host::ComponentToText(*again), text);
  dtmf = dynamic_cast<TDTMF*>(again.get());
  dtmf->set_FFT_point(2048);
  dtmf->set_FFT_window(tonvel::dB_0);
}

TEST_F(TonvelTest, RegisteredOnItsPaletteBySharedLibraryStartUp) {
  EXPECT_TRUE(package::Started());
  EXPECT_EQ(host::PaletteClasses("VELMORA-FFT"), std::vector<std::string>{"TDTMF"});
  host::ComponentFactory make = host::FindClass("tdtmf");  // class names are case-blind
  ASSERT_TRUE(make);
  std::unique_ptr<host::TComponent> made(make(nullptr));
  EXPECT_NE(dynamic_cast<TDTMF*>(made.get()), nullptr);
}

TEST_F(TonvelTest, OwnerFreesTheComponentAndItsTimers) {
  host::TComponent form(nullptr);
  auto* dtmf = new TDTMF(&form);
  EXPECT_EQ(dtmf->Owner(), &form);
  // The two timers are the component's own.
  EXPECT_EQ(dtmf->ComponentCount(), 2);
  form.DestroyComponents();
  EXPECT_EQ(form.ComponentCount(), 0);
  EXPECT_EQ(tonvel::hex, nullptr) << "the last component frees the unit's string list";
}

TEST_F(TonvelTest, SecondComponentSharesTheUnitStateSafely) {
  auto first = std::make_unique<TDTMF>(nullptr);
  host::TStringList* list = tonvel::hex;
  list->Add("line");
  auto second = std::make_unique<TDTMF>(nullptr);
  EXPECT_EQ(tonvel::hex, list) << "the shared list is emptied, not replaced under the first";
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(tonvel::capture::InputOwner(), first.get());
  first.reset();
  // The first one's going leaves the list to the second.
  ASSERT_EQ(tonvel::hex, list);
  list->Add("still usable");
  second.reset();
  EXPECT_EQ(tonvel::hex, nullptr);
  EXPECT_EQ(tonvel::capture::InputOwner(), nullptr);
}

TEST_F(TonvelTest, UnitFinalizationReleasesTheArraysAndStrings) {
  tonvel::inwav.y.assign(100, 1.0);
  tonvel::outwav.y.assign(100, 1.0);
  tonvel::tinrand.bits.assign(100, 1);
  tonvel::spektr.x.assign(10, 1.0);
  tonvel::spektr.text = "DTMF(5)";
  tonvel::temp_gsa = "x.wav";
  tonvel::stat.sa = "mean";
  tonvel::signal = "5";
  // A pair inside the package's own: nothing is released yet.
  tonvel::unit_tonvel::Initialize();
  tonvel::unit_tonvel::Finalize();
  EXPECT_EQ(tonvel::inwav.y.size(), 100u);
  // The package's shut-down: the last Finalize releases.
  tonvel::unit_tonvel::Finalize();
  EXPECT_EQ(tonvel::inwav.y.capacity(), 0u);
  EXPECT_EQ(tonvel::outwav.y.capacity(), 0u);
  EXPECT_EQ(tonvel::tinrand.bits.capacity(), 0u);
  EXPECT_TRUE(tonvel::spektr.x.empty());
  EXPECT_TRUE(tonvel::spektr.text.empty());
  EXPECT_TRUE(tonvel::temp_gsa.empty());
  EXPECT_TRUE(tonvel::fmp3dir.empty());
  EXPECT_TRUE(tonvel::stat.sa.empty());
  EXPECT_TRUE(tonvel::signal.empty());
  tonvel::unit_tonvel::Initialize();  // the package's count again
}

}  // namespace
}  // namespace velmora::testing
