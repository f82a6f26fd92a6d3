#include "ratio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace {

struct Measured {
  double real = -1, cpu = -1;  // nanoseconds per iteration
  bool median = false;         // of repetitions
};

std::map<std::string, Measured>& Times() {
  static std::map<std::string, Measured> times;
  return times;
}

class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // Repetitions are kept under the benchmark's own name, the median over any single run.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      // Named without the time measured ("/process_time"), as the checks name them.
      benchmark::BenchmarkName name = run.run_name;
      name.time_type.clear();
      Measured& m = Times()[name.str()];
      if ((run.run_type == Run::RT_Iteration && !m.median) || median)
        m = {run.GetAdjustedRealTime() * Multiplier(run.time_unit),
             run.GetAdjustedCPUTime() * Multiplier(run.time_unit), median};
    }
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

void RecordNanoseconds(const std::string& name, double nanoseconds) {
  Times()[name] = {nanoseconds, nanoseconds, false};
}

double MeasuredNanoseconds(const std::string& name, bool cpu) {
  auto it = Times().find(name);
  return it == Times().end() ? -1 : cpu ? it->second.cpu : it->second.real;
}

int RunWithRatios(int argc, char** argv, const std::vector<RatioCheck>& checks) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-44s %-34s %8s %8s\n", "subject", "baseline", "ratio", "target");
  for (const RatioCheck& c : checks) {
    double s = MeasuredNanoseconds(c.subject, c.cpu), b = MeasuredNanoseconds(c.baseline, c.cpu);
    if (s < 0 || b <= 0) continue;
    double r = s / b;
    std::printf("%-44s %-34s %7.2fx %7.2fx %s%s\n", c.subject.c_str(), c.baseline.c_str(), r,
                c.target, r <= c.target ? "ok" : "OVER", c.cpu ? " (CPU time)" : "");
  }
  benchmark::Shutdown();
  return 0;
}

long StatusKilobytes(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return 0;
}
