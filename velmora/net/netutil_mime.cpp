#include "velmora/net/netutil_mime.h"

#include <cstring>

namespace velmora::net {

namespace {

bool Empty(const char* p, const char* end) {
  return p == nullptr || end == nullptr || p >= end;
}

// True when the N bytes of Text are at P and fit before End.
bool At(const char* p, const char* end, const char* text, size_t n) {
  return p <= end && static_cast<size_t>(end - p) >= n && std::memcmp(p, text, n) == 0;
}

// Skips one CR LF at P if both fit before End.
const char* SkipCRLF(const char* p, const char* end) {
  return At(p, end, "\r\n", 2) ? p + 2 : p;
}

// The position right after "--" and the boundary (with an optional CR LF
// before them), or nullptr.
const char* AfterBoundaryText(const char* ALine, const char* AEtx, const std::string& ABoundary) {
  if (Empty(ALine, AEtx)) return nullptr;
  const char* p = SkipCRLF(ALine, AEtx);
  if (!At(p, AEtx, "--", 2)) return nullptr;
  p += 2;
  if (!At(p, AEtx, ABoundary.data(), ABoundary.size())) return nullptr;
  return p + ABoundary.size();
}

}  // namespace

void SearchForLineBreak(const char*& APtr, const char* AEtx, const char*& ALineStart,
                        int32_t& ALineLength) {
  ALineStart = APtr;
  ALineLength = 0;
  if (Empty(APtr, AEtx)) return;
  while (APtr < AEtx && *APtr != '\0' && *APtr != '\n' && *APtr != '\r') ++APtr;
  ALineLength = static_cast<int32_t>(APtr - ALineStart);
}

void SkipLineBreak(const char*& APtr, const char* AEtx) {
  if (Empty(APtr, AEtx)) return;
  if (*APtr == '\r') ++APtr;
  if (APtr < AEtx && *APtr == '\n') ++APtr;
}

void SkipNullLines(const char*& APtr, const char* AEtx) {
  while (!Empty(APtr, AEtx)) {
    const char* start;
    int32_t len;
    const char* p = APtr;
    SearchForLineBreak(p, AEtx, start, len);
    // A non-empty line, or a zero byte, ends the run of empty lines.
    if (len > 0 || p >= AEtx || *p == '\0') return;
    SkipLineBreak(p, AEtx);
    APtr = p;
  }
}

void CopyLinesFromStreamUntilNullLine(const char*& APtr, const char* AEtx,
                                      host::TStringList& Lines) {
  while (!Empty(APtr, AEtx)) {
    const char* start;
    int32_t len;
    SearchForLineBreak(APtr, AEtx, start, len);
    if (len == 0) {
      if (APtr < AEtx && *APtr != '\0') SkipLineBreak(APtr, AEtx);
      return;
    }
    Lines.Add(std::string(start, static_cast<size_t>(len)));
    if (APtr >= AEtx || *APtr == '\0') return;
    SkipLineBreak(APtr, AEtx);
  }
}

void CopyLinesFromStreamUntilBoundary(const char*& APtr, const char* AEtx, host::TStringList& Lines,
                                      const std::string& ABoundary) {
  while (!Empty(APtr, AEtx)) {
    const char* line = APtr;
    if (const char* after = MatchLastBoundary(line, AEtx, ABoundary)) {
      APtr = after;
      return;
    }
    if (const char* after = MatchBoundary(line, AEtx, ABoundary)) {
      APtr = after;
      return;
    }
    const char* start;
    int32_t len;
    SearchForLineBreak(APtr, AEtx, start, len);
    Lines.Add(std::string(start, static_cast<size_t>(len)));
    // A zero byte is no line break: stop there rather than spin on it.
    if (APtr >= AEtx || *APtr == '\0') return;
    SkipLineBreak(APtr, AEtx);
  }
}

const char* SearchForBoundary(const char*& APtr, const char* AEtx, const std::string& ABoundary) {
  if (Empty(APtr, AEtx)) return nullptr;
  for (; APtr < AEtx; ++APtr) {
    if (*APtr != '\r' && *APtr != '-') continue;
    if (const char* after = MatchBoundary(APtr, AEtx, ABoundary)) {
      const char* start = APtr;
      APtr = after;
      return start;
    }
  }
  return nullptr;
}

const char* MatchBoundary(const char* ALine, const char* AEtx, const std::string& ABoundary) {
  const char* p = AfterBoundaryText(ALine, AEtx, ABoundary);
  return p == nullptr ? nullptr : SkipCRLF(p, AEtx);
}

// The closing "--" must follow the boundary text itself; a CR LF between
// them would make it the start of the next line instead.
const char* MatchLastBoundary(const char* ALine, const char* AEtx, const std::string& ABoundary) {
  const char* p = AfterBoundaryText(ALine, AEtx, ABoundary);
  if (p == nullptr || !At(p, AEtx, "--", 2)) return nullptr;
  return SkipCRLF(p + 2, AEtx);
}

std::string BuildStringFromBuffer(const char* AStx, const char* AEtx) {
  if (AStx == nullptr || AEtx == nullptr || AEtx < AStx) return std::string();
  return std::string(AStx, static_cast<size_t>(AEtx - AStx));
}

}  // namespace velmora::net
