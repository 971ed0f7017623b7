// File names and paths.  The path delimiter is '/'.
#pragma once

#include <string>
#include <string_view>

namespace velmora::host {

constexpr char PathDelim = '/';

// ParamStr(0): the full path of the running executable; ParamStr(i): the
// i-th command-line argument (empty when there is none).
std::string ParamStr(int index);
// The number of command-line arguments after the program name.
int ParamCount();

// The directory part, with its trailing delimiter ("/a/b/c.wav" -> "/a/b/";
// "c.wav" -> "").
std::string ExtractFilePath(std::string_view file_name);
// The directory part without the trailing delimiter ("/a/b/c.wav" -> "/a/b",
// "/c.wav" -> "/").
std::string ExtractFileDir(std::string_view file_name);
// The name after the last delimiter.
std::string ExtractFileName(std::string_view file_name);
// From the last dot of the name, the dot included (".mp3"); empty when the
// name has no dot.
std::string ExtractFileExt(std::string_view file_name);
// The name with its extension replaced (or added).
std::string ChangeFileExt(std::string_view file_name, std::string_view extension);
// Adds a trailing '/' unless there is one; an empty path stays empty.
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

// True when the name is an existing file that is not a directory.
bool FileExists(const std::string& file_name);
bool DirectoryExists(const std::string& path);
// Removes a file; false when it cannot be removed.
bool DeleteFile(const std::string& file_name);
// The process's current directory (no trailing delimiter).
std::string GetCurrentDir();

// The full path of the external program `name` (lame, flac, ...) that the
// library starts: plugins/<name> beside the running executable when that is
// an executable file, where a program shipped with its own copies keeps them;
// otherwise the first executable <name> in the folders of PATH, where an
// installed system keeps its programs (a PATH that is unset or empty means
// the system's default folders; an empty entry in it, the current
// directory).  Empty when neither is found.  `exe_dir` replaces the
// executable's folder (with or without a trailing delimiter).
std::string FindExternalProgram(std::string_view name);
std::string FindExternalProgram(std::string_view name, std::string_view exe_dir);

}  // namespace velmora::host
