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

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

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
    enum class TOpenMode
    {
        Whole,         // the project row and the list of records
        ProjectRowOnly // the project row alone: the record list stays closed
    };
    // Connects, checks that the file is a project of this instrument and data version,
    // and reads it. False (and nothing left open) when any of that fails.
    bool OpenProjectDatabase(const std::string& path, TOpenMode mode = TOpenMode::Whole);
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
    // every change stays pending and the error is raised.
    void ApplyChanges();
    void CancelChanges();
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
    void Connect(const std::string& path);
    // Throws TDatabaseError when the project's name no longer leads to the file held open.
    void CheckProjectFileInPlace() const;
    void PostRecordColumns(const TMsrResult& result, std::string blob);

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
    std::string m_projectPath; // absolute
    std::optional<TFileId> m_projectFile;
};

// The creation statement for a project file at `path` (quotes in the path doubled).
std::string ProjectCreateStatement(const std::string& path);
