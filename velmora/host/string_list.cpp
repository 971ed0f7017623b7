#include "velmora/host/string_list.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "velmora/host/exception.h"
#include "velmora/host/streams.h"
#include "velmora/host/text.h"

namespace velmora::host {

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    // Jump to the next break; memchr on LF first, since CR LF and LF are
    // the common breaks, then look for a lone CR before it.
    const void* lf = std::memchr(text.data() + i, '\n', text.size() - i);
    size_t next =
        lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
    const void* cr = std::memchr(text.data() + i, '\r', next - i);
    if (cr) next = static_cast<size_t>(static_cast<const char*>(cr) - text.data());
    if (next >= text.size()) break;
    lines.emplace_back(text.substr(start, next - start));
    i = next + ((text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1);
    start = i;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

void TStringList::Check(int i) const {
  if (i < 0 || i >= Count()) {
    throw EStringListError("List index out of bounds (" + std::to_string(i) + ")");
  }
}

std::string& TStringList::operator[](int i) {
  Check(i);
  return lines_[static_cast<size_t>(i)];
}

const std::string& TStringList::operator[](int i) const {
  Check(i);
  return lines_[static_cast<size_t>(i)];
}

int TStringList::Add(const std::string& s) {
  lines_.push_back(s);
  return Count() - 1;
}

void TStringList::AddStrings(const TStringList& other) {
  if (&other == this) {
    std::vector<std::string> copy = lines_;
    lines_.insert(lines_.end(), copy.begin(), copy.end());
    return;
  }
  lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
}

void TStringList::Insert(int i, const std::string& s) {
  if (i != Count()) Check(i);
  lines_.insert(lines_.begin() + i, s);
}

void TStringList::Delete(int i) {
  Check(i);
  lines_.erase(lines_.begin() + i);
}

void TStringList::Exchange(int i, int j) {
  Check(i);
  Check(j);
  std::swap(lines_[static_cast<size_t>(i)], lines_[static_cast<size_t>(j)]);
}

int TStringList::IndexOf(std::string_view s) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (case_sensitive_ ? lines_[i] == s : SameText(lines_[i], s)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Names(int i) const {
  const std::string& line = (*this)[i];
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int i) const {
  const std::string& line = (*this)[i];
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    size_t eq = lines_[i].find('=');
    if (eq == std::string::npos) continue;
    std::string_view n(lines_[i].data(), eq);
    if (case_sensitive_ ? n == name : SameText(n, name)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::set_Values(std::string_view name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + value;
  if (i >= 0) {
    lines_[static_cast<size_t>(i)] = std::move(line);
  } else {
    lines_.push_back(std::move(line));
  }
}

std::string TStringList::Text() const {
  size_t total = 0;
  for (const auto& l : lines_) total += l.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& l : lines_) {
    text += l;
    text += "\r\n";
  }
  return text;
}

void TStringList::set_Text(std::string_view text) {
  lines_ = SplitLines(text);
}

void TStringList::LoadFromStream(TStream& stream) {
  int64_t size = stream.Size() - stream.Position();
  std::string bytes;
  if (size > 0) {
    bytes.resize(static_cast<size_t>(size));
    int64_t n = 0;
    while (n < size) {
      int64_t got = stream.Read(bytes.data() + n, size - n);
      if (got <= 0) break;
      n += got;
    }
    bytes.resize(static_cast<size_t>(n));
  }
  set_Text(bytes);
}

void TStringList::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TStringList::SaveToStream(TStream& stream) const {
  std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStringList::SaveToFile(const std::string& file_name) const {
  TFileStream file(file_name, fmCreate);
  SaveToStream(file);
}

}  // namespace velmora::host
