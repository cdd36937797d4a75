// The parameter editor: what each setter shows, what each getter gives back for what the operator
// typed, pasted or chose, and how the window closes.

#include "view/SetParamUnit.h"

#include "ScriptedDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <ostream>

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QStringList Items(const QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

class SetParamFormTest : public TUiTest
{
protected:
    void Show()
    {
        Form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
        QApplication::setActiveWindow(&Form);
        Edit()->setFocus();
    }

    QLineEdit* Edit() const { return Form.CementMassEdit(); }

    // Replaces the whole text by the clipboard's, as the operator would with Ctrl+A, Ctrl+V.
    void Paste(const QString& text)
    {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(Edit(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(Edit(), Qt::Key_V, Qt::ControlModifier);
    }

    // Runs the window modally; `operate` acts once it is up. Fails instead of hanging when the
    // window does not close.
    int Exec(const std::function<void()>& operate)
    {
        QTimer::singleShot(0, &Form, operate);
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, &Form, [this] {
            ADD_FAILURE() << "the window did not close";
            Form.done(-1);
        });
        guard.start(5000);
        return Form.exec();
    }

    TSetParamForm Form{nullptr};
};

} // namespace

TEST_F(SetParamFormTest, ListsHoldTheirFixedItems)
{
    EXPECT_EQ(Items(Form.CementGradeComboBox()),
        QStringList({"M-100", "M-200", "M-300", "M-400", "M-500", "M-600", "M-700", "неизв."}));
    const QString point = QLocale::system().decimalPoint();
    QStringList corrections;
    for (const char* text : {"1.10", "1.20", "1.30", "1.40", "1.50", "1.60", "1.30"})
        corrections << QString::fromLatin1(text).replace(QLatin1Char('.'), point);
    EXPECT_EQ(Items(Form.SupplierComboBox()), corrections);
    EXPECT_EQ(Items(Form.ConcretionTimeComboBox()), QStringList({"7", "14", "28", "60", "90", "180", "360"}));
}

TEST_F(SetParamFormTest, MassZeroShowsQuestionMarkAndOnlyDigitsCanBeTyped)
{
    Form.SetCementMass(380);
    EXPECT_EQ(Edit()->text(), "380");
    Form.SetCementMass(0);
    EXPECT_EQ(Edit()->text(), "?");
    EXPECT_EQ(Form.GetCementMass(), 0u);

    Show();
    QTest::keyClicks(Edit(), "abc -+.,eE?");
    EXPECT_EQ(Edit()->text(), "?");
    // The first digit replaces the question mark rather than following it.
    QTest::keyClicks(Edit(), "4x5y0");
    EXPECT_EQ(Edit()->text(), "450");
    EXPECT_EQ(Form.GetCementMass(), 450u);

    // Editing keys still work: backspace, and moving the cursor to insert in front.
    QTest::keyClick(Edit(), Qt::Key_Backspace);
    QTest::keyClick(Edit(), Qt::Key_Home);
    QTest::keyClicks(Edit(), "1");
    EXPECT_EQ(Edit()->text(), "145");
    QTest::keyClick(Edit(), Qt::Key_Delete);
    EXPECT_EQ(Form.GetCementMass(), 15u);
}

TEST_F(SetParamFormTest, PastedTextThatIsNotAMassKeepsTheStoredOne)
{
    Form.SetCementMass(380);
    Show();
    for (const char* garbage :
        {"-5", "1e9x", "99999999999", "4294967296", "+5", "4 50", "0x10", "", "?", "٤٥٠"}) {
        const QString text = QString::fromUtf8(garbage);
        Paste(text);
        ASSERT_EQ(Edit()->text(), text) << "the paste itself is not filtered";
        EXPECT_EQ(Form.GetCementMass(), 380u) << text.toStdString();
    }
    for (const auto& [text, mass] : {std::pair<QString, std::uint32_t>{"4294967295", 4294967295u}, {"0", 0u},
             {"007", 7u}, {" 450 ", 450u}}) {
        Paste(text);
        EXPECT_EQ(Form.GetCementMass(), mass) << text.toStdString();
    }
}

TEST_F(SetParamFormTest, GradesBeyondTheKnownOnesSelectUnknown)
{
    for (const auto& [grade, item] :
        {std::pair<std::uint32_t, std::uint32_t>{0, 0}, {4, 4}, {6, 6}, {7, 7}, {9, 7}, {0xFFFFFFFFu, 7}}) {
        Form.SetCementGrade(grade);
        EXPECT_EQ(Form.CementGradeComboBox()->currentIndex(), static_cast<int>(item)) << grade;
        EXPECT_EQ(Form.GetCementGrade(), item) << grade;
    }
    Form.SetCementGrade(9);
    EXPECT_EQ(Form.CementGradeComboBox()->currentText(), "неизв.");
}

TEST_F(SetParamFormTest, AnInvalidSupplierLeavesNothingSelected)
{
    for (std::uint32_t supplier : {7u, 9u, 0xFFFFFFFFu}) {
        // From a valid supplier, so a selection left over would show.
        Form.SetSupplier(2);
        Form.SetSupplier(supplier);
        EXPECT_EQ(Form.SupplierComboBox()->currentIndex(), -1) << supplier;
        EXPECT_EQ(Form.SupplierNameMemo()->toPlainText(), "?") << supplier;
        EXPECT_EQ(Form.GetSupplier(), 0xFFFFFFFFu) << supplier;
    }
}

TEST_F(SetParamFormTest, ChoosingASupplierShowsItsNameAtOnce)
{
    Form.SetSupplier(9);
    Show();
    QComboBox* list = Form.SupplierComboBox();

    list->showPopup();
    QAbstractItemView* popup = list->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup->window()));
    QTest::mouseClick(
        popup->viewport(), Qt::LeftButton, {}, popup->visualRect(list->model()->index(3, 0)).center());
    EXPECT_EQ(list->currentIndex(), 3);
    EXPECT_EQ(Form.SupplierNameMemo()->toPlainText(), "Спасский");
    EXPECT_EQ(Form.GetSupplier(), 3u);

    // The keyboard choice on the closed list as well, down to the last item.
    list->setFocus();
    for (int item = 4; item <= 6; ++item)
        QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Form.SupplierNameMemo()->toPlainText(), " другой ");
    EXPECT_EQ(Form.GetSupplier(), 6u);
}

TEST_F(SetParamFormTest, HardeningDurationsOutsideTheListSelect28)
{
    for (const auto& [days, text] :
        {std::pair<std::int32_t, QString>{7, "7"}, {14, "14"}, {28, "28"}, {60, "60"}, {90, "90"},
            {180, "180"}, {360, "360"}, {30, "28"}, {0, "28"}, {-7, "28"}, {INT_MIN, "28"}}) {
        // From another item, so an unchanged selection would show.
        Form.SetConcretionTime(days == 360 ? 7 : 360);
        Form.SetConcretionTime(days);
        EXPECT_EQ(Form.ConcretionTimeComboBox()->currentText(), text) << days;
        EXPECT_EQ(Form.GetConcretionTime(), text.toInt()) << days;
    }
}

TEST_F(SetParamFormTest, ApplyAndEnterAcceptEscAndCancelReject)
{
    EXPECT_EQ(Exec([this] { QTest::mouseClick(Form.ApplyButton(), Qt::LeftButton); }), QDialog::Accepted);
    EXPECT_EQ(Exec([this] { QTest::mouseClick(Form.CancelButton(), Qt::LeftButton); }), QDialog::Rejected);
    for (const auto& [key, result] :
        {std::pair{Qt::Key_Escape, QDialog::Rejected}, {Qt::Key_Return, QDialog::Accepted}}) {
        // Typed into the mass edit, whose key filter must let them through.
        EXPECT_EQ(Exec([this, key] {
            Edit()->setFocus();
            QTest::keyClick(Edit(), key);
        }),
            result)
            << key;
    }
}

// The window cannot be resized, so every caption, control and button must fit it uncut.
TEST_F(SetParamFormTest, EverythingFitsTheFixedWindow)
{
    Form.SetSupplier(4); // the longest name
    Show();
    EXPECT_EQ(Form.minimumSize(), Form.maximumSize());
    EXPECT_GE(Form.width(), 266);
    EXPECT_GE(Form.height(), 263);
    const QRect screen = Form.screen()->availableGeometry();
    // The window manager's frame is not known before the window is shown.
    const QSize frame = Form.frameGeometry().size() - Form.size();
    EXPECT_LE(
        (Form.geometry().center() - screen.center()).manhattanLength(), frame.width() + frame.height() + 2);

    const auto placed
        = [this](const QWidget* widget) { return QRect(widget->mapTo(&Form, QPoint()), widget->size()); };
    for (const QLabel* label : Form.findChildren<QLabel*>()) {
        EXPECT_TRUE(Form.rect().contains(placed(label))) << label->text().toStdString();
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    }
    for (const QWidget* control : std::initializer_list<const QWidget*>{Form.CementMassEdit(),
             Form.CementGradeComboBox(), Form.SupplierComboBox(), Form.SupplierNameMemo(),
             Form.ConcretionTimeComboBox(), Form.ApplyButton(), Form.CancelButton()}) {
        EXPECT_TRUE(Form.rect().contains(placed(control))) << control->objectName().toStdString();
        EXPECT_GE(control->width(), control->minimumSizeHint().width())
            << control->objectName().toStdString();
    }

    // The largest mass shows whole: the edit need not scroll it to show the cursor at its end.
    Form.SetCementMass(4294967295u);
    const auto cursorX = [this] {
        Edit()->grab(); // the edit scrolls its text only when it paints
        return Edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
    };
    Edit()->end(false);
    const int endX = cursorX();
    Edit()->home(false);
    EXPECT_GE(endX - cursorX(), Edit()->fontMetrics().horizontalAdvance(Edit()->text()) - 1);

    // The memo sits under the list and shows the longest name whole on its two lines.
    const QPlainTextEdit* memo = Form.SupplierNameMemo();
    EXPECT_GE(placed(memo).top(), placed(Form.SupplierComboBox()).bottom());
    const QTextLayout* layout = memo->document()->firstBlock().layout();
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->lineCount(), 2);
    EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0);
}
