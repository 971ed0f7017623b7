// velmora view [--input ...] [--output ...] [--port P] [--bind ADDR]
//              [--seconds N] [--set Name=value]...
//
// Runs the tone component and serves a live page of what it reports (see
// view_page.cpp) with its events as a Server-Sent Events stream (see
// view_feed.h).  The GUI thread only formats each event once and queues it
// for the page server's connection threads; it never waits on a browser.
#include <chrono>
#include <cstdio>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/key_press_output.h"
#include "apps/velmora/session.h"
#include "apps/velmora/view_feed.h"
#include "apps/velmora/view_page.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/application.h"
#include "velmora/net/netcode.h"
#include "velmora/net/pageserver.h"

namespace velmora::app {
namespace {

// The properties the page may change.
constexpr const char* kControls[] = {"FFT_window", "FFT_point", "FFT_noise", "FFT_cut_minusamp",
                                     "DTMF_keys"};
constexpr uint32_t kControlMessage = 0x0401;  // WM_USER + 1
constexpr auto kControlWait = std::chrono::seconds(2);

// Settings from the page, handed to the GUI thread and answered from it.
class ControlQueue {
 public:
  explicit ControlQueue(tonvel::TDTMF& dtmf) : dtmf_(dtmf) {
    wnd_ = host::Application().AllocateHWnd([this](host::TMessage&) { ApplyAll(); });
  }
  ~ControlQueue() { host::Application().DeallocateHWnd(wnd_); }

  // On a connection thread: "Name=value", form-encoded.
  net::PageReply Handle(const std::string& body) {
    const size_t eq = body.find('=');
    if (eq == std::string::npos) return {400, "expected Name=value\n"};
    auto decode = [](std::string s) {
      for (char& c : s)
        if (c == '+') c = ' ';
      return net::DecodeURL(s);
    };
    const std::string name = decode(body.substr(0, eq));
    const std::string value = decode(body.substr(eq + 1));
    bool allowed = false;
    for (const char* c : kControls) allowed = allowed || name == c;
    if (!allowed) return {400, "the page cannot change \"" + name + "\"\n"};
    std::future<std::string> answer;
    {
      std::lock_guard lock(mutex_);
      pending_.push_back({name + "=" + value, {}});
      answer = pending_.back().result.get_future();
    }
    host::Application().PostMessage(wnd_, kControlMessage, 0, 0);
    if (answer.wait_for(kControlWait) != std::future_status::ready)
      return {503, "the component did not answer in time\n"};
    const std::string failure = answer.get();
    return failure.empty() ? net::PageReply{204, ""} : net::PageReply{400, failure + "\n"};
  }

 private:
  struct Pending {
    std::string assignment;
    std::promise<std::string> result;
  };

  // On the GUI thread.
  void ApplyAll() {
    std::deque<Pending> work;
    {
      std::lock_guard lock(mutex_);
      work.swap(pending_);
    }
    for (auto& p : work) {
      try {
        ApplySetting(dtmf_, p.assignment);
        p.result.set_value("");
      } catch (const std::exception& e) {
        // The reason as the command line words it, without the option.
        std::string why = e.what();
        if (why.rfind("--set ", 0) == 0) why.erase(0, 6);
        p.result.set_value(why);
      }
    }
  }

  tonvel::TDTMF& dtmf_;
  host::HWND wnd_{};
  std::mutex mutex_;
  std::deque<Pending> pending_;
};

int RunView(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const std::optional<int64_t> limit = SecondsLimit(args);
  const int64_t port = args.GetInt("--port", 8080);
  if (port < 0 || port > 65535) throw UsageError("--port: " + args.Get("--port") + " is no port");
  const InputSource in = ChooseInput(args);
  // Keys dialled from the page reach a loopback input only through the
  // loopback output.
  if (in.kind == platform::DeviceKind::Loopback && !args.Has("--output"))
    platform::SetDefaultOutput({platform::DeviceKind::Loopback, ""});
  else
    ChooseOutput(args);

  net::PageServerOptions options;
  options.bind_ip = args.Get("--bind", "127.0.0.1");
  options.port = std::to_string(port);
  options.queue_limit = 20;  // 2 s of frames: a browser further behind is dropped
  net::PageServer server(options);

  auto dtmf = std::make_unique<tonvel::TDTMF>(nullptr);
  ApplySettings(*dtmf, args);
  ControlQueue controls(*dtmf);

  ViewFeed feed(
      [&server](std::string_view event, std::string_view json) { server.Publish(event, json); });
  tonvel::TDTMF* d = dtmf.get();
  dtmf->DataOsc = [&feed](host::TObject*, const tonvel::TYSeries& s) { feed.OnTrace(s); };
  dtmf->Spektra = [&feed, d](host::TObject*, const tonvel::TXYSeries& s, double noise) {
    feed.OnSpectrum(
        s, noise, tonvel::GLVAL, tonvel::a0, tonvel::f0,
        {static_cast<int>(d->FFT_window()), d->FFT_point(), d->FFT_noise(), d->FFT_cut_minusamp()});
  };
  // Whole presses come from the press detector (which takes the component's
  // GetTone); the per-buffer key decision is shown beside them.
  PressTracker presses(*dtmf, tonvel::KeyPressSettings{}, [&feed](const tonvel::KeyPress& p) {
    feed.OnPress(std::string(1, p.key), p.start_s, p.duration_s);
  });
  dtmf->Key = [&feed](host::TObject*, const std::string& key, double a1, double a2, double f1,
                      double f2) { feed.OnKey(ToUtf8(key), a1, a2, f1, f2); };
  dtmf->TriggerOff = [&feed](host::TObject*, bool on) { feed.OnTrigger(on); };
  dtmf->RecordSound = [&feed](host::TObject*, int32_t kb, const std::string& status) {
    feed.OnRecord(kb, ToUtf8(status));
  };

  server.AddPage("/", "text/html; charset=utf-8", std::string(ViewPage()));
  server.SetEventPath("/events");
  server.AddPost("/control",
                 [&controls](const std::string& body) { return controls.Handle(body); });
  const std::string failure = server.Start();
  if (!failure.empty()) throw WorkFailed(failure);

  const std::string host = options.bind_ip.find(':') != std::string::npos
                               ? "[" + options.bind_ip + "]"
                               : options.bind_ip;
  PrintLine("Serving the live view on http://" + host + ":" + std::to_string(server.Port()) + "/");
  std::fflush(stdout);
  ReportMissingInput("view");

  const auto started = std::chrono::steady_clock::now();
  RunLoop(limit);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  server.Stop();
  dtmf.reset();
  const net::PageServerStats stats = server.Stats();
  PrintLine("view: " + std::to_string(feed.frames()) + " frames in " + NumberForHumans(seconds) +
            " s, " + std::to_string(stats.streams) + " event streams, " +
            std::to_string(stats.dropped) + " dropped, " + std::to_string(stats.disconnected) +
            " closed by the browser");
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(view) {
  std::vector<OptionSpec> options = InputOptions();
  options.push_back(OutputOption());
  options.push_back({"--port", "P", "the port to serve on (default 8080; 0: any free port)"});
  options.push_back({"--bind", "ADDR", "the address to serve on (default 127.0.0.1)"});
  options.push_back(SecondsOption());
  options.push_back(SetOption());
  return Command{"view",
                 "a live view in the browser: oscilloscope, spectrum, keys, trigger and level",
                 "velmora view [--input FILE.wav|loopback|default|none] [--output ...] [--port P] "
                 "[--bind ADDR] [--seconds N] [--set Name=value]...",
                 options,
                 "Runs the tone component on the input and serves a live page on\n"
                 "http://127.0.0.1:P/ (loopback only unless --bind names another address).  The\n"
                 "page shows the oscilloscope trace and the spectrum of the latest buffer every\n"
                 "100 ms (frequencies in Hz, levels in dB, the strongest tone and the noise level\n"
                 "marked, the DTMF frequencies drawn as guides), the keys as they are recognised\n"
                 "with their times, the trigger and recorder state and the peak level as a\n"
                 "meter.  Its controls change FFT_window, FFT_point, FFT_noise and\n"
                 "FFT_cut_minusamp live and dial keys (DTMF_keys); with --input loopback the\n"
                 "dialled keys are played into the loopback and seen on the page.\n"
                 "\n"
                 "The page needs nothing from the internet.  Its events come as a Server-Sent\n"
                 "Events stream on /events; a browser that cannot keep up is dropped (it\n"
                 "reconnects by itself) rather than slowing the capture.  Ends after --seconds\n"
                 "or with Ctrl-C, printing the frames served and the streams opened and dropped.",
                 RunView};
}

}  // namespace velmora::app
