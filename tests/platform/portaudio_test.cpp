// The real device path: PortAudio's default devices, reached through an ALSA
// configuration that the test writes (a raw file as the microphone, a raw
// file as the speaker).  PortAudio reads its configuration once, when it
// starts, so each case runs in a child process (this test program again,
// with a filter and the environment set) whose environment is its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/platform/wave_helpers.h"
#include "tests/support/support.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {
namespace {

using namespace platform;
constexpr uint32_t kHdr = sizeof(WAVEHDR);
constexpr const char* kChildVar = "VELMORA_PORTAUDIO_CHILD_DIR";

std::string Pattern(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + 3) % 251);
  return s;
}

std::string SelfProgram() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

// Under ThreadSanitizer, the children ignore races inside the system's sound
// libraries (see the suppression file).  Set in our own environment, which
// the child inherits: a second TSAN_OPTIONS entry would not be read.
void SuppressSoundLibraryRaces() {
  const char* old = std::getenv("TSAN_OPTIONS");
  std::string options = old ? old : "";
  if (options.find("suppressions=") != std::string::npos) return;
  if (!options.empty()) options += ':';
  options += "suppressions=" + (SourceDir() / "tests/platform/sound_libraries.tsan.supp").string();
  setenv("TSAN_OPTIONS", options.c_str(), 1);
}

// Runs one child case with `env`; returns what it printed.
RunResult RunChild(const std::string& test, const std::vector<std::string>& env) {
  SuppressSoundLibraryRaces();
  return Run({SelfProgram(), "--gtest_filter=PortAudioChildConcurrency." + test}, "",
             std::chrono::seconds(60), env);
}

// An ALSA configuration whose default device captures from in.raw and plays
// into out.raw, both in `dir`.
void WriteAlsaConfig(const TempDir& dir) {
  std::string conf = R"(pcm.!default {
  type asym
  capture.pcm {
    type file
    slave.pcm { type null }
    file "/dev/null"
    infile ")" + dir.file("in.raw") +
                     R"("
    format "raw"
  }
  playback.pcm {
    type file
    slave.pcm { type null }
    file ")" + dir.file("out.raw") +
                     R"("
    format "raw"
  }
}
)";
  WriteFile(dir.file("asound.conf"), conf);
}

const char* ChildDir() {
  return std::getenv(kChildVar);
}

// ---- the parent side -------------------------------------------------------

TEST(PortAudioConcurrency, DefaultInputDeliversTheBytesOfTheDevice) {
  TempDir dir;
  WriteAlsaConfig(dir);
  // Past its end the file device repeats stale data: pad with silence.
  WriteFile(dir.file("in.raw"), Pattern(8192) + std::string(4 << 20, '\x80'));
  RunResult r = RunChild("Capture", {"ALSA_CONFIG_PATH=" + dir.file("asound.conf"),
                                     std::string(kChildVar) + "=" + dir.path().string()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out;
}

TEST(PortAudioConcurrency, DefaultOutputPlaysIntoTheDevice) {
  TempDir dir;
  WriteAlsaConfig(dir);
  WriteFile(dir.file("in.raw"), std::string(1 << 16, '\x80'));
  RunResult r = RunChild("Playback", {"ALSA_CONFIG_PATH=" + dir.file("asound.conf"),
                                      std::string(kChildVar) + "=" + dir.path().string()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out;
  // The device is not paced, so the file holds much silence; the buffer
  // played is in it whole.
  std::string played = ReadFile(dir.file("out.raw"));
  EXPECT_NE(played.find(Pattern(1000)), std::string::npos);
}

TEST(PortAudioConcurrency, ProbingPrintsNothingOnStandardError) {
  // No configuration of ours: PortAudio probes ALSA and JACK as it finds them.
  RunResult r = RunChild("Probe", {std::string(kChildVar) + "=probe"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

// ---- the child side (skipped unless started by the cases above) ----------

TEST(PortAudioChildConcurrency, Capture) {
  if (!ChildDir()) GTEST_SKIP() << "run by PortAudioConcurrency";
  // The automatic choice finds PortAudio's default device.
  ASSERT_EQ(DefaultInput().kind, DeviceKind::PortAudio);
  ASSERT_EQ(waveInGetNumDevs(), 1u);
  Notes notes;
  HWAVEIN in = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, Notes::InputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR)
      << LastDeviceError();
  Buffers b(2, 2048);
  for (auto& h : b.headers) {
    ASSERT_EQ(waveInPrepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &h, kHdr), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.Next()->msg, MM_WIM_OPEN);
  std::string expected = Pattern(4096);
  for (int i = 0; i < 2; ++i) {
    WAVEHDR* h = notes.NextBuffer(MM_WIM_DATA);
    ASSERT_EQ(h, &b.headers[i]);
    EXPECT_EQ(h->dwFlags, WHDR_DONE | WHDR_PREPARED);
    ASSERT_EQ(h->dwBytesRecorded, 2048u);
    EXPECT_EQ(std::string(h->lpData, 2048), expected.substr(2048 * i, 2048));
  }
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  for (auto& h : b.headers) ASSERT_EQ(waveInUnprepareHeader(in, &h, kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST(PortAudioChildConcurrency, Playback) {
  if (!ChildDir()) GTEST_SKIP() << "run by PortAudioConcurrency";
  ASSERT_EQ(DefaultOutput().kind, DeviceKind::PortAudio);
  ASSERT_EQ(waveOutGetNumDevs(), 1u);
  Notes notes;
  HWAVEOUT out = nullptr;
  WAVEFORMATEX f = Pcm(44100, 1, 8);
  ASSERT_EQ(waveOutOpen(&out, 0, &f, Notes::OutputProc(), notes.instance(), Notes::flags()),
            MMSYSERR_NOERROR)
      << LastDeviceError();
  ASSERT_EQ(notes.Next()->msg, MM_WOM_OPEN);
  Buffers b(1, 1000);
  std::string pattern = Pattern(1000);
  std::copy(pattern.begin(), pattern.end(), b.memory[0].begin());
  ASSERT_EQ(waveOutPrepareHeader(out, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(notes.NextBuffer(MM_WOM_DONE), &b.headers[0]);
  ASSERT_EQ(waveOutUnprepareHeader(out, &b.headers[0], kHdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST(PortAudioChildConcurrency, Probe) {
  if (!ChildDir()) GTEST_SKIP() << "run by PortAudioConcurrency";
  // Whatever it finds; the point is that finding it prints nothing.
  uint32_t inputs = waveInGetNumDevs();
  uint32_t outputs = waveOutGetNumDevs();
  InputChoice choice = DefaultInput();
  EXPECT_EQ(choice.kind == DeviceKind::PortAudio, inputs > 0);
  (void)outputs;
}

}  // namespace
}  // namespace velmora::testing
