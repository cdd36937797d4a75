#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Reads the current row the way the grids and memos do on every notification and
// notes each time the cursor is not on a row of the view.
class TCursorProbe : public TDataSetListener
{
public:
    explicit TCursorProbe(TCachedDataSet& dataSet)
        : m_dataSet(dataSet)
    {
        m_dataSet.AddListener(this);
        m_hook = m_dataSet.AddAfterScroll([this](TCachedDataSet&) { Look("after scroll"); });
    }
    ~TCursorProbe() override
    {
        m_dataSet.RemoveListener(this);
        m_dataSet.RemoveAfterScroll(m_hook);
    }
    void DataSetChanged() override { Look("data set changed"); }
    void RecordChanged() override { Look("record changed"); }
    void CurrentChanged() override { Look("current changed"); }
    void StateChanged() override { Look("state changed"); }

    int Calls = 0;
    std::vector<std::string> Faults;

private:
    void Look(const char* what)
    {
        ++Calls;
        const TCachedDataSet& ds = m_dataSet;
        const int n = ds.RecordCount();
        if (!ds.Active() || n == 0) {
            if (ds.RecNo() != 0 || (ds.Active() && !(ds.Bof() && ds.Eof())))
                Faults.push_back(std::string(what) + ": no rows but a current one");
            return;
        }
        if (ds.RecNo() < 1 || ds.RecNo() > n) {
            Faults.push_back(
                std::string(what) + ": RecNo " + std::to_string(ds.RecNo()) + " of " + std::to_string(n));
            return;
        }
        for (std::size_t f = 0; f < ds.FieldCount(); ++f) {
            const TValue& shown = ds.Field(f);
            if (ds.State() != TDataSetState::Insert && shown != ds.RowField(ds.RecNo() - 1, f))
                Faults.push_back(std::string(what) + ": Field and RowField differ at " + ds.FieldName(f));
        }
    }

    TCachedDataSet& m_dataSet;
    int m_hook = 0;
};

} // namespace

// Every operation that removes, restores or reorders rows puts the cursor on a row of
// the view before any listener or hook reads it.
TEST(CachedDataSetTest, CursorIsOnARowWheneverListenersRun)
{
    TTempDir dir;
    const std::string path = dir.File("project.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.CreateProjectDatabase(path));
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    for (int i = 1; i <= 3; ++i) {
        TMsrResult r = NumberedRecord(45000.0 + i, i);
        m.AddMsrResult(r);
    }
    m.ApplyChanges();

    TCachedDataSet& ds = m.ResultDataSet();
    const std::size_t number = ds.FieldIndex("MEASURE_NUMBER");
    auto append = [&](std::int64_t n) {
        ds.Append();
        ds.SetField(number, n);
        ds.SetField("MEASURE_DATE", TDateTime{44000.0 + static_cast<double>(n)});
    };
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"delete the last row",
            [&] {
                ds.Last();
                ds.Delete();
            }},
        {"cancel the deletion", [&] { ds.CancelUpdates(); }},
        {"delete the last row while editing it",
            [&] {
                ds.Last();
                ds.Edit();
                ds.SetField(number, std::int64_t{9});
                ds.Delete();
            }},
        {"delete every row one by one",
            [&] {
                while (!ds.IsEmpty())
                    ds.Delete();
            }},
        {"cancel deleting all", [&] { ds.CancelUpdates(); }},
        {"append and cancel at the last row",
            [&] {
                ds.Last();
                append(7);
                ds.Cancel();
            }},
        {"append and post",
            [&] {
                append(7);
                ds.Post();
            }},
        {"delete an inserted last row",
            [&] {
                ds.Last();
                ds.Delete();
            }},
        {"cancel updates that drop the current inserted row",
            [&] {
                append(8);
                ds.Post();
                ds.Last();
                ds.CancelUpdates();
            }},
        {"sort an edited row away",
            [&] {
                ds.First();
                ds.Edit();
                ds.SetField(number, std::int64_t{5});
                ds.Sort([&](const auto& a, const auto& b) {
                    return std::get<std::int64_t>(a[number]) > std::get<std::int64_t>(b[number]);
                });
            }},
        {"save",
            [&] {
                append(10);
                ds.Post();
                ds.Last();
                ds.Delete();
                m.ApplyChanges();
            }},
        {"last row deleted inside a bulk bracket",
            [&] {
                m.BeginUpdate();
                ds.Last();
                ds.Delete();
                EXPECT_EQ(ds.Field(number), ds.RowField(ds.RecNo() - 1, number));
                m.EndUpdate();
            }},
        {"close and open again",
            [&] {
                m.CloseProjectDatabase();
                ASSERT_TRUE(m.OpenProjectDatabase(path));
            }},
    };
    TCursorProbe probe(ds);
    for (const auto& [name, step] : steps) {
        probe.Calls = 0;
        probe.Faults.clear();
        step();
        EXPECT_GT(probe.Calls, 0) << name;
        EXPECT_EQ(probe.Faults, std::vector<std::string>{}) << name;
    }
    EXPECT_EQ(ds.RecordCount(), 3);
}

// A deleted row comes back where it stood among the others, also when new rows were
// dropped around it or the list was sorted after the deletion.
TEST(CachedDataSetTest, CancelledDeletionsReturnToTheirPlace)
{
    TTempDir dir;
    const std::string path = dir.File("project.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.CreateProjectDatabase(path));
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    for (int i = 1; i <= 3; ++i) {
        TMsrResult r = NumberedRecord(45000.0 + i, i);
        m.AddMsrResult(r);
    }
    m.ApplyChanges();
    TCachedDataSet& ds = m.ResultDataSet();
    const std::size_t number = ds.FieldIndex("MEASURE_NUMBER");
    auto numbers = [&] {
        std::vector<std::int64_t> out;
        for (int i = 0; i < ds.RecordCount(); ++i)
            out.push_back(std::get<std::int64_t>(ds.RowField(i, number)));
        return out;
    };
    auto current = [&] { return std::get<std::int64_t>(ds.Field(number)); };

    TMsrResult between = NumberedRecord(45001.5, 9);
    m.AddMsrResult(between);
    m.SortResults();
    ASSERT_EQ(numbers(), (std::vector<std::int64_t>{1, 9, 2, 3}));
    ds.SetRecNo(3);
    ds.Delete();
    ds.SetRecNo(1);
    ds.CancelUpdates();
    EXPECT_EQ(numbers(), (std::vector<std::int64_t>{1, 2, 3})) << "a new row before it was dropped";
    EXPECT_EQ(current(), 1);

    ds.First();
    ds.Delete();
    ds.Sort([&](const auto& a, const auto& b) {
        return std::get<std::int64_t>(a[number]) > std::get<std::int64_t>(b[number]);
    });
    ds.SetRecNo(2);
    ds.CancelUpdates();
    EXPECT_EQ(numbers(), (std::vector<std::int64_t>{3, 2, 1})) << "the list was sorted after the deletion";
    EXPECT_EQ(current(), 2);
}

// Writing back what a row holds (the parameters window closed with nothing changed, a
// comment typed and typed back) is no change, also for a blob not read into memory yet.
TEST(CachedDataSetTest, PuttingBackWhatARowHoldsIsNoChange)
{
    TTempDir dir;
    const std::string path = dir.File("project.fdb");
    {
        TMainDataModule m;
        ASSERT_TRUE(m.CreateProjectDatabase(path));
        ASSERT_TRUE(m.OpenProjectDatabase(path));
        TMsrResult r = NumberedRecord(45001.0, 1);
        m.AddMsrResult(r);
        m.SetMeasureComment("проба");
        m.ApplyChanges();
    }
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(path));
    TMsrResult record;
    ASSERT_EQ(m.ReadMsrResult(record), 0);
    ASSERT_EQ(m.WriteMsrResult(record), 0);
    m.SetMeasureComment("проба");
    m.PostEdits();
    EXPECT_FALSE(m.HasChanges());
    EXPECT_EQ(m.ResultDataSet().RowStatus(0), TUpdateStatus::Unchanged);

    ASSERT_EQ(m.ReadMsrResult(record), 0);
    record.CementMass += 1;
    ASSERT_EQ(m.WriteMsrResult(record), 0);
    EXPECT_EQ(m.ResultDataSet().RowStatus(0), TUpdateStatus::Modified);
}
