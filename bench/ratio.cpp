#include "ratio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace {

std::map<std::string, double>& Times() {
  static std::map<std::string, double> times;
  return times;
}

class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
        Times()[run.benchmark_name()] = run.GetAdjustedRealTime() * Multiplier(run.time_unit);
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  static double Multiplier(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond:
        return 1e9;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kMicrosecond:
        return 1e3;
      default:
        return 1;
    }
  }
};

}  // namespace

double MeasuredNanoseconds(const std::string& name) {
  auto it = Times().find(name);
  return it == Times().end() ? -1 : it->second;
}

int RunWithRatios(int argc, char** argv, const std::vector<RatioCheck>& checks) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-44s %-34s %8s %8s\n", "subject", "baseline", "ratio", "target");
  for (const RatioCheck& c : checks) {
    double s = MeasuredNanoseconds(c.subject), b = MeasuredNanoseconds(c.baseline);
    if (s < 0 || b <= 0) continue;
    double r = s / b;
    std::printf("%-44s %-34s %7.2fx %7.2fx %s\n", c.subject.c_str(), c.baseline.c_str(), r,
                c.target, r <= c.target ? "ok" : "OVER");
  }
  benchmark::Shutdown();
  return 0;
}
