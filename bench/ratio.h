// Runs the registered benchmarks and then prints each subject's time as a ratio to its
// baseline, both measured in the same run, against the target the project set for it.
#pragma once

#include <string>
#include <vector>

struct RatioCheck {
  std::string subject;   // benchmark name, as Google Benchmark prints it
  std::string baseline;  // benchmark name of the baseline
  double target;         // largest acceptable subject / baseline
  // Compares CPU time rather than real time: steadier on a shared machine. The benchmarks then
  // measure the process's CPU time, so that work on the decoders' threads counts.
  bool cpu = false;
};

// Returns 0; the ratios are information, not a test.
int RunWithRatios(int argc, char** argv, const std::vector<RatioCheck>& checks);

// A time a benchmark measured itself (CPU time of a part of its work, in nanoseconds), under a
// name checks can give as subject or baseline.
void RecordNanoseconds(const std::string& name, double nanoseconds);

// Time per iteration of a benchmark that already ran, in nanoseconds (-1 if it did not run): the
// median of its repetitions when it was repeated.
double MeasuredNanoseconds(const std::string& name, bool cpu = false);

// A kilobyte field of /proc/self/status ("VmRSS:", "VmHWM:", ...); 0 when it is not there.
long StatusKilobytes(const char* field);
