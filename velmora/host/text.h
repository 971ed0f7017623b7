// Text functions on byte strings: case, trimming, comparison, search and
// the conversion between UTF-8 and the single-byte ANSI code page.
//
// The ANSI code page is Windows-1251 (the component's Russian texts are in
// it) unless the program chooses another with SetAnsiCodePage.  AnsiUpperCase
// and AnsiLowerCase change the case of the code page's letters, ASCII and
// national alike; UpperCase and LowerCase change ASCII letters only.
#pragma once

#include <string>
#include <string_view>

namespace velmora::host {

// ASCII case only; other bytes unchanged.
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);

// Case of every letter of the ANSI code page (8-bit, one byte per
// character).
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);

// Removes the bytes 0..32 (blanks and control characters) at either end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Byte-wise comparison: <0, 0, >0.
int CompareStr(std::string_view a, std::string_view b);
// Comparison ignoring ASCII case.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// Comparison ignoring the case of the ANSI code page's letters.
bool AnsiSameText(std::string_view a, std::string_view b);

// 1-based position of the first `sub` in `s` at or after `offset`, 0 if
// absent (or `sub` empty).
size_t Pos(std::string_view sub, std::string_view s, size_t offset = 1);

// Replaces the first (or every) occurrence of `from`; with ignore_case the
// search ignores ASCII case.
std::string StringReplace(std::string_view s, std::string_view from, std::string_view to,
                          bool replace_all = true, bool ignore_case = false);

// UTF-8 to the ANSI code page.  A character that the code page lacks, and
// every byte of malformed UTF-8, becomes '?'.
std::string Utf8ToAnsi(std::string_view utf8);
// The ANSI code page to UTF-8.  A byte that the code page leaves undefined
// becomes '?'.
std::string AnsiToUtf8(std::string_view ansi);

// The iconv name of the ANSI code page ("WINDOWS-1251").
std::string AnsiCodePage();
// Chooses another single-byte code page by its iconv name; false (and no
// change) when iconv does not know it.
bool SetAnsiCodePage(const std::string& iconv_name);

}  // namespace velmora::host
