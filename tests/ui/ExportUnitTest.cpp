// The text export: the lines of a record, the file that replaces an old one only when complete, and
// the command over a real project file.

#include "ScriptedDialogs.h"

#include "output/ExportUnit.h"
#include "store/MainDataModuleUnit.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"

#include <QLocale>

#include <sys/resource.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

namespace {

std::string WithSeparator(std::string text, const std::string& separator)
{
    for (std::size_t at = text.find('.'); at != std::string::npos; at = text.find('.', at + separator.size()))
        text.replace(at, 1, separator);
    return text;
}

std::set<std::string> Listing(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// 10 s period, 30 s run, offset 1.5; every array distinct so a swapped column shows.
TMsrResult ExampleRecord()
{
    const float volume[] = {1.5f, 1.62f, 1.7f};
    TMsrResult msr = MakeRecord(
        30, 10, [&](std::size_t i) { return volume[i]; }, [](std::size_t i) { return 20.0f + 0.5f * i; });
    msr.VolumeOffset = 1.5f;
    for (std::size_t i = 0; i < 3; ++i) {
        msr.Data[MSR_TEMPERATURE2][i] = 7.25f;
        msr.Data[MSR_RESISTANCE][i] = 900.0f + i;
    }
    return msr;
}

} // namespace

TEST(ExportTextTest, ExampleLinesWithEitherSeparator)
{
    for (const char* separator : {",", "."}) {
        const std::string text = ExportText(ExampleRecord(), separator);
        EXPECT_EQ(text,
            WithSeparator("0\t0.000\t20.00\t900.00\t7.25\r\n"
                          "1\t0.120\t20.50\t901.00\t7.25\r\n"
                          "2\t0.200\t21.00\t902.00\t7.25\r\n",
                separator));
    }
}

TEST(ExportTextTest, VolumeChangeFormedInSinglePrecision)
{
    struct
    {
        float volume, offset;
        const char* field;
    } const cases[] = {
        {1.45f, 1.5f, "-0.050"},
        {12345.678f, 0.0f, "12345.678"},
        // In double the difference would be 999.99949..., shown as 999.999.
        {1000.0f, 0.0005f, "1000.000"},
    };
    for (const auto& c : cases) {
        TMsrResult msr = MakeRecord(1, 1, Constant(c.volume), Constant(0.0f));
        msr.VolumeOffset = c.offset;
        EXPECT_EQ(ExportText(msr, "."), std::string("0\t") + c.field + "\t0.00\t0.00\t0.00\r\n") << c.field;
    }
}

TEST(ExportTextTest, OnlyWhatTheRecordHoldsIsWritten)
{
    auto withArrays = [](std::size_t count) {
        TMsrResult msr = MakeRecord(20, 10, Constant(1.0f), Constant(20.0f));
        msr.Data[MSR_TEMPERATURE2].assign(2, 7.0f);
        msr.Data.resize(count);
        return msr;
    };
    TMsrResult shortVolume = MakeRecord(30, 10, Constant(1.0f), Constant(20.0f));
    shortVolume.Data[MSR_VOLUME].resize(2);
    TMsrResult longArrays = MakeRecord(10, 10, Constant(1.0f), Constant(20.0f));
    for (TSampleArray& array : longArrays.Data)
        array.resize(5, 3.0f);
    TMsrResult damagedHeader = MakeRecord(0, 10, Constant(1.0f), Constant(20.0f));
    damagedHeader.Data.assign(4, TSampleArray(1, 2.0f));
    damagedHeader.Duration = 0xFFFFFFFF;
    damagedHeader.Period = 1;

    struct
    {
        const char* name;
        TMsrResult msr;
        std::string text;
    } const cases[] = {
        {"no resistance", withArrays(3), "0\t1.000\t20.00\t\t7.00\r\n1\t1.000\t20.00\t\t7.00\r\n"},
        {"volume only", withArrays(1), "0\t1.000\t\t\t\r\n1\t1.000\t\t\t\r\n"},
        {"no arrays", withArrays(0), ""},
        {"short volume", shortVolume,
            "0\t1.000\t20.00\t0.00\t0.00\r\n1\t1.000\t20.00\t0.00\t0.00\r\n2\t\t20.00\t0.00\t0.00\r\n"},
        {"arrays longer than the run", longArrays, "0\t1.000\t20.00\t0.00\t0.00\r\n"},
        {"header claiming more samples", damagedHeader, "0\t2.000\t2.00\t2.00\t2.00\r\n"},
        {"run shorter than a period", MakeRecord(9, 10, Constant(1.0f), Constant(20.0f)), ""},
        {"period 0", MakeRecord(30, 0, Constant(1.0f), Constant(20.0f)), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExportText(c.msr, "."), c.text) << c.name;
}

TEST(ExportFileTest, UnwritableTargetRaisesAndLeavesNothing)
{
    TTempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder");
    for (const std::string& target : {dir.File("missing/out.txt"), dir.File("folder")}) {
        const auto before = Listing(dir.Path());
        try {
            WriteExportFile(QString::fromStdString(target), ExampleRecord(), ".");
            ADD_FAILURE() << "no error for " << target;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(target), std::string::npos) << error.what();
        }
        EXPECT_EQ(Listing(dir.Path()), before) << target;
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "folder")) << target;
    }
}

TEST(ExportFileTest, ExistingFileReplacedWholeOrNotAtAll)
{
    TTempDir dir;
    const std::string path = dir.File("out.txt");
    std::ofstream(path, std::ios::binary) << std::string(10000, 'x');
    WriteExportFile(QString::fromStdString(path), ExampleRecord(), ",");
    EXPECT_EQ(ReadFileBytes(path), ExportText(ExampleRecord(), ","));
    EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"out.txt"});

    // A file size limit makes the write fail part way, as a full disk would: once while the text
    // still fits Qt's write buffer, once past it.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (std::uint32_t samples : {100u, 1000u}) {
        const TMsrResult big = MakeRecord(samples, 1, Constant(1.0f), Constant(20.0f));
        rlimit limited = saved;
        limited.rlim_cur = 1000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        try {
            WriteExportFile(QString::fromStdString(path), big, ",");
            ADD_FAILURE() << "no error for " << samples << " samples";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(ReadFileBytes(path), ExportText(ExampleRecord(), ",")) << samples;
        EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"out.txt"}) << samples;
    }
    std::signal(SIGXFSZ, previousHandler);
}

class ExportActionTest : public TUiTest
{
protected:
    void SetUp() override
    {
        TUiTest::SetUp();
        ASSERT_TRUE(DataModule.CreateProjectDatabase(Project));
        ASSERT_TRUE(DataModule.OpenProjectDatabase(Project));
    }

    void TearDown() override
    {
        DataModule.CloseProjectDatabase();
        TUiTest::TearDown();
    }

    void Store(TMsrResult msr, double begin)
    {
        msr.BeginDateTime = begin;
        msr.MeasureNumber = static_cast<std::int32_t>(begin);
        TArrayOfMsrResult list;
        list.push_back(std::move(msr));
        ASSERT_EQ(DataModule.StoreMsrResults(list), 1);
    }

    void Export(const std::string& path)
    {
        Dialogs->Files.push_back(QString::fromStdString(path));
        ExportActionExecute(nullptr, DataModule, Folder);
    }

    TTempDir Dir;
    std::string Project = Dir.File("export.fdb");
    QString Folder = QString::fromStdString(Dir.Path().string());
    std::string Separator = QLocale::system().decimalPoint().toStdString();
    TMainDataModule DataModule;
};

TEST_F(ExportActionTest, CancelledDialogWritesNothing)
{
    Store(ExampleRecord(), 45000.0);
    ExportActionExecute(nullptr, DataModule, Folder);
    ASSERT_EQ(Dialogs->FileDialogs.size(), 1u);
    const TShownFileDialog& dialog = Dialogs->FileDialogs.front();
    EXPECT_TRUE(dialog.Save);
    EXPECT_EQ(dialog.Options.Title, "Экспорт данных в .txt");
    EXPECT_EQ(dialog.Options.Directory, Folder);
    EXPECT_EQ(dialog.Options.Filter, "Файлы (.txt) (*.txt)");
    EXPECT_EQ(dialog.Options.DefaultSuffix, "txt");
    EXPECT_TRUE(dialog.Options.ConfirmOverwrite);
    EXPECT_EQ(Listing(Dir.Path()), std::set<std::string>{"export.fdb"});
}

TEST_F(ExportActionTest, WritesTheCurrentRecordAndReplacesAnEarlierExport)
{
    TMsrResult longer = MakeRecord(
        50, 10, [](std::size_t i) { return 2.0f + 0.01f * i; }, Constant(19.5f));
    Store(longer, 45000.0);
    Store(ExampleRecord(), 45001.0);
    const std::string path = Dir.File("samples.txt");

    DataModule.ResultDataSet().First();
    Export(path);
    EXPECT_EQ(ReadFileBytes(path), ExportText(longer, Separator));

    DataModule.ResultDataSet().Last();
    Export(path);
    EXPECT_EQ(ReadFileBytes(path), ExportText(ExampleRecord(), Separator));
}

TEST_F(ExportActionTest, FailuresReachTheGeneralErrorDisplayAndWriteNothing)
{
    Store(ExampleRecord(), 45000.0);
    const std::string missingFolder = Dir.File("missing/samples.txt");
    RunCommand([&] { Export(missingFolder); });
    TShownMessage message = TakeMessage();
    EXPECT_EQ(message.Caption, APPLICATION_TITLE);
    EXPECT_EQ(message.Icon, QMessageBox::Critical);
    EXPECT_TRUE(message.Text.contains(QString::fromStdString(missingFolder))) << message.Text.toStdString();

    TCachedDataSet& results = DataModule.ResultDataSet();
    results.Append();
    results.SetField("MEASURE_DATE", TDateTime{46000.0});
    results.SetField("MEASURE_TIME", TDateTime{46000.0});
    results.SetField("MEASURE_NUMBER", std::int64_t{99});
    results.SetField("MEASURE_DATA", std::string("short"));
    results.Post();
    results.Last();
    const std::string path = Dir.File("samples.txt");
    RunCommand([&] { Export(path); });
    EXPECT_TRUE(TakeMessageText().startsWith("Данные текущего измерения не читаются"));
    EXPECT_EQ(Listing(Dir.Path()), std::set<std::string>{"export.fdb"});
}
