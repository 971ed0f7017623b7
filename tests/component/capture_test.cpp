// The per-buffer pipeline driven by hand: the component runs without a
// sound device, and the test hands its capture buffer back the way a device
// does (bytes, count, flags, MM_WIM_DATA).  Timers run on a manual clock.
#include "velmora/component/capture.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/component/tonvel_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/host/clock.h"

namespace velmora::testing {
namespace {

using tonvel::TDTMF;

struct ToneEvent {
  int32_t asum;
  double noise_level, a0, f0;
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<host::ManualClock>();
    host::Application().SetClock(clock_);
    dtmf_ = std::make_unique<TDTMF>(nullptr);
    ASSERT_EQ(tonvel::hwi2, nullptr);
    ASSERT_NE(tonvel::fwnd, 0u);
    ASSERT_NE(tonvel::adr2.lpData, nullptr);
    dtmf_->GetTone = [this](host::TObject* sender, int32_t asum, double noise, double a0,
                            double f0) {
      EXPECT_EQ(sender, dtmf_.get());
      tones_.push_back({asum, noise, a0, f0});
    };
  }
  void TearDown() override {
    dtmf_.reset();
    host::Application().SetClock(nullptr);
  }

  InputGuard input_{NoInput()};
  std::shared_ptr<host::ManualClock> clock_;
  std::unique_ptr<TDTMF> dtmf_;
  std::vector<ToneEvent> tones_;
};

TEST_F(CaptureTest, InputOpensWithTheCaptureFormatAndOneZeroedBuffer) {
  const platform::WAVEFORMATEX& f = tonvel::header;
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 1);
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.wBitsPerSample, 8);
  EXPECT_EQ(f.nBlockAlign, 1);
  EXPECT_EQ(f.nAvgBytesPerSec, 44100u);
  EXPECT_EQ(f.cbSize, 0);
  EXPECT_EQ(tonvel::adr2.dwBufferLength, 2048u);
  for (uint32_t i = 0; i < 2048; ++i) ASSERT_EQ(tonvel::adr2.lpData[i], 0) << i;
  EXPECT_TRUE(dtmf_->StartRealTime());
}

TEST_F(CaptureTest, PeakLevelOfEachBuffer) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t level;
  };
  const std::vector<Case> cases = {
      {"silence", std::vector<uint8_t>(2048, 128), 0},
      {"a byte 0", BufferWithPeak(0), 100},
      {"peak 64 above", BufferWithPeak(192), 50},
      {"peak 64 below", BufferWithPeak(64), 50},
      {"byte 255 (99.22)", BufferWithPeak(255), 99},
      {"peak 16 (12.5 to even)", BufferWithPeak(144), 12},
      {"peak 16 below", BufferWithPeak(112), 12},
      {"peak 48 (37.5 to even)", BufferWithPeak(176), 38},
      {"peak 1", BufferWithPeak(129), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tones_.clear();
    Deliver(c.bytes);
    ASSERT_EQ(tones_.size(), 1u);
    EXPECT_EQ(tones_[0].asum, c.level);
    EXPECT_EQ(tonvel::GLVAL, c.level);
    // inwav holds s = byte - 128 of every byte, in order.
    ASSERT_EQ(tonvel::inwav.y.size(), c.bytes.size());
    for (size_t i = 0; i < c.bytes.size(); ++i)
      ASSERT_EQ(tonvel::inwav.y[i], static_cast<double>(c.bytes[i]) - 128.0) << i;
  }
  // A short buffer: only the recorded bytes count.
  Deliver({128, 130, 100});
  EXPECT_EQ(tonvel::inwav.y, (std::vector<double>{0, 2, -28}));
  EXPECT_EQ(tonvel::GLVAL, 22);  // 28 * 100 / 128 = 21.875
  for (int peak = 0; peak <= 128; ++peak) {
    const double exact = peak * 100.0 / 128.0;
    EXPECT_LE(std::abs(tonvel::capture::PeakLevel(peak) - exact), 0.5) << peak;
  }
}

TEST_F(CaptureTest, GateLetsOnlyAFilledBufferThrough) {
  Deliver(BufferWithPeak(192));
  ASSERT_EQ(tones_.size(), 1u);
  const std::vector<double> before = tonvel::inwav.y;
  struct Case {
    const char* what;
    uint32_t flags;
    size_t bytes;
    uint32_t msg;
  };
  const std::vector<Case> refused = {
      {"done only", 1, 2048, platform::MM_WIM_DATA},
      {"prepared only", 2, 2048, platform::MM_WIM_DATA},
      {"done, prepared and begin-loop", 7, 2048, platform::MM_WIM_DATA},
      {"still queued", 0x12, 2048, platform::MM_WIM_DATA},
      {"done, prepared, queued", 0x13, 2048, platform::MM_WIM_DATA},
      {"one byte recorded", 3, 1, platform::MM_WIM_DATA},
      {"nothing recorded", 3, 0, platform::MM_WIM_DATA},
      {"the open notice", 3, 2048, platform::MM_WIM_OPEN},
      {"the close notice", 3, 2048, platform::MM_WIM_CLOSE},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    Deliver(std::vector<uint8_t>(c.bytes, 0), c.flags, c.msg);
    EXPECT_EQ(tones_.size(), 1u);
    EXPECT_EQ(tonvel::inwav.y, before);
    EXPECT_EQ(tonvel::GLVAL, 50);
    EXPECT_EQ(tonvel::adr2.dwFlags, c.flags) << "the header is left as it is";
  }
  // Two bytes are enough.
  Deliver({0, 255});
  ASSERT_EQ(tones_.size(), 2u);
  EXPECT_EQ(tones_[1].asum, 100);
  // The component's message dispatch routes the buffer's notice the same way.
  host::TMessage m;
  m.Msg = platform::MM_WIM_DATA;
  tonvel::adr2.dwFlags = 3;
  dtmf_->Dispatch(m);
  EXPECT_EQ(tones_.size(), 3u);
  m.Msg = 0x3BE;
  tonvel::adr2.dwFlags = 3;
  dtmf_->Dispatch(m);
  EXPECT_EQ(tones_.size(), 3u);
}

TEST_F(CaptureTest, PauseKeepsTheLastResultsForTheTimer) {
  std::vector<std::string> order;
  std::vector<double> osc_peaks;
  dtmf_->DataOsc = [&](host::TObject*, const tonvel::TYSeries& s) {
    order.push_back("DataOsc");
    double peak = 0;
    for (double v : s.y) peak = std::max(peak, std::abs(v));
    osc_peaks.push_back(peak);
  };
  dtmf_->Spektra = [&](host::TObject*, const tonvel::TXYSeries& s, double noise) {
    EXPECT_EQ(&s, &tonvel::spektr) << "the series is handed over, not copied";
    EXPECT_EQ(noise, tonvel::gl_noise);
    order.push_back("Spektra");
  };

  Deliver(BufferWithPeak(192));  // peak 64
  ASSERT_EQ(tones_.size(), 1u);
  dtmf_->set_StartRealTime(false);
  EXPECT_EQ(tonvel::hwi2, nullptr);
  EXPECT_NE(tonvel::fwnd, 0u) << "pausing does not close the input";
  Deliver(BufferWithPeak(0));  // would be peak 128
  Deliver(BufferWithPeak(255));
  EXPECT_EQ(tones_.size(), 1u) << "no GetTone while paused";
  EXPECT_EQ(tonvel::GLVAL, 50);
  ASSERT_EQ(tonvel::inwav.y.size(), 2048u);
  EXPECT_EQ(tonvel::inwav.y[100], 64.0);

  clock_->Advance(250);  // ticks at 100 and 200 ms
  EXPECT_EQ(order, (std::vector<std::string>{"DataOsc", "Spektra", "DataOsc", "Spektra"}));
  EXPECT_EQ(osc_peaks, (std::vector<double>{64, 64}));

  dtmf_->set_StartRealTime(true);
  Deliver(BufferWithPeak(0));
  EXPECT_EQ(tones_.size(), 2u);
  clock_->Advance(50);  // the tick at 300 ms
  EXPECT_EQ(osc_peaks.back(), 128.0);
}

TEST_F(CaptureTest, TimerDeliversDataOscThenSpektraEvery100Ms) {
  std::vector<std::pair<std::string, int64_t>> events;
  dtmf_->DataOsc = [&](host::TObject* sender, const tonvel::TYSeries& s) {
    EXPECT_EQ(sender, dtmf_.get());
    EXPECT_EQ(&s, &tonvel::inwav);
    events.emplace_back("DataOsc", clock_->NowMs());
  };
  dtmf_->Spektra = [&](host::TObject*, const tonvel::TXYSeries&, double) {
    events.emplace_back("Spektra", clock_->NowMs());
  };
  clock_->Advance(99);
  EXPECT_TRUE(events.empty());
  clock_->Advance(1);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], std::make_pair(std::string("DataOsc"), int64_t{100}));
  EXPECT_EQ(events[1], std::make_pair(std::string("Spektra"), int64_t{100}));
  clock_->Advance(400);  // 200 .. 500; the 310 ms timer in between adds nothing
  ASSERT_EQ(events.size(), 10u);
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].first, i % 2 == 0 ? "DataOsc" : "Spektra") << i;
    EXPECT_EQ(events[i].second, static_cast<int64_t>(100 * (i / 2 + 1))) << i;
  }
  // Unassigned events are simply not called.
  dtmf_->DataOsc = nullptr;
  dtmf_->Spektra = nullptr;
  clock_->Advance(1000);
  EXPECT_EQ(events.size(), 10u);
}

TEST_F(CaptureTest, WcardTogglesTheInput) {
  dtmf_->wcard();  // closes
  EXPECT_FALSE(dtmf_->StartRealTime());
  EXPECT_EQ(tonvel::fwnd, 0u);
  EXPECT_EQ(tonvel::adr2.lpData, nullptr);
  EXPECT_EQ(tonvel::capture::InputOwner(), nullptr);
  dtmf_->wcard();  // opens again, with a fresh zero-filled buffer
  EXPECT_TRUE(dtmf_->StartRealTime());
  ASSERT_NE(tonvel::fwnd, 0u);
  ASSERT_NE(tonvel::adr2.lpData, nullptr);
  EXPECT_EQ(tonvel::adr2.lpData[0], 0);
  Deliver(BufferWithPeak(0));
  EXPECT_EQ(tones_.size(), 1u);
}

TEST_F(CaptureTest, WithoutDeviceTheComponentStaysSilent) {
  dtmf_.reset();
  ::testing::internal::CaptureStderr();
  int capture_events = 0;
  {
    TDTMF dtmf(nullptr);
    dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) { ++capture_events; };
    dtmf.Key = [&](host::TObject*, const std::string&, double, double, double, double) {
      ++capture_events;
    };
    dtmf.RecordSound = [&](host::TObject*, int32_t, const std::string&) { ++capture_events; };
    clock_->Advance(1000);
    host::Application().ProcessMessages();
  }
  EXPECT_EQ(capture_events, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace velmora::testing
