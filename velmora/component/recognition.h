// The speech-recognition request: a finished recording is encoded by the
// external FLAC encoder, posted as a multipart body to the recognition
// service over HTTPS, and the reply's status, text and confidence are handed
// to TriggerOffGSA.
//
// This header holds the parts that need no network: the request body and its
// boundary, the reply parse with its verdict texts, and the encoder stage.
// The request itself (post_multipart, TDTMF::recognize_flac) and the
// hand-off of a completed recording live in recognition_request.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "velmora/host/format.h"
#include "velmora/host/streams.h"

namespace velmora::net {
class TTCPBlockSocket;
}

namespace velmora::tonvel {

class TDTMF;

// Posts all of `Data` (from its start) as the file part PartName, named
// FileName, of a multipart body to URL with THTTPSend, and returns in Reply
// the response body converted from UTF-8 to the component's code page
// (empty when nothing was received).  Failures are not raised: they leave
// Reply with whatever arrived.  An https server must show a certificate for
// the URL's host signed by an authority of CAFile (empty: the system's
// trusted authorities).
void post_multipart(const std::string& URL, const std::string& PartName,
                    const std::string& FileName, std::string& Reply, host::TStream& Data,
                    const std::string& CAFile = {});

namespace recognition {

// The service's path and query: Russian-language recognition.
constexpr std::string_view kPathAndQuery =
    "/speech-api/v1/recognize?xjerr=1&client=chromium&lang=ru-RU";
// The endpoint a new component posts to (TriggerOff_Recognize_URL).
constexpr std::string_view kDefaultEndpoint =
    "https://www.google.com/speech-api/v1/recognize?xjerr=1&client=chromium&lang=ru-RU";
// The form field that carries the file.
constexpr std::string_view kFieldName = "userfile";
// The content type of the file part.
constexpr std::string_view kPartContentType = "audio/x-flac; rate=44100";
// What follows the eight hexadecimal digits of a boundary.
constexpr std::string_view kBoundarySuffix = "_Velmora_boundary";

// The verdicts, Windows-1251: "Распознано..." and "Не распознано...".
constexpr std::string_view kRecognised = "\xD0\xE0\xF1\xEF\xEE\xE7\xED\xE0\xED\xEE...";
constexpr std::string_view kNotRecognised = "\xCD\xE5 \xF0\xE0\xF1\xEF\xEE\xE7\xED\xE0\xED\xEE...";

// The system's trusted certificate authorities (Debian's bundle).
constexpr std::string_view kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// How long the encoder may run before it is stopped.
constexpr uint32_t kEncoderTimeoutMs = 30000;

// A new boundary: host::Random(2147483647) as exactly eight upper-case
// hexadecimal digits, then kBoundarySuffix (0A3F19C2_Velmora_boundary).
std::string MakeBoundary();

// The request body: "--B" CRLF, the part's content-disposition line naming
// `part_name` and `file_name`, its Content-Type line, an empty line, `data`,
// then CRLF "--B--" CRLF.
std::string MultipartBody(std::string_view boundary, std::string_view part_name,
                          std::string_view file_name, std::string_view data);

// The request's content type: kPartContentType, ", boundary=" and B.
std::string RequestMimeType(std::string_view boundary);

// What a reply says, as TriggerOffGSA hands it over.
struct ReplyFields {
  std::string full_answer;  // the reply itself
  std::string flag;         // kRecognised when the status is exactly "0"
  std::string text;         // between the utterance and confidence markers
  int32_t accuracy = 0;     // the confidence in percent, truncated
};

// Picks the status, the text and the confidence out of `reply` by the first
// occurrence of five fixed markers (no JSON decoding: escapes stay as they
// are).  Missing markers give empty texts and accuracy 0, never an error.
ReplyFields ParseReply(const std::string& reply, const host::TFormatSettings& settings);
ReplyFields ParseReply(const std::string& reply);

// The confidence text (a decimal number with the settings' separator) times
// 100, truncated toward zero as the decimal digits say: "0.29" gives 29
// although 0.29 * 100 is 28.999999999999996 in binary.  Text that is no such
// number gives 0; values beyond the 32-bit range give its limits.
int32_t ConfidencePercent(std::string_view text, const host::TFormatSettings& settings);

// The encoder's output for `wav_path`: the name with its extension replaced
// by ".flac" (FLAC writes NAME.flac beside NAME.wav), or ".flac" appended
// when the name has no extension.
std::string FlacName(const std::string& wav_path);

struct EncodeResult {
  std::string flac_path;  // the file to send; empty on failure
  std::string failure;    // why nothing is to be sent
  explicit operator bool() const { return failure.empty(); }
};

// Runs `encoder` on the recording `wav_path` where it lies (in the current
// directory, with "--skip=1" and the path as its arguments), waits for it at
// most `timeout_ms` (then stops it) and checks that it exited with 0 and
// left FlacName(wav_path).  An existing FLAC file of that name is never
// overwritten: the encoder refuses it, and that is a failure.
EncodeResult EncodeFlac(const std::string& encoder, const std::string& wav_path,
                        uint32_t timeout_ms = kEncoderTimeoutMs);

// The encoder of the hand-off: plugins/flac beside the executable, else flac
// on the PATH; "" when there is none.
std::string FindEncoder();

// The hand-off of a completed recording (temp_gsa), run by the trigger
// tick when TriggerOff_Record_Sound_Recognize is set: the encoder is found
// and run, and its output goes to recognize_flac.  Without an encoder, or
// when it fails or runs too long, nothing is sent and no event is raised
// (LastFailure says why).  A FLAC file that cannot be opened raises.
void HandOff(TDTMF& owner);

// Why the latest hand-off sent nothing (no encoder, the encoder failed or
// ran too long), or "" when it sent its request.  For tools such as
// `velmora record --recognize`.
const std::string& LastFailure();
void SetLastFailure(std::string failure);

}  // namespace recognition

}  // namespace velmora::tonvel
