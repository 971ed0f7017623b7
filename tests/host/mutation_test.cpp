// Random-mutation tests of the text parsers: whatever the input, the result
// is a value or a host Exception, never a crash, a hang or another failure;
// and the writers' output always reads back.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/mutator.h"
#include "velmora/host/datetime.h"
#include "velmora/host/exception.h"
#include "velmora/host/form_stream.h"
#include "velmora/host/format.h"
#include "velmora/host/properties.h"
#include "velmora/host/registry.h"
#include "velmora/host/string_list.h"
#include "velmora/host/text.h"

namespace velmora::host {
namespace {

// What the host's text parsers treat specially: one character each, and
// the words of the form stream.
std::vector<std::string> Tokens() {
  static const char kBytes[] = "%.:;,#'\"0123456789-+eE*dxsnfgm \r\n\t\x00\xff\xd0=";
  std::vector<std::string> tokens;
  for (size_t i = 0; i + 1 < sizeof kBytes; ++i) tokens.emplace_back(1, kBytes[i]);
  tokens.insert(tokens.end(), {"object", "end", "inherited", "item"});
  return tokens;
}

class TFuzzProbe : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TFuzzProbe"; }
  int32_t Level() const { return level_; }
  void set_Level(int32_t v) { level_ = v; }
  bool Flag() const { return flag_; }
  void set_Flag(bool v) { flag_ = v; }
  const std::string& Text() const { return text_; }
  void set_Text(const std::string& v) { text_ = v; }
  int Mode() const { return mode_; }
  void set_Mode(int v) { mode_ = v; }
  const std::vector<PropInfo>& PublishedProperties() const override {
    static const std::vector<PropInfo> props = {
        IntegerProperty<TFuzzProbe>("Level", &TFuzzProbe::Level, &TFuzzProbe::set_Level, 7),
        BooleanProperty<TFuzzProbe>("Flag", &TFuzzProbe::Flag, &TFuzzProbe::set_Flag),
        StringProperty<TFuzzProbe>("Text", &TFuzzProbe::Text, &TFuzzProbe::set_Text),
        EnumProperty<TFuzzProbe, int>("Mode", {"mA", "mB", "mC"}, &TFuzzProbe::Mode,
                                      &TFuzzProbe::set_Mode, 0),
    };
    return props;
  }

 private:
  int32_t level_ = 7;
  bool flag_ = false;
  std::string text_;
  int mode_ = 0;
};

TEST(Mutation, FormReaderRejectsCleanly) {
  RegisterClass("TFuzzProbe", FactoryOf<TFuzzProbe>());
  const std::string seed =
      "object Probe1: TFuzzProbe\n  Level = -12\n  Flag = True\n  Text = 'a''b'#13#10'c' +\n"
      "    'd'\n  Mode = mC\n  object Inner: TFuzzProbe\n    Level = 3\n  end\nend\n";
  TComponent owner(nullptr);
  velmora::testing::Mutator m(20261207, Tokens());
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text = m.Mutate(seed);
    try {
      std::unique_ptr<TComponent> c(ComponentFromText(text, &owner));
      ++accepted;
      // Whatever was accepted writes out and reads back the same.
      std::string written = ComponentToText(*c);
      std::unique_ptr<TComponent> again(ComponentFromText(written, nullptr));
      ASSERT_EQ(ComponentToText(*again), written) << text;
    } catch (const Exception&) {
    }
    ASSERT_LE(owner.ComponentCount(), 0) << text;
  }
  EXPECT_GT(accepted, 100);
}

TEST(Mutation, QuotedStringsRoundTripAnyBytes) {
  velmora::testing::Mutator m(7, Tokens());
  for (int i = 0; i < 5000; ++i) {
    std::string bytes = m.RandomBytes(40);
    std::string back;
    ASSERT_TRUE(UnquoteFormString(QuoteFormString(bytes), back));
    ASSERT_EQ(back, bytes);
  }
}

TEST(Mutation, FormatRaisesOnlyConvertErrors) {
  const std::string seeds[] = {"%.2n|%d|%5.1f|%-4s|%x|%e|%g|%1:s|%*d|%%|%m", "A1= %.2n [%d Hz]"};
  velmora::testing::Mutator m(99, Tokens());
  for (int i = 0; i < 20000; ++i) {
    std::string fmt = m.Mutate(seeds[i % 2]);
    try {
      std::string out = Format(fmt, {1234.5678, 42, 3.25, "txt", 255, 1e-7, 0.5, "idx", 3, 7, 2.5});
      (void)out;
    } catch (const EConvertError&) {
    }
  }
}

TEST(Mutation, FloatPatternsNeverFail) {
  const std::string seeds[] = {" [0 Hz]  ", "#,##0.00;(#,##0.00);'zero'", "0.00E+00", "\"x\"#.#"};
  velmora::testing::Mutator m(5, Tokens());
  const double values[] = {0.0, -0.5, 1335.9, -1234567.891, 1e300, 5e-324, 0.125};
  for (int i = 0; i < 20000; ++i) {
    std::string pattern = m.Mutate(seeds[i % 4]);
    std::string out = FormatFloat(pattern, values[i % 7]);
    ASSERT_LT(out.size(), 1000u) << pattern;
  }
}

TEST(Mutation, NumberAndTimeParsers) {
  velmora::testing::Mutator m(11, Tokens());
  const std::string seeds[] = {"-1234.5e-3", "0x7fffffff", "$FF", "23:59:59.999 PM", "12:30"};
  for (int i = 0; i < 30000; ++i) {
    std::string text = m.Mutate(seeds[i % 5]);
    double d;
    if (TryStrToFloat(text, d)) {
      ASSERT_TRUE(std::isfinite(d)) << text;
    }
    int32_t n;
    TryStrToInt(text, n);
    int64_t n64;
    TryStrToInt64(text, n64);
    TDateTime t;
    if (TryStrToTime(text, t)) {
      ASSERT_GE(t, 0.0) << text;
      ASSERT_LT(t, 1.0) << text;
    }
  }
}

TEST(Mutation, LinesAndCodePageConversions) {
  velmora::testing::Mutator m(3, Tokens());
  for (int i = 0; i < 5000; ++i) {
    std::string bytes = m.RandomBytes(64);
    // Lines without breaks survive the join and the split.
    TStringList l;
    l.set_Text(bytes);
    TStringList again;
    again.set_Text(l.Text());
    ASSERT_EQ(again.Lines(), l.Lines());
    // Any bytes convert without failing; the code page's own bytes convert
    // back unchanged (0x98 is the one byte Windows-1251 leaves undefined).
    std::string utf8 = AnsiToUtf8(bytes);
    if (bytes.find('\x98') == std::string::npos) {
      ASSERT_EQ(Utf8ToAnsi(utf8), bytes);
    }
    Utf8ToAnsi(bytes);
    AnsiUpperCase(bytes);
  }
}

}  // namespace
}  // namespace velmora::host
