// Reading from the simulator with no transfer delay, so what is left is the worker's own
// work per record. Baselines in the same run: building one record alone (decoding and
// scaling 4 x 4320 samples) and a bare copy of one sample block.

#include "device/DeviceProtocol.h"
#include "device/DownloadThread.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr std::size_t kRecords = 500;
// 6 hours every 5 s: the full 4320 samples per array.
constexpr std::uint32_t kDuration = 21600;
constexpr std::uint32_t kPeriod = 5;

TSimulatedInstrument FullInstrument()
{
    TSimulatedInstrument instrument;
    for (std::size_t i = 0; i < kRecords; ++i)
        instrument.Measurements.push_back(MakeRealisticMeasurement(static_cast<std::int32_t>(i + 1),
            {0, 0, 8, 1, 3, 24}, 400, kDuration, kPeriod, static_cast<std::uint32_t>(i)));
    return instrument;
}

void PerRecord(benchmark::State& state, std::size_t recordsPerIteration)
{
    state.counters["per_record"]
        = benchmark::Counter(static_cast<double>(recordsPerIteration * state.iterations()),
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DownloadFromSimulator(benchmark::State& state)
{
    auto simulator = std::make_shared<TInstrumentSimulator>();
    simulator->Plug(FullInstrument());
    if (USBInitialize(simulator) != STATUS_SUCCESS) {
        state.SkipWithError("the simulator did not open");
        return;
    }
    for (auto _ : state) {
        TDownloadThread worker([](int, std::uint32_t) {});
        worker.Start();
        worker.WaitFor(std::chrono::minutes(1));
        TArrayOfMsrResult results = worker.TakeResults();
        if (results.size() != kRecords)
            state.SkipWithError("the download failed");
        benchmark::DoNotOptimize(results.data());
        state.PauseTiming();
        results.clear();
        simulator->ClearTransfers();
        state.ResumeTiming();
    }
    USBFinalize();
    PerRecord(state, kRecords);
}
BENCHMARK(BM_DownloadFromSimulator)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BuildMsrResult(benchmark::State& state)
{
    const TSimulatedMeasurement m
        = MakeRealisticMeasurement(1, {0, 0, 8, 1, 3, 24}, 400, kDuration, kPeriod, 1);
    std::vector<std::uint8_t> block(DEVICE_MSR_DATA_SIZE);
    std::memcpy(block.data(), m.Samples.data(), block.size());
    for (auto _ : state) {
        TMsrResult result;
        BuildMsrResult(m.Header,
            std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(block.data(), block.size()), result);
        benchmark::DoNotOptimize(result.Data.data());
    }
    PerRecord(state, 1);
}
BENCHMARK(BM_BuildMsrResult)->Unit(benchmark::kMicrosecond);

void BM_CopySampleBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> source(DEVICE_MSR_DATA_SIZE, 0x5A);
    for (auto _ : state) {
        std::vector<std::uint8_t> copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
    PerRecord(state, 1);
}
BENCHMARK(BM_CopySampleBlock)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
