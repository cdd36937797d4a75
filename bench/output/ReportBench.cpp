// The printed report.
//   1000 records to PDF: open the 1000-record project (written once into the build folder's
//   bench-data) and paint its sheets, made one at a time, onto a QPdfWriter at 300 dpi, as
//   `cement-lab-cli report` does; beside a bare loop over the same file: rows and blobs
//   through the client API, decode, compute, and the same texts, rules and curve drawn
//   as text and polylines onto the same QPdfWriter. Each keeps its peak resident memory.
//   The laboratory's protocol of the same 1000 records (one results table over pages),
//   collected from the store and painted as PDF/A-1b, with its peak resident memory (its
//   pages differ from the sheets, so it has no bare twin).
//   100 records: collecting the sheets and showing the preview window, then the JPEG pages
//   (one page image, and its cropped copy, in memory at a time).
//
//   CEMENTLAB_TARGETS=ReportBench nice -n 5 scripts/build build-e
//   nice -n 5 build-e/bench/output/ReportBench
//   nice -n 5 build-e/bench/output/ReportBench --benchmark_filter=Pdf
#include "bench/support/BenchProject.h"
#include "bench/support/LargestRecord.h"
#include "bench/support/RatioReporter.h"
#include "bench/support/RawProject.h"
#include "compute/ResultText.h"
#include "output/LabProtocol.h"
#include "output/ReportPreviewUnit.h"
#include "output/ReportUnit.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <filesystem>

namespace {

TTempDir& Dir()
{
    static TTempDir dir;
    return dir;
}

const std::string& ReportProject()
{
    static const std::string path = BenchProject(kReportProjectRecords);
    return path;
}

void SetUpPdf(QPdfWriter& writer)
{
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()));
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Протокол испытания"));
}

int StorePdf(const std::string& project, const QString& pdf)
{
    TMainDataModule store;
    if (!store.OpenProjectDatabase(project))
        throw std::runtime_error("open failed");
    {
        const TStoreReportSheets sheets(store, true);
        QPdfWriter writer(pdf);
        SetUpPdf(writer);
        PaintReport(writer, sheets, 0x0000C0);
    }
    store.CloseProjectDatabase();
    return kReportProjectRecords;
}

// The texts of a sheet in the report's places (report units from the sheet's left edge and
// the band's top), the labels written whole.
struct TPlacedText
{
    double X, Y, W, H;
    QString Text;
    int Points;
    bool Bold;
};

const QString kParameterLabels[] = {
    QStringLiteral("Масса цемента в стакане Co, г"),
    QStringLiteral("Длительность, ч:м"),
    QStringLiteral("Период, с"),
    QStringLiteral("Ожидаемая марка"),
    QStringLiteral("ΔΔV, мл (поставщик)"),
    QStringLiteral("Длительность твердения, сут"),
};
const QString kResultLabels[] = {
    QStringLiteral("Контракция ΔVCo3, мл"),
    QStringLiteral("Контракция ΔV1K3, мл"),
    QStringLiteral("Торможение"),
    QStringLiteral("Поправка на торможение ΔΔV, мл"),
    QStringLiteral("Средняя температура Tср, °С"),
    QStringLiteral("Поправка на температуру ΔVT, мл"),
    QStringLiteral("Итоговая контракция ΔV0, мл"),
    QStringLiteral("Активность R, МПа"),
    QStringLiteral("Удельная контракция ΔV', мл/г"),
};

int BarePdf(const std::string& project, const QString& pdf)
{
    TRawProject raw(project);
    const std::vector<TRawRow> rows = raw.FetchRows();
    QPdfWriter writer(pdf);
    SetUpPdf(writer);
    QPainter painter(&writer);
    const QRect device = painter.viewport();
    const double sx = device.width() / (297.0 / kReportUnitMm);
    const double sy = device.height() / (210.0 / kReportUnitMm);
    auto rect = [&](double x, double y, double w, double h) {
        return QRectF(x * sx, (y + kReportBandTop) * sy, w * sx, h * sy);
    };
    auto font = [&](int points, bool bold) {
        QFont f(QStringLiteral("Times New Roman"));
        f.setStyleHint(QFont::Serif);
        f.setPixelSize(std::max(1, qRound(points * 25.4 / 72.0 / kReportUnitMm * sy)));
        f.setBold(bold);
        return f;
    };
    const QPen rule(Qt::black, std::max(1.0, 2 * sy), Qt::SolidLine, Qt::FlatCap);
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    bool first = true;
    for (const TRawRow& row : rows) {
        if (!first)
            writer.newPage();
        first = false;
        TReportSheet sheet;
        sheet.Readable = DecodeMsrResult(raw.ReadBlob(row.Data), sheet.Msr) == 0;
        sheet.BeginDateTime = sheet.Msr.BeginDateTime;
        sheet.Calc = CalcMsrResult(sheet.Msr);
        const TParamTexts params = GetParamTexts(sheet.Msr, separator);
        const TResultTexts results = GetResultTexts(sheet.Calc, separator);
        std::vector<TPlacedText> texts = {
            {787, 0, 248, 20, QStringLiteral("Протокол испытания № _______"), 12, false},
            {787, 24, 248, 20, ReportBeginText(sheet), 12, false},
            {787, 48, 248, 20, ReportEndText(sheet), 12, false},
            {39, 72, 992, 48,
                QStringLiteral(
                    "УСКОРЕННОЕ ОПРЕДЕЛЕНИЕ И ВОРКАСТИРОВАНИЕ АКТИВНОСТИ ЦЕМЕНТА ПО ЕГО КОНТРАКЦИИ МИ "
                    "2486-98, МИ 2487-98"),
                16, true},
            {42, 128, 360, 20, QStringLiteral("Параметры испытания"), 12, false},
            {42, 336, 360, 20, QStringLiteral("Результаты испытания"), 12, false},
            {724, 592, 308, 20, QStringLiteral("Испытания провёл: _____________________"), 12, false},
            {412, 126, 256, 20, QStringLiteral("ΔV1K3(t), мл"), 12, false},
        };
        for (int i = 0; i < 6; ++i) {
            texts.push_back({42, 156.0 + 28 * i, 256, 20, kParameterLabels[i], 12, false});
            texts.push_back({308, 156.0 + 28 * i, 96, 20, QString::fromStdString(params[i]), 11, false});
        }
        for (int i = 0; i < 9; ++i) {
            texts.push_back({42, 364.0 + 28 * i, 256, 20, kResultLabels[i], 12, false});
            texts.push_back({308, 364.0 + 28 * i, 96, 20, QString::fromStdString(results[i]), 11, false});
        }
        painter.setPen(Qt::black);
        for (const TPlacedText& t : texts) {
            painter.setFont(font(t.Points, t.Bold));
            painter.drawText(rect(t.X, t.Y, t.W, t.H),
                static_cast<int>(Qt::AlignVCenter) | (t.Bold ? Qt::TextWordWrap : Qt::TextSingleLine),
                t.Text);
        }
        painter.setPen(rule);
        for (const auto& [top, count] : {std::pair(124.0, 6), std::pair(332.0, 9)}) {
            const double bottom = top + 28 + 28 * count;
            for (int r = 0; r <= count + 1; ++r)
                painter.drawLine(
                    rect(40, top + 28 * r, 368, 0).topLeft(), rect(40, top + 28 * r, 368, 0).topRight());
            for (const double x : {40.0, 408.0, 304.0})
                painter.drawLine(
                    rect(x, x == 304.0 ? top + 28 : top, 0, 0).topLeft(), rect(x, bottom, 0, 0).topLeft());
        }
        // The curve the chart shows: contraction per 1000 g against time, with its two axes.
        const QRectF chart = rect(412, 124, 620, 408);
        painter.setPen(QPen(Qt::black, sy));
        painter.drawLine(chart.bottomLeft(), chart.bottomRight());
        painter.drawLine(chart.bottomLeft(), chart.topLeft());
        if (sheet.Readable && !sheet.Msr.Data.empty() && sheet.Msr.CementMass > 0) {
            const TSampleArray& volume = sheet.Msr.Data[MSR_VOLUME];
            const double k = 1000.0 / sheet.Msr.CementMass;
            std::vector<QPointF> points(volume.size());
            for (std::size_t i = 0; i < volume.size(); ++i)
                points[i] = QPointF(chart.left() + chart.width() * static_cast<double>(i) / volume.size(),
                    chart.bottom() - chart.height() * (volume[i] - sheet.Msr.VolumeOffset) * k / 10.0);
            painter.setPen(QPen(QColor(0xC0, 0, 0), sy));
            painter.drawPolyline(points.data(), static_cast<int>(points.size()));
        }
    }
    return static_cast<int>(rows.size());
}

template <typename F> void PdfBenchmark(benchmark::State& state, F&& write)
{
    const std::string& project = ReportProject();
    const QString pdf = QString::fromStdString(Dir().File("report.pdf"));
    double peak = 0.0;
    int pages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ReleaseFreeMemory();
        ResetPeakMemory();
        state.ResumeTiming();
        pages = write(project, pdf);
        state.PauseTiming();
        peak = std::max(peak, ReadProcessMemory().Peak);
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peak;
    state.counters["pdf_MB"] = static_cast<double>(std::filesystem::file_size(pdf.toStdString())) / 1048576.0;
    state.counters["pages"] = pages;
}

void BM_BarePdf1000(benchmark::State& state)
{
    PdfBenchmark(state, BarePdf);
}
BENCHMARK(BM_BarePdf1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ReportPdf1000(benchmark::State& state)
{
    PdfBenchmark(state, StorePdf);
}
BENCHMARK(BM_ReportPdf1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int LabProtocolPdf(const std::string& project, const QString& pdf)
{
    int pages = 0;
    TMainDataModule store;
    if (!store.OpenProjectDatabase(project))
        throw std::runtime_error("open failed");
    {
        TLabProtocolPainter protocol(CollectLabProtocol(store, true, TLaboratory{}), 0x0000C0);
        QPdfWriter writer(pdf);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setPageLayout(LabProtocolPageLayout());
        writer.setResolution(300);
        PaintLabProtocol(writer, protocol);
        pages = protocol.PageCount();
    }
    store.CloseProjectDatabase();
    return pages;
}

void BM_LabProtocolPdf1000(benchmark::State& state)
{
    PdfBenchmark(state, LabProtocolPdf);
}
BENCHMARK(BM_LabProtocolPdf1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// 100 of the largest records, stored and not saved.
TMainDataModule& Store100()
{
    static TMainDataModule store;
    if (!store.IsProjectOpen()) {
        const std::string project = Dir().File("bench-100.fdb");
        store.CreateProjectDatabase(project);
        store.OpenProjectDatabase(project);
        TArrayOfMsrResult records;
        for (int i = 0; i < 100; ++i)
            records.push_back(MakeLargestRecord(i));
        store.StoreMsrResults(records);
    }
    return store;
}

// Until the preview window shows its first page, whatever it prepares for that.
void BM_Preview100(benchmark::State& state)
{
    TMainDataModule& store = Store100();
    for (auto _ : state) {
        TReportPreviewForm preview(nullptr, CollectReportSheets(store, true), 0x0000C0);
        preview.show();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_Preview100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_JpegPages100(benchmark::State& state)
{
    TMainDataModule& store = Store100();
    TReportPreviewForm preview(nullptr, CollectReportSheets(store, true), 0x0000C0);
    qsizetype pages = 0;
    for (auto _ : state)
        pages = preview.SaveJpegPages(QString::fromStdString(Dir().File("protocol.jpg"))).size();
    state.counters["pages"] = static_cast<double>(pages);
}
BENCHMARK(BM_JpegPages100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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
    reporter.Ratio("BM_ReportPdf1000", "BM_BarePdf1000", 1.5);
    reporter.Limit("BM_ReportPdf1000", "peak_MB", 250, "MB");
    reporter.Limit("BM_LabProtocolPdf1000", "peak_MB", 250, "MB");
    reporter.Limit("BM_Preview100", "", 3000, "ms");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    Store100().CloseProjectDatabase();
    benchmark::Shutdown();
    return 0;
}
