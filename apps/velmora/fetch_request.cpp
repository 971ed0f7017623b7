#include "apps/velmora/fetch_request.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "velmora/host/text.h"

namespace velmora::app {

namespace {

std::string ReadWholeFile(const std::string& option, const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw UsageError(option + ": cannot read \"" + name + "\"");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool ParseCount(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

// "user:password" (the password may be empty or absent).
void SplitCredentials(const std::string& text, std::string& user, std::string& pass) {
  size_t colon = text.find(':');
  user = text.substr(0, colon);
  pass = colon == std::string::npos ? "" : text.substr(colon + 1);
}

void AddHeader(const std::string& line, net::THTTPSend& http) {
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0)
    throw UsageError("--header needs \"Name: value\", not \"" + line + "\"");
  const std::string name = host::UpperCase(line.substr(0, colon));
  const std::string value = host::Trim(line.substr(colon + 1));
  // The client writes these itself; a header given here replaces its own.
  if (name == "CONTENT-TYPE")
    http.set_MimeType(value);
  else if (name == "USER-AGENT")
    http.set_UserAgent(value);
  else
    http.Headers().Add(line);
}

}  // namespace

void ParseRange(const std::string& text, int64_t& start, int64_t& end) {
  size_t dash = text.find('-');
  if (dash == std::string::npos || !ParseCount(std::string_view(text).substr(0, dash), start))
    throw UsageError("--range needs A-B or A-, not \"" + text + "\"");
  end = 0;
  std::string_view rest = std::string_view(text).substr(dash + 1);
  if (!rest.empty() && (!ParseCount(rest, end) || end < start))
    throw UsageError("--range needs A-B with B >= A, not \"" + text + "\"");
}

std::string PrepareFetch(const Args& args, net::THTTPSend& http) {
  int bodies = args.Has("--data") + args.Has("--data-binary") + args.Has("--form");
  if (bodies > 1) throw UsageError("give only one of --data, --data-binary and --form");
  std::string method = "GET";
  if (args.Has("--data")) {
    std::string body;
    for (const std::string& d : args.GetAll("--data")) body += (body.empty() ? "" : "&") + d;
    http.Document().WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
    http.set_MimeType("application/x-www-form-urlencoded");
    method = "POST";
  } else if (args.Has("--data-binary")) {
    const std::string d = args.Get("--data-binary");
    const std::string body =
        !d.empty() && d[0] == '@' ? ReadWholeFile("--data-binary", d.substr(1)) : d;
    http.Document().WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
    http.set_MimeType("application/x-www-form-urlencoded");
    method = "POST";
  } else if (args.Has("--form")) {
    const std::string f = args.Get("--form");
    size_t eq = f.find("=@");
    if (eq == std::string::npos || eq == 0) throw UsageError("--form needs NAME=@FILE");
    const std::string file = f.substr(eq + 2);
    host::TMemoryStream data;
    const std::string bytes = ReadWholeFile("--form", file);
    data.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    const size_t slash = file.find_last_of('/');
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    http.set_MimeType(net::BuildMultipartFile(net::NewMultipartBoundary(), f.substr(0, eq), base,
                                              data, http.Document()));
    method = "POST";
  }
  if (args.Has("--head")) method = "HEAD";
  if (args.Has("--request")) method = args.Get("--request");
  if (method.empty()) throw UsageError("--request needs a method");

  for (const std::string& h : args.GetAll("--header")) AddHeader(h, http);
  if (args.Has("--range")) {
    int64_t start = 0, end = 0;
    ParseRange(args.Get("--range"), start, end);
    http.set_RangeStart(start);
    http.set_RangeEnd(end);
  }
  std::string user, pass;
  if (args.Has("--user")) {
    SplitCredentials(args.Get("--user"), user, pass);
    http.set_UserName(user);
    http.set_Password(pass);
  }
  if (args.Has("--proxy")) {
    const std::string p = args.Get("--proxy");
    size_t colon = p.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == p.size())
      throw UsageError("--proxy needs HOST:PORT, not \"" + p + "\"");
    std::string host = p.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    http.set_ProxyHost(host);
    http.set_ProxyPort(p.substr(colon + 1));
  }
  if (args.Has("--proxy-user")) {
    if (!args.Has("--proxy")) throw UsageError("--proxy-user needs --proxy");
    SplitCredentials(args.Get("--proxy-user"), user, pass);
    http.set_ProxyUser(user);
    http.set_ProxyPass(pass);
  }
  for (const std::string& c : args.GetAll("--cookie")) {
    std::string rest = c;
    while (!rest.empty()) {
      size_t semi = rest.find(';');
      std::string one = host::Trim(rest.substr(0, semi));
      rest = semi == std::string::npos ? "" : rest.substr(semi + 1);
      if (one.find('=') == std::string::npos || one[0] == '=')
        throw UsageError("--cookie needs NAME=VALUE pairs, not \"" + c + "\"");
      http.Cookies().Add(one);
    }
  }
  int protocols = args.Has("--http0.9") + args.Has("--http1.0") + args.Has("--http1.1");
  if (protocols > 1) throw UsageError("give only one of --http0.9, --http1.0 and --http1.1");
  if (args.Has("--http0.9")) http.set_Protocol("0.9");
  if (args.Has("--http1.0")) http.set_Protocol("1.0");
  if (args.Has("--http1.1")) http.set_Protocol("1.1");

  net::TCustomSSL* ssl = http.Sock().SSLPlugin();
  if (args.Has("--insecure")) {
    ssl->set_VerifyCert(false);
  } else {
    ssl->set_VerifyCert(true);
    ssl->set_CertCAFile(args.Get("--cacert", kSystemCaBundle));
  }
  return method;
}

}  // namespace velmora::app
