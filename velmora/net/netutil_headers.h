// Header, parameter, URL and e-mail address helpers of the network units.
//
// "Trimmed" here means without the bytes 0..32 at either end (blanks and
// control characters), unlike TrimSP, which removes spaces only.
#pragma once

#include <cstdint>
#include <string>

#include "velmora/host/string_list.h"

namespace velmora::net {

// Takes a URL apart.  Defaults: protocol "http", port "80" ("443" for
// https, "21" for ftp, compared upper-cased), user, password and parameters
// empty.  The protocol is the text before "://" when present; user
// information (user[:password]) is the text before the first "@" when that
// "@" comes before the first "/"; the host part runs to the next "/"; a host
// part in "[" "]" is an IPv6 literal, optionally followed by ":" and the
// port, otherwise the host part is split at its first ":" into host and
// port; an empty host becomes "localhost".  Path is "/" + the path text up to
// its first "?", Para the text after that "?".  Returns "/" + the whole path
// text, query included.
std::string ParseURL(const std::string& URL, std::string& Prot, std::string& User,
                     std::string& Pass, std::string& Host, std::string& Port, std::string& Path,
                     std::string& Para);

// One header from Value starting at line Index, with its continuation lines
// joined: a following line (never the last line of the list) whose first
// byte, after its tabs became spaces, is a space, a double quote, ":" or "="
// is appended trimmed after one space.  An empty line ends the header.  The
// result has no trailing blanks; Index is left at the next unconsumed line.
// An Index outside the list gives "" and advances by one.
std::string NormalizeHeader(host::TStringList& Value, int32_t& Index);

// Rewrites each header line "name: value" of Value as "name= value": the
// first ":" becomes "=", unless an "=" comes before it.
void HeadersToList(host::TStringList& Value);

// Rewrites the first "=" of each line of Value as ":".
void ListToHeaders(host::TStringList& Value);

// The value of Parameter in a ";"-separated list such as a Content-Type
// header: the first field that begins with the name (compared upper-cased)
// followed by "=" gives the trimmed text after the "=", unquoted.  A field
// that is exactly the name gives "".  "" when no field matches.
std::string GetParameter(const std::string& Value, const std::string& Parameter);

// Clears Parameters and fills it with the trimmed fields of Value separated
// by Delimiter (delimiters inside double quotes do not separate).
void ParseParametersEx(const std::string& Value, const std::string& Delimiter,
                       host::TStringList& Parameters);

// ParseParametersEx with ";".
void ParseParameters(const std::string& Value, host::TStringList& Parameters);

// Index of the first line of List that begins with Value, compared
// upper-cased (ASCII); -1 if none.
int32_t IndexByBegin(const std::string& Value, const host::TStringList& List);

// The address of an e-mail address text: the trimmed text after the first
// "<" and before the following ">" (each step keeps the whole text when its
// delimiter is missing).
std::string GetEmailAddr(const std::string& Value);

// The display name of an e-mail address text: the text between the first
// two double quotes; else the text before "<"; else the text between "("
// and the following ")"; else "".  Trimmed.
std::string GetEmailDesc(const std::string& Value);

// Removes the empty lines at the end of Value.
void StringsTrim(host::TStringList& Value);

}  // namespace velmora::net
