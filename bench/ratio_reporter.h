// bench/ratio_reporter.h: the console reporter of the kernel benchmarks,
// which also keeps each benchmark's median CPU time so that the run can end
// with throughput ratios against a reference.
#pragma once

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a saved log reads as plain text.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        const std::string& args = run.run_name.args;
        medianCpuTime[run.run_name.function_name + (args.empty() ? "" : "/" + args)] =
            run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints "`what` = ratio": the reference's median CPU time over ours, so
  // above 1 means ours is faster. Nothing when either did not run.
  void PrintRatio(const std::string& what, const std::string& ours,
                  const std::string& theirs) const {
    const auto oursTime = medianCpuTime.find(ours);
    const auto theirsTime = medianCpuTime.find(theirs);
    if (oursTime == medianCpuTime.end() || theirsTime == medianCpuTime.end()) return;
    std::printf("%s = %.3f\n", what.c_str(), theirsTime->second / oursTime->second);
  }

 private:
  std::map<std::string, double> medianCpuTime;
};
