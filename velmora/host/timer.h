// TTimer: a periodic timer component that fires OnTimer on the GUI thread.
//
// Enabled (default True) and Interval (milliseconds, default 1000) re-arm the
// timer when written, so the next tick comes one full interval after the
// write.  A disabled timer or one with interval 0 never fires.  A timer may
// be freed inside its own OnTimer handler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmora/host/classes.h"

namespace velmora::host {

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void set_Enabled(bool value);
  uint32_t Interval() const { return interval_; }
  void set_Interval(uint32_t value);

  TNotifyEvent OnTimer;

  std::string ClassName() const override { return "TTimer"; }
  const std::vector<PropInfo>& PublishedProperties() const override;
  void Loaded() override;

 private:
  void UpdateTimer();

  bool enabled_ = true;
  uint32_t interval_ = 1000;
  uint32_t id_ = 0;
};

}  // namespace velmora::host
