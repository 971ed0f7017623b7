// The summary of interleaved benchmark rounds: every run is kept, and after
// the runs the median of each kind and the median of the per-round ratios of
// two kinds are printed.  A run's kind is its name up to "/round".
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "benchmark/benchmark.h"

namespace velmora::bench {

// Keeps every run for the summary.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      std::string name = r.benchmark_name();
      std::string kind = name.substr(0, name.find("/round"));
      auto rate = [&](const char* key) {
        auto it = r.counters.find(key);
        return it == r.counters.end() ? 0.0 : static_cast<double>(it->second);
      };
      // Items per second when the run counts items, else bytes per second.
      results[kind].push_back(rate("items_per_second") > 0 ? rate("items_per_second")
                                                           : rate("bytes_per_second"));
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::vector<double>> results;
};

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

inline void Summary(const Collector& c, const char* ours, const char* floor, const char* unit,
                    double scale) {
  auto a = c.results.find(ours);
  auto b = c.results.find(floor);
  if (a == c.results.end() || b == c.results.end()) return;
  std::vector<double> ratios;
  for (size_t i = 0; i < a->second.size() && i < b->second.size(); ++i)
    if (b->second[i] > 0) ratios.push_back(a->second[i] / b->second[i]);
  std::string per_round;  // in the order the rounds ran
  for (double r : ratios) {
    char text[32];
    std::snprintf(text, sizeof text, " %.2f", r);
    per_round.append(text);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf(
      "%-28s median %10.3f %s   %-28s median %10.3f %s   ratio median %.3f (min %.3f, max %.3f;"
      " rounds%s)\n",
      ours, Median(a->second) / scale, unit, floor, Median(b->second) / scale, unit, Median(ratios),
      ratios.empty() ? 0 : ratios.front(), ratios.empty() ? 0 : ratios.back(), per_round.c_str());
}

// Two kinds compared in the summary: ours against the peer (or floor).
struct Pairing {
  const char* ours;
  const char* floor;
  const char* unit;
  double scale;
};

// The rounds that ran: the most runs of any kind (a filter may leave out
// rounds or kinds).
inline size_t RoundsRun(const Collector& c) {
  size_t rounds = 0;
  for (const auto& [kind, runs] : c.results) rounds = std::max(rounds, runs.size());
  return rounds;
}

// Prints each pairing's summary under a heading with the rounds that ran.
inline void PrintSummaries(const Collector& c, const std::vector<Pairing>& pairings) {
  std::printf("\nSummary over %zu interleaved round%s:\n", RoundsRun(c),
              RoundsRun(c) == 1 ? "" : "s");
  for (const Pairing& p : pairings) Summary(c, p.ours, p.floor, p.unit, p.scale);
}

// Registers every kind once per round (so the kinds interleave round by
// round), runs them, and prints each pairing's summary.
using BenchFn = void (*)(benchmark::State&);
inline int RunInterleaved(int argc, char** argv, int rounds,
                          const std::vector<std::pair<const char*, BenchFn>>& kinds,
                          const std::vector<Pairing>& pairings) {
  for (int round = 1; round <= rounds; ++round) {
    const std::string r = "/round:" + std::to_string(round);
    for (const auto& [name, fn] : kinds)
      benchmark::RegisterBenchmark((name + r).c_str(), fn)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintSummaries(collector, pairings);
  benchmark::Shutdown();
  return 0;
}

}  // namespace velmora::bench
