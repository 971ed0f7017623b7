// Helpers of the tone output, recording and random-bit tests: choosing the
// sound output, measuring a tone in samples, and a component on a manual
// clock.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "tests/component/tonvel_fixture.h"
#include "velmora/component/tonvel.h"
#include "velmora/host/application.h"
#include "velmora/host/clock.h"
#include "velmora/platform/wave.h"

namespace velmora::testing {

// Chooses the sound output for the test; both choices return to the
// automatic ones afterwards.
class OutputGuard {
 public:
  explicit OutputGuard(platform::OutputChoice choice) { platform::SetDefaultOutput(choice); }
  ~OutputGuard() { platform::ResetDeviceChoice(); }
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;
};

inline platform::OutputChoice LoopbackOutput() {
  return {platform::DeviceKind::Loopback, ""};
}

inline platform::OutputChoice FileOutput(const std::string& path) {
  return {platform::DeviceKind::FileSink, path};
}

// The power of `frequency` in the samples (Goertzel), normalised by the
// squared count so that blocks of different lengths compare.
template <class T>
double TonePower(const std::vector<T>& samples, double rate, double frequency, double mid = 0) {
  const double w = 2 * std::numbers::pi * frequency / rate;
  const double coeff = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (const T& x : samples) {
    const double s0 = (static_cast<double>(x) - mid) + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  const double n = static_cast<double>(samples.size());
  return n > 0 ? power / (n * n) : 0;
}

// The application's clock replaced by a manual one for the test's life.
class ManualTime {
 public:
  ManualTime() : clock_(std::make_shared<host::ManualClock>()) {
    host::Application().SetClock(clock_);
  }
  ~ManualTime() { host::Application().SetClock(nullptr); }
  ManualTime(const ManualTime&) = delete;
  ManualTime& operator=(const ManualTime&) = delete;

  void Advance(int64_t ms) { clock_->Advance(ms); }
  int64_t Now() const { return clock_->NowMs(); }

 private:
  std::shared_ptr<host::ManualClock> clock_;
};

}  // namespace velmora::testing
