// TStringList: an ordered list of byte strings with line-oriented text,
// stream and file I/O.
//
// Text joins the lines, each followed by CR LF.  Setting the text (and
// loading from a stream or a file) splits at CR LF, LF or CR; a final line
// break does not make an empty last line, and an empty text is an empty
// list.  Bytes are kept as they are, NUL bytes included.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "velmora/host/classes.h"

namespace velmora::host {

class TStream;

class TStringList : public TObject {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}

  int Count() const { return static_cast<int>(lines_.size()); }
  // Line i; EStringListError outside 0 .. Count() - 1.
  std::string& operator[](int i);
  const std::string& operator[](int i) const;
  const std::string& Strings(int i) const { return (*this)[i]; }
  void set_Strings(int i, const std::string& s) { (*this)[i] = s; }

  // Appends a line and returns its index.
  int Add(const std::string& s);
  void AddStrings(const TStringList& other);
  // Inserts before index i (i == Count() appends).
  void Insert(int i, const std::string& s);
  void Delete(int i);
  void Clear() { lines_.clear(); }
  void Exchange(int i, int j);
  void Assign(const TStringList& other) { lines_ = other.lines_; }

  // Index of the first line equal to s, -1 if none.  The comparison ignores
  // ASCII case unless CaseSensitive is set (the default is case-blind).
  int IndexOf(std::string_view s) const;
  bool CaseSensitive() const { return case_sensitive_; }
  void set_CaseSensitive(bool v) { case_sensitive_ = v; }

  // Name=value lines: the name is the text before the first '='.
  std::string Names(int i) const;
  std::string ValueFromIndex(int i) const;
  // Index of the first line whose name is `name`, -1 if none.
  int IndexOfName(std::string_view name) const;
  // The value of the first line named `name`; empty if none.
  std::string Values(std::string_view name) const;
  // Replaces the value of the line named `name`, or appends "name=value";
  // an empty value deletes the line.
  void set_Values(std::string_view name, const std::string& value);

  // Every line followed by CR LF.
  std::string Text() const;
  void set_Text(std::string_view text);

  // Replaces the list with the lines of the stream from its position to its
  // end.
  void LoadFromStream(TStream& stream);
  // Replaces the list with the lines of the file (EFOpenError if it cannot
  // be opened).
  void LoadFromFile(const std::string& file_name);
  // Writes Text() at the stream's position.
  void SaveToStream(TStream& stream) const;
  // Creates (or replaces) the file with Text().
  void SaveToFile(const std::string& file_name) const;

  const std::vector<std::string>& Lines() const { return lines_; }
  auto begin() const { return lines_.begin(); }
  auto end() const { return lines_.end(); }

 private:
  void Check(int i) const;

  std::vector<std::string> lines_;
  bool case_sensitive_ = false;
};

// Splits text into lines at CR LF, LF or CR; a final break adds no empty
// line.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace velmora::host
