// The printed protocol: sheets collected from a real project, painted into PDF and JPEG.

#include "ScriptedDialogs.h"

#include "app/MainUnit.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "output/ReportPreviewUnit.h"
#include "output/ReportUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"

#include <qcustomplot.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>

#include <chrono>
#include <thread>

namespace {

double OleDate(int year, int month, int day, int hour, int minute)
{
    const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch.msecsTo(QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC)) / 86400000.0;
}

TMsrResult Record(double start, std::int32_t number, std::uint32_t duration = 12600, std::uint32_t mass = 400)
{
    TMsrResult msr = MakeRecord(duration, 60, StepCurve(60, 0.6f, 0.6f, 1.3f), Constant(20.0f));
    msr.BeginDateTime = start;
    msr.MeasureNumber = number;
    msr.CementMass = mass;
    return msr;
}

QString RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return QStringLiteral("<%1 did not finish>").arg(program);
    return QString::fromUtf8(process.readAllStandardOutput());
}

struct TPdfWord
{
    QString Text;
    QRectF Box; // points from the page's top left
};

// The words of one page with their boxes, as `pdftotext -bbox` finds them.
std::vector<TPdfWord> PdfWords(const QString& pdf, int page)
{
    const QString html
        = RunTool("pdftotext", {"-bbox", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<TPdfWord> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        words.push_back({m.captured(5),
            QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return words;
}

// Image objects of a PDF, one line each, as `pdfimages -list` lists them under its header.
QStringList PdfImages(const QString& pdf)
{
    QStringList lines = RunTool("pdfimages", {"-list", pdf}).split('\n', Qt::SkipEmptyParts);
    return lines.mid(2);
}

// Sheet i is record number i + 1 a day after sheet i - 1; each is made when asked for,
// taking `delay` as a slow store would.
class TCountingSheets : public TReportSheets
{
public:
    explicit TCountingSheets(int count, std::chrono::milliseconds delay = {})
        : m_count(count)
        , m_delay(delay)
    { }
    int Count() const override { return m_count; }
    TReportSheet Sheet(int index) const override
    {
        ++Made;
        std::this_thread::sleep_for(m_delay);
        TReportSheet sheet;
        sheet.Msr = Record(OleDate(2008, 3, 5, 14, 7) + index, index + 1);
        sheet.BeginDateTime = sheet.Msr.BeginDateTime;
        sheet.MeasureNumber = sheet.Msr.MeasureNumber;
        sheet.Readable = true;
        sheet.Calc = CalcMsrResult(sheet.Msr);
        return sheet;
    }
    mutable int Made = 0;

private:
    int m_count;
    std::chrono::milliseconds m_delay;
};

} // namespace

class ReportTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        Form = std::make_unique<TMainForm>(DataModule, Executable, std::make_shared<TInstrumentSimulator>());
        Dialogs->Files.push_back(QString::fromStdString(Dir.File("report.fdb")));
        Form->CreateNewProjectAction->trigger();
        ASSERT_TRUE(DataModule.IsProjectOpen());
        TArrayOfMsrResult records;
        records.push_back(Record(OleDate(2008, 3, 5, 14, 7), 1));
        records.push_back(Record(OleDate(2008, 3, 6, 22, 40), 2));       // past midnight
        records.push_back(Record(OleDate(2008, 3, 7, 9, 0), 3, 100000)); // more than a day
        ASSERT_EQ(DataModule.StoreMsrResults(records), 3);
        DataModule.ResultDataSet().SetRecNo(2);
    }

    void TearDown() override
    {
        Form.reset();
        DataModule.CloseProjectDatabase();
        USBFinalize();
        TUiTest::TearDown();
    }

    TTempDir Dir;
    QString Executable = QString::fromStdString(Dir.File("cement-lab"));
    TMainDataModule DataModule;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(ReportTest, SheetsOfAllRecordsInListOrderAndThePositionKept)
{
    const std::vector<TReportSheet> all = CollectReportSheets(DataModule, true);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].MeasureNumber, 1);
    EXPECT_EQ(all[1].MeasureNumber, 2);
    EXPECT_EQ(all[2].MeasureNumber, 3);
    EXPECT_EQ(DataModule.ResultDataSet().RecNo(), 2);
    EXPECT_TRUE(DataModule.ControlsEnabled());

    const std::vector<TReportSheet> current = CollectReportSheets(DataModule, false);
    ASSERT_EQ(current.size(), 1u);
    EXPECT_EQ(current[0].MeasureNumber, 2);
    EXPECT_EQ(DataModule.ResultDataSet().RecNo(), 2);
}

TEST_F(ReportTest, BeginAndEndTexts)
{
    const std::vector<TReportSheet> sheets = CollectReportSheets(DataModule, true);
    EXPECT_EQ(ReportBeginText(sheets[0]), "начало  05.03.2008  14:07");
    EXPECT_EQ(ReportEndText(sheets[0]), "окончание  05.03.2008  17:37");
    EXPECT_EQ(ReportEndText(sheets[1]), "окончание  07.03.2008  02:10");
    // 100000 s is 27 h 46 min 40 s.
    EXPECT_EQ(ReportEndText(sheets[2]), "окончание  08.03.2008  12:46");
}

TEST_F(ReportTest, UnreadableRecordPrintsItsDateAndNoValues)
{
    TCachedDataSet& results = DataModule.ResultDataSet();
    results.Append();
    results.SetField("MEASURE_DATE", TDateTime{OleDate(2009, 1, 2, 8, 30)});
    results.SetField("MEASURE_TIME", TDateTime{OleDate(2009, 1, 2, 8, 30)});
    results.SetField("MEASURE_NUMBER", std::int64_t{77});
    results.SetField("MEASURE_DATA", std::string("bad"));
    results.Post();
    results.Last();
    const std::vector<TReportSheet> sheets = CollectReportSheets(DataModule, false);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_FALSE(sheets[0].Readable);
    EXPECT_EQ(sheets[0].MeasureNumber, 77);
    EXPECT_EQ(ReportBeginText(sheets[0]), "начало  02.01.2009  08:30");
    TReportPreviewForm preview(nullptr, sheets, 0);
    const QString pdf = QString::fromStdString(Dir.File("bad.pdf"));
    preview.SavePdf(pdf);
    const QString text = RunTool("pdftotext", {"-layout", pdf, "-"});
    EXPECT_TRUE(text.contains("02.01.2009")) << text.toStdString();
    EXPECT_FALSE(text.contains("M-500")) << text.toStdString();
}

TEST_F(ReportTest, PdfHoldsOnePagePerSheetWithTheTexts)
{
    TReportPreviewForm preview(nullptr, CollectReportSheets(DataModule, true), 0x0000FF);
    EXPECT_EQ(preview.PageCount(), 3);
    const QString pdf = QString::fromStdString(Dir.File("protocol.pdf"));
    preview.SavePdf(pdf);
    EXPECT_TRUE(RunTool("pdfinfo", {pdf}).contains(QRegularExpression("Pages:\\s+3\\b")));
    // The text tool joins blanks; the chart is drawn as vectors, its labels are text and the
    // file holds no picture.
    EXPECT_TRUE(PdfImages(pdf).isEmpty()) << PdfImages(pdf).join('\n').toStdString();
    const QString first = RunTool("pdftotext", {"-f", "1", "-l", "1", pdf, "-"}).simplified();
    for (const char* expected :
        {"Протокол испытания №", "начало 05.03.2008 14:07", "окончание 05.03.2008 17:37",
            "Параметры испытания", "Результаты испытания", "Масса цемента в стакане Co, г",
            "Активность R, МПа", "Испытания провёл:", "ВОРКАСТИРОВАНИЕ", "M-500", "Время, ч:м", "3:00"})
        EXPECT_TRUE(first.contains(QString::fromUtf8(expected))) << expected << "\n" << first.toStdString();
    EXPECT_TRUE(first.contains("400"));
    const QString second = RunTool("pdftotext", {"-f", "2", "-l", "2", pdf, "-"}).simplified();
    EXPECT_TRUE(second.contains("окончание 07.03.2008 02:10")) << second.toStdString();
}

// The sheet's texts where its template puts them (report units of 5/18 mm from the sheet's
// left edge and top), whatever the chart does beside them.
TEST_F(ReportTest, SheetTextsStayInTheirTemplatePlaces)
{
    TReportPreviewForm preview(nullptr, CollectReportSheets(DataModule, false), 0);
    const QString pdf = QString::fromStdString(Dir.File("places.pdf"));
    preview.SavePdf(pdf);
    const std::vector<TPdfWord> words = PdfWords(pdf, 1);
    constexpr double kPoint = 5.0 / 18.0 / 25.4 * 72.0;
    const struct
    {
        const char* Word;
        bool RightEdge; // else the left edge
        double X, Y;    // the edge, and the middle of the line
    } places[] = {
        {"_______", true, 1035, 82},
        {"начало", false, -1, 106},
        {"окончание", false, -1, 130},
        {"Параметры", false, 42, 210},
        {"Масса", false, 42, 238},
        {"Результаты", false, 42, 418},
        {"Активность", false, 42, 642},
        {"Удельная", false, 42, 670},
        {"_____________________", true, 1032, 674},
        {"ΔV", false, 412, 208},
    };
    for (const auto& place : places) {
        const auto word = std::find_if(words.begin(), words.end(),
            [&](const TPdfWord& w) { return w.Text == QString::fromUtf8(place.Word); });
        ASSERT_NE(word, words.end()) << place.Word;
        if (place.X >= 0) {
            EXPECT_NEAR(place.RightEdge ? word->Box.right() : word->Box.left(), place.X * kPoint, 1.0)
                << place.Word;
        }
        EXPECT_NEAR(word->Box.center().y(), place.Y * kPoint, 2.0) << place.Word;
    }
    // Both date lines end at the right edge of the header.
    int dateLines = 0;
    for (const TPdfWord& w : words)
        dateLines += w.Text == QStringLiteral("22:40") || w.Text == QStringLiteral("02:10")
            ? std::abs(w.Box.right() - 1035 * kPoint) < 1.0
            : 0;
    EXPECT_EQ(dateLines, 2);
}

TEST_F(ReportTest, JpegPagesAreNamedAfterTheFileAndCropped)
{
    EXPECT_EQ(JpegPageName("/x/protocol.jpg", 1), "/x/protocol_1.jpg");
    EXPECT_EQ(JpegPageName("/x/protocol", 2), "/x/protocol_2.jpg");
    std::vector<TReportSheet> sheets = CollectReportSheets(DataModule, true);
    sheets.resize(2);
    TReportPreviewForm preview(nullptr, sheets, 0x0000FF);
    const QString name = QString::fromStdString(Dir.File("protocol.jpg"));
    const QStringList written = preview.SaveJpegPages(name, 100);
    EXPECT_EQ(written,
        QStringList({QString::fromStdString(Dir.File("protocol_1.jpg")),
            QString::fromStdString(Dir.File("protocol_2.jpg"))}));
    EXPECT_FALSE(QFileInfo::exists(name));
    const QImage page(written[0]);
    ASSERT_FALSE(page.isNull());
    // Cropped: narrower and lower than the whole sheet, white at the corners.
    EXPECT_LT(page.width(), qRound(297 / 25.4 * 100));
    EXPECT_LT(page.height(), qRound(210 / 25.4 * 100));
    EXPECT_GT(qGray(page.pixel(0, page.height() - 1)), 240);
    // Something printed in the channel colour (the curve), red in 0x0000FF.
    bool red = false;
    for (int y = 0; y < page.height() && !red; ++y)
        for (int x = page.width() / 2; x < page.width() && !red; ++x) {
            const QColor c = page.pixelColor(x, y);
            red = c.red() > 180 && c.green() < 90 && c.blue() < 90;
        }
    EXPECT_TRUE(red);
}

// Through the real save dialog: the JPEG type chosen and a bare name typed give JPEG pages.
TEST_F(ReportTest, SaveWithTheJpegTypeAndABareNameWritesJpegPages)
{
    std::vector<TReportSheet> sheets = CollectReportSheets(DataModule, true);
    sheets.resize(1);
    TReportPreviewForm preview(nullptr, sheets, 0);
    std::unique_ptr<TOperatorDialogs> scripted = SetOperatorDialogs(nullptr);
    const QString folder = QString::fromStdString(Dir.File(""));
    HandleModalLater<QFileDialog>([&folder](QFileDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Сохранить отчёт"));
        dialog->setDirectory(folder);
        dialog->selectNameFilter(QStringLiteral("Рисунки JPEG по страницам (*.jpg)"));
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText("protocol");
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
    });
    preview.SaveReport();
    SetOperatorDialogs(std::move(scripted));
    EXPECT_EQ(QImageReader(folder + "protocol_1.jpg").format(), "jpeg");
    EXPECT_FALSE(QFileInfo::exists(folder + "protocol.pdf"));
    EXPECT_FALSE(QFileInfo::exists(folder + "protocol"));
}

TEST_F(ReportTest, PrintFlowFromTheCommand)
{
    // Cancel: nothing prepared, the type kept as chosen.
    HandleModalLater<TSelectReportTypeForm>([](TSelectReportTypeForm* form) {
        EXPECT_TRUE(form->CurrentRecordRadioButton()->isChecked());
        form->AllRecordsRadioButton()->setChecked(true);
        form->reject();
    });
    Form->PrintReportAction->trigger();

    int pages = -1;
    HandleModalLater<TSelectReportTypeForm>([&pages](TSelectReportTypeForm* form) {
        form->AllRecordsRadioButton()->setChecked(true);
        HandleModalLater<TReportPreviewForm>(
            [&pages](TReportPreviewForm* preview) { pages = preview->PageCount(); });
        form->accept();
    });
    Form->PrintReportAction->trigger();
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(DataModule.ResultDataSet().RecNo(), 2);
}

// A long report on screen: only the sheets turned to are made, and the page shown is the
// sheet asked for, painted as the printed sheet is.
TEST_F(ReportTest, ManySheetsPreviewMakesOnlyThePagesTurnedTo)
{
    auto sheets = std::make_shared<TCountingSheets>(300);
    TReportPreviewForm preview(nullptr, sheets, 0x0000FF);
    preview.show();
    QApplication::processEvents();
    EXPECT_EQ(preview.PageCount(), 300);
    auto click = [&preview](const char* name) { preview.findChild<QPushButton*>(name)->click(); };
    const struct
    {
        std::function<void()> Turn;
        int Page;
    } steps[] = {
        {[] {}, 1},
        {[&] { click("NextPageButton"); }, 2},
        {[&] { click("LastPageButton"); }, 300},
        {[&] { click("NextPageButton"); }, 300},
        {[&] { click("PreviousPageButton"); }, 299},
        {[&] { preview.PageSpinBox()->setValue(150); }, 150},
        {[&] { click("FirstPageButton"); }, 1},
        {[&] { click("PreviousPageButton"); }, 1},
    };
    for (const auto& step : steps) {
        step.Turn();
        QApplication::processEvents();
        ASSERT_EQ(preview.CurrentPage(), step.Page);
        EXPECT_EQ(preview.Preview()->CurrentSheet()->MeasureNumber, step.Page);
        EXPECT_EQ(preview.PageSpinBox()->text(), QStringLiteral("Лист %1 из 300").arg(step.Page));
        EXPECT_EQ(preview.findChild<QPushButton*>("FirstPageButton")->isEnabled(), step.Page > 1);
        EXPECT_EQ(preview.findChild<QPushButton*>("NextPageButton")->isEnabled(), step.Page < 300);
    }
    // One sheet for each page turned to, none made ahead.
    EXPECT_EQ(sheets->Made, 6);

    preview.PageSpinBox()->setValue(150);
    preview.findChild<QPushButton*>("ZoomInButton")->click();
    const QImage shown = preview.Preview()->PageImage();
    QImage expected(shown.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
        QCPPainter painter(&expected);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        PaintReportSheet(painter, sheets->Sheet(149), 0x0000FF);
    }
    EXPECT_EQ(shown, expected);
    preview.PageSpinBox()->setValue(151);
    EXPECT_NE(preview.Preview()->PageImage(), expected);
}

// Saving a long report: every sheet in the PDF; "Отмена" in the progress window leaves no
// file of the stopped save and keeps the one saved before.
TEST_F(ReportTest, ManySheetsSavedWholeOrNotAtAll)
{
    constexpr int kSheets = 60;
    // Sheets slow enough that the progress window shows however fast the painting is.
    TReportPreviewForm preview(
        nullptr, std::make_shared<TCountingSheets>(kSheets, std::chrono::milliseconds(20)), 0);
    const QString pdf = QString::fromStdString(Dir.File("long.pdf"));
    ASSERT_TRUE(preview.SavePdf(pdf));
    EXPECT_TRUE(RunTool("pdfinfo", {pdf})
                    .contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\b").arg(kSheets))));
    const qint64 whole = QFileInfo(pdf).size();

    auto cancelLater = [](QString& label) {
        HandleModalLater<QProgressDialog>([&label](QProgressDialog* progress) {
            label = progress->labelText();
            QPushButton* cancel = progress->findChild<QPushButton*>();
            EXPECT_EQ(cancel->text(), QStringLiteral("Отмена"));
            cancel->click();
        });
    };
    QString label;
    cancelLater(label);
    EXPECT_FALSE(preview.SavePdf(pdf));
    EXPECT_TRUE(label.contains(QRegularExpression(QStringLiteral("^Отчёт: лист \\d+ из %1$").arg(kSheets))))
        << label.toStdString();
    EXPECT_EQ(QFileInfo(pdf).size(), whole);
    EXPECT_EQ(
        QDir(QString::fromStdString(Dir.File(""))).entryList({"long*"}, QDir::Files).join(' '), "long.pdf");

    label.clear();
    cancelLater(label);
    const QStringList pages = preview.SaveJpegPages(QString::fromStdString(Dir.File("long.jpg")));
    EXPECT_TRUE(pages.isEmpty()) << pages.join(' ').toStdString();
    EXPECT_FALSE(label.isEmpty());
    const QStringList left = QDir(QString::fromStdString(Dir.File(""))).entryList({"long_*"}, QDir::Files);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}

// Zooming keeps the point in the middle of the view where it was on the page, from the whole
// page and from a corner scrolled to; "Страница целиком" shows the whole page again.
TEST_F(ReportTest, ZoomKeepsTheMiddleOfTheView)
{
    TReportPreviewForm preview(nullptr, CollectReportSheets(DataModule, false), 0);
    preview.resize(900, 700);
    preview.show();
    QApplication::processEvents();
    TReportPageView* view = preview.Preview();
    QScrollBar* h = view->horizontalScrollBar();
    QScrollBar* v = view->verticalScrollBar();
    // The page point (as a fraction of the page and its margin) in the middle of the view.
    auto middle = [&] {
        return QPointF((h->value() + h->pageStep() / 2.0) / (h->maximum() + h->pageStep()),
            (v->value() + v->pageStep() / 2.0) / (v->maximum() + v->pageStep()));
    };
    auto click = [&preview](const char* name) { preview.findChild<QPushButton*>(name)->click(); };
    ASSERT_TRUE(view->FitsInView());
    const double fit = view->Zoom();
    click("ZoomInButton");
    click("ZoomInButton");
    click("ZoomInButton");
    EXPECT_NEAR(view->Zoom(), fit * 1.1 * 1.1 * 1.1, 1e-9);
    ASSERT_GT(h->maximum(), 0);
    EXPECT_NEAR(middle().x(), 0.5, 0.01);
    EXPECT_NEAR(middle().y(), 0.5, 0.01);
    h->setValue(h->maximum() / 4);
    v->setValue(v->maximum());
    const QPointF before = middle();
    click("ZoomInButton");
    EXPECT_NEAR(middle().x(), before.x(), 0.01);
    EXPECT_NEAR(middle().y(), before.y(), 0.01);
    click("ZoomOutButton");
    EXPECT_NEAR(middle().x(), before.x(), 0.01);
    click("WholePageButton");
    EXPECT_TRUE(view->FitsInView());
    EXPECT_EQ(h->maximum(), 0);
    EXPECT_EQ(v->maximum(), 0);
}
