#include "velmora/host/timer.h"

#include "velmora/host/application.h"
#include "velmora/host/properties.h"

namespace velmora::host {

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  UpdateTimer();
}

TTimer::~TTimer() {
  if (id_ != 0) Application().KillTimer(id_);
}

void TTimer::set_Enabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer();
}

void TTimer::set_Interval(uint32_t value) {
  if (value == interval_) return;
  interval_ = value;
  UpdateTimer();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  TApplication& app = Application();
  if (id_ != 0) {
    app.KillTimer(id_);
    id_ = 0;
  }
  // While a reader assigns properties, arm once at the end (Loaded).
  if (!enabled_ || interval_ == 0 || InState(csLoading)) return;
  id_ = app.SetTimer(
      interval_,
      [this] {
        // A copy: the handler may free this timer, and with it OnTimer.
        if (TNotifyEvent handler = OnTimer) handler(this);
      },
      this);
}

const std::vector<PropInfo>& TTimer::PublishedProperties() const {
  static const std::vector<PropInfo> props = {
      BooleanProperty<TTimer>("Enabled", &TTimer::Enabled, &TTimer::set_Enabled, true),
      IntegerProperty<TTimer>("Interval", &TTimer::Interval, &TTimer::set_Interval, 1000),
  };
  return props;
}

}  // namespace velmora::host
