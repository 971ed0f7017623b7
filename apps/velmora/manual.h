// The program's man page and its bash completion, both made from the command
// table, so that every command and option added appears in them.  The build
// writes them with `velmora help --man` and `velmora help --completion`.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::app {

// velmora(1) in man(7) markup.
std::string ManPage();
// A bash completion script that defines _velmora and binds it to velmora.
std::string BashCompletion();
// "--man" -> ManPage(), "--completion" -> BashCompletion(), else none.
std::optional<std::string> ManualPage(std::string_view form);

}  // namespace velmora::app
