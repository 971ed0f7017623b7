// The mix bus behind the loopback and the file sink: an output whose thread
// is woken late keeps its sound in one piece and holds readers back; an
// output that went idle starts its next sound at the present.

#include "velmora/platform/wave/mix_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace velmora::platform::wave {
namespace {

using std::chrono::milliseconds;

TEST(MixBus, ALateOutputKeepsItsSoundWholeAndHoldsReaders) {
  MixBus bus(8000);
  PcmFormat format{8000, 1, 8};
  BusPlayback out(bus, format);
  Waiter waiter;
  const int64_t before = bus.NowFrame();
  std::vector<uint8_t> high(80, 0xC0), low(80, 0x40);  // +0.5 and -0.5, 10 ms each
  ASSERT_EQ(out.Write(high.data(), high.size(), waiter), high.size());
  // The device thread stalls for far longer than a chunk ...
  std::this_thread::sleep_for(milliseconds(120));
  // ... and while it does, readers may not pass the frames it still owes.
  const int64_t held = bus.SettledUntil();
  EXPECT_LT(bus.ReadableEnd(), held + 1);
  ASSERT_EQ(out.Write(low.data(), low.size(), waiter), low.size());

  std::vector<float> x(static_cast<size_t>(bus.NowFrame() - before + 10));
  bus.Read(before, x.data(), x.size());
  size_t start = 0;
  while (start < x.size() && x[start] == 0.0f) ++start;
  ASSERT_LT(start + 160, x.size());
  EXPECT_EQ(static_cast<int64_t>(before + start + 80), held);
  for (size_t i = 0; i < 80; ++i) ASSERT_EQ(x[start + i], 0.5f) << i;
  for (size_t i = 80; i < 160; ++i) ASSERT_EQ(x[start + i], -0.5f) << i;

  // Idle, it holds nothing; its next sound starts at the present, not where
  // the previous one ended.
  out.Idle();
  EXPECT_EQ(bus.SettledUntil(), INT64_MAX);
  std::this_thread::sleep_for(milliseconds(60));
  const int64_t resumed = bus.NowFrame();
  ASSERT_EQ(out.Write(high.data(), high.size(), waiter), high.size());
  std::vector<float> gap(static_cast<size_t>(resumed - (before + start + 160)));
  bus.Read(before + static_cast<int64_t>(start) + 160, gap.data(), gap.size());
  for (float v : gap) ASSERT_EQ(v, 0.0f);
}

TEST(MixBusConcurrency, OutputsAreMixedAndConvertedToTheBusRate) {
  MixBus bus(44100);
  BusPlayback a(bus, PcmFormat{44100, 1, 16});
  BusPlayback b(bus, PcmFormat{22050, 2, 8});
  Waiter waiter;
  std::vector<uint8_t> quarter(882 * 2), stereo(441 * 2, 0xA0);          // 0.25 and 0.25
  for (size_t i = 0; i < quarter.size(); i += 2) quarter[i + 1] = 0x20;  // 0x2000 = 0.25
  const int64_t before = bus.NowFrame();
  std::thread ta([&] { a.Write(quarter.data(), quarter.size(), waiter); });
  std::thread tb([&] { b.Write(stereo.data(), stereo.size(), waiter); });
  ta.join();
  tb.join();
  std::vector<float> x(static_cast<size_t>(bus.NowFrame() - before + 10));
  bus.Read(before, x.data(), x.size());
  // Each is at the bus rate in mono, and the bus adds them where they meet:
  // the total is the sum of both, whatever their overlap.
  double sum = 0;
  for (float v : x) sum += v;
  EXPECT_NEAR(sum, 0.25 * 882 + 0.25 * 881, 0.5);
  EXPECT_LE(*std::max_element(x.begin(), x.end()), 0.5f);
}

}  // namespace
}  // namespace velmora::platform::wave
