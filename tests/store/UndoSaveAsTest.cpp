// Pending changes taken back one by one, and a project saved under a new name with them.
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

class UndoSaveAsTest : public ::testing::Test
{
protected:
    void SetUp() override { MakeProject(m_path); }

    void MakeProject(const std::string& path)
    {
        TMainDataModule m;
        ASSERT_TRUE(m.CreateProjectDatabase(path));
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        for (int i = 1; i <= 3; ++i) {
            TMsrResult r = NumberedRecord(45000.0 + i, i, 20);
            ASSERT_EQ(m.AddMsrResult(r), -1);
        }
        m.SetProjectDescription("до");
        m.PostEdits();
        m.ApplyChanges();
    }

    // What the list shows: number, comment, mass and sample code of each row.
    static std::string State(TMainDataModule& m)
    {
        std::string text;
        for (int row = 0; row < m.GetRecordCount(); ++row) {
            TMsrResult msr;
            m.ReadMsrResultAt(row, msr);
            m.ResultDataSet().SetRecNo(row + 1);
            text += std::to_string(msr.MeasureNumber) + ":" + m.GetMeasureComment() + ":"
                + std::to_string(msr.CementMass) + ":" + m.GetSampleInfo().Code + " ";
        }
        return text;
    }

    // Every kind of pending change, each a step the undo takes back.
    static const std::vector<std::pair<std::string, std::function<void(TMainDataModule&)>>>& Steps()
    {
        static const std::vector<std::pair<std::string, std::function<void(TMainDataModule&)>>> steps = {
            {"изменение записи № 1",
                [](TMainDataModule& m) {
                    m.ResultDataSet().SetRecNo(1);
                    m.SetMeasureComment("первый");
                    m.PostEdits();
                }},
            {"удаление записи № 2",
                [](TMainDataModule& m) {
                    m.ResultDataSet().SetRecNo(2);
                    m.ResultDataSet().Delete();
                }},
            {"добавление записей (2)",
                [](TMainDataModule& m) {
                    TArrayOfMsrResult records;
                    records.push_back(NumberedRecord(45010.0, 10, 20));
                    records.push_back(NumberedRecord(45011.0, 11, 20));
                    m.StoreMsrResults(records);
                }},
            {"изменение записи № 3",
                [](TMainDataModule& m) {
                    m.ResultDataSet().SetRecNo(2);
                    TMsrResult msr;
                    m.ReadMsrResult(msr);
                    msr.CementMass = 420;
                    m.WriteMsrResult(msr);
                }},
            {"удаление записи № 11",
                [](TMainDataModule& m) {
                    m.ResultDataSet().Last();
                    m.ResultDataSet().Delete();
                }},
            {"изменение записи № 10",
                [](TMainDataModule& m) {
                    m.ResultDataSet().Last();
                    m.SetSampleInfo({"П-10", "", "", "", std::nullopt, std::nullopt, std::nullopt});
                    m.PostEdits();
                }},
        };
        return steps;
    }

    TTempDir m_dir;
    std::string m_path = m_dir.File("project.fdb");
};

TEST_F(UndoSaveAsTest, EachPendingChangeIsTakenBackNewestFirst)
{
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(m_path));
    EXPECT_FALSE(m.CanUndo());
    std::vector<std::string> states{State(m)};
    for (const auto& [text, step] : Steps()) {
        step(m);
        EXPECT_EQ(m.UndoText(), text);
        states.push_back(State(m));
    }
    EXPECT_NE(states.front(), states.back());
    for (std::size_t i = Steps().size(); i > 0; --i) {
        ASSERT_TRUE(m.CanUndo()) << i;
        ASSERT_TRUE(m.Undo());
        EXPECT_EQ(State(m), states[i - 1]) << "after undoing " << Steps()[i - 1].first;
    }
    EXPECT_FALSE(m.CanUndo());
    EXPECT_FALSE(m.Undo());
    EXPECT_FALSE(m.HasChanges());
    // A save ends what can be taken back; what it wrote stays.
    Steps()[0].second(m);
    m.ApplyChanges();
    EXPECT_FALSE(m.CanUndo());
    m.ResultDataSet().SetRecNo(1);
    EXPECT_EQ(m.GetMeasureComment(), "первый");
}

TEST_F(UndoSaveAsTest, SaveAsKeepsEverythingEvenWhenTheFileIsGone)
{
    // The same changes saved in place into a twin, and saved as a new file after the
    // original file was deleted under the open project: the two files hold the same.
    const std::string twin = m_dir.File("twin.fdb");
    MakeProject(twin);
    const std::string copy = m_dir.File("new folder/copy.fdb");
    std::filesystem::create_directories(m_dir.File("new folder"));
    for (const std::string& path : {twin, m_path}) {
        TMainDataModule m;
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        for (const auto& [text, step] : Steps())
            step(m);
        m.SetProjectDescription("после");
        m.PostEdits();
        if (path == twin) {
            m.ApplyChanges();
            continue;
        }
        std::filesystem::remove(path);
        EXPECT_THROW(m.ApplyChanges(), TDatabaseError);
        EXPECT_FALSE(m.SaveProjectAs(m_dir.File("no such folder/x.fdb")));
        EXPECT_FALSE(m.LastError().empty());
        ASSERT_TRUE(m.SaveProjectAs(copy)) << m.LastError();
        EXPECT_FALSE(m.HasChanges());
        EXPECT_EQ(m.Target().Path, copy);
        EXPECT_EQ(ProjectContents(copy), ProjectContents(twin));
        // It goes on in the copy: a further change lands there.
        m.ResultDataSet().SetRecNo(1);
        m.SetMeasureComment("дальше");
        m.PostEdits();
        m.ApplyChanges();
    }
    EXPECT_EQ(Query(copy, "SELECT 1 FROM MEASURE_HISTORY_TABLE").size(),
        Query(twin, "SELECT 1 FROM MEASURE_HISTORY_TABLE").size() + 1);
    EXPECT_EQ(std::filesystem::directory_iterator(m_dir.File("new folder"))->path().filename(), "copy.fdb");
}

} // namespace
