// cement-lab-cli on real project files made here, and download from the simulator.

#include "cli/CliUnit.h"
#include "compute/Activity.h"
#include "compute/ResultText.h"
#include "device/InstrumentSimulator.h"
#include "output/ExportUnit.h"
#include "store/MainDataModuleUnit.h"
#include "store/ProjectExtensions.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

struct TRun
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

TRun Cli(const std::vector<std::string>& arguments, const TCliOptions& options = {})
{
    std::ostringstream out, err;
    TCliOptions withPoint = options;
    if (withPoint.DecimalSeparator.empty())
        withPoint.DecimalSeparator = ".";
    TRun run;
    run.Status = RunCli(arguments, out, err, withPoint);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

TMsrResult Record(double start, std::int32_t number, std::uint32_t duration = 10800)
{
    TMsrResult msr = MakeRecord(duration, 60, StepCurve(60, 0.6f, 0.6f, 1.3f), Constant(20.0f));
    msr.BeginDateTime = start;
    msr.MeasureNumber = number;
    msr.CementMass = 400;
    return msr;
}

} // namespace

class CliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(Cli({"create", Project}).Status, 0);
        TMainDataModule dataModule;
        ASSERT_TRUE(dataModule.OpenProjectDatabase(Project));
        TArrayOfMsrResult records;
        records.push_back(Record(39512.5 + 1.0, 2));          // 06.03.2008 12:00
        records.push_back(Record(39512.25, 1));               // 05.03.2008 06:00
        records.push_back(Record(39512.75 + 2.0, 3, 100000)); // more than a day
        Records = records;
        ASSERT_EQ(dataModule.StoreMsrResults(records), 3);
        dataModule.ResultDataSet().First();
        dataModule.SetMeasureComment("тест\tодин\nдва \\ три");
        dataModule.PostEdits();
        dataModule.ApplyChanges();
        dataModule.CloseProjectDatabase();
    }

    TTempDir Dir;
    std::string Project = Dir.File("lab.fdb");
    TArrayOfMsrResult Records;
};

TEST_F(CliTest, CreateAndInfo)
{
    const TRun info = Cli({"info", Project});
    EXPECT_EQ(info.Status, 0) << info.Err;
    EXPECT_EQ(info.Out,
        "DEVICE_NAME: CEMENT-VORKAST-1.0\nDEVICE_DATA_VERSION: 65538\nRECORD_COUNT: 3\nPROJECT_DESCRIPTION: "
        "\n");

    // Create replaces a project that exists.
    EXPECT_EQ(Cli({"create", Project}).Status, 0);
    EXPECT_NE(Cli({"info", Project}).Out.find("RECORD_COUNT: 0\n"), std::string::npos);
}

TEST_F(CliTest, ProjectsThatDoNotOpenAreFailures)
{
    const std::string foreign = Dir.File("notes.fdb");
    std::ofstream(foreign) << "not a database";
    const std::string versioned = Dir.File("old.fdb");
    ASSERT_EQ(Cli({"create", versioned}).Status, 0);
    {
        TMainDataModule dataModule;
        ASSERT_TRUE(dataModule.OpenProjectDatabase(versioned));
        dataModule.ExecuteSQL("UPDATE SYSTEM_TABLE SET DEVICE_DATA_VERSION = 65537");
        dataModule.CloseProjectDatabase();
    }
    for (const std::string& file : {foreign, versioned, Dir.File("missing.fdb")})
        for (const char* command : {"info", "results", "download"}) {
            const TRun run = Cli({command, file});
            EXPECT_EQ(run.Status, 1) << command << " " << file;
            EXPECT_EQ(run.Err, "Не удалось открыть проект!\n") << command << " " << file;
            EXPECT_TRUE(run.Out.empty());
        }
    EXPECT_EQ(ReadFileBytes(foreign), "not a database");
    EXPECT_FALSE(std::filesystem::exists(Dir.File("missing.fdb")));
}

TEST_F(CliTest, ResultsAsTheGridsShowThem)
{
    const TRun run = Cli({"results", Project});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = Split(run.Out, '\n');
    ASSERT_EQ(lines.size(), 4u); // three lines and the empty rest after the last break
    // The list's order: by date, time, number.
    const std::vector<std::string> first = Split(lines[0], '\t');
    ASSERT_EQ(first.size(), 28u);
    EXPECT_EQ(first[0], "05.03.2008");
    EXPECT_EQ(first[1], "06:00:00");
    EXPECT_EQ(first[2], "1");
    const TParamTexts params = GetParamTexts(Records[1], ".");
    const TResultTexts results = GetResultTexts(CalcMsrResult(Records[1]), ".");
    for (std::size_t i = 0; i < params.size(); ++i)
        EXPECT_EQ(first[3 + i], params[i]) << i;
    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(first[9 + i], results[i]) << i;
    EXPECT_EQ(first[4], "3:0");
    EXPECT_EQ(first[16], " 44.9");
    EXPECT_EQ(first[18], "тест\\tодин\\nдва \\\\ три");
    const std::vector<std::string> third = Split(lines[2], '\t');
    EXPECT_EQ(third[0], "07.03.2008");
    EXPECT_EQ(third[1], "18:00:00");
    EXPECT_EQ(third[4], "27:46");

    // The locale's separator is used when none is forced.
    TCliOptions comma;
    comma.DecimalSeparator = ",";
    EXPECT_NE(Cli({"results", Project}, comma).Out.find("\t 44,9\t"), std::string::npos);
}

TEST_F(CliTest, UnreadableRecordGivesItsKeyAndEmptyFields)
{
    {
        TMainDataModule dataModule;
        ASSERT_TRUE(dataModule.OpenProjectDatabase(Project));
        dataModule.ExecuteSQL(
            "UPDATE MEASURE_RESULT_TABLE SET MEASURE_DATA = 'bad' WHERE MEASURE_NUMBER = 2");
        dataModule.CloseProjectDatabase();
    }
    const TRun run = Cli({"results", Project});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> second = Split(Split(run.Out, '\n')[1], '\t');
    ASSERT_EQ(second.size(), 28u);
    EXPECT_EQ(second[0], "06.03.2008");
    EXPECT_EQ(second[2], "2");
    for (std::size_t i = 3; i < 19; ++i)
        EXPECT_TRUE(second[i].empty()) << i;

    const TRun export2 = Cli({"export", Project, "2", Dir.File("two.txt")});
    EXPECT_EQ(export2.Status, 1);
    EXPECT_FALSE(std::filesystem::exists(Dir.File("two.txt")));
}

TEST_F(CliTest, ExportIsWhatTheProgramWrites)
{
    const std::string out = Dir.File("first.txt");
    const TRun run = Cli({"export", Project, "1", out});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(out), ExportText(Records[1], "."));
    EXPECT_EQ(Cli({"export", Project, "4", out}).Status, 1);
    EXPECT_EQ(Cli({"export", Project, "x", out}).Status, 2);
    EXPECT_EQ(Cli({"export", Project, "1"}).Status, 2);
}

TEST_F(CliTest, ReportOfEveryRecordOrOne)
{
    const std::string all = Dir.File("all.pdf");
    ASSERT_EQ(Cli({"report", Project, all}).Status, 0);
    auto pages = [](const std::string& pdf) {
        QProcess info;
        info.start("pdfinfo", {QString::fromStdString(pdf)});
        info.waitForFinished(30000);
        for (const QString& line : QString::fromUtf8(info.readAllStandardOutput()).split('\n'))
            if (line.startsWith("Pages:"))
                return line.mid(6).trimmed().toInt();
        return -1;
    };
    EXPECT_EQ(pages(all), 3);
    const std::string one = Dir.File("one.pdf");
    ASSERT_EQ(Cli({"report", Project, one, "--record", "3"}).Status, 0);
    EXPECT_EQ(pages(one), 1);
    QProcess text;
    text.start("pdftotext", {QString::fromStdString(one), "-"});
    text.waitForFinished(30000);
    const QString page = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    EXPECT_TRUE(page.contains("начало 07.03.2008 18:00")) << page.toStdString();
    EXPECT_TRUE(page.contains("окончание 08.03.2008 21:46")) << page.toStdString();
}

TEST_F(CliTest, DownloadAppendsTheNewRecordsAndSaves)
{
    auto simulator = std::make_shared<TInstrumentSimulator>();
    simulator->Plug(MakeRealisticInstrument(4, 12));
    TCliOptions options;
    options.Backend = [simulator] { return simulator; };
    TRun run = Cli({"download", Project}, options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "В памяти прибора: 4\nДобавлено в проект: 4\n");
    EXPECT_NE(Cli({"info", Project}).Out.find("RECORD_COUNT: 7\n"), std::string::npos);
    run = Cli({"download", Project}, options);
    EXPECT_EQ(run.Out, "В памяти прибора: 4\nДобавлено в проект: 0\n");

    auto empty = std::make_shared<TInstrumentSimulator>();
    options.Backend = [empty] { return empty; };
    run = Cli({"download", Project}, options);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Прибор не подключен!\n");

    auto failing = std::make_shared<TInstrumentSimulator>();
    TSimulatedInstrument instrument = MakeRealisticInstrument(2, 3);
    instrument.Faults.push_back({3, TSimulatorFault::TransferError, 0});
    failing->Plug(instrument);
    options.Backend = [failing] { return failing; };
    run = Cli({"download", Project}, options);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "Ошибка связи 30000001\n");
    EXPECT_NE(Cli({"info", Project}).Out.find("RECORD_COUNT: 7\n"), std::string::npos);
}

TEST_F(CliTest, SampleFieldsAndStrengthSetFromAScriptWithTheirHistory)
{
    for (const auto& [field, value] : std::vector<std::pair<std::string, std::string>>{{"code", "П-7\tа"},
             {"cement_type", "ЦЕМ I 42,5Н"}, {"manufacturer", "Завод"}, {"batch", "12"},
             {"sampling_date", "2008-03-04"}, {"strength", "40,5"}, {"strength_date", "01.04.2008"}})
        ASSERT_EQ(Cli({"set", Project, "1", field, value}).Status, 0) << field;
    const std::vector<std::string> first = Split(Split(Cli({"results", Project}).Out, '\n')[0], '\t');
    ASSERT_EQ(first.size(), 28u);
    const auto error = GetForecastError(CalcMsrResult(Records[1]), 40.5);
    ASSERT_TRUE(error);
    EXPECT_NEAR(error->Mpa, 4.4, 0.1);
    const std::vector<std::string> expected = {"П-7\\tа", "ЦЕМ I 42,5Н", "Завод", "12", "04.03.2008", "40.5",
        "01.04.2008", FormatDecimal(error->Mpa, 1, "."), FormatDecimal(error->Percent, 1, ".")};
    EXPECT_EQ(std::vector<std::string>(first.begin() + 19, first.end()), expected);
    // The other records have none: empty texts, "?" for what cannot be told.
    const std::vector<std::string> second = Split(Split(Cli({"results", Project}).Out, '\n')[1], '\t');
    EXPECT_EQ(std::vector<std::string>(second.begin() + 19, second.end()),
        (std::vector<std::string>{"", "", "", "", "", "?", "", "?", "?"}));

    const TRun history = Cli({"history", Project, "1"});
    ASSERT_EQ(history.Status, 0) << history.Err;
    const std::vector<std::string> lines = Split(history.Out, '\n');
    ASSERT_EQ(lines.size(), 8u);
    const std::vector<std::string> strength = Split(lines[5], '\t');
    ASSERT_EQ(strength.size(), 8u);
    EXPECT_EQ(strength[1], OperatingSystemUser());
    EXPECT_EQ(strength[2], "05.03.2008");
    EXPECT_EQ(strength[4], "1");
    EXPECT_EQ(strength[5], "MEASURED_STRENGTH");
    EXPECT_EQ(strength[7], "40.50");
    EXPECT_EQ(Cli({"history", Project, "2"}).Out, "");
    // Clearing is a change like any other.
    ASSERT_EQ(Cli({"set", Project, "1", "strength", ""}).Status, 0);
    EXPECT_EQ(Split(Split(Cli({"history", Project}).Out, '\n')[7], '\t')[6], "40.50");

    for (const std::vector<std::string>& wrong :
        std::vector<std::vector<std::string>>{{"set", Project, "1", "colour", "x"},
            {"set", Project, "1", "strength", "много"}, {"set", Project, "1", "sampling_date", "2008-02-30"},
            {"set", Project, "1", "strength_date", "1.4.08"},
            {"set", Project, "1", "code", std::string(101, 'x')}, {"set", Project, "1", "code"},
            {"history", Project, "x"}})
        EXPECT_EQ(Cli(wrong).Status, 2) << wrong[3];
    EXPECT_EQ(Cli({"set", Project, "9", "code", "x"}).Status, 1);
}

TEST(CliUsage, HelpVersionAndMistakes)
{
    EXPECT_EQ(Cli({"--help"}).Status, 0);
    EXPECT_NE(Cli({"--help"}).Out.find("cement-lab-cli results"), std::string::npos);
    EXPECT_EQ(Cli({"--version"}).Out.rfind("cement-lab-cli ", 0), 0u);
    EXPECT_EQ(Cli({}).Status, 2);
    EXPECT_EQ(Cli({"frobnicate"}).Status, 2);
    EXPECT_EQ(Cli({"info"}).Status, 2);
    EXPECT_EQ(Cli({"report", "a.fdb", "b.pdf", "--record"}).Status, 2);
}

TEST(CliTexts, DatesTimesAndComments)
{
    EXPECT_EQ(OleDateText(39512.5), "05.03.2008");
    EXPECT_EQ(OleTimeText(39512.5), "12:00:00");
    EXPECT_EQ(OleDateText(36526.0 + 1.0 / 24), "01.01.2000");
    EXPECT_EQ(OleTimeText(36526.0 + 1.0 / 24), "01:00:00");
    EXPECT_EQ(OleTimeText(39512.999999), "23:59:59");
    EXPECT_EQ(EscapeComment("a\tb\nc\\d\r\ne"), "a\\tb\\nc\\\\d\\ne");
}
