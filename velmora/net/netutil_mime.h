// Scanning MIME message buffers.  A buffer is a pair of pointers: the current
// position and the end (excluded).  No function reads at or beyond the end;
// a null position or end is an empty buffer.
#pragma once

#include <cstdint>
#include <string>

#include "velmora/host/string_list.h"

namespace velmora::net {

// ALineStart := APtr; APtr advances while before AEtx and the byte is not
// 0, LF or CR; ALineLength := the number of bytes passed.
void SearchForLineBreak(const char*& APtr, const char* AEtx, const char*& ALineStart,
                        int32_t& ALineLength);

// Skips one CR if present, then one LF if present.
void SkipLineBreak(const char*& APtr, const char* AEtx);

// Skips empty lines; APtr stops at the start of the first non-empty line (or
// at a zero byte, or at the end).
void SkipNullLines(const char*& APtr, const char* AEtx);

// Appends lines to Lines until an empty line (which is consumed), a zero byte
// (APtr stops at it) or the end.
void CopyLinesFromStreamUntilNullLine(const char*& APtr, const char* AEtx,
                                      host::TStringList& Lines);

// Appends lines to Lines until a line that is a boundary of ABoundary; APtr
// ends after the closing boundary ("--" ABoundary "--") if it is one, else
// after the boundary line.  A zero byte ends the copy with APtr at it.
void CopyLinesFromStreamUntilBoundary(const char*& APtr, const char* AEtx, host::TStringList& Lines,
                                      const std::string& ABoundary);

// Scans for a boundary line (CR LF "--" boundary, or "--" boundary); returns
// its start (its CR LF included) and moves APtr past it as MatchBoundary
// does; nullptr (APtr at the end) when there is none.
const char* SearchForBoundary(const char*& APtr, const char* AEtx, const std::string& ABoundary);

// After an optional leading CR LF, the bytes at ALine must be "--" and
// ABoundary: returns the position after them and after a following CR LF
// when one fits before AEtx; nullptr when they do not match or do not fit.
const char* MatchBoundary(const char* ALine, const char* AEtx, const std::string& ABoundary);

// MatchBoundary followed by "--" (the closing boundary): returns the
// position after the "--" and an optional CR LF; nullptr otherwise.
const char* MatchLastBoundary(const char* ALine, const char* AEtx, const std::string& ABoundary);

// The bytes from AStx up to AEtx; "" when either is null or AEtx precedes
// AStx.
std::string BuildStringFromBuffer(const char* AStx, const char* AEtx);

}  // namespace velmora::net
