// The table viewer: what each kind shows, that nothing can be selected and how it closes.

#include "compute/ViewTableUnit.h"

#include "ScriptedDialogs.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString kHardeningCaption = QStringLiteral("Длительность твердения в нормальных условиях, сутки");

// A row as the printed tables write it, with the separator the window uses.
QStringList PrintedRow(const QString& row)
{
    return QString(row).replace(QLatin1Char('.'), QLocale::system().decimalPoint()).split(QLatin1Char(' '));
}

QStringList GridRow(const QTableWidget* grid, int row, int firstColumn = 0)
{
    QStringList texts;
    for (int column = firstColumn; column < grid->columnCount(); ++column)
        texts << grid->item(row, column)->text();
    return texts;
}

bool DataCellsEmpty(const QTableWidget* grid)
{
    for (int row = 1; row < grid->rowCount(); ++row) {
        if (GridRow(grid, row, 1).join(QString()) != QString())
            return false;
    }
    return true;
}

class ViewTableFormTest : public TUiTest
{
protected:
    TViewTableForm Form{nullptr};
    QTableWidget* Grid() const { return Form.TableStringGrid(); }
    QPushButton* CloseButton() const { return Form.findChild<QPushButton*>(QStringLiteral("CloseButton")); }
};

} // namespace

TEST(ViewTableKindOfTag, MenuTagsOpenTheirTableAndAnythingElseNothing)
{
    for (const auto& [tag, kind] : {std::pair{1, 0}, {2, 1}, {0, 2}, {3, 2}, {-1, 2}})
        EXPECT_EQ(ViewTableKindOfTag(tag), kind) << "tag " << tag;
}

TEST_F(ViewTableFormTest, EachKindShowsItsTableWithTheLargestContractionAtTheTop)
{
    Form.SetTableKind(TViewTableForm::kActivityTable);
    EXPECT_EQ(GridRow(Grid(), 1), PrintedRow("5.0 61.8 67.9 71.1 77.1 78.6 80.1 84.1"));
    EXPECT_EQ(GridRow(Grid(), 31), PrintedRow("2.0 15.0 24.9 28.9 35.7 39.0 45.3 49.4"));
    EXPECT_TRUE(Form.TableNameLbl()->text().startsWith(QStringLiteral("Активность (МПа) 1000г цемента")));
    EXPECT_EQ(Form.TableHead2Lbl()->text(), kHardeningCaption);

    Form.SetTableKind(TViewTableForm::kUnitContractionTable);
    EXPECT_EQ(GridRow(Grid(), 1), PrintedRow("5.0 0.046 0.050 0.052 0.056 0.057 0.058 0.060"));
    EXPECT_EQ(GridRow(Grid(), 31), PrintedRow("2.0 0.014 0.023 0.025 0.030 0.033 0.037 0.042"));
    EXPECT_TRUE(Form.TableNameLbl()->text().startsWith(QStringLiteral("Удельная текущая контракция")));
    EXPECT_EQ(Form.TableHead2Lbl()->text(), kHardeningCaption);

    // The day row and the contraction column stay whatever the kind.
    for (int kind : {0, 1, 2}) {
        Form.SetTableKind(kind);
        EXPECT_EQ(GridRow(Grid(), 0, 1), PrintedRow("7 14 28 60 90 180 360")) << kind;
        for (int row = 1; row <= 31; ++row)
            EXPECT_EQ(Grid()->item(row, 0)->text(), QLocale::system().toString(5.1 - 0.1 * row, 'f', 1));
    }
}

TEST_F(ViewTableFormTest, OtherKindsLeaveQuestionMarksAndEmptyCells)
{
    const auto expectNothingShown = [this](int kind) {
        EXPECT_EQ(Form.TableKind(), kind);
        EXPECT_EQ(Form.TableNameLbl()->text(), "?") << kind;
        EXPECT_EQ(Form.TableHead2Lbl()->text(), "?") << kind;
        EXPECT_TRUE(DataCellsEmpty(Grid())) << kind;
    };
    expectNothingShown(2);
    for (int kind : {2, 3, -1}) {
        // Start from a filled table, so leftovers would show.
        Form.SetTableKind(TViewTableForm::kActivityTable);
        ASSERT_FALSE(DataCellsEmpty(Grid()));
        Form.SetTableKind(kind);
        expectNothingShown(kind);
    }
}

TEST_F(ViewTableFormTest, ClicksSelectNothing)
{
    Form.SetTableKind(TViewTableForm::kActivityTable);
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    const int currentRow = Grid()->currentRow();
    EXPECT_EQ(Grid()->rowHeight(currentRow), 0);

    for (const auto& [row, column] : {std::pair{1, 1}, {31, 7}, {0, 3}, {15, 0}}) {
        const QPoint centre = Grid()->visualItemRect(Grid()->item(row, column)).center();
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, centre);
        EXPECT_TRUE(Grid()->selectionModel()->selectedIndexes().isEmpty()) << row << ", " << column;
        EXPECT_EQ(Grid()->currentRow(), currentRow) << row << ", " << column;
    }
}

// The window cannot grow, so the whole table, the captions and the button must fit in it.
TEST_F(ViewTableFormTest, EverythingFitsTheFixedWindow)
{
    Form.SetTableKind(TViewTableForm::kActivityTable);
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    const auto placed
        = [this](const QWidget* widget) { return QRect(widget->mapTo(&Form, QPoint()), widget->size()); };
    const QRect head2 = placed(Form.TableHead2Lbl());
    const QRect grid = placed(Grid());
    EXPECT_LE(placed(Form.TableNameLbl()).bottom(), head2.top());
    EXPECT_LE(head2.bottom(), grid.top());
    EXPECT_LE(grid.bottom(), placed(CloseButton()).top());
    EXPECT_TRUE(Form.rect().contains(placed(CloseButton())));

    EXPECT_EQ(Grid()->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(Grid()->horizontalScrollBar()->maximum(), 0);
    EXPECT_TRUE(Grid()->viewport()->rect().contains(Grid()->visualItemRect(Grid()->item(31, 7))));
    const QFontMetrics metrics(Grid()->font());
    EXPECT_LT(metrics.height(), Grid()->rowHeight(1));
    EXPECT_LT(metrics.horizontalAdvance(QStringLiteral("цемента ΔVo за 3 часа, мл")), Grid()->columnWidth(0));
}

TEST_F(ViewTableFormTest, EscEnterAndTheButtonClose)
{
    ASSERT_NE(CloseButton(), nullptr);
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        QTimer::singleShot(0, &Form, [this, key] { QTest::keyClick(&Form, key); });
        // A key that does not close must fail the test, not hang it.
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, &Form, [this] { Form.done(-1); });
        guard.start(5000);
        EXPECT_EQ(Form.exec(), QDialog::Rejected) << key;
    }

    Form.show();
    QTest::mouseClick(CloseButton(), Qt::LeftButton);
    EXPECT_FALSE(Form.isVisible());
}
