// The virtual devices: the file source (exact bytes, conversion, fast and
// real-time modes, end of file, bad files), the loopback (what outputs play
// is captured) and the file sink (a valid WAV file of what was played).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/platform/wave_helpers.h"
#include "tests/support/support.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {
namespace {

using namespace platform;
constexpr uint32_t kHdr = sizeof(WAVEHDR);
using std::chrono::milliseconds;

// Captures from the chosen input: queues `count` buffers of `size` bytes and
// re-queues each one that comes back, until `total` bytes have arrived, the
// source ends, or nothing arrives for a while.
std::string Capture(const WAVEFORMATEX& f, size_t size, size_t count, size_t total,
                    std::vector<uint32_t>* counts = nullptr) {
  Notes notes;
  HWAVEIN in = nullptr;
  EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, Notes::InputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR)
      << LastDeviceError();
  if (!in) return "";
  Buffers b(count, size);
  for (auto& h : b.headers) {
    waveInPrepareHeader(in, &h, kHdr);
    waveInAddBuffer(in, &h, kHdr);
  }
  waveInStart(in);
  std::string got;
  auto idle_since = std::chrono::steady_clock::now();
  while (got.size() < total) {
    auto note = notes.Next(milliseconds(20));
    if (!note) {
      // A file source that has ended sends nothing after its last buffer.
      if (InputFinished())
        note = notes.Next(milliseconds(0));
      else if (std::chrono::steady_clock::now() - idle_since > std::chrono::seconds(3))
        break;
      if (!note) {
        if (InputFinished()) break;
        continue;
      }
    }
    idle_since = std::chrono::steady_clock::now();
    if (note->msg != MM_WIM_DATA) continue;
    auto* h = reinterpret_cast<WAVEHDR*>(note->param);
    EXPECT_EQ(h->dwFlags, WHDR_DONE | WHDR_PREPARED);
    got.append(h->lpData, h->dwBytesRecorded);
    if (counts) counts->push_back(h->dwBytesRecorded);
    waveInAddBuffer(in, h, kHdr);
  }
  waveInReset(in);
  for (auto& h : b.headers) waveInUnprepareHeader(in, &h, kHdr);
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  return got;
}

class DeviceTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetDeviceChoice(); }
  TempDir dir_;
};

using FileSourceConcurrency = DeviceTest;
using FileSourceErrors = DeviceTest;

TEST_F(FileSourceConcurrency, DeliversAFileAtItsOwnFormatByteForByte) {
  std::mt19937 rng(7);
  std::string data(10000, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  std::string path = dir_.file("noise.wav");
  WriteFile(path, WavBytes(44100, 1, 8, data));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
  std::vector<uint32_t> counts;
  std::string got = Capture(Pcm(44100, 1, 8), 2048, 2, 1 << 20, &counts);
  EXPECT_EQ(got, data);
  ASSERT_EQ(counts.size(), 5u);
  EXPECT_EQ(counts.back(), 10000u % 2048u);  // the last partial buffer
  EXPECT_TRUE(InputFinished());

  // Same for 16-bit stereo at 8000 Hz.
  std::string stereo = SineBytes(8000, 2, 16, 440, 0.7, 3001);
  WriteFile(path, WavBytes(8000, 2, 16, stereo));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
  EXPECT_EQ(Capture(Pcm(8000, 2, 16), 4000, 3, 1 << 20), stereo);
}

TEST_F(FileSourceConcurrency, ConvertsToTheOpenedFormat) {
  // 16-bit stereo 22050 Hz opened as the capture format, 8-bit mono 44100 Hz.
  std::string path = dir_.file("tone.wav");
  const size_t frames = 11025;  // 0.5 s
  WriteFile(path, WavBytes(22050, 2, 16, SineBytes(22050, 2, 16, 1000, 0.5, frames)));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
  std::string got = Capture(Pcm(44100, 1, 8), 2048, 2, 1 << 20);
  EXPECT_NEAR(static_cast<double>(got.size()), 2.0 * frames, 4);
  auto x = Samples(got, 1, 8);
  EXPECT_NEAR(ToneFrequency(x, 44100), 1000, 3);
  EXPECT_NEAR(Peak(x), 0.5, 0.03);

  // 8-bit mono 44100 Hz opened as 16-bit stereo 8000 Hz.
  WriteFile(path, WavBytes(44100, 1, 8, SineBytes(44100, 1, 8, 500, 0.8, 22050)));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
  got = Capture(Pcm(8000, 2, 16), 4000, 2, 1 << 20);
  EXPECT_NEAR(static_cast<double>(got.size()), 4.0 * 4000, 16);
  auto left = Samples(got, 2, 16);
  EXPECT_NEAR(ToneFrequency(left, 8000), 500, 3);
  EXPECT_NEAR(Peak(left), 0.8, 0.05);
  // Both channels carry the mono source.
  auto right = Samples(got.substr(2), 2, 16);
  ASSERT_FALSE(right.empty());
  EXPECT_EQ(left[100], right[100]);
}

TEST_F(FileSourceConcurrency, RealTimeModeTakesTheDurationOfTheSound) {
  std::string path = dir_.file("short.wav");
  std::string data = SineBytes(8000, 1, 8, 300, 0.5, 2400);  // 0.3 s
  WriteFile(path, WavBytes(8000, 1, 8, data));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, false}));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Capture(Pcm(8000, 1, 8), 800, 2, 1 << 20), data);
  // Only a lower bound: a loaded machine is slower, never faster.
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(250));
}

TEST_F(FileSourceConcurrency, EndOfFileLeavesLaterBuffersQueued) {
  std::string path = dir_.file("end.wav");
  WriteFile(path, WavBytes(44100, 1, 8, std::string(3000, 'A')));
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
  Notes notes;
  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  ASSERT_EQ(waveInOpen(&in, 0, &f, Notes::InputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR);
  EXPECT_FALSE(InputFinished());  // a new input starts unfinished
  Buffers b(4, 2048);
  for (auto& h : b.headers) {
    ASSERT_EQ(waveInPrepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.Next()->msg, MM_WIM_OPEN);
  ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &b.headers[0]);
  ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &b.headers[1]);
  EXPECT_EQ(b.headers[1].dwBytesRecorded, 3000u - 2048u);
  EXPECT_FALSE(notes.Next(milliseconds(200)));
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  for (int i = 2; i < 4; ++i) {
    ASSERT_EQ(notes.NextBuffer(MM_WIM_DATA), &b.headers[i]);
    EXPECT_EQ(b.headers[i].dwBytesRecorded, 0u);
  }
  EXPECT_TRUE(InputFinished());
  for (auto& h : b.headers) ASSERT_EQ(waveInUnprepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(FileSourceErrors, BadInputFilesGiveOneClearReason) {
  auto reason = [&](const std::string& name, const std::string& bytes) {
    std::string path = dir_.file(name);
    WriteFile(path, bytes);
    return CheckInputFile(path);
  };
  std::string fmt16 = WavBytes(8000, 1, 16, std::string(100, '\0'));
  EXPECT_EQ(reason("good.wav", fmt16), "");
  for (const char* bad : {"text.wav", "empty.wav"}) {
    std::string why = reason(bad, bad == std::string("empty.wav") ? "" : "hello, no sound file");
    EXPECT_NE(why.find("not a sound file that can be read"), std::string::npos) << why;
  }
  EXPECT_NE(CheckInputFile(dir_.path().string()).find("is a directory"), std::string::npos);
  std::string missing = dir_.file("missing.wav");
  std::string why = CheckInputFile(missing);
  EXPECT_NE(why.find(missing), std::string::npos);
  EXPECT_NE(why.find("No such file"), std::string::npos);
  EXPECT_EQ(why.find('\n'), std::string::npos);

  // Opening fails with a code, and the reason names the file.
  ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, missing, true}));
  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  EXPECT_NE(waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(in, nullptr);
  EXPECT_EQ(LastDeviceError(), why);
  EXPECT_EQ(waveInGetNumDevs(), 1u);  // the device exists; its file does not
}

// Random mutations of a valid file: the reader refuses or plays them, and
// never reads out of bounds (run under the sanitizers too).
TEST_F(FileSourceConcurrency, MutatedWavFilesAreRefusedOrPlayedSafely) {
  std::mt19937 rng(2024);
  const std::string good = WavBytes(22050, 2, 16, SineBytes(22050, 2, 16, 700, 0.5, 300));
  std::string path = dir_.file("m.wav");
  int played = 0;
  for (int round = 0; round < 300; ++round) {
    std::string bytes = good;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % (round % 2 ? 48 : bytes.size());  // the header more often
      bytes[at] = static_cast<char>(rng());
    }
    if (rng() % 5 == 0) bytes.resize(rng() % bytes.size());
    WriteFile(path, bytes);
    std::string why = CheckInputFile(path);
    if (!why.empty()) {
      EXPECT_EQ(why.rfind(path, 0), 0u) << why;
      continue;
    }
    if (round % 10 != 0) continue;  // play a sample of the accepted ones
    ASSERT_TRUE(SetDefaultInput({DeviceKind::FileSource, path, true}));
    std::string got = Capture(Pcm(44100, 1, 8), 4096, 2, 1 << 20);
    EXPECT_LE(got.size(), 8 * bytes.size());
    ++played;
  }
  EXPECT_GT(played, 0);
}

using LoopbackConcurrency = DeviceTest;

// Plays `data` on the chosen output in buffers of `size`, from another thread.
std::thread PlayInBackground(WAVEFORMATEX f, std::string data, size_t size) {
  return std::thread([f, data = std::move(data), size] {
    Notes notes;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, 0, &f, Notes::OutputProc(), notes.instance(), Notes::flags()),
              MMSYSERR_NOERROR);
    size_t count = (data.size() + size - 1) / size;
    Buffers b(count, size);
    for (size_t i = 0; i < count; ++i) {
      std::string part = data.substr(i * size, size);
      std::copy(part.begin(), part.end(), b.memory[i].begin());
      b.headers[i].dwBufferLength = static_cast<uint32_t>(part.size());
      ASSERT_EQ(waveOutPrepareHeader(out, &b.headers[i], kHdr), MMSYSERR_NOERROR);
      ASSERT_EQ(waveOutWrite(out, &b.headers[i], kHdr), MMSYSERR_NOERROR);
    }
    for (size_t i = 0; i < count;)
      if (auto* h = notes.NextBuffer(MM_WOM_DONE, std::chrono::seconds(20)); h) ++i;
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  });
}

// The longest stretch of samples louder than `level`.
std::vector<double> LoudPart(const std::vector<double>& x, double level) {
  size_t best_start = 0, best_len = 0, start = 0, quiet = 0;
  bool in = false;
  for (size_t i = 0; i <= x.size(); ++i) {
    bool loud = i < x.size() && std::fabs(x[i]) > level;
    if (loud) {
      if (!in) start = i;
      in = true;
      quiet = 0;
    } else if (in && (++quiet > 100 || i == x.size())) {
      size_t len = i - quiet - start;
      if (len > best_len) best_start = start, best_len = len;
      in = false;
    }
  }
  return std::vector<double>(x.begin() + static_cast<std::ptrdiff_t>(best_start),
                             x.begin() + static_cast<std::ptrdiff_t>(best_start + best_len));
}

TEST_F(LoopbackConcurrency, CapturesWhatOutputsPlayAtTheInputRate) {
  ASSERT_TRUE(SetDefaultInput({DeviceKind::Loopback, "", false}));
  ASSERT_TRUE(SetDefaultOutput({DeviceKind::Loopback, ""}));
  // A 1000 Hz tone from a 16-bit 44100 Hz output, captured as 8-bit 44100 Hz.
  // The tones last twice what is asserted: a capture that opens late (a
  // loaded machine) finds only the last 250 ms the loopback keeps.
  std::thread player =
      PlayInBackground(Pcm(44100, 1, 16), SineBytes(44100, 1, 16, 1000, 0.5, 52920), 8820);
  std::string got = Capture(Pcm(44100, 1, 8), 2048, 4, 44100 * 5 / 2);
  player.join();
  auto tone = LoudPart(Samples(got, 1, 8), 0.1);
  ASSERT_GT(tone.size(), 20000u);  // at least 0.45 s of it arrived whole
  EXPECT_NEAR(ToneFrequency(tone, 44100), 1000, 5);
  EXPECT_NEAR(Peak(tone), 0.5, 0.03);

  // A key-player burst (22050 Hz 8-bit) captured as 16-bit stereo 8000 Hz.
  player = PlayInBackground(Pcm(22050, 1, 8), SineBytes(22050, 1, 8, 697, 0.4, 22050), 2205);
  got = Capture(Pcm(8000, 2, 16), 1600, 4, 4 * 8000);
  player.join();
  tone = LoudPart(Samples(got, 2, 16), 0.1);
  ASSERT_GT(tone.size(), 3000u);
  EXPECT_NEAR(ToneFrequency(tone, 8000), 697, 5);
}

TEST_F(LoopbackConcurrency, CapturesSilenceWhenNothingPlays) {
  ASSERT_TRUE(SetDefaultInput({DeviceKind::Loopback, "", false}));
  std::string got = Capture(Pcm(44100, 1, 8), 2048, 2, 8192);
  ASSERT_EQ(got.size(), 8192u);
  EXPECT_EQ(got, std::string(8192, '\x80'));
}

using FileSinkConcurrency = DeviceTest;

// Header fields of a WAV file as `soxi` (sox) reads them.
std::string Soxi(const std::string& option, const std::string& path) {
  RunResult r = Run({"soxi", option, path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out.substr(0, r.out.find('\n'));
}

TEST_F(FileSinkConcurrency, WritesAValidWavFileOfWhatWasPlayed) {
  if (!HaveProgram("soxi")) GTEST_FAIL() << "soxi (sox) is not installed (make deps installs it)";
  std::string path = dir_.file("out.wav");
  ASSERT_TRUE(SetDefaultOutput({DeviceKind::FileSink, path}));
  // Two key bursts, each from its own open of device 0, as the key player does.
  std::string bursts[2] = {SineBytes(22050, 1, 8, 697, 0.4, 2095),
                           SineBytes(22050, 1, 8, 1477, 0.4, 2095)};
  for (const std::string& burst : bursts) {
    std::thread player = PlayInBackground(Pcm(22050, 1, 8), burst, burst.size());
    player.join();
    // Complete whenever no output is open.
    EXPECT_EQ(Soxi("-r", path), "22050");
    EXPECT_EQ(Soxi("-c", path), "1");
    EXPECT_EQ(Soxi("-b", path), "8");
  }
  EXPECT_TRUE(FinishOutputFile());
  std::string file = ReadFile(path);
  ASSERT_GT(file.size(), 44u);
  uint32_t data_size = static_cast<uint8_t>(file[40]) | static_cast<uint8_t>(file[41]) << 8 |
                       static_cast<uint8_t>(file[42]) << 16 |
                       static_cast<uint32_t>(static_cast<uint8_t>(file[43])) << 24;
  EXPECT_EQ(data_size, file.size() - 44);
  EXPECT_EQ(std::stoul(Soxi("-s", path)), data_size);
  std::string data = file.substr(44);
  // Each burst is in the file as it was played, in order.
  size_t first = data.find(bursts[0]);
  size_t second = data.find(bursts[1]);
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  // Around them: the silence of the open device.
  EXPECT_EQ(data.substr(0, first), std::string(first, '\x80'));

  // A later output in another format is converted to the file's format.
  std::thread player =
      PlayInBackground(Pcm(44100, 2, 16), SineBytes(44100, 2, 16, 440, 0.5, 4410), 17640);
  player.join();
  EXPECT_EQ(Soxi("-r", path), "22050");
  EXPECT_GT(ReadFile(path).size(), file.size() + 2000);
}

TEST_F(FileSinkConcurrency, AnUnwritablePathFailsWithItsReason) {
  std::string path = dir_.file("no/such/dir/out.wav");
  ASSERT_TRUE(SetDefaultOutput({DeviceKind::FileSink, path}));
  HWAVEOUT out = nullptr;
  WAVEFORMATEX f = Pcm(22050, 1, 8);
  EXPECT_EQ(waveOutOpen(&out, 0, &f, 0, 0, 0), MMSYSERR_ERROR);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(LastDeviceError().find(path), std::string::npos);
  EXPECT_NE(LastDeviceError().find("No such file"), std::string::npos);
}

}  // namespace
}  // namespace velmora::testing
