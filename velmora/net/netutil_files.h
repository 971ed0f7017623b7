// Dumps, stream transfers and temporary files for the network units.
#pragma once

#include <cstdint>
#include <string>

#include "velmora/host/streams.h"

namespace velmora::net {

// Writes DumpStr(Buffer) as one line (ending in LF) to DumpFile, replacing
// an existing file.  A file that cannot be created raises
// host::EFCreateError naming it; a short write raises host::EWriteError.
void Dump(const std::string& Buffer, const std::string& DumpFile);

// Writes DumpExStr(Buffer) as one line to DumpFile, as Dump does.
void DumpEx(const std::string& Buffer, const std::string& DumpFile);

// Up to Len bytes read from the stream's position; the result is as long as
// what was read (empty for Len of 0 or less).
std::string ReadStrFromStream(host::TStream& Stream, int32_t Len);

// Writes every byte of Value at the stream's position; a short write raises
// host::EWriteError, so no part of Value is lost silently.
void WriteStrToStream(host::TStream& Stream, const std::string& Value);

// Creates a new, unique file in Dir (the system's temporary directory, from
// TMPDIR or /tmp, when Dir is empty) whose name begins with Prefix, and
// returns its full name; the file exists and is empty when this returns.
// "" when no file could be created.
std::string GetTempFile(const std::string& Dir, const std::string& Prefix);

}  // namespace velmora::net
