// Showing the current record: ShowResult on the largest record the instrument delivers,
// with one replot of the chart into a 456 x 400 surface, beside the bare work
// (decode, compute, one polyline of the same points into a 456 x 400 image) measured in
// the same run.
// Moving through the 25,000-record project (written once into the build folder's
// bench-data): SetRecNo to random records, each shown as the window shows it (blob read,
// decode, compute, grids, chart, the queued repaints), beside the bare blob read of the
// same record through the client API and its decode.
//
//   CEMENTLAB_TARGETS=ViewBench nice -n 5 scripts/build build-e
//   nice -n 5 build-e/bench/view/ViewBench
//   nice -n 5 build-e/bench/view/ViewBench --benchmark_filter=Large

#include "app/MainUnit.h"
#include "app/OperatorDialogs.h"
#include "bench/support/BenchProject.h"
#include "bench/support/LargestRecord.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/RawProject.h"
#include "compute/Activity.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "tests/support/TempDir.h"
#include "view/ForecastChart.h"

#include <qcustomplot.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace {

constexpr QSize kChartSize(456, 400);

// Answers the open dialog with one file.
class TOpenDialog : public TOperatorDialogs
{
public:
    explicit TOpenDialog(QString file)
        : m_file(std::move(file))
    { }
    QMessageBox::StandardButton Message(
        const QString&, const QString& text, QMessageBox::Icon, QMessageBox::StandardButtons) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", text.toStdString().c_str());
        return QMessageBox::Cancel;
    }
    QString SaveFileName(const TFileDialogOptions&) override { return {}; }
    QString OpenFileName(const TFileDialogOptions&) override { return m_file; }

private:
    QString m_file;
};

struct TScene
{
    TTempDir Dir;
    TMainDataModule DataModule;
    std::unique_ptr<TMainForm> Form;
    std::string Blob;

    TScene()
    {
        const std::string project = Dir.File("bench.fdb");
        DataModule.CreateProjectDatabase(project);
        DataModule.OpenProjectDatabase(project);
        TArrayOfMsrResult list{MakeLargestRecord()};
        Blob = EncodeMsrResult(list.front());
        DataModule.StoreMsrResults(list);
        DataModule.ApplyChanges();
        DataModule.CloseProjectDatabase();
        Form = std::make_unique<TMainForm>(DataModule, QString::fromStdString(Dir.File("cement-lab")),
            std::make_shared<TInstrumentSimulator>());
        // Opened as the operator opens it, so the chart is on screen and replots as it does there.
        auto previous = SetOperatorDialogs(std::make_unique<TOpenDialog>(QString::fromStdString(project)));
        Form->OpenProjectAction->trigger();
        SetOperatorDialogs(std::move(previous));
        Form->resize(720, 760);
        Form->show();
        QApplication::processEvents();
        const QSize plot = Form->Chart()->Plot()->size();
        std::printf("chart on screen: %d x %d pixels\n", plot.width(), plot.height());
    }
    ~TScene()
    {
        Form.reset();
        DataModule.CloseProjectDatabase();
        USBFinalize();
    }

    void ShowResult()
    {
        Form->ShowResult();
        benchmark::DoNotOptimize(Form->Chart()->Plot()->toPixmap(kChartSize.width(), kChartSize.height()));
    }

    void BareWork()
    {
        TMsrResult msr;
        DecodeMsrResult(Blob, msr);
        benchmark::DoNotOptimize(CalcMsrResult(msr));
        QImage image(kChartSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        std::vector<QPointF> points(msr.Data[0].size());
        for (std::size_t i = 0; i < points.size(); ++i)
            points[i]
                = QPointF(static_cast<double>(i) * kChartSize.width() / static_cast<double>(points.size()),
                    kChartSize.height() * (1.0 - msr.Data[0][i] / 2.0));
        painter.drawPolyline(points.data(), static_cast<int>(points.size()));
        benchmark::DoNotOptimize(image.bits());
    }
};

// The window over the 25,000-record project, and the bare client API over the same file.
struct TLargeScene
{
    TTempDir Dir;
    TMainDataModule DataModule;
    std::unique_ptr<TMainForm> Form;
    std::unique_ptr<TRawProject> Raw;
    std::vector<TRawRow> Rows;
    std::vector<int> Moves; // record numbers from 1, the same sequence for both benchmarks
    int Replots = 0;

    TLargeScene()
    {
        const std::string project = BenchProject(kLargeProjectRecords);
        Form = std::make_unique<TMainForm>(DataModule, QString::fromStdString(Dir.File("cement-lab")),
            std::make_shared<TInstrumentSimulator>());
        auto previous = SetOperatorDialogs(std::make_unique<TOpenDialog>(QString::fromStdString(project)));
        const auto start = std::chrono::steady_clock::now();
        Form->OpenProjectAction->trigger();
        const double opened = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        SetOperatorDialogs(std::move(previous));
        Form->resize(720, 760);
        Form->show();
        QApplication::processEvents();
        std::printf("25000-record project opened in the window in %.1f s, %d records, %.0f MB resident\n",
            opened, DataModule.GetRecordCount(), ReadProcessMemory().Resident);
        QObject::connect(Form->Chart()->Plot(), &QCustomPlot::afterReplot, [this] { ++Replots; });
        Raw = std::make_unique<TRawProject>(project);
        Rows = Raw->FetchRows();
        std::mt19937 random(20261209);
        std::uniform_int_distribution<int> record(1, static_cast<int>(Rows.size()));
        Moves.resize(1000);
        for (int& move : Moves)
            move = record(random);
    }
    ~TLargeScene()
    {
        Raw.reset();
        Form.reset();
        DataModule.CloseProjectDatabase();
        USBFinalize();
    }
    bool Ok() const
    {
        return DataModule.GetRecordCount() == kLargeProjectRecords
            && Rows.size() == static_cast<std::size_t>(kLargeProjectRecords);
    }

    void MoveAndShow(int recNo)
    {
        DataModule.ResultDataSet().SetRecNo(recNo);
        // The chart's queued replot, then the repaints it and the list ask for.
        QApplication::processEvents();
        QApplication::processEvents();
    }

    void BareRead(int recNo)
    {
        TMsrResult msr;
        DecodeMsrResult(Raw->ReadBlob(Rows[static_cast<std::size_t>(recNo - 1)].Data), msr);
        benchmark::DoNotOptimize(msr.Data.data());
    }
};

// One window at a time: the instrument link is the process's own.
std::unique_ptr<TScene> SmallScene;
std::unique_ptr<TLargeScene> LargeScene;

TScene& Small()
{
    LargeScene.reset();
    if (!SmallScene)
        SmallScene = std::make_unique<TScene>();
    return *SmallScene;
}

TLargeScene& Large()
{
    SmallScene.reset();
    if (!LargeScene)
        LargeScene = std::make_unique<TLargeScene>();
    return *LargeScene;
}

void BM_ShowResult(benchmark::State& state)
{
    TScene& scene = Small();
    for (auto _ : state)
        scene.ShowResult();
}
BENCHMARK(BM_ShowResult)->Unit(benchmark::kMillisecond);

void BM_BareWork(benchmark::State& state)
{
    TScene& scene = Small();
    for (auto _ : state)
        scene.BareWork();
}
BENCHMARK(BM_BareWork)->Unit(benchmark::kMillisecond);

double CpuMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times every move on its own, for the median and the 90th percentile: on the clock, on this
// thread's CPU time (the engine reads and Qt paints on it) and on the whole process's (Qt
// hands some image work to other threads). A busy machine stretches the CPU times less.
template <typename F> void TimeMoves(benchmark::State& state, TLargeScene& scene, F&& work)
{
    if (!scene.Ok()) {
        state.SkipWithError("the large project did not open whole");
        return;
    }
    std::vector<double> ms, cpu, process;
    std::size_t next = 0;
    rusage before{};
    getrusage(RUSAGE_THREAD, &before);
    for (auto _ : state) {
        const int recNo = scene.Moves[next++ % scene.Moves.size()];
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        const double processStart = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        work(recNo);
        cpu.push_back(CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuStart);
        process.push_back(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - processStart);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    rusage after{};
    getrusage(RUSAGE_THREAD, &after);
    // Taken off the processor by others (a busy machine), and waiting on its own (I/O, locks).
    const double moves = static_cast<double>(state.iterations());
    state.counters["preempted_per_move"] = static_cast<double>(after.ru_nivcsw - before.ru_nivcsw) / moves;
    state.counters["waits_per_move"] = static_cast<double>(after.ru_nvcsw - before.ru_nvcsw) / moves;
    for (auto* times : {&ms, &cpu, &process})
        std::sort(times->begin(), times->end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
    state.counters["median_cpu_ms"] = cpu[cpu.size() / 2];
    state.counters["median_process_cpu_ms"] = process[process.size() / 2];
}

void BM_MoveAndShowLarge(benchmark::State& state)
{
    TLargeScene& scene = Large();
    const int replots = scene.Replots;
    TimeMoves(state, scene, [&scene](int recNo) { scene.MoveAndShow(recNo); });
    state.counters["replots_per_move"] = static_cast<double>(scene.Replots - replots) / state.iterations();
    state.counters["rss_MB"] = ReadProcessMemory().Resident;
}
BENCHMARK(BM_MoveAndShowLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_BareReadLarge(benchmark::State& state)
{
    TLargeScene& scene = Large();
    TimeMoves(state, scene, [&scene](int recNo) { scene.BareRead(recNo); });
}
BENCHMARK(BM_BareReadLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

template <typename F> double MedianMs(F&& work, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    return ms[runs / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    reporter.Limit("BM_MoveAndShowLarge", "median_ms", 5, "ms");
    reporter.Limit("BM_MoveAndShowLarge", "median_cpu_ms", 5, "ms");
    reporter.Limit("BM_MoveAndShowLarge", "median_process_cpu_ms", 5, "ms");
    reporter.Ratio("BM_MoveAndShowLarge", "BM_BareReadLarge", 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    if (reporter.Ran("BM_ShowResult")) {
        TScene& scene = Small();
        // Interleaved, so both see the same machine.
        std::vector<double> show, bare;
        for (int round = 0; round < 5; ++round) {
            show.push_back(MedianMs([&scene] { scene.ShowResult(); }, 21));
            bare.push_back(MedianMs([&scene] { scene.BareWork(); }, 21));
        }
        std::sort(show.begin(), show.end());
        std::sort(bare.begin(), bare.end());
        std::printf("  of which the record, grids and series %.3f ms, one replot into 456 x 400 %.3f ms, "
                    "one replot on screen %.3f ms\n",
            MedianMs([&scene] { scene.Form->ShowResult(); }, 51),
            MedianMs(
                [&scene] { benchmark::DoNotOptimize(scene.Form->Chart()->Plot()->toPixmap(456, 400)); }, 51),
            MedianMs([&scene] { scene.Form->Chart()->Plot()->replot(QCustomPlot::rpImmediateRefresh); }, 51));
        std::printf("ShowResult median %.2f ms, bare work median %.2f ms, ratio %.2f (limits: 8 ms, 2x)\n",
            show[2], bare[2], show[2] / bare[2]);
    }
    SmallScene.reset();
    LargeScene.reset();
    benchmark::Shutdown();
    return 0;
}
