#pragma once

// The console report of a benchmark program, followed by the figures that matter: each
// measured time beside its baseline of the same run, as a ratio against its limit, and
// counters against absolute limits. A line ends "over" when its limit is exceeded.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class TRatioReporter : public benchmark::ConsoleReporter
{
public:
    // Coloured only on a terminal.
    TRatioReporter();
    // Benchmarks are named by their function name, without arguments or iteration counts.
    // A limit of 0 prints the ratio for information only.
    void Ratio(std::string ours, std::string baseline, double limit);
    // A counter of a benchmark, or its time per iteration in ms: real time when `counter` is
    // empty, the benchmark thread's CPU time when it is kCpu. Ratios are judged on real time
    // and show the CPU time beside it: on a busy machine the two part.
    static constexpr const char* kCpu = "cpu";
    void Limit(std::string benchmark, std::string counter, double limit, std::string unit);

    void ReportRuns(const std::vector<Run>& runs) override;
    bool Ran(const std::string& benchmark) const { return m_runs.count(benchmark) > 0; }
    // Prints every line whose benchmarks ran; returns false when any limit was exceeded.
    bool PrintSummary() const;

private:
    bool Find(const std::string& benchmark, const std::string& counter, double& value) const;

    struct TRatio
    {
        std::string Ours, Baseline;
        double Limit;
    };
    struct TLimit
    {
        std::string Benchmark, Counter;
        double Limit;
        std::string Unit;
    };
    std::vector<TRatio> m_ratios;
    std::vector<TLimit> m_limits;
    std::map<std::string, Run> m_runs;
};
