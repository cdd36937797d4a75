// The colour window (what a pick, "Применить", "Отмена" and Esc leave in the working copy, and
// what the grid paints) and the about window (label texts, missing strings, click targets, fit).

#include "settings/AboutUnit.h"
#include "settings/SetColorsUnit.h"
#include "settings/Version.h"

#include "ScriptedDialogs.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using TColors = std::vector<std::uint32_t>;

constexpr std::uint32_t kRed = 0x0000FF;
constexpr int kRedEntry = 9;
constexpr std::uint32_t kGreen = 0x008000;
// Not offered, and with red and blue different, so a swapped byte order shows.
constexpr std::uint32_t kUnlisted = 0x123456;

// Runs the dialog modally; `operate` acts once it is up. Fails instead of hanging.
int Exec(QDialog& dialog, const std::function<void()>& operate)
{
    QTimer::singleShot(0, &dialog, operate);
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &dialog, [&dialog] {
        ADD_FAILURE() << "the window did not close";
        dialog.done(-1);
    });
    guard.start(5000);
    return dialog.exec();
}

class SetColorsFormTest : public TUiTest
{
protected:
    QTableWidget* Grid() const { return Form.ColorsDrawGrid(); }
    QComboBox* Combo() const { return Form.ColorComboBox(); }
    QRect CellRect(int row, int column) const
    {
        return Grid()->visualRect(Grid()->model()->index(row, column));
    }
    void ClickCell(int row, int column)
    {
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, CellRect(row, column).center());
    }

    // Opens the list and chooses with the keyboard, as the operator may.
    void Pick(int entry)
    {
        ASSERT_TRUE(Combo()->isVisible());
        Combo()->showPopup();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Combo()->view()->window()));
        Combo()->view()->setCurrentIndex(Combo()->model()->index(entry, 0));
        QTest::keyClick(Combo()->view(), Qt::Key_Return);
    }

    QColor PaintedColor(int row, int column) const
    {
        const QPoint centre = Grid()->viewport()->mapTo(Grid(), CellRect(row, column).center());
        return Grid()->grab().toImage().pixelColor(centre);
    }

    TSetColorsForm Form{nullptr};
};

TEST_F(SetColorsFormTest, NewWindowOffersTheSixteenSwatchesWithTheDropDownHidden)
{
    const TColors expected = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0x808080,
        0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    TColors offered;
    for (int i = 0; i < Combo()->count(); ++i) {
        offered.push_back(Combo()->itemData(i).toUInt());
        EXPECT_TRUE(Combo()->itemText(i).isEmpty()) << "entry " << i;
    }
    EXPECT_EQ(offered, expected);

    EXPECT_EQ(Form.Colors(), TColors{0});
    EXPECT_EQ(Grid()->rowCount(), 1);
    EXPECT_EQ(Grid()->currentColumn(), 1);
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    EXPECT_FALSE(Combo()->isVisible());
    EXPECT_EQ(PaintedColor(0, 1), QColor(Qt::black));
    EXPECT_EQ(PaintedColor(0, 0), QColor(Qt::white));
}

TEST_F(SetColorsFormTest, ApplyGivesThePickedColourAndRepaintsTheCell)
{
    Form.SetColors({kGreen});
    const int result = Exec(Form, [this] {
        ClickCell(0, 0);
        EXPECT_FALSE(Combo()->isVisible()) << "the channel name opened the drop-down";
        ClickCell(0, 1);
        EXPECT_EQ(Combo()->geometry(), CellRect(0, 1));
        EXPECT_EQ(Combo()->currentData().toUInt(), kGreen);
        Pick(kRedEntry);
        EXPECT_FALSE(Combo()->isVisible());
        EXPECT_EQ(PaintedColor(0, 1), QColor(0xFF, 0, 0));
        QTest::mouseClick(Form.ApplyButton(), Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(Form.Colors(), TColors{kRed});
}

class SetColorsDiscardTest : public SetColorsFormTest, public ::testing::WithParamInterface<bool>
{ };

TEST_P(SetColorsDiscardTest, CancelOrEscAfterAPickLeavesTheColoursAsSet)
{
    Form.SetColors({kGreen});
    const int result = Exec(Form, [this] {
        ClickCell(0, 1);
        Pick(kRedEntry);
        ASSERT_EQ(Form.Colors(), TColors{kRed}) << "the pick did not reach the copy";
        if (GetParam())
            QTest::keyClick(Grid(), Qt::Key_Escape);
        else
            QTest::mouseClick(Form.CancelButton(), Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(Form.Colors(), TColors{kGreen});
}

INSTANTIATE_TEST_SUITE_P(EscOrCancelButton, SetColorsDiscardTest, ::testing::Bool());

TEST_F(SetColorsFormTest, UnlistedColourIsPaintedAsItIsAndSurvivesARoundTrip)
{
    Form.SetColors({kUnlisted});
    const QColor unlisted(0x56, 0x34, 0x12);
    const int result = Exec(Form, [&] {
        EXPECT_EQ(PaintedColor(0, 1), unlisted);
        ClickCell(0, 1);
        ASSERT_TRUE(Combo()->isVisible());
        EXPECT_EQ(Combo()->currentIndex(), -1) << "an offered entry stands for a colour not offered";
        const QImage combo = Combo()->grab().toImage();
        EXPECT_EQ(combo.pixelColor(combo.width() / 4, combo.height() / 2), unlisted);
        QTest::mouseClick(Form.ApplyButton(), Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(Form.Colors(), TColors{kUnlisted});
}

// The about window.

const QStringList kKeys = {"ProductName", "Comments", "FileVersion", "Year", "CompanyName", "CompanyPhone",
    "CompanyEMail", "CompanyWeb"};
const QStringList kSample
    = {"Прибор-тест", "Описание, достаточно длинное, чтобы перенестись на вторую строку", "1.2.3", "2031",
        "Лаборатория", "+7 000 000-00-00", "lab@example.org", "example.org"};

TVersionQuery QueryWithout(const QString& missing)
{
    return [missing](const QString& key) -> std::optional<QString> {
        const qsizetype i = kKeys.indexOf(key);
        return i < 0 || key == missing ? std::nullopt : std::optional(kSample[i]);
    };
}

class TUrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl& url) { Opened << url; }
};

class AboutFormTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        // Nothing reaches a real mail program or browser.
        for (const char* scheme : {"mailto", "http"})
            QDesktopServices::setUrlHandler(scheme, &Urls, "Open");
    }
    void TearDown() override
    {
        for (const char* scheme : {"mailto", "http"})
            QDesktopServices::unsetUrlHandler(scheme);
        TUiTest::TearDown();
    }

    QList<QLabel*> Labels() const
    {
        return {Form.ProductNameLabel(), Form.CommentsLabel(), Form.FileVersionLabel(), Form.YearLabel(),
            Form.CompanyNameLabel(), Form.CompanyPhoneLabel(), Form.CompanyEMailLabel(),
            Form.CompanyWebLabel()};
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const QLabel* label : Labels())
            texts << label->text();
        return texts;
    }

    // Every text whole inside the window, nothing on top of anything else.
    void ExpectEverythingFits()
    {
        QList<QWidget*> controls = {Form.CloseButton()};
        for (QLabel* label : Labels()) {
            const QSize needed = label->wordWrap()
                ? QSize(label->width(), label->heightForWidth(label->width()))
                : label->sizeHint();
            EXPECT_TRUE(label->width() >= needed.width() && label->height() >= needed.height())
                << label->objectName().toStdString() << " is cut";
            controls << label;
        }
        for (int i = 0; i < controls.size(); ++i) {
            EXPECT_TRUE(Form.rect().contains(controls[i]->geometry()))
                << controls[i]->objectName().toStdString();
            for (int j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                    << controls[i]->objectName().toStdString() << ", "
                    << controls[j]->objectName().toStdString();
        }
        EXPECT_EQ(Form.YearLabel()->y(), Form.FileVersionLabel()->y());
        EXPECT_EQ(Form.CompanyWebLabel()->y(), Form.CompanyEMailLabel()->y());
    }

    TUrlRecorder Urls;
    TAboutForm Form{nullptr};
};

TEST_F(AboutFormTest, VersionValueFindsTheProgramsStringsByExactName)
{
    EXPECT_EQ(VersionValue("FileVersion"), QStringLiteral(CEMENTLAB_VERSION));
    Form.Fill();
    EXPECT_EQ(Form.FileVersionLabel()->text(), QStringLiteral("Версия " CEMENTLAB_VERSION ","));
    EXPECT_TRUE(QRegularExpression("^\\d{4}$").match(VersionValue("Year").value_or("")).hasMatch());
    EXPECT_TRUE(VersionValue("Comments").value_or("").contains("цемент"));
    // A string the program does not have is missing, never an empty text after a prefix.
    for (const QString& key : kKeys)
        EXPECT_NE(VersionValue(key), QString()) << key.toStdString();
    for (const char* key : {"CompanyFax", "", "Product", "ProductNameX", "fileversion"})
        EXPECT_EQ(VersionValue(key), std::nullopt) << key;
}

TEST_F(AboutFormTest, FillComposesEveryLabelWithItsPrefixAndTheAddressesOpen)
{
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    for (QLabel* label : {Form.CompanyEMailLabel(), Form.CompanyWebLabel()})
        QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_TRUE(Urls.Opened.isEmpty()) << "a label without an address opened something";

    Form.Fill(QueryWithout({}));
    EXPECT_EQ(Texts(),
        (QStringList{kSample[0], kSample[1], "Версия 1.2.3,", "2031", "Лаборатория", "тел. +7 000 000-00-00",
            "e-mail: lab@example.org", "http://example.org"}));
    ExpectEverythingFits();
    for (QLabel* label : {Form.CompanyEMailLabel(), Form.CompanyWebLabel(), Form.CompanyNameLabel()})
        QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(Urls.Opened, (QList<QUrl>{QUrl("mailto:lab@example.org"), QUrl("http://example.org")}));
}

class AboutMissingKeyTest : public AboutFormTest, public ::testing::WithParamInterface<int>
{ };

TEST_P(AboutMissingKeyTest, MissingKeyLeavesOnlyItsLabelAsBuilt)
{
    const QString missing = kKeys[GetParam()];
    const QStringList built = Texts();
    Form.Fill(QueryWithout(missing));
    const QStringList filled = Texts();
    for (int i = 0; i < built.size(); ++i)
        EXPECT_EQ(filled[i] == built[i], i == GetParam()) << kKeys[i].toStdString();
    EXPECT_EQ(Form.MailTarget().isEmpty(), missing == "CompanyEMail");
    EXPECT_EQ(Form.WebTarget().isEmpty(), missing == "CompanyWeb");
}

INSTANTIATE_TEST_SUITE_P(EachKey, AboutMissingKeyTest, ::testing::Range(0, 8),
    [](const ::testing::TestParamInfo<int>& info) { return kKeys[info.param].toStdString(); });

} // namespace

#include "SettingsUnitsTest.moc"
