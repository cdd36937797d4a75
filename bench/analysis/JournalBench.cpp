// The journal of the 25,000-record project (written once into the build folder's
// bench-data), beside a bare baseline measured in the same run:
//   journal: the list's side taken from the open store (TakeJournalSource) and the worker's
//            run over the file (ComputeJournal: its own attachment, every measurement and
//            comment read, decoded and computed), against the bare client API fetching the
//            same rows and reading and decoding the same measurement blobs;
//   filter, sort: of the computed journal (limit 50 ms each).
//
//   CEMENTLAB_TARGETS=JournalBench nice -n 5 scripts/build build-jr
//   nice -n 5 build-jr/bench/analysis/JournalBench
#include "analysis/Journal.h"
#include "analysis/Statistics.h"
#include "bench/support/BenchProject.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/RawProject.h"
#include "store/MainDataModuleUnit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>

namespace {

const std::string& LargeProject()
{
    static const std::string path = BenchProject(kLargeProjectRecords);
    return path;
}

void BM_BareFetchDecode(benchmark::State& state)
{
    std::size_t decoded = 0;
    for (auto _ : state) {
        TRawProject raw(LargeProject());
        decoded = 0;
        TMsrResult msr;
        for (const TRawRow& row : raw.FetchRows())
            if (row.Data != 0 && DecodeMsrResult(raw.ReadBlob(row.Data), msr) == 0)
                ++decoded;
        benchmark::DoNotOptimize(msr.Data.data());
    }
    if (decoded != kLargeProjectRecords)
        state.SkipWithError("the bare read did not decode every record");
}
BENCHMARK(BM_BareFetchDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

TMainDataModule& OpenStore()
{
    static TMainDataModule store;
    if (!store.IsProjectOpen() && !store.OpenProjectDatabase(LargeProject()))
        std::abort();
    return store;
}

void BM_JournalSource(benchmark::State& state)
{
    TMainDataModule& store = OpenStore();
    for (auto _ : state) {
        TJournalSource source = TakeJournalSource(store);
        benchmark::DoNotOptimize(source.Rows.data());
    }
}
BENCHMARK(BM_JournalSource)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

TJournal ComputedJournal(benchmark::State& state)
{
    TJournalSource source = TakeJournalSource(OpenStore());
    std::atomic<bool> cancel{false};
    if (!ComputeJournal(source, {}, cancel))
        state.SkipWithError("the journal was not computed");
    return std::move(source.Rows);
}

void BM_JournalCompute(benchmark::State& state)
{
    std::atomic<bool> cancel{false};
    int readable = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TJournalSource source = TakeJournalSource(OpenStore());
        state.ResumeTiming();
        ComputeJournal(
            source, [](int, int) {}, cancel);
        state.PauseTiming();
        readable = static_cast<int>(std::count_if(
            source.Rows.begin(), source.Rows.end(), [](const TJournalRow& r) { return r.Readable; }));
        state.ResumeTiming();
    }
    if (readable != kLargeProjectRecords)
        state.SkipWithError("not every row was computed");
}
BENCHMARK(BM_JournalCompute)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_JournalFilter(benchmark::State& state)
{
    const TJournal journal = ComputedJournal(state);
    TJournalFilter filter;
    filter.Grade = 3;
    filter.FromDate = 46000.0;
    filter.ConcretionTime = 28;
    // Found nowhere: every row's comment and sample texts are folded and searched.
    filter.Text = "ПРОБА";
    std::size_t shown = 0;
    for (auto _ : state) {
        const std::vector<int> rows = FilterJournal(journal, filter);
        shown = rows.size();
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["rows"] = static_cast<double>(shown);
}
BENCHMARK(BM_JournalFilter)->Unit(benchmark::kMillisecond)->UseRealTime();

void Sort(benchmark::State& state, TJournalColumn column)
{
    const TJournal journal = ComputedJournal(state);
    std::vector<int> all(journal.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<int>(i);
    for (auto _ : state) {
        std::vector<int> rows = all;
        SortJournalRows(journal, rows, column, true);
        benchmark::DoNotOptimize(rows.data());
    }
}
void BM_JournalSortActivity(benchmark::State& state)
{
    Sort(state, TJournalColumn::Activity);
}
void BM_JournalSortComment(benchmark::State& state)
{
    Sort(state, TJournalColumn::Comment);
}
BENCHMARK(BM_JournalSortActivity)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JournalSortComment)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JournalStatistics(benchmark::State& state)
{
    const TJournal journal = ComputedJournal(state);
    std::vector<int> all(journal.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<int>(i);
    for (auto _ : state) {
        const TActivityStatistics stats = ComputeStatistics(journal, all);
        benchmark::DoNotOptimize(stats.Activity.Mean);
    }
}
BENCHMARK(BM_JournalStatistics)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    reporter.Ratio("BM_JournalCompute", "BM_BareFetchDecode", 0);
    reporter.Limit("BM_JournalCompute", "", 5000, "ms");
    reporter.Limit("BM_JournalSource", "", 200, "ms");
    reporter.Limit("BM_JournalFilter", "", 50, "ms");
    reporter.Limit("BM_JournalSortActivity", "", 50, "ms");
    reporter.Limit("BM_JournalSortComment", "", 50, "ms");
    reporter.Limit("BM_JournalStatistics", "", 50, "ms");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
