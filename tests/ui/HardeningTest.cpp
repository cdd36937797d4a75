// The window against damaged project files and a misbehaving instrument: nothing crashes,
// nothing saved is lost, and the program stays usable.

#include "MainFormFixture.h"

#include "app/DBControls.h"
#include "app/MainUnit.h"
#include "device/DownloadSummaryUnit.h"
#include "device/DownloadThread.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "output/ReportUnit.h"
#include "store/Cp1251.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"
#include "view/ForecastChart.h"
#include "view/ResultGrids.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPdfWriter>
#include <QTableView>
#include <QTest>
#include <QTextBlock>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

void WriteBytes(const std::string& name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}

// A stored blob's header with the given duration and period, then `dataBytes` zero bytes.
std::string BlobWith(std::uint32_t duration, std::uint32_t period, std::size_t dataBytes)
{
    TMsrResult r = NumberedRecord(45100.0, 9);
    r.Duration = duration;
    r.Period = period;
    r.Data.clear();
    std::string blob = EncodeMsrResult(r).substr(0, MSR_HEADER_SIZE);
    return blob + std::string(dataBytes, '\0');
}

} // namespace

class HardeningTest : public MainFormTest
{
protected:
    // A project holding two small saved records.
    std::string Project(const std::string& name)
    {
        const std::string path = Dir.File(name);
        TMainDataModule m;
        EXPECT_TRUE(m.CreateProjectDatabase(path));
        EXPECT_TRUE(m.OpenProjectDatabase(path));
        for (int i = 1; i <= 2; ++i) {
            TMsrResult r = NumberedRecord(45000.0 + i, i, 60);
            EXPECT_EQ(m.AddMsrResult(r), -1);
        }
        m.ApplyChanges();
        m.CloseProjectDatabase();
        return path;
    }

    // Opens through the command; the open question about unsaved work is answered No.
    void Open(const std::string& path)
    {
        const bool asked = DataModule.HasChanges();
        if (asked)
            Dialogs->Answers.push_back(QMessageBox::No);
        OpenProject(QString::fromStdString(path));
        if (asked) {
            EXPECT_EQ(TakeMessage().Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        }
    }

    // Every row shown, and the whole project laid out as a report.
    void ShowEveryRow()
    {
        auto& ds = DataModule.ResultDataSet();
        for (int row = 1; row <= ds.RecordCount(); ++row) {
            ds.SetRecNo(row);
            Form->ParamStringGrid()->grab();
            Form->Chart()->grab();
        }
        const std::vector<TReportSheet> sheets = CollectReportSheets(DataModule, true);
        EXPECT_EQ(static_cast<int>(sheets.size()), ds.RecordCount());
        QPdfWriter pdf(QString::fromStdString(Dir.File("report.pdf")));
        PaintReport(pdf, sheets, 0xFF0000);
    }
};

TEST_F(HardeningTest, DamagedOrForeignFilesOpenWhatTheyCanOrAreRefused)
{
    enum class TExpect
    {
        Refused,
        Opens
    };
    struct TCase
    {
        const char* Name;
        std::function<void(const std::string&)> Damage; // on a good project
        TExpect Expect;
        int ReadableRows = -1; // of the rows that open, how many show a record
    };
    auto replaceAll
        = [](const std::string& bytes) { return [bytes](const std::string& p) { WriteBytes(p, bytes); }; };
    std::mt19937 random(5);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    auto blob = [](std::string bytes) {
        return [bytes](const std::string& p) {
            Execute(p, "UPDATE MEASURE_RESULT_TABLE SET MEASURE_DATA = ? WHERE MEASURE_NUMBER = 1", {bytes});
        };
    };
    const std::vector<TCase> cases = {
        {"empty file", replaceAll(""), TExpect::Refused},
        {"random bytes", replaceAll(noise), TExpect::Refused},
        {"truncated project",
            [](const std::string& p) { std::filesystem::resize_file(p, std::filesystem::file_size(p) / 3); },
            TExpect::Refused},
        {"first page only", [](const std::string& p) { std::filesystem::resize_file(p, 4096); },
            TExpect::Refused},
        {"no project row", [](const std::string& p) { Execute(p, "DELETE FROM SYSTEM_TABLE"); },
            TExpect::Refused},
        {"wrong name",
            [](const std::string& p) {
                Execute(p, "UPDATE SYSTEM_TABLE SET DEVICE_NAME = 'CEMENT-VORKAST-2.0'");
            },
            TExpect::Refused},
        {"wrong version",
            [](const std::string& p) { Execute(p, "UPDATE SYSTEM_TABLE SET DEVICE_DATA_VERSION = 65537"); },
            TExpect::Refused},
        {"blob of 0 bytes", blob(""), TExpect::Opens, 1},
        {"blob of 1 byte", blob("\x01"), TExpect::Opens, 1},
        {"blob of 51 bytes", blob(BlobWith(600, 10, 0).substr(0, 51)), TExpect::Opens, 1},
        {"blob of 52 bytes", blob(BlobWith(600, 10, 0)), TExpect::Opens, 2},
        {"blob of 53 bytes", blob(BlobWith(600, 10, 1)), TExpect::Opens, 2},
        {"blob claiming period 0", blob(BlobWith(600, 0, 240)), TExpect::Opens, 2},
        {"blob claiming 4320 samples with 10 bytes", blob(BlobWith(43200, 10, 10)), TExpect::Opens, 2},
        {"null blob",
            [](const std::string& p) {
                Execute(p, "UPDATE MEASURE_RESULT_TABLE SET MEASURE_DATA = NULL WHERE MEASURE_NUMBER = 1");
            },
            TExpect::Opens, 1},
        {"comment with 0x00 and 0x98",
            [](const std::string& p) {
                Execute(p, "UPDATE MEASURE_RESULT_TABLE SET MEASURE_COMMENT = ? WHERE MEASURE_NUMBER = 1",
                    {std::string("\xc0\x00\x98\xc1", 4)});
            },
            TExpect::Opens, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Project(std::string(c.Name) + ".fdb");
        c.Damage(path);
        const std::string bytes = ReadFileBytes(path);
        // The engine writes its header on every attach, so a database is compared by content.
        bool database = false;
        std::string contents;
        try {
            contents = ProjectContents(path);
            database = true;
        } catch (const TDatabaseError&) { }
        Open(path);
        if (c.Expect == TExpect::Refused) {
            EXPECT_EQ(TakeMessageText(), QStringLiteral("Не удалось открыть проект!"));
            EXPECT_FALSE(DataModule.IsProjectOpen());
            if (database)
                EXPECT_EQ(ProjectContents(path), contents) << "a refused project must be left as it was";
            else
                EXPECT_TRUE(ReadFileBytes(path) == bytes) << "a refused file must be left as it was";
        } else {
            ASSERT_TRUE(DataModule.IsProjectOpen());
            ASSERT_EQ(DataModule.GetRecordCount(), 2);
            ShowEveryRow();
            int readable = 0;
            auto& ds = DataModule.ResultDataSet();
            for (int row = 1; row <= ds.RecordCount(); ++row) {
                ds.SetRecNo(row);
                TMsrResult r;
                readable += DataModule.ReadMsrResult(r) == 0;
            }
            EXPECT_EQ(readable, c.ReadableRows);
        }
        // Whatever came before, a good project opens and shows its records.
        Open(Project(std::string(c.Name) + "-good.fdb"));
        ASSERT_TRUE(DataModule.IsProjectOpen());
        EXPECT_EQ(Form->MainDBGrid()->model()->rowCount(), 2);
        EXPECT_FALSE(Form->ParamStringGrid()->Value(0).isEmpty());
    }
}

TEST_F(HardeningTest, CommentWithUndefinedBytesShowsTheRestAndSavesBack)
{
    const std::string path = Project("comment.fdb");
    Execute(path, "UPDATE MEASURE_RESULT_TABLE SET MEASURE_COMMENT = ? WHERE MEASURE_NUMBER = 2",
        {std::string("\xc0\x00\x98\xc1", 4)});
    Open(path);
    ASSERT_TRUE(DataModule.IsProjectOpen());
    DataModule.ResultDataSet().Last();
    const QString shown = Form->CommentDBMemo()->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("А"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("Б"))) << shown.toStdString();
}

// Texts of a megabyte, in one line or in a million, open at once; what is saved is what
// was there plus what the operator typed, byte for byte.
TEST_F(HardeningTest, HugeTextsOpenAtOnceAndAreSavedBackWhole)
{
    struct TCase
    {
        const char* Name;
        std::string Text; // as stored, Windows-1251
        bool Editable;
    };
    const auto repeated = [](const std::string& piece, std::size_t size) {
        std::string text;
        while (text.size() < size)
            text += piece;
        return text;
    };
    const std::size_t kMegabyte = 1 << 20;
    const TCase cases[] = {
        {"one line without a space", std::string(kMegabyte, 'x'), true},
        {"one line of Russian words", repeated("\xf1\xeb\xee\xe2\xee ", kMegabyte), true},
        {"LF, CR LF and CR with tabs and no-break spaces", repeated("a\tb\r\nc\xa0 d\re\n\r\n", 40000), true},
        {"a million line breaks", std::string(kMegabyte, '\n'), false},
        {"short lines with every break", repeated("line\r\nline\rline\n", kMegabyte), false},
    };
    Form->show();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Project(std::string("huge-") + std::to_string(&c - cases) + ".fdb");
        Execute(
            path, "UPDATE MEASURE_RESULT_TABLE SET MEASURE_COMMENT = ? WHERE MEASURE_NUMBER = 1", {c.Text});
        Execute(path, "UPDATE SYSTEM_TABLE SET PROJECT_DESCRIPTION = ?", {c.Text});

        QElapsedTimer timer;
        timer.start();
        Open(path);
        QApplication::processEvents();
        Form->grab();
        const qint64 elapsed = timer.elapsed();
        ASSERT_TRUE(DataModule.IsProjectOpen());
        // Well under a second on its own; the bound leaves room for a loaded machine.
        EXPECT_LT(elapsed, 5000);
        EXPECT_EQ(DataModule.ResultDataSet().RecNo(), 1);
        EXPECT_FALSE(Form->ParamStringGrid()->Value(0).isEmpty());

        const QString text = QString::fromStdString(Cp1251ToUtf8(c.Text));
        for (TDBMemo* memo : {Form->CommentDBMemo(), Form->DescriptionDBMemo()}) {
            EXPECT_TRUE(memo->Text() == text);
            EXPECT_EQ(memo->isReadOnly(), !c.Editable);
            if (!c.Editable) {
                // Shown whole after the notice, each break as a line break.
                QString lines = text;
                lines.replace(QLatin1String("\r\n"), QLatin1String("\n"))
                    .replace(QLatin1Char('\r'), QLatin1Char('\n'));
                EXPECT_TRUE(memo->toPlainText().endsWith("]\n" + lines));
            }
            // A key at the end of the text: the letter Ж, CP1251 0xC6.
            memo->moveCursor(QTextCursor::End);
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("Ж"));
            QApplication::sendEvent(memo, &press);
        }
        // Something to save in any case: a comment on the other record.
        DataModule.ResultDataSet().SetRecNo(2);
        EXPECT_TRUE(Form->CommentDBMemo()->Text().isEmpty());
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("Ж"));
        QApplication::sendEvent(Form->CommentDBMemo(), &press);
        Form->SaveProjectAction->trigger();
        ASSERT_FALSE(DataModule.HasChanges());

        const std::string expected = c.Editable ? c.Text + "\xc6" : c.Text;
        const TRows comment
            = Query(path, "SELECT MEASURE_COMMENT FROM MEASURE_RESULT_TABLE ORDER BY MEASURE_NUMBER");
        ASSERT_EQ(comment.size(), 2u);
        EXPECT_TRUE(comment[0][0] == TValue{expected});
        EXPECT_TRUE(comment[1][0] == TValue{std::string("\xc6")});
        EXPECT_TRUE(
            Query(path, "SELECT PROJECT_DESCRIPTION FROM SYSTEM_TABLE").at(0).at(0) == TValue{expected});
    }
}

// Edits change only what they touch: every other break keeps its kind, a long line cut for
// the screen is one line again in the store, and undo brings back what was there.
TEST_F(HardeningTest, EditsKeepTheBreaksTheTextCameWith)
{
    const std::string path = Project("breaks.fdb");
    const QString longLine = "d" + QString(2 * TDBMemo::kLongestShownLine + 10, QLatin1Char('y'));
    const QString original = "a\r\nb\rc\n" + longLine;
    Execute(path, "UPDATE MEASURE_RESULT_TABLE SET MEASURE_COMMENT = ? WHERE MEASURE_NUMBER = 1",
        {original.toStdString()});
    Open(path);
    TDBMemo* memo = Form->CommentDBMemo();
    ASSERT_EQ(memo->Text(), original);
    ASSERT_EQ(memo->document()->blockCount(), 6); // a, b, c and the long line in three
    const auto at = [memo](int block, int column, int selected = 0) {
        QTextCursor cursor(memo->document()->findBlockByNumber(block));
        cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
        cursor.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, selected);
        memo->setTextCursor(cursor);
    };
    const auto key = [memo](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(memo, key, modifiers);
    };
    const auto undo = [&key] { key(Qt::Key_Z, Qt::ControlModifier); };
    QString cutAtTheScreen = longLine;
    cutAtTheScreen.insert(TDBMemo::kLongestShownLine, "\r\n");
    struct TEdit
    {
        const char* Name;
        std::function<void()> Edit;
        QString Expected;
    };
    const TEdit edits[] = {
        {"Backspace after the CR",
            [&] {
                at(2, 0);
                key(Qt::Key_Backspace);
            },
            "a\r\nbc\n" + longLine},
        {"undo", undo, original},
        {"Enter in the long line: the text's own CR LF",
            [&] {
                at(3, 5);
                key(Qt::Key_Return);
            },
            "a\r\nb\rc\n" + longLine.left(5) + "\r\n" + longLine.mid(5)},
        {"undo", undo, original},
        {"Enter where the line was cut",
            [&] {
                at(4, 0);
                key(Qt::Key_Return);
            },
            "a\r\nb\rc\n" + cutAtTheScreen},
        {"undo", undo, original},
        {"Backspace where the line was cut",
            [&] {
                at(4, 0);
                key(Qt::Key_Backspace);
            },
            original},
        {"LF pasted over b",
            [&] {
                at(1, 0, 1);
                QApplication::clipboard()->setText("x\ny");
                memo->paste();
            },
            "a\r\nx\ny\rc\n" + longLine},
        {"undo", undo, original},
    };
    for (const TEdit& edit : edits) {
        SCOPED_TRACE(edit.Name);
        edit.Edit();
        EXPECT_TRUE(memo->Text() == edit.Expected);
        EXPECT_TRUE(QString::fromStdString(DataModule.GetMeasureComment()) == edit.Expected);
    }
}

// A three-record download with a fault at each exchange in turn (0 information, 1 name,
// 2 start, then header and samples of each record): the error is shown, the project is
// exactly as it was, and the next download of the sound instrument adds all three.
TEST_F(HardeningTest, InstrumentFaultsLeaveTheProjectAndTheProgramSound)
{
    struct TCase
    {
        std::string Name;
        std::function<void(TSimulatedInstrument&)> Break;
        TUSBStatus Expected;
    };
    std::vector<TCase> cases;
    auto fault = [](std::uint32_t exchange, TSimulatorFault kind, std::size_t bytes = 0) {
        return [=](TSimulatedInstrument& i) { i.Faults = {{exchange, kind, bytes}}; };
    };
    for (std::uint32_t exchange = 0; exchange < 9; ++exchange) {
        cases.push_back({"time-out at " + std::to_string(exchange), fault(exchange, TSimulatorFault::Timeout),
            STATUS_USB_TIMEOUT});
        cases.push_back({"transfer error at " + std::to_string(exchange),
            fault(exchange, TSimulatorFault::TransferError), STATUS_USB_IO});
    }
    for (std::uint32_t exchange : {4u, 6u, 8u})
        cases.push_back({"unplugged in samples at " + std::to_string(exchange),
            fault(exchange, TSimulatorFault::Unplug), STATUS_USB_NO_DEVICE});
    for (std::uint32_t exchange : {0u, 1u, 3u, 4u, 7u, 8u}) {
        cases.push_back({"short reply at " + std::to_string(exchange),
            fault(exchange, TSimulatorFault::ShortReply, 3), STATUS_SHORT_REPLY});
        cases.push_back({"long reply at " + std::to_string(exchange),
            fault(exchange, TSimulatorFault::LongReply, 4), STATUS_USB_OVERFLOW});
    }
    cases.push_back({"wrong name", [](auto& i) { i.Name = "CEMENT-VORKAST-2.0"; }, STATUS_WRONG_DEVICE});
    cases.push_back({"wrong version", [](auto& i) { i.DataVersion = 0x00010001; }, STATUS_WRONG_DEVICE});
    cases.push_back(
        {"header with period 0", [](auto& i) { i.Measurements[1].Header.Period = 0; }, STATUS_BAD_REPLY});
    cases.push_back({"header with too many samples",
        [](auto& i) {
            i.Measurements[2].Header.Period = 1;
            i.Measurements[2].Header.Duration = MAX_SAMPLES + 1;
        },
        STATUS_BAD_REPLY});
    cases.push_back({"negative record count", [](auto& i) { i.RecordCount = -5; }, STATUS_BAD_REPLY});
    cases.push_back(
        {"more records counted than stored", [](auto& i) { i.RecordCount = 4; }, STATUS_USB_PIPE});

    const std::string pristine = Project("pristine.fdb");
    const std::string before = ProjectContents(pristine);
    const TSimulatedInstrument sound = MakeRealisticInstrument(3, 17);
    int index = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Dir.File("project-" + std::to_string(index++) + ".fdb");
        std::filesystem::copy_file(pristine, path);
        Open(path);
        ASSERT_TRUE(DataModule.IsProjectOpen());

        TSimulatedInstrument broken = sound;
        c.Break(broken);
        const TUSBDeviceId device = Simulator->Plug(broken);
        ASSERT_TRUE(USBDeviceAttached());
        Form->ReadFromDeviceAction->trigger();
        EXPECT_EQ(TakeMessageText(),
            QStringLiteral("Ошибка связи ")
                + QString::number(c.Expected, 16).toUpper().rightJustified(8, '0'));
        EXPECT_EQ(DataModule.GetRecordCount(), 2);
        EXPECT_FALSE(DataModule.HasChanges());
        EXPECT_EQ(ProjectContents(path), before);
        Simulator->Unplug(device);

        Simulator->Plug(sound);
        EXPECT_EQ(Download(), std::make_pair(3, 3));
        EXPECT_EQ(DataModule.GetRecordCount(), 5);
        Simulator->Unplug(USBAttachedDevice());
    }
    RecordProperty("faults_injected", static_cast<int>(cases.size()));
}
