// The report of a 100-record project: collecting the sheets and preparing the preview,
// then the JPEG pages (one page image, and its cropped copy, in memory at a time).

#include "bench/support/LargestRecord.h"
#include "output/ReportPreviewUnit.h"
#include "output/ReportUnit.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QPrintPreviewWidget>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TTempDir dir;
    TMainDataModule dataModule;
    const std::string project = dir.File("bench.fdb");
    dataModule.CreateProjectDatabase(project);
    dataModule.OpenProjectDatabase(project);
    TArrayOfMsrResult records;
    for (int i = 0; i < 100; ++i)
        records.push_back(MakeLargestRecord(i));
    dataModule.StoreMsrResults(records);

    const auto start = std::chrono::steady_clock::now();
    std::vector<TReportSheet> sheets = CollectReportSheets(dataModule, true);
    const double collected = Seconds(start);
    TReportPreviewForm preview(nullptr, std::move(sheets), 0x0000C0);
    preview.Preview()->updatePreview();
    const double prepared = Seconds(start);
    std::printf(
        "100 records: sheets collected in %.2f s, preview of %d pages prepared in %.2f s (limit 3 s)\n",
        collected, preview.Preview()->pageCount(), prepared);

    const auto jpegStart = std::chrono::steady_clock::now();
    const QStringList pages = preview.SaveJpegPages(QString::fromStdString(dir.File("protocol.jpg")));
    std::printf(
        "JPEG pages: %lld written in %.2f s\n", static_cast<long long>(pages.size()), Seconds(jpegStart));
    dataModule.CloseProjectDatabase();
    return 0;
}
