// The DTMF key decision: the table with its off-nominal values, the
// tolerance bands, both orders of the pair, the summary line in two locales,
// and the Key event of the live pipeline for generated key buffers.
#include "velmora/component/keys.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/format.h"

namespace velmora::testing {
namespace {

using tonvel::keys::DecideKey;

TEST(KeyDecision, PairsFromTheTableInEitherOrder) {
  struct Case {
    double f1, f2;
    const char* key;
  };
  const std::vector<Case> cases = {
      {770, 1336, "5"},     {1336, 770, "5"},      {697, 1209, "1"},     {697, 1336, "2"},
      {1477, 862, "9"},     {1467, 941, "#"},      {1633, 941, "d"},     {941, 1633, "d"},
      {697, 770, ""},       {1209, 1336, ""},      {0, 0, ""},           {1336, 1336, ""},
      {775.2, 1335.9, "5"}, {689.06, 1485.8, "3"}, {861.3, 1485.8, "9"}, {839.8, 1485.8, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecideKey(c.f1, c.f2), c.key) << c.f1 << " " << c.f2;
  // Every table pair gives its own key, in both orders.
  for (size_t i = 0; i < 16; ++i) {
    const std::string key(1, tonvel::keys::kKeyChars[i]);
    EXPECT_EQ(DecideKey(tonvel::DTMF1[i], tonvel::DTMF2[i]), key) << i;
    EXPECT_EQ(DecideKey(tonvel::DTMF2[i], tonvel::DTMF1[i]), key) << i;
  }
}

TEST(KeyDecision, BandBoundsAreExcluded) {
  using tonvel::keys::InBand;
  EXPECT_FALSE(InBand(1.02 * 1209, 1209));  // 1233.18
  EXPECT_FALSE(InBand(1233.18, 1209));
  EXPECT_TRUE(InBand(1233.17, 1209));
  EXPECT_FALSE(InBand(675.50, 690));  // 0.979 * 690 = 675.51
  EXPECT_TRUE(InBand(675.52, 690));
  EXPECT_TRUE(InBand(703.79, 690));
  EXPECT_FALSE(InBand(703.81, 690));
  EXPECT_EQ(DecideKey(1233.18, 697), "");
  EXPECT_EQ(DecideKey(1233.17, 697), "1");
}

class SummaryLineTest : public ::testing::Test {
 protected:
  void TearDown() override { host::FormatSettings = saved_; }
  host::TFormatSettings saved_ = host::FormatSettings;
};

TEST_F(SummaryLineTest, UsesTheHostSeparators) {
  host::FormatSettings.DecimalSeparator = '.';
  host::FormatSettings.ThousandSeparator = ',';
  std::string line;
  tonvel::keys::SummaryLine(line, "5", 30.214, 1335.9, 27.4, 775.2);
  EXPECT_EQ(line, "DTMF(5):  A1= 30.21 [1336 Hz]  A2= 27.40 [775 Hz]");
  tonvel::keys::SummaryLine(line, "", -1234.5, 0, 0, 21.5);
  EXPECT_EQ(line, "DTMF():  A1= -1,234.50 [0 Hz]  A2= 0.00 [22 Hz]");

  // Halves go away from zero on the value's 15 digits, for levels and
  // frequencies alike; a level that rounds to zero has no sign.
  tonvel::keys::SummaryLine(line, "1", 0.125, 1334.5, -0.004, 1208.5);
  EXPECT_EQ(line, "DTMF(1):  A1= 0.13 [1335 Hz]  A2= 0.00 [1209 Hz]");
  tonvel::keys::SummaryLine(line, "d", 1.005, 1632.49, 999.995, 940.5);
  EXPECT_EQ(line, "DTMF(d):  A1= 1.01 [1632 Hz]  A2= 1,000.00 [941 Hz]");

  host::FormatSettings.DecimalSeparator = ',';
  host::FormatSettings.ThousandSeparator = '.';
  tonvel::keys::SummaryLine(line, "#", 1234.567, 1485.8, -3.125, 947.5);
  EXPECT_EQ(line, "DTMF(#):  A1= 1.234,57 [1486 Hz]  A2= -3,13 [948 Hz]");
  tonvel::keys::SummaryLine(line, "", -1234567.125, 12345.5, 0.125, 0.49);
  EXPECT_EQ(line, "DTMF():  A1= -1.234.567,13 [12346 Hz]  A2= 0,13 [0 Hz]");
  // A blank as thousands separator (as the no-break space of many locales
  // becomes) and a shorter line after a longer one.
  host::FormatSettings.ThousandSeparator = ' ';
  tonvel::keys::SummaryLine(line, "0", 12345.678, 941.2, 22.5, 1336.4);
  EXPECT_EQ(line, "DTMF(0):  A1= 12 345,68 [941 Hz]  A2= 22,50 [1336 Hz]");

  // Decide writes the key and the line from the unit-level results.
  host::FormatSettings = saved_;
  host::FormatSettings.DecimalSeparator = '.';
  host::FormatSettings.ThousandSeparator = ',';
  tonvel::f1 = 1335.9;
  tonvel::a1 = 30.214;
  tonvel::f2 = 775.2;
  tonvel::a2 = 27.4;
  tonvel::keys::Decide();
  EXPECT_EQ(tonvel::signal, "5");
  EXPECT_EQ(tonvel::spektr.text, "DTMF(5):  A1= 30.21 [1336 Hz]  A2= 27.40 [775 Hz]");
}

// 2048 bytes of 8-bit capture (128 = silence) holding the two tones.
std::vector<uint8_t> KeyBuffer(double low, double high, double amplitude = 50) {
  std::vector<uint8_t> b(2048);
  for (int t = 0; t < 2048; ++t) {
    const double v = amplitude * (std::sin(2 * std::numbers::pi * low * t / 44100) +
                                  std::sin(2 * std::numbers::pi * high * t / 44100));
    b[t] = static_cast<uint8_t>(128 + std::lround(v));
  }
  return b;
}

struct KeyEvent {
  std::string key;
  double a1, a2, f1, f2;
};

TEST(KeyPipeline, EveryBufferOfAKeyRaisesKeyAfterGetTone) {
  InputGuard input(NoInput());
  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  std::vector<std::string> order;
  std::vector<KeyEvent> keys;
  dtmf->GetTone = [&](host::TObject*, int32_t, double, double, double) {
    order.push_back("GetTone");
  };
  dtmf->Key = [&](host::TObject* sender, const std::string& key, double a1, double a2, double f1,
                  double f2) {
    EXPECT_EQ(sender, dtmf.get());
    order.push_back("Key");
    keys.push_back({key, a1, a2, f1, f2});
  };
  const char* table = "1234567890*#abcd";
  for (int i = 0; i < 16; ++i) {
    // Nominal DTMF frequencies; the table's off-nominal values still match.
    static const double row[] = {697, 697, 697, 770, 770, 770, 852, 852,
                                 852, 941, 941, 941, 697, 770, 852, 941};
    static const double column[] = {1209, 1336, 1477, 1209, 1336, 1477, 1209, 1336,
                                    1477, 1336, 1209, 1477, 1633, 1633, 1633, 1633};
    keys.clear();
    Deliver(KeyBuffer(row[i], column[i]));
    ASSERT_EQ(keys.size(), 1u) << table[i];
    EXPECT_EQ(keys[0].key, std::string(1, table[i]));
    EXPECT_EQ(keys[0].key, tonvel::signal);
    EXPECT_EQ(keys[0].a1, tonvel::a1);
    EXPECT_EQ(keys[0].f2, tonvel::f2);
    EXPECT_GT(keys[0].a2, 0.0);
    EXPECT_EQ(tonvel::spektr.text.rfind(std::string("DTMF(") + table[i] + "):  A1= ", 0), 0u)
        << tonvel::spektr.text;
  }
  EXPECT_EQ(order.size(), 32u);
  for (size_t i = 0; i < order.size(); ++i)
    EXPECT_EQ(order[i], i % 2 == 0 ? "GetTone" : "Key") << i;

  // Silence: GetTone only, and the line begins with DTMF(): .
  keys.clear();
  order.clear();
  Deliver(std::vector<uint8_t>(2048, 128));
  EXPECT_TRUE(keys.empty());
  EXPECT_EQ(order, std::vector<std::string>{"GetTone"});
  EXPECT_EQ(tonvel::spektr.text.rfind("DTMF():  A1= -120.00 [0 Hz]  A2= 0.00 [", 0), 0u)
      << tonvel::spektr.text;
  // A single tone: no second value to pair with.
  keys.clear();
  std::vector<uint8_t> one(2048);
  for (int t = 0; t < 2048; ++t)
    one[t] = static_cast<uint8_t>(
        128 + std::lround(60 * std::sin(2 * std::numbers::pi * 1336 * t / 44100)));
  Deliver(one);
  EXPECT_NEAR(tonvel::f1, 1335.06, 0.01);
  EXPECT_TRUE(keys.empty()) << tonvel::spektr.text;
}

}  // namespace
}  // namespace velmora::testing
