// The journal, its statistics, filters and export: figures worked out by hand on small
// tables, and the journal of real project files against the store's own reading of each row.

#include "analysis/Journal.h"
#include "analysis/JournalExport.h"
#include "analysis/Statistics.h"
#include "compute/ResultText.h"
#include "store/MainDataModuleUnit.h"
#include "tests/compute/RecordBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <numeric>

namespace {

// A readable row with an activity; bound -1/+1 for a clamped one, NaN for undefined.
TJournalRow Row(double date, double time, std::int64_t number, double activity, int bound = 0,
    std::optional<double> strength = std::nullopt)
{
    TJournalRow row;
    row.Date = date;
    row.Time = time;
    row.Number = number;
    row.Readable = true;
    row.Calc.Activity = activity;
    row.Calc.ActivityBound = bound;
    row.Sample.Strength = strength;
    return row;
}

TJournalRow Unreadable(double date)
{
    TJournalRow row;
    row.Date = row.Time = date;
    return row;
}

std::vector<int> All(const TJournal& journal)
{
    std::vector<int> rows(journal.size());
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

std::string Lines(const std::vector<std::string>& values)
{
    static const char* const names[] = {"records", "activity_n", "activity_clamped", "activity_undefined",
        "activity_mean", "activity_sd", "activity_cv", "activity_min", "activity_max", "imr_sigma", "ucl",
        "lcl", "beyond_limits", "error_n", "error_mean", "error_sd", "error_cv", "error_min", "error_max"};
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += std::string(names[i]) + ": " + values[i] + "\n";
    return text;
}

struct TStatisticsCase
{
    const char* Name;
    TJournal Journal;
    std::vector<std::string> Expected; // worked out by hand, decimal comma
};

TEST(StatisticsTest, FiguresAndLimitsWorkedOutByHand)
{
    const std::vector<std::string> noErrors = {"0", "?", "?", "?", "?", "?"};
    const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<TStatisticsCase> cases = {
        {"nothing selected", {},
            with({"0", "0", "0", "0", "?", "?", "?", "?", "?", "?", "?", "?", "?"}, noErrors)},
        {"only a clamped and an undefined activity (with strengths)",
            {Row(45000, 45000.1, 1, 50.0, +1, 40.0), Unreadable(45001),
                Row(45002, 45002, 2, kUndefined, 0, 30.0)},
            with({"3", "0", "1", "2", "?", "?", "?", "?", "?", "?", "?", "?", "?"}, noErrors)},
        {"one value", {Row(45000, 45000.5, 1, 40.0), Row(45000, 45000.2, 2, 20.0, -1)},
            with({"2", "1", "1", "0", "40,00", "?", "?", "40,00", "40,00", "?", "?", "?", "?"}, noErrors)},
        // sd = sqrt(8), cv = 100 sqrt(8) / 42, sigma = 4 / 1.128, limits 42 -+ 3 sigma; errors 2 and -1.
        {"two values with strengths",
            {Row(45001, 45001, 1, 44.0, 0, 45.0), Row(45000, 45000, 9, 40.0, 0, 38.0)},
            with({"2", "2", "0", "0", "42,00", "2,83", "6,73", "40,00", "44,00", "3,55", "52,64", "31,36",
                     "0"},
                {"2", "0,50", "2,12", "424,26", "-1,00", "2,00"})},
        // Time order 40, 41, 60, 61 (a tie of date and time goes by number, a smaller number at a
        // later time comes later): moving ranges 1, 19, 1, sigma 7 / 1.128. In list order the
        // ranges would be 19, 20, 21; by number alone 1, 20, 1.
        {"ties in time",
            {Row(45001, 45001.25, 7, 60.0), Row(45000, 45000.5, 2, 41.0), Row(45000, 45000.5, 1, 40.0),
                Row(45001, 45001.75, 1, 61.0), Row(44000, 44000, 1, 10.0, -1), Unreadable(44500)},
            with({"6", "4", "1", "1", "50,50", "11,56", "22,89", "40,00", "61,00", "6,21", "69,12", "31,88",
                     "0"},
                noErrors)},
        // Nine 10s then 20: sigma = (10 / 9) / 1.128, the 20 lies above ucl 13.96.
        {"a value beyond the limits",
            [] {
                TJournal j;
                for (int i = 0; i < 10; ++i)
                    j.push_back(Row(45000 + i, 45000 + i, 1, i == 9 ? 20.0 : 10.0));
                return j;
            }(),
            with({"10", "10", "0", "0", "11,00", "3,16", "28,75", "10,00", "20,00", "0,99", "13,96", "8,04",
                     "1"},
                noErrors)},
    };
    for (const TStatisticsCase& c : cases) {
        const TActivityStatistics stats = ComputeStatistics(c.Journal, All(c.Journal));
        EXPECT_EQ(StatisticsLines(stats, ","), Lines(c.Expected)) << c.Name;
        // The chart's limits are the ones the figures give, over the same values in time order.
        const TControlSeries series = ActivitySeries(c.Journal, All(c.Journal));
        const TControlLimits chart = IndividualsLimits(series.Values);
        EXPECT_EQ(FormatDecimal(chart.Ucl, 2, ","), FormatDecimal(stats.Limits.Ucl, 2, ",")) << c.Name;
        EXPECT_EQ(static_cast<int>(series.Values.size()), stats.Activity.N) << c.Name;
        for (std::size_t i = 1; i < series.Rows.size(); ++i)
            EXPECT_FALSE(TimeOrderLess(c.Journal[series.Rows[i]], c.Journal[series.Rows[i - 1]])) << c.Name;
    }
}

TEST(StatisticsTest, GroupsByGradeAndSupplier)
{
    TJournal journal = {Row(45000, 45000, 1, 40.0), Row(45001, 45001, 2, 44.0), Row(45002, 45002, 3, 30.0),
        Unreadable(45003)};
    journal[0].ExpCementGrade = 3;
    journal[1].ExpCementGrade = 3;
    journal[2].ExpCementGrade = 5;
    journal[0].Supplier = 1;
    journal[1].Supplier = 2;
    journal[2].Supplier = 2;
    const auto grades = StatisticsByGrade(journal, All(journal));
    ASSERT_EQ(grades.size(), 2u);
    EXPECT_EQ(grades.at(3).Activity.N, 2);
    EXPECT_DOUBLE_EQ(grades.at(3).Activity.Mean, 42.0);
    EXPECT_EQ(grades.at(5).Records, 1);
    const auto suppliers = StatisticsBySupplier(journal, All(journal));
    ASSERT_EQ(suppliers.size(), 2u);
    EXPECT_DOUBLE_EQ(suppliers.at(2).Activity.Mean, 37.0);
    EXPECT_DOUBLE_EQ(suppliers.at(2).Activity.Min, 30.0);
}

TEST(JournalFilterTest, EachConditionAlone)
{
    TJournal journal(5);
    const double day = 45000.0; // 15.03.2023
    for (int i = 0; i < 5; ++i) {
        journal[i] = Row(day + i + 0.75, day + i + 0.75, i, 40.0);
        journal[i].ExpCementGrade = static_cast<std::uint32_t>(i % 2);
        journal[i].Supplier = static_cast<std::uint32_t>(i);
        journal[i].ConcretionTime = i < 3 ? 28 : 7;
    }
    journal[1].Comment = "Проба ЁЛКА из цеха";
    journal[3].Sample.Batch = "партия Q-17";
    journal[4].Readable = false;
    journal[4].ExpCementGrade = 0;
    struct TCase
    {
        const char* Name;
        TJournalFilter Filter;
        std::vector<int> Rows;
    };
    const auto filter = [](auto set) {
        TJournalFilter f;
        set(f);
        return f;
    };
    const std::vector<TCase> cases = {
        {"none", {}, {0, 1, 2, 3, 4}},
        {"from, inclusive", filter([&](TJournalFilter& f) { f.FromDate = day + 1; }), {1, 2, 3, 4}},
        {"to, inclusive of the whole day", filter([&](TJournalFilter& f) { f.ToDate = day + 1; }), {0, 1}},
        {"one day", filter([&](TJournalFilter& f) { f.FromDate = f.ToDate = day + 2; }), {2}},
        {"grade (an unreadable row has none)", filter([](TJournalFilter& f) { f.Grade = 0; }), {0, 2}},
        {"supplier", filter([](TJournalFilter& f) { f.Supplier = 3; }), {3}},
        {"hardening duration", filter([](TJournalFilter& f) { f.ConcretionTime = 7; }), {3}},
        {"text in the comment, any case", filter([](TJournalFilter& f) { f.Text = "проба ёлка"; }), {1}},
        {"text in a sample field", filter([](TJournalFilter& f) { f.Text = "q-17"; }), {3}},
        {"text nowhere", filter([](TJournalFilter& f) { f.Text = "цемент"; }), {}},
        {"all together", filter([&](TJournalFilter& f) {
             f.FromDate = day;
             f.Grade = 1;
             f.Text = "ПАРТИЯ";
         }),
            {3}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FilterJournal(journal, c.Filter), c.Rows) << c.Name;
    EXPECT_EQ(ParseIsoDate("2023-03-16"), day + 1);
    EXPECT_EQ(ParseIsoDate("2023-02-29"), std::nullopt);
    EXPECT_EQ(ParseIsoDate("16.03.2023"), std::nullopt);
}

TEST(JournalSortTest, ByColumnBothWays)
{
    TJournal journal = {Row(45002, 45002, 1, 40.0), Row(45000, 45000, 2, 50.0, +1),
        Row(45001, 45001, 3, kUndefined), Row(45003, 45003, 4, 40.0)};
    journal[0].Comment = "б";
    journal[1].Comment = "А";
    journal[3].Comment = "в";
    std::vector<int> rows = All(journal);
    SortJournalRows(journal, rows, TJournalColumn::Activity, false);
    EXPECT_EQ(rows, (std::vector<int>{2, 0, 3, 1})); // undefined first, a tie by time
    SortJournalRows(journal, rows, TJournalColumn::Activity, true);
    EXPECT_EQ(rows, (std::vector<int>{1, 3, 0, 2}));
    SortJournalRows(journal, rows, TJournalColumn::Comment, false);
    EXPECT_EQ(rows, (std::vector<int>{2, 1, 0, 3}));
    SortJournalRows(journal, rows, TJournalColumn::Date, false);
    EXPECT_EQ(rows, (std::vector<int>{1, 2, 0, 3}));
}

// A record whose contraction grows with `rise`: different activities, some off the table.
TMsrResult Record(double begin, std::int32_t number, float rise, std::uint32_t grade)
{
    TMsrResult msr = MakeRecord(
        12000, 60, [rise](std::size_t i) { return rise * static_cast<float>(i) / 200.0f; }, Constant(20.0f));
    msr.BeginDateTime = begin;
    msr.MeasureNumber = number;
    msr.CementMass = 400;
    msr.ExpCementGrade = grade;
    msr.Supplier = grade % 7;
    return msr;
}

class JournalProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Store.CreateProjectDatabase(Path));
        ASSERT_TRUE(Store.OpenProjectDatabase(Path));
        TArrayOfMsrResult records;
        for (int i = 0; i < 12; ++i)
            records.push_back(Record(45000.0 + i * 0.3, i + 1, 0.3f * static_cast<float>(i), i % 4));
        ASSERT_EQ(Store.StoreMsrResults(records), 12);
        Store.ResultDataSet().SetRecNo(3);
        Store.SetMeasureComment("Проба с завода; \"№ 3\"");
        Store.PostEdits();
        Store.ApplyChanges();
    }
    void TearDown() override { Store.CloseProjectDatabase(); }

    // What the grids would show of each list row, through the store's own read.
    void ExpectAsTheStoreReadsIt(const TJournal& journal)
    {
        ASSERT_EQ(static_cast<int>(journal.size()), Store.GetRecordCount());
        for (int i = 0; i < Store.GetRecordCount(); ++i) {
            const TJournalRow& row = journal[i];
            TMsrResult msr;
            ASSERT_EQ(Store.ReadMsrResultAt(i, msr), 0);
            const TMsrCalcResult calc = CalcMsrResult(msr);
            EXPECT_EQ(row.Key, Store.RecordKeyAt(i));
            EXPECT_TRUE(row.Readable) << i;
            EXPECT_EQ(row.ExpCementGrade, msr.ExpCementGrade) << i;
            EXPECT_EQ(row.ConcretionTime, msr.ConcretionTime) << i;
            EXPECT_EQ(JournalCellText(row, TJournalColumn::Activity, ","),
                GetActivityStr(calc.ActivityBound, calc.Activity, ","))
                << i;
            EXPECT_EQ(JournalCellText(row, TJournalColumn::FinalContraction, ","),
                GetContractionStr(calc.FinalContraction, ","))
                << i;
            Store.ResultDataSet().SetRecNo(i + 1);
            EXPECT_EQ(row.Comment, Store.GetMeasureComment()) << i;
            EXPECT_EQ(row.Number, msr.MeasureNumber) << i;
        }
    }

    TTempDir Dir;
    std::string Path = Dir.File("journal.fdb");
    TMainDataModule Store;
};

TEST_F(JournalProjectTest, SavedAndPendingRowsAsTheStoreShowsThem)
{
    // Pending: a measurement changed, a comment changed, a row deleted and one added.
    Store.ResultDataSet().SetRecNo(5);
    TMsrResult changed;
    ASSERT_EQ(Store.ReadMsrResult(changed), 0);
    changed.ExpCementGrade = 6;
    changed.ConcretionTime = 7;
    Store.WriteMsrResult(changed);
    Store.ResultDataSet().SetRecNo(7);
    Store.SetMeasureComment("изменён, не сохранён");
    Store.PostEdits();
    Store.ResultDataSet().SetRecNo(2);
    Store.ResultDataSet().Delete();
    TMsrResult added = Record(46000.0, 99, 3.0f, 2);
    ASSERT_EQ(Store.AddMsrResult(added), -1);

    TJournalSource source = TakeJournalSource(Store);
    EXPECT_EQ(std::count_if(source.Rows.begin(), source.Rows.end(), [](auto& r) { return r.Pending; }), 3);
    std::vector<std::pair<int, int>> progress;
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(ComputeJournal(
        source, [&](int done, int total) { progress.emplace_back(done, total); }, cancel));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(9, 9));
    ExpectAsTheStoreReadsIt(source.Rows);
    const auto activities = ComputeStatistics(source.Rows, All(source.Rows));
    EXPECT_EQ(activities.Records, 12);
    EXPECT_GT(activities.Activity.N, 2);
    EXPECT_GT(activities.Clamped + activities.Undefined, 0); // the table's ends are in the set

    // Cancelled before the first row: nothing is claimed complete.
    TJournalSource again = TakeJournalSource(Store);
    cancel = true;
    EXPECT_FALSE(ComputeJournal(again, {}, cancel));
}

std::string Unzip(const std::string& file, const std::string& member)
{
    std::string text;
    if (FILE* pipe = popen(("unzip -p '" + file + "' " + member).c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

TEST_F(JournalProjectTest, ExportedSheetHoldsNumbersAsNumbers)
{
    TJournalSource source = TakeJournalSource(Store);
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(ComputeJournal(source, {}, cancel));
    const TJournal& journal = source.Rows;
    std::vector<int> rows = {2, 0, 7};
    std::string error;
    const std::string xlsx = Dir.File("journal.xlsx");
    ASSERT_TRUE(WriteJournalXlsx(xlsx, journal, rows, error)) << error;
    const std::string sheet = Unzip(xlsx, "xl/worksheets/sheet1.xml");
    const std::string strings
        = Unzip(xlsx, "xl/sharedStrings.xml") + sheet; // inline strings in constant memory
    ASSERT_FALSE(sheet.empty());
    EXPECT_NE(strings.find("Активность, МПа"), std::string::npos);
    EXPECT_NE(strings.find("Проба с завода; \"№ 3\""), std::string::npos) << sheet.substr(0, 3000);
    // Each row's number and date are numeric cells (no t="s" or t="inlineStr").
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::string ref = "r=\"C" + std::to_string(r + 2) + "\"";
        const std::size_t at = sheet.find(ref);
        ASSERT_NE(at, std::string::npos) << ref;
        const std::string cell = sheet.substr(at, sheet.find("</c>", at) - at);
        EXPECT_EQ(cell.find("t="), std::string::npos) << cell;
        EXPECT_NE(cell.find("<v>" + std::to_string(journal[rows[r]].Number) + "</v>"), std::string::npos)
            << cell;
        const std::string date = "r=\"A" + std::to_string(r + 2) + "\"";
        const std::size_t d = sheet.find(date);
        ASSERT_NE(d, std::string::npos);
        EXPECT_NE(
            sheet.substr(d, sheet.find("</c>", d) - d)
                .find("<v>" + std::to_string(static_cast<int>(std::floor(journal[rows[r]].Date))) + "</v>"),
            std::string::npos);
        // An activity inside the table is a number; its text in the journal says the same.
        if (journal[rows[r]].ActivityInTable()) {
            const std::string n = "r=\"N" + std::to_string(r + 2) + "\"";
            const std::size_t a = sheet.find(n);
            ASSERT_NE(a, std::string::npos);
            const std::string cell = sheet.substr(a, sheet.find("</c>", a) - a);
            EXPECT_EQ(cell.find("t="), std::string::npos) << cell;
            const std::size_t v = cell.find("<v>");
            EXPECT_EQ(FormatDecimal(std::stod(cell.substr(v + 3)), 1, "."),
                JournalCellText(journal[rows[r]], TJournalColumn::Activity, ".").substr(1));
        }
    }

    const std::string csv = JournalCsv(journal, rows, ",");
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBFДата;Время;№;", 0), 0u);
    EXPECT_NE(csv.find(";\"Проба с завода; \"\"№ 3\"\"\"\r\n"), std::string::npos);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_EQ(JournalCsv(journal, rows, ".").rfind("\xEF\xBB\xBFДата,Время,№,", 0), 0u);
    EXPECT_FALSE(WriteJournalXlsx(Dir.File("no/such/folder.xlsx"), journal, rows, error));
    EXPECT_FALSE(error.empty());
}

} // namespace
