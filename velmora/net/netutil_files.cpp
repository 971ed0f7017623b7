#include "velmora/net/netutil_files.h"

#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "velmora/net/netutil_text.h"

namespace velmora::net {

namespace {

void WriteLine(const std::string& Line, const std::string& File) {
  host::TFileStream f(File, host::fmCreate);
  f.WriteBuffer(Line.data(), static_cast<int64_t>(Line.size()));
  f.WriteBuffer("\n", 1);
}

}  // namespace

void Dump(const std::string& Buffer, const std::string& DumpFile) {
  WriteLine(DumpStr(Buffer), DumpFile);
}

void DumpEx(const std::string& Buffer, const std::string& DumpFile) {
  WriteLine(DumpExStr(Buffer), DumpFile);
}

std::string ReadStrFromStream(host::TStream& Stream, int32_t Len) {
  if (Len <= 0) return std::string();
  std::string result(static_cast<size_t>(Len), '\0');
  int64_t got = Stream.Read(result.data(), Len);
  result.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return result;
}

void WriteStrToStream(host::TStream& Stream, const std::string& Value) {
  if (!Value.empty()) Stream.WriteBuffer(Value.data(), static_cast<int64_t>(Value.size()));
}

std::string GetTempFile(const std::string& Dir, const std::string& Prefix) {
  std::string dir = Dir;
  if (dir.empty()) {
    const char* env = getenv("TMPDIR");
    dir = env != nullptr && *env != '\0' ? env : "/tmp";
  }
  if (dir.back() != '/') dir += '/';
  std::string name = dir + Prefix + "XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  // mkstemp creates the file exclusively, so no other process can slip in
  // between choosing the name and creating it.
  int fd = mkstemp(buf.data());
  if (fd < 0) return std::string();
  close(fd);
  return std::string(buf.data());
}

}  // namespace velmora::net
