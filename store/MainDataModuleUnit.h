#pragma once

// The project store: one Firebird file per project, held whole in memory with a
// change set that reaches the file on ApplyChanges.
//
// Expected failures are result values (false, -1); only engine errors raise, as
// TDatabaseError, and each operation leaves the store consistent when one does.
// A save is durable: ApplyChanges commits (with retention) before any row is marked
// unchanged, and rolls its own writes back when the engine refuses one of them.

#include "store/CachedDataSet.h"
#include "store/Firebird.h"
#include "store/MsrResult.h"
#include "store/ProjectExtensions.h"
#include "store/ProjectTarget.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

// A save stopped because another workstation saved changes to the same rows (or the
// project's description) after they were read here; the text names them in Russian.
class TSaveConflictError : public TDatabaseError
{
public:
    explicit TSaveConflictError(const std::vector<std::string>& records);
    const std::vector<std::string>& Records() const { return m_records; }

private:
    std::vector<std::string> m_records;
};

class TMainDataModule
{
public:
    TMainDataModule();  // DataModuleCreate
    ~TMainDataModule(); // ends like the program: saved work is committed, unsaved dropped
    TMainDataModule(const TMainDataModule&) = delete;
    TMainDataModule& operator=(const TMainDataModule&) = delete;

    // Runs one statement in the transaction and commits with retention; true, or raises.
    bool ExecuteSQL(const std::string& sql);
    // Creates and initialises a project file, then disconnects. False when the file
    // cannot be made or its schema cannot be written (no incomplete file is left then).
    bool CreateProjectDatabase(const std::string& path);
    // The same on a server (with the operator's credentials) or for a local target.
    bool CreateProjectDatabase(const TProjectTarget& target);
    enum class TOpenMode
    {
        Whole,         // the project row and the list of records
        ProjectRowOnly // the project row alone: the record list stays closed
    };
    // Connects, checks that the file is a project of this instrument and data version,
    // and reads it. False (and nothing left open) when any of that fails.
    bool OpenProjectDatabase(const std::string& path, TOpenMode mode = TOpenMode::Whole);
    bool OpenProjectDatabase(const TProjectTarget& target, TOpenMode mode = TOpenMode::Whole);
    // Why the last open or create returned false (the engine's text), or empty.
    const std::string& LastError() const { return m_lastError; }
    // Where the open project lives.
    const TProjectTarget& Target() const { return m_target; }
    // Brings in what other workstations saved, keeping this one's pending changes; a
    // change of a row another workstation changed since is put to `keepMine` (see
    // TCachedDataSet::Reload). Returns how many rows came in different. A lost
    // connection is attached anew first. Throws TDatabaseError with nothing changed.
    int RefreshProject(const std::function<bool(const TRowConflict&)>& keepMine);
    // The number of records the file holds, counted by the engine. Throws TDatabaseError.
    std::int64_t StoredRecordCount();
    // Closes both datasets and disconnects with a commit; pending changes are dropped.
    // Safe to call when nothing is open.
    void CloseProjectDatabase();

    bool IsProjectOpen() const;
    bool IsResultEmpty() const;
    int GetRecordCount() const;
    void PostEdits();
    bool HasChanges() const;
    // Writes and commits the change set. On an engine error the save is rolled back,
    // every change stays pending and the error is raised: TSaveConflictError when another
    // workstation changed the same rows since they were read. A measurement another
    // workstation stored meanwhile is not stored twice: its row here leaves the list once
    // the save is durable. A lost
    // connection is attached anew at the next save.
    void ApplyChanges();
    void CancelChanges();
    // The pending changes can be taken back one by one, newest first: a deleted record, a
    // posted edit of a record (parameters, comment, sample), a new record. An edit still
    // open is cancelled first. UndoText names what Undo would take back ("" when nothing).
    // A save or a cancel (even with nothing to write or drop) ends what can be taken back.
    bool CanUndo() const;
    std::string UndoText() const;
    bool Undo();
    // Writes the project with its pending changes to a new project file and goes on there:
    // the way out when the project's own file cannot be written. False, with LastError and
    // nothing changed (the changes stay pending here), when the new file cannot be made.
    bool SaveProjectAs(const std::string& path);
    void DeleteAllRecords();
    void BeginUpdate();
    void EndUpdate(); // never below 0
    bool ControlsEnabled() const { return m_updateCount == 0; }
    int UpdateCount() const { return m_updateCount; }
    void SortResults();
    void SaveRecordPosition();
    void RestoreRecordPosition();
    void ResultDataSetAfterScroll(TCachedDataSet& dataSet);

    // Measurement record of the current row; 0, or -1 when there is no row or no readable blob.
    int ReadMsrResult(TMsrResult& result);
    // The same for a row of the list (from 0), without moving or posting.
    int ReadMsrResultAt(int row, TMsrResult& result) const;
    // Stores the record into the current row and posts it; 0, or -1 on an empty list.
    // Data is released on return.
    int WriteMsrResult(TMsrResult& result);
    // 0 when a row has the record's start (at TIMESTAMP resolution) and number, -1 when none.
    int FindMsrResult(const TMsrResult& result);
    // -1 when appended, 0 when the project already held it.
    int AddMsrResult(TMsrResult& result);
    // Appends every new record of a download inside one bulk bracket, sorts, moves to
    // the last row and returns how many were added; a record is new unless a row has its
    // start and number (as FindMsrResult). The records' Data is released.
    int StoreMsrResults(TArrayOfMsrResult& results);

    // Operator texts of the current row and the project, as UTF-8.
    std::string GetMeasureComment() const;
    // Puts the result list into edit state when needed and sets the comment (not posted).
    void SetMeasureComment(const std::string& utf8);
    std::string GetProjectDescription() const;
    void SetProjectDescription(const std::string& utf8);

    // Sample identification and measured strength of the current row / of a list row
    // (from 0). Setting puts the list into edit state when needed (not posted).
    TSampleInfo GetSampleInfo() const;
    TSampleInfo SampleInfoAt(int row) const;
    void SetSampleInfo(const TSampleInfo& info);
    // MEASURE_RESULT_TABLE_PK of a list row (from 0).
    std::int64_t RecordKeyAt(int row) const;
    // Saved changes, oldest first, of one record or of the whole project (empty when none
    // was ever saved). Throws TDatabaseError.
    std::vector<THistoryEntry> ReadHistory(std::optional<std::int64_t> recordKey);
    // History fields changed after the instrument made the record of a list row.
    std::vector<std::string> ChangedFieldsAt(int row);
    // Puts the instrument's own values back into the current row (pending, like any edit);
    // false when they were never changed. Throws TDatabaseError.
    bool RestoreDeviceValues();
    // Deleted records kept for restoring, and the restoring of one as a pending new row
    // (current); false when it is not kept or is in the list already.
    std::vector<ProjectExtensions::TDeletedRecord> DeletedRecords();
    bool RestoreDeletedRecord(std::int64_t recordKey);
    // The project's connection, for the few readers and writers outside the data module.
    TConnection& Connection() { return m_connection; }

    std::string GetDeviceName() const;
    std::int64_t GetDeviceDataVersion() const;

    TCachedDataSet& ResultDataSet() { return m_resultDataSet; }
    TCachedDataSet& DescriptionDataSet() { return m_descriptionDataSet; }
    const TCachedDataSet& ResultDataSet() const { return m_resultDataSet; }
    const TCachedDataSet& DescriptionDataSet() const { return m_descriptionDataSet; }

    std::function<void(TCachedDataSet&)> OnShowResult;

    // BeginUpdate for the life of the scope; EndUpdate on every way out.
    class TUpdateGuard
    {
    public:
        explicit TUpdateGuard(TMainDataModule& module)
            : m_module(module)
        {
            m_module.BeginUpdate();
        }
        ~TUpdateGuard() { m_module.EndUpdate(); }
        TUpdateGuard(const TUpdateGuard&) = delete;
        TUpdateGuard& operator=(const TUpdateGuard&) = delete;

    private:
        TMainDataModule& m_module;
    };

private:
    // Creates the database, writes the project's schema and row, detaches; throws.
    void WriteNewProject(const std::string& createStatement);
    void Connect(const TProjectTarget& target);
    void Reconnect();
    void LockProjectRow();
    bool DescriptionChangedElsewhere();
    // Whether a new row's measurement is in the file already.
    std::function<bool(const std::vector<TValue>&)> StoredAlready();
    std::string RecordName(const TRowConflict& conflict) const;
    // Throws TDatabaseError when the project's name no longer leads to the file held open.
    void CheckProjectFileInPlace() const;
    void PostRecordColumns(const TMsrResult& result, std::string blob);
    // Whether the pending changes are ones the history records (or sample data to keep).
    bool NeedsExtensions() const;
    // Reads the sample columns from their table from now on.
    void UseExtensions();
    // Inside the saving transaction, before the list's own writes: history rows, the
    // instrument's records of changed and deleted measurements, the sample rows.
    void WriteExtensions();

    TConnection m_connection; // pFIBDatabase with its one transaction pFIBTransaction
    TCachedDataSet m_resultDataSet;
    TCachedDataSet m_descriptionDataSet;
    int m_updateCount = 0;
    int m_savedRecNo = 0;
    struct TFileId
    {
        dev_t Device;
        ino_t Inode;
    };
    TProjectTarget m_target;
    bool m_connectionLost = false;
    bool m_extensions = false;          // the project has the extension tables
    std::set<std::int64_t> m_restoring; // deleted records brought back, pending
    std::string m_lastError;
    std::string m_projectPath; // absolute, of a local file
    std::optional<TFileId> m_projectFile;
};

// The creation statement for a project file at `path` (quotes doubled), with the
// project's own user unless one is given.
std::string ProjectCreateStatement(
    const std::string& path, const std::string& user = {}, const std::string& password = {});
