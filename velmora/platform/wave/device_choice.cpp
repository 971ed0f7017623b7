// The back-end table, the choice of default devices, and the state that the
// public queries report (the latest open error, the end of a file source).

#include <array>
#include <atomic>
#include <mutex>
#include <optional>

#include "velmora/platform/wave.h"
#include "velmora/platform/wave/backend.h"
#include "velmora/platform/wave/file_sink.h"
#include "velmora/platform/wave/sound_file.h"

namespace velmora::platform {

namespace wave {

namespace {

// Order of preference for the automatic choice: a real device first; the
// virtual ones only when chosen; none last.
constexpr std::array<const Backend*, 5> kBackends = {
    &kPortAudioBackend, &kLoopbackBackend, &kFileSourceBackend, &kFileSinkBackend, &kNoneBackend,
};

struct ChoiceState {
  std::mutex mutex;
  std::optional<InputChoice> input;
  std::optional<OutputChoice> output;
  std::string last_error;
};

// Never destroyed: device threads may still consult it while the process
// exits.
ChoiceState& State() {
  static auto* state = new ChoiceState;
  return *state;
}

std::atomic<const void*> g_latest_input{nullptr};
std::atomic<bool> g_input_finished{false};

}  // namespace

std::span<const Backend* const> Backends() {
  return kBackends;
}

const Backend& BackendFor(DeviceKind kind) {
  for (const Backend* b : kBackends)
    if (b->kind == kind) return *b;
  return kNoneBackend;
}

void SetLastDeviceError(std::string text) {
  ChoiceState& s = State();
  std::lock_guard lock(s.mutex);
  s.last_error = std::move(text);
}

void NoteInputOpened(const void* device) {
  g_input_finished.store(false);
  g_latest_input.store(device);
}

void NoteInputFinished(const void* device) {
  if (g_latest_input.load() == device) g_input_finished.store(true);
}

}  // namespace wave

using wave::State;

bool SetDefaultInput(InputChoice choice) {
  if (!wave::BackendFor(choice.kind).open_input) {
    wave::SetLastDeviceError(std::string(wave::BackendFor(choice.kind).name) +
                             " cannot be a sound input");
    return false;
  }
  std::lock_guard lock(State().mutex);
  State().input = std::move(choice);
  return true;
}

bool SetDefaultOutput(OutputChoice choice) {
  if (!wave::BackendFor(choice.kind).open_output) {
    wave::SetLastDeviceError(std::string(wave::BackendFor(choice.kind).name) +
                             " cannot be a sound output");
    return false;
  }
  bool forget_sink = false;
  {
    std::lock_guard lock(State().mutex);
    auto& old = State().output;
    forget_sink = old && old->kind == DeviceKind::FileSink &&
                  (choice.kind != DeviceKind::FileSink || choice.path != old->path);
    old = std::move(choice);
  }
  if (forget_sink) wave::ForgetFileSink();
  return true;
}

InputChoice DefaultInput() {
  {
    std::lock_guard lock(State().mutex);
    if (State().input) return *State().input;
  }
  // Probing may take a while (PortAudio starts up): not under the lock.
  for (const wave::Backend* b : wave::Backends())
    if (b->has_default_input && b->has_default_input()) return InputChoice{b->kind, "", false};
  return InputChoice{DeviceKind::None, "", false};
}

OutputChoice DefaultOutput() {
  {
    std::lock_guard lock(State().mutex);
    if (State().output) return *State().output;
  }
  for (const wave::Backend* b : wave::Backends())
    if (b->has_default_output && b->has_default_output()) return OutputChoice{b->kind, ""};
  return OutputChoice{DeviceKind::None, ""};
}

void ResetDeviceChoice() {
  bool had_sink = false;
  {
    std::lock_guard lock(State().mutex);
    had_sink = State().output && State().output->kind == DeviceKind::FileSink;
    State().input.reset();
    State().output.reset();
  }
  if (had_sink) wave::ForgetFileSink();
}

std::string LastDeviceError() {
  std::lock_guard lock(State().mutex);
  return State().last_error;
}

std::string CheckInputFile(const std::string& path) {
  if (path.empty()) return "no input file given";
  // A pipe or standard input can be read once only: it is checked when it
  // is opened, and a failure then is LastDeviceError().
  if (wave::IsStreamPath(path)) return "";
  wave::SoundFileReader reader;
  return reader.Open(path);
}

bool InputFinished() {
  return wave::g_input_finished.load();
}

bool FinishOutputFile() {
  std::string why = wave::FinishFileSink();
  if (!why.empty()) wave::SetLastDeviceError(why);
  return why.empty();
}

}  // namespace velmora::platform
