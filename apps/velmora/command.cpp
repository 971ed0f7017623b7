#include "apps/velmora/command.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace velmora::app {

bool Args::Has(std::string_view name) const {
  for (const auto& [n, v] : options_)
    if (n == name) return true;
  return false;
}

std::string Args::Get(std::string_view name, std::string_view fallback) const {
  for (const auto& [n, v] : options_)
    if (n == name) return v;
  return std::string(fallback);
}

std::vector<std::string> Args::GetAll(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [n, v] : options_)
    if (n == name) out.push_back(v);
  return out;
}

int64_t Args::GetInt(std::string_view name, int64_t fallback) const {
  if (!Has(name)) return fallback;
  std::string text = Get(name);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty())
    throw UsageError(std::string(name) + " needs a whole number, not \"" + text + "\"");
  return value;
}

double Args::GetDouble(std::string_view name, double fallback) const {
  if (!Has(name)) return fallback;
  std::string text = Get(name);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      !std::isfinite(value))
    throw UsageError(std::string(name) + " needs a number, not \"" + text + "\"");
  return value;
}

void Args::Add(const std::string& name, const std::string& value) {
  options_.emplace_back(name, value);
}

std::map<std::string, Command>& Commands() {
  static std::map<std::string, Command> table;
  return table;
}

bool RegisterCommand(Command command) {
  std::string name = command.name;
  return Commands().emplace(std::move(name), std::move(command)).second;
}

namespace {

// "-x..." with a letter after the dash: a short option, not "-" or "-5".
bool IsShortOption(const std::string& word) {
  return word.size() >= 2 && word[0] == '-' && word[1] != '-' &&
         std::isalpha(static_cast<unsigned char>(word[1]));
}

const OptionSpec* FindOption(const Command& command, const std::string& name, bool short_form) {
  for (const auto& o : command.options)
    if ((short_form ? o.short_name : o.name) == name) return &o;
  return nullptr;
}

}  // namespace

Args ParseArgs(const Command& command, const std::vector<std::string>& argv) {
  Args args;
  bool options_done = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& word = argv[i];
    bool short_form = !options_done && IsShortOption(word);
    if (!short_form && (options_done || word.size() < 2 || word.compare(0, 2, "--") != 0)) {
      args.positional.push_back(word);
      continue;
    }
    if (word == "--") {
      options_done = true;
      continue;
    }
    std::string name = word;
    std::string value;
    bool has_inline = false;
    if (short_form) {
      name = word.substr(0, 2);
      if (word.size() > 2) {
        value = word.substr(2);
        has_inline = true;
      }
    } else if (auto eq = word.find('='); eq != std::string::npos) {
      name = word.substr(0, eq);
      value = word.substr(eq + 1);
      has_inline = true;
    }
    if (name == "--help" || (short_form && name == "-h" && !FindOption(command, name, true))) {
      args.Add("--help", "");
      continue;
    }
    const OptionSpec* option = FindOption(command, name, short_form);
    if (!option)
      throw UsageError("unknown option " + name + " (see velmora " + command.name + " --help)");
    if (option->value_name.empty()) {
      if (has_inline) throw UsageError(name + " takes no value");
    } else if (!has_inline) {
      if (i + 1 >= argv.size()) throw UsageError(name + " needs a value " + option->value_name);
      value = argv[++i];
    }
    if (!option->repeatable && args.Has(option->name)) throw UsageError(name + " is given twice");
    args.Add(option->name, value);
  }
  return args;
}

std::string HelpText(const Command& command) {
  std::ostringstream out;
  out << "usage: " << command.usage << "\n\n" << command.summary << "\n";
  if (!command.description.empty()) out << "\n" << command.description << "\n";
  out << "\noptions:\n";
  auto line = [&](const std::string& left, const std::string& help) {
    out << "  " << left;
    if (left.size() < 24)
      out << std::string(24 - left.size(), ' ');
    else
      out << "\n  " << std::string(24, ' ');
    out << help << "\n";
  };
  for (const auto& o : command.options) {
    std::string left = o.short_name.empty() ? o.name : o.short_name + ", " + o.name;
    line(o.value_name.empty() ? left : left + " " + o.value_name, o.help);
  }
  line("--help", "print this help");
  return out.str();
}

std::string ProgramHelp() {
  std::ostringstream out;
  out << "usage: velmora [<command>] [options]\n\n"
         "Velmora: DTMF keys, spectrum, tones, recordings and a network client.\n"
         "With no command, velmora runs the demo.\n\ncommands:\n";
  for (const auto& [name, c] : Commands()) {
    out << "  " << name;
    if (name.size() < 12) out << std::string(12 - name.size(), ' ');
    out << c.summary << "\n";
  }
  out << "\n`velmora <command> --help` describes a command.\n";
  return out.str();
}

std::string JsonQuote(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string NumberText(double value) {
  // JSON has no NaN or infinity; such a value is written as null.
  if (!std::isfinite(value)) return "null";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, ec == std::errc() ? end : buf);
}

void JsonLine::Key(std::string_view key) {
  text_ += text_.empty() ? "{" : ", ";
  text_ += JsonQuote(key);
  text_ += ": ";
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view value) {
  Key(key);
  text_ += JsonQuote(value);
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, const char* value) {
  return Add(key, std::string_view(value ? value : ""));
}

JsonLine& JsonLine::Add(std::string_view key, double value) {
  Key(key);
  text_ += NumberText(value);
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, int64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Add(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::AddArray(std::string_view key, const std::vector<double>& values) {
  Key(key);
  text_ += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text_ += ", ";
    text_ += NumberText(values[i]);
  }
  text_ += ']';
  return *this;
}

JsonLine& JsonLine::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  text_ += json;
  return *this;
}

std::string JsonLine::str() const {
  return text_.empty() ? "{}" : text_ + "}";
}

}  // namespace velmora::app
