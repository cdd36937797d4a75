#include "store/MainDataModuleUnit.h"

#include "store/Cp1251.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kUser = "SYSDBA";
constexpr const char* kPassword = "vaultword";
constexpr const char* kCharset = "ASCII";

const char* const kSchema[] = {
    "CREATE TABLE SYSTEM_TABLE(SYSTEM_TABLE_PK INTEGER NOT NULL,DEVICE_NAME CHAR(32),DEVICE_DATA_VERSION "
    "INTEGER,PROJECT_DESCRIPTION BLOB SUB_TYPE 0 SEGMENT SIZE 256,PRIMARY KEY (SYSTEM_TABLE_PK));",
    "CREATE GENERATOR SYSTEM_TABLE_GEN;",
    "CREATE TRIGGER CREATE_SYSTEM_RECORD FOR SYSTEM_TABLE ACTIVE BEFORE INSERT POSITION 0 AS BEGIN  if "
    "(NEW.SYSTEM_TABLE_PK is null) then   NEW.SYSTEM_TABLE_PK = gen_id(SYSTEM_TABLE_GEN, 1); END;",
    nullptr, // the project row, formed below
    "CREATE TABLE MEASURE_RESULT_TABLE(MEASURE_RESULT_TABLE_PK INTEGER NOT NULL,MEASURE_DATE "
    "TIMESTAMP,MEASURE_TIME TIMESTAMP,MEASURE_NUMBER INTEGER,MEASURE_DATA BLOB SUB_TYPE 0 SEGMENT SIZE "
    "256,MEASURE_COMMENT BLOB SUB_TYPE 0 SEGMENT SIZE 256,PRIMARY KEY (MEASURE_RESULT_TABLE_PK));",
    "CREATE GENERATOR MEASURE_RESULT_TABLE_GEN;",
    "CREATE TRIGGER CREATE_MEASURE_RESULT_RECORD FOR MEASURE_RESULT_TABLE ACTIVE BEFORE INSERT POSITION 0 AS "
    "BEGIN  if (NEW.MEASURE_RESULT_TABLE_PK is null) then   NEW.MEASURE_RESULT_TABLE_PK = "
    "gen_id(MEASURE_RESULT_TABLE_GEN, 1); END;",
};

std::string ProjectRowStatement()
{
    return std::string("INSERT INTO SYSTEM_TABLE (DEVICE_NAME, DEVICE_DATA_VERSION) VALUES ('")
        + std::string(DEVICE_NAME) + "'," + std::to_string(DEVICE_DATA_VERSION) + ");";
}

// The sample columns come with every row: from their table once the project has it, as
// typed NULLs before, so the list's columns are the same either way.
std::string SampleColumns(bool joined)
{
    if (joined)
        return ", S.SAMPLE_CODE, S.CEMENT_TYPE, S.MANUFACTURER, S.BATCH_NUMBER, S.SAMPLING_DATE,\n"
               "  S.MEASURED_STRENGTH, S.STRENGTH_TEST_DATE\n"
               "FROM MEASURE_RESULT_TABLE T LEFT JOIN MEASURE_SAMPLE_TABLE S\n"
               "  ON S.MEASURE_RESULT_TABLE_PK = T.MEASURE_RESULT_TABLE_PK\n";
    std::string columns;
    for (const char* text :
        {SampleColumn::Code, SampleColumn::CementType, SampleColumn::Manufacturer, SampleColumn::Batch})
        columns += std::string(", CAST(NULL AS VARCHAR(400) CHARACTER SET OCTETS) AS ") + text;
    return columns
        + ",\n  CAST(NULL AS TIMESTAMP) AS SAMPLING_DATE, CAST(NULL AS DOUBLE PRECISION) AS "
          "MEASURED_STRENGTH,\n  CAST(NULL AS TIMESTAMP) AS STRENGTH_TEST_DATE\n"
          "FROM MEASURE_RESULT_TABLE T\n";
}

std::string ResultSelect(bool joined)
{
    return "SELECT T.*, T.RDB$RECORD_VERSION AS ROW_VERSION" + SampleColumns(joined)
        + "ORDER BY T.MEASURE_DATE, T.MEASURE_TIME, T.MEASURE_NUMBER DESC";
}

std::string ResultRefresh(bool joined)
{
    return "SELECT T.*, T.RDB$RECORD_VERSION AS ROW_VERSION" + SampleColumns(joined)
        + "WHERE T.MEASURE_RESULT_TABLE_PK = ?OLD_MEASURE_RESULT_TABLE_PK";
}

TDataSetConfig ResultConfig()
{
    TDataSetConfig c;
    // The record version tells a save whether another workstation changed a row since it
    // was read here; it is the engine's, nothing is added to the file for it.
    c.SelectSql = ResultSelect(false);
    c.RefreshSql = ResultRefresh(false);
    c.InsertSql = "INSERT INTO MEASURE_RESULT_TABLE(\n"
                  "  MEASURE_RESULT_TABLE_PK,\n  MEASURE_DATE,\n  MEASURE_TIME,\n  MEASURE_NUMBER,\n"
                  "  MEASURE_DATA,\n  MEASURE_COMMENT\n)\nVALUES(\n"
                  "  ?MEASURE_RESULT_TABLE_PK,\n  ?MEASURE_DATE,\n  ?MEASURE_TIME,\n  ?MEASURE_NUMBER,\n"
                  "  ?MEASURE_DATA,\n  ?MEASURE_COMMENT\n)";
    c.UpdateSql = "UPDATE MEASURE_RESULT_TABLE\nSET \n"
                  "  MEASURE_RESULT_TABLE_PK = ?MEASURE_RESULT_TABLE_PK,\n"
                  "  MEASURE_DATE = ?MEASURE_DATE,\n  MEASURE_TIME = ?MEASURE_TIME,\n"
                  "  MEASURE_NUMBER = ?MEASURE_NUMBER,\n  MEASURE_DATA = ?MEASURE_DATA,\n"
                  "  MEASURE_COMMENT = ?MEASURE_COMMENT\nWHERE\n"
                  "  MEASURE_RESULT_TABLE_PK = ?OLD_MEASURE_RESULT_TABLE_PK\n"
                  "  AND RDB$RECORD_VERSION = ?OLD_ROW_VERSION";
    c.DeleteSql = "DELETE FROM MEASURE_RESULT_TABLE\n"
                  "WHERE MEASURE_RESULT_TABLE_PK = ?OLD_MEASURE_RESULT_TABLE_PK\n"
                  "  AND RDB$RECORD_VERSION = ?OLD_ROW_VERSION";
    c.KeyField = "MEASURE_RESULT_TABLE_PK";
    c.Generator = "MEASURE_RESULT_TABLE_GEN";
    c.Fields = {"MEASURE_DATE", "MEASURE_TIME", "MEASURE_NUMBER", "MEASURE_DATA", "MEASURE_COMMENT",
        "MEASURE_RESULT_TABLE_PK"};
    c.LazyFields = {"MEASURE_DATA", "MEASURE_COMMENT"};
    c.VersionField = "ROW_VERSION";
    return c;
}

TDataSetConfig DescriptionConfig()
{
    TDataSetConfig c;
    c.SelectSql = "SELECT * FROM SYSTEM_TABLE";
    c.RefreshSql = "SELECT * FROM SYSTEM_TABLE\nWHERE SYSTEM_TABLE_PK = ?OLD_SYSTEM_TABLE_PK";
    c.InsertSql = "INSERT INTO SYSTEM_TABLE(\n  SYSTEM_TABLE_PK,\n  DEVICE_NAME,\n  DEVICE_DATA_VERSION,\n"
                  "  PROJECT_DESCRIPTION\n)\nVALUES(\n  ?SYSTEM_TABLE_PK,\n  ?DEVICE_NAME,\n"
                  "  ?DEVICE_DATA_VERSION,\n  ?PROJECT_DESCRIPTION\n)";
    c.UpdateSql = "UPDATE SYSTEM_TABLE\nSET \n  SYSTEM_TABLE_PK = ?SYSTEM_TABLE_PK,\n"
                  "  DEVICE_NAME = ?DEVICE_NAME,\n  DEVICE_DATA_VERSION = ?DEVICE_DATA_VERSION,\n"
                  "  PROJECT_DESCRIPTION = ?PROJECT_DESCRIPTION\nWHERE\n"
                  "  SYSTEM_TABLE_PK = ?OLD_SYSTEM_TABLE_PK";
    c.DeleteSql = "DELETE FROM SYSTEM_TABLE\nWHERE SYSTEM_TABLE_PK = ?OLD_SYSTEM_TABLE_PK";
    c.KeyField = "SYSTEM_TABLE_PK";
    c.Generator = "SYSTEM_TABLE_GEN";
    c.Fields = {"DEVICE_DATA_VERSION", "PROJECT_DESCRIPTION", "SYSTEM_TABLE_PK", "DEVICE_NAME"};
    return c;
}

bool IsEditing(const TCachedDataSet& ds)
{
    return ds.State() == TDataSetState::Edit || ds.State() == TDataSetState::Insert;
}

std::string TextOf(const TValue& v)
{
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

std::string TrimRight(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// Orders NULL first, then by value; the three sort keys are date-times and an integer.
int Compare(const TValue& a, const TValue& b)
{
    if (a.index() != b.index())
        return a.index() < b.index() ? -1 : 1;
    if (const auto* x = std::get_if<TDateTime>(&a)) {
        // Before 1899-12-30 an OLE date counts its days back but its hours forward: compare
        // the instants, as the file's own order does.
        auto instant = [](double d) { return d < 0 ? std::trunc(d) + std::fabs(d - std::trunc(d)) : d; };
        const double p = instant(x->Value);
        const double q = instant(std::get<TDateTime>(b).Value);
        return p < q ? -1 : (q < p ? 1 : 0);
    }
    if (const auto* x = std::get_if<std::int64_t>(&a)) {
        const std::int64_t y = std::get<std::int64_t>(b);
        return *x < y ? -1 : (y < *x ? 1 : 0);
    }
    return 0;
}

// "dd.mm.yyyy hh:mm" of an OLE date.
std::string OleDateTimeText(double oleDate)
{
    if (!OleDateFitsTimestamp(oleDate))
        return "?";
    const std::int64_t ticks = OleDateToTimestampTicks(oleDate);
    const std::int64_t perDay = 864'000'000;
    std::int64_t days = ticks / perDay + 678881; // since 1858-11-17, then since 0000-03-01
    const std::int64_t minutes = ticks % perDay / 600'000;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", static_cast<int>(day),
        static_cast<int>(month), static_cast<int>(year), static_cast<int>(minutes / 60),
        static_cast<int>(minutes % 60));
    return text;
}

} // namespace

std::string ProjectCreateStatement(
    const std::string& path, const std::string& user, const std::string& password)
{
    return "CREATE DATABASE '" + QuoteSqlString(path) + "' " + "USER '"
        + QuoteSqlString(user.empty() ? kUser : user) + "' PASSWORD '"
        + QuoteSqlString(user.empty() ? kPassword : password) + "'\n" + "PAGE_SIZE = 4096\n"
        + "DEFAULT CHARACTER SET " + kCharset;
}

TSaveConflictError::TSaveConflictError(const std::vector<std::string>& records)
    : TDatabaseError([&] {
        std::string text = "Сохранение остановлено: другое рабочее место сохранило изменения тех же данных "
                           "после того, как они были прочитаны здесь:";
        for (const std::string& record : records)
            text += "\n  " + record;
        return text
            + "\nНичего не записано, все изменения остаются в программе. Команда «Обновить» покажет, "
              "что сохранили другие, и спросит, чьё изменение оставить.";
    }())
    , m_records(records)
{ }

TMainDataModule::TMainDataModule()
    : m_resultDataSet(ResultConfig())
    , m_descriptionDataSet(DescriptionConfig())
{
    m_resultDataSet.AddAfterScroll([this](TCachedDataSet& ds) { ResultDataSetAfterScroll(ds); });
}

TMainDataModule::~TMainDataModule()
{
    try {
        CloseProjectDatabase();
    } catch (...) {
        m_connection.Abandon();
    }
}

bool TMainDataModule::ExecuteSQL(const std::string& sql)
{
    m_connection.StartTransaction();
    m_connection.ExecuteImmediate(sql);
    m_connection.CommitRetaining();
    return true;
}

void TMainDataModule::WriteNewProject(const std::string& createStatement)
{
    m_connection.CreateDatabase(createStatement);
    for (const char* statement : kSchema)
        ExecuteSQL(statement ? std::string(statement) : ProjectRowStatement());
    m_connection.Detach();
}

bool TMainDataModule::CreateProjectDatabase(const TProjectTarget& target)
{
    if (!target.IsServer())
        return CreateProjectDatabase(target.Path);
    if (m_connection.IsConnected())
        return false;
    m_lastError.clear();
    try {
        WriteNewProject(ProjectCreateStatement(target.ConnectionString(), target.User, target.Password));
    } catch (const TDatabaseError& error) {
        m_lastError = error.what();
        m_connection.Abandon();
        return false;
    }
    return true;
}

bool TMainDataModule::CreateProjectDatabase(const std::string& path)
{
    if (m_connection.IsConnected())
        return false;
    m_lastError.clear();
    // Made under a passing name and renamed whole once complete: a failed creation (a full
    // disk, say) leaves no file behind, an old file of that name stays until the new one is
    // ready, and the engine never sees a colon in the name.
    const std::string target = AbsoluteFileName(path);
    const std::string folder = ColonFreeFolderFor(target);
    if (folder.empty() || access(target.c_str(), F_OK) == 0)
        return false;
    std::string temporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "/.cement-lab-new-" + std::to_string(getpid()) + "-"
            + std::to_string(attempt) + ".fdb";
        if (access(candidate.c_str(), F_OK) != 0) {
            temporary = std::move(candidate);
            break;
        }
    }
    if (temporary.empty())
        return false;
    try {
        WriteNewProject(ProjectCreateStatement(temporary));
    } catch (const TDatabaseError& error) {
        m_lastError = error.what();
        m_connection.Abandon();
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

void TMainDataModule::Connect(const TProjectTarget& target)
{
    m_target = target;
    if (target.IsServer()) {
        m_projectFile.reset();
        m_connection.Attach(target.ConnectionString(), target.User, target.Password, kCharset);
        return;
    }
    m_projectPath = AbsoluteFileName(target.Path);
    m_connection.AttachLocalFile(m_projectPath, kUser, kPassword, kCharset);
    struct stat st
    { };
    m_projectFile = stat(m_projectPath.c_str(), &st) == 0 ? std::optional<TFileId>({st.st_dev, st.st_ino})
                                                          : std::nullopt;
}

void TMainDataModule::CheckProjectFileInPlace() const
{
    // The engine writes through its open handle: a file deleted, moved or replaced under
    // it would take a save that only seems to succeed.
    struct stat st
    { };
    if (m_projectFile && stat(m_projectPath.c_str(), &st) == 0 && st.st_dev == m_projectFile->Device
        && st.st_ino == m_projectFile->Inode)
        return;
    throw TDatabaseError("Файл проекта удалён, перемещён или заменён другим:\n" + m_projectPath
        + "\nИзменения не сохранены и остаются в программе.");
}

bool TMainDataModule::OpenProjectDatabase(const std::string& path, TOpenMode mode)
{
    return OpenProjectDatabase(LocalProject(path), mode);
}

bool TMainDataModule::OpenProjectDatabase(const TProjectTarget& target, TOpenMode mode)
{
    if (m_connection.IsConnected())
        return false;
    m_lastError.clear();
    m_connectionLost = false;
    try {
        Connect(target);
        m_descriptionDataSet.Open(m_connection);
        if (!m_descriptionDataSet.IsEmpty() && GetDeviceName() == DEVICE_NAME
            && GetDeviceDataVersion() == DEVICE_DATA_VERSION) {
            m_extensions = ProjectExtensions::Exist(m_connection);
            m_resultDataSet.SetSelect(ResultSelect(m_extensions), ResultRefresh(m_extensions));
            if (mode == TOpenMode::Whole)
                m_resultDataSet.Open(m_connection);
            return true;
        }
        m_lastError = "Это не проект данного прибора.";
    } catch (const TDatabaseError& error) {
        m_lastError = error.what();
    }
    m_resultDataSet.Close();
    m_descriptionDataSet.Close();
    m_connection.Abandon();
    return false;
}

void TMainDataModule::CloseProjectDatabase()
{
    m_restoring.clear();
    m_extensions = false;
    m_resultDataSet.Close();
    m_descriptionDataSet.Close();
    try {
        m_connection.Detach();
    } catch (...) {
        m_connection.Abandon();
        throw;
    }
}

bool TMainDataModule::IsProjectOpen() const
{
    return m_resultDataSet.Active() || m_descriptionDataSet.Active();
}

bool TMainDataModule::IsResultEmpty() const
{
    return m_resultDataSet.IsEmpty();
}

int TMainDataModule::GetRecordCount() const
{
    return m_resultDataSet.Active() ? m_resultDataSet.RecordCount() : 0;
}

void TMainDataModule::PostEdits()
{
    if (IsEditing(m_resultDataSet))
        m_resultDataSet.Post();
    if (IsEditing(m_descriptionDataSet))
        m_descriptionDataSet.Post();
}

bool TMainDataModule::HasChanges() const
{
    return m_resultDataSet.UpdatesPending() || m_descriptionDataSet.UpdatesPending()
        || IsEditing(m_resultDataSet) || IsEditing(m_descriptionDataSet);
}

void TMainDataModule::ApplyChanges()
{
    TUpdateGuard guard(*this);
    const bool results = m_resultDataSet.UpdatesPending() || m_resultDataSet.State() == TDataSetState::Insert;
    const bool description = m_descriptionDataSet.UpdatesPending();
    if (results && IsEditing(m_resultDataSet))
        m_resultDataSet.Post();
    if (description && IsEditing(m_descriptionDataSet))
        m_descriptionDataSet.Post();
    if (!m_resultDataSet.UpdatesPending() && !m_descriptionDataSet.UpdatesPending()) {
        m_resultDataSet.ForgetUndo();
        return;
    }
    if (!m_target.IsServer())
        CheckProjectFileInPlace();
    Reconnect();
    std::vector<std::string> conflicts;
    try {
        // A project gains the extension tables with its first change the history records;
        // tables another workstation made meanwhile are read from now on.
        if (!m_extensions && (NeedsExtensions() || ProjectExtensions::Exist(m_connection))) {
            ProjectExtensions::Create(m_connection);
            UseExtensions();
        }
        const bool describing = m_descriptionDataSet.UpdatesPending();
        const bool inserting = m_resultDataSet.HasInserted();
        // Saves that add records or retitle the project take turns through the project
        // row, so two workstations never both store one measurement.
        if (inserting || describing)
            LockProjectRow();
        if (describing && DescriptionChangedElsewhere())
            conflicts.push_back("описание проекта");
        if (m_extensions)
            WriteExtensions();
        for (const TRowConflict& conflict :
            m_resultDataSet.ApplyUpdates(m_connection, inserting ? StoredAlready() : nullptr))
            conflicts.push_back(RecordName(conflict));
        m_descriptionDataSet.ApplyUpdates(m_connection);
        if (!conflicts.empty())
            throw TSaveConflictError(conflicts);
        m_connection.CommitRetaining();
    } catch (const TDatabaseError& error) {
        try {
            m_connection.RollbackRetaining();
        } catch (...) { }
        if (error.ConnectionLost())
            m_connectionLost = true;
        throw;
    } catch (...) {
        try {
            m_connection.RollbackRetaining();
        } catch (...) { }
        throw;
    }
    m_restoring.clear();
    m_resultDataSet.CommitUpdates();
    m_descriptionDataSet.CommitUpdates();
    try {
        m_resultDataSet.RefreshWrittenRows();
        m_descriptionDataSet.RefreshCurrent(m_connection);
    } catch (const TDatabaseError& error) {
        // Saved all the same; the written rows stay held in memory until they are read anew.
        if (error.ConnectionLost())
            m_connectionLost = true;
    }
}

void TMainDataModule::Reconnect()
{
    // A server restarted while this workstation was idle is found before the work starts.
    if (!m_connectionLost && m_target.IsServer() && !m_connection.Ping())
        m_connectionLost = true;
    if (!m_connectionLost)
        return;
    m_connection.Abandon();
    m_resultDataSet.ForgetStatements();
    m_descriptionDataSet.ForgetStatements();
    try {
        Connect(m_target);
    } catch (const TDatabaseError&) {
        m_connection.Abandon();
        throw;
    }
    m_connectionLost = false;
}

void TMainDataModule::LockProjectRow()
{
    auto lock = m_connection.Prepare("SELECT SYSTEM_TABLE_PK FROM SYSTEM_TABLE WITH LOCK");
    // Another workstation holds the row only while its save runs.
    for (int attempt = 0;; ++attempt) {
        try {
            lock->Open();
            while (lock->Fetch()) { }
            lock->CloseCursor();
            return;
        } catch (const TDatabaseError& error) {
            lock->CloseCursor();
            if (!error.LockConflict() || attempt >= 100)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool TMainDataModule::DescriptionChangedElsewhere()
{
    const TCachedDataSet& ds = m_descriptionDataSet;
    auto stored
        = m_connection.Prepare("SELECT PROJECT_DESCRIPTION FROM SYSTEM_TABLE WHERE SYSTEM_TABLE_PK = ?");
    for (int row = 0; row < ds.RecordCount(); ++row) {
        if (ds.RowStatus(row) != TUpdateStatus::Modified)
            continue;
        const std::vector<TValue>& asRead = ds.RowAsRead(row);
        stored->SetParam(0, asRead.at(ds.FieldIndex("SYSTEM_TABLE_PK")));
        stored->Open();
        const bool found = stored->Fetch();
        const TValue now = found ? stored->Column(0) : TValue{};
        stored->CloseCursor();
        if (!found || now != asRead.at(ds.FieldIndex("PROJECT_DESCRIPTION")))
            return true;
    }
    return false;
}

std::function<bool(const std::vector<TValue>&)> TMainDataModule::StoredAlready()
{
    // A local file is this program's alone: nobody else can have stored anything.
    if (!m_target.IsServer())
        return nullptr;
    const TCachedDataSet& ds = m_resultDataSet;
    const std::size_t date = ds.FieldIndex("MEASURE_DATE");
    const std::size_t number = ds.FieldIndex("MEASURE_NUMBER");
    const std::size_t key = ds.FieldIndex("MEASURE_RESULT_TABLE_PK");
    std::set<std::int64_t> known;
    std::optional<double> first, last;
    for (int row = 0; row < ds.RecordCount(); ++row) {
        if (const auto* k = std::get_if<std::int64_t>(&ds.RowField(row, key)))
            known.insert(*k);
        if (ds.RowStatus(row) != TUpdateStatus::Inserted)
            continue;
        if (const auto* d = std::get_if<TDateTime>(&ds.RowField(row, date))) {
            first = std::min(first.value_or(d->Value), d->Value);
            last = std::max(last.value_or(d->Value), d->Value);
        }
    }
    if (first && *first < 1.0)
        first = -693593.0; // before 1899-12-31 the raw values do not run with time
    // One pass over the new rows' span of starts, inside the saving transaction and after
    // its deletes and updates (the table has no index to ask row by row): a row of the
    // same measurement this workstation has not seen was stored by another a moment ago.
    auto keyOf = [](const TValue& start, std::int64_t measureNumber) {
        const auto* d = std::get_if<TDateTime>(&start);
        return std::pair(
            d ? OleDateToTimestampTicks(d->Value) : std::numeric_limits<std::int64_t>::min(), measureNumber);
    };
    auto elsewhere = std::make_shared<std::optional<std::set<std::pair<std::int64_t, std::int64_t>>>>();
    // Read at the first new row, so after this save's deletes and updates.
    auto read = [this, elsewhere, keyOf, known = std::move(known), first, last] {
        auto select = m_connection.Prepare("SELECT MEASURE_RESULT_TABLE_PK, MEASURE_NUMBER, MEASURE_DATE\n"
                                           "FROM MEASURE_RESULT_TABLE\n"
                                           "WHERE MEASURE_DATE IS NULL OR MEASURE_DATE BETWEEN ? AND ?");
        select->SetParam(0, TDateTime{first.value_or(0.0)});
        select->SetParam(1, TDateTime{last.value_or(0.0)});
        elsewhere->emplace();
        select->Open();
        while (select->Fetch()) {
            const TValue k = select->Column(0);
            const TValue n = select->Column(1);
            const auto* pk = std::get_if<std::int64_t>(&k);
            const auto* measureNumber = std::get_if<std::int64_t>(&n);
            if (pk && measureNumber && !known.count(*pk))
                (*elsewhere)->insert(keyOf(select->Column(2), *measureNumber));
        }
        select->CloseCursor();
    };
    return [elsewhere, read, keyOf, date, number](const std::vector<TValue>& row) {
        if (!*elsewhere)
            read();
        const auto* n = std::get_if<std::int64_t>(&row.at(number));
        return n && (*elsewhere)->count(keyOf(row.at(date), *n)) > 0;
    };
}

std::string TMainDataModule::RecordName(const TRowConflict& conflict) const
{
    const std::vector<TValue>& values = conflict.Theirs.empty() ? conflict.Mine : conflict.Theirs;
    const TCachedDataSet& ds = m_resultDataSet;
    std::string name = "запись";
    if (const auto* n = std::get_if<std::int64_t>(&values.at(ds.FieldIndex("MEASURE_NUMBER"))))
        name += " № " + std::to_string(*n);
    if (const auto* d = std::get_if<TDateTime>(&values.at(ds.FieldIndex("MEASURE_DATE"))))
        name += " от " + OleDateTimeText(d->Value);
    return name + (conflict.Mine.empty() ? " (удалена здесь, изменена там)" : " (изменена или удалена там)");
}

int TMainDataModule::RefreshProject(const std::function<bool(const TRowConflict&)>& keepMine)
{
    if (!IsProjectOpen())
        return 0;
    TUpdateGuard guard(*this);
    PostEdits();
    Reconnect();
    if (!m_extensions && ProjectExtensions::Exist(m_connection))
        UseExtensions();
    int different = 0;
    try {
        different += m_resultDataSet.Active() ? m_resultDataSet.Reload(m_connection, keepMine) : 0;
        different += m_descriptionDataSet.Reload(m_connection, keepMine);
    } catch (const TDatabaseError& error) {
        if (error.ConnectionLost())
            m_connectionLost = true;
        throw;
    }
    SortResults();
    return different;
}

void TMainDataModule::CancelChanges()
{
    TUpdateGuard guard(*this);
    m_restoring.clear();
    for (TCachedDataSet* ds : {&m_resultDataSet, &m_descriptionDataSet}) {
        ds->Cancel();
        if (ds->UpdatesPending())
            ds->CancelUpdates();
        ds->ForgetUndo();
    }
}

bool TMainDataModule::CanUndo() const
{
    return m_resultDataSet.Active() && (m_resultDataSet.NextUndo() || IsEditing(m_resultDataSet));
}

std::string TMainDataModule::UndoText() const
{
    // An edit still open is the newest change, and the one Undo takes back.
    if (IsEditing(m_resultDataSet))
        return "изменение записи";
    const auto next = m_resultDataSet.Active() ? m_resultDataSet.NextUndo() : std::nullopt;
    if (!next)
        return "";
    std::string number;
    if (const auto* n
        = std::get_if<std::int64_t>(&next->Values.at(m_resultDataSet.FieldIndex("MEASURE_NUMBER"))))
        number = " № " + std::to_string(*n);
    const std::string many = " (" + std::to_string(next->Count) + ")";
    switch (next->Kind) {
    case TUpdateStatus::Inserted:
        return next->Count == 1 ? "добавление записи" + number : "добавление записей" + many;
    case TUpdateStatus::Deleted:
        return next->Count == 1 ? "удаление записи" + number : "удаление записей" + many;
    default:
        return "изменение записи" + number;
    }
}

bool TMainDataModule::Undo()
{
    if (!m_resultDataSet.Active())
        return false;
    if (IsEditing(m_resultDataSet)) {
        // An edit not posted yet is the newest change.
        m_resultDataSet.Cancel();
        return true;
    }
    return m_resultDataSet.Undo();
}

void TMainDataModule::DeleteAllRecords()
{
    if (!m_resultDataSet.Active())
        return;
    // An open edit is a change of its own, not part of the deletion.
    if (IsEditing(m_resultDataSet))
        m_resultDataSet.Post();
    TUpdateGuard guard(*this);
    m_resultDataSet.BeginUndoGroup();
    struct TGroupEnd
    {
        TCachedDataSet& DataSet;
        ~TGroupEnd() { DataSet.EndUndoGroup(); }
    } groupEnd{m_resultDataSet};
    m_resultDataSet.First();
    while (!m_resultDataSet.IsEmpty())
        m_resultDataSet.Delete();
}

void TMainDataModule::BeginUpdate()
{
    ++m_updateCount;
    m_resultDataSet.DisableControls();
    m_descriptionDataSet.DisableControls();
}

void TMainDataModule::EndUpdate()
{
    if (m_updateCount == 0)
        return;
    --m_updateCount;
    m_resultDataSet.EnableControls();
    m_descriptionDataSet.EnableControls();
}

void TMainDataModule::SortResults()
{
    PostEdits();
    if (!m_resultDataSet.Active())
        return;
    const std::size_t date = m_resultDataSet.FieldIndex("MEASURE_DATE");
    const std::size_t time = m_resultDataSet.FieldIndex("MEASURE_TIME");
    const std::size_t number = m_resultDataSet.FieldIndex("MEASURE_NUMBER");
    m_resultDataSet.Sort([=](const std::vector<TValue>& a, const std::vector<TValue>& b) {
        for (std::size_t f : {date, time, number})
            if (const int c = Compare(a[f], b[f]); c != 0)
                return c < 0;
        return false;
    });
}

void TMainDataModule::SaveRecordPosition()
{
    m_savedRecNo = m_resultDataSet.RecNo();
}

void TMainDataModule::RestoreRecordPosition()
{
    if (m_resultDataSet.Active())
        m_resultDataSet.MoveBy(m_savedRecNo - m_resultDataSet.RecNo());
}

void TMainDataModule::ResultDataSetAfterScroll(TCachedDataSet& dataSet)
{
    if (dataSet.State() == TDataSetState::Browse && OnShowResult)
        OnShowResult(dataSet);
}

int TMainDataModule::ReadMsrResult(TMsrResult& result)
{
    result.Data.clear();
    if (IsEditing(m_resultDataSet))
        m_resultDataSet.Post();
    if (m_resultDataSet.IsEmpty())
        return -1;
    const auto* blob = std::get_if<std::string>(&m_resultDataSet.Field("MEASURE_DATA"));
    if (!blob || blob->empty())
        return -1;
    return DecodeMsrResult(*blob, result);
}

int TMainDataModule::ReadMsrResultAt(int row, TMsrResult& result) const
{
    result.Data.clear();
    if (!m_resultDataSet.Active() || row < 0 || row >= m_resultDataSet.RecordCount())
        return -1;
    const auto* blob = std::get_if<std::string>(
        &m_resultDataSet.RowField(row, m_resultDataSet.FieldIndex("MEASURE_DATA")));
    if (!blob || blob->empty())
        return -1;
    return DecodeMsrResult(*blob, result);
}

int TMainDataModule::WriteMsrResult(TMsrResult& result)
{
    if (IsEditing(m_resultDataSet))
        m_resultDataSet.Post();
    if (m_resultDataSet.IsEmpty())
        return -1;
    std::string blob = EncodeMsrResult(result);
    result.Data.clear();
    m_resultDataSet.Edit();
    PostRecordColumns(result, std::move(blob));
    return 0;
}

// The columns that follow the record: both timestamps hold the full start.
// A start a TIMESTAMP cannot hold (a damaged record) leaves the row's date and time as
// they are, so the record never stops a save.
void TMainDataModule::PostRecordColumns(const TMsrResult& result, std::string blob)
{
    if (OleDateFitsTimestamp(result.BeginDateTime)) {
        m_resultDataSet.SetField("MEASURE_DATE", TDateTime{result.BeginDateTime});
        m_resultDataSet.SetField("MEASURE_TIME", TDateTime{result.BeginDateTime});
    }
    m_resultDataSet.SetField("MEASURE_NUMBER", std::int64_t{result.MeasureNumber});
    m_resultDataSet.SetField("MEASURE_DATA", std::move(blob));
    m_resultDataSet.Post();
}

int TMainDataModule::FindMsrResult(const TMsrResult& result)
{
    if (!m_resultDataSet.Active())
        return -1;
    const std::size_t date = m_resultDataSet.FieldIndex("MEASURE_DATE");
    const std::size_t number = m_resultDataSet.FieldIndex("MEASURE_NUMBER");
    // A stored TIMESTAMP keeps 1/10000 s, so compare there: reading the same instrument
    // after reopening the project must find what it stored.
    // A record whose start cannot be stored was stored without a date: it matches a row
    // of its number that has none.
    const bool dated = OleDateFitsTimestamp(result.BeginDateTime);
    const std::int64_t ticks = OleDateToTimestampTicks(result.BeginDateTime);
    for (int row = 0; row < m_resultDataSet.RecordCount(); ++row) {
        const TValue& stored = m_resultDataSet.RowField(row, date);
        const auto* d = std::get_if<TDateTime>(&stored);
        const auto* n = std::get_if<std::int64_t>(&m_resultDataSet.RowField(row, number));
        if (!n || *n != result.MeasureNumber)
            continue;
        if (dated ? d && OleDateToTimestampTicks(d->Value) == ticks : IsNull(stored))
            return 0;
    }
    return -1;
}

int TMainDataModule::AddMsrResult(TMsrResult& result)
{
    if (FindMsrResult(result) == 0)
        return 0;
    std::string blob = EncodeMsrResult(result);
    result.Data.clear();
    m_resultDataSet.Append();
    PostRecordColumns(result, std::move(blob));
    return -1;
}

int TMainDataModule::StoreMsrResults(TArrayOfMsrResult& results)
{
    if (!m_resultDataSet.Active())
        return 0;
    PostEdits();
    TUpdateGuard guard(*this);
    // One pass over the rows indexes them by start and number, so a download against a
    // large project costs the rows once, not once per record.
    const std::size_t date = m_resultDataSet.FieldIndex("MEASURE_DATE");
    const std::size_t number = m_resultDataSet.FieldIndex("MEASURE_NUMBER");
    auto keyOf = [](const TValue& stored, std::int64_t measureNumber) {
        const auto* d = std::get_if<TDateTime>(&stored);
        // Undated rows hold the records whose start a TIMESTAMP cannot take.
        return std::pair(
            d ? OleDateToTimestampTicks(d->Value) : std::numeric_limits<std::int64_t>::min(), measureNumber);
    };
    std::set<std::pair<std::int64_t, std::int64_t>> stored;
    for (int row = 0; row < m_resultDataSet.RecordCount(); ++row)
        if (const auto* n = std::get_if<std::int64_t>(&m_resultDataSet.RowField(row, number)))
            stored.insert(keyOf(m_resultDataSet.RowField(row, date), *n));
    int added = 0;
    m_resultDataSet.BeginUndoGroup();
    struct TGroupEnd
    {
        TCachedDataSet& DataSet;
        ~TGroupEnd() { DataSet.EndUndoGroup(); }
    } groupEnd{m_resultDataSet};
    for (TMsrResult& result : results) {
        const TValue start
            = OleDateFitsTimestamp(result.BeginDateTime) ? TValue{TDateTime{result.BeginDateTime}} : TValue{};
        if (!stored.insert(keyOf(start, result.MeasureNumber)).second)
            continue;
        std::string blob = EncodeMsrResult(result);
        result.Data.clear();
        m_resultDataSet.Append();
        PostRecordColumns(result, std::move(blob));
        ++added;
    }
    SortResults();
    m_resultDataSet.Last();
    return added;
}

std::int64_t TMainDataModule::StoredRecordCount()
{
    auto count = m_connection.Prepare("SELECT COUNT(*) FROM MEASURE_RESULT_TABLE");
    count->Open();
    const TValue value = count->Fetch() ? count->Column(0) : TValue{};
    count->CloseCursor();
    const auto* n = std::get_if<std::int64_t>(&value);
    return n ? *n : 0;
}

std::string TMainDataModule::GetMeasureComment() const
{
    if (m_resultDataSet.IsEmpty() && m_resultDataSet.State() != TDataSetState::Insert)
        return {};
    return Cp1251ToUtf8(TextOf(m_resultDataSet.Field("MEASURE_COMMENT")));
}

void TMainDataModule::SetMeasureComment(const std::string& utf8)
{
    m_resultDataSet.Edit();
    m_resultDataSet.SetField("MEASURE_COMMENT", utf8.empty() ? TValue{} : TValue{Utf8ToCp1251(utf8)});
}

std::string TMainDataModule::GetProjectDescription() const
{
    if (m_descriptionDataSet.IsEmpty())
        return {};
    return Cp1251ToUtf8(TextOf(m_descriptionDataSet.Field("PROJECT_DESCRIPTION")));
}

void TMainDataModule::SetProjectDescription(const std::string& utf8)
{
    m_descriptionDataSet.Edit();
    m_descriptionDataSet.SetField(
        "PROJECT_DESCRIPTION", utf8.empty() ? TValue{} : TValue{Utf8ToCp1251(utf8)});
}

std::string TMainDataModule::GetDeviceName() const
{
    return TrimRight(TextOf(m_descriptionDataSet.Field("DEVICE_NAME")));
}

std::int64_t TMainDataModule::GetDeviceDataVersion() const
{
    const auto* v = std::get_if<std::int64_t>(&m_descriptionDataSet.Field("DEVICE_DATA_VERSION"));
    return v ? *v : -1;
}

// ---- sample identification and history ------------------------------------------------------

namespace {

const char* const kSampleColumns[]
    = {SampleColumn::Code, SampleColumn::CementType, SampleColumn::Manufacturer, SampleColumn::Batch,
        SampleColumn::SamplingDate, SampleColumn::Strength, SampleColumn::StrengthDate};

// History keeps values as plain text: numbers with a point, dates as dd.mm.yyyy.
std::string HistoryText(const TValue& v)
{
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* d = std::get_if<TDateTime>(&v))
        return OleDateTimeText(d->Value).substr(0, 10);
    if (const auto* x = std::get_if<double>(&v)) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", *x);
        return text;
    }
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    return {};
}

TValue TextValue(const std::string& text)
{
    // Whole characters only, so a cut never splits a letter.
    std::size_t bytes = 0;
    for (std::size_t chars = 0; bytes < text.size() && chars < kSampleTextLimit; ++chars) {
        ++bytes;
        while (bytes < text.size() && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
            ++bytes;
    }
    return text.empty() ? TValue{} : TValue{text.substr(0, bytes)};
}

TValue OptionalDate(const std::optional<double>& d)
{
    return d ? TValue{TDateTime{*d}} : TValue{};
}

TValue OptionalNumber(const std::optional<double>& x)
{
    return x && std::isfinite(*x) ? TValue{*x} : TValue{};
}

template <typename Get> TSampleInfo SampleFrom(Get get)
{
    TSampleInfo info;
    info.Code = TextOf(get(SampleColumn::Code));
    info.CementType = TextOf(get(SampleColumn::CementType));
    info.Manufacturer = TextOf(get(SampleColumn::Manufacturer));
    info.Batch = TextOf(get(SampleColumn::Batch));
    auto date = [](const TValue& v) {
        const auto* d = std::get_if<TDateTime>(&v);
        return d ? std::optional<double>(d->Value) : std::nullopt;
    };
    info.SamplingDate = date(get(SampleColumn::SamplingDate));
    info.StrengthDate = date(get(SampleColumn::StrengthDate));
    if (const auto* x = std::get_if<double>(&get(SampleColumn::Strength)))
        info.Strength = *x;
    return info;
}

} // namespace

TSampleInfo TMainDataModule::GetSampleInfo() const
{
    if (!m_resultDataSet.Active()
        || (m_resultDataSet.IsEmpty() && m_resultDataSet.State() != TDataSetState::Insert))
        return {};
    return SampleFrom([this](const char* name) -> const TValue& { return m_resultDataSet.Field(name); });
}

TSampleInfo TMainDataModule::SampleInfoAt(int row) const
{
    if (!m_resultDataSet.Active() || row < 0 || row >= m_resultDataSet.RecordCount())
        return {};
    return SampleFrom([this, row](const char* name) -> const TValue& {
        return m_resultDataSet.RowField(row, m_resultDataSet.FieldIndex(name));
    });
}

void TMainDataModule::SetSampleInfo(const TSampleInfo& info)
{
    TCachedDataSet& ds = m_resultDataSet;
    ds.Edit();
    ds.SetField(SampleColumn::Code, TextValue(info.Code));
    ds.SetField(SampleColumn::CementType, TextValue(info.CementType));
    ds.SetField(SampleColumn::Manufacturer, TextValue(info.Manufacturer));
    ds.SetField(SampleColumn::Batch, TextValue(info.Batch));
    ds.SetField(SampleColumn::SamplingDate, OptionalDate(info.SamplingDate));
    ds.SetField(SampleColumn::Strength, OptionalNumber(info.Strength));
    ds.SetField(SampleColumn::StrengthDate, OptionalDate(info.StrengthDate));
}

std::int64_t TMainDataModule::RecordKeyAt(int row) const
{
    if (!m_resultDataSet.Active() || row < 0 || row >= m_resultDataSet.RecordCount())
        return 0;
    const auto* key = std::get_if<std::int64_t>(
        &m_resultDataSet.RowField(row, m_resultDataSet.FieldIndex("MEASURE_RESULT_TABLE_PK")));
    return key ? *key : 0;
}

std::vector<THistoryEntry> TMainDataModule::ReadHistory(std::optional<std::int64_t> recordKey)
{
    return ProjectExtensions::ReadHistory(m_connection, recordKey);
}

std::vector<std::string> TMainDataModule::ChangedFieldsAt(int row)
{
    const std::int64_t key = RecordKeyAt(row);
    if (key == 0 || !m_connection.IsConnected())
        return {};
    return ProjectExtensions::ChangedFields(m_connection, key);
}

bool TMainDataModule::RestoreDeviceValues()
{
    PostEdits();
    if (!m_resultDataSet.Active() || m_resultDataSet.IsEmpty())
        return false;
    const std::int64_t key = RecordKeyAt(m_resultDataSet.RecNo() - 1);
    const std::optional<std::string> original = ProjectExtensions::OriginalRecord(m_connection, key);
    if (!original)
        return false;
    const auto* now = std::get_if<std::string>(&m_resultDataSet.Field("MEASURE_DATA"));
    if (now && *now == *original)
        return false;
    m_resultDataSet.Edit();
    m_resultDataSet.SetField("MEASURE_DATA", *original);
    m_resultDataSet.Post();
    return true;
}

std::vector<ProjectExtensions::TDeletedRecord> TMainDataModule::DeletedRecords()
{
    std::vector<ProjectExtensions::TDeletedRecord> records = ProjectExtensions::DeletedRecords(m_connection);
    std::set<std::int64_t> listed;
    for (int row = 0; row < GetRecordCount(); ++row)
        listed.insert(RecordKeyAt(row));
    std::erase_if(records, [&](const auto& r) { return listed.count(r.RecordKey) > 0; });
    return records;
}

bool TMainDataModule::RestoreDeletedRecord(std::int64_t recordKey)
{
    if (!m_resultDataSet.Active() || m_resultDataSet.State() == TDataSetState::Insert
        || !ProjectExtensions::Exist(m_connection))
        return false;
    for (int row = 0; row < GetRecordCount(); ++row)
        if (RecordKeyAt(row) == recordKey)
            return false;
    auto kept = m_connection.Prepare(
        "SELECT MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER, MEASURE_DATA, "
        "MEASURE_COMMENT\nFROM MEASURE_DELETED_TABLE WHERE MEASURE_RESULT_TABLE_PK = ?");
    kept->SetParam(0, recordKey);
    kept->Open();
    std::vector<TValue> values;
    if (kept->Fetch())
        for (std::size_t c = 0; c < 5; ++c)
            values.push_back(kept->Column(c));
    kept->CloseCursor();
    if (values.empty())
        return false;
    // The same measurement read again from the instrument meanwhile is not brought in twice.
    const auto* number = std::get_if<std::int64_t>(&values[2]);
    const std::size_t date = m_resultDataSet.FieldIndex("MEASURE_DATE");
    const std::size_t numberField = m_resultDataSet.FieldIndex("MEASURE_NUMBER");
    // Compared as the file stores a start (1/10000 s), as a download's duplicate check does.
    auto ticks = [](const TValue& v) {
        const auto* d = std::get_if<TDateTime>(&v);
        return d ? std::optional<std::int64_t>(OleDateToTimestampTicks(d->Value)) : std::nullopt;
    };
    for (int row = 0; row < GetRecordCount(); ++row)
        if (number && m_resultDataSet.RowField(row, numberField) == values[2]
            && ticks(m_resultDataSet.RowField(row, date)) == ticks(values[0]))
            return false;
    auto sample = m_connection.Prepare("SELECT SAMPLE_CODE, CEMENT_TYPE, MANUFACTURER, BATCH_NUMBER, "
                                       "SAMPLING_DATE, MEASURED_STRENGTH, STRENGTH_TEST_DATE\n"
                                       "FROM MEASURE_SAMPLE_TABLE WHERE MEASURE_RESULT_TABLE_PK = ?");
    sample->SetParam(0, recordKey);
    sample->Open();
    std::vector<TValue> sampleValues(std::size(kSampleColumns));
    if (sample->Fetch())
        for (std::size_t c = 0; c < sampleValues.size(); ++c)
            sampleValues[c] = sample->Column(c);
    sample->CloseCursor();

    TUpdateGuard guard(*this);
    // An open edit is a change of its own, made before this one.
    if (IsEditing(m_resultDataSet))
        m_resultDataSet.Post();
    m_resultDataSet.Append();
    m_resultDataSet.SetField("MEASURE_RESULT_TABLE_PK", recordKey);
    const char* const columns[]
        = {"MEASURE_DATE", "MEASURE_TIME", "MEASURE_NUMBER", "MEASURE_DATA", "MEASURE_COMMENT"};
    for (std::size_t c = 0; c < std::size(columns); ++c)
        m_resultDataSet.SetField(columns[c], values[c]);
    for (std::size_t c = 0; c < sampleValues.size(); ++c)
        m_resultDataSet.SetField(kSampleColumns[c], sampleValues[c]);
    m_resultDataSet.Post();
    m_restoring.insert(recordKey);
    SortResults();
    for (int row = 0; row < GetRecordCount(); ++row)
        if (RecordKeyAt(row) == recordKey)
            m_resultDataSet.SetRecNo(row + 1);
    return true;
}

bool TMainDataModule::NeedsExtensions() const
{
    bool needed = false;
    const TCachedDataSet& ds = m_resultDataSet;
    ds.ForEachChange(
        [&](TUpdateStatus status, const std::vector<TValue>& values, const std::vector<TValue>&) {
            if (status != TUpdateStatus::Inserted)
                needed = true;
            else
                for (const char* column : kSampleColumns)
                    needed = needed || !IsNull(values.at(ds.FieldIndex(column)));
        });
    return needed;
}

void TMainDataModule::UseExtensions()
{
    m_extensions = true;
    m_resultDataSet.SetSelect(ResultSelect(true), ResultRefresh(true));
}

void TMainDataModule::WriteExtensions()
{
    const TCachedDataSet& ds = m_resultDataSet;
    const std::size_t keyField = ds.FieldIndex("MEASURE_RESULT_TABLE_PK");
    const std::size_t dataField = ds.FieldIndex("MEASURE_DATA");
    const std::size_t commentField = ds.FieldIndex("MEASURE_COMMENT");
    const TValue changedAt = TDateTime{NowOleDate()};
    const TValue user = OperatingSystemUser();
    std::unique_ptr<TStatement> history, keep, archive, unarchive, sample;
    auto prepared = [this](std::unique_ptr<TStatement>& slot, const char* sql) -> TStatement& {
        if (!slot)
            slot = m_connection.Prepare(sql);
        return *slot;
    };
    auto record = [&](const std::vector<TValue>& row, const std::string& field, const std::string& before,
                      const std::string& after) {
        TStatement& s = prepared(history,
            "INSERT INTO MEASURE_HISTORY_TABLE (MEASURE_HISTORY_TABLE_PK, MEASURE_RESULT_TABLE_PK, "
            "MEASURE_DATE,\n  MEASURE_TIME, MEASURE_NUMBER, CHANGED_AT, CHANGED_BY, FIELD_NAME, OLD_VALUE, "
            "NEW_VALUE)\nVALUES (GEN_ID(MEASURE_HISTORY_TABLE_GEN, 1), ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        const TValue values[] = {row.at(keyField), row.at(ds.FieldIndex("MEASURE_DATE")),
            row.at(ds.FieldIndex("MEASURE_TIME")), row.at(ds.FieldIndex("MEASURE_NUMBER")), changedAt, user,
            field, before.empty() ? TValue{} : TValue{before}, after.empty() ? TValue{} : TValue{after}};
        for (std::size_t p = 0; p < std::size(values); ++p)
            s.SetParam(p, values[p]);
        s.Execute();
    };
    auto bytesOf = [this](const TValue& v) {
        if (const auto* id = std::get_if<TBlobId>(&v))
            return m_connection.ReadBlob(*id);
        return TextOf(v);
    };
    auto writeSample = [&](const std::vector<TValue>& row) {
        TStatement& s = prepared(sample,
            "UPDATE OR INSERT INTO MEASURE_SAMPLE_TABLE (MEASURE_RESULT_TABLE_PK, SAMPLE_CODE, CEMENT_TYPE,\n"
            "  MANUFACTURER, BATCH_NUMBER, SAMPLING_DATE, MEASURED_STRENGTH, STRENGTH_TEST_DATE)\n"
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?) MATCHING (MEASURE_RESULT_TABLE_PK)");
        s.SetParam(0, row.at(keyField));
        for (std::size_t c = 0; c < std::size(kSampleColumns); ++c)
            s.SetParam(c + 1, row.at(ds.FieldIndex(kSampleColumns[c])));
        s.Execute();
    };
    // Sample columns that differ, written to the history; true when any did.
    auto sampleChanges = [&](const std::vector<TValue>& row, const std::vector<TValue>* before) {
        bool changed = false;
        for (const char* column : kSampleColumns) {
            const TValue& now = row.at(ds.FieldIndex(column));
            const TValue old = before ? before->at(ds.FieldIndex(column)) : TValue{};
            if (now == old)
                continue;
            record(row, column, HistoryText(old), HistoryText(now));
            changed = true;
        }
        return changed;
    };

    ds.ForEachChange([&](TUpdateStatus status, const std::vector<TValue>& values,
                         const std::vector<TValue>& asRead) {
        if (status == TUpdateStatus::Deleted) {
            TStatement& clear
                = prepared(unarchive, "DELETE FROM MEASURE_DELETED_TABLE WHERE MEASURE_RESULT_TABLE_PK = ?");
            clear.SetParam(0, asRead.at(keyField));
            clear.Execute();
            TStatement& s = prepared(archive,
                "INSERT INTO MEASURE_DELETED_TABLE (MEASURE_RESULT_TABLE_PK, MEASURE_DATE, MEASURE_TIME,\n"
                "  MEASURE_NUMBER, MEASURE_DATA, MEASURE_COMMENT, DELETED_AT, DELETED_BY)\n"
                "SELECT MEASURE_RESULT_TABLE_PK, MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER, MEASURE_DATA,\n"
                "  MEASURE_COMMENT, ?, ? FROM MEASURE_RESULT_TABLE WHERE MEASURE_RESULT_TABLE_PK = ?");
            s.SetParam(0, changedAt);
            s.SetParam(1, user);
            s.SetParam(2, asRead.at(keyField));
            s.Execute();
            record(asRead, HistoryField::Deleted, {}, {});
            return;
        }
        if (status == TUpdateStatus::Inserted) {
            const auto* key = std::get_if<std::int64_t>(&values.at(keyField));
            if (key && m_restoring.count(*key)) {
                TStatement& clear = prepared(
                    unarchive, "DELETE FROM MEASURE_DELETED_TABLE WHERE MEASURE_RESULT_TABLE_PK = ?");
                clear.SetParam(0, *key);
                clear.Execute();
                record(values, HistoryField::Restored, {}, {});
                writeSample(values);
            } else if (sampleChanges(values, nullptr)) {
                writeSample(values);
            }
            return;
        }
        if (values.at(dataField) != asRead.at(dataField)) {
            const std::string before = bytesOf(asRead.at(dataField));
            const std::string after = bytesOf(values.at(dataField));
            TMsrResult old, now;
            if (before != after) {
                const bool decoded = DecodeMsrResult(before, old) == 0 && DecodeMsrResult(after, now) == 0;
                const std::pair<const char*, std::pair<std::int64_t, std::int64_t>> params[] = {
                    {HistoryField::Mass, {old.CementMass, now.CementMass}},
                    {HistoryField::Grade, {old.ExpCementGrade, now.ExpCementGrade}},
                    {HistoryField::Supplier, {old.Supplier, now.Supplier}},
                    {HistoryField::Duration, {old.ConcretionTime, now.ConcretionTime}},
                };
                for (const auto& [field, change] : params)
                    if (decoded && change.first != change.second)
                        record(values, field, std::to_string(change.first), std::to_string(change.second));
                TStatement& s = prepared(keep,
                    "INSERT INTO MEASURE_ORIGINAL_TABLE (MEASURE_RESULT_TABLE_PK, MEASURE_DATA)\n"
                    "SELECT T.MEASURE_RESULT_TABLE_PK, T.MEASURE_DATA FROM MEASURE_RESULT_TABLE T\n"
                    "WHERE T.MEASURE_RESULT_TABLE_PK = ? AND NOT EXISTS (SELECT 1 FROM "
                    "MEASURE_ORIGINAL_TABLE O\n"
                    "  WHERE O.MEASURE_RESULT_TABLE_PK = T.MEASURE_RESULT_TABLE_PK)");
                s.SetParam(0, asRead.at(keyField));
                s.Execute();
            }
        }
        if (values.at(commentField) != asRead.at(commentField)) {
            const std::string before = Cp1251ToUtf8(bytesOf(asRead.at(commentField)));
            const std::string after = Cp1251ToUtf8(bytesOf(values.at(commentField)));
            if (before != after)
                record(values, HistoryField::Comment, before, after);
        }
        if (sampleChanges(values, &asRead))
            writeSample(values);
    });
}

// ---- save as ----------------------------------------------------------------------------------

namespace {

// Every row of `table` from one database into the same table of another, blobs included.
void CopyTable(TConnection& from, TConnection& to, const std::string& table)
{
    auto select = from.Prepare("SELECT * FROM " + table);
    select->Open();
    std::unique_ptr<TStatement> insert;
    while (select->Fetch()) {
        if (!insert) {
            std::string marks;
            for (std::size_t c = 0; c < select->ColumnCount(); ++c)
                marks += c == 0 ? "?" : ", ?";
            insert = to.Prepare("INSERT INTO " + table + " VALUES (" + marks + ")");
        }
        for (std::size_t c = 0; c < select->ColumnCount(); ++c)
            insert->SetParam(c, select->Column(c));
        insert->Execute();
    }
    select->CloseCursor();
}

void CopyGenerator(TConnection& from, TConnection& to, const std::string& generator)
{
    auto value = from.Prepare("SELECT GEN_ID(" + generator + ", 0) FROM RDB$DATABASE");
    value->Open();
    const TValue n = value->Fetch() ? value->Column(0) : TValue{};
    value->CloseCursor();
    if (const auto* i = std::get_if<std::int64_t>(&n))
        to.ExecuteImmediate("ALTER SEQUENCE " + generator + " RESTART WITH " + std::to_string(*i));
}

} // namespace

bool TMainDataModule::SaveProjectAs(const std::string& path)
{
    m_lastError.clear();
    if (!IsProjectOpen() || !m_resultDataSet.Active())
        return false;
    PostEdits();
    const std::string target = AbsoluteFileName(path);
    const std::string folder = ColonFreeFolderFor(target);
    if (!m_target.IsServer() && target == m_projectPath) {
        m_lastError = "Это файл открытого проекта: выберите другое имя.";
        return false;
    }
    if (folder.empty()) {
        m_lastError = "Папка для файла проекта недоступна: " + target;
        return false;
    }
    const std::string temporary = folder + "/.cement-lab-copy-" + std::to_string(getpid()) + "-"
        + std::to_string(std::rand()) + ".fdb";
    // The stored project is copied whole into a file of its own under a passing name; only a
    // complete copy takes the chosen name, and only then does the program go on there.
    try {
        TConnection copy;
        try {
            copy.CreateDatabase(ProjectCreateStatement(temporary));
            for (const char* statement : kSchema)
                if (statement) {
                    copy.ExecuteImmediate(statement);
                    copy.CommitRetaining();
                }
            const bool extended = ProjectExtensions::Exist(m_connection);
            if (extended)
                ProjectExtensions::Create(copy);
            for (const char* table : {"SYSTEM_TABLE", "MEASURE_RESULT_TABLE"})
                CopyTable(m_connection, copy, table);
            if (extended)
                for (const char* table : {"MEASURE_SAMPLE_TABLE", "MEASURE_HISTORY_TABLE",
                         "MEASURE_ORIGINAL_TABLE", "MEASURE_DELETED_TABLE"})
                    CopyTable(m_connection, copy, table);
            for (const char* generator : {"SYSTEM_TABLE_GEN", "MEASURE_RESULT_TABLE_GEN"})
                CopyGenerator(m_connection, copy, generator);
            if (extended)
                CopyGenerator(m_connection, copy, "MEASURE_HISTORY_TABLE_GEN");
            copy.CommitRetaining();
            copy.Detach();
        } catch (...) {
            copy.Abandon();
            throw;
        }
        if (rename(temporary.c_str(), target.c_str()) != 0)
            throw TDatabaseError("Не удалось записать файл проекта: " + target);
    } catch (const TDatabaseError& error) {
        unlink(temporary.c_str());
        m_lastError = error.what();
        return false;
    }

    // Go on in the copy: the rows are read anew from it, the pending changes stay, and the
    // save writes them there with their history.
    TUpdateGuard guard(*this);
    try {
        m_connection.Detach();
    } catch (const TDatabaseError&) {
        m_connection.Abandon(); // the old file may be gone: nothing of it is needed now
    }
    m_resultDataSet.ForgetStatements();
    m_descriptionDataSet.ForgetStatements();
    m_connectionLost = false;
    Connect(LocalProject(target));
    m_extensions = ProjectExtensions::Exist(m_connection);
    m_resultDataSet.SetSelect(ResultSelect(m_extensions), ResultRefresh(m_extensions));
    m_resultDataSet.Rebase(m_connection);
    m_descriptionDataSet.Rebase(m_connection);
    SortResults();
    ApplyChanges();
    return true;
}
