#include "velmora/host/text.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

namespace velmora::host {

namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// An iconv descriptor that closes itself.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the well-formed UTF-8 sequence at s (1 when it is malformed).
size_t Utf8SequenceLength(const unsigned char* s, size_t left) {
  unsigned char c = s[0];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || n > left) return 1;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 1;
  }
  return n;
}

// Converts with iconv, replacing what cannot be converted by '?'.  `step`
// tells how many input bytes one unconvertible character takes.
template <class Step>
std::string Convert(const char* to, const char* from, std::string_view in, Step step) {
  Iconv cd(to, from);
  if (!cd.ok()) return std::string(in);
  std::string out;
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    size_t r = iconv(cd.get(), &src, &src_left, &dst, &dst_left);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
      continue;
    }
    // EILSEQ (not convertible or malformed) or EINVAL (cut short at the end).
    size_t skip =
        errno == EINVAL ? src_left : step(reinterpret_cast<const unsigned char*>(src), src_left);
    src += skip;
    src_left -= skip;
    if (dst_left == 0) {
      size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
    }
    *dst++ = '?';
    --dst_left;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<size_t>(dst - out.data()));
  return out;
}

// The case tables of one single-byte code page.
struct CaseTables {
  std::string code_page;
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
};

std::shared_ptr<const CaseTables> BuildTables(const std::string& code_page) {
  auto t = std::make_shared<CaseTables>();
  t->code_page = code_page;
  for (int b = 0; b < 256; ++b) {
    t->upper[b] = static_cast<unsigned char>(AsciiUpper(static_cast<char>(b)));
    t->lower[b] = static_cast<unsigned char>(AsciiLower(static_cast<char>(b)));
  }
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  Iconv decode("WCHAR_T", code_page.c_str());
  Iconv encode(code_page.c_str(), "WCHAR_T");
  if (utf8 && decode.ok() && encode.ok()) {
    auto map = [&](int b, bool up) -> int {
      char in = static_cast<char>(b);
      wchar_t wc = 0;
      char* src = &in;
      size_t src_left = 1;
      char* dst = reinterpret_cast<char*>(&wc);
      size_t dst_left = sizeof wc;
      iconv(decode.get(), nullptr, nullptr, nullptr, nullptr);
      if (iconv(decode.get(), &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
        return b;
      }
      wchar_t mapped = static_cast<wchar_t>(up ? towupper_l(static_cast<wint_t>(wc), utf8)
                                               : towlower_l(static_cast<wint_t>(wc), utf8));
      if (mapped == wc) return b;
      char out[8];
      src = reinterpret_cast<char*>(&mapped);
      src_left = sizeof mapped;
      dst = out;
      dst_left = sizeof out;
      iconv(encode.get(), nullptr, nullptr, nullptr, nullptr);
      if (iconv(encode.get(), &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) ||
          dst - out != 1) {
        return b;  // no single-byte counterpart: keep the byte
      }
      return static_cast<unsigned char>(out[0]);
    };
    for (int b = 0x80; b < 256; ++b) {
      t->upper[b] = static_cast<unsigned char>(map(b, true));
      t->lower[b] = static_cast<unsigned char>(map(b, false));
    }
  }
  if (utf8) freelocale(utf8);
  return t;
}

struct CodePageState {
  std::mutex mutex;
  std::string code_page = "WINDOWS-1251";
  std::shared_ptr<const CaseTables> tables;
};

CodePageState& State() {
  static CodePageState* state = new CodePageState;  // lives for the whole process
  return *state;
}

std::shared_ptr<const CaseTables> Tables() {
  CodePageState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.tables || s.tables->code_page != s.code_page) s.tables = BuildTables(s.code_page);
  return s.tables;
}

std::string MapBytes(std::string_view s, const std::array<unsigned char, 256>& table) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
  return out;
}

}  // namespace

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AnsiUpperCase(std::string_view s) {
  return MapBytes(s, Tables()->upper);
}
std::string AnsiLowerCase(std::string_view s) {
  return MapBytes(s, Tables()->lower);
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsTrimmed(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

int CompareStr(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(AsciiLower(a[i]));
    auto y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto t = Tables();
  for (size_t i = 0; i < a.size(); ++i) {
    if (t->upper[static_cast<unsigned char>(a[i])] != t->upper[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

size_t Pos(std::string_view sub, std::string_view s, size_t offset) {
  if (sub.empty() || offset == 0 || offset > s.size()) return 0;
  size_t p = s.find(sub, offset - 1);
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string StringReplace(std::string_view s, std::string_view from, std::string_view to,
                          bool replace_all, bool ignore_case) {
  if (from.empty()) return std::string(s);
  std::string hay = ignore_case ? UpperCase(s) : std::string(s);
  std::string needle = ignore_case ? UpperCase(from) : std::string(from);
  std::string out;
  size_t start = 0;
  while (true) {
    size_t p = hay.find(needle, start);
    if (p == std::string::npos) break;
    out.append(s.substr(start, p - start));
    out.append(to);
    start = p + from.size();
    if (!replace_all) break;
  }
  out.append(s.substr(start));
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  return Convert(AnsiCodePage().c_str(), "UTF-8", utf8, Utf8SequenceLength);
}

std::string AnsiToUtf8(std::string_view ansi) {
  return Convert("UTF-8", AnsiCodePage().c_str(), ansi,
                 [](const unsigned char*, size_t) -> size_t { return 1; });
}

std::string AnsiCodePage() {
  CodePageState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.code_page;
}

bool SetAnsiCodePage(const std::string& iconv_name) {
  Iconv probe(iconv_name.c_str(), "UTF-8");
  if (!probe.ok()) return false;
  CodePageState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.code_page = iconv_name;
  return true;
}

}  // namespace velmora::host
