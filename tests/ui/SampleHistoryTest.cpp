// The sample panel, the measured strength in the results grid, and the history window.
#include "MainFormFixture.h"

#include "app/HistoryWindow.h"
#include "app/SamplePanel.h"
#include "view/ResultGrids.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

TEST_F(MainFormTest, SampleEntriesAreSavedCancelledAndRecordedWithTheForecastError)
{
    NewProject(ProjectFile("sample.fdb"));
    Simulator->Plug(MakeRealisticInstrument(3, 7));
    ASSERT_EQ(Download().second, 3);
    Form->SaveProjectAction->trigger();
    TSamplePanel* panel = Form->SamplePanel();
    ASSERT_TRUE(panel->isEnabled());
    TResultStringGrid* grid = Form->DetailsStringGrid();
    EXPECT_EQ(grid->Value(kMeasuredStrengthRow), "?");
    EXPECT_EQ(grid->Value(kForecastErrorRow), "?");

    // Typed in: pending like any edit, gone on cancel.
    QTest::keyClicks(panel->CodeEdit(), "P-1");
    EXPECT_TRUE(DataModule.HasChanges());
    Form->CancelChangesAction->trigger();
    EXPECT_EQ(panel->CodeEdit()->text(), "");
    EXPECT_FALSE(DataModule.HasChanges());

    QTest::keyClicks(panel->CodeEdit(), "P-2");
    QTest::keyClicks(panel->StrengthEdit(), "40,5");
    panel->SamplingDateEdit()->setDate(QDate(2024, 3, 1));
    Q_EMIT panel->Exit();
    const QString activity = grid->Value(8).trimmed();
    const double predicted = QLocale().toDouble(activity);
    ASSERT_GT(predicted, 0.0) << activity.toStdString();
    EXPECT_EQ(grid->Value(kMeasuredStrengthRow), QLocale().toString(40.5, 'f', 1));
    EXPECT_NEAR(QLocale().toDouble(grid->Value(kForecastErrorRow)), predicted - 40.5, 0.11);
    EXPECT_NEAR(
        QLocale().toDouble(grid->Value(kForecastErrorPercentRow)), (predicted - 40.5) / 40.5 * 100, 0.3);
    Form->SaveProjectAction->trigger();
    const int record = DataModule.ResultDataSet().RecNo();

    // Reopened: the values are there, the history names them; a deletion is undone from it.
    Form->CloseProjectAction->trigger();
    OpenProject(ProjectFile("sample.fdb"));
    DataModule.ResultDataSet().SetRecNo(record);
    EXPECT_EQ(panel->CodeEdit()->text(), "P-2");
    EXPECT_EQ(panel->SamplingDateEdit()->date(), QDate(2024, 3, 1));
    EXPECT_EQ(panel->StrengthDateEdit()->date(), QDate(1900, 1, 1)); // "не указана"
    DataModule.ResultDataSet().Delete();
    Form->SaveProjectAction->trigger();
    ASSERT_EQ(DataModule.GetRecordCount(), 2);
    THistoryWindow window(DataModule, Form.get());
    window.Fill(true);
    QTableWidget* table = window.Table();
    ASSERT_EQ(table->rowCount(), 4); // newest first: the deletion, then the date, strength and code
    EXPECT_EQ(table->item(0, 3)->text(), "Запись удалена");
    EXPECT_EQ(table->item(3, 3)->text(), "Шифр пробы");
    EXPECT_EQ(table->item(3, 5)->text(), "P-2");
    table->selectRow(3);
    EXPECT_FALSE(window.RestoreButton()->isEnabled());
    table->selectRow(0);
    ASSERT_TRUE(window.RestoreButton()->isEnabled());
    ASSERT_TRUE(window.RestoreSelected());
    EXPECT_EQ(DataModule.GetRecordCount(), 3);
    EXPECT_EQ(panel->CodeEdit()->text(), "P-2");
    Form->SaveProjectAction->trigger();
    window.Fill(false);
    EXPECT_EQ(window.Table()->item(0, 3)->text(), "Запись восстановлена");
}
