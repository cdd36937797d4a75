// Open and save of the 25,000-record project (about 1.9 GB, written once into the build
// folder's bench-data), each beside a baseline measured in the same run:
//   open:  the store's open and close against the bare client API fetching the same rows
//          with their blob ids and no blob opened;
//   save:  12 appended records saved into the large project against the same save into an
//          empty one; also adding them (the duplicate check of a download) both ways.
//
//   CEMENTLAB_TARGETS=LargeStoreBench nice -n 5 scripts/build build-e
//   nice -n 5 build-e/bench/store/LargeStoreBench
//   nice -n 5 build-e/bench/store/LargeStoreBench --benchmark_filter=Open
#include "bench/support/BenchProject.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/RawProject.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int kAppended = 12;

const std::string& LargeProject()
{
    static const std::string path = BenchProject(kLargeProjectRecords);
    return path;
}

void SetMemoryCounters(benchmark::State& state, double resident)
{
    state.counters["rss_open_MB"] = resident;
    state.counters["peak_MB"] = ReadProcessMemory().Peak;
}

void BM_OpenBare(benchmark::State& state)
{
    const std::string& path = LargeProject();
    ReleaseFreeMemory();
    ResetPeakMemory();
    double resident = 0.0;
    std::size_t rows = 0;
    for (auto _ : state) {
        TRawProject raw(path);
        const std::vector<TRawRow> list = raw.FetchRows();
        rows = list.size();
        benchmark::DoNotOptimize(list.data());
        state.PauseTiming();
        resident = std::max(resident, ReadProcessMemory().Resident);
        state.ResumeTiming();
    }
    if (rows != kLargeProjectRecords)
        state.SkipWithError("the bare fetch did not give every row");
    SetMemoryCounters(state, resident);
}
BENCHMARK(BM_OpenBare)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_OpenStore(benchmark::State& state)
{
    const std::string& path = LargeProject();
    ReleaseFreeMemory();
    ResetPeakMemory();
    double resident = 0.0;
    for (auto _ : state) {
        TMainDataModule store;
        if (!store.OpenProjectDatabase(path) || store.GetRecordCount() != kLargeProjectRecords) {
            state.SkipWithError("open failed");
            break;
        }
        state.PauseTiming();
        resident = std::max(resident, ReadProcessMemory().Resident);
        state.ResumeTiming();
        store.CloseProjectDatabase();
    }
    SetMemoryCounters(state, resident);
    ReleaseFreeMemory();
}
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The records a download would add: after every record of the project, so they end the list.
TArrayOfMsrResult Appended()
{
    TArrayOfMsrResult records;
    for (int i = 0; i < kAppended; ++i) {
        records.push_back(MakeBenchRecord(i));
        records.back().BeginDateTime = kBenchAppendedStart + i / 8.0;
    }
    return records;
}

// A project held open for a whole benchmark. Every iteration puts it back as it was: the
// 12 rows it appended are deleted again through the store and that is saved, outside the
// timing. A fresh copy of the 1.9 GB file for each iteration would cost seconds of copying
// per save of milliseconds and leave its pages cold in the cache; the delete leaves the same
// rows in the same file, whose freed pages the engine reuses, so iterations stay comparable.
// The empty project gets the very same treatment.
class TOpenProject
{
public:
    explicit TOpenProject(const std::string& path)
    {
        if (m_store.OpenProjectDatabase(path))
            m_count = m_store.GetRecordCount();
    }
    bool Ok() const { return m_count >= 0; }
    TMainDataModule& Store() { return m_store; }

    // True when the project holds its own rows again.
    bool RemoveAppended()
    {
        TCachedDataSet& rows = m_store.ResultDataSet();
        {
            TMainDataModule::TUpdateGuard guard(m_store);
            while (rows.RecordCount() > m_count) {
                rows.SetRecNo(rows.RecordCount());
                rows.Delete();
            }
        }
        m_store.ApplyChanges();
        return rows.RecordCount() == m_count && !m_store.HasChanges();
    }

private:
    TMainDataModule m_store;
    int m_count = -1;
};

std::unique_ptr<TOpenProject> OpenFor(benchmark::State& state, const std::string& path)
{
    auto project = std::make_unique<TOpenProject>(path);
    if (!project->Ok())
        state.SkipWithError("open failed");
    return project;
}

const std::string& EmptyProject()
{
    static TTempDir dir;
    static const std::string path = [] {
        const std::string p = dir.File("empty.fdb");
        TMainDataModule().CreateProjectDatabase(p);
        return p;
    }();
    return path;
}

void Save(benchmark::State& state, const std::string& path)
{
    auto project = OpenFor(state, path);
    for (auto _ : state) {
        if (!project->Ok())
            break;
        state.PauseTiming();
        TArrayOfMsrResult records = Appended();
        if (project->Store().StoreMsrResults(records) != kAppended) {
            state.SkipWithError("the records were not added");
            break;
        }
        state.ResumeTiming();
        project->Store().ApplyChanges();
        state.PauseTiming();
        if (!project->RemoveAppended()) {
            state.SkipWithError("the appended rows were not removed");
            break;
        }
        state.ResumeTiming();
    }
}

void Add(benchmark::State& state, const std::string& path)
{
    auto project = OpenFor(state, path);
    for (auto _ : state) {
        if (!project->Ok())
            break;
        state.PauseTiming();
        TArrayOfMsrResult records = Appended();
        state.ResumeTiming();
        const int added = project->Store().StoreMsrResults(records);
        state.PauseTiming();
        project->Store().CancelChanges();
        if (added != kAppended) {
            state.SkipWithError("the records were not added");
            break;
        }
        state.ResumeTiming();
    }
}

void BM_SaveEmpty(benchmark::State& state)
{
    Save(state, EmptyProject());
}
void BM_SaveLarge(benchmark::State& state)
{
    Save(state, LargeProject());
}
void BM_AddEmpty(benchmark::State& state)
{
    Add(state, EmptyProject());
}
void BM_AddLarge(benchmark::State& state)
{
    Add(state, LargeProject());
}
// Fixed counts: each run opens its project once, and the large open is slow before blobs
// are read on demand.
BENCHMARK(BM_SaveEmpty)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_SaveLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_AddEmpty)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
BENCHMARK(BM_AddLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    reporter.Ratio("BM_OpenStore", "BM_OpenBare", 1.5);
    reporter.Limit("BM_OpenStore", "peak_MB", 80, "MB");
    reporter.Ratio("BM_SaveLarge", "BM_SaveEmpty", 1.3);
    reporter.Ratio("BM_AddLarge", "BM_AddEmpty", 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
