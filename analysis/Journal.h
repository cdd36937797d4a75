#pragma once

// The journal: one row per measurement of a project with its computed results, for the
// project-wide questions (filters, statistics, control chart, export).
//
// How a journal is made without sharing the store between threads. The store's dataset and
// its blob cache belong to the thread that owns the TMainDataModule; a worker never touches
// them. That thread takes a TJournalSource (TakeJournalSource): the list's rows in list order
// with their keys, date, time, number and sample fields, which cost nothing to copy, and for
// the few rows with pending changes (edited or new, not in the file as shown) their record
// and comment, decoded and computed there. The worker (ComputeJournal) attaches to the
// project on a connection of its own (the store's own open, the project row only, so the
// attach rules stay in one place) and streams the measurement and comment blobs of the
// table, computing each row whose key it needs; rows are joined by key. The engine serves
// two attachments of one process at once. On a server another workstation may have saved a
// measurement since this list was read: the journal then shows the stored one, the list's
// date and number; a Обновить of the list brings both into line.

#include "compute/Activity.h"
#include "store/ProjectExtensions.h"
#include "store/ProjectTarget.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TMainDataModule;

struct TJournalRow
{
    int ListRow = -1;         // row of the result list (from 0) when the source was taken
    std::int64_t Key = 0;     // MEASURE_RESULT_TABLE_PK
    double Date = kUndefined; // OLE dates; undefined when the row has none
    double Time = kUndefined;
    std::int64_t Number = 0;
    TSampleInfo Sample;
    std::string Comment;   // UTF-8
    bool Pending = false;  // computed from the list's unsaved values
    bool Readable = false; // the measurement was read and decoded
    std::uint32_t CementMass = 0;
    std::uint32_t ExpCementGrade = 0;
    std::uint32_t Supplier = 0;
    std::int32_t ConcretionTime = 0;
    TMsrCalcResult Calc;

    // Activity defined and inside the table: the only values the figures use.
    bool ActivityInTable() const { return !IsUndefined(Calc.Activity) && Calc.ActivityBound == 0; }
    // Predicted activity minus the measured strength, MPa; undefined unless both exist and
    // the activity is inside the table.
    double ForecastError() const;
};

using TJournal = std::vector<TJournalRow>;

struct TJournalSource
{
    TProjectTarget Target;
    TJournal Rows; // list order; pending rows complete, the others waiting for the worker
};

// On the store's thread. The rows of an open project's list; pending rows are read and
// computed here. Throws TDatabaseError when a pending row's blob cannot be read.
TJournalSource TakeJournalSource(TMainDataModule& dataModule);

// Fills the rows of `source` that are not pending from the project file, on any thread.
// `progress(done, total)` is called now and then; a set `cancel` ends the work early and
// returns false. Rows not found in the file stay unreadable. Throws TDatabaseError when the
// project cannot be attached or read.
bool ComputeJournal(
    TJournalSource& source, const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel);

// The measurement's fields and results of a decoded record.
void FillMeasurement(TJournalRow& row, const TMsrResult& msr);

// Time order: date, time, number ascending, then list order; a row without a date first.
bool TimeOrderLess(const TJournalRow& a, const TJournalRow& b);

// Selection of rows. Unset fields do not filter. Dates are whole days, inclusive.
struct TJournalFilter
{
    std::optional<double> FromDate; // OLE day number
    std::optional<double> ToDate;
    std::optional<std::uint32_t> Grade;
    std::optional<std::uint32_t> Supplier;
    std::optional<std::int32_t> ConcretionTime;
    std::string Text; // UTF-8, case-insensitive for Latin and Cyrillic, over the comment and sample texts

    bool Matches(const TJournalRow& row) const;
};

// Indexes into `journal` of the rows the filter passes, in journal order.
std::vector<int> FilterJournal(const TJournal& journal, const TJournalFilter& filter);

// Lower case of Latin and Cyrillic letters in UTF-8 text; other bytes unchanged.
std::string FoldCase(const std::string& utf8);

// "YYYY-MM-DD" as an OLE day number; nothing for any other text or an impossible date.
std::optional<double> ParseIsoDate(const std::string& text);
// "dd.mm.yyyy" and "hh:mm:ss" of an OLE date; empty when undefined.
std::string JournalDateText(double oleDate);
std::string JournalTimeText(double oleDate);

// The journal's columns: captions, units, texts and, where a column is a number, its value.
enum class TJournalColumn
{
    Date,
    Time,
    Number,
    SampleCode,
    CementType,
    Manufacturer,
    Batch,
    SamplingDate,
    Mass,
    Grade,
    Supplier,
    ConcretionTime,
    FinalContraction,
    Activity,
    Strength,
    Error,
    Comment,
    Count
};
constexpr int kJournalColumnCount = static_cast<int>(TJournalColumn::Count);

std::string JournalColumnCaption(TJournalColumn column); // UTF-8 Russian
std::string JournalColumnUnit(TJournalColumn column);    // "" when none
// The text a cell shows, through the grids' text functions.
std::string JournalCellText(const TJournalRow& row, TJournalColumn column, std::string_view decimalSeparator);
// The number behind a numeric cell (the activity without its bound sign); nothing for a text
// column or an undefined value.
std::optional<double> JournalCellNumber(const TJournalRow& row, TJournalColumn column);
// Order of two rows by a column: numbers as numbers (undefined first), dates by date and
// time, texts by their folded bytes; ties by time order.
bool JournalColumnLess(const TJournalRow& a, const TJournalRow& b, TJournalColumn column);
// Sorts indexes into `journal` by a column (JournalColumnLess, reversed when descending);
// texts are folded once per row, not per comparison.
void SortJournalRows(const TJournal& journal, std::vector<int>& rows, TJournalColumn column, bool descending);
