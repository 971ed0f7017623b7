// Prints the DTMF keys dialled in a WAV file, one line per key press.
//   print_keys FILE.wav
// The file is chosen as the sound input from code, so no sound card is
// needed: TDTMF captures it buffer by buffer as it would a microphone.
#include <velmora/component/tonvel.h>
#include <velmora/host/application.h>
#include <velmora/platform/wave.h>

#include <cstdio>
#include <string>

using namespace velmora;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.wav\n", argv[0]);
    return 2;
  }
  // fast: each buffer is filled as soon as it is queued, not in real time.
  if (!platform::SetDefaultInput({platform::DeviceKind::FileSource, argv[1], true})) {
    std::fprintf(stderr, "%s\n", platform::LastDeviceError().c_str());
    return 2;
  }
  tonvel::TDTMF dtmf(nullptr);  // opens the default sound input at once
  // GetTone comes with every buffer and Key after it when the buffer holds a
  // key, so a press is a run of buffers with the same key.
  long buffer = 0;
  long key_buffer = -2;
  std::string last_key;
  dtmf.GetTone = [&](host::TObject*, int32_t, double, double, double) { ++buffer; };
  dtmf.Key = [&](host::TObject*, const std::string& key, double a1, double a2, double f1,
                 double f2) {
    if (key != last_key || key_buffer != buffer - 1)
      std::printf("key %s  %.1f dB at %.0f Hz, %.1f dB at %.0f Hz\n", key.c_str(), a1, f1, a2, f2);
    last_key = key;
    key_buffer = buffer;
  };
  // Every event arrives on the thread that runs the loop.
  host::TApplication& app = host::Application();
  app.RunUntil([] { return platform::InputFinished(); }, 60000);
  app.ProcessMessages();  // the notification of the file's last buffer
}
