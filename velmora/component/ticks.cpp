// The two timer handlers of the tone component.  Both run on the GUI
// thread, between capture messages, so they never overlap the pipeline.

#include "velmora/component/key_player.h"
#include "velmora/component/recording.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"

namespace velmora::tonvel {

// Every 100 ms, whatever StartRealTime says: the latest samples, then the
// latest spectrum.  Between two buffers (and while processing is paused)
// the same results are delivered again.
void TDTMF::ind(host::TObject*) {
  if (DataOsc) DataOsc(this, inwav);
  if (Spektra) Spektra(this, spektr, gl_noise);
  // The sound trigger; on release it completes an open recording.
  recording::TriggerTick(*this);
}

// Every 310 ms: the next character of DTMF_keys is played as a key burst.
// A sequence of n characters plays on ticks 1..n and ends on tick n + 1,
// which empties DTMF_keys.  The position gl_key survives a new write of
// DTMF_keys, so a text written while playing goes on from the same place.
// A character that is no key gives a silent tick.
void TDTMF::ind2(host::TObject*) {
  if (!play_keys) return;
  ++gl_key;
  if (gl_key > static_cast<int64_t>(FDTMF_keys.size())) {
    gl_key = 0;
    play_keys = false;
    FDTMF_keys.clear();
    return;
  }
  const int index = key_player::KeyIndex(FDTMF_keys[static_cast<size_t>(gl_key) - 1]);
  if (index >= 0) key_player::PlayKey(index, FDTMF_volume, FDTMF_duration_ms);
}

}  // namespace velmora::tonvel
