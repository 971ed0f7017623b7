// One line per event of the tone component.  See tone_events.h.
#include "apps/velmora/tone_events.h"

#include "apps/velmora/command.h"
#include "apps/velmora/session.h"

namespace velmora::app {

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
    PrintLine("GetTone asum=" + std::to_string(asum) +
              " noise_level=" + NumberForHumans(noise_level) + " a0=" + NumberForHumans(a0) +
              " f0=" + NumberForHumans(f0));
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
    PrintLine("Key key=" + text + " a1=" + NumberForHumans(a1) + " a2=" + NumberForHumans(a2) +
              " f1=" + NumberForHumans(f1) + " f2=" + NumberForHumans(f2));
  }
}

void PrintSummary(bool json, const std::string& text) {
  if (json)
    PrintLine(JsonLine().Add("event", "Summary").Add("text", ToUtf8(text)).str());
  else
    PrintLine(ToUtf8(text));
}

}  // namespace velmora::app
