#pragma once

// Runs the registered benchmarks and then prints, for each named pair, the time of ours over
// the time of its reference, both measured in this one process. Under repetitions the mean is
// the figure compared.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct RatioPair {
  std::string ours;
  std::string reference;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
      times_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void print_ratio(const RatioPair& pair) const {
    const auto ours = times_.find(pair.ours);
    const auto reference = times_.find(pair.reference);
    if (ours == times_.end() || reference == times_.end() || reference->second <= 0) return;
    std::printf("ratio %-24s / %-28s %.2f\n", pair.ours.c_str(), pair.reference.c_str(),
                ours->second / reference->second);
  }

 private:
  std::map<std::string, double> times_;
};

inline int run_with_ratios(int argc, char** argv, const std::vector<RatioPair>& pairs) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const RatioPair& pair : pairs) reporter.print_ratio(pair);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
