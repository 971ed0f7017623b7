// velmora fetch URL [options]
//
// A small curl over THTTPSend: one request, the body to standard output or
// a file, and optionally the response headers, a trace of the exchange on
// stderr, or a JSON summary.  Exit codes: 0 for any response received, 1 for
// a failed transfer (with the socket's error code and text) or, with
// --fail, a status of 400 or more; 2 for bad usage.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "apps/velmora/command.h"
#include "apps/velmora/fetch_request.h"
#include "velmora/net/httpclient.h"

namespace velmora::app {
namespace {

using Clock = std::chrono::steady_clock;

// Downloads larger than this show a progress line on a terminal.
constexpr int64_t kProgressFrom = 4 << 20;  // bytes

// Header bytes are ISO 8859-1 at best; JSON wants UTF-8.
std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Ends the transfer with Abort once `seconds` have passed, unless the
// request is over first.
class Deadline {
 public:
  Deadline(net::THTTPSend& http, double seconds) {
    if (seconds <= 0) return;
    thread_ = std::thread([this, &http, seconds] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!done_cv_.wait_for(lock, std::chrono::duration<double>(seconds),
                             [this] { return done_; })) {
        expired_ = true;
        http.Abort();
      }
    });
  }
  ~Deadline() { Finish(); }
  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool Expired() {
    std::lock_guard<std::mutex> lock(mutex_);
    return expired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  bool expired_ = false;
  std::thread thread_;
};

// --trace and the progress line, both fed by the socket's hooks.
void WatchTransfer(net::THTTPSend& http, bool trace, bool progress) {
  if (!trace && !progress) return;
  auto received = std::make_shared<int64_t>(0);
  auto shown = std::make_shared<Clock::time_point>(Clock::now());
  http.Sock().OnStatus = [=](host::TObject*, net::THookSocketReason reason,
                             const std::string& value) {
    if (reason == net::HR_ReadCount) {
      *received += std::stoll(value);
      if (progress && *received > kProgressFrom &&
          Clock::now() - *shown > std::chrono::milliseconds(250)) {
        std::fprintf(stderr, "\r%.1f MiB received", static_cast<double>(*received) / (1 << 20));
        *shown = Clock::now();
      }
      return;
    }
    if (!trace || reason == net::HR_WriteCount || reason == net::HR_CanRead) return;
    std::fprintf(stderr, "* %s: %s\n", net::HookSocketReasonName(reason), value.c_str());
  };
  if (!trace) return;
  // The request's header block is the start of what is sent first.
  auto header_done = std::make_shared<bool>(false);
  http.Sock().OnMonitor = [header_done](host::TObject*, bool writing, const void* buffer,
                                        int32_t len) {
    if (!writing || *header_done) return;
    std::string bytes(static_cast<const char*>(buffer), static_cast<size_t>(len));
    size_t end = bytes.find("\r\n\r\n");
    if (end != std::string::npos) {
      bytes.resize(end + 2);
      *header_done = true;
    }
    for (const std::string& line : host::SplitLines(bytes))
      std::fprintf(stderr, "> %s\n", line.c_str());
  };
}

void WriteAll(std::FILE* out, std::string_view bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
    throw WorkFailed("cannot write the output");
}

int RunFetch(const Args& args) {
  if (args.positional.size() != 1) throw UsageError("needs exactly one URL (see --help)");
  const std::string& url = args.positional[0];
  if (url.empty()) throw UsageError("URL is empty");
  net::THTTPSend http;
  const std::string method = PrepareFetch(args, http);
  const double max_time = args.GetDouble("--max-time", 0);
  if (max_time < 0) throw UsageError("--max-time must be 0 or more seconds");
  if (max_time > 0) {
    // Each wait ends by the deadline too, so a silent server cannot hold the
    // transfer past it.
    const double ms = max_time * 1000 + 1;
    if (ms < http.Timeout()) http.set_Timeout(static_cast<int32_t>(ms));
  }
  const bool json = args.Has("--json");
  const bool include = args.Has("--include") || method == "HEAD";
  const std::string output = args.Get("--output", "-");
  const bool progress = ::isatty(STDERR_FILENO) && !args.Has("--trace");
  WatchTransfer(http, args.Has("--trace"), progress);

  const auto start = Clock::now();
  Deadline deadline(http, max_time);
  const bool ok = http.HTTPMethod(method, url);
  deadline.Finish();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (progress && http.Sock().BytesReceived() > kProgressFrom) std::fputc('\n', stderr);
  if (!ok) {
    std::string why = std::to_string(http.Sock().LastError()) + " " + http.Sock().LastErrorText();
    // The socket's own wait ends 1 ms after the deadline: on a busy machine
    // it can end before the deadline's thread wakes, and the limit is still
    // what ended the transfer.
    if (deadline.Expired() || (max_time > 0 && seconds >= max_time))
      why = "--max-time " + args.Get("--max-time") + " s passed (" + why + ")";
    throw WorkFailed(why);
  }
  std::string head;
  for (const std::string& line : http.Headers()) {
    if (args.Has("--trace") && !line.empty()) std::fprintf(stderr, "< %s\n", line.c_str());
    head += line + "\r\n";
  }

  std::FILE* out = stdout;
  if (output != "-") {
    out = std::fopen(output.c_str(), "wb");
    if (!out) throw WorkFailed("cannot create \"" + output + "\"");
  }
  if (!json || output != "-") {
    if (include) WriteAll(out, head);
    WriteAll(out, http.Document().View());
  }
  if (out != stdout && std::fclose(out) != 0) throw WorkFailed("cannot write \"" + output + "\"");
  if (json) {
    std::string headers = "[";
    for (const std::string& line : http.Headers())
      if (!line.empty())
        headers += (headers.size() > 1 ? ", " : "") + JsonQuote(Latin1ToUtf8(line));
    headers += "]";
    std::printf("%s\n", JsonLine()
                            .Add("url", Latin1ToUtf8(url))
                            .Add("method", Latin1ToUtf8(method))
                            .Add("status", http.ResultCode())
                            .Add("reason", Latin1ToUtf8(http.ResultString()))
                            .AddRaw("headers", headers)
                            .Add("content_type", Latin1ToUtf8(http.MimeType()))
                            .Add("download_size", http.Document().Size())
                            .Add("upload_size", http.UploadSize())
                            .Add("time", seconds)
                            .str()
                            .c_str());
  }
  std::fflush(stdout);
  if (args.Has("--fail") && http.ResultCode() >= 400) {
    std::fprintf(stderr, "velmora fetch: the server answered %d %s\n", http.ResultCode(),
                 http.ResultString().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(fetch) {
  return Command{
      "fetch",
      "transfer a URL over HTTP/1.x like curl",
      "velmora fetch URL [options]",
      {{"--request", "METHOD", "the method to send (default GET, or POST with a body)", false,
        "-X"},
       {"--data", "TEXT", "POST TEXT as a form (several are joined with &)", true, "-d"},
       {"--data-binary", "@FILE|TEXT", "POST the bytes of FILE (or TEXT) as they are"},
       {"--form", "NAME=@FILE", "POST FILE as the part NAME of a multipart/form-data body", false,
        "-F"},
       {"--header", "LINE", "add a request header \"Name: value\"", true, "-H"},
       {"--output", "FILE", "write the body to FILE (- for standard output, the default)", false,
        "-o"},
       {"--head", "", "send HEAD and print the response headers", false, "-I"},
       {"--range", "A-B", "ask for bytes A to B (or A- for the rest)", false, "-r"},
       {"--user", "USER:PASS", "Basic authentication for the server", false, "-u"},
       {"--proxy", "HOST:PORT", "use an HTTP proxy (a CONNECT tunnel for https)", false, "-x"},
       {"--proxy-user", "USER:PASS", "Basic authentication for the proxy"},
       {"--cookie", "NAME=VALUE", "send cookies (\"a=1; b=2\")", true, "-b"},
       {"--http0.9", "", "send an HTTP/0.9 request"},
       {"--http1.0", "", "send HTTP/1.0 (the default)"},
       {"--http1.1", "", "send HTTP/1.1"},
       {"--max-time", "SECONDS", "give up after SECONDS", false, "-m"},
       {"--cacert", "FILE", "verify HTTPS servers against the CA certificates in FILE"},
       {"--insecure", "", "do not verify HTTPS servers", false, "-k"},
       {"--include", "", "write the response headers before the body", false, "-i"},
       {"--trace", "", "print the request and response headers and socket events on stderr"},
       {"--json", "", "print one JSON summary (status, reason, headers, sizes, time)"},
       {"--fail", "", "exit with 1 when the status is 400 or more"}},
      "Sends one request and writes the response body to standard output (or\n"
      "--output FILE).  HTTPS servers are verified against the system's CA\n"
      "bundle (" +
          std::string(kSystemCaBundle) +
          ") unless --cacert or --insecure says otherwise.\n"
          "With --json the body goes only to --output FILE, and standard output\n"
          "carries the summary.  Any response is success (exit 0), unless --fail\n"
          "and a status of 400 or more; a failed transfer prints the socket's\n"
          "error code and text, e.g.\n"
          "  velmora fetch: 10061 Connection refused\n"
          "and exits with 1.",
      RunFetch};
}

}  // namespace velmora::app
