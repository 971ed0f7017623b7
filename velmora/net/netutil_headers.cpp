#include "velmora/net/netutil_headers.h"

#include "velmora/host/text.h"
#include "velmora/net/netutil_text.h"

namespace velmora::net {

namespace {

// "/" + Text, built by appending (g++ 12 misreports the operator+ form).
std::string Slash(const std::string& Text) {
  std::string r(1, '/');
  r += Text;
  return r;
}

}  // namespace

std::string ParseURL(const std::string& URL, std::string& Prot, std::string& User,
                     std::string& Pass, std::string& Host, std::string& Port, std::string& Path,
                     std::string& Para) {
  Prot = "http";
  User.clear();
  Pass.clear();
  Port = "80";
  Para.clear();

  std::string rest = URL;
  const size_t scheme = URL.find("://");
  if (scheme != std::string::npos) {
    Prot = URL.substr(0, scheme);
    rest = URL.substr(scheme + 3);
  }
  const std::string upper = host::UpperCase(Prot);
  if (upper == "HTTPS") Port = "443";
  if (upper == "FTP") Port = "21";

  const size_t at = rest.find('@');
  const size_t slash = rest.find('/');
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    const std::string userinfo = rest.substr(0, at);
    rest.erase(0, at + 1);
    const size_t colon = userinfo.find(':');
    if (colon == std::string::npos) {
      User = userinfo;
    } else {
      User = userinfo.substr(0, colon);
      Pass = userinfo.substr(colon + 1);
    }
  }

  const size_t path_start = rest.find('/');
  const std::string hostpart = rest.substr(0, path_start);
  const std::string pathtext =
      path_start == std::string::npos ? std::string() : rest.substr(path_start + 1);

  if (!hostpart.empty() && hostpart[0] == '[') {
    const size_t close = hostpart.find(']');
    if (close == std::string::npos) {
      Host = hostpart.substr(1);
    } else {
      Host = hostpart.substr(1, close - 1);
      if (close + 1 < hostpart.size() && hostpart[close + 1] == ':') {
        Port = hostpart.substr(close + 2);
      }
    }
  } else {
    const size_t colon = hostpart.find(':');
    if (colon == std::string::npos) {
      Host = hostpart;
    } else {
      Host = hostpart.substr(0, colon);
      Port = hostpart.substr(colon + 1);
    }
  }

  const size_t query = pathtext.find('?');
  if (query == std::string::npos) {
    Path = Slash(pathtext);
  } else {
    Path = Slash(pathtext.substr(0, query));
    Para = pathtext.substr(query + 1);
  }
  if (Host.empty()) Host = "localhost";
  return Slash(pathtext);
}

std::string NormalizeHeader(host::TStringList& Value, int32_t& Index) {
  const int32_t count = Value.Count();
  if (Index < 0 || Index >= count) {
    ++Index;
    return std::string();
  }
  std::string header = Value[Index++];
  if (!header.empty()) {
    // The last line of the list is never a continuation: a reader that has
    // not yet seen the end of the headers may still be receiving it.
    while (Index < count - 1) {
      std::string line = Value[Index];
      if (line.empty()) break;
      for (char& c : line) {
        if (c == '\t') c = ' ';
      }
      const char first = line[0];
      if (first != ' ' && first != '"' && first != ':' && first != '=') break;
      header += ' ';
      header += host::Trim(line);
      ++Index;
    }
  }
  return host::TrimRight(header);
}

void HeadersToList(host::TStringList& Value) {
  for (int i = 0; i < Value.Count(); ++i) {
    std::string& line = Value[i];
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals > colon) line[colon] = '=';
  }
}

void ListToHeaders(host::TStringList& Value) {
  for (int i = 0; i < Value.Count(); ++i) {
    std::string& line = Value[i];
    const size_t equals = line.find('=');
    if (equals != std::string::npos) line[equals] = ':';
  }
}

std::string GetParameter(const std::string& Value, const std::string& Parameter) {
  const std::string name = host::UpperCase(Parameter);
  std::string rest = Value;
  while (!rest.empty()) {
    const std::string field = host::Trim(FetchEx(rest, ";", "\""));
    if (host::UpperCase(field).compare(0, name.size(), name) != 0) continue;
    const std::string after = host::Trim(field.substr(name.size()));
    if (after.empty()) return std::string();
    if (after[0] == '=') return UnquoteStr(host::Trim(after.substr(1)), '"');
    // The name was only the beginning of a longer one: go on.
  }
  return std::string();
}

void ParseParametersEx(const std::string& Value, const std::string& Delimiter,
                       host::TStringList& Parameters) {
  Parameters.Clear();
  std::string rest = Value;
  while (!rest.empty()) Parameters.Add(host::Trim(FetchEx(rest, Delimiter, "\"")));
}

void ParseParameters(const std::string& Value, host::TStringList& Parameters) {
  ParseParametersEx(Value, ";", Parameters);
}

int32_t IndexByBegin(const std::string& Value, const host::TStringList& List) {
  const std::string prefix = host::UpperCase(Value);
  for (int i = 0; i < List.Count(); ++i) {
    if (host::UpperCase(List[i]).compare(0, prefix.size(), prefix) == 0) return i;
  }
  return -1;
}

std::string GetEmailAddr(const std::string& Value) {
  return host::Trim(SeparateLeft(SeparateRight(Value, "<"), ">"));
}

std::string GetEmailDesc(const std::string& Value) {
  const std::string s = host::Trim(Value);
  std::string result;
  if (s.find('"') != std::string::npos) {
    result = SeparateLeft(SeparateRight(s, "\""), "\"");
  } else if (s.find('<') != std::string::npos) {
    result = SeparateLeft(s, "<");
  } else if (s.find('(') != std::string::npos) {
    result = SeparateLeft(SeparateRight(s, "("), ")");
  }
  return host::Trim(result);
}

void StringsTrim(host::TStringList& Value) {
  while (Value.Count() > 0 && Value[Value.Count() - 1].empty()) Value.Delete(Value.Count() - 1);
}

}  // namespace velmora::net
