// The one-call GET and POST functions, the multipart body of a file upload,
// and THTTPSend's published properties.
#include <cstdio>

#include "velmora/host/random.h"
#include "velmora/net/httpclient.h"

namespace velmora::net {

std::string NewMultipartBoundary() {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.8X", static_cast<unsigned>(host::Random(2147483647)));
  return std::string(digits) + "_Velmora_boundary";
}

std::string BuildMultipartFile(const std::string& Boundary, const std::string& PartName,
                               const std::string& FileName, host::TStream& Data,
                               host::TStream& Body) {
  const std::string head = "--" + Boundary + CRLF + "content-disposition: form-data; name=\"" +
                           PartName + "\"; filename=\"" + FileName + "\"" + CRLF +
                           "Content-Type: Application/octet-string" + CRLF + CRLF;
  const std::string tail = std::string(CRLF) + "--" + Boundary + "--" + CRLF;
  Body.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  if (Data.Size() > 0) Body.CopyFrom(Data, 0);
  Body.WriteBuffer(tail.data(), static_cast<int64_t>(tail.size()));
  return "multipart/form-data; boundary=" + Boundary;
}

bool HttpGetText(const std::string& URL, host::TStringList& Response) {
  THTTPSend http;
  const bool result = http.HTTPMethod("GET", URL);
  if (result) Response.LoadFromStream(http.Document());
  return result;
}

bool HttpGetBinary(const std::string& URL, host::TStream& Response) {
  THTTPSend http;
  const bool result = http.HTTPMethod("GET", URL);
  if (result) {
    Response.Seek(0, host::soBeginning);
    if (http.Document().Size() > 0) Response.CopyFrom(http.Document(), 0);
  }
  return result;
}

bool HttpPostBinary(const std::string& URL, host::TStream& Data) {
  THTTPSend http;
  if (Data.Size() > 0) http.Document().CopyFrom(Data, 0);
  http.set_MimeType("Application/octet-stream");
  const bool result = http.HTTPMethod("POST", URL);
  Data.SetSize(0);
  Data.Seek(0, host::soBeginning);
  if (result && http.Document().Size() > 0) Data.CopyFrom(http.Document(), 0);
  return result;
}

bool HttpPostURL(const std::string& URL, const std::string& FormText, host::TStream& Data) {
  THTTPSend http;
  http.Document().WriteBuffer(FormText.data(), static_cast<int64_t>(FormText.size()));
  http.set_MimeType("application/x-www-form-urlencoded");
  const bool result = http.HTTPMethod("POST", URL);
  if (result && http.Document().Size() > 0) Data.CopyFrom(http.Document(), 0);
  return result;
}

bool HttpPostFile(const std::string& URL, const std::string& PartName, const std::string& FileName,
                  host::TStream& Data, host::TStringList& ReplyLines) {
  THTTPSend http;
  http.set_MimeType(
      BuildMultipartFile(NewMultipartBoundary(), PartName, FileName, Data, http.Document()));
  const bool result = http.HTTPMethod("POST", URL);
  if (result) ReplyLines.LoadFromStream(http.Document());
  return result;
}

const std::vector<host::PropInfo>& THTTPSend::PublishedProperties() const {
  using C = THTTPSend;
  using host::BooleanProperty;
  using host::IntegerProperty;
  using host::StringProperty;
  static const std::vector<host::PropInfo> list = [] {
    std::vector<host::PropInfo> l = TNetClient().PublishedProperties();
    for (host::PropInfo& p : l) {
      if (p.name == "Timeout") p.stream_default = "90000";
      if (p.name == "TargetPort") p.stream_default = "80";
    }
    l.push_back(StringProperty<C>("MimeType", &C::MimeType, &C::set_MimeType, "text/html"));
    l.push_back(StringProperty<C>("Protocol", &C::Protocol, &C::set_Protocol, "1.0"));
    l.push_back(BooleanProperty<C>("KeepAlive", &C::KeepAlive, &C::set_KeepAlive, true));
    l.push_back(IntegerProperty<C>("KeepAliveTimeout", &C::KeepAliveTimeout,
                                   &C::set_KeepAliveTimeout, 300));
    l.push_back(BooleanProperty<C>("Status100", &C::Status100, &C::set_Status100, false));
    l.push_back(StringProperty<C>("ProxyHost", &C::ProxyHost, &C::set_ProxyHost, ""));
    l.push_back(StringProperty<C>("ProxyPort", &C::ProxyPort, &C::set_ProxyPort, "8080"));
    l.push_back(StringProperty<C>("ProxyUser", &C::ProxyUser, &C::set_ProxyUser, ""));
    l.push_back(StringProperty<C>("ProxyPass", &C::ProxyPass, &C::set_ProxyPass, ""));
    l.push_back(StringProperty<C>("UserAgent", &C::UserAgent, &C::set_UserAgent,
                                  "Mozilla/4.0 (compatible; Velmora)"));
    l.push_back(IntegerProperty<C>("RangeStart", &C::RangeStart, &C::set_RangeStart, 0));
    l.push_back(IntegerProperty<C>("RangeEnd", &C::RangeEnd, &C::set_RangeEnd, 0));
    l.push_back(BooleanProperty<C>("AddPortNumberToHost", &C::AddPortNumberToHost,
                                   &C::set_AddPortNumberToHost, true));
    return l;
  }();
  return list;
}

}  // namespace velmora::net
