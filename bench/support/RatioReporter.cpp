#include "bench/support/RatioReporter.h"

#include <cstdio>
#include <unistd.h>

TRatioReporter::TRatioReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular)
{ }

void TRatioReporter::Ratio(std::string ours, std::string baseline, double limit)
{
    m_ratios.push_back({std::move(ours), std::move(baseline), limit});
}

void TRatioReporter::Limit(std::string benchmark, std::string counter, double limit, std::string unit)
{
    m_limits.push_back({std::move(benchmark), std::move(counter), limit, std::move(unit)});
}

void TRatioReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
        if (run.run_type == Run::RT_Iteration && !run.error_occurred)
            m_runs.insert_or_assign(run.run_name.function_name, run);
}

bool TRatioReporter::Find(const std::string& benchmark, const std::string& counter, double& value) const
{
    const auto run = m_runs.find(benchmark);
    if (run == m_runs.end())
        return false;
    if (counter.empty() || counter == kCpu) {
        // Reported in the benchmark's own unit: brought to ms.
        const double time
            = counter.empty() ? run->second.GetAdjustedRealTime() : run->second.GetAdjustedCPUTime();
        value = time * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond)
            / benchmark::GetTimeUnitMultiplier(run->second.time_unit);
        return true;
    }
    const auto found = run->second.counters.find(counter);
    if (found == run->second.counters.end())
        return false;
    value = found->second.value;
    return true;
}

bool TRatioReporter::PrintSummary() const
{
    bool within = true;
    for (const TRatio& r : m_ratios) {
        double ours = 0.0, baseline = 0.0;
        if (!Find(r.Ours, {}, ours) || !Find(r.Baseline, {}, baseline))
            continue;
        const double ratio = ours / baseline;
        std::printf("%-24s %10.3f ms   %-24s %10.3f ms   ratio %6.2f", r.Ours.c_str(), ours,
            r.Baseline.c_str(), baseline, ratio);
        if (r.Limit > 0) {
            within = within && ratio <= r.Limit;
            std::printf(" (limit %.2f)%s", r.Limit, ratio <= r.Limit ? "" : "  over");
        }
        double oursCpu = 0.0, baselineCpu = 0.0;
        if (Find(r.Ours, kCpu, oursCpu) && Find(r.Baseline, kCpu, baselineCpu) && baselineCpu > 0)
            std::printf(";  CPU %.3f / %.3f ms = %.2f", oursCpu, baselineCpu, oursCpu / baselineCpu);
        std::printf("\n");
    }
    for (const TLimit& l : m_limits) {
        double value = 0.0;
        if (!Find(l.Benchmark, l.Counter, value))
            continue;
        within = within && value <= l.Limit;
        std::printf("%-24s %-18s %10.2f %s (limit %.0f %s)%s\n", l.Benchmark.c_str(),
            l.Counter.empty() ? "time" : l.Counter.c_str(), value, l.Unit.c_str(), l.Limit, l.Unit.c_str(),
            value <= l.Limit ? "" : "  over");
    }
    std::fflush(stdout);
    return within;
}
