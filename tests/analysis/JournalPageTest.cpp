// The journal page alone over real projects: computed on its worker while the window's
// event loop turns, filtered, its statistics and control chart against the command-line
// figures, a row chosen, the export and the printed summary.

#include "analysis/JournalPage.h"
#include "analysis/ComparisonUnit.h"
#include "analysis/ControlChartUnit.h"
#include "cli/CliUnit.h"
#include "compute/ResultText.h"
#include "store/MainDataModuleUnit.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ScriptedDialogs.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

#include <sstream>

namespace {

TArrayOfMsrResult Records(int count, std::uint32_t duration, int firstNumber = 1)
{
    TArrayOfMsrResult records;
    for (int i = 0; i < count; ++i) {
        const float rise = 0.2f * static_cast<float>(i % 17);
        TMsrResult msr = MakeRecord(
            duration, 10, [rise](std::size_t k) { return rise * static_cast<float>(k) / 1200.0f; },
            Constant(20.0f + static_cast<float>(i % 5)));
        msr.BeginDateTime = 45000.0 + i * 0.3;
        msr.MeasureNumber = firstNumber + i;
        msr.CementMass = 400;
        msr.ExpCementGrade = 2 + static_cast<std::uint32_t>(i % 4);
        msr.Supplier = static_cast<std::uint32_t>(i % 3);
        msr.ConcretionTime = 28;
        records.push_back(msr);
    }
    return records;
}

std::string StatsLine(
    const std::string& path, const std::string& name, const std::vector<std::string>& filter = {})
{
    std::ostringstream out, err;
    TCliOptions options;
    options.DecimalSeparator = QLocale::system().decimalPoint().toStdString();
    std::vector<std::string> arguments = {"stats", path};
    arguments.insert(arguments.end(), filter.begin(), filter.end());
    EXPECT_EQ(RunCli(arguments, out, err, options), 0) << err.str();
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(name + ": ", 0) == 0)
            return line.substr(name.size() + 2);
    return {};
}

class JournalPageTest : public TUiTest
{
protected:
    void Open(int count, std::uint32_t duration)
    {
        ASSERT_TRUE(Store.CreateProjectDatabase(Path));
        ASSERT_TRUE(Store.OpenProjectDatabase(Path));
        for (int done = 0; done < count; done += 500) {
            TArrayOfMsrResult batch = Records(std::min(500, count - done), duration, done + 1);
            for (TMsrResult& r : batch)
                r.BeginDateTime += done * 0.3;
            Store.StoreMsrResults(batch);
            Store.ApplyChanges();
        }
        Page = std::make_unique<TJournalPage>(Store);
        Page->resize(1200, 700);
    }
    void TearDown() override
    {
        Page.reset();
        Store.CloseProjectDatabase();
        TUiTest::TearDown();
    }
    bool Compute()
    {
        QSignalSpy done(Page.get(), &TJournalPage::Computed);
        Page->Recompute();
        return done.wait(60000) && !Page->Computing();
    }

    TTempDir Dir;
    std::string Path = Dir.File("journal.fdb");
    TMainDataModule Store;
    std::unique_ptr<TJournalPage> Page;
};

TEST_F(JournalPageTest, FiguresChartAndChoiceAgreeWithTheTool)
{
    Open(40, 12000);
    // A pending change the journal must show: the first record's grade.
    Store.ResultDataSet().SetRecNo(1);
    TMsrResult first;
    ASSERT_EQ(Store.ReadMsrResult(first), 0);
    first.ExpCementGrade = 6;
    Store.WriteMsrResult(first);
    ASSERT_TRUE(Compute());
    EXPECT_EQ(Page->JournalGrid()->model()->rowCount(), 40);
    EXPECT_EQ(
        Page->JournalGrid()->model()->index(0, static_cast<int>(TJournalColumn::Grade)).data().toString(),
        QStringLiteral("M-700"));
    Store.ApplyChanges();

    TJournalFilter filter;
    filter.Grade = 3;
    Page->SetFilter(filter);
    EXPECT_EQ(Page->ShownRows().size(), 10u);
    // The statistics row "Все" and the control chart give the tool's figures for the same selection.
    const QTableWidget* stats = Page->StatisticsGrid();
    EXPECT_EQ(stats->item(0, 2)->text().toStdString(), StatsLine(Path, "activity_n", {"--grade", "3"}));
    EXPECT_EQ(stats->item(0, 5)->text().toStdString(), StatsLine(Path, "activity_mean", {"--grade", "3"}));
    TControlChart chart;
    chart.SetData(Page->Journal(), Page->ShownRows());
    const std::string dot = QLocale::system().decimalPoint().toStdString();
    const std::string ucl = StatsLine(Path, "ucl", {"--grade", "3"});
    ASSERT_NE(ucl, "?");
    EXPECT_EQ(FormatDecimal(chart.Limits().Ucl, 2, dot), ucl);
    EXPECT_EQ(FormatDecimal(chart.Limits().Lcl, 2, dot), StatsLine(Path, "lcl", {"--grade", "3"}));
    EXPECT_EQ(std::to_string(chart.Limits().Beyond), StatsLine(Path, "beyond_limits", {"--grade", "3"}));
    EXPECT_EQ(chart.Plot()->graph(0)->dataCount(), static_cast<int>(chart.Series().Values.size()));

    // A point clicked and a row activated name the list row of that measurement.
    QSignalSpy chosen(Page.get(), &TJournalPage::RecordChosen);
    QObject::connect(
        &chart, &TControlChart::RowChosen, Page.get(), [this](int row) { Page->ChooseRow(row); });
    chart.ClickPoint(2);
    ASSERT_EQ(chosen.size(), 1);
    const int listRow = chosen.takeFirst().at(0).toInt();
    EXPECT_EQ(Store.RecordKeyAt(listRow), Page->Journal()[chart.Series().Rows[2]].Key);
    // Sorted by activity, descending: the first row shown has the largest.
    Page->JournalGrid()->sortByColumn(static_cast<int>(TJournalColumn::Activity), Qt::DescendingOrder);
    const auto& shown = Page->ShownRows();
    for (std::size_t i = 1; i < shown.size(); ++i)
        EXPECT_FALSE(JournalColumnLess(
            Page->Journal()[shown[i - 1]], Page->Journal()[shown[i]], TJournalColumn::Activity));

    // Comparison of three rows: three curves named by date and number.
    Page->JournalGrid()->selectRow(0);
    Page->JournalGrid()->selectionModel()->select(
        Page->JournalGrid()->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Page->JournalGrid()->selectionModel()->select(
        Page->JournalGrid()->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Page->CompareSelected();
    auto* compare = Page->window()->findChild<TComparisonForm*>();
    ASSERT_NE(compare, nullptr);
    ASSERT_EQ(compare->Plot()->graphCount(), 3);
    EXPECT_EQ(compare->Plot()->graph(0)->dataCount(), 1200);
    EXPECT_TRUE(compare->Plot()->graph(0)->name().contains(QStringLiteral(" № ")));
    compare->close();

    // Export and the printed summary of the selection.
    Dialogs->Files.push_back(QString::fromStdString(Dir.File("j.xlsx")));
    Page->ExportJournal();
    EXPECT_EQ(ReadFileBytes(Dir.File("j.xlsx")).rfind("PK", 0), 0u);
    const std::string pdf = Dir.File("protocol.pdf");
    Dialogs->Files.push_back(QString::fromStdString(pdf));
    Page->PrintProtocol();
    const std::string bytes = ReadFileBytes(pdf);
    EXPECT_EQ(bytes.rfind("%PDF", 0), 0u);
    if (const char* keep = std::getenv("CEMENTLAB_KEEP_PROTOCOL")) {
        QFile::remove(QString::fromLocal8Bit(keep));
        QFile::copy(QString::fromStdString(pdf), QString::fromLocal8Bit(keep));
    }
}

TEST_F(JournalPageTest, EventLoopTurnsWhileALargeProjectIsComputed)
{
    Open(1500, 43200); // 1500 records of 4 x 4320 samples
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    std::vector<int> progress;
    QObject::connect(Page->Progress(), &QProgressBar::valueChanged, [&](int v) { progress.push_back(v); });
    clock.start();
    timer.start();
    const qint64 started = clock.elapsed();
    ASSERT_TRUE(Compute());
    const qint64 took = clock.elapsed() - started;
    timer.stop();
    EXPECT_EQ(Page->Journal().size(), 1500u);
    EXPECT_TRUE(
        std::all_of(Page->Journal().begin(), Page->Journal().end(), [](auto& r) { return r.Readable; }));
    // The loop turned all along: no gap near the whole run, many ticks, progress seen on the way.
    EXPECT_GT(took, 100) << "too quick to tell";
    EXPECT_LT(longest, std::max<qint64>(took / 3, 100)) << "took " << took << " ms";
    EXPECT_GT(ticks, took / 5 / 4);
    EXPECT_GT(progress.size(), 2u);

    // Cancelled half-way: the old journal stays, the page says so and is stale.
    Page->Recompute();
    Page->CancelCompute();
    QSignalSpy done(Page.get(), &TJournalPage::Computed);
    ASSERT_TRUE(done.wait(10000));
    EXPECT_EQ(Page->Journal().size(), 1500u);
    EXPECT_TRUE(Page->Stale());
}

} // namespace
