// `velmora decode` end to end on a corpus made here by sox and espeak-ng,
// beside multimon-ng on the same sound: every key sent is found once, with
// its start within one buffer, and nothing is found in noise, speech or
// music.  Then standard input, pipes and the inputs it refuses.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using std::chrono::seconds;

constexpr double kBufferSeconds = 2048.0 / 44100.0;
constexpr const char* kSequence = "123a456b789c*0#d";

// Nominal DTMF tones of a key.
void TonesOf(char key, int& row, int& column) {
  static const int rows[] = {697, 770, 852, 941};
  static const int columns[] = {1209, 1336, 1477, 1633};
  static const std::string layout = "123a456b789c*0#d";
  const size_t i = layout.find(key);
  row = rows[i / 4];
  column = columns[i % 4];
}

void Sox(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"sox", "-D"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = testing::Run(argv, "", seconds(60));
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

// The sixteen keys, each `tone` s long at amplitudes `low` and `high` for
// its two tones (both frequencies times `scale`), followed by `gap` s of
// silence; 16-bit mono 22050 Hz.
std::string KeySequence(const TempDir& dir, const std::string& name, double low, double high,
                        double tone, double gap, double scale = 1.0) {
  std::vector<std::string> parts;
  for (const char* k = kSequence; *k; ++k) {
    int row = 0;
    int column = 0;
    TonesOf(*k, row, column);
    const std::string part = dir.file(name + "_" + std::to_string(k - kSequence) + ".wav");
    Sox({"-n", "-r", "22050", "-b", "16", "-c", "2", part, "synth", std::to_string(tone), "sine",
         std::to_string(row * scale), "sine", std::to_string(column * scale), "remix",
         "1v" + std::to_string(low) + ",2v" + std::to_string(high), "pad", "0",
         std::to_string(gap)});
    parts.push_back(part);
  }
  const std::string out = dir.file(name + ".wav");
  parts.insert(parts.begin(), "--combine");
  parts.insert(parts.begin() + 1, "concatenate");
  parts.push_back(out);
  Sox(parts);
  return out;
}

struct Press {
  std::string key;
  double start = 0;
};

// The presses velmora decode prints for `path` ("5  at 1.234 s  for 93 ms").
std::vector<Press> Decode(const std::string& path) {
  RunResult r = RunVelmora({"decode", path}, "", seconds(120));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<Press> out;
  for (const std::string& line : SplitLines(r.out)) {
    Press p;
    p.key = line.substr(0, 1);
    p.start = std::atof(line.substr(line.find(" at ") + 4).c_str());
    out.push_back(p);
  }
  return out;
}

// Whether every key of `some` appears in `all`, in the same order.
bool Within(const std::string& some, const std::string& all) {
  size_t at = 0;
  for (char k : some) {
    at = all.find(k, at);
    if (at == std::string::npos) return false;
    ++at;
  }
  return true;
}

std::string Keys(const std::vector<Press>& presses) {
  std::string keys;
  for (const Press& p : presses) keys += p.key;
  return keys;
}

// multimon-ng's keys for the same sound (its own input: raw 16-bit 22050 Hz).
std::string MultimonKeys(const TempDir& dir, const std::string& path) {
  const std::string raw = dir.file("multimon.raw");
  Sox({path, "-t", "raw", "-e", "signed", "-b", "16", "-r", "22050", "-c", "1", raw});
  RunResult r =
      testing::Run({"multimon-ng", "-q", "-a", "DTMF", "-t", "raw", raw}, "", seconds(120));
  EXPECT_EQ(r.exit_code, 0) << "multimon-ng is needed: " << r.err;
  std::string keys;
  for (const std::string& line : SplitLines(r.out))
    if (line.rfind("DTMF: ", 0) == 0) keys += static_cast<char>(std::tolower(line[6]));
  return keys;
}

// Sent keys: all found, in order, each once, with its start within one
// buffer; multimon-ng finds the same keys.
TEST(DecodeCorpusConcurrency, EverySentKeyIsFoundOnceWithItsStart) {
  TempDir dir;
  struct Case {
    std::string name;
    double low, high, tone, gap;
    std::string noise;  // sox synth noise type mixed in, "" for none
    double noise_volume;
    double scale = 1.0;  // of every frequency
  };
  // Levels down to the quietest the 8-bit capture resolves (tones of some 6
  // steps of its 256), twist of 2 and 4 dB either way (ITU-T Q.24 receivers
  // accept 4 dB with the high group stronger, 8 dB with the low group
  // stronger), frequencies 1.5 % off (which Q.24 receivers accept), 60 ms
  // keys, white and pink noise at about 10 and 20 dB below the tones.
  const std::vector<Case> cases = {
      {"loud", 0.35, 0.35, 0.1, 0.1, "", 0},
      {"quiet", 0.05, 0.05, 0.1, 0.1, "", 0},
      {"twist", 0.25, 0.32, 0.1, 0.1, "", 0},
      {"twist_high4", 0.2, 0.32, 0.1, 0.1, "", 0},
      {"twist_low4", 0.32, 0.2, 0.1, 0.1, "", 0},
      {"above", 0.3, 0.3, 0.1, 0.1, "", 0, 1.015},
      {"below", 0.3, 0.3, 0.1, 0.1, "", 0, 0.985},
      {"short", 0.3, 0.3, 0.06, 0.1, "", 0},
      {"white10", 0.1, 0.1, 0.1, 0.1, "whitenoise", 0.05},
      {"pink20", 0.1, 0.1, 0.1, 0.1, "pinknoise", 0.02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = KeySequence(dir, c.name, c.low, c.high, c.tone, c.gap, c.scale);
    if (!c.noise.empty()) {
      const std::string noise = dir.file(c.name + "_noise.wav");
      Sox({"-n", "-r", "22050", "-b", "16", "-c", "1", noise, "synth", "3.2", c.noise, "vol",
           std::to_string(c.noise_volume)});
      const std::string mixed = dir.file(c.name + "_mixed.wav");
      Sox({"-m", "-v", "1", path, "-v", "1", noise, mixed});
      path = mixed;
    }
    const std::vector<Press> ours = Decode(path);
    EXPECT_EQ(Keys(ours), kSequence);
    for (size_t i = 0; i < ours.size(); ++i)
      EXPECT_NEAR(ours[i].start, static_cast<double>(i) * (c.tone + c.gap), kBufferSeconds)
          << ours[i].key;
    // multimon-ng finds no key that we miss (it rejects some of the keys
    // 1.5 % off).
    const std::string theirs = MultimonKeys(dir, path);
    EXPECT_TRUE(Within(theirs, Keys(ours))) << theirs;
    if (c.scale == 1.0) {
      EXPECT_EQ(theirs, Keys(ours));
    }
  }

  // Tones 3.5 % off the keypad frequencies are no keys (Q.24 receivers
  // reject them), nor is a key whose low tone is 12 dB weaker.
  for (double scale : {0.965, 1.035})
    EXPECT_EQ(Keys(Decode(KeySequence(dir, "off", 0.3, 0.3, 0.1, 0.1, scale))), "") << scale;
  EXPECT_EQ(Keys(Decode(KeySequence(dir, "weak", 0.075, 0.3, 0.1, 0.1))), "");

  // A key held for half a second is one press of that length; a key sent
  // twice with 100 ms between is two.
  const std::string held = dir.file("held.wav");
  Sox({"-n", "-r", "22050", "-b", "16", "-c", "1", held, "synth", "0.5", "sine", "697", "sine",
       "1209", "pad", "0.1", "0.1", "repeat", "1"});
  RunResult r = RunVelmora({"decode", "--json", held});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("\"key\": \"1\""), std::string::npos) << line;
    const double ms = std::atof(line.substr(line.find("\"duration_ms\": ") + 15).c_str());
    EXPECT_NEAR(ms, 500, 2 * kBufferSeconds * 1000) << line;
  }
  EXPECT_EQ(MultimonKeys(dir, held), "11");
}

// Nothing in noise, speech or music: no press where none was sent (and
// multimon-ng, which rejects them too, agrees).
TEST(DecodeCorpusConcurrency, NoPressInNoiseSpeechOrMusic) {
  TempDir dir;
  std::vector<std::string> files;
  const std::string white = dir.file("white.wav");
  Sox({"-n", "-r", "22050", "-b", "16", "-c", "1", white, "synth", "600", "whitenoise", "vol",
       "0.3"});
  files.push_back(white);
  const std::string pink = dir.file("pink.wav");
  Sox({"-n", "-r", "22050", "-b", "16", "-c", "1", pink, "synth", "30", "pinknoise", "vol", "0.5"});
  files.push_back(pink);
  const std::vector<std::pair<std::string, std::string>> speech = {
      {"en", "The quick brown fox jumps over the lazy dog. Call me back at five five five."},
      {"en+f3", "Please hold the line; your call is important to us. One two three four."},
      {"de", "Guten Tag, bitte rufen Sie mich morgen zurück, die Nummer ist eins zwei drei."},
      {"fr+m3", "Bonjour, je voudrais parler au directeur de la banque, s'il vous plaît."},
      {"ru", "Здравствуйте, пожалуйста, перезвоните мне завтра утром."},
      {"es+f2", "Buenos días, mi número de teléfono es nueve ocho siete seis."}};
  for (size_t i = 0; i < speech.size(); ++i) {
    const std::string wav = dir.file("speech" + std::to_string(i) + ".wav");
    RunResult r = testing::Run({"espeak-ng", "-v", speech[i].first, "-w", wav, speech[i].second},
                               "", seconds(60));
    ASSERT_EQ(r.exit_code, 0) << "espeak-ng is needed: " << r.err;
    files.push_back(wav);
  }
  // Music-like tone mixtures: chords of three and four notes, some of them
  // near key tones; two glides crossing the key bands at different times,
  // with a third crossing both.
  const std::string chords = dir.file("chords.wav");
  Sox({"-n",   "-r",    "22050", "-b",   "16",   "-c",  "1",      chords, "synth", "0.4",
       "sine", "440",   "sine",  "554",  "sine", "659", "synth",  "0.4",  "sine",  "mix",
       "698",  "synth", "0.4",   "sine", "mix",  "880", "repeat", "5"});
  files.push_back(chords);
  const std::string glide = dir.file("glide.wav");
  Sox({"-n",       "-r",    "22050", "-b",       "16",    "-c",      "1",    glide,
       "synth",    "3",     "sine",  "300-3000", "synth", "3",       "sine", "mix",
       "3000-300", "synth", "3",     "sine",     "mix",   "600-1700"});
  files.push_back(glide);
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    EXPECT_EQ(Keys(Decode(f)), "");
    EXPECT_EQ(MultimonKeys(dir, f), "");
  }
}

// The batch path (decode without --set) gives exactly the presses of the
// component path, which any --set selects: keys, starts, durations, levels
// and frequencies, on keys in noise, speech and noise alone, with limits
// set around the tones' levels, twists and clearances.
TEST(DecodeCorpusConcurrency, BatchPathGivesTheComponentPathsPresses) {
  TempDir dir;
  const std::string quiet = KeySequence(dir, "quiet", 0.04, 0.05, 0.1, 0.1);
  const std::string twisted = KeySequence(dir, "twisted", 0.15, 0.4, 0.06, 0.04);
  const std::string noise = dir.file("noise.wav");
  Sox({"-n", "-r", "22050", "-b", "16", "-c", "1", noise, "synth", "3.2", "whitenoise", "vol",
       "0.08"});
  const std::string noisy = dir.file("noisy.wav");
  Sox({"-m", quiet, noise, noisy});
  const std::string speech = dir.file("speech.wav");
  RunResult said = testing::Run(
      {"espeak-ng", "-v", "en", "-w", speech, "Call me back at five five five, one two three."}, "",
      seconds(60));
  ASSERT_EQ(said.exit_code, 0) << "espeak-ng is needed: " << said.err;
  const std::vector<std::vector<std::string>> limits = {{},
                                                        {"--min-level", "36"},
                                                        {"--min-level", "41"},
                                                        {"--min-level", "44"},
                                                        {"--max-twist", "2"},
                                                        {"--max-twist", "7"},
                                                        {"--min-clearance", "12"},
                                                        {"--min-clearance", "25"},
                                                        {"--min-duration", "90"}};
  size_t presses = 0;
  for (const std::string& file : {quiet, twisted, noisy, speech, noise}) {
    for (const auto& limit : limits) {
      SCOPED_TRACE(file + " " + (limit.empty() ? "" : limit[0] + " " + limit[1]));
      std::vector<std::string> args = {"decode", "--json", file};
      args.insert(args.end(), limit.begin(), limit.end());
      RunResult batch = RunVelmora(args);
      args.insert(args.end(), {"--set", "FFT_noise=0"});
      RunResult component = RunVelmora(args);
      ASSERT_EQ(batch.exit_code, 0) << batch.err;
      ASSERT_EQ(component.exit_code, 0) << component.err;
      EXPECT_EQ(batch.out, component.out);
      presses += SplitLines(batch.out).size();
    }
  }
  // The limits keep some presses and drop others.
  EXPECT_GT(presses, 100u);
}

// Standard input and pipes give what the file gives; what cannot be read is
// one line and exit 2, at once.
TEST(DecodeCommandConcurrency, StandardInputPipesAndRefusals) {
  TempDir dir;
  const std::string wav = KeySequence(dir, "seq", 0.3, 0.3, 0.1, 0.1);
  const std::string bytes = ReadFile(wav);
  RunResult file = RunVelmora({"decode", wav});
  ASSERT_EQ(file.exit_code, 0) << file.err;
  ASSERT_EQ(SplitLines(file.out).size(), 16u) << file.out;
  RunResult piped = RunVelmora({"decode", "-"}, bytes);
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out, file.out);
  piped = RunVelmora({"listen", "--input", "-", "--fast", "--keys"}, bytes);
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out, file.out);
  piped = RunVelmora({"listen", "--input", "/dev/stdin", "--fast", "--keys"}, bytes);
  EXPECT_EQ(piped.out, file.out);
  // Other encodings and containers read by name give the same presses.
  for (const std::vector<std::string>& encoding :
       std::vector<std::vector<std::string>>{{"seq.flac"},
                                             {"seq.ogg"},
                                             {"seq.aiff"},
                                             {"-e", "floating-point", "-b", "32", "f.wav"},
                                             {"-b", "24", "24.wav"},
                                             {"-e", "u-law", "u.wav"},
                                             {"-b", "8", "8.wav"}}) {
    std::vector<std::string> args = {wav};
    args.insert(args.end(), encoding.begin(), encoding.end() - 1);
    const std::string other = dir.file(encoding.back());
    args.push_back(other);
    Sox(args);
    RunResult r = RunVelmora({"decode", other});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(SplitLines(r.out).size(), 16u) << other << "\n" << r.out;
  }
  // Several files: each line names its file.
  RunResult two = RunVelmora({"decode", wav, dir.file("seq.flac")});
  EXPECT_EQ(SplitLines(two.out).size(), 32u);
  EXPECT_EQ(two.out.rfind(wav + ": 1  at 0.000 s  for ", 0), 0u) << two.out;

  const std::string text = dir.file("notes.wav");
  WriteFile(text, "this is no sound\n");
  const std::vector<std::vector<std::string>> refused = {
      {"decode", dir.path().string()},
      {"decode", text},
      {"decode", dir.file("missing.wav")},
      {"listen", "--input", dir.path().string(), "--fast", "--keys"},
  };
  for (const auto& args : refused) {
    RunResult r = RunVelmora(args, "", seconds(20));
    EXPECT_EQ(r.exit_code, 2) << args[1] << " " << r.err;
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Text through a pipe is refused when it is opened, not played forever.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"decode", "-"}, {"listen", "--input", "-", "--fast", "--keys"}}) {
    RunResult r = RunVelmora(args, "not a RIFF file, just text\n", seconds(20));
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
  }
  // A readable file beside an unreadable one: its presses, then exit 2.
  RunResult mixed = RunVelmora({"decode", text, wav});
  EXPECT_EQ(mixed.exit_code, 2);
  EXPECT_EQ(SplitLines(mixed.out).size(), 16u);
}

}  // namespace
}  // namespace velmora::testing
