// read_wav on crafted files: every status, and the walks past other chunks
// and a long format chunk.
#include "velmora/component/wav_reader.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"
#include "tests/component/wav_bytes.h"
#include "tests/support/support.h"

namespace velmora::testing {
namespace {

using tonvel::WavStatus;

tonvel::wav_info ReadBytes(const std::string& bytes) {
  TempDir dir;
  const std::string path = dir.file("crafted.wav");
  WriteFile(path, bytes);
  return tonvel::read_wav(path);
}

TEST(ReadWav, StatusOfEachMalformedFile) {
  const std::string fmt = FmtChunk(1, 1, 44100, 16);
  const std::string data = Chunk("data", std::string(10, '\x01'));
  struct Case {
    const char* what;
    std::string bytes;
    WavStatus status;
  };
  const std::vector<Case> cases = {
      {"empty", "", WavStatus::ReadError},
      {"three bytes", "RIF", WavStatus::ReadError},
      {"no size", "RIFF", WavStatus::ReadError},
      {"RIFX", "RIFX" + Le32(4) + "WAVE", WavStatus::NotRiffWave},
      {"size one short", Riff(fmt + data, -1), WavStatus::SizeMismatch},
      {"size one long", Riff(fmt + data, +1), WavStatus::SizeMismatch},
      {"WAVX", "RIFF" + Le32(4) + "WAVX", WavStatus::NotRiffWave},
      {"nothing after WAVE", Riff(""), WavStatus::ReadError},
      {"huge chunk first", Riff(Chunk("LIST", "", 0x80000000u) + fmt + data),
       WavStatus::BadChunkSize},
      {"huge data first", Riff(Chunk("data", "", 0xFFFFFFFFu)), WavStatus::BadChunkSize},
      {"data first", Riff(data + fmt), WavStatus::DataBeforeFormat},
      {"chunk past the end", Riff(Chunk("LIST", "ab", 100) + fmt + data), WavStatus::ReadError},
      {"format cut short", Riff(Chunk("fmt ", "abcd", 16)), WavStatus::ReadError},
      {"no data chunk", Riff(fmt + Chunk("LIST", "abc")), WavStatus::ReadError},
      {"data past the end", Riff(fmt + Chunk("data", "abc", 1000000)), WavStatus::ReadError},
      {"data claims 4 GB", Riff(fmt + Chunk("data", "abc", 0xFFFFFFF0u)), WavStatus::ReadError},
  };
  for (const Case& c : cases) {
    const tonvel::wav_info info = ReadBytes(c.bytes);
    EXPECT_EQ(info.status, c.status) << c.what << ": " << tonvel::WavFailureText(info);
    EXPECT_TRUE(info.data.empty()) << c.what;
  }
  const tonvel::wav_info missing = tonvel::read_wav("/nonexistent/x.wav");
  EXPECT_EQ(missing.status, WavStatus::ReadError);
  EXPECT_NE(tonvel::WavFailureText(missing).find("No such file"), std::string::npos)
      << tonvel::WavFailureText(missing);
  EXPECT_EQ(tonvel::WavFailureText(ReadBytes(Riff(fmt + data, -1))).rfind("size mismatch", 0), 0u);
}

TEST(ReadWav, WalksPastOtherChunksAndALongFormatChunk) {
  // A 40-byte format chunk (an extensible header), chunks before and after
  // it, an odd-sized chunk taken without its pad byte.
  const std::string samples = "\x10\x20\x30\x40\x50\x60";
  const std::string bytes =
      Riff(Chunk("JUNK", std::string(7, 'j')) + FmtChunk(1, 2, 22050, 16, 24) +
           Chunk("LIST", "INFOabc") + Chunk("data", samples) + Chunk("tail", "zz"));
  const tonvel::wav_info info = ReadBytes(bytes);
  ASSERT_EQ(info.status, WavStatus::Success) << tonvel::WavFailureText(info);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.rate, 22050);
  EXPECT_EQ(info.samples_per_sec, 22050u);
  EXPECT_EQ(info.bits_per_sample, 16);
  EXPECT_EQ(info.avg_bytes, 22050u * 4);
  EXPECT_EQ(std::string(info.data.begin(), info.data.end()), samples);

  // A short format chunk (16 bytes) and a rate above 16 bits: rate keeps the
  // low 16 bits, samples_per_sec the whole value.
  const tonvel::wav_info high = ReadBytes(Riff(FmtChunk(1, 1, 96000, 8) + Chunk("data", "ab")));
  ASSERT_EQ(high.status, WavStatus::Success);
  EXPECT_EQ(high.rate, 96000 & 0xFFFF);
  EXPECT_EQ(high.samples_per_sec, 96000u);
  // An empty data chunk is read as such.
  const tonvel::wav_info empty = ReadBytes(Riff(FmtChunk(1, 1, 8000, 8) + Chunk("data", "")));
  EXPECT_EQ(empty.status, WavStatus::Success);
  EXPECT_TRUE(empty.data.empty());
}

}  // namespace
}  // namespace velmora::testing
