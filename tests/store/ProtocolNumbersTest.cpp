// Protocol numbers on real project files: per project, kept across reopening, and a project
// that never issues a protocol keeps its plain schema.
#include "store/ProtocolNumbers.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Every table with its columns and every generator, as names.
std::set<std::string> Schema(const std::string& path)
{
    std::set<std::string> names;
    for (const auto& row : Query(path,
             "SELECT TRIM(R.RDB$RELATION_NAME) || '.' || TRIM(F.RDB$FIELD_NAME)\n"
             "FROM RDB$RELATIONS R JOIN RDB$RELATION_FIELDS F\n"
             "  ON F.RDB$RELATION_NAME = R.RDB$RELATION_NAME\n"
             "WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0"))
        names.insert(std::get<std::string>(row[0]));
    for (const auto& row : Query(path,
             "SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS\n"
             "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0"))
        names.insert(std::get<std::string>(row[0]));
    return names;
}

} // namespace

TEST(ProtocolNumbersTest, NumberedPerProjectAndKeptAcrossReopening)
{
    TTempDir dir;
    const std::string first = dir.File("first.fdb");
    const std::string second = dir.File("second.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.CreateProjectDatabase(first));
    ASSERT_TRUE(m.CreateProjectDatabase(second));
    const std::set<std::string> plain = Schema(first);
    ASSERT_TRUE(plain.count("MEASURE_RESULT_TABLE.MEASURE_DATA"));

    ASSERT_TRUE(m.OpenProjectDatabase(first));
    TMsrResult record = NumberedRecord(45000.0, 1, 30);
    ASSERT_EQ(m.AddMsrResult(record), -1);
    m.ApplyChanges();
    const std::int64_t key = m.RecordKeyAt(0);
    // Asking for the next number and reading the issued ones change nothing in the file.
    EXPECT_EQ(ProtocolNumbers::Next(m.Connection()), 1);
    EXPECT_TRUE(ProtocolNumbers::Issued(m.Connection()).empty());
    m.CloseProjectDatabase();
    EXPECT_EQ(Schema(first), plain);

    // Issued one after another, one of them under a number the operator typed; a number
    // typed below the largest does not move the next one back.
    const struct
    {
        std::int64_t Number;
        std::int64_t NextAfter;
    } steps[] = {{1, 2}, {2, 3}, {10, 11}, {4, 11}};
    std::vector<TProtocolIssue> issued;
    ASSERT_TRUE(m.OpenProjectDatabase(first));
    for (const auto& step : steps) {
        const TProtocolIssue issue{step.Number, 45100.5 + step.Number, "лаборант", {key, key + 7}};
        ProtocolNumbers::Issue(m.Connection(), issue);
        issued.push_back(issue);
        EXPECT_EQ(ProtocolNumbers::Next(m.Connection()), step.NextAfter) << step.Number;
    }
    m.CloseProjectDatabase();

    // Another connection sees them committed; reopening keeps them and the next number.
    EXPECT_EQ(Query(first, "SELECT COUNT(*) FROM PROTOCOL_TABLE")[0][0], TValue{std::int64_t{4}});
    ASSERT_TRUE(m.OpenProjectDatabase(first));
    EXPECT_EQ(ProtocolNumbers::Next(m.Connection()), 11);
    EXPECT_EQ(ProtocolNumbers::Issued(m.Connection()), issued);
    EXPECT_EQ(m.GetRecordCount(), 1);
    m.CloseProjectDatabase();
    // The project's own tables and generators are as they were, one table beside them.
    std::set<std::string> extended = plain;
    for (const char* column :
        {"PROTOCOL_TABLE_PK", "PROTOCOL_NUMBER", "ISSUED_AT", "ISSUED_BY", "RECORD_KEYS"})
        extended.insert(std::string("PROTOCOL_TABLE.") + column);
    EXPECT_EQ(Schema(first), extended);

    // The other project numbers from 1 and keeps its plain schema.
    ASSERT_TRUE(m.OpenProjectDatabase(second));
    EXPECT_EQ(ProtocolNumbers::Next(m.Connection()), 1);
    m.CloseProjectDatabase();
    EXPECT_EQ(Schema(second), plain);
}
