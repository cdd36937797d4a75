// The computation and the formatter beside raw baselines over the same data, so the ratio holds on
// a noisy machine.

#include "bench/support/LargestRecord.h"
#include "compute/Activity.h"
#include "compute/ResultText.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <numeric>

namespace {

void BM_CalcMsrResult(benchmark::State& state)
{
    const TMsrResult msr = MakeLargestRecord();
    for (auto _ : state)
        benchmark::DoNotOptimize(CalcMsrResult(msr));
}
BENCHMARK(BM_CalcMsrResult);

// One pass for the maximum and one for the sum over the 3-hour window: the least any computation
// must do.
void BM_RawWindowPasses(benchmark::State& state)
{
    const TMsrResult msr = MakeLargestRecord();
    const std::size_t w = FULL_MEASURE_DURATION / msr.Period;
    const TSampleArray& volume = msr.Data[MSR_VOLUME];
    const TSampleArray& temperature = msr.Data[MSR_TEMPERATURE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(*std::max_element(volume.begin(), volume.begin() + w));
        benchmark::DoNotOptimize(std::accumulate(temperature.begin(), temperature.begin() + w, 0.0));
    }
}
BENCHMARK(BM_RawWindowPasses);

void BM_FormatDecimal(benchmark::State& state)
{
    double value = 1.125;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatDecimal(value, 3, ","));
        value += 0.0009765625;
    }
}
BENCHMARK(BM_FormatDecimal);

void BM_RawToChars(benchmark::State& state)
{
    double value = 1.125;
    char buffer[64];
    for (auto _ : state) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
        benchmark::DoNotOptimize(result.ptr);
        value += 0.0009765625;
    }
}
BENCHMARK(BM_RawToChars);

} // namespace

BENCHMARK_MAIN();
