#include "apps/velmora/manual.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "apps/velmora/command.h"
#include "velmora/version.h"

namespace velmora::app {
namespace {

// Text for a man page: backslashes and dashes escaped, and a line that would
// start with a control character ('.' or '\'') kept as text.
std::string Roff(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    line_start = c == '\n';
  }
  return out;
}

// The paragraphs of a text, blank lines separating them.  A paragraph with
// an indented line is laid out by hand (a table, a list): it is kept as it
// is written instead of being filled.
void RoffParagraphs(std::ostringstream& out, const std::string& text) {
  std::vector<std::vector<std::string>> paragraphs(1);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t") != std::string::npos)
      paragraphs.back().push_back(line);
    else if (!paragraphs.back().empty())
      paragraphs.emplace_back();
  }
  for (const auto& lines : paragraphs) {
    if (lines.empty()) continue;
    bool by_hand = false;
    for (const auto& l : lines) by_hand = by_hand || l[0] == ' ' || l[0] == '\t';
    out << ".PP\n" << (by_hand ? ".nf\n" : "");
    for (const auto& l : lines) out << Roff(l) << "\n";
    if (by_hand) out << ".fi\n";
  }
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, delimiter)) parts.push_back(part);
  return parts;
}

bool IsPlainWord(const std::string& word) {
  if (word.empty()) return false;
  for (unsigned char c : word)
    if (!(std::islower(c) || std::isdigit(c) || c == '-' || c == '_' || c == '.')) return false;
  return true;
}

// What an option's value completes to, from its value name: the lowercase
// alternatives as they are ("loopback" in "FILE.wav|loopback"), and file
// names when an alternative names a file or folder (FILE, DIR, OUT.csv).
struct ValueCompletion {
  std::string words;
  bool files = false;
};

ValueCompletion CompleteValue(const std::string& value_name) {
  ValueCompletion completion;
  for (const std::string& part : Split(value_name, '|')) {
    if (IsPlainWord(part))
      completion.words += (completion.words.empty() ? "" : " ") + part;
    else if (part.find("FILE") != std::string::npos || part.find("DIR") != std::string::npos ||
             part.find('.') != std::string::npos)
      completion.files = true;
  }
  return completion;
}

std::string CommandNames() {
  std::string names;
  for (const auto& [name, command] : Commands()) names += (names.empty() ? "" : " ") + name;
  return names;
}

}  // namespace

std::string ManPage() {
  std::ostringstream out;
  out << ".TH VELMORA 1 \"\" \"velmora " << VELMORA_VERSION_TEXT << "\" \"User Commands\"\n"
      << ".SH NAME\nvelmora \\- DTMF keys, spectrum, tones, recordings and a network client\n"
      << ".SH SYNOPSIS\n.B velmora\n[\\fIcommand\\fR] [\\fIoptions\\fR]\n.br\n"
      << ".B velmora \\-\\-version\n"
      << ".SH DESCRIPTION\n"
      << "velmora works with the sound card through the TDTMF component of libvelmora: it "
         "captures sound, prints the spectrum, the tones and the recognised DTMF keys, dials "
         "keys, plays tones, records loud passages, analyses WAV, MP3 and hexadecimal sample "
         "files and turns input noise into random bits; it also offers the library's network "
         "client.  No sound card is needed: a WAV file can serve as the microphone and as the "
         "output, and a loopback device captures what the outputs play.\n"
      << ".PP\nWith no command, velmora runs the demo.  "
         "\\fBvelmora\\fR \\fIcommand\\fR \\fB\\-\\-help\\fR describes a command.\n"
      << ".SH COMMANDS\n";
  for (const auto& [name, command] : Commands()) {
    out << ".SS " << name << "\n"
        << Roff(command.summary) << "\n.PP\n.B \"" << Roff(command.usage) << "\"\n";
    RoffParagraphs(out, command.description);
    for (const OptionSpec& option : command.options) {
      out << ".TP\n";
      if (!option.short_name.empty()) out << "\\fB" << Roff(option.short_name) << "\\fR, ";
      out << "\\fB" << Roff(option.name) << "\\fR";
      if (!option.value_name.empty()) out << " \\fI" << Roff(option.value_name) << "\\fR";
      out << "\n" << Roff(option.help) << "\n";
    }
  }
  out << ".SH EXIT STATUS\n"
         ".TP\n0\nsuccess\n.TP\n1\nthe work failed\n.TP\n2\nbad usage or unreadable input\n"
         ".SH FILES\n"
         ".TP\n\\fIplugins/lame\\fR, \\fIplugins/flac\\fR\n"
         "The MP3 decoder and the FLAC encoder, looked for in a plugins folder beside the "
         "velmora program first, then on the PATH.\n"
         ".SH ENVIRONMENT\n.TP\nPATH\nwhere lame and flac are found when no plugins folder "
         "beside the program holds them.\n"
         ".SH SEE ALSO\n\\fBlame\\fR(1), \\fBflac\\fR(1), \\fBsox\\fR(1)\n";
  return out.str();
}

std::string BashCompletion() {
  std::ostringstream out;
  out << "# bash completion for velmora " << VELMORA_VERSION_TEXT
      << " (made by `velmora help --completion`)\n"
         "_velmora() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev= command=demo opts= words= files=\n"
         "  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  COMPREPLY=()\n"
         "  if ((COMP_CWORD == 1)) && [[ $cur != -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \""
      << CommandNames()
      << " help\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  if ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[1]} != -* ]]; then "
         "command=${COMP_WORDS[1]}; fi\n"
         "  case $command in\n";
  for (const auto& [name, command] : Commands()) {
    out << "    " << name << ")\n      opts=\"";
    for (const OptionSpec& option : command.options) {
      if (!option.short_name.empty()) out << option.short_name << " ";
      out << option.name << " ";
    }
    out << "--help\"\n      case $prev in\n";
    for (const OptionSpec& option : command.options) {
      if (option.value_name.empty()) continue;
      const ValueCompletion value = CompleteValue(option.value_name);
      out << "        " << option.name;
      if (!option.short_name.empty()) out << "|" << option.short_name;
      out << ") words=\"" << value.words << "\" files=" << (value.files ? "1" : "")
          << "; opts= ;;\n";
    }
    out << "      esac ;;\n";
  }
  out << "  esac\n"
         "  if [[ -n $words || -n $files ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         "    [[ -n $files ]] && COMPREPLY+=($(compgen -f -- \"$cur\"))\n"
         "  elif [[ -z $opts ]]; then\n"
         "    return  # a value that is not a file: nothing to offer\n"
         "  elif [[ $cur == -* ]]; then\n"
         "    ((COMP_CWORD == 1)) && opts=\"--help --version -V\"\n"
         "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -F _velmora velmora\n";
  return out.str();
}

std::optional<std::string> ManualPage(std::string_view form) {
  if (form == "--man") return ManPage();
  if (form == "--completion") return BashCompletion();
  return std::nullopt;
}

}  // namespace velmora::app
