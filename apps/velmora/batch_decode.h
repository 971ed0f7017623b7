// The batch path of `velmora decode`: key presses from a sound file without
// the component's devices and message loop.
//
// The file is read through the file source (so it is converted to the
// capture format exactly as when it is played as the microphone) and cut
// into the buffers the capture would hand over: 2048 bytes each, the last
// one shorter, one byte or none left unprocessed.  Blocks of buffers are
// scanned on the machine's cores (tonvel::ScanBuffer); the press detector
// takes their results in order on the calling thread, which runs the exact
// pipeline for the buffers the scan leaves to it.  The presses are those
// the component path gives, with the same start, duration, levels and
// frequencies.  A pipe or standard input is taken one buffer at a time, so
// each press is printed as soon as the buffer that ends it has arrived.
#pragma once

#include <functional>
#include <string>

#include "apps/velmora/command.h"
#include "velmora/component/key_presses.h"

namespace velmora::app {

// Whether the batch path computes what the component path would with these
// arguments: it does not with --set (a property may change the per-buffer
// computation, or make the component record or write files as it plays).
bool BatchDecodeApplies(const Args& args);

// Decodes `path` ("-" is standard input); calls `on_press` for each press in
// order.  Returns "" or one line naming the file and why it cannot be read.
std::string DecodeBatch(const std::string& path, const tonvel::KeyPressSettings& settings,
                        const std::function<void(const tonvel::KeyPress&)>& on_press);

}  // namespace velmora::app
