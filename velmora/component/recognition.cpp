// The recognition request's body, the reply parse and the encoder stage.

#include "velmora/component/recognition.h"

#include <cstdlib>
#include <limits>

#include "velmora/host/paths.h"
#include "velmora/host/random.h"
#include "velmora/host/text.h"
#include "velmora/platform/process.h"

namespace velmora::tonvel {

namespace recognition {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The five reply markers.
constexpr std::string_view kStatusEnd = ",\"id";
constexpr std::string_view kTextStart = "utterance\":\"";
constexpr std::string_view kTextEnd = "\",\"confidence";
constexpr std::string_view kConfidenceStart = "confidence\":";
constexpr std::string_view kConfidenceEnd = "}]}";

std::string g_last_failure;

// The n bytes of `s` from the 1-based position i; fewer at the end, empty
// when n <= 0 or i lies beyond the end.
std::string Copy(const std::string& s, int64_t i, int64_t n) {
  if (i < 1) i = 1;
  if (n <= 0 || i > static_cast<int64_t>(s.size())) return {};
  return s.substr(static_cast<size_t>(i - 1), static_cast<size_t>(n));
}

int64_t PosOf(std::string_view marker, const std::string& s) {
  return static_cast<int64_t>(host::Pos(marker, s));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string MakeBoundary() {
  const auto value = static_cast<uint32_t>(host::Random(2147483647));
  return host::IntToHex(value, 8) + std::string(kBoundarySuffix);
}

std::string MultipartBody(std::string_view boundary, std::string_view part_name,
                          std::string_view file_name, std::string_view data) {
  std::string body;
  body.reserve(data.size() + 2 * boundary.size() + part_name.size() + file_name.size() + 128);
  body.append("--").append(boundary).append(kCrLf);
  body.append("content-disposition: form-data; name=\"")
      .append(part_name)
      .append("\"; filename=\"")
      .append(file_name)
      .append("\"")
      .append(kCrLf);
  body.append("Content-Type: ").append(kPartContentType).append(kCrLf).append(kCrLf);
  body.append(data);
  body.append(kCrLf).append("--").append(boundary).append("--").append(kCrLf);
  return body;
}

std::string RequestMimeType(std::string_view boundary) {
  return std::string(kPartContentType) + ", boundary=" + std::string(boundary);
}

int32_t ConfidencePercent(std::string_view text, const host::TFormatSettings& settings) {
  double value = 0;
  if (!host::TryStrToFloat(text, value, settings)) return 0;
  // The text has the shape TryStrToFloat accepted: blanks, [sign] digits
  // [separator digits] [(e|E) [sign] digits], blanks.  The digits are moved
  // two places (times 100) plus the exponent, and cut at the point.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::string digits;
  int64_t point = 0;  // digits before the decimal point
  size_t i = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++point) digits += text[i];
  if (i < text.size() && text[i] == settings.DecimalSeparator) {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) digits += text[i];
  }
  int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    // Beyond a million places the result is 0 or out of range either way.
    for (; i < text.size() && IsDigit(text[i]); ++i)
      exponent = std::min<int64_t>(exponent * 10 + (text[i] - '0'), 1000000);
    if (exp_negative) exponent = -exponent;
  }
  point += 2 + exponent;
  // The whole part: digits[0, point), padded with zeros beyond the digits.
  uint64_t whole = 0;
  constexpr uint64_t kLimit = uint64_t{1} << 31;
  for (int64_t k = 0; k < point && whole <= kLimit; ++k) {
    const int d =
        k < static_cast<int64_t>(digits.size()) ? digits[static_cast<size_t>(k)] - '0' : 0;
    whole = whole * 10 + static_cast<uint64_t>(d);
  }
  if (negative) {
    return whole >= kLimit ? std::numeric_limits<int32_t>::min() : -static_cast<int32_t>(whole);
  }
  return whole >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(whole);
}

ReplyFields ParseReply(const std::string& reply, const host::TFormatSettings& settings) {
  ReplyFields f;
  const std::string status = Copy(reply, 11, PosOf(kStatusEnd, reply) - 11);
  f.flag = std::string(status == "0" ? kRecognised : kNotRecognised);
  int64_t p = PosOf(kTextStart, reply) + static_cast<int64_t>(kTextStart.size());
  f.text = Copy(reply, p, PosOf(kTextEnd, reply) - p);
  p = PosOf(kConfidenceStart, reply) + static_cast<int64_t>(kConfidenceStart.size());
  f.accuracy = ConfidencePercent(Copy(reply, p, PosOf(kConfidenceEnd, reply) - p), settings);
  f.full_answer = reply;
  return f;
}

ReplyFields ParseReply(const std::string& reply) {
  return ParseReply(reply, host::FormatSettings);
}

std::string FlacName(const std::string& wav_path) {
  const std::string ext = host::ExtractFileExt(wav_path);
  return wav_path.substr(0, wav_path.size() - ext.size()) + ".flac";
}

EncodeResult EncodeFlac(const std::string& encoder, const std::string& wav_path,
                        uint32_t timeout_ms) {
  EncodeResult result;
  const std::string flac = FlacName(wav_path);
  if (host::FileExists(flac)) {
    result.failure = flac + " already exists; the encoder does not overwrite it";
    return result;
  }
  // A name that begins with '-' would read as an option.
  const std::string argument = !wav_path.empty() && wav_path[0] == '-' ? "./" + wav_path : wav_path;
  // No working directory of its own: the encoder finds the recording where
  // this process made it, and writes its output beside it.
  const platform::SpawnResult child = platform::Spawn(encoder, {"--skip=1", argument}, "");
  if (!child) {
    result.failure = "the FLAC encoder could not be started: " + child.error;
    return result;
  }
  const platform::WaitResult done = platform::WaitForExit(child.pid, timeout_ms);
  switch (done.status) {
    case platform::WaitStatus::TimedOut:
      platform::Kill(child.pid);
      result.failure = "the FLAC encoder did not finish " + wav_path + " within " +
                       std::to_string(timeout_ms) + " ms and was stopped";
      return result;
    case platform::WaitStatus::Failed:
      result.failure = "waiting for the FLAC encoder failed: " + done.error;
      return result;
    case platform::WaitStatus::Exited:
      break;
  }
  if (done.exit_code != 0) {
    result.failure = "the FLAC encoder failed on " + wav_path + " (exit status " +
                     std::to_string(done.exit_code) + ")";
    return result;
  }
  if (!host::FileExists(flac)) {
    result.failure = "the FLAC encoder left no " + flac;
    return result;
  }
  result.flac_path = flac;
  return result;
}

std::string FindEncoder() {
  return host::FindExternalProgram("flac");
}

const std::string& LastFailure() {
  return g_last_failure;
}

void SetLastFailure(std::string failure) {
  g_last_failure = std::move(failure);
}

}  // namespace recognition

}  // namespace velmora::tonvel
