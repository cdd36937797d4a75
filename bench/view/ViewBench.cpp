// Showing the current record: ShowResult on the largest record the instrument delivers,
// with one replot of the chart into a 456 x 400 surface, beside the bare work
// (decode, compute, one polyline of the same points into a 456 x 400 image) measured in
// the same run.

#include "app/MainUnit.h"
#include "app/OperatorDialogs.h"
#include "bench/support/LargestRecord.h"
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

TScene* Scene = nullptr;

void BM_ShowResult(benchmark::State& state)
{
    for (auto _ : state)
        Scene->ShowResult();
}
BENCHMARK(BM_ShowResult)->Unit(benchmark::kMillisecond);

void BM_BareWork(benchmark::State& state)
{
    for (auto _ : state)
        Scene->BareWork();
}
BENCHMARK(BM_BareWork)->Unit(benchmark::kMillisecond);

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
    TScene scene;
    Scene = &scene;
    benchmark::RunSpecifiedBenchmarks();
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
        MedianMs([&scene] { benchmark::DoNotOptimize(scene.Form->Chart()->Plot()->toPixmap(456, 400)); }, 51),
        MedianMs([&scene] { scene.Form->Chart()->Plot()->replot(QCustomPlot::rpImmediateRefresh); }, 51));
    std::printf("ShowResult median %.2f ms, bare work median %.2f ms, ratio %.2f (limits: 8 ms, 2x)\n",
        show[2], bare[2], show[2] / bare[2]);
    Scene = nullptr;
    benchmark::Shutdown();
    return 0;
}
