// What the operator sees of the current record: the two grids and the chart, filled by
// ShowResult from records stored in a real project file.

#include "ScriptedDialogs.h"

#include "app/MainUnit.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"
#include "view/ForecastChart.h"
#include "view/ResultGrids.h"
#include "view/SetParamUnit.h"

#include <qcustomplot.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include <fstream>

namespace {

QString Decimal(const char* text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

// 3 hours at 60 s: the full computation runs.
TMsrResult FullRecord(const TSampleFunction& volume, std::uint32_t mass = 400)
{
    TMsrResult msr = MakeRecord(10800, 60, volume, Constant(20.0f));
    msr.CementMass = mass;
    return msr;
}

} // namespace

class ResultsViewTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        Form = std::make_unique<TMainForm>(DataModule, Executable, std::make_shared<TInstrumentSimulator>());
        Dialogs->Files.push_back(QString::fromStdString(Dir.File("view.fdb")));
        Form->CreateNewProjectAction->trigger();
        ASSERT_TRUE(DataModule.IsProjectOpen());
    }

    void TearDown() override
    {
        Form.reset();
        DataModule.CloseProjectDatabase();
        USBFinalize();
        TUiTest::TearDown();
    }

    // Stores the record as a new row and makes it the current one, as a download does.
    void Show(TMsrResult msr)
    {
        msr.BeginDateTime = 45000.0 + ++m_records;
        msr.MeasureNumber = m_records;
        TArrayOfMsrResult list;
        list.push_back(std::move(msr));
        ASSERT_EQ(DataModule.StoreMsrResults(list), 1);
        Form->ShowResult();
    }

    QStringList Details() const
    {
        QStringList values;
        for (int row : {1, 2, 3, 4, 5, 6, 7, 8, kUnitContractionRow})
            values << Form->DetailsStringGrid()->Value(row);
        return values;
    }

    TTempDir Dir;
    QString Executable = QString::fromStdString(Dir.File("cement-lab"));
    TMainDataModule DataModule;
    std::unique_ptr<TMainForm> Form;

private:
    int m_records = 0;
};

TEST_F(ResultsViewTest, GridsShowTheRecordRowByRow)
{
    TMsrResult stagnation = FullRecord(StepCurve(60, 0.5f, 0.5f, 3.0f), 0);
    stagnation.Duration = 11100;
    Show(stagnation);
    EXPECT_EQ(Form->ParamStringGrid()->Value(0), "0");
    EXPECT_EQ(Form->ParamStringGrid()->Value(1), "3:5");
    EXPECT_EQ(Form->ParamStringGrid()->Value(2), "60");
    EXPECT_EQ(Form->ParamStringGrid()->Value(3), "M-500");
    EXPECT_EQ(Form->ParamStringGrid()->Value(4), Decimal("1.40 (Спасский) "));
    EXPECT_EQ(Form->ParamStringGrid()->Value(5), "28");
    EXPECT_EQ(Details()[2], "есть");
    EXPECT_EQ(Details()[3], Decimal("1.40"));

    TMsrResult plain = FullRecord(StepCurve(60, 0.5f, 0.5f, 3.0f), 0);
    plain.ExpCementGrade = 0;
    plain.Supplier = 9;
    Show(plain);
    EXPECT_EQ(Details()[2], "нет");
    EXPECT_EQ(Details()[3], " ");
    EXPECT_EQ(Form->ParamStringGrid()->Value(4), Decimal("0.00 (?) "));

    // Shorter than 3 hours: only the raw contractions and the temperature are known.
    Show(MakeRecord(10799, 60, StepCurve(60, 0.5f, 0.5f, 1.1f), Constant(20.0f)));
    const QStringList shortRun = Details();
    for (int row : {0, 1, 4})
        EXPECT_NE(shortRun[row], "?") << row + 1;
    for (int row : {2, 3, 5, 6, 7, 8})
        EXPECT_EQ(shortRun[row], "?") << row + 1;
}

TEST_F(ResultsViewTest, ActivityInsideBelowAndAboveTheTable)
{
    Show(FullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f)));
    EXPECT_EQ(Details()[7], Decimal(" 44.9"));
    Show(FullRecord(Constant(0.0f)));
    EXPECT_EQ(Details()[7], Decimal("< 28.9"));
    Show(FullRecord(StepCurve(60, 0.5f, 0.5f, 3.0f)));
    EXPECT_EQ(Details()[7], Decimal("> 71.1"));
    EXPECT_EQ(Details()[8], Decimal("> 0.052"));

    TMsrResult unknown = FullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f));
    unknown.ConcretionTime = 30;
    Show(unknown);
    const QStringList values = Details();
    EXPECT_EQ(values[7], "?");
    EXPECT_EQ(values[8], "?");
    for (int row = 0; row < 7; ++row)
        EXPECT_NE(values[row], "?") << row + 1;
}

TEST_F(ResultsViewTest, UnreadableRowEmptiesGridsAndChart)
{
    Show(FullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f)));
    ASSERT_GT(Form->Chart()->PointCount(0), 0);
    TCachedDataSet& results = DataModule.ResultDataSet();
    results.Append();
    results.SetField("MEASURE_DATE", TDateTime{46000.0});
    results.SetField("MEASURE_TIME", TDateTime{46000.0});
    results.SetField("MEASURE_NUMBER", std::int64_t{99});
    results.SetField("MEASURE_DATA", std::string("short"));
    results.Post();
    results.Last();
    for (int row = 0; row < 6; ++row)
        EXPECT_TRUE(Form->ParamStringGrid()->Value(row).isEmpty()) << row;
    for (int row = 1; row < Form->DetailsStringGrid()->rowCount(); ++row)
        EXPECT_TRUE(Form->DetailsStringGrid()->Value(row).isEmpty()) << row;
    for (int q = 0; q < QUANTITY_COUNT; ++q)
        EXPECT_EQ(Form->Chart()->PointCount(q), 0) << q;
    EXPECT_EQ(Form->DetailsStringGrid()->item(0, 1)->text(), "Канал 1");
}

TEST_F(ResultsViewTest, SeriesReadTheirArrays)
{
    TMsrResult msr = MakeRecord(
        3600, 10, [](std::size_t i) { return 1.5f + 0.001f * static_cast<float>(i); }, Constant(20.5f));
    msr.VolumeOffset = 0.5f;
    msr.CementMass = 400;
    msr.Data[2].assign(msr.Data[2].size(), 18.25f);  // second temperature
    msr.Data[3].assign(msr.Data[3].size(), 1234.0f); // resistance
    Show(msr);
    TForecastChart* chart = Form->Chart();
    for (int q = 0; q < QUANTITY_COUNT; ++q) {
        ASSERT_EQ(chart->PointCount(q), 360) << q;
        EXPECT_EQ(chart->Series(q)->data()->at(0)->key, 0.0);
        EXPECT_EQ(chart->Series(q)->data()->at(359)->key, 3590.0);
    }
    EXPECT_EQ(ChartTimeText(3590), "0:59");
    EXPECT_DOUBLE_EQ(chart->Series(0)->data()->at(100)->value, (1.5f + 0.1f) - 0.5f);
    EXPECT_NEAR(chart->Series(1)->data()->at(100)->value, ((1.5f + 0.1f) - 0.5f) * 2.5, 1e-6);
    EXPECT_EQ(chart->Series(2)->data()->at(7)->value, 20.5);
    EXPECT_EQ(chart->Series(3)->data()->at(7)->value, 1234.0);
    EXPECT_EQ(chart->Series(4)->data()->at(7)->value, 18.25);

    // Mass 0: quantity 1 is a flat line at 0.
    msr.CementMass = 0;
    Show(msr);
    for (int i = 0; i < 360; ++i)
        ASSERT_EQ(chart->Series(1)->data()->at(i)->value, 0.0) << i;

    // A record with fewer arrays than quantities: those stay empty.
    msr.Data.resize(2);
    Show(msr);
    EXPECT_EQ(chart->PointCount(2), 360);
    EXPECT_EQ(chart->PointCount(3), 0);
    EXPECT_EQ(chart->PointCount(4), 0);
}

TEST_F(ResultsViewTest, RunsPastOneDayAreDrawn)
{
    Show(MakeRecord(100000, 60, Constant(1.0f), Constant(20.0f)));
    const int n = 100000 / 60;
    ASSERT_EQ(Form->Chart()->PointCount(0), n);
    EXPECT_EQ(Form->Chart()->Series(0)->data()->at(n - 1)->key, (n - 1) * 60.0);
    EXPECT_EQ(ChartTimeText((n - 1) * 60), "27:45");
    EXPECT_EQ(ChartTimeText(86400), "24:00");
    EXPECT_EQ(ChartTimeText(91800), "25:30");
    EXPECT_DOUBLE_EQ(GetChartTime(91800), 91800.0 / 86400.0);
    EXPECT_TRUE(Form->Chart()->Plot()->xAxis->range().upper > 86400.0);
}

TEST_F(ResultsViewTest, QuantityButtonsSwitchTheVisibleSeries)
{
    Show(FullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f)));
    TForecastChart* chart = Form->Chart();
    EXPECT_EQ(chart->VisibleQuantity(), 0);
    EXPECT_TRUE(chart->LabelPanel(0)->isVisibleTo(chart));
    EXPECT_EQ(chart->Plot()->yAxis->numberPrecision(), 2);
    EXPECT_EQ(chart->Plot()->xAxis->label(), "Время, ч:м");

    Form->QuantityActions[2]->trigger();
    EXPECT_EQ(chart->VisibleQuantity(), 2);
    EXPECT_TRUE(Form->QuantityActions[2]->isChecked());
    EXPECT_FALSE(Form->QuantityActions[0]->isChecked());
    EXPECT_TRUE(chart->LabelPanel(2)->isVisibleTo(chart));
    EXPECT_FALSE(chart->LabelPanel(0)->isVisibleTo(chart));
    EXPECT_EQ(chart->Plot()->yAxis->numberPrecision(), 1);
    EXPECT_EQ(Form->Settings().VorkastGraphicType, 2);
    // Switching needs no refill: every series still holds its points.
    for (int q = 0; q < QUANTITY_COUNT; ++q)
        EXPECT_EQ(chart->PointCount(q), 180) << q;

    Form->ClearGraphics();
    EXPECT_TRUE(chart->Plot()->xAxis->label().isEmpty());
    EXPECT_EQ(chart->PointCount(2), 0);
}

TEST_F(ResultsViewTest, StoredQuantityOutsideTheButtonsShowsNothingUntilOneIsPressed)
{
    Form.reset();
    DataModule.CloseProjectDatabase();
    {
        std::ofstream ini(Dir.File("cement-lab.ini"));
        ini << "[Graphics]\r\nVorkastGraphicType=5\r\nSeriesColor0=255\r\n";
    }
    Form = std::make_unique<TMainForm>(DataModule, Executable, std::make_shared<TInstrumentSimulator>());
    Dialogs->Files.push_back(QString::fromStdString(Dir.File("five.fdb")));
    Form->CreateNewProjectAction->trigger();
    Show(FullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f)));
    TForecastChart* chart = Form->Chart();
    EXPECT_EQ(chart->VisibleQuantity(), -1);
    for (int q = 0; q < QUANTITY_COUNT; ++q) {
        EXPECT_FALSE(chart->LabelPanel(q)->isVisibleTo(chart)) << q;
        EXPECT_FALSE(Form->QuantityActions[q]->isChecked()) << q;
    }
    Form->QuantityActions[3]->trigger();
    EXPECT_EQ(chart->VisibleQuantity(), 3);
    EXPECT_EQ(chart->Series(3)->pen().color(), QColor(255, 0, 0));
}

TEST(ChartColours, AreRedInTheLowByte)
{
    EXPECT_EQ(ColorOfValue(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(ColorOfValue(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ColorOfValue(0x123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(ValueOfColor(QColor(0x56, 0x34, 0x12)), 0x123456u);
}

TEST_F(ResultsViewTest, ClickOnTheParametersEditsThemAndShowsTheNewResults)
{
    TMsrResult msr = FullRecord(StepCurve(60, 0.6f, 0.6f, 1.3f));
    msr.ExpCementGrade = 9;
    msr.ConcretionTime = 30;
    Show(msr);
    EXPECT_EQ(Details()[7], "?");
    QWidget* grid = Form->ParamStringGrid()->viewport();

    // A right click opens nothing.
    bool opened = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&opened] {
        if (QWidget* window = QApplication::activeModalWidget()) {
            opened = true;
            window->close();
        }
    });
    watch.start(5);
    QTest::mouseClick(grid, Qt::RightButton, {}, QPoint(50, 10));
    QTest::qWait(50);
    watch.stop();
    EXPECT_FALSE(opened);

    // Cancel keeps the row as it was.
    HandleModalLater<TSetParamForm>([](TSetParamForm* form) {
        form->CementMassEdit()->setText("123");
        form->CancelButton()->click();
    });
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_EQ(Form->ParamStringGrid()->Value(0), "400");
    TMsrResult unchanged;
    ASSERT_EQ(DataModule.ReadMsrResult(unchanged), 0);
    EXPECT_EQ(unchanged.CementMass, 400u);
    EXPECT_EQ(unchanged.ExpCementGrade, 9u);

    // Apply writes all four values; the results follow at once.
    QString gradeShown, timeShown;
    HandleModalLater<TSetParamForm>([&](TSetParamForm* form) {
        gradeShown = form->CementGradeComboBox()->currentText();
        timeShown = form->ConcretionTimeComboBox()->currentText();
        form->CementMassEdit()->setText("450");
        form->ApplyButton()->click();
    });
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_EQ(gradeShown, "неизв.");
    EXPECT_EQ(timeShown, "28");
    EXPECT_EQ(Form->ParamStringGrid()->Value(0), "450");
    EXPECT_EQ(Form->ParamStringGrid()->Value(3), "неизв.");
    EXPECT_EQ(Form->ParamStringGrid()->Value(5), "28");
    EXPECT_NE(Details()[7], "?");
    TMsrResult stored;
    ASSERT_EQ(DataModule.ReadMsrResult(stored), 0);
    EXPECT_EQ(stored.CementMass, 450u);
    EXPECT_EQ(stored.ExpCementGrade, 7u);
    EXPECT_EQ(stored.ConcretionTime, 28);
    EXPECT_EQ(stored.SampleCount(), 180u);
    EXPECT_TRUE(DataModule.HasChanges());
}
