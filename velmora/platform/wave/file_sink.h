// The file sink's services beyond its back-end record: completing the file
// on request and letting go of it when another output is chosen.
#pragma once

#include <string>

namespace velmora::platform::wave {

// Completes the header of the chosen sink's file; "" or the reason.
std::string FinishFileSink();
// The sink is no longer the choice: its file is completed once its last
// device has closed, and the next sink chosen starts a new file.
void ForgetFileSink();

}  // namespace velmora::platform::wave
