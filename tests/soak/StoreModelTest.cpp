// Random sequences of the store operations the program uses, on a real project file,
// each step compared with a plain model of what the operator should see.
//
// The model keeps every row of the list in order, a deleted one too (hidden, in its
// place, so that cancelling brings it back there and sorting moves it with the rest),
// with its values as read, its change status and the values in memory: a start time
// stays as the instrument gave it until the row is read back from the file (reopen, or
// the current row after a save), which rounds it to the TIMESTAMP's 1/10000 s.
//
// Beside the list it keeps what an undo would take back (newest step first, a download or
// a deletion of all as one), each row's sample identification, the history rows every save
// must have added (counted per record and field) and the records deleted and kept for
// restoring.
//
// Without environment a fixed list of seeds runs. CEMENTLAB_SOAK_SEED=<n> with
// CEMENTLAB_SOAK_STEPS=<k> runs StoreModel.Soak for that seed instead.

#include "store/Cp1251.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace {

using TText = std::optional<std::string>; // UTF-8; nullopt is NULL

struct TRowModel
{
    std::int64_t Key = 0;
    std::optional<double> Date; // MEASURE_DATE and MEASURE_TIME as held in memory; NULL for a
                                // record whose start a TIMESTAMP cannot hold
    std::int64_t Number = 0;
    std::optional<std::string> Data;
    TText Comment;
    TSampleInfo Sample; // as the store gives it back: texts cut, a strength that is no number dropped
    bool operator==(const TRowModel&) const = default;
};

struct TEntry
{
    int Id = 0; // the model's own: a row keeps it through sorts and undo
    TRowModel Now;
    std::optional<TRowModel> AsRead; // once modified
    TUpdateStatus Status = TUpdateStatus::Unchanged;
    bool Restored = false; // a deleted record brought back, not saved yet
};

// One step an undo takes back; a group of them goes back as one.
struct TUndoStep
{
    TUpdateStatus Kind = TUpdateStatus::Modified;
    int Group = 0;
    int Id = 0;
    TEntry Before;                 // a posted edit: the row before it; a deletion: its status
    std::optional<TEntry> Removed; // a new row deleted, with its place among all rows
    std::size_t Position = 0;
};

std::string CutText(const std::string& text)
{
    std::size_t bytes = 0;
    for (std::size_t chars = 0; bytes < text.size() && chars < kSampleTextLimit; ++chars) {
        ++bytes;
        while (bytes < text.size() && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
            ++bytes;
    }
    return text.substr(0, bytes);
}

TSampleInfo Normalized(TSampleInfo info)
{
    for (std::string* text : {&info.Code, &info.CementType, &info.Manufacturer, &info.Batch})
        *text = CutText(*text);
    if (info.Strength && !std::isfinite(*info.Strength))
        info.Strength.reset();
    return info;
}

// The history fields two samples differ in.
std::vector<const char*> SampleChanges(const TSampleInfo& a, const TSampleInfo& b)
{
    std::vector<const char*> fields;
    const std::pair<const char*, bool> checks[]
        = {{SampleColumn::Code, a.Code != b.Code}, {SampleColumn::CementType, a.CementType != b.CementType},
            {SampleColumn::Manufacturer, a.Manufacturer != b.Manufacturer},
            {SampleColumn::Batch, a.Batch != b.Batch},
            {SampleColumn::SamplingDate, a.SamplingDate != b.SamplingDate},
            {SampleColumn::Strength, a.Strength != b.Strength},
            {SampleColumn::StrengthDate, a.StrengthDate != b.StrengthDate}};
    for (const auto& [field, differs] : checks)
        if (differs)
            fields.push_back(field);
    return fields;
}

std::optional<double> Rounded(std::optional<double> date)
{
    if (!date)
        return date;
    return TimestampTicksToOleDate(OleDateToTimestampTicks(*date));
}

// An OLE date below zero counts whole days back but the time of day forward; this
// orders dates as time goes.
std::optional<double> Chronological(std::optional<double> date)
{
    if (!date || *date >= 0)
        return date;
    const double day = std::trunc(*date);
    return day + (day - *date);
}

// The list's sort: date, time, number ascending, NULL first.
bool SortsBefore(const TRowModel& a, const TRowModel& b)
{
    if (Chronological(a.Date) != Chronological(b.Date))
        return Chronological(a.Date) < Chronological(b.Date);
    return a.Number < b.Number;
}

// The start of a text for the log of operations, cut between characters.
std::string Brief(const std::string& text)
{
    std::size_t end = std::min<std::size_t>(text.size(), 24);
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        ++end;
    return text.substr(0, end) + (end < text.size() ? "..." : "");
}

std::string Show(const TRowModel& r)
{
    std::ostringstream s;
    s.precision(17);
    s << "{key " << r.Key << ", date ";
    if (r.Date)
        s << *r.Date;
    else
        s << "NULL";
    s << ", #" << r.Number << ", data ";
    if (r.Data)
        s << r.Data->size() << " bytes " << std::hash<std::string>{}(*r.Data);
    else
        s << "NULL";
    s << ", comment " << (r.Comment ? "\"" + Brief(*r.Comment) + "\"" : "NULL");
    if (!r.Sample.Empty())
        s << ", sample \"" << Brief(r.Sample.Code) << "\" "
          << std::hash<std::string>{}(
                 r.Sample.CementType + "|" + r.Sample.Manufacturer + "|" + r.Sample.Batch)
          << " " << r.Sample.SamplingDate.value_or(-1) << " " << r.Sample.Strength.value_or(-1) << " "
          << r.Sample.StrengthDate.value_or(-1);
    s << "}";
    return s.str();
}

const char* Name(TUpdateStatus s)
{
    switch (s) {
    case TUpdateStatus::Unchanged:
        return "unchanged";
    case TUpdateStatus::Modified:
        return "modified";
    case TUpdateStatus::Inserted:
        return "inserted";
    case TUpdateStatus::Deleted:
        return "deleted";
    }
    return "?";
}

// Operator texts: Cyrillic, quotes, several blob segments; "" is stored as NULL.
const char* const kTexts[] = {"", "x", "Партия №5, проба ёЁ", "it's \"quoted\"; --", "Цемент ЦЕМ I 42,5Н €",
    "line one\nline two\r\n\ttab"};

std::string LongText()
{
    std::string s;
    for (int i = 0; i < 60; ++i)
        s += "Длинный текст " + std::to_string(i) + ". ";
    return s;
}

// splitmix64: the same sequence for a seed on every machine and library.
class TRandom
{
public:
    explicit TRandom(std::uint64_t seed)
        : m_state(seed)
    { }
    std::uint64_t Next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return n <= 0 ? 0 : static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    bool Chance(int k, int n) { return Below(n) < k; }

private:
    std::uint64_t m_state;
};

// Notes every notification that finds the cursor off the rows of the view.
class TCursorProbe : public TDataSetListener
{
public:
    explicit TCursorProbe(TCachedDataSet& dataSet)
        : m_dataSet(dataSet)
    {
        m_dataSet.AddListener(this);
    }
    ~TCursorProbe() override { m_dataSet.RemoveListener(this); }
    void DataSetChanged() override { Look("data set changed"); }
    void RecordChanged() override { Look("record changed"); }
    void CurrentChanged() override { Look("current changed"); }
    void StateChanged() override { Look("state changed"); }

    void Look(const char* what)
    {
        const TCachedDataSet& ds = m_dataSet;
        const int n = ds.Active() ? ds.RecordCount() : 0;
        if (n == 0) {
            if (ds.RecNo() != 0)
                Fault = std::string(what) + ": RecNo " + std::to_string(ds.RecNo()) + " in an empty view";
            return;
        }
        if (ds.RecNo() < 1 || ds.RecNo() > n) {
            Fault = std::string(what) + ": RecNo " + std::to_string(ds.RecNo()) + " of " + std::to_string(n);
            return;
        }
        for (std::size_t f = 0; f < ds.FieldCount(); ++f)
            if (ds.State() != TDataSetState::Insert && ds.Field(f) != ds.RowField(ds.RecNo() - 1, f))
                Fault = std::string(what) + ": Field and RowField differ at " + ds.FieldName(f);
    }

    std::string Fault;

private:
    TCachedDataSet& m_dataSet;
};

// Starts of damaged records: the first four a TIMESTAMP cannot hold (stored without a
// date), then odd ones it can: before the engine's day 0 (1858-11-17), the OLE dates
// around 0 that count the day back but the time forward, the last tick of 9999.
const double kOddStarts[]
    = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e9, -1e9,
        -20000.25, -0.5, -1.75, 0.0, 2958465.0 + 863999999.0 / 864000000.0};

std::optional<double> DateOf(const TMsrResult& record)
{
    if (!OleDateFitsTimestamp(record.BeginDateTime))
        return std::nullopt;
    return record.BeginDateTime;
}

class TStoreModel;
struct TOperation
{
    const char* Name;
    int Weight;
    std::string (TStoreModel::*Run)();
};

class TStoreModel
{
public:
    explicit TStoreModel(std::uint64_t seed)
        : m_seed(seed)
        , m_random(seed)
        , m_path(m_dir.File("project.fdb"))
        , m_resultProbe(m_store.ResultDataSet())
        , m_descriptionProbe(m_store.DescriptionDataSet())
    {
        m_store.OnShowResult = [this](TCachedDataSet&) {
            // What the window does on every scroll: read and decode the current row.
            m_resultProbe.Look("show result");
            TMsrResult shown;
            const int read = m_store.ReadMsrResult(shown);
            if (read != 0 && read != -1)
                m_resultProbe.Fault = "ReadMsrResult gave " + std::to_string(read);
        };
    }

    // Runs the steps; on a mismatch returns the seed, the step and the operations before it.
    std::string Run(int steps);

    static const std::vector<TOperation> kOperations;

private:
    // ---- the model ----------------------------------------------------------------------------
    std::vector<TEntry*> Visible()
    {
        std::vector<TEntry*> v;
        for (TEntry& e : m_rows)
            if (e.Status != TUpdateStatus::Deleted)
                v.push_back(&e);
        return v;
    }
    int Count() { return static_cast<int>(Visible().size()); }
    TEntry* CurrentEntry()
    {
        auto v = Visible();
        return v.empty() ? nullptr : v[m_current];
    }
    bool ResultsPending()
    {
        return std::any_of(m_rows.begin(), m_rows.end(),
            [](const TEntry& e) { return e.Status != TUpdateStatus::Unchanged; });
    }
    void Clamp(int index)
    {
        const int n = Count();
        m_current = n == 0 ? 0 : std::clamp(index, 0, n - 1);
    }
    void StartEdit()
    {
        if (!m_editing)
            m_buffer = CurrentEntry()->Now;
        m_editing = true;
    }
    // An edit posted unchanged leaves the row unchanged.
    void PostResultEdit()
    {
        if (!m_editing)
            return;
        TEntry& e = *CurrentEntry();
        if (m_buffer != e.Now) {
            PushUndo({TUpdateStatus::Modified, 0, e.Id, e, {}, 0});
            if (e.Status == TUpdateStatus::Unchanged) {
                e.AsRead = e.Now;
                e.Status = TUpdateStatus::Modified;
            }
            e.Now = m_buffer;
        }
        m_editing = false;
    }
    void PostDescriptionEdit()
    {
        if (!m_describing)
            return;
        if (m_descriptionBuffer != m_description) {
            if (!m_descriptionModified)
                m_descriptionAsRead = m_description;
            m_descriptionModified = true;
            m_description = m_descriptionBuffer;
        }
        m_describing = false;
    }
    void PostEdits()
    {
        PostResultEdit();
        PostDescriptionEdit();
    }
    void AppendRow(const TMsrResult& record, std::string data)
    {
        PostResultEdit();
        TEntry e;
        e.Id = m_nextId++;
        e.Now = {m_nextKey++, DateOf(record), record.MeasureNumber, std::move(data), std::nullopt, {}};
        e.Status = TUpdateStatus::Inserted;
        PushUndo({TUpdateStatus::Inserted, 0, e.Id, {}, {}, 0});
        m_rows.push_back(std::move(e));
        m_current = Count() - 1;
    }
    void PushUndo(TUndoStep step)
    {
        step.Group = m_grouping ? m_group : m_nextGroup++;
        m_undo.push_back(std::move(step));
    }
    void BeginGroup()
    {
        m_group = m_nextGroup++;
        m_grouping = true;
    }
    std::vector<TEntry>::iterator Find(int id)
    {
        return std::find_if(m_rows.begin(), m_rows.end(), [id](const TEntry& e) { return e.Id == id; });
    }
    // The newest step, or group of steps, goes back; the row it brings back (the oldest of a
    // group's) becomes current, else the current row stays.
    void TakeBack()
    {
        const TEntry* current = CurrentEntry();
        const int currentId = current ? current->Id : -1;
        int shown = -1;
        const int group = m_undo.back().Group;
        while (!m_undo.empty() && m_undo.back().Group == group) {
            TUndoStep step = std::move(m_undo.back());
            m_undo.pop_back();
            if (step.Removed) {
                m_rows.insert(
                    m_rows.begin() + static_cast<std::ptrdiff_t>(std::min(step.Position, m_rows.size())),
                    *step.Removed);
                shown = step.Id;
                continue;
            }
            if (step.Kind == TUpdateStatus::Inserted) {
                m_rows.erase(Find(step.Id));
                if (shown == step.Id)
                    shown = -1;
                continue;
            } else if (step.Kind == TUpdateStatus::Modified) {
                Find(step.Id)->Now = step.Before.Now;
                Find(step.Id)->AsRead = step.Before.AsRead;
            }
            Find(step.Id)->Status = step.Before.Status;
            shown = step.Id;
        }
        FindCurrent(shown >= 0 ? shown : currentId, m_current);
    }
    // What UndoText should say when no edit is open.
    std::string UndoTextExpected()
    {
        if (m_undo.empty())
            return {};
        const TUndoStep& top = m_undo.back();
        const auto count = std::count_if(
            m_undo.begin(), m_undo.end(), [&](const TUndoStep& s) { return s.Group == top.Group; });
        const std::int64_t number = top.Removed ? top.Removed->Now.Number : Find(top.Id)->Now.Number;
        const std::string one = " № " + std::to_string(number);
        const std::string many = " (" + std::to_string(count) + ")";
        switch (top.Kind) {
        case TUpdateStatus::Inserted:
            return count == 1 ? "добавление записи" + one : "добавление записей" + many;
        case TUpdateStatus::Deleted:
            return count == 1 ? "удаление записи" + one : "удаление записей" + many;
        default:
            return "изменение записи" + one;
        }
    }
    bool Holds(const TMsrResult& record)
    {
        const std::optional<double> date = DateOf(record);
        for (TEntry* e : Visible())
            if (e->Now.Number == record.MeasureNumber && e->Now.Date.has_value() == date.has_value()
                && (!date || OleDateToTimestampTicks(*e->Now.Date) == OleDateToTimestampTicks(*date)))
                return true;
        return false;
    }
    void SortRows()
    {
        const TEntry* current = CurrentEntry();
        const int id = current ? current->Id : -1;
        std::stable_sort(m_rows.begin(), m_rows.end(),
            [](const TEntry& a, const TEntry& b) { return SortsBefore(a.Now, b.Now); });
        FindCurrent(id, 0);
    }
    void FindCurrent(int id, int otherwise)
    {
        auto v = Visible();
        for (std::size_t i = 0; i < v.size(); ++i)
            if (v[i]->Id == id) {
                m_current = static_cast<int>(i);
                return;
            }
        Clamp(otherwise);
    }
    void DeleteCurrentRow()
    {
        m_editing = false;
        TEntry* e = CurrentEntry();
        if (!e)
            return;
        const std::size_t position = static_cast<std::size_t>(e - m_rows.data());
        if (e->Status == TUpdateStatus::Inserted) {
            PushUndo({TUpdateStatus::Deleted, 0, e->Id, {}, *e, position});
            m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(position));
        } else {
            PushUndo({TUpdateStatus::Deleted, 0, e->Id, *e, {}, 0});
            e->Status = TUpdateStatus::Deleted;
        }
        Clamp(m_current);
    }
    void CancelUpdates()
    {
        const TEntry* current = CurrentEntry();
        const int id = current ? current->Id : -1;
        std::erase_if(m_rows, [](const TEntry& e) { return e.Status == TUpdateStatus::Inserted; });
        for (TEntry& e : m_rows) {
            if (e.AsRead)
                e.Now = *e.AsRead;
            e.AsRead.reset();
            e.Status = TUpdateStatus::Unchanged;
        }
        FindCurrent(id, m_current);
    }
    void Reload()
    {
        m_rows.clear();
        m_undo.clear();
        for (const TRowModel& r : m_saved) {
            TEntry e;
            e.Id = m_nextId++;
            e.Now = r;
            e.Now.Date = Rounded(r.Date);
            m_rows.push_back(std::move(e));
        }
        m_current = 0;
        m_editing = m_describing = m_descriptionModified = false;
        m_description = m_savedDescription;
    }

    // ---- the operations -----------------------------------------------------------------------
    TMsrResult NewRecord()
    {
        const auto visible = Visible();
        double begin;
        std::int32_t number;
        if (!m_archive.empty() && m_random.Chance(1, 10)) {
            // The instrument still holds one deleted from the project.
            auto kept = m_archive.begin();
            std::advance(kept, m_random.Below(static_cast<int>(m_archive.size())));
            begin = kept->second.Date ? *kept->second.Date + (m_random.Chance(1, 2) ? 1e-11 : 0.0)
                                      : kOddStarts[m_random.Below(4)];
            number = static_cast<std::int32_t>(kept->second.Number);
        } else if (!visible.empty() && m_random.Chance(1, 4)) { // the instrument holds one the project has
            const TRowModel& r = visible[m_random.Below(static_cast<int>(visible.size()))]->Now;
            begin = r.Date ? *Rounded(r.Date) : kOddStarts[m_random.Below(4)];
            number = static_cast<std::int32_t>(r.Number);
        } else {
            const std::int64_t day = OleDateToTimestampTicks(45000.0 + m_random.Below(6));
            const std::int64_t second = m_random.Chance(1, 10) ? 86399 : m_random.Below(6) * 3600 + 17;
            begin = TimestampTicksToOleDate(day + second * 10000 + (m_random.Chance(1, 10) ? 9999 : 0));
            // A start as the instrument's bytes give it: finer than a TIMESTAMP holds.
            if (m_random.Chance(1, 3))
                begin += 1e-11;
            if (m_random.Chance(1, 40))
                begin = kOddStarts[m_random.Below(static_cast<int>(std::size(kOddStarts)))];
            number = 1 + m_random.Below(12);
        }
        // A number taken from a row may be any a decoded blob gave; the samples use a small one.
        TMsrResult r = NumberedRecord(begin, number % 1000, static_cast<std::uint32_t>(m_random.Below(5)));
        r.MeasureNumber = number;
        r.CementMass = static_cast<std::uint32_t>(m_random.Below(600));
        if (m_random.Chance(1, 3)) {
            r.ExpCementGrade = static_cast<std::uint32_t>(m_random.Below(8));
            r.Supplier = static_cast<std::uint32_t>(m_random.Below(7));
            r.ConcretionTime = m_random.Chance(1, 2) ? 7 : 28;
        }
        return r;
    }
    std::string RandomText()
    {
        if (m_random.Chance(1, 12))
            return LongText();
        return kTexts[m_random.Below(static_cast<int>(std::size(kTexts)))];
    }
    static std::string Record(const TMsrResult& r)
    {
        std::ostringstream s;
        s.precision(17);
        s << "(" << r.BeginDateTime << ", #" << r.MeasureNumber << ", " << r.SampleCount() << " samples)";
        return s.str();
    }

    std::string AddOne()
    {
        TMsrResult r = NewRecord();
        const std::string what = "AddMsrResult" + Record(r);
        const std::string data = EncodeMsrResult(r);
        const int expected = Holds(r) ? 0 : -1;
        const int got = m_store.AddMsrResult(r);
        if (expected == -1)
            AppendRow(r, data);
        if (got != expected)
            m_stepFault = "AddMsrResult returned " + std::to_string(got);
        return what;
    }
    std::string StoreMany()
    {
        TArrayOfMsrResult list;
        const int n = 1 + m_random.Below(6);
        for (int i = 0; i < n; ++i)
            list.push_back(!list.empty() && m_random.Chance(1, 5) ? list[m_random.Below(i)] : NewRecord());
        std::string what = "StoreMsrResults";
        std::vector<std::string> data;
        for (const TMsrResult& r : list) {
            what += Record(r);
            data.push_back(EncodeMsrResult(r));
        }
        PostEdits();
        int expected = 0;
        BeginGroup();
        for (std::size_t i = 0; i < list.size(); ++i)
            if (!Holds(list[i])) {
                AppendRow(list[i], data[i]);
                ++expected;
            }
        m_grouping = false;
        SortRows();
        m_current = std::max(0, Count() - 1);
        m_eofExpected = true;
        const int got = m_store.StoreMsrResults(list);
        if (got != expected)
            m_stepFault = "StoreMsrResults returned " + std::to_string(got) + ", expected "
                + std::to_string(expected);
        return what;
    }
    std::string Write()
    {
        PostResultEdit();
        // Often the record of the row itself, as the parameters window writes it back,
        // changed or not.
        TMsrResult r;
        const bool own = Count() > 0 && m_random.Chance(1, 3) && m_store.ReadMsrResult(r) == 0;
        if (own && m_random.Chance(1, 2)) {
            switch (m_random.Below(5)) {
            case 0:
                r.ExpCementGrade = (r.ExpCementGrade + 1) % 8;
                break;
            case 1:
                r.Supplier = (r.Supplier + 1) % 7;
                break;
            case 2:
                r.ConcretionTime = r.ConcretionTime == 28 ? 7 : 28;
                break;
            default:
                r.CementMass = (r.CementMass + 1) % 600;
            }
        }
        if (!own)
            r = NewRecord();
        const std::string what
            = std::string(own ? "WriteMsrResult of the row's own" : "WriteMsrResult") + Record(r);
        int expected = -1;
        if (Count() > 0) {
            StartEdit();
            if (const auto date = DateOf(r))
                m_buffer.Date = date;
            m_buffer.Number = r.MeasureNumber;
            m_buffer.Data = EncodeMsrResult(r);
            PostResultEdit();
            expected = 0;
        }
        const int got = m_store.WriteMsrResult(r);
        if (got != expected || (got == 0 && !r.Data.empty()))
            m_stepFault = "WriteMsrResult returned " + std::to_string(got) + " or kept the samples";
        return what;
    }
    std::string Comment()
    {
        const std::string text = RandomText();
        if (Count() == 0) {
            try {
                m_store.SetMeasureComment(text);
                m_stepFault = "a comment on an empty list was taken";
            } catch (const std::logic_error&) { }
            return "SetMeasureComment on an empty list";
        }
        StartEdit();
        m_buffer.Comment = text.empty() ? TText{} : TText{text};
        m_store.SetMeasureComment(text);
        return "SetMeasureComment(\"" + Brief(text) + "\")";
    }
    std::optional<double> RandomDay()
    {
        if (m_random.Chance(1, 4))
            return std::nullopt;
        return 45000.0 + m_random.Below(60) - (m_random.Chance(1, 20) ? 50000.0 : 0.0);
    }
    // What the sample window writes: a few fields changed, now and then none, or all cleared.
    std::string Sample()
    {
        TSampleInfo info
            = m_editing ? m_buffer.Sample : (Count() > 0 ? CurrentEntry()->Now.Sample : TSampleInfo{});
        if (m_random.Chance(1, 6))
            info = {};
        for (int changes = m_random.Below(4); changes > 0; --changes) {
            switch (m_random.Below(7)) {
            case 0:
                info.Code = RandomText();
                break;
            case 1:
                info.CementType = RandomText();
                break;
            case 2:
                info.Manufacturer = RandomText();
                break;
            case 3:
                info.Batch = RandomText();
                break;
            case 4:
                info.SamplingDate = RandomDay();
                break;
            case 5:
                info.StrengthDate = RandomDay();
                break;
            default:
                info.Strength = m_random.Chance(1, 5) ? std::nullopt
                    : m_random.Chance(1, 10) ? std::optional<double>(std::numeric_limits<double>::quiet_NaN())
                                             : std::optional<double>((200 + m_random.Below(400)) / 10.0);
            }
        }
        const std::string what = "SetSampleInfo(\"" + Brief(info.Code) + "\", strength "
            + (info.Strength ? std::to_string(*info.Strength) : "none") + ")";
        if (Count() == 0) {
            try {
                m_store.SetSampleInfo(info);
                m_stepFault = "sample data on an empty list was taken";
            } catch (const std::logic_error&) { }
            return what + " on an empty list";
        }
        StartEdit();
        m_buffer.Sample = Normalized(info);
        m_store.SetSampleInfo(info);
        return what;
    }
    std::string Undo()
    {
        const std::string text = m_store.UndoText();
        const bool expected = m_editing || !m_undo.empty();
        if (m_editing)
            m_editing = false;
        else if (!m_undo.empty())
            TakeBack();
        if (m_store.Undo() != expected)
            m_stepFault = "Undo returned " + std::to_string(!expected);
        return "Undo (" + text + ")";
    }
    // A deleted record chosen from those kept, or one in the list, or one never made.
    std::string Restore()
    {
        std::int64_t key = m_nextKey + 1000;
        if (!m_archive.empty() && !m_random.Chance(1, 6)) {
            auto kept = m_archive.begin();
            std::advance(kept, m_random.Below(static_cast<int>(m_archive.size())));
            key = kept->first;
        } else if (Count() > 0 && m_random.Chance(1, 2)) {
            key = Visible()[m_random.Below(Count())]->Now.Key;
        }
        const auto visible = Visible();
        const bool listed
            = std::any_of(visible.begin(), visible.end(), [&](const TEntry* e) { return e->Now.Key == key; });
        bool expected = false;
        if (!listed && m_archive.count(key)) {
            // The same measurement read again from the instrument meanwhile is not brought in twice.
            const TRowModel& kept = m_archive[key];
            TMsrResult probe;
            probe.BeginDateTime = kept.Date.value_or(std::numeric_limits<double>::quiet_NaN());
            probe.MeasureNumber = static_cast<std::int32_t>(kept.Number);
            expected = !Holds(probe);
        }
        if (expected) {
            // Open edits are posted first, changes of their own (the list is sorted after).
            if (m_editing)
                PostResultEdit();
            if (m_describing)
                PostDescriptionEdit();
            ++m_nextKey; // the new row takes a key from the generator before it gets its own
            TEntry e;
            e.Id = m_nextId++;
            e.Now = m_archive[key];
            e.Status = TUpdateStatus::Inserted;
            e.Restored = true;
            PushUndo({TUpdateStatus::Inserted, 0, e.Id, {}, {}, 0});
            m_rows.push_back(e);
            m_current = Count() - 1;
            SortRows();
        }
        if (m_store.RestoreDeletedRecord(key) != expected)
            m_stepFault = std::string("RestoreDeletedRecord returned ") + (expected ? "false" : "true");
        m_checkHistory = true;
        return "RestoreDeletedRecord(" + std::to_string(key) + ")";
    }
    // On one workstation nothing comes in; what can be taken back ends.
    std::string Refresh()
    {
        PostEdits();
        m_undo.clear();
        SortRows();
        const int different = m_store.RefreshProject([this](const TRowConflict&) {
            m_stepFault = "a conflict with nobody";
            return true;
        });
        if (different != 0)
            m_stepFault = "RefreshProject found " + std::to_string(different) + " rows different";
        m_checkHistory = true;
        return "RefreshProject";
    }
    std::string Describe()
    {
        const std::string text = RandomText();
        if (!m_describing)
            m_descriptionBuffer = m_description;
        m_describing = true;
        m_descriptionBuffer = text.empty() ? TText{} : TText{text};
        m_store.SetProjectDescription(text);
        return "SetProjectDescription(\"" + Brief(text) + "\")";
    }
    std::string WriteBlob()
    {
        TValue value;
        std::optional<std::string> bytes;
        if (!m_random.Chance(1, 10)) {
            // Now and then one larger than the blob cache holds.
            const int size = m_random.Chance(1, 200) ? (3 << 20) + m_random.Below(6 << 20)
                : m_random.Chance(1, 30)             ? 20000 + m_random.Below(50000)
                                                     : 1 + m_random.Below(300);
            std::string b(static_cast<std::size_t>(size), '\0');
            for (std::size_t i = 0; i < b.size(); i += 8) {
                const std::uint64_t word = m_random.Next();
                std::memcpy(b.data() + i, &word, std::min<std::size_t>(8, b.size() - i));
            }
            bytes = b;
            value = std::move(b);
        }
        const bool post = !m_random.Chance(1, 3);
        const std::string what = std::string("MEASURE_DATA = ")
            + (bytes ? std::to_string(bytes->size()) + " bytes" : "NULL")
            + (post ? ", Post" : ", not posted");
        TCachedDataSet& ds = m_store.ResultDataSet();
        if (Count() == 0) {
            try {
                ds.Edit();
                m_stepFault = "editing an empty list was allowed";
            } catch (const std::logic_error&) { }
            return what + " on an empty list";
        }
        StartEdit();
        m_buffer.Data = bytes;
        ds.Edit();
        ds.SetField("MEASURE_DATA", value);
        if (post) {
            PostResultEdit();
            ds.Post();
        }
        return what;
    }
    std::string Post()
    {
        PostEdits();
        m_store.PostEdits();
        return "PostEdits";
    }
    std::string CancelEdit()
    {
        const bool description = m_random.Chance(1, 3);
        if (description) {
            m_describing = false;
            m_store.DescriptionDataSet().Cancel();
        } else {
            m_editing = false;
            m_store.ResultDataSet().Cancel();
        }
        return description ? "DescriptionDataSet.Cancel" : "ResultDataSet.Cancel";
    }
    std::string AppendCancel()
    {
        PostResultEdit();
        ++m_nextKey;
        m_store.ResultDataSet().Append();
        if (!m_store.HasChanges())
            m_stepFault = "a new row being built is not a change";
        m_store.ResultDataSet().Cancel();
        return "Append, Cancel";
    }
    std::string Delete()
    {
        DeleteCurrentRow();
        m_store.ResultDataSet().Delete();
        return "Delete";
    }
    std::string DeleteAll()
    {
        // An edit still open is a change of its own, before the deletions.
        PostResultEdit();
        m_current = 0;
        BeginGroup();
        while (Count() > 0)
            DeleteCurrentRow();
        m_grouping = false;
        m_store.DeleteAllRecords();
        return "DeleteAllRecords";
    }
    std::string Sort()
    {
        PostEdits();
        SortRows();
        m_store.SortResults();
        return "SortResults";
    }
    std::string Navigate()
    {
        TCachedDataSet& ds = m_store.ResultDataSet();
        PostResultEdit();
        const int n = Count();
        switch (m_random.Below(6)) {
        case 0:
            m_current = 0;
            m_bofExpected = true;
            ds.First();
            return "First";
        case 1:
            Clamp(n - 1);
            m_eofExpected = true;
            ds.Last();
            return "Last";
        case 2:
            if (m_current + 1 < n) {
                ++m_current;
                m_bofExpected = m_eofExpected = false;
            } else {
                m_eofExpected = true;
            }
            ds.Next();
            return "Next";
        case 3:
            if (m_current > 0) {
                --m_current;
                m_bofExpected = m_eofExpected = false;
            } else {
                m_bofExpected = true;
            }
            ds.Prior();
            return "Prior";
        case 4: {
            const int by = m_random.Below(2 * n + 5) - n - 2;
            if (n > 0) {
                Clamp(m_current + by);
                if (by < 0 && m_current == 0)
                    m_bofExpected = true;
                if (by > 0 && m_current == n - 1)
                    m_eofExpected = true;
            }
            ds.MoveBy(by);
            return "MoveBy(" + std::to_string(by) + ")";
        }
        default: {
            const int recNo = m_random.Below(n + 3) - 1;
            if (n > 0)
                Clamp(recNo - 1);
            ds.SetRecNo(recNo);
            return "SetRecNo(" + std::to_string(recNo) + ")";
        }
        }
    }
    std::string CancelChanges()
    {
        m_editing = m_describing = false;
        // Nothing cancelled can come back, a new row deleted meanwhile neither.
        m_undo.clear();
        if (ResultsPending())
            CancelUpdates();
        if (m_descriptionModified) {
            m_description = m_descriptionAsRead;
            m_descriptionModified = false;
        }
        m_store.CancelChanges();
        return "CancelChanges";
    }
    // A save writes what is posted; a row edit in progress stays unposted when the list
    // itself has nothing to write.
    // Whether the save has anything to write.
    bool PostBeforeSave()
    {
        if (ResultsPending() && m_editing)
            PostResultEdit();
        if (m_descriptionModified && m_describing)
            PostDescriptionEdit();
        return ResultsPending() || m_descriptionModified;
    }
    // A save drops a new row only for a measurement another workstation stored (the server
    // tests); on one workstation every row is written. Rows written are read back, which
    // rounds their start.
    void Saved()
    {
        // A save ends what can be taken back, one with nothing to write too (the edit it
        // posts first included).
        m_checkHistory = true;
        const bool writes = PostBeforeSave();
        m_undo.clear();
        if (!writes)
            return;
        GainExtensions();
        if (m_extensions)
            for (const TEntry& e : m_rows)
                Record(e);
        const TEntry* current = CurrentEntry();
        const int id = current ? current->Id : -1;
        std::erase_if(m_rows, [&](const TEntry& e) { return e.Status == TUpdateStatus::Deleted; });
        m_saved.clear();
        for (TEntry& e : m_rows) {
            if (e.Status != TUpdateStatus::Unchanged)
                e.Now.Date = Rounded(e.Now.Date);
            e.AsRead.reset();
            e.Status = TUpdateStatus::Unchanged;
            m_saved.push_back(e.Now);
        }
        m_savedDescription = m_description;
        m_descriptionModified = false;
        FindCurrent(id, m_current);
    }
    // The tables come with the first save (even one that then fails) of a change the history
    // records or of a new row with sample data.
    void GainExtensions()
    {
        for (const TEntry& e : m_rows)
            if (e.Status == TUpdateStatus::Modified || e.Status == TUpdateStatus::Deleted
                || (e.Status == TUpdateStatus::Inserted && !e.Now.Sample.Empty()))
                m_extensions = true;
    }
    // What a save writes of a row to the history and to the kept deleted records.
    void Record(const TEntry& e)
    {
        auto add = [&](const char* field) { ++m_history[{e.Now.Key, field}]; };
        if (e.Status == TUpdateStatus::Deleted) {
            TRowModel stored = e.AsRead.value_or(e.Now);
            stored.Date = Rounded(stored.Date);
            m_archive[e.Now.Key] = stored;
            add(HistoryField::Deleted);
        } else if (e.Status == TUpdateStatus::Inserted && e.Restored) {
            m_archive.erase(e.Now.Key);
            add(HistoryField::Restored);
        } else if (e.Status == TUpdateStatus::Inserted) {
            for (const char* field : SampleChanges({}, e.Now.Sample))
                add(field);
        } else if (e.Status == TUpdateStatus::Modified) {
            const std::string before = e.AsRead->Data.value_or(""), after = e.Now.Data.value_or("");
            TMsrResult a, b;
            if (before != after && DecodeMsrResult(before, a) == 0 && DecodeMsrResult(after, b) == 0) {
                if (a.CementMass != b.CementMass)
                    add(HistoryField::Mass);
                if (a.ExpCementGrade != b.ExpCementGrade)
                    add(HistoryField::Grade);
                if (a.Supplier != b.Supplier)
                    add(HistoryField::Supplier);
                if (a.ConcretionTime != b.ConcretionTime)
                    add(HistoryField::Duration);
            }
            if (e.AsRead->Comment.value_or("") != e.Now.Comment.value_or(""))
                add(HistoryField::Comment);
            for (const char* field : SampleChanges(e.AsRead->Sample, e.Now.Sample))
                add(field);
        }
    }
    std::string Save()
    {
        if (m_random.Chance(1, 3)) {
            Saved();
            m_store.ApplyChanges();
            return "ApplyChanges";
        }
        PostEdits();
        Saved();
        m_store.PostEdits();
        m_store.ApplyChanges();
        return "PostEdits, ApplyChanges";
    }
    // A new row whose key a stored row has: the save fails as a whole and every change
    // stays pending; the operator then drops that row.
    std::string FailingSave()
    {
        const auto visible = Visible();
        const auto stored = std::find_if(visible.begin(), visible.end(), [](const TEntry* e) {
            return e->Status == TUpdateStatus::Unchanged || e->Status == TUpdateStatus::Modified;
        });
        if (stored == visible.end())
            return Save();
        const std::int64_t key = (*stored)->Now.Key;
        TCachedDataSet& ds = m_store.ResultDataSet();
        ds.Append();
        ds.SetField("MEASURE_RESULT_TABLE_PK", key);
        ds.SetField("MEASURE_NUMBER", std::int64_t{0});
        ds.Post();
        AppendRow(NumberedRecord(45000.0, 0, 0), {});
        m_rows.back().Now = {key, std::nullopt, 0, std::nullopt, std::nullopt, {}};
        PostBeforeSave();
        GainExtensions();
        m_checkHistory = true;
        try {
            m_store.ApplyChanges();
            m_stepFault = "a save with a key twice went through";
        } catch (const TDatabaseError&) { }
        if (!m_store.ControlsEnabled())
            m_stepFault = "a failed save left the controls disabled";
        // Taken back, so no undo brings a row of that key again.
        TakeBack();
        if (!m_store.Undo())
            m_stepFault = "the new row of the failed save cannot be taken back";
        return "Append with key " + std::to_string(key) + ", ApplyChanges fails, Undo";
    }
    // What the report does: walks every row inside a bulk bracket and comes back.
    std::string ReportWalk()
    {
        PostResultEdit();
        m_store.BeginUpdate();
        m_store.SaveRecordPosition();
        TCachedDataSet& ds = m_store.ResultDataSet();
        int rows = 0;
        for (ds.First(); !ds.Eof(); ds.Next()) {
            TMsrResult record;
            m_store.ReadMsrResult(record);
            if (++rows > Count()) {
                m_stepFault = "the walk does not end";
                break;
            }
        }
        if (rows != Count())
            m_stepFault = "the walk saw " + std::to_string(rows) + " rows";
        m_store.RestoreRecordPosition();
        m_store.EndUpdate();
        return "report walk";
    }
    std::string Reopen()
    {
        Reload();
        m_store.CloseProjectDatabase();
        if (!m_store.OpenProjectDatabase(m_path)) {
            m_stepFault = "the project does not open again";
            return "reopen";
        }
        m_reopened = true;
        m_checkHistory = true;
        return "CloseProjectDatabase, OpenProjectDatabase";
    }

    // ---- the comparison -----------------------------------------------------------------------
    TRowModel RealRow(int row, std::string& fault)
    {
        const TCachedDataSet& ds = m_store.ResultDataSet();
        auto field = [&](const char* name) -> const TValue& { return ds.RowField(row, ds.FieldIndex(name)); };
        TRowModel r;
        const auto* key = std::get_if<std::int64_t>(&field("MEASURE_RESULT_TABLE_PK"));
        const auto* date = std::get_if<TDateTime>(&field("MEASURE_DATE"));
        const auto* time = std::get_if<TDateTime>(&field("MEASURE_TIME"));
        const auto* number = std::get_if<std::int64_t>(&field("MEASURE_NUMBER"));
        if (!key || !number || (!date && !IsNull(field("MEASURE_DATE")))) {
            fault = "row " + std::to_string(row + 1)
                + " has a NULL or mistyped key or number, or a mistyped date";
            return r;
        }
        if (!(date && time ? date->Value == time->Value : !date && !time))
            fault = "row " + std::to_string(row + 1) + ": MEASURE_TIME differs from MEASURE_DATE";
        r.Key = *key;
        if (date)
            r.Date = date->Value;
        r.Number = *number;
        if (const auto* data = std::get_if<std::string>(&field("MEASURE_DATA")))
            r.Data = *data;
        if (const auto* comment = std::get_if<std::string>(&field("MEASURE_COMMENT")))
            r.Comment = Cp1251ToUtf8(*comment);
        r.Sample = m_store.SampleInfoAt(row);
        return r;
    }

    // After a reopen the file decides the order of rows equal in date, time and number.
    std::string AdoptFileOrder()
    {
        const TCachedDataSet& ds = m_store.ResultDataSet();
        const std::size_t keyField = ds.FieldIndex("MEASURE_RESULT_TABLE_PK");
        if (ds.RecordCount() != static_cast<int>(m_rows.size()))
            return "the file holds " + std::to_string(ds.RecordCount()) + " rows, the model saved "
                + std::to_string(m_rows.size());
        std::vector<TEntry> ordered;
        for (int i = 0; i < ds.RecordCount(); ++i) {
            const auto* key = std::get_if<std::int64_t>(&ds.RowField(i, keyField));
            auto it = std::find_if(
                m_rows.begin(), m_rows.end(), [&](const TEntry& e) { return key && e.Now.Key == *key; });
            if (it == m_rows.end())
                return "row " + std::to_string(i + 1) + " of the file is not one the model saved";
            ordered.push_back(*it);
        }
        for (std::size_t i = 1; i < ordered.size(); ++i) {
            const TRowModel& a = ordered[i - 1].Now;
            const TRowModel& b = ordered[i].Now;
            if (Chronological(b.Date) < Chronological(a.Date) || (a.Date == b.Date && a.Number < b.Number))
                return "rows " + std::to_string(i) + " and " + std::to_string(i + 1)
                    + " are not in the order of the select: " + Show(a) + " before " + Show(b);
        }
        m_rows = std::move(ordered);
        return {};
    }

    // Both lists side by side, for the report of a mismatch.
    std::string Listing()
    {
        std::string text = "the model (current " + std::to_string(m_current + 1) + "):\n";
        for (const TEntry& e : m_rows)
            text += std::string("  ") + Name(e.Status) + " " + Show(e.Now) + "\n";
        const TCachedDataSet& ds = m_store.ResultDataSet();
        if (!ds.Active())
            return text + "the store: closed\n";
        text += "the store (current " + std::to_string(ds.RecNo()) + "):\n";
        for (int i = 0; i < ds.RecordCount(); ++i) {
            std::string fault;
            text += std::string("  ") + Name(ds.RowStatus(i)) + " " + Show(RealRow(i, fault)) + "\n";
        }
        return text;
    }

    std::string CheckUndo()
    {
        const std::string text = m_store.UndoText();
        if (m_store.CanUndo() != (m_editing || !m_undo.empty()))
            return "CanUndo is " + std::to_string(m_store.CanUndo()) + " (\"" + text + "\")";
        if (!m_editing) {
            if (text != UndoTextExpected())
                return "UndoText is \"" + text + "\", the model \"" + UndoTextExpected() + "\"";
            return {};
        }
        // An edit still open is what an undo takes back.
        if (text != "изменение записи" && text != "изменение записи № " + std::to_string(m_buffer.Number))
            return "UndoText is \"" + text + "\" while the row is being edited";
        return {};
    }
    // Every save added a history row per change it wrote; deleted records are kept until
    // restored, and offered while not in the list.
    std::string CheckHistory()
    {
        std::map<std::pair<std::int64_t, std::string>, int> real;
        for (const THistoryEntry& h : m_store.ReadHistory(std::nullopt))
            ++real[{h.RecordKey, h.Field}];
        if (real != m_history) {
            std::string text = "the history differs (record, field: file, model):";
            std::map<std::pair<std::int64_t, std::string>, std::pair<int, int>> both;
            for (const auto& [k, c] : real)
                both[k].first = c;
            for (const auto& [k, c] : m_history)
                both[k].second = c;
            for (const auto& [k, c] : both)
                if (c.first != c.second)
                    text += " " + std::to_string(k.first) + " " + k.second + ": " + std::to_string(c.first)
                        + ", " + std::to_string(c.second) + ";";
            return text;
        }
        std::set<std::int64_t> offered, expected;
        for (const auto& r : m_store.DeletedRecords())
            offered.insert(r.RecordKey);
        for (const auto& [key, row] : m_archive)
            expected.insert(key);
        for (const TEntry* e : Visible())
            expected.erase(e->Now.Key);
        if (offered != expected)
            return "DeletedRecords offers " + std::to_string(offered.size()) + " records, the model "
                + std::to_string(expected.size());
        return {};
    }

    std::string Check()
    {
        if (!m_stepFault.empty())
            return m_stepFault;
        for (TCursorProbe* probe : {&m_resultProbe, &m_descriptionProbe})
            if (!probe->Fault.empty())
                return "a listener found the cursor off the rows: " + probe->Fault;
        if (m_reopened)
            if (std::string fault = AdoptFileOrder(); !fault.empty())
                return fault;
        const TCachedDataSet& ds = m_store.ResultDataSet();
        const TCachedDataSet& dd = m_store.DescriptionDataSet();
        if (!m_store.IsProjectOpen() || !ds.Active() || !dd.Active())
            return "the project is not open";
        const auto visible = Visible();
        const int n = static_cast<int>(visible.size());
        if (ds.RecordCount() != n || m_store.GetRecordCount() != n)
            return "the list holds " + std::to_string(ds.RecordCount()) + " rows, the model "
                + std::to_string(n);
        if (ds.RecNo() != (n == 0 ? 0 : m_current + 1))
            return "current row " + std::to_string(ds.RecNo()) + ", the model "
                + std::to_string(n == 0 ? 0 : m_current + 1);
        const TDataSetState state = m_editing ? TDataSetState::Edit : TDataSetState::Browse;
        if (ds.State() != state)
            return "the list is not in the state of the model (editing " + std::to_string(m_editing) + ")";
        if (dd.State() != (m_describing ? TDataSetState::Edit : TDataSetState::Browse))
            return "the description is not in the state of the model (editing " + std::to_string(m_describing)
                + ")";
        for (int i = 0; i < n; ++i) {
            std::string fault;
            const TRowModel real = RealRow(i, fault);
            if (!fault.empty())
                return fault;
            const TRowModel& expected = m_editing && i == m_current ? m_buffer : visible[i]->Now;
            if (real != expected)
                return "row " + std::to_string(i + 1) + " is " + Show(real) + ", the model " + Show(expected);
            if (ds.RowStatus(i) != visible[i]->Status)
                return "row " + std::to_string(i + 1) + " is " + Name(ds.RowStatus(i)) + ", the model "
                    + Name(visible[i]->Status);
        }
        // The change set, deleted rows included, in list order.
        std::vector<std::pair<TUpdateStatus, std::int64_t>> changeSet, modelChanges;
        const std::size_t keyField = ds.FieldIndex("MEASURE_RESULT_TABLE_PK");
        ds.ForEachChange(
            [&](TUpdateStatus status, const std::vector<TValue>& values, const std::vector<TValue>&) {
                const auto* key = std::get_if<std::int64_t>(&values.at(keyField));
                changeSet.emplace_back(status, key ? *key : -1);
            });
        for (const TEntry& e : m_rows)
            if (e.Status != TUpdateStatus::Unchanged)
                modelChanges.emplace_back(e.Status, e.Now.Key);
        if (changeSet != modelChanges) {
            std::string text = "the change set differs:";
            for (const auto& [status, key] : changeSet)
                text += std::string(" ") + Name(status) + " " + std::to_string(key);
            return text;
        }
        const TText shownComment
            = n == 0 ? TText{} : (m_editing ? m_buffer : visible[m_current]->Now).Comment;
        if (m_store.GetMeasureComment() != shownComment.value_or(""))
            return "the comment reads \"" + m_store.GetMeasureComment() + "\"";
        const TSampleInfo shownSample
            = n == 0 ? TSampleInfo{} : (m_editing ? m_buffer : visible[m_current]->Now).Sample;
        if (m_store.GetSampleInfo() != shownSample)
            return "GetSampleInfo gives \"" + Brief(m_store.GetSampleInfo().Code) + "\"..., the model \""
                + Brief(shownSample.Code) + "\"...";
        if (std::string fault = CheckUndo(); !fault.empty())
            return fault;
        if (ProjectExtensions::Exist(m_store.Connection()) != m_extensions)
            return std::string("the extension tables are ") + (m_extensions ? "missing" : "there");
        if (m_checkHistory)
            if (std::string fault = CheckHistory(); !fault.empty())
                return fault;
        const TText shownDescription = m_describing ? m_descriptionBuffer : m_description;
        if (m_store.GetProjectDescription() != shownDescription.value_or(""))
            return "the description reads \"" + m_store.GetProjectDescription() + "\"";
        const bool changes = ResultsPending() || m_descriptionModified || m_editing || m_describing;
        if (m_store.HasChanges() != changes || ds.UpdatesPending() != ResultsPending()
            || dd.UpdatesPending() != m_descriptionModified)
            return "HasChanges, list pending, description pending: " + std::to_string(m_store.HasChanges())
                + std::to_string(ds.UpdatesPending()) + std::to_string(dd.UpdatesPending()) + ", the model "
                + std::to_string(changes) + std::to_string(ResultsPending())
                + std::to_string(m_descriptionModified);
        if (!m_store.ControlsEnabled() || ds.ControlsDisabled() || dd.ControlsDisabled())
            return "the controls stay disabled";
        if (n == 0 && !(ds.Bof() && ds.Eof()))
            return "an empty list is not at both ends";
        if (m_bofExpected && *m_bofExpected != ds.Bof())
            return "Bof is " + std::to_string(ds.Bof());
        if (m_eofExpected && *m_eofExpected != ds.Eof())
            return "Eof is " + std::to_string(ds.Eof());
        return {};
    }

    std::uint64_t m_seed;
    TRandom m_random;
    TTempDir m_dir;
    std::string m_path;
    TMainDataModule m_store;
    TCursorProbe m_resultProbe;
    TCursorProbe m_descriptionProbe;

    std::vector<TEntry> m_rows; // in list order, deleted ones hidden in place
    std::vector<TRowModel> m_saved;
    int m_current = 0; // among the visible rows
    bool m_editing = false;
    TRowModel m_buffer;
    TText m_description, m_descriptionAsRead, m_descriptionBuffer, m_savedDescription;
    bool m_descriptionModified = false;
    bool m_describing = false;
    std::int64_t m_nextKey = 1;
    int m_nextId = 1;

    std::vector<TUndoStep> m_undo;
    bool m_grouping = false;
    int m_group = 0;
    int m_nextGroup = 1;
    bool m_extensions = false;
    std::map<std::pair<std::int64_t, std::string>, int> m_history; // rows per record and field
    std::map<std::int64_t, TRowModel> m_archive;                   // deleted records kept, as stored
    bool m_checkHistory = false;

    std::string m_stepFault;
    std::optional<bool> m_bofExpected, m_eofExpected;
    bool m_reopened = false;
};

const std::vector<TOperation> TStoreModel::kOperations = {
    {"navigate", 30, &TStoreModel::Navigate},
    {"add", 10, &TStoreModel::AddOne},
    {"store", 5, &TStoreModel::StoreMany},
    {"write", 5, &TStoreModel::Write},
    {"comment", 8, &TStoreModel::Comment},
    {"sample", 5, &TStoreModel::Sample},
    {"undo", 6, &TStoreModel::Undo},
    {"restore", 2, &TStoreModel::Restore},
    {"refresh", 1, &TStoreModel::Refresh},
    {"describe", 3, &TStoreModel::Describe},
    {"blob", 4, &TStoreModel::WriteBlob},
    {"post", 4, &TStoreModel::Post},
    {"cancel edit", 4, &TStoreModel::CancelEdit},
    {"append cancel", 2, &TStoreModel::AppendCancel},
    {"delete", 8, &TStoreModel::Delete},
    {"delete all", 1, &TStoreModel::DeleteAll},
    {"sort", 3, &TStoreModel::Sort},
    {"cancel changes", 3, &TStoreModel::CancelChanges},
    {"save", 4, &TStoreModel::Save},
    {"failing save", 1, &TStoreModel::FailingSave},
    {"report", 1, &TStoreModel::ReportWalk},
    {"reopen", 2, &TStoreModel::Reopen},
};

std::string TStoreModel::Run(int steps)
{
    if (!m_store.CreateProjectDatabase(m_path) || !m_store.OpenProjectDatabase(m_path))
        return "seed " + std::to_string(m_seed) + ": no project";
    int total = 0;
    for (const TOperation& op : kOperations)
        total += op.Weight;
    std::deque<std::string> recent;
    for (int step = 1; step <= steps; ++step) {
        int pick = m_random.Below(total);
        const TOperation* op = &kOperations.front();
        for (const TOperation& o : kOperations) {
            if (pick < o.Weight) {
                op = &o;
                break;
            }
            pick -= o.Weight;
        }
        m_stepFault.clear();
        m_bofExpected.reset();
        m_eofExpected.reset();
        m_reopened = false;
        m_checkHistory = false;
        std::string what;
        std::string fault;
        try {
            what = (this->*op->Run)();
            fault = Check();
        } catch (const std::exception& e) {
            fault = std::string("exception: ") + e.what();
        }
        recent.push_back(std::to_string(step) + ": " + (what.empty() ? op->Name : what));
        if (recent.size() > 20)
            recent.pop_front();
        if (!fault.empty()) {
            std::string report = "seed " + std::to_string(m_seed) + ", step " + std::to_string(step) + ": "
                + fault + "\nreplay: CEMENTLAB_SOAK_SEED=" + std::to_string(m_seed)
                + " CEMENTLAB_SOAK_STEPS=" + std::to_string(step) + "\nlast operations:\n";
            for (const std::string& r : recent)
                report += "  " + r + "\n";
            return report + Listing();
        }
    }
    return {};
}

std::string RunSeed(std::uint64_t seed, int steps)
{
    TStoreModel model(seed);
    return model.Run(steps);
}

} // namespace

// The shortest ways the model found to the store's faults in undo and restoring.
TEST(StoreModel, UndoAndRestoreFaultsFound)
{
    TTempDir dir;
    const std::string path = dir.File("project.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.CreateProjectDatabase(path) && m.OpenProjectDatabase(path));
    TCachedDataSet& ds = m.ResultDataSet();
    TMsrResult r1 = NumberedRecord(45001.5, 1), r2 = NumberedRecord(45002.5, 2);
    m.AddMsrResult(r1);
    m.AddMsrResult(r2);
    m.ApplyChanges();

    // Not kept, in a project that has no extension tables yet: false, not an engine error.
    EXPECT_NO_THROW(EXPECT_FALSE(m.RestoreDeletedRecord(m.RecordKeyAt(0) + 100)));

    // A new row added and deleted again, then every change cancelled: nothing comes back.
    TMsrResult r3 = NumberedRecord(45003.5, 3);
    m.AddMsrResult(r3);
    ds.Delete();
    m.CancelChanges();
    EXPECT_FALSE(m.CanUndo()) << m.UndoText();
    // The same with a save that finds nothing to write.
    m.AddMsrResult(r3);
    ds.Delete();
    m.ApplyChanges();
    EXPECT_FALSE(m.CanUndo()) << m.UndoText();

    // An edit still open is what Undo takes back, so that is what UndoText names.
    ds.SetRecNo(2);
    ds.Delete();
    m.SetMeasureComment("открыта");
    EXPECT_EQ(m.UndoText().rfind("изменение записи", 0), 0u) << m.UndoText();
    m.CancelChanges();

    // An edit open when all records are deleted is a change of its own: one undo brings the
    // two rows back with it.
    m.SetMeasureComment("правка");
    m.DeleteAllRecords();
    EXPECT_EQ(m.UndoText(), "удаление записей (2)");
    m.Undo();
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(m.GetMeasureComment(), "правка");
    m.CancelChanges();

    // Deleted and saved, then read from the instrument again (a start finer than a TIMESTAMP
    // holds): restoring it would store the measurement twice.
    ds.First();
    const std::int64_t key = m.RecordKeyAt(0);
    ds.Delete();
    m.ApplyChanges();
    TMsrResult again = NumberedRecord(45001.5 + 1e-11, 1);
    EXPECT_EQ(m.AddMsrResult(again), -1);
    EXPECT_FALSE(m.RestoreDeletedRecord(key));
}

// Seeds that once found a fault stay in the list while they pass.
TEST(StoreModel, FixedSeeds)
{
    for (std::uint64_t seed : {1, 2, 3, 4, 5, 6, 7, 8, 22, 24})
        if (const std::string failure = RunSeed(seed, 600); !failure.empty())
            ADD_FAILURE() << failure;
}

TEST(StoreModel, Soak)
{
    const char* seed = std::getenv("CEMENTLAB_SOAK_SEED");
    if (!seed || !*seed)
        GTEST_SKIP() << "CEMENTLAB_SOAK_SEED not set";
    const char* steps = std::getenv("CEMENTLAB_SOAK_STEPS");
    const int count = steps && *steps ? std::atoi(steps) : 5000;
    const auto start = std::chrono::steady_clock::now();
    if (const std::string failure = RunSeed(std::strtoull(seed, nullptr, 10), count); !failure.empty()) {
        ADD_FAILURE() << failure;
        return;
    }
    std::cout << "seed " << seed << ": " << count << " steps in "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s\n";
}
