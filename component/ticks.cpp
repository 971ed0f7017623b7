// The two timer handlers of the tone component.  Both run on the GUI
// thread, between capture messages, so they never overlap the pipeline.

#include "component/tonvel.h"
#include "component/unit_state.h"

namespace velmora::tonvel {

// Every 100 ms, whatever StartRealTime says: the latest samples, then the
// latest spectrum.  Between two buffers (and while processing is paused)
// the same results are delivered again.
void TDTMF::ind(host::TObject*) {
  if (DataOsc) DataOsc(this, inwav);
  if (Spektra) Spektra(this, spektr, gl_noise);
  // sound trigger tick, then completing a recording and the recognition
  // hand-off (recording module)
}

// Every 310 ms.  It does nothing until the key player adds its tick here
// (tone output module: the next key of DTMF_keys is synthesised and played).
void TDTMF::ind2(host::TObject*) {}

}  // namespace velmora::tonvel
