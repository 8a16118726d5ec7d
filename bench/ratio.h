// Runs the registered benchmarks and, after them, prints each ratio of a
// benchmark's time to its baseline's, measured in the same run, against its
// target. Timing is never asserted in tests; these ratios are the record.
#ifndef PELLAR_BENCH_RATIO_H_
#define PELLAR_BENCH_RATIO_H_

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace pellar::bench {

struct Ratio {
  std::string name;      // benchmark measured
  std::string baseline;  // benchmark it is compared with
  double target;         // the ratio should stay at or below this
};

// Keeps every run's CPU time per iteration while printing as usual: CPU
// time stays comparable when other work shares the machine.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        // In seconds, whatever unit the benchmark reports in.
        times_[run.benchmark_name()] =
            run.GetAdjustedCPUTime() /
            benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const std::map<std::string, double>& times() const { return times_; }

 private:
  std::map<std::string, double> times_;
};

// A ratio measured outside the timed benchmarks (memory, for instance).
struct Measured {
  std::string name;
  std::string baseline;
  double ratio;
  double target;
};

// Use as the body of main(). Returns 0; a ratio over target is reported,
// not failed, since machines differ.
inline int RunWithRatios(int argc, char** argv,
                         const std::vector<Ratio>& ratios,
                         const std::vector<Measured>& measured = {}) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  for (const Ratio& r : ratios) {
    auto a = reporter.times().find(r.name);
    auto b = reporter.times().find(r.baseline);
    if (a == reporter.times().end() || b == reporter.times().end() ||
        b->second <= 0) {
      continue;
    }
    double ratio = a->second / b->second;
    std::printf("ratio %s / %s = %.2f (target <= %.2f) %s\n", r.name.c_str(),
                r.baseline.c_str(), ratio, r.target,
                ratio <= r.target ? "ok" : "OVER TARGET");
  }
  for (const Measured& m : measured) {
    std::printf("ratio %s / %s = %.2f (target <= %.2f) %s\n", m.name.c_str(),
                m.baseline.c_str(), m.ratio, m.target,
                m.ratio <= m.target ? "ok" : "OVER TARGET");
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace pellar::bench

#endif  // PELLAR_BENCH_RATIO_H_
