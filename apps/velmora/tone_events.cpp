// One line per event of the tone component.  See tone_events.h.
#include "apps/velmora/tone_events.h"

#include <initializer_list>
#include <string_view>
#include <utility>

#include "apps/velmora/command.h"
#include "apps/velmora/session.h"

namespace velmora::app {

namespace {

// One line at a time is printed; its memory is kept for the next.
std::string& LineBuffer() {
  static std::string line;
  return line;
}

// Appends " name=value" for each field, the numbers as a person reads them.
void AppendFields(std::string& line,
                  std::initializer_list<std::pair<std::string_view, double>> fields) {
  for (const auto& [name, value] : fields) {
    line += ' ';
    line += name;
    line += '=';
    AppendNumberForHumans(line, value);
  }
}

}  // namespace

void PrintTone(bool json, int32_t asum, double noise_level, double a0, double f0) {
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "GetTone")
                  .Add("asum", asum)
                  .Add("noise_level", noise_level)
                  .Add("a0", a0)
                  .Add("f0", f0)
                  .str());
  } else {
    std::string& line = LineBuffer();
    line.assign("GetTone asum=");
    line += std::to_string(asum);
    AppendFields(line, {{"noise_level", noise_level}, {"a0", a0}, {"f0", f0}});
    PrintLine(line);
  }
}

void PrintKey(bool json, const std::string& key, double a1, double a2, double f1, double f2) {
  const std::string text = ToUtf8(key);
  if (json) {
    PrintLine(JsonLine()
                  .Add("event", "Key")
                  .Add("key", text)
                  .Add("a1", a1)
                  .Add("a2", a2)
                  .Add("f1", f1)
                  .Add("f2", f2)
                  .str());
  } else {
    std::string& line = LineBuffer();
    line.assign("Key key=");
    line += text;
    AppendFields(line, {{"a1", a1}, {"a2", a2}, {"f1", f1}, {"f2", f2}});
    PrintLine(line);
  }
}

void PrintSummary(bool json, const std::string& text) {
  if (json)
    PrintLine(JsonLine().Add("event", "Summary").Add("text", ToUtf8(text)).str());
  else
    PrintLine(ToUtf8(text));
}

}  // namespace velmora::app
