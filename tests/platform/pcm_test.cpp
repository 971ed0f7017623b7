// The sample conversions of the file source and the mixer: 8-bit encoding
// (rounding to the nearest, ties to even, and clipping, in the vector loop
// and in its tail alike) and the linear resampler across calls.
#include "velmora/platform/wave/pcm.h"

#include <cstdint>
#include <vector>

#include "gtest/gtest.h"

namespace velmora::platform::wave {
namespace {

TEST(Pcm, EightBitEncodingRoundsAndClipsEverySample) {
  // value in 8-bit steps -> byte: 128 is silence.
  const std::vector<std::pair<float, int>> cases = {
      {0.0f, 128},   {0.5f, 128},   {1.5f, 130},   {2.5f, 130},   {-0.5f, 128},  {-1.5f, 126},
      {0.49f, 128},  {127.4f, 255}, {127.6f, 255}, {-127.6f, 0},  {-128.0f, 0},  {128.0f, 255},
      {300.0f, 255}, {-300.0f, 0},  {1e9f, 255},   {-1e9f, 0},    {64.25f, 192}, {-64.75f, 63},
      {3.5f, 132},   {-2.5f, 126},  {126.5f, 254}, {-100.0f, 28}, {10.0f, 138}};
  std::vector<float> in;
  for (const auto& c : cases) in.push_back(c.first / 128.0f);
  const PcmFormat mono8{44100, 1, 8};
  // Every offset, so each value passes through the eight-sample loop and
  // through the tail.
  for (size_t start = 0; start < 8; ++start) {
    std::vector<float> shifted(start, 0.0f);
    shifted.insert(shifted.end(), in.begin(), in.end());
    std::vector<uint8_t> out(shifted.size());
    EncodeFromFloat(shifted.data(), shifted.size(), mono8, out.data());
    for (size_t i = 0; i < cases.size(); ++i)
      EXPECT_EQ(out[start + i], cases[i].second) << "value " << cases[i].first << " at " << start;
  }
}

TEST(Pcm, ResamplerInterpolatesAcrossCalls) {
  // 22050 Hz to 44100 Hz: every input sample and the midpoint to the next;
  // the last sample of a call is the start of the next one's first step.
  Resampler twice(22050, 44100, 1);
  std::vector<float> out;
  const float first[] = {0.0f, 1.0f, 0.0f, -1.0f};
  twice.Process(first, 4, out);
  EXPECT_EQ(out, (std::vector<float>{0.0f, 0.5f, 1.0f, 0.5f, 0.0f, -0.5f}));
  out.clear();
  const float second[] = {1.0f, 0.5f};
  twice.Process(second, 2, out);
  EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.0f, 1.0f, 0.75f}));
  // 11025 Hz to 44100 Hz: four frames per input sample.
  Resampler four(11025, 44100, 1);
  out.clear();
  const float ramp[] = {0, 4, 8, 12};
  four.Process(ramp, 4, out);
  EXPECT_EQ(out, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  // 44100 Hz to 22050 Hz keeps every other sample.
  Resampler half(44100, 22050, 1);
  out.clear();
  const float many[] = {1, 2, 3, 4, 5, 6, 7};
  half.Process(many, 7, out);
  EXPECT_EQ(out, (std::vector<float>{1, 3, 5}));
}

}  // namespace
}  // namespace velmora::platform::wave
