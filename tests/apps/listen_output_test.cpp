// What `velmora listen --fast` prints as a batch decoder: the numbers of the
// human-readable lines are printf's "%.6g" of the exact values (checked
// against the JSON lines with Python's own formatting), and --keys prints
// exactly the Key lines of the full output, nothing else.
#include <cmath>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using std::chrono::seconds;

// Keys 5, # and 1 (a buffer each) between buffers of faint noise, 8-bit at
// 44100 Hz: levels, noise and frequencies of every kind of buffer.
std::vector<uint8_t> KeysAndNoise() {
  struct Key {
    double low, high;
  };
  std::mt19937 random(17);
  std::vector<uint8_t> all;
  auto noise = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) all.push_back(static_cast<uint8_t>(126 + random() % 5));
  };
  for (Key k : {Key{770, 1336}, Key{941, 1477}, Key{697, 1209}}) {
    noise(2048);
    for (int i = 0; i < 2048; ++i) {
      const double t = i / 44100.0;
      const double v = 50 * std::sin(2 * std::numbers::pi * k.low * t) +
                       45 * std::sin(2 * std::numbers::pi * k.high * t);
      all.push_back(static_cast<uint8_t>(std::lround(128 + v + static_cast<int>(random() % 3))));
    }
  }
  noise(777);  // and a short last buffer
  return all;
}

TEST(ListenOutputConcurrency, HumanNumbersArePrintfsOfTheExactValues) {
  TempDir dir;
  const std::string wav = dir.file("keys.wav");
  WriteWav8(wav, KeysAndNoise());
  RunResult human = RunVelmora({"listen", "--input", wav, "--fast"});
  ASSERT_EQ(human.exit_code, 0) << human.err;
  RunResult json = RunVelmora({"listen", "--input", wav, "--fast", "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  WriteFile(dir.file("human.txt"), human.out);
  WriteFile(dir.file("json.txt"), json.out);
  // Pairs the GetTone and Key lines of both runs in order; every number of
  // a human line must be "%.6g" of the JSON value.
  const std::string script =
      "import json, sys\n"
      "human = [l.split() for l in open(sys.argv[1]) if l.startswith(('GetTone ', 'Key '))]\n"
      "exact = [json.loads(l) for l in open(sys.argv[2])]\n"
      "exact = [o for o in exact if o['event'] in ('GetTone', 'Key')]\n"
      "assert len(human) == len(exact) and len(human) >= 7, (len(human), len(exact))\n"
      "keys = 0\n"
      "for h, o in zip(human, exact):\n"
      "    assert h[0] == o['event'], (h, o)\n"
      "    for field in h[1:]:\n"
      "        name, text = field.split('=', 1)\n"
      "        v = o[name]\n"
      "        want = v if isinstance(v, str) else str(v) if isinstance(v, int) else '%.6g' % v\n"
      "        assert text == want, (name, text, want, v)\n"
      "    keys += h[0] == 'Key'\n"
      "assert keys == 3, keys\n";
  RunResult check = testing::Run(
      {"python3", "-c", script, dir.file("human.txt"), dir.file("json.txt")}, "", seconds(30));
  EXPECT_EQ(check.exit_code, 0) << check.err << "\n" << human.out;
}

TEST(ListenOutputConcurrency, KeysOnlyPrintsTheKeyLinesOfTheFullOutput) {
  TempDir dir;
  const std::string wav = dir.file("keys.wav");
  WriteWav8(wav, KeysAndNoise());
  RunResult all = RunVelmora({"listen", "--input", wav, "--fast"});
  ASSERT_EQ(all.exit_code, 0) << all.err;
  std::string key_lines;
  std::istringstream in(all.out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Key ", 0) == 0) key_lines += line + "\n";
  EXPECT_NE(key_lines.find("Key key=5 "), std::string::npos) << all.out;
  EXPECT_NE(key_lines.find("Key key=# "), std::string::npos) << all.out;
  RunResult keys = RunVelmora({"listen", "--input", wav, "--fast", "--raw"});
  ASSERT_EQ(keys.exit_code, 0) << keys.err;
  EXPECT_EQ(keys.err, "");
  EXPECT_EQ(keys.out, key_lines);
}

}  // namespace
}  // namespace velmora::testing
