#pragma once

// A table held in memory with cached changes.
//
// Rows are read whole on Open. Every change is made to the memory copy only and
// marks its row: modified, inserted or deleted. A deleted row leaves the view at once
// but keeps its place in the list of all rows, so cancelling brings it back there and
// a sort moves it along with the rest. ApplyUpdates writes the change set with the table's
// statements but leaves every mark in place; CommitUpdates, called once the
// transaction holding those writes has committed, turns all rows unchanged. So a save
// that fails half-way can be rolled back and tried again with nothing lost.
//
// States: Inactive (closed), Browse, Edit (the current row is copied into an edit
// buffer) and Insert (a new row, not yet in the list, is in the edit buffer). Post
// moves the buffer into the list, Cancel drops it.
//
// Listeners: after-scroll hooks run when the current row changes; view listeners
// hear that data or the current row changed. DisableControls/EnableControls nest:
// while the counter is above zero neither is called, and the last EnableControls
// tells the views to re-read everything. Whenever a listener or hook runs, the cursor
// is on a row of the view (RecNo 0 only when the view is empty).

#include "store/Firebird.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class TDataSetState
{
    Inactive,
    Browse,
    Edit,
    Insert
};
enum class TUpdateStatus
{
    Unchanged,
    Modified,
    Inserted,
    Deleted
};

struct TDataSetConfig
{
    std::string SelectSql;
    std::string RefreshSql; // parameter ?OLD_<key>
    std::string InsertSql;
    std::string UpdateSql;
    std::string DeleteSql;
    std::string KeyField;
    std::string Generator;
    // Field names in dataset order; a select column not listed here is kept after them.
    std::vector<std::string> Fields;
    // Blob fields read only when a value is asked for (see Field), so opening a table
    // costs its rows, not its bytes.
    std::vector<std::string> LazyFields;
    // A select column naming the stored row's version. With it the update and delete
    // statements name the version read (?OLD_<field>), and one that finds no row means
    // another connection changed or deleted that row since: a conflict.
    std::string VersionField;
};

// A row this connection changed (or deleted) that another changed (or deleted) since it
// was read. Empty values stand for a deleted row.
struct TRowConflict
{
    std::vector<TValue> Mine;
    std::vector<TValue> Theirs;
};

class TDataSetListener
{
public:
    virtual ~TDataSetListener() = default;
    // Anything may have changed: rows, their count, the current row.
    virtual void DataSetChanged() = 0;
    // The values of the current row changed (an edit was posted or cancelled).
    virtual void RecordChanged() = 0;
    // The current row is another one now.
    virtual void CurrentChanged() = 0;
    // Browse/Edit/Insert changed.
    virtual void StateChanged() = 0;
};

class TCachedDataSet
{
public:
    explicit TCachedDataSet(TDataSetConfig config);
    ~TCachedDataSet();
    TCachedDataSet(const TCachedDataSet&) = delete;
    TCachedDataSet& operator=(const TCachedDataSet&) = delete;

    // Reads every row; the first becomes current. Throws TDatabaseError.
    void Open(TConnection& connection);
    // Drops rows and the change set without writing anything.
    void Close();
    bool Active() const { return m_state != TDataSetState::Inactive; }
    TDataSetState State() const { return m_state; }

    int RecordCount() const { return static_cast<int>(m_rows.size()); }
    bool IsEmpty() const { return m_rows.empty(); }
    // 1-based number of the current row; 0 when there is none.
    int RecNo() const { return m_rows.empty() ? 0 : static_cast<int>(m_current) + 1; }
    bool Bof() const { return m_bof; }
    bool Eof() const { return m_eof; }
    void First();
    void Last();
    void Next();
    void Prior();
    void MoveBy(int distance);
    void SetRecNo(int recNo);

    std::size_t FieldCount() const { return m_fields.size(); }
    const std::string& FieldName(std::size_t index) const { return m_fields[index]; }
    // Index of a field by name; throws std::out_of_range for an unknown name.
    std::size_t FieldIndex(const std::string& name) const;
    // Value of the current row (the edit buffer while editing); NULL when there is no row.
    // A lazy field's blob is read here, through a cache bounded in bytes: the reference
    // stays valid until another lazy value is read. Throws TDatabaseError when that read fails.
    const TValue& Field(std::size_t index) const;
    const TValue& Field(const std::string& name) const { return Field(FieldIndex(name)); }
    // Value of any row in view order, without moving; lazy fields as Field.
    const TValue& RowField(int row, std::size_t index) const;
    // Bytes of lazy blobs held in the cache now.
    std::size_t CachedBlobBytes() const { return m_blobCacheBytes; }
    // After CommitUpdates: the rows the save wrote are read back, so they carry their stored
    // versions and their lazy fields are named by the stored blobs instead of held in memory.
    // Throws TDatabaseError (nothing is lost then).
    void RefreshWrittenRows();
    // Re-reads the table keeping this connection's pending changes: rows others added,
    // changed or deleted come in. A pending change of a row another connection changed
    // or deleted since it was read is put to `keepMine`: true keeps it (the next save
    // writes it over the other's), false takes the stored row. Returns how many rows came
    // in different. Throws TDatabaseError with nothing changed.
    int Reload(TConnection& connection, const std::function<bool(const TRowConflict&)>& keepMine);
    // Re-reads every row from another copy of the table (the same keys): rows take the
    // stored values as read, pending changes stay as they are.
    void Rebase(TConnection& connection);
    // Values of a view row as read from the table.
    const std::vector<TValue>& RowAsRead(int row) const { return m_rows.at(row)->AsRead(); }
    // Drops prepared statements, for a connection attached anew; rows and changes stay.
    void ForgetStatements();
    TUpdateStatus RowStatus(int row) const { return m_rows.at(row)->Status; }

    // Starts editing the current row (does nothing when already editing).
    // Throws std::logic_error when the dataset is empty or closed.
    void Edit();
    // Starts a new row at the end with its key taken from the generator at once.
    void Append();
    // Sets a value in the edit buffer; throws std::logic_error in browse state.
    void SetField(std::size_t index, TValue value);
    void SetField(const std::string& name, TValue value) { SetField(FieldIndex(name), std::move(value)); }
    void Post();
    void Cancel();
    // Removes the current row from view into the change set.
    void Delete();

    // Other select and refresh statements giving the same columns (a table joined in later).
    void SetSelect(std::string selectSql, std::string refreshSql);
    // Every row of the change set, deleted ones included, in list order: its status, its
    // values (lazy fields as held: TBlobId until edited) and its values as read.
    using TChangeVisitor
        = std::function<void(TUpdateStatus, const std::vector<TValue>&, const std::vector<TValue>&)>;
    void ForEachChange(const TChangeVisitor& visit) const;
    bool UpdatesPending() const;
    bool HasInserted() const;
    // Writes the change set: deletes, updates, then new rows; marks stay until
    // CommitUpdates. A new row for which `skipInsert` says true is not written, and
    // leaves the list at CommitUpdates. Returns the rows whose update or delete found
    // another connection's change (VersionField); the caller rolls the writes back then.
    // Throws TDatabaseError.
    std::vector<TRowConflict> ApplyUpdates(
        TConnection& connection, const std::function<bool(const std::vector<TValue>&)>& skipInsert = {});
    // The writes are durable: every row becomes unchanged and keeps its values as read.
    void CommitUpdates();
    // Every changed row goes back to its values as read: deleted rows return, inserted go.
    void CancelUpdates();
    // Re-reads the current row with the refresh statement.
    void RefreshCurrent(TConnection& connection);

    // Posted edits, new rows and deletions can be taken back, newest first, until the change
    // set is written or cancelled. Changes made between BeginUndoGroup and EndUndoGroup go
    // back as one.
    struct TUndoInfo
    {
        TUpdateStatus Kind = TUpdateStatus::Unchanged; // Modified, Inserted or Deleted
        int Count = 0;                                 // rows the step takes back
        std::vector<TValue> Values;                    // of one of them
    };
    std::optional<TUndoInfo> NextUndo() const;
    // Takes the newest step back (an open edit is cancelled first); false when there is none.
    bool Undo();
    void BeginUndoGroup() { ++m_undoGroupDepth; }
    // Nothing is left to take back (the changes were written or dropped).
    void ForgetUndo() { m_undo.clear(); }
    void EndUndoGroup();

    // Stable in-memory sort; the current row stays current.
    using TRowLess = std::function<bool(const std::vector<TValue>&, const std::vector<TValue>&)>;
    void Sort(const TRowLess& less);

    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }
    int AddAfterScroll(std::function<void(TCachedDataSet&)> hook);
    void RemoveAfterScroll(int id);
    void AddListener(TDataSetListener* listener);
    void RemoveListener(TDataSetListener* listener);

private:
    struct TRow
    {
        std::vector<TValue> Values;
        // Values as read; kept only once the row is changed, so unchanged rows cost no copy.
        std::optional<std::vector<TValue>> Original;
        TUpdateStatus Status = TUpdateStatus::Unchanged;
        const std::vector<TValue>& AsRead() const { return Original ? *Original : Values; }
    };
    using TRowPtr = std::unique_ptr<TRow>;

    std::uint64_t BindAndRun(TStatement& statement, const TRow& row);
    std::vector<TValue> ReadRow(TStatement& statement) const;
    void Scrolled();
    void NotifyDataSetChanged();
    void NotifyRecordChanged();
    void NotifyStateChanged();
    // Puts the cursor on the row at index, or the last row; no listener hears of it.
    void PlaceCursor(std::size_t index);
    void SetCurrent(std::size_t index);
    void RebuildView();
    // After rows came or went: the view anew, the cursor on `current` (or where it was),
    // then the listeners.
    void ShowRowsAgain(const TRow* current);
    // Index in the view of a row, or `otherwise` (then clamped) when it is not there.
    std::size_t ViewIndex(const TRow* row, std::size_t otherwise) const;
    void CheckBrowseMode();
    void RequireActive() const;
    TStatement& Statement(std::unique_ptr<TStatement>& slot, const std::string& sql);
    void SetLazyColumns(TStatement& statement) const;
    const TValue& Resolve(const TValue& value) const;
    // Whether an edit puts back what the row holds; a lazy blob compares by its bytes.
    bool SameValues(const std::vector<TValue>& edited, const std::vector<TValue>& held) const;
    void ForgetBlobs() const;
    bool ChangedSince(const std::vector<TValue>& asRead, const std::vector<TValue>& stored) const;
    void BindKey(TStatement& statement, const TRow& row);
    std::int64_t NextKey();

    TDataSetConfig m_config;
    std::vector<std::string> m_fields;
    std::vector<int> m_columnOfField; // select column for each field
    std::size_t m_keyField = 0;
    std::vector<TRowPtr> m_all; // every row in list order, deleted ones included
    std::vector<TRow*> m_rows;  // the view: the rows of m_all not deleted, in the same order
    std::size_t m_current = 0;
    bool m_bof = true;
    bool m_eof = true;
    TDataSetState m_state = TDataSetState::Inactive;
    std::vector<TValue> m_editBuffer;
    TConnection* m_connection = nullptr;
    std::unique_ptr<TStatement> m_insert, m_update, m_delete, m_refresh, m_generator;
    int m_disableCount = 0;
    struct TUndoStep
    {
        TUndoStep(TUpdateStatus kind, TRow* row, TUpdateStatus status = TUpdateStatus::Unchanged)
            : Kind(kind)
            , Row(row)
            , Status(status)
        { }
        TUpdateStatus Kind;
        TRow* Row;
        std::vector<TValue> Values; // a posted edit: the row's values before it
        TUpdateStatus Status = TUpdateStatus::Unchanged;
        std::optional<std::vector<TValue>> Original;
        TRowPtr Removed; // a new row deleted: held here, with its place in the list
        std::size_t Position = 0;
        int Group = 0;
    };
    std::vector<TUndoStep> m_undo;
    int m_undoGroupDepth = 0;
    int m_undoGroup = 0;
    int m_nextUndoGroup = 1;
    void PushUndo(TUndoStep step);
    int Reload(
        TConnection& connection, const std::function<bool(const TRowConflict&)>& keepMine, bool rebase);
    int m_nextHookId = 1;
    std::vector<std::pair<int, std::function<void(TCachedDataSet&)>>> m_afterScroll;
    std::vector<TDataSetListener*> m_listeners;
    std::vector<bool> m_lazy;     // per field
    std::vector<TRow*> m_written; // rows the last ApplyUpdates inserted or updated
    std::vector<TRow*> m_skipped; // new rows the last ApplyUpdates left out
    // Most recently read first. Ids are dropped at every save and reopen: the engine may
    // give a deleted row's blob id to a new blob.
    mutable std::list<std::pair<TBlobId, TValue>> m_blobCache;
    mutable std::size_t m_blobCacheBytes = 0;
};
