#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::int64_t Int(const TValue& v)
{
    return std::get<std::int64_t>(v);
}
std::string Text(const TValue& v)
{
    return IsNull(v) ? "<null>" : std::get<std::string>(v);
}

std::vector<std::int64_t> Numbers(const TMainDataModule& m)
{
    std::vector<std::int64_t> out;
    const auto& ds = m.ResultDataSet();
    for (int i = 0; i < ds.RecordCount(); ++i)
        out.push_back(Int(ds.RowField(i, ds.FieldIndex("MEASURE_NUMBER"))));
    return out;
}

class StoreTest : public ::testing::Test
{
protected:
    std::string NewProject(const std::string& name = "project.fdb")
    {
        const std::string path = m_dir.File(name);
        TMainDataModule creator;
        EXPECT_TRUE(creator.CreateProjectDatabase(path));
        return path;
    }
    std::string ProjectWith(std::initializer_list<std::pair<double, int>> records)
    {
        const std::string path = NewProject();
        TMainDataModule m;
        EXPECT_TRUE(m.OpenProjectDatabase(path));
        for (auto [begin, number] : records) {
            TMsrResult r = NumberedRecord(begin, number);
            EXPECT_EQ(m.AddMsrResult(r), -1);
        }
        m.ApplyChanges();
        m.CloseProjectDatabase();
        return path;
    }
    TTempDir m_dir;
};

} // namespace

TEST_F(StoreTest, CreatedFileHasTheExactSchemaAndProjectRow)
{
    const std::string path = NewProject();
    TRows db = Query(path, "SELECT MON$PAGE_SIZE, MON$SQL_DIALECT FROM MON$DATABASE");
    EXPECT_EQ(Int(db[0][0]), 4096);
    EXPECT_EQ(Int(db[0][1]), 3);
    EXPECT_EQ(Text(Query(path, "SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE")[0][0]), "ASCII");

    TRows columns = Query(path,
        "SELECT TRIM(RF.RDB$RELATION_NAME), TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE, "
        "F.RDB$FIELD_SUB_TYPE, F.RDB$FIELD_LENGTH, F.RDB$SEGMENT_LENGTH, RF.RDB$NULL_FLAG "
        "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
        "WHERE RF.RDB$SYSTEM_FLAG = 0 ORDER BY 1, RF.RDB$FIELD_POSITION");
    std::vector<std::string> described;
    for (const auto& c : columns)
        described.push_back(Text(c[0]) + "." + Text(c[1]) + " " + std::to_string(Int(c[2])) + "/"
            + (IsNull(c[3]) ? "-" : std::to_string(Int(c[3]))) + "/" + std::to_string(Int(c[4]))
            + (IsNull(c[5]) ? "" : " seg " + std::to_string(Int(c[5]))) + (IsNull(c[6]) ? "" : " not null"));
    // 8 integer, 14 char, 35 timestamp, 261 blob
    EXPECT_EQ(described,
        (std::vector<std::string>{
            "MEASURE_RESULT_TABLE.MEASURE_RESULT_TABLE_PK 8/0/4 not null",
            "MEASURE_RESULT_TABLE.MEASURE_DATE 35/-/8",
            "MEASURE_RESULT_TABLE.MEASURE_TIME 35/-/8",
            "MEASURE_RESULT_TABLE.MEASURE_NUMBER 8/0/4",
            "MEASURE_RESULT_TABLE.MEASURE_DATA 261/0/8 seg 256",
            "MEASURE_RESULT_TABLE.MEASURE_COMMENT 261/0/8 seg 256",
            "SYSTEM_TABLE.SYSTEM_TABLE_PK 8/0/4 not null",
            "SYSTEM_TABLE.DEVICE_NAME 14/0/32",
            "SYSTEM_TABLE.DEVICE_DATA_VERSION 8/0/4",
            "SYSTEM_TABLE.PROJECT_DESCRIPTION 261/0/8 seg 256",
        }));
    TRows generators = Query(
        path, "SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE RDB$SYSTEM_FLAG = 0 ORDER BY 1");
    ASSERT_EQ(generators.size(), 2u);
    EXPECT_EQ(Text(generators[0][0]), "MEASURE_RESULT_TABLE_GEN");
    EXPECT_EQ(Text(generators[1][0]), "SYSTEM_TABLE_GEN");
    TRows triggers = Query(path,
        "SELECT TRIM(RDB$TRIGGER_NAME), TRIM(RDB$RELATION_NAME), RDB$TRIGGER_TYPE, "
        "RDB$TRIGGER_SEQUENCE, RDB$TRIGGER_INACTIVE FROM RDB$TRIGGERS "
        "WHERE RDB$SYSTEM_FLAG = 0 ORDER BY 1");
    ASSERT_EQ(triggers.size(), 2u);
    EXPECT_EQ(Text(triggers[0][0]), "CREATE_MEASURE_RESULT_RECORD");
    EXPECT_EQ(Text(triggers[0][1]), "MEASURE_RESULT_TABLE");
    EXPECT_EQ(Int(triggers[0][2]), 1); // before insert
    EXPECT_EQ(Int(triggers[0][4]), 0);
    EXPECT_EQ(Text(triggers[1][0]), "CREATE_SYSTEM_RECORD");

    TRows row = Query(path,
        "SELECT SYSTEM_TABLE_PK, DEVICE_NAME, DEVICE_DATA_VERSION, PROJECT_DESCRIPTION FROM SYSTEM_TABLE");
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(Int(row[0][0]), 1);
    EXPECT_EQ(Text(row[0][1]), "CEMENT-VORKAST-1.0              ");
    EXPECT_EQ(Int(row[0][2]), 65538);
    EXPECT_TRUE(IsNull(row[0][3]));
    EXPECT_TRUE(Query(path, "SELECT * FROM MEASURE_RESULT_TABLE").empty());
}

TEST_F(StoreTest, CreationTakesAnyPathAndFailsCleanly)
{
    const std::string odd = m_dir.File("it's a проект с пробелами.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.CreateProjectDatabase(odd));
    EXPECT_FALSE(m.IsProjectOpen());
    ASSERT_TRUE(m.OpenProjectDatabase(odd));
    EXPECT_TRUE(m.IsResultEmpty());
    EXPECT_EQ(m.GetProjectDescription(), "");
    EXPECT_FALSE(m.HasChanges());
    m.CloseProjectDatabase();

    EXPECT_FALSE(m.CreateProjectDatabase(odd)) << "an existing file is the caller's to remove";
    EXPECT_FALSE(m.CreateProjectDatabase(m_dir.File("no/such/folder/p.fdb")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("no")));
    // A statement injected through the path must stay a file name.
    const std::string injected = m_dir.File("x.fdb' PAGE_SIZE = 16384 --");
    ASSERT_TRUE(m.CreateProjectDatabase(injected));
    EXPECT_EQ(Int(Query(injected, "SELECT MON$PAGE_SIZE FROM MON$DATABASE")[0][0]), 4096);
}

TEST_F(StoreTest, OpenRefusesFilesThatAreNotProjectsAndLeavesNothingOpen)
{
    struct TCase
    {
        const char* name;
        std::function<std::string(const std::string&)> make;
    };
    const std::vector<TCase> cases = {
        {"wrong name",
            [](const std::string& p) {
                Execute(p, "UPDATE SYSTEM_TABLE SET DEVICE_NAME = 'CEMENT-VORKAST-2.0'");
                return p;
            }},
        {"lower case name",
            [](const std::string& p) {
                Execute(p, "UPDATE SYSTEM_TABLE SET DEVICE_NAME = 'cement-vorkast-1.0'");
                return p;
            }},
        {"version 65537",
            [](const std::string& p) {
                Execute(p, "UPDATE SYSTEM_TABLE SET DEVICE_DATA_VERSION = 65537");
                return p;
            }},
        {"no project row",
            [](const std::string& p) {
                Execute(p, "DELETE FROM SYSTEM_TABLE");
                return p;
            }},
        {"no result table",
            [](const std::string& p) {
                Execute(p, "DROP TABLE MEASURE_RESULT_TABLE");
                return p;
            }},
        {"not a database",
            [](const std::string& p) {
                std::ofstream(p + ".txt") << "just text\n";
                return p + ".txt";
            }},
        {"empty file",
            [](const std::string& p) {
                std::ofstream(p + ".empty");
                return p + ".empty";
            }},
        {"missing file", [](const std::string& p) { return p + ".missing"; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string good = NewProject(std::string(c.name) + ".fdb");
        const std::string path = c.make(good);
        TMainDataModule m;
        EXPECT_FALSE(m.OpenProjectDatabase(path));
        EXPECT_FALSE(m.IsProjectOpen());
        EXPECT_EQ(m.GetRecordCount(), 0);
        // Nothing was left connected: the same store opens a good project at once.
        const std::string other = NewProject(std::string(c.name) + "-good.fdb");
        EXPECT_TRUE(m.OpenProjectDatabase(other));
    }
    // Trailing blanks of the name are not significant.
    const std::string padded = NewProject("padded.fdb");
    Execute(padded, "UPDATE SYSTEM_TABLE SET DEVICE_NAME = 'CEMENT-VORKAST-1.0   '");
    TMainDataModule m;
    EXPECT_TRUE(m.OpenProjectDatabase(padded));
}

TEST_F(StoreTest, ChangeSetAppendEditDeleteAndSave)
{
    const std::string path = NewProject();
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TMsrResult a = NumberedRecord(45000.25, 1), b = NumberedRecord(45000.5, 2),
               c = NumberedRecord(45001.0, 3);
    for (TMsrResult* r : {&a, &b, &c})
        EXPECT_EQ(m.AddMsrResult(*r), -1);
    EXPECT_TRUE(a.Data.empty()) << "stored arrays are released";
    EXPECT_EQ(m.GetRecordCount(), 3);
    EXPECT_TRUE(m.HasChanges());
    // Keys come from the generator at once.
    const auto& ds = m.ResultDataSet();
    EXPECT_EQ(Int(ds.RowField(0, ds.FieldIndex("MEASURE_RESULT_TABLE_PK"))), 1);
    EXPECT_EQ(Int(ds.RowField(2, ds.FieldIndex("MEASURE_RESULT_TABLE_PK"))), 3);
    EXPECT_TRUE(Query(path, "SELECT * FROM MEASURE_RESULT_TABLE").empty()) << "nothing written before save";

    m.ApplyChanges();
    EXPECT_FALSE(m.HasChanges());
    EXPECT_EQ(Query(path, "SELECT * FROM MEASURE_RESULT_TABLE").size(), 3u) << "a save is committed";

    m.ResultDataSet().SetRecNo(2);
    m.SetMeasureComment("Партия №5");
    EXPECT_TRUE(m.HasChanges()) << "typing alone counts as a change";
    m.PostEdits();
    m.ResultDataSet().First();
    m.ResultDataSet().Delete();
    EXPECT_EQ(m.GetRecordCount(), 2) << "a deleted row leaves the view at once";
    m.ApplyChanges();
    m.CloseProjectDatabase();

    TRows rows = Query(path, "SELECT MEASURE_NUMBER, MEASURE_COMMENT FROM MEASURE_RESULT_TABLE ORDER BY 1");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Int(rows[0][0]), 2);
    EXPECT_EQ(Text(rows[0][1]), "\xcf\xe0\xf0\xf2\xe8\xff \xb9\x35") << "stored as 1251 bytes";
    EXPECT_TRUE(IsNull(rows[1][1]));
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    m.ResultDataSet().First();
    EXPECT_EQ(m.GetMeasureComment(), "Партия №5");
}

TEST_F(StoreTest, DeleteAllThenCancelBringsEverythingBack)
{
    const std::string path = ProjectWith({{45000.0, 1}, {45000.0, 2}, {45001.0, 3}});
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    const auto before = Numbers(m);
    m.ResultDataSet().SetRecNo(2);
    m.SetMeasureComment("правка");
    m.PostEdits();
    TMsrResult extra = NumberedRecord(45002.0, 9);
    m.AddMsrResult(extra);
    m.DeleteAllRecords();
    EXPECT_TRUE(m.IsResultEmpty());
    EXPECT_TRUE(m.ControlsEnabled());
    m.CancelChanges();
    EXPECT_EQ(Numbers(m), before);
    EXPECT_FALSE(m.HasChanges());
    m.ResultDataSet().SetRecNo(2);
    EXPECT_EQ(m.GetMeasureComment(), "") << "the edit is gone too";

    m.DeleteAllRecords();
    m.ApplyChanges();
    m.CloseProjectDatabase();
    EXPECT_TRUE(Query(path, "SELECT * FROM MEASURE_RESULT_TABLE").empty());
}

TEST_F(StoreTest, SortIsAscendingInMemoryAndDescendingByNumberAfterReopen)
{
    const std::string path = NewProject();
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    for (auto [begin, number] : {std::pair{45001.0, 7}, {45000.0, 5}, {45001.0, 3}, {45001.0, 4}}) {
        TMsrResult r = NumberedRecord(begin, number);
        m.AddMsrResult(r);
    }
    m.SortResults();
    EXPECT_EQ(Numbers(m), (std::vector<std::int64_t>{5, 3, 4, 7}));
    m.ApplyChanges();
    m.CloseProjectDatabase();
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    EXPECT_EQ(Numbers(m), (std::vector<std::int64_t>{5, 7, 4, 3}));
    EXPECT_EQ(m.ResultDataSet().RecNo(), 1);
}

TEST_F(StoreTest, BulkBracketsNestAndSilenceTheScrollHook)
{
    const std::string path = ProjectWith({{45000.0, 1}, {45000.5, 2}});
    TMainDataModule m;
    int shown = 0;
    m.OnShowResult = [&](TCachedDataSet&) { ++shown; };
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    EXPECT_EQ(shown, 1) << "opening shows the first record";
    m.BeginUpdate();
    m.BeginUpdate();
    m.EndUpdate();
    EXPECT_FALSE(m.ControlsEnabled());
    m.ResultDataSet().Last();
    m.ResultDataSet().First();
    EXPECT_EQ(shown, 1);
    m.EndUpdate();
    m.EndUpdate(); // one too many: stays at 0
    EXPECT_EQ(m.UpdateCount(), 0);
    m.BeginUpdate();
    EXPECT_FALSE(m.ControlsEnabled()) << "the extra EndUpdate did not go below 0";
    m.EndUpdate();
    m.ResultDataSet().Last();
    EXPECT_EQ(shown, 2);
    // The hook stays silent while a record is being edited.
    m.SetMeasureComment("x");
    m.ResultDataSet().SetRecNo(2);
    EXPECT_EQ(shown, 3) << "moving posts the edit first, then shows";
}

TEST_F(StoreTest, FailedSaveRollsBackAndKeepsEveryChangePending)
{
    const std::string path = ProjectWith({{45000.0, 1}});
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TMsrResult r = NumberedRecord(45002.0, 2);
    m.AddMsrResult(r);
    m.SetProjectDescription("описание");
    m.PostEdits();
    // A second new row whose key collides with the stored one.
    m.ResultDataSet().Append();
    m.ResultDataSet().SetField("MEASURE_RESULT_TABLE_PK", std::int64_t{1});
    m.ResultDataSet().Post();
    EXPECT_THROW(m.ApplyChanges(), TDatabaseError);
    EXPECT_TRUE(m.ControlsEnabled()) << "the bulk bracket closed on the error";
    EXPECT_TRUE(m.HasChanges());
    EXPECT_EQ(Query(path, "SELECT * FROM MEASURE_RESULT_TABLE").size(), 1u)
        << "the partial save was rolled back";
    EXPECT_TRUE(IsNull(Query(path, "SELECT PROJECT_DESCRIPTION FROM SYSTEM_TABLE")[0][0]));

    m.ResultDataSet().Last();
    m.ResultDataSet().Delete();
    m.ApplyChanges();
    EXPECT_FALSE(m.HasChanges());
    m.CloseProjectDatabase();
    EXPECT_EQ(Query(path, "SELECT * FROM MEASURE_RESULT_TABLE").size(), 2u);
    EXPECT_EQ(Text(Query(path, "SELECT PROJECT_DESCRIPTION FROM SYSTEM_TABLE")[0][0]),
        "\xee\xef\xe8\xf1\xe0\xed\xe8\xe5");
}

TEST_F(StoreTest, SavedWorkSurvivesAProcessThatNeverCloses)
{
    const std::string path = ProjectWith({{45000.0, 1}});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TMainDataModule m;
        if (!m.OpenProjectDatabase(path))
            _exit(3);
        TMsrResult saved = NumberedRecord(45001.0, 2);
        m.AddMsrResult(saved);
        m.ApplyChanges();
        TMsrResult unsaved = NumberedRecord(45002.0, 3);
        m.AddMsrResult(unsaved);
        _exit(0); // no close, no commit, no destructor
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    EXPECT_EQ(Numbers(m), (std::vector<std::int64_t>{1, 2}));
}

TEST_F(StoreTest, MeasurementRecordRoundTripsThroughTheCurrentRow)
{
    const std::string path = NewProject();
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TMsrResult none;
    EXPECT_EQ(m.ReadMsrResult(none), -1) << "empty list";
    EXPECT_EQ(m.WriteMsrResult(none), -1);

    TMsrResult r = NumberedRecord(45000.75, 12, 4320);
    const std::string expected = EncodeMsrResult(r);
    ASSERT_EQ(expected.size(), 69172u);
    m.AddMsrResult(r);
    m.SetMeasureComment("комментарий");
    TMsrResult read;
    ASSERT_EQ(m.ReadMsrResult(read), 0);
    EXPECT_EQ(m.ResultDataSet().State(), TDataSetState::Browse) << "reading posts the comment being typed";
    EXPECT_EQ(EncodeMsrResult(read), expected);
    m.ApplyChanges();
    m.CloseProjectDatabase();
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    ASSERT_EQ(m.ReadMsrResult(read), 0);
    EXPECT_EQ(EncodeMsrResult(read), expected);

    read.CementMass = 380;
    read.BeginDateTime = 45003.5;
    read.MeasureNumber = 13;
    ASSERT_EQ(m.WriteMsrResult(read), 0);
    EXPECT_TRUE(read.Data.empty());
    const auto& ds = m.ResultDataSet();
    EXPECT_EQ(std::get<TDateTime>(ds.Field("MEASURE_DATE")).Value, 45003.5);
    EXPECT_EQ(std::get<TDateTime>(ds.Field("MEASURE_TIME")).Value, 45003.5);
    EXPECT_EQ(Int(ds.Field("MEASURE_NUMBER")), 13);
    EXPECT_EQ(m.GetMeasureComment(), "комментарий");
    EXPECT_TRUE(m.HasChanges());

    // A stored 52-byte record and an unreadable one.
    TMsrResult header = NumberedRecord(45004.0, 14, 0);
    m.AddMsrResult(header);
    ASSERT_EQ(m.ReadMsrResult(read), 0);
    EXPECT_TRUE(read.Data.empty());
    EXPECT_EQ(std::get<std::string>(ds.Field("MEASURE_DATA")).size(), 52u);
    m.ResultDataSet().Edit();
    m.ResultDataSet().SetField("MEASURE_DATA", std::string(51, '\0'));
    m.ResultDataSet().Post();
    EXPECT_EQ(m.ReadMsrResult(read), -1);
    m.ResultDataSet().Edit();
    m.ResultDataSet().SetField("MEASURE_DATA", TValue{});
    EXPECT_EQ(m.ReadMsrResult(read), -1);
}

TEST_F(StoreTest, ReadingTheSameInstrumentAgainAfterReopenAddsNothing)
{
    const std::string path = NewProject();
    // Start times as the instrument's bytes give them: fractions that a TIMESTAMP cannot hold exactly.
    auto download = [] {
        TArrayOfMsrResult list;
        for (int i = 0; i < 5; ++i)
            list.push_back(NumberedRecord(45000.0 + (i * 3600 + 17) / 86400.0 + 1e-11, 100 + i));
        list.push_back(NumberedRecord(45000.0 + 17 / 86400.0 + 1e-11, 100)); // the instrument repeats one
        return list;
    };
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    int shown = 0;
    m.OnShowResult = [&](TCachedDataSet&) { ++shown; };
    TArrayOfMsrResult first = download();
    EXPECT_EQ(m.StoreMsrResults(first), 5);
    EXPECT_EQ(shown, 0) << "storing runs inside one bulk bracket";
    EXPECT_EQ(m.ResultDataSet().RecNo(), 5) << "moved to the last row";
    EXPECT_TRUE(m.ControlsEnabled());
    m.ApplyChanges();
    m.CloseProjectDatabase();

    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TArrayOfMsrResult again = download();
    EXPECT_EQ(m.StoreMsrResults(again), 0);
    EXPECT_FALSE(m.HasChanges());
    TArrayOfMsrResult other = {NumberedRecord(45000.0 + 17 / 86400.0, 101)}; // same start, other number
    EXPECT_EQ(m.StoreMsrResults(other), 1);
}

TEST_F(StoreTest, CloseIsIdempotentAndUnsavedWorkIsDroppedAtTheEnd)
{
    const std::string path = ProjectWith({{45000.0, 1}});
    {
        TMainDataModule m;
        m.CloseProjectDatabase();
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        TMsrResult r = NumberedRecord(45001.0, 2);
        m.AddMsrResult(r);
        m.SetProjectDescription("не сохранено");
        m.CloseProjectDatabase();
        m.CloseProjectDatabase();
        EXPECT_FALSE(m.IsProjectOpen());
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        TMsrResult s = NumberedRecord(45002.0, 3);
        m.AddMsrResult(s);
        m.ApplyChanges();
        TMsrResult u = NumberedRecord(45003.0, 4);
        m.AddMsrResult(u);
    } // the store ends with the project open
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    EXPECT_EQ(Numbers(m), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(m.GetProjectDescription(), "");
}

// A record whose start a TIMESTAMP cannot hold keeps its row's date and time, never stops the
// other changes of the save, and is stored (without a date) once from a download.
TEST_F(StoreTest, DamagedStartNeverBlocksASave)
{
    const double damaged[] = {std::nan(""), INFINITY, -INFINITY, -693595.0, 2958466.0, 1e300};
    for (const double begin : damaged) {
        SCOPED_TRACE(begin);
        const std::string path = ProjectWith({{45000.25, 1}, {45001.0, 2}});
        TMainDataModule m;
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        auto& ds = m.ResultDataSet();
        const TValue dateAsStored = ds.Field("MEASURE_DATE");
        TMsrResult r;
        ASSERT_EQ(m.ReadMsrResult(r), 0);
        r.BeginDateTime = begin;
        r.CementMass = 777;
        ASSERT_EQ(m.WriteMsrResult(r), 0);
        ds.Next();
        m.SetMeasureComment("сохраняется");
        TArrayOfMsrResult download = {NumberedRecord(begin, 9)};
        EXPECT_EQ(m.StoreMsrResults(download), 1);
        ASSERT_NO_THROW(m.ApplyChanges());
        m.CloseProjectDatabase();

        ASSERT_TRUE(m.OpenProjectDatabase(path));
        ASSERT_EQ(ds.RecordCount(), 3);
        ds.First(); // the undated row sorts first
        EXPECT_TRUE(IsNull(ds.Field("MEASURE_DATE")));
        EXPECT_EQ(Int(ds.Field("MEASURE_NUMBER")), 9);
        ds.Next();
        EXPECT_EQ(ds.Field("MEASURE_DATE"), dateAsStored);
        ASSERT_EQ(m.ReadMsrResult(r), 0);
        EXPECT_EQ(r.CementMass, 777u);
        EXPECT_TRUE(r.BeginDateTime == begin || (std::isnan(begin) && std::isnan(r.BeginDateTime)));
        ds.Next();
        EXPECT_EQ(m.GetMeasureComment(), "сохраняется");
        TArrayOfMsrResult again = {NumberedRecord(begin, 9)};
        EXPECT_EQ(m.StoreMsrResults(again), 0);
        m.CloseProjectDatabase();
        std::filesystem::remove(path);
    }
    for (const double begin : {-693593.5, 0.0, 2958465.5})
        EXPECT_TRUE(OleDateFitsTimestamp(begin)) << begin;
}

// The engine reads "name:" as a server; a local name with colons, in the file name or in a
// folder's, still creates, saves and reopens, and leaves no other file behind.
TEST_F(StoreTest, LocalNamesWithColonsAreFiles)
{
    std::filesystem::create_directory(m_dir.Path() / "2024:03");
    for (const std::string name : {"2024:03.fdb", "2024:03/a:b.fdb", "2024:03/plain.fdb"}) {
        SCOPED_TRACE(name);
        const std::string path = m_dir.File(name);
        TMainDataModule m;
        ASSERT_TRUE(m.CreateProjectDatabase(path));
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        TMsrResult r = NumberedRecord(45000.0, 5);
        m.AddMsrResult(r);
        m.ApplyChanges();
        m.CloseProjectDatabase();
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        EXPECT_EQ(Numbers(m), (std::vector<std::int64_t>{5}));
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.Path()))
        left.push_back(entry.path().lexically_relative(m_dir.Path()).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(
        left, (std::vector<std::string>{"2024:03", "2024:03.fdb", "2024:03/a:b.fdb", "2024:03/plain.fdb"}));
}

// The engine writes through its open handle; a save into a file that is no longer where the
// project was opened is refused with every change pending, and succeeds once it is back.
TEST_F(StoreTest, SaveRefusesAFileGoneFromItsPlace)
{
    const std::string path = ProjectWith({{45000.0, 1}});
    const std::string aside = m_dir.File("aside.fdb");
    std::filesystem::copy_file(path, m_dir.File("copy.fdb"));
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TMsrResult r = NumberedRecord(45001.0, 2);
    m.AddMsrResult(r);
    const std::function<void()> moves[] = {
        [&] { std::filesystem::rename(path, aside); },
        [&] { std::filesystem::rename(m_dir.File("copy.fdb"), path); },
    };
    for (const auto& move : moves) {
        move();
        try {
            m.ApplyChanges();
            ADD_FAILURE() << "the save was reported as done";
        } catch (const TDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find("Изменения не сохранены"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(m.HasChanges());
    }
    std::filesystem::rename(path, m_dir.File("copy.fdb"));
    std::filesystem::rename(aside, path);
    m.ApplyChanges();
    m.CloseProjectDatabase();
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    EXPECT_EQ(Numbers(m), (std::vector<std::int64_t>{1, 2}));
}

// Opening reads no measurement blob; each is read when its row is looked at, through a
// bounded cache, and the right bytes come back after edits, saves, cancels and the engine's
// reuse of a deleted row's blob id.
TEST_F(StoreTest, MeasurementBlobsAreReadOnlyWhenLookedAt)
{
    const std::string path = NewProject();
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TArrayOfMsrResult records;
    for (int i = 0; i < 200; ++i)
        records.push_back(NumberedRecord(45000.0 + i, i, 4320));
    ASSERT_EQ(m.StoreMsrResults(records), 200);
    m.ApplyChanges();
    m.CloseProjectDatabase();

    ASSERT_TRUE(m.OpenProjectDatabase(path));
    auto& ds = m.ResultDataSet();
    EXPECT_EQ(ds.CachedBlobBytes(), 0u);
    // The record's number as its last sample tells it (see NumberedRecord).
    auto number = [&] {
        TMsrResult r;
        if (m.ReadMsrResult(r) != 0 || r.Data.size() != 4 || r.Data[3].size() != 4320)
            return -1;
        return static_cast<int>(r.Data[3][4319] - 4349.0f) / 100;
    };
    for (int row = 1; row <= ds.RecordCount(); ++row) {
        ds.SetRecNo(row);
        ASSERT_EQ(number(), row - 1);
    }
    EXPECT_LE(ds.CachedBlobBytes(), 8u << 20);

    // Edit one blob, delete another, append a third; then cancel, then do it again and save.
    for (const bool save : {false, true}) {
        ds.SetRecNo(10);
        TMsrResult r;
        ASSERT_EQ(m.ReadMsrResult(r), 0);
        r.MeasureNumber = 1000;
        ASSERT_EQ(m.WriteMsrResult(r), 0);
        ds.SetRecNo(20);
        ds.Delete();
        TArrayOfMsrResult more = {NumberedRecord(46000.0, 2000, 4320)};
        ASSERT_EQ(m.StoreMsrResults(more), 1);
        EXPECT_EQ(number(), 2000);
        if (save)
            m.ApplyChanges();
        else
            m.CancelChanges();
    }
    ds.SetRecNo(10);
    TMsrResult edited;
    ASSERT_EQ(m.ReadMsrResult(edited), 0);
    EXPECT_EQ(edited.MeasureNumber, 1000);
    EXPECT_EQ(number(), 9);
    ds.Last();
    EXPECT_EQ(number(), 2000);
    // The freed id of the deleted row may be given to the next new blob.
    ds.SetRecNo(30);
    ds.Delete();
    m.ApplyChanges();
    TArrayOfMsrResult last = {NumberedRecord(47000.0, 3000, 4320)};
    ASSERT_EQ(m.StoreMsrResults(last), 1);
    m.ApplyChanges();
    EXPECT_EQ(number(), 3000);
    m.CloseProjectDatabase();
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    ds.Last();
    EXPECT_EQ(number(), 3000);
    EXPECT_EQ(ds.RecordCount(), 200);
}

// A measurement deleted and read again from the instrument in one save is stored once; dates
// long before 1900 save, and sort by the instant as the file does.
TEST_F(StoreTest, RereadRecordsAndOldDatesSave)
{
    const std::string path = NewProject();
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TMsrResult r = NumberedRecord(45001.0, 7);
    m.AddMsrResult(r);
    m.ApplyChanges();
    m.ResultDataSet().Delete();
    TMsrResult again = NumberedRecord(45001.0, 7);
    EXPECT_EQ(m.AddMsrResult(again), -1);
    m.ApplyChanges();
    EXPECT_EQ(m.GetRecordCount(), 1);

    // 1899-12-29 06:00 is -1.25 and 18:00 is -1.75; 1800-01-01 lies before the engine's day 0.
    TArrayOfMsrResult old
        = {NumberedRecord(-1.75, 3), NumberedRecord(-1.25, 2), NumberedRecord(-36522.25, 1)};
    EXPECT_EQ(m.StoreMsrResults(old), 3);
    const std::vector<std::int64_t> order{1, 2, 3, 7};
    EXPECT_EQ(Numbers(m), order);
    ASSERT_NO_THROW(m.ApplyChanges());
    m.CloseProjectDatabase();
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    EXPECT_EQ(Numbers(m), order);
    m.ResultDataSet().First();
    EXPECT_EQ(std::get<TDateTime>(m.ResultDataSet().Field("MEASURE_DATE")).Value, -36522.25);
}
