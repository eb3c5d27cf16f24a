// Benchmark entry point that also prints each benchmark's speed as a ratio
// to the baseline of its group, measured in the same run. Benchmarks are
// named "group/what"; the group's baseline is "group/baseline". With
// --benchmark_repetitions the medians are compared.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      std::string name = run.run_name.str();
      // Wall-clock benchmarks carry a suffix that is no part of the name.
      const std::string suffix = "/real_time";
      if (name.size() > suffix.size() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
      if (median) {
        medians_[name] = run.GetAdjustedRealTime();
      } else if (run.run_type == Run::RT_Iteration) {
        singles_[name] = run.GetAdjustedRealTime();
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto& times = medians_.empty() ? singles_ : medians_;
    std::printf("\n%-48s %10s\n", "speed relative to the group's baseline", "ratio");
    for (const auto& [name, time] : times) {
      const auto slash = name.find('/');
      if (slash == std::string::npos) continue;
      const std::string group = name.substr(0, slash);
      if (name == group + "/baseline") continue;
      const auto base = times.find(group + "/baseline");
      if (base == times.end() || time <= 0) continue;
      std::printf("%-48s %10.3f\n", name.c_str(), base->second / time);
    }
  }

 private:
  std::map<std::string, double> medians_, singles_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
