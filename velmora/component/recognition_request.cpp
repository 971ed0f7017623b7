// The recognition request over THTTPSend, TDTMF::recognize_flac and the
// hand-off of a completed recording.
//
// Everything runs on the GUI thread and blocks it: the encoder (at most
// kEncoderTimeoutMs), the connection, the TLS handshake and the exchange
// (each wait for data bounded by the HTTP client's time-out).

#include <utility>

#include "velmora/component/recognition.h"
#include "velmora/component/tonvel.h"
#include "velmora/component/unit_state.h"
#include "velmora/host/streams.h"
#include "velmora/host/string_list.h"
#include "velmora/host/text.h"
#include "velmora/net/httpclient.h"

namespace velmora::tonvel {

namespace {

// All of `data` from its start; its position is left at the end.
std::string ReadAll(host::TStream& data) {
  data.set_Position(0);
  std::string bytes(static_cast<size_t>(std::max<int64_t>(data.Size(), 0)), '\0');
  int64_t got = 0;
  while (got < static_cast<int64_t>(bytes.size())) {
    const int64_t n = data.Read(bytes.data() + got, static_cast<int64_t>(bytes.size()) - got);
    if (n <= 0) break;
    got += n;
  }
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

}  // namespace

void post_multipart(const std::string& URL, const std::string& PartName,
                    const std::string& FileName, std::string& Reply, host::TStream& Data,
                    const std::string& CAFile) {
  Reply.clear();
  const std::string boundary = recognition::MakeBoundary();
  net::THTTPSend http;
  const std::string body = recognition::MultipartBody(boundary, PartName, FileName, ReadAll(Data));
  http.Document().WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
  http.set_MimeType(recognition::RequestMimeType(boundary));
  // The recording goes only to the service whose certificate checks out.
  if (net::TCustomSSL* ssl = http.Sock().SSL()) {
    ssl->set_VerifyCert(true);
    ssl->set_CertCAFile(CAFile.empty() ? std::string(recognition::kSystemCaBundle) : CAFile);
  }
  // The status is not looked at: whatever the document holds afterwards is
  // the reply, a partial one included.  A request that failed before its
  // response was read (no connection, a refused handshake) leaves its own
  // body there, which is no reply.
  if (!http.HTTPMethod("POST", URL) && http.Document().View() == body) return;
  http.Document().set_Position(0);
  host::TStringList lines;
  lines.LoadFromStream(http.Document());
  Reply = host::Utf8ToAnsi(lines.Text());
}

void TDTMF::recognize_flac(const char* FileName) {
  const std::string name = FileName ? FileName : "";
  std::string reply;
  {
    // Read-only: a recording that may not be written is sent all the same.
    // A file that cannot be opened raises here: no request, no event.
    host::TFileStream data(name, host::fmOpenRead);
    post_multipart(FTriggerOff_Recognize_URL, std::string(recognition::kFieldName), name, reply,
                   data, FTriggerOff_Recognize_CAFile);
  }
  const recognition::ReplyFields f = recognition::ParseReply(reply);
  if (TriggerOffGSA)
    TriggerOffGSA(this, f.full_answer.c_str(), f.flag.c_str(), f.text.c_str(), f.accuracy);
}

namespace recognition {

void HandOff(TDTMF& owner) {
  const std::string encoder = FindEncoder();
  if (encoder.empty()) {
    SetLastFailure(
        "no FLAC encoder: neither plugins/flac beside the executable nor flac on the PATH");
    return;
  }
  const EncodeResult encoded = EncodeFlac(encoder, temp_gsa);
  if (!encoded) {
    SetLastFailure(encoded.failure);
    return;
  }
  SetLastFailure("");
  owner.recognize_flac(encoded.flac_path.c_str());
}

}  // namespace recognition

}  // namespace velmora::tonvel
