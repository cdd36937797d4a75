#include "store/MainDataModuleUnit.h"

#include "store/Cp1251.h"

#include <limits>
#include <set>
#include <sys/stat.h>
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

TDataSetConfig ResultConfig()
{
    TDataSetConfig c;
    c.SelectSql = "SELECT * FROM MEASURE_RESULT_TABLE\n"
                  "ORDER BY MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER DESC";
    c.RefreshSql = "SELECT * FROM MEASURE_RESULT_TABLE\n"
                   "WHERE MEASURE_RESULT_TABLE_PK = ?OLD_MEASURE_RESULT_TABLE_PK\n"
                   "ORDER BY MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER DESC";
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
                  "  MEASURE_RESULT_TABLE_PK = ?OLD_MEASURE_RESULT_TABLE_PK";
    c.DeleteSql = "DELETE FROM MEASURE_RESULT_TABLE\n"
                  "WHERE MEASURE_RESULT_TABLE_PK = ?OLD_MEASURE_RESULT_TABLE_PK";
    c.KeyField = "MEASURE_RESULT_TABLE_PK";
    c.Generator = "MEASURE_RESULT_TABLE_GEN";
    c.Fields = {"MEASURE_DATE", "MEASURE_TIME", "MEASURE_NUMBER", "MEASURE_DATA", "MEASURE_COMMENT",
        "MEASURE_RESULT_TABLE_PK"};
    c.LazyFields = {"MEASURE_DATA", "MEASURE_COMMENT"};
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
        const double y = std::get<TDateTime>(b).Value;
        return x->Value < y ? -1 : (y < x->Value ? 1 : 0);
    }
    if (const auto* x = std::get_if<std::int64_t>(&a)) {
        const std::int64_t y = std::get<std::int64_t>(b);
        return *x < y ? -1 : (y < *x ? 1 : 0);
    }
    return 0;
}

} // namespace

std::string ProjectCreateStatement(const std::string& path)
{
    return "CREATE DATABASE '" + QuoteSqlString(path) + "' " + "USER '" + kUser + "' PASSWORD '" + kPassword
        + "'\n" + "PAGE_SIZE = 4096\n" + "DEFAULT CHARACTER SET " + kCharset;
}

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

bool TMainDataModule::CreateProjectDatabase(const std::string& path)
{
    if (m_connection.IsConnected())
        return false;
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
        m_connection.CreateDatabase(ProjectCreateStatement(temporary));
        for (const char* statement : kSchema)
            ExecuteSQL(statement ? std::string(statement) : ProjectRowStatement());
        m_connection.Detach();
    } catch (const TDatabaseError&) {
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

void TMainDataModule::Connect(const std::string& path)
{
    m_projectPath = AbsoluteFileName(path);
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
    if (m_connection.IsConnected())
        return false;
    try {
        Connect(path);
        m_descriptionDataSet.Open(m_connection);
        if (!m_descriptionDataSet.IsEmpty() && GetDeviceName() == DEVICE_NAME
            && GetDeviceDataVersion() == DEVICE_DATA_VERSION) {
            if (mode == TOpenMode::Whole)
                m_resultDataSet.Open(m_connection);
            return true;
        }
    } catch (const TDatabaseError&) { }
    m_resultDataSet.Close();
    m_descriptionDataSet.Close();
    m_connection.Abandon();
    return false;
}

void TMainDataModule::CloseProjectDatabase()
{
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
    if (!m_resultDataSet.UpdatesPending() && !m_descriptionDataSet.UpdatesPending())
        return;
    CheckProjectFileInPlace();
    try {
        m_resultDataSet.ApplyUpdates(m_connection);
        m_descriptionDataSet.ApplyUpdates(m_connection);
        m_connection.CommitRetaining();
    } catch (...) {
        try {
            m_connection.RollbackRetaining();
        } catch (...) { }
        throw;
    }
    m_resultDataSet.CommitUpdates();
    m_descriptionDataSet.CommitUpdates();
    try {
        m_resultDataSet.ReleaseWrittenBlobs();
    } catch (const TDatabaseError&) {
        // Saved all the same; the written records stay held in memory until the next open.
    }
    m_resultDataSet.RefreshCurrent(m_connection);
    m_descriptionDataSet.RefreshCurrent(m_connection);
}

void TMainDataModule::CancelChanges()
{
    TUpdateGuard guard(*this);
    for (TCachedDataSet* ds : {&m_resultDataSet, &m_descriptionDataSet}) {
        ds->Cancel();
        if (ds->UpdatesPending())
            ds->CancelUpdates();
    }
}

void TMainDataModule::DeleteAllRecords()
{
    if (!m_resultDataSet.Active())
        return;
    TUpdateGuard guard(*this);
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
