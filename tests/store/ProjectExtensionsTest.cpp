// Sample identification, measured strength and change history on real project files.
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

namespace {

// The schema as the engine's own tool prints it, without the line naming the file.
std::vector<std::string> Extract(const std::string& path)
{
    std::vector<std::string> lines;
    const std::string command = "isql-fb -x -user SYSDBA -password vaultword '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        if (std::string line = buffer; line.find("CREATE DATABASE") == std::string::npos)
            lines.push_back(line);
    if (pipe)
        pclose(pipe);
    return lines;
}

std::string HistoryText(TMainDataModule& m, std::optional<std::int64_t> key = std::nullopt)
{
    std::ostringstream text;
    for (const THistoryEntry& e : m.ReadHistory(key))
        text << e.MeasureNumber << ' ' << e.Field << ' ' << e.OldValue << '>' << e.NewValue << ';';
    return text.str();
}

class ProjectExtensionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m.CreateProjectDatabase(m_path));
        ASSERT_TRUE(m.CreateProjectDatabase(m_fresh));
        ASSERT_TRUE(m.OpenProjectDatabase(m_path));
        for (int i = 1; i <= 3; ++i) {
            TMsrResult r = NumberedRecord(45000.0 + i, i, 30);
            ASSERT_EQ(m.AddMsrResult(r), -1);
        }
        m.ApplyChanges();
    }
    void Reopen()
    {
        m.CloseProjectDatabase();
        ASSERT_TRUE(m.OpenProjectDatabase(m_path));
    }
    bool HasTables()
    {
        return !Query(m_path,
            "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME "
            "STARTING WITH 'MEASURE_HISTORY'")
                    .empty();
    }

    TTempDir m_dir;
    std::string m_path = m_dir.File("project.fdb");
    std::string m_fresh = m_dir.File("fresh.fdb");
    TMainDataModule m;
};

TEST_F(ProjectExtensionsTest, APlainProjectKeepsThePlainSchema)
{
    // Downloads, a cancelled sample entry and reopening add nothing of the laboratory's.
    m.ResultDataSet().First();
    m.SetSampleInfo({"П-1", "", "", "", std::nullopt, 40.0, std::nullopt});
    m.CancelChanges();
    EXPECT_TRUE(m.GetSampleInfo().Empty());
    Reopen();
    m.CloseProjectDatabase();
    EXPECT_FALSE(HasTables());
    EXPECT_EQ(Extract(m_path), Extract(m_fresh));
    EXPECT_GT(Extract(m_fresh).size(), 10u);
}

TEST_F(ProjectExtensionsTest, ChangesAreKeptWithTheirHistoryAndCanBeUndone)
{
    const TSampleInfo sample{
        "П-17/2026", "ЦЕМ I 42,5Н", "Завод «Восток»", "Партия 12", 45000.0, 48.25, 45029.0};
    TCachedDataSet& ds = m.ResultDataSet();
    ds.First();
    const std::int64_t first = m.RecordKeyAt(0);
    m.SetSampleInfo(sample);
    m.SetMeasureComment("проба повторена");
    TMsrResult msr;
    ASSERT_EQ(m.ReadMsrResult(msr), 0);
    msr.CementMass = 410;
    msr.ConcretionTime = 7;
    m.WriteMsrResult(msr);
    // Nothing reaches the file before the save.
    EXPECT_FALSE(HasTables());
    m.ApplyChanges();
    Reopen();
    EXPECT_EQ(m.SampleInfoAt(0), sample);
    EXPECT_TRUE(m.SampleInfoAt(1).Empty());
    const std::string user = OperatingSystemUser();
    for (const THistoryEntry& e : m.ReadHistory(first))
        EXPECT_EQ(e.ChangedBy, user);
    EXPECT_EQ(HistoryText(m),
        "1 CEMENT_MASS 400>410;1 CONCRETION_TIME 28>7;1 MEASURE_COMMENT >проба повторена;"
        "1 SAMPLE_CODE >П-17/2026;1 CEMENT_TYPE >ЦЕМ I 42,5Н;1 MANUFACTURER >Завод «Восток»;"
        "1 BATCH_NUMBER >Партия 12;1 SAMPLING_DATE >15.03.2023;1 MEASURED_STRENGTH >48.25;"
        "1 STRENGTH_TEST_DATE >13.04.2023;");
    std::vector<std::string> changed = m.ChangedFieldsAt(0);
    EXPECT_EQ(changed.size(), 10u);
    EXPECT_TRUE(m.ChangedFieldsAt(1).empty());

    // The instrument's values come back as a pending edit, recorded when saved.
    ds.First();
    ASSERT_TRUE(m.RestoreDeviceValues());
    EXPECT_FALSE(m.RestoreDeviceValues());
    m.ApplyChanges();
    ASSERT_EQ(m.ReadMsrResult(msr), 0);
    EXPECT_EQ(msr.CementMass, 400u);
    EXPECT_EQ(msr.ConcretionTime, 28);
    EXPECT_NE(HistoryText(m, first).find("CEMENT_MASS 410>400;1 CONCRETION_TIME 7>28;"), std::string::npos);

    // A deleted record comes back whole from the history, once.
    const char* const records = "SELECT MEASURE_RESULT_TABLE_PK, MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER, "
                                "MEASURE_DATA, MEASURE_COMMENT FROM MEASURE_RESULT_TABLE ORDER BY 1";
    const TRows before = Query(m_path, records);
    ds.First();
    ds.Delete();
    m.ApplyChanges();
    ASSERT_EQ(m.GetRecordCount(), 2);
    const auto deleted = m.DeletedRecords();
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].RecordKey, first);
    EXPECT_EQ(deleted[0].MeasureNumber, 1);
    ASSERT_TRUE(m.RestoreDeletedRecord(first));
    EXPECT_FALSE(m.RestoreDeletedRecord(first));
    EXPECT_EQ(m.GetSampleInfo(), sample);
    m.ApplyChanges();
    Reopen();
    EXPECT_EQ(m.GetRecordCount(), 3);
    EXPECT_EQ(m.SampleInfoAt(0), sample);
    EXPECT_TRUE(m.DeletedRecords().empty());
    const std::string history = HistoryText(m, first);
    EXPECT_NE(history.find("1 DELETED >;1 RESTORED >;"), std::string::npos) << history;
    EXPECT_EQ(Query(m_path, records), before);

    // The upgrade added tables; the plain ones read exactly as in a fresh project.
    m.CloseProjectDatabase();
    const auto fresh = Extract(m_fresh);
    auto upgraded = Extract(m_path);
    std::multiset<std::string> have(upgraded.begin(), upgraded.end());
    for (const std::string& line : fresh)
        EXPECT_TRUE(have.count(line)) << "lost from the plain schema: " << line;
    EXPECT_GT(upgraded.size(), fresh.size());
}

} // namespace
