// velmora properties [--json]
//
// Lists the published properties of the tone component: type, value after
// creation, unit, meaning and the values --set accepts.
#include <cstdio>
#include <string>

#include "apps/velmora/command.h"
#include "apps/velmora/property_table.h"
#include "apps/velmora/session.h"

namespace velmora::app {
namespace {

int RunProperties(const Args& args) {
  if (!args.positional.empty())
    throw UsageError("takes no arguments, not \"" + args.positional[0] + "\" (see --help)");
  const bool json = args.Has("--json");
  for (const PropertyRow& row : PropertyTable()) {
    if (json) {
      JsonLine line;
      line.Add("name", row.name).Add("type", row.type).Add("default", row.default_value);
      line.Add("unit", row.unit).Add("meaning", row.meaning);
      if (std::string_view(row.type) == "Integer")
        line.Add("min", row.min).Add("max", row.max);
      else
        line.Add("accepted", row.accepted);
      PrintLine(line.str());
    } else {
      std::string text = std::string(row.name) + " (" + row.type + ", default " +
                         (*row.default_value ? row.default_value : "empty");
      if (*row.unit) text += std::string(" ") + row.unit;
      text += ")\n    " + std::string(row.meaning) + "\n    accepted: " + AcceptedText(row);
      PrintLine(text);
    }
  }
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

VELMORA_COMMAND(properties) {
  return Command{"properties",
                 "list the tone component's properties with their defaults and accepted values",
                 "velmora properties [--json]",
                 {JsonOption()},
                 "Lists every published property of the tone component: its type, its value\n"
                 "after creation, its unit, what it does and the values that --set Name=value\n"
                 "accepts on every command that runs the component.  A value outside them is\n"
                 "refused with exit code 2.  --json prints one object per property.",
                 RunProperties};
}

}  // namespace velmora::app
