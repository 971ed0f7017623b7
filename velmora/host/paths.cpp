#include "velmora/host/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace velmora::host {

namespace {

std::vector<std::string> CommandLine() {
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

std::string SelfExe() {
  std::string buf(256, '\0');
  while (true) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::string ParamStr(int index) {
  if (index == 0) return SelfExe();
  if (index < 0) return {};
  auto args = CommandLine();
  return static_cast<size_t>(index) < args.size() ? args[static_cast<size_t>(index)] : "";
}

int ParamCount() {
  auto args = CommandLine();
  return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

std::string ExtractFilePath(std::string_view file_name) {
  size_t p = file_name.rfind(PathDelim);
  return p == std::string_view::npos ? std::string() : std::string(file_name.substr(0, p + 1));
}

std::string ExtractFileDir(std::string_view file_name) {
  size_t p = file_name.rfind(PathDelim);
  if (p == std::string_view::npos) return {};
  return std::string(file_name.substr(0, p == 0 ? 1 : p));
}

std::string ExtractFileName(std::string_view file_name) {
  size_t p = file_name.rfind(PathDelim);
  return std::string(p == std::string_view::npos ? file_name : file_name.substr(p + 1));
}

std::string ExtractFileExt(std::string_view file_name) {
  std::string name = ExtractFileName(file_name);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(std::string_view file_name, std::string_view extension) {
  size_t slash = file_name.rfind(PathDelim);
  size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::string(file_name) + std::string(extension);
  }
  return std::string(file_name.substr(0, dot)) + std::string(extension);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string s(path);
  // An empty path (the current directory) stays empty rather than becoming
  // the root directory.
  if (!s.empty() && s.back() != PathDelim) s += PathDelim;
  return s;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string s(path);
  while (s.size() > 1 && s.back() == PathDelim) s.pop_back();
  return s;
}

bool FileExists(const std::string& file_name) {
  struct stat st {};
  return !file_name.empty() && ::stat(file_name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& file_name) {
  return ::unlink(file_name.c_str()) == 0;
}

std::string GetCurrentDir() {
  std::string buf(256, '\0');
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return buf;
}

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string SearchPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::string path = env ? env : "";
  if (path.empty()) {
    // What the C library's exec*p functions search when PATH is unset.
    const size_t n = ::confstr(_CS_PATH, nullptr, 0);
    if (n > 1) {
      path.resize(n);
      ::confstr(_CS_PATH, path.data(), n);
      path.resize(n - 1);
    }
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    // An empty or relative entry names a folder below the current one; the
    // result is a full path all the same.
    if (dir.empty() || dir[0] != PathDelim)
      dir = IncludeTrailingPathDelimiter(GetCurrentDir()) + dir;
    std::string candidate = IncludeTrailingPathDelimiter(dir) + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

std::string FindExternalProgram(std::string_view name) {
  return FindExternalProgram(name, ExtractFilePath(ParamStr(0)));
}

std::string FindExternalProgram(std::string_view name, std::string_view exe_dir) {
  // A name with a delimiter would escape both folders.
  if (name.empty() || name.find(PathDelim) != std::string_view::npos) return {};
  const std::string program(name);
  if (!exe_dir.empty()) {
    std::string local = IncludeTrailingPathDelimiter(exe_dir) + "plugins/" + program;
    if (IsExecutableFile(local)) return local;
  }
  return SearchPath(program);
}

}  // namespace velmora::host
