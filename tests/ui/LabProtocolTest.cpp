// The laboratory's protocol: its texts, pages and marks read back from PDF files, the
// laboratory's details in the settings file, and a protocol collected from a real project.

#include "ScriptedDialogs.h"

#include "cli/CliUnit.h"
#include "output/LabProtocol.h"
#include "output/ReportCommand.h"
#include "output/ReportPreviewUnit.h"
#include "output/SelectReportTypeUnit.h"
#include "settings/LaboratoryUnit.h"
#include "store/MainDataModuleUnit.h"
#include "store/ProtocolNumbers.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"

#include <qcustomplot.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPdfWriter>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <fstream>
#include <sstream>

namespace {

QString RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return QStringLiteral("<%1 did not finish>").arg(program);
    return QString::fromUtf8(process.readAllStandardOutput());
}

TProtocolRecord Record(std::int32_t number, double start)
{
    TProtocolRecord record;
    TMsrResult msr = MakeRecord(12600, 60, StepCurve(60, 0.6f, 0.6f, 1.3f), Constant(20.0f));
    msr.BeginDateTime = start;
    msr.MeasureNumber = number;
    msr.CementMass = 400;
    record.Sheet.Msr = msr;
    record.Sheet.BeginDateTime = start;
    record.Sheet.MeasureNumber = number;
    record.Sheet.Readable = true;
    record.Sheet.Calc = CalcMsrResult(msr);
    record.RecordKey = number;
    return record;
}

TLaboratory Laboratory()
{
    TLaboratory lab;
    lab.Name = "ИЛ «Цемконтроль»";
    lab.Address = "г. Энск, ул. Заводская, 1";
    lab.Accreditation = "RA.RU.21АБ01";
    lab.TestedBy = "Иванова А. А.";
    lab.CheckedBy = "Петров Б. Б.";
    lab.ApprovedBy = "Сидоров В. В.";
    return lab;
}

QString WritePdf(TLabProtocolPainter& painter, const std::string& file)
{
    const QString name = QString::fromStdString(file);
    QPdfWriter writer(name);
    writer.setPageLayout(LabProtocolPageLayout());
    writer.setResolution(300);
    PaintLabProtocol(writer, painter);
    return name;
}

int PdfPages(const QString& pdf)
{
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(RunTool("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString PageText(const QString& pdf, int page)
{
    return RunTool("pdftotext", {"-f", QString::number(page), "-l", QString::number(page), pdf, "-"})
        .simplified();
}

// A project of `count` records numbered from 1, saved.
void MakeProject(TMainDataModule& m, const std::string& path, int count)
{
    ASSERT_TRUE(m.CreateProjectDatabase(path));
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TArrayOfMsrResult records;
    for (int i = 1; i <= count; ++i) {
        TMsrResult msr = MakeRecord(12600, 60, StepCurve(60, 0.6f, 0.6f, 1.3f), Constant(20.0f));
        msr.BeginDateTime = 45000.0 + i;
        msr.MeasureNumber = i;
        msr.CementMass = 400;
        records.push_back(msr);
    }
    ASSERT_EQ(m.StoreMsrResults(records), count);
    m.ApplyChanges();
}

} // namespace

class LabProtocolTest : public TUiTest
{
protected:
    TTempDir Dir;
};

// One record, three records and many records; with and without marks, comment and logo:
// the texts on the pages, every page numbered of the right count, pictures only for a logo.
TEST_F(LabProtocolTest, PagesTextsMarksAndPictures)
{
    const QString logo = QString::fromStdString(Dir.File("logo.png"));
    {
        QImage image(120, 80, QImage::Format_RGB32);
        image.fill(QColor(20, 60, 160));
        ASSERT_TRUE(image.save(logo));
    }
    TProtocolRecord changed = Record(7, 45000.25);
    changed.Sample = {"П-12/24", "ЦЕМ I 42,5Н", "Завод «Восход»", "Партия 815", 44998.0, 47.3, 45028.0};
    changed.Comment = "Проба отобрана из силоса № 3; повторное испытание по заявке.";
    changed.Changes = {{45001.5, "лаборант", HistoryField::Mass, "Масса цемента", "395", "400"},
        {45002.5, "лаборант", SampleColumn::Strength, "Фактическая активность", "46,8", "47,3"}};
    std::vector<TProtocolRecord> many;
    for (int i = 1; i <= 90; ++i)
        many.push_back(Record(i, 45000.0 + i));
    many[4].Sample.Code = "Б-5";
    many[4].Changes = {{45010.0, "мастер", HistoryField::Grade, "Ожидаемая марка", "M-400", "M-500"}};

    const struct
    {
        const char* Name;
        std::vector<TProtocolRecord> Records;
        bool Logo;
        std::vector<const char*> Texts; // on some page
        bool Marked;
    } cases[] = {
        {"one", {changed}, false,
            {"ПРОТОКОЛ ИСПЫТАНИЙ № 17", "ИЛ «Цемконтроль»", "Аттестат аккредитации № RA.RU.21АБ01",
                "г. Энск, ул. Заводская, 1", "П-12/24", "ЦЕМ I 42,5Н", "Завод «Восход»", "Партия 815",
                "Масса цемента в стакане Co, г", "(Спасский)", "Активность R, МПа", "47",
                "повторное испытание", "Время, ч:м", "Испытания провёл:", "Проверил:", "Утверждаю:",
                "Иванова А. А.", "Петров Б. Б.", "Сидоров В. В.", "Масса цемента: «395» → «400»"},
            true},
        {"plain", {Record(3, 45000.5)}, true, {"ПРОТОКОЛ ИСПЫТАНИЙ № 17", "Примечание", "Время, ч:м"}, false},
        {"many", many, false,
            {"1. Результаты испытаний", "Rст, МПа", "Б-5", "90",
                "измерение № 5, Ожидаемая марка: «M-400» → «M-500»", "Утверждаю:"},
            true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLabProtocol protocol;
        protocol.Laboratory = Laboratory();
        if (c.Logo)
            protocol.Laboratory.LogoFile = logo.toStdString();
        protocol.Number = 3;
        protocol.IssueDate = 45031.0;
        protocol.Records = c.Records;
        TLabProtocolPainter painter(protocol, 0x0000FF);
        // The number is typed before printing: every page shows the new one.
        painter.SetNumber(17);
        const QString pdf = WritePdf(painter, Dir.File(std::string(c.Name) + ".pdf"));
        const int pages = PdfPages(pdf);
        ASSERT_EQ(pages, painter.PageCount());
        ASSERT_GE(pages, c.Records.size() > 50 ? 3 : 1);
        QString all;
        for (int page = 1; page <= pages; ++page) {
            const QString text = PageText(pdf, page);
            EXPECT_TRUE(text.contains(QStringLiteral("Лист %1 из %2").arg(page).arg(pages))) << page;
            EXPECT_TRUE(text.contains(QStringLiteral("Протокол испытаний № 17 от 15.04.2023"))) << page;
            all += text + ' ';
        }
        for (const char* expected : c.Texts)
            EXPECT_TRUE(all.contains(QString::fromUtf8(expected))) << expected << "\n" << all.toStdString();
        EXPECT_EQ(all.contains(QStringLiteral("изменено")) || all.contains(QStringLiteral(" *")), c.Marked)
            << all.toStdString();
        EXPECT_EQ(all.contains(QStringLiteral("Изменения после измерения")), c.Marked);
        const QStringList images
            = RunTool("pdfimages", {"-list", pdf}).split('\n', Qt::SkipEmptyParts).mid(2);
        EXPECT_EQ(images.size(), c.Logo ? 1 : 0) << images.join('\n').toStdString();
    }
}

// The marks stand beside the values changed and nowhere else.
TEST_F(LabProtocolTest, ChangedValuesAreMarkedOnTheirRows)
{
    TProtocolRecord record = Record(2, 45000.0);
    record.Changes = {{45001.0, "лаборант", HistoryField::Supplier, "Поставщик", "1", "2"},
        {45001.0, "лаборант", SampleColumn::Code, "Шифр пробы", "", "А-1"}};
    record.Sample.Code = "А-1";
    TLabProtocol protocol;
    protocol.Records = {record};
    TLabProtocolPainter painter(protocol, 0);
    const QString pdf = WritePdf(painter, Dir.File("marks.pdf"));
    // A mark shares its line with the value changed.
    QStringList marked;
    for (int page = 1; page <= painter.PageCount(); ++page)
        for (const QString& line : RunTool(
                 "pdftotext", {"-layout", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"})
                                       .split('\n'))
            if (line.contains(QStringLiteral("изменено *")))
                marked << line.simplified();
    ASSERT_EQ(marked.size(), 2) << marked.join('\n').toStdString();
    EXPECT_TRUE(marked[0].startsWith(QStringLiteral("Шифр пробы А-1"))) << marked[0].toStdString();
    EXPECT_TRUE(marked[1].contains(QStringLiteral("(поставщик)"))) << marked[1].toStdString();
}

TEST_F(LabProtocolTest, LaboratoryKeptInTheSettingsFileBesideOtherLines)
{
    const std::string file = Dir.File("cement-lab.ini");
    std::ofstream(file)
        << "; kept\r\n[Graphics]\r\nSeriesColor0=255\r\n\r\n[laboratory]\r\nName=old\r\nOther=x\r\n";
    TLaboratory lab = Laboratory();
    lab.LogoFile = "/x/эмблема.png";
    lab.Address = "строка 1\nстрока 2 = вторая";
    SaveLaboratory(file, lab);
    TLaboratory expected = lab;
    expected.Address = "строка 1 строка 2 = вторая";
    EXPECT_EQ(LoadLaboratory(file), expected);
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_NE(text.str().find("; kept\r\n[Graphics]\r\nSeriesColor0=255\r\n"), std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("Other=x\r\n"), std::string::npos);
    EXPECT_EQ(text.str().find("old"), std::string::npos);
    EXPECT_EQ(LoadLaboratory(Dir.File("missing.ini")), TLaboratory{});

    // The window shows what the file holds and writes what was typed.
    HandleModalLater<TLaboratoryForm>([](TLaboratoryForm* form) {
        EXPECT_EQ(form->Field("NameEdit")->text(), QStringLiteral("ИЛ «Цемконтроль»"));
        form->Field("CheckedByEdit")->setText(QStringLiteral("  Кузнецов Г. Г. "));
        form->accept();
    });
    EXPECT_TRUE(ShowLaboratoryDialog(nullptr, QString::fromStdString(file)));
    expected.CheckedBy = "Кузнецов Г. Г.";
    EXPECT_EQ(LoadLaboratory(file), expected);
    HandleModalLater<TLaboratoryForm>([](TLaboratoryForm* form) {
        form->Field("NameEdit")->setText(QStringLiteral("другое"));
        form->reject();
    });
    EXPECT_FALSE(ShowLaboratoryDialog(nullptr, QString::fromStdString(file)));
    EXPECT_EQ(LoadLaboratory(file), expected);
}

// From a real project: the sample, the comment, the history and the next number.
TEST_F(LabProtocolTest, CollectedFromTheProject)
{
    TMainDataModule m;
    const std::string path = Dir.File("lab.fdb");
    ASSERT_TRUE(m.CreateProjectDatabase(path));
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TArrayOfMsrResult records;
    for (int i = 1; i <= 3; ++i) {
        TMsrResult msr = MakeRecord(12600, 60, StepCurve(60, 0.6f, 0.6f, 1.3f), Constant(20.0f));
        msr.BeginDateTime = 45000.0 + i;
        msr.MeasureNumber = i;
        msr.CementMass = 400;
        records.push_back(msr);
    }
    ASSERT_EQ(m.StoreMsrResults(records), 3);
    m.ApplyChanges();
    m.ResultDataSet().SetRecNo(2);
    TSampleInfo sample;
    sample.Code = "К-2";
    sample.Strength = 44.5;
    m.SetSampleInfo(sample);
    m.SetMeasureComment("замечание");
    TMsrResult msr;
    ASSERT_EQ(m.ReadMsrResult(msr), 0);
    msr.CementMass = 410;
    ASSERT_EQ(m.WriteMsrResult(msr), 0);
    m.ApplyChanges();
    ProtocolNumbers::Issue(m.Connection(), {4, 45100.0, "лаборант", {m.RecordKeyAt(1)}});
    m.CloseProjectDatabase();
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    m.ResultDataSet().SetRecNo(2);

    const TLabProtocol one = CollectLabProtocol(m, false, Laboratory());
    EXPECT_EQ(one.Number, 5);
    EXPECT_EQ(one.Laboratory, Laboratory());
    ASSERT_EQ(one.Records.size(), 1u);
    const TProtocolRecord& r = one.Records[0];
    EXPECT_EQ(r.Sheet.MeasureNumber, 2);
    EXPECT_EQ(r.Sheet.Msr.CementMass, 410u);
    EXPECT_EQ(r.Sample, sample);
    EXPECT_EQ(r.Comment, "замечание");
    EXPECT_TRUE(r.Changed(HistoryField::Mass));
    EXPECT_FALSE(r.Changed(HistoryField::Grade));
    EXPECT_EQ(r.RecordKey, m.RecordKeyAt(1));

    const TLabProtocol all = CollectLabProtocol(m, true, Laboratory());
    ASSERT_EQ(all.Records.size(), 3u);
    EXPECT_TRUE(all.Records[0].Changes.empty());
    EXPECT_EQ(all.Records[1].Changes.size(), r.Changes.size());
    EXPECT_EQ(m.ResultDataSet().RecNo(), 2);
    m.CloseProjectDatabase();
}

// The command: the protocol chosen, its number changed in the preview, saved as PDF/A and
// as JPEG pages; each number is issued once, in the project; the choices and the folder
// saved to are offered again.
TEST_F(LabProtocolTest, PrintedFromTheCommandWithItsNumberIssuedOnce)
{
    TMainDataModule m;
    const std::string path = Dir.File("command.fdb");
    MakeProject(m, path, 2);
    m.ResultDataSet().SetRecNo(1);
    const std::string settingsFile = Dir.File("cement-lab.ini");
    SaveLaboratory(settingsFile, Laboratory());
    const QString out = QString::fromStdString(Dir.File("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    TReportCommandSettings settings;
    settings.SettingsFile = QString::fromStdString(settingsFile);
    settings.ProjectsFolder = QString::fromStdString(Dir.File(""));

    const QString pdf = out + "/p.pdf";
    QString firstText;
    QSize jpeg;
    HandleModalLater<TSelectReportTypeForm>([&](TSelectReportTypeForm* form) {
        EXPECT_TRUE(form->SheetRadioButton()->isChecked());
        EXPECT_TRUE(form->CurrentRecordRadioButton()->isChecked());
        form->LabProtocolRadioButton()->setChecked(true);
        HandleModalLater<TReportPreviewForm>([&](TReportPreviewForm* preview) {
            ASSERT_NE(preview->ProtocolNumberSpinBox(), nullptr);
            EXPECT_EQ(preview->ProtocolNumberSpinBox()->value(), 1);
            EXPECT_EQ(preview->Preview()->CurrentSheet(), nullptr);
            // Portrait on screen.
            EXPECT_GT(preview->Preview()->PageImage().height(), preview->Preview()->PageImage().width());
            preview->ProtocolNumberSpinBox()->setValue(5);
            Dialogs->Files = {pdf, pdf};
            preview->SaveReport();
            preview->SaveReport();
            const QStringList pages = preview->SaveJpegPages(out + "/p.jpg", 50);
            ASSERT_FALSE(pages.isEmpty());
            jpeg = QImage(pages[0]).size();
            preview->ProtocolNumberSpinBox()->setValue(6);
            EXPECT_TRUE(preview->SavePdf(out + "/p6.pdf"));
        });
        form->accept();
    });
    PrintReportCommand(nullptr, m, settings);
    EXPECT_TRUE(settings.LabProtocol);
    EXPECT_FALSE(settings.AllRecords);
    ASSERT_EQ(Dialogs->FileDialogs.size(), 2u);
    EXPECT_EQ(Dialogs->FileDialogs[0].Options.Directory, settings.ProjectsFolder);
    EXPECT_EQ(Dialogs->FileDialogs[1].Options.Directory, out);
    EXPECT_GT(jpeg.height(), jpeg.width());

    EXPECT_TRUE(PageText(pdf, 1).contains(QStringLiteral("ПРОТОКОЛ ИСПЫТАНИЙ № 5")));
    EXPECT_TRUE(PageText(out + "/p6.pdf", 1).contains(QStringLiteral("ПРОТОКОЛ ИСПЫТАНИЙ № 6")));
    const QString meta = RunTool("pdfinfo", {"-meta", pdf});
    EXPECT_TRUE(meta.contains(QStringLiteral("pdfaid:part=\"1\""))) << meta.toStdString();
    EXPECT_TRUE(meta.contains(QStringLiteral("pdfaid:conformance=\"B\"")));

    const std::vector<TProtocolIssue> issued = ProtocolNumbers::Issued(m.Connection());
    ASSERT_EQ(issued.size(), 2u);
    EXPECT_EQ(issued[0].Number, 5);
    EXPECT_EQ(issued[1].Number, 6);
    EXPECT_EQ(issued[0].RecordKeys, std::vector<std::int64_t>{m.RecordKeyAt(0)});
    EXPECT_FALSE(issued[0].IssuedBy.empty());
    EXPECT_EQ(ProtocolNumbers::Next(m.Connection()), 7);
    m.CloseProjectDatabase();
}

// cement-lab-cli report: the sheet alone, the protocol with --type lab under the project's
// next number, which it takes.
TEST_F(LabProtocolTest, CommandLineToolWritesEitherReport)
{
    TMainDataModule m;
    const std::string path = Dir.File("cli.fdb");
    MakeProject(m, path, 3);
    m.CloseProjectDatabase();
    TCliOptions options;
    options.ProgramFolder = Dir.File("");
    SaveLaboratory(Dir.File("cement-lab.ini"), Laboratory());
    const QString pdf = QString::fromStdString(Dir.File("cli.pdf"));
    const struct
    {
        std::vector<std::string> Options;
        int Status;
        const char* Output;
        const char* Text; // on the first page
        bool Portrait;
    } runs[] = {
        {{}, 0, "", "УСКОРЕННОЕ ОПРЕДЕЛЕНИЕ", false},
        {{"--type", "lab"}, 0, "Протокол испытаний № 1, листов: ", "ПРОТОКОЛ ИСПЫТАНИЙ № 1", true},
        {{"--record", "2", "--type", "lab"}, 0, "Протокол испытаний № 2, листов: 2", "ИЛ «Цемконтроль»",
            true},
        {{"--type", "sheet", "--record", "3"}, 0, "", "Протокол испытания №", false},
        {{"--type", "protocol"}, 2, "", nullptr, false},
        {{"--type"}, 2, "", nullptr, false},
        {{"--record", "1", "--record", "2"}, 2, "", nullptr, false},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.Options.empty() ? "plain" : run.Options.front() + " " + run.Options.back());
        QFile::remove(pdf);
        std::vector<std::string> arguments = {"report", path, pdf.toStdString()};
        arguments.insert(arguments.end(), run.Options.begin(), run.Options.end());
        std::ostringstream out, err;
        EXPECT_EQ(RunCli(arguments, out, err, options), run.Status) << err.str();
        EXPECT_EQ(out.str().rfind(run.Output, 0), 0u) << out.str();
        if (!run.Text) {
            EXPECT_FALSE(QFile::exists(pdf));
            continue;
        }
        EXPECT_TRUE(PageText(pdf, 1).contains(QString::fromUtf8(run.Text))) << PageText(pdf, 1).toStdString();
        const QRegularExpressionMatch size
            = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)"))
                  .match(RunTool("pdfinfo", {pdf}));
        ASSERT_TRUE(size.hasMatch());
        EXPECT_EQ(size.captured(1).toDouble() < size.captured(2).toDouble(), run.Portrait);
    }
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    const std::vector<TProtocolIssue> issued = ProtocolNumbers::Issued(m.Connection());
    ASSERT_EQ(issued.size(), 2u);
    EXPECT_EQ(issued[0].RecordKeys.size(), 3u);
    EXPECT_EQ(issued[1].RecordKeys, std::vector<std::int64_t>{m.RecordKeyAt(1)});
    m.CloseProjectDatabase();
}
