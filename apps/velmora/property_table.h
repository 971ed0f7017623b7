// The published properties of the tone component as the command line knows
// them: one row per property with its type, its value after creation, its
// unit, what it does and the values the commands accept.  `velmora
// properties` prints the table and `--set` checks every value against it.
//
// The component's own setters store any value (a host may have its reasons);
// the command line refuses what would give a meaningless result, such as a
// two-bin spectrum, a tone above the Nyquist frequency or a silent burst.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

struct PropertyRow {
  const char* name;
  const char* type;           // Integer, Boolean, string, Twindow, Tbits
  const char* default_value;  // after creation ("" for an empty string)
  const char* unit;           // "" when the value has none
  const char* meaning;        // one line
  int64_t min = 0, max = 0;   // Integer: the accepted range
  const char* accepted = "";  // other types: the accepted values in words
  // string: the characters allowed (nullptr: any text).
  const char* charset = nullptr;
};

// Every published property of TDTMF, in declaration order.
const std::vector<PropertyRow>& PropertyTable();
// The row of `name` (exact, then ignoring ASCII case); nullptr if none.
const PropertyRow* FindPropertyRow(std::string_view name);
// The accepted values in words: "1..100" with the unit, or the row's text.
std::string AcceptedText(const PropertyRow& row);
// Throws UsageError ("--set NAME=VALUE: ...") when `value` is text the
// commands do not accept for the property.  Integers and Booleans are
// checked for their form here too, so one message names the whole range.
void CheckSetting(const PropertyRow& row, std::string_view value);

}  // namespace velmora::app
