// cement-lab-cli stats and journal on a real project made here.

#include "cli/CliUnit.h"
#include "compute/Activity.h"
#include "compute/ResultText.h"
#include "store/MainDataModuleUnit.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

namespace {

struct TRun
{
    int Status = -1;
    std::string Out, Err;
};

TRun Cli(const std::vector<std::string>& arguments, const std::string& separator = ".")
{
    std::ostringstream out, err;
    TCliOptions options;
    options.DecimalSeparator = separator;
    TRun run;
    run.Status = RunCli(arguments, out, err, options);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

std::map<std::string, std::string> Values(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos)
            values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return values;
}

class AnalysisCliTest : public ::testing::Test
{
protected:
    // 16 records on 8 days (two a day), grades 2..5, 28 or 7 days, contractions rising with i.
    void SetUp() override
    {
        TMainDataModule store;
        ASSERT_TRUE(store.CreateProjectDatabase(Path));
        ASSERT_TRUE(store.OpenProjectDatabase(Path));
        TArrayOfMsrResult records;
        for (int i = 0; i < 16; ++i) {
            const float rise = 0.2f * static_cast<float>(i);
            TMsrResult msr = MakeRecord(
                12000, 60, [rise](std::size_t k) { return rise * static_cast<float>(k) / 200.0f; },
                Constant(20.0f));
            msr.BeginDateTime = 45000.0 + i / 2 + (i % 2 ? 0.75 : 0.25);
            msr.MeasureNumber = i + 1;
            msr.CementMass = 400;
            msr.ExpCementGrade = 2 + static_cast<std::uint32_t>(i % 4);
            msr.Supplier = static_cast<std::uint32_t>(i % 3);
            msr.ConcretionTime = i < 12 ? 28 : 7;
            records.push_back(msr);
        }
        ASSERT_EQ(store.StoreMsrResults(records), 16);
        store.ApplyChanges();
        // The activities as the store and the grids give them, in time order (the list's).
        for (int i = 0; i < store.GetRecordCount(); ++i) {
            TMsrResult msr;
            ASSERT_EQ(store.ReadMsrResultAt(i, msr), 0);
            Records.push_back({msr, CalcMsrResult(msr)});
        }
        store.CloseProjectDatabase();
    }

    struct TRecord
    {
        TMsrResult Msr;
        TMsrCalcResult Calc;
    };
    TTempDir Dir;
    std::string Path = Dir.File("stats.fdb");
    std::vector<TRecord> Records;
};

TEST_F(AnalysisCliTest, StatsOfFilteredSelections)
{
    struct TCase
    {
        std::vector<std::string> Filter;
        bool (*Selected)(const TMsrResult&);
    };
    const std::vector<TCase> cases = {
        {{}, [](const TMsrResult&) { return true; }},
        {{"--grade", "3"}, [](const TMsrResult& m) { return m.ExpCementGrade == 3; }},
        {{"--supplier", "1", "--days", "28"},
            [](const TMsrResult& m) { return m.Supplier == 1 && m.ConcretionTime == 28; }},
        // Inclusive: 2023-03-16 .. 2023-03-18 are days 45001 .. 45003, six records.
        {{"--from", "2023-03-16", "--to", "2023-03-18"},
            [](const TMsrResult& m) { return m.BeginDateTime >= 45001.0 && m.BeginDateTime < 45004.0; }},
        {{"--days", "90"}, [](const TMsrResult&) { return false; }},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> arguments = {"stats", Path};
        arguments.insert(arguments.end(), c.Filter.begin(), c.Filter.end());
        const TRun run = Cli(arguments, ",");
        ASSERT_EQ(run.Status, 0) << run.Err;
        const auto printed = Values(run.Out);
        int records = 0, n = 0, clamped = 0, undefined = 0;
        double sum = 0.0, previous = 0.0, ranges = 0.0;
        std::vector<double> values;
        for (const TRecord& r : Records) {
            if (!c.Selected(r.Msr))
                continue;
            ++records;
            if (IsUndefined(r.Calc.Activity)) {
                ++undefined;
            } else if (r.Calc.ActivityBound != 0) {
                ++clamped;
            } else {
                if (n > 0)
                    ranges += std::fabs(r.Calc.Activity - previous);
                previous = r.Calc.Activity;
                sum += r.Calc.Activity;
                values.push_back(r.Calc.Activity);
                ++n;
            }
        }
        const std::string filter = ::testing::PrintToString(c.Filter);
        EXPECT_EQ(printed.at("records"), std::to_string(records)) << filter;
        EXPECT_EQ(printed.at("activity_n"), std::to_string(n)) << filter;
        EXPECT_EQ(printed.at("activity_clamped"), std::to_string(clamped)) << filter;
        EXPECT_EQ(printed.at("activity_undefined"), std::to_string(undefined)) << filter;
        EXPECT_EQ(printed.at("activity_mean"), n ? FormatDecimal(sum / n, 2, ",") : "?") << filter;
        EXPECT_EQ(printed.at("imr_sigma"), n > 1 ? FormatDecimal(ranges / (n - 1) / 1.128, 2, ",") : "?")
            << filter;
        const double sigma = ranges / (n - 1) / 1.128;
        const auto beyond = std::count_if(
            values.begin(), values.end(), [&](double v) { return std::fabs(v - sum / n) > 3.0 * sigma; });
        EXPECT_EQ(printed.at("beyond_limits"), n > 1 ? std::to_string(beyond) : "?") << filter;
        EXPECT_EQ(run.Out.rfind("records: ", 0), 0u) << filter;
    }
    // The whole project has activities inside the table and at its ends.
    const auto all = Values(Cli({"stats", Path}).Out);
    EXPECT_GT(std::stoi(all.at("activity_n")), 3);
    EXPECT_GT(std::stoi(all.at("activity_clamped")) + std::stoi(all.at("activity_undefined")), 0);
    EXPECT_NE(all.at("activity_mean").find('.'), std::string::npos);
    EXPECT_EQ(all.count("grade_3.activity_n"), 1u);
    EXPECT_EQ(all.count("supplier_2.records"), 1u);
}

TEST_F(AnalysisCliTest, JournalFilesAndRefusals)
{
    const std::string csv = Dir.File("j.csv"), xlsx = Dir.File("j.xlsx"), other = Dir.File("j.dat");
    ASSERT_EQ(Cli({"journal", Path, csv, "--grade", "2"}, ",").Status, 0);
    const std::string text = ReadFileBytes(csv);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 4);
    EXPECT_NE(text.find(";M-300;"), std::string::npos);
    EXPECT_EQ(text.find(";M-400;"), std::string::npos);
    ASSERT_EQ(Cli({"journal", Path, "--format", "xlsx", other}).Status, 0);
    EXPECT_EQ(ReadFileBytes(other).rfind("PK", 0), 0u);
    ASSERT_EQ(Cli({"journal", Path, xlsx}).Status, 0);
    EXPECT_EQ(ReadFileBytes(xlsx).rfind("PK", 0), 0u);

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{{"stats"},
             {"stats", Path, "--grade"}, {"stats", Path, "--grade", "-1"},
             {"stats", Path, "--from", "16.03.2023"}, {"stats", Path, "--colour", "red"}, {"journal", Path},
             {"journal", Path, csv, "--format", "ods"}, {"stats", Path, Path}}) {
        const TRun run = Cli(wrong);
        EXPECT_EQ(run.Status, 2) << ::testing::PrintToString(wrong);
        EXPECT_NE(run.Err.find("Использование:"), std::string::npos);
    }
    const TRun missing = Cli({"stats", Dir.File("none.fdb")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "Не удалось открыть проект!\n");
    EXPECT_EQ(Cli({"journal", Path, Dir.File("no/folder/j.csv")}).Status, 1);
}

} // namespace
