// Interleaved rounds of a benchmark and its floor: a reporter that keeps the
// rate of every run by kind (the name before "/round"), and the summary of
// the medians and of the per-round ratios.  Loopback rates swing a lot from
// run to run on a shared machine, so only ratios within one run mean much.
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"

namespace velmora::bench {

class RoundCollector : public benchmark::ConsoleReporter {
 public:
  // `counter_of(kind)` names the counter that holds a kind's rate
  // ("bytes_per_second", "items_per_second").
  explicit RoundCollector(std::string (*counter_of)(const std::string& kind))
      : counter_of_(counter_of) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      std::string name = r.benchmark_name();
      std::string kind = name.substr(0, name.find("/round"));
      auto it = r.counters.find(counter_of_(kind));
      results[kind].push_back(it == r.counters.end() ? 0.0 : static_cast<double>(it->second));
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::vector<double>> results;

 private:
  std::string (*counter_of_)(const std::string& kind);
};

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// One line: the median rate of `ours` and of `floor` (divided by `scale`,
// in `unit`), and the median, min and max of the per-round ratios.
inline void Summary(const RoundCollector& c, const char* ours, const char* floor, const char* unit,
                    double scale) {
  auto a = c.results.find(ours);
  auto b = c.results.find(floor);
  if (a == c.results.end() || b == c.results.end()) return;
  std::vector<double> ratios;
  for (size_t i = 0; i < a->second.size() && i < b->second.size(); ++i)
    if (b->second[i] > 0) ratios.push_back(a->second[i] / b->second[i]);
  std::sort(ratios.begin(), ratios.end());
  std::printf(
      "%-22s median %8.3f %s   %-16s median %8.3f %s   ratio median %.3f (min %.3f, max %.3f)\n",
      ours, Median(a->second) / scale, unit, floor, Median(b->second) / scale, unit, Median(ratios),
      ratios.empty() ? 0 : ratios.front(), ratios.empty() ? 0 : ratios.back());
}

}  // namespace velmora::bench
