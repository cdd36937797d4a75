#include "store/ProjectExtensions.h"

#include <firebird/Interface.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

// Text columns hold UTF-8 as bytes: the project's connections speak ASCII, and OCTETS
// passes every byte through unchanged.
const char* const kTables[] = {
    "CREATE TABLE MEASURE_SAMPLE_TABLE (MEASURE_RESULT_TABLE_PK INTEGER NOT NULL,\n"
    "  SAMPLE_CODE VARCHAR(400) CHARACTER SET OCTETS,\n"
    "  CEMENT_TYPE VARCHAR(400) CHARACTER SET OCTETS,\n"
    "  MANUFACTURER VARCHAR(400) CHARACTER SET OCTETS,\n"
    "  BATCH_NUMBER VARCHAR(400) CHARACTER SET OCTETS,\n"
    "  SAMPLING_DATE TIMESTAMP,\n"
    "  MEASURED_STRENGTH DOUBLE PRECISION,\n"
    "  STRENGTH_TEST_DATE TIMESTAMP,\n"
    "CONSTRAINT PK_MEASURE_SAMPLE PRIMARY KEY (MEASURE_RESULT_TABLE_PK))",
    "CREATE TABLE MEASURE_HISTORY_TABLE (MEASURE_HISTORY_TABLE_PK INTEGER NOT NULL,\n"
    "  MEASURE_RESULT_TABLE_PK INTEGER NOT NULL,\n"
    "  MEASURE_DATE TIMESTAMP,\n"
    "  MEASURE_TIME TIMESTAMP,\n"
    "  MEASURE_NUMBER INTEGER,\n"
    "  CHANGED_AT TIMESTAMP NOT NULL,\n"
    "  CHANGED_BY VARCHAR(400) CHARACTER SET OCTETS,\n"
    "  FIELD_NAME VARCHAR(32) CHARACTER SET OCTETS NOT NULL,\n"
    "  OLD_VALUE BLOB SUB_TYPE 0 SEGMENT SIZE 256,\n"
    "  NEW_VALUE BLOB SUB_TYPE 0 SEGMENT SIZE 256,\n"
    "CONSTRAINT PK_MEASURE_HISTORY PRIMARY KEY (MEASURE_HISTORY_TABLE_PK))",
    "CREATE INDEX MEASURE_HISTORY_RECORD ON MEASURE_HISTORY_TABLE (MEASURE_RESULT_TABLE_PK)",
    "CREATE GENERATOR MEASURE_HISTORY_TABLE_GEN",
    "CREATE TABLE MEASURE_ORIGINAL_TABLE (MEASURE_RESULT_TABLE_PK INTEGER NOT NULL,\n"
    "  MEASURE_DATA BLOB SUB_TYPE 0 SEGMENT SIZE 256,\n"
    "CONSTRAINT PK_MEASURE_ORIGINAL PRIMARY KEY (MEASURE_RESULT_TABLE_PK))",
    "CREATE TABLE MEASURE_DELETED_TABLE (MEASURE_RESULT_TABLE_PK INTEGER NOT NULL,\n"
    "  MEASURE_DATE TIMESTAMP,\n"
    "  MEASURE_TIME TIMESTAMP,\n"
    "  MEASURE_NUMBER INTEGER,\n"
    "  MEASURE_DATA BLOB SUB_TYPE 0 SEGMENT SIZE 256,\n"
    "  MEASURE_COMMENT BLOB SUB_TYPE 0 SEGMENT SIZE 256,\n"
    "  DELETED_AT TIMESTAMP NOT NULL,\n"
    "  DELETED_BY VARCHAR(400) CHARACTER SET OCTETS,\n"
    "CONSTRAINT PK_MEASURE_DELETED PRIMARY KEY (MEASURE_RESULT_TABLE_PK))",
};

std::string Text(const TValue& v)
{
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

std::optional<double> Date(const TValue& v)
{
    const auto* d = std::get_if<TDateTime>(&v);
    return d ? std::optional<double>(d->Value) : std::nullopt;
}

std::int64_t Integer(const TValue& v)
{
    const auto* i = std::get_if<std::int64_t>(&v);
    return i ? *i : 0;
}

} // namespace

bool TSampleInfo::Empty() const
{
    return *this == TSampleInfo{};
}

std::string HistoryFieldLabel(const std::string& field)
{
    static const std::pair<const char*, const char*> kLabels[] = {
        {HistoryField::Mass, "Масса цемента"},
        {HistoryField::Grade, "Ожидаемая марка"},
        {HistoryField::Supplier, "Поставщик"},
        {HistoryField::Duration, "Срок твердения"},
        {HistoryField::Comment, "Комментарий"},
        {HistoryField::Deleted, "Запись удалена"},
        {HistoryField::Restored, "Запись восстановлена"},
        {SampleColumn::Code, "Шифр пробы"},
        {SampleColumn::CementType, "Вид цемента"},
        {SampleColumn::Manufacturer, "Завод-изготовитель"},
        {SampleColumn::Batch, "Номер партии"},
        {SampleColumn::SamplingDate, "Дата отбора пробы"},
        {SampleColumn::Strength, "Фактическая активность, МПа"},
        {SampleColumn::StrengthDate, "Дата испытания на прочность"},
    };
    for (const auto& [name, label] : kLabels)
        if (field == name)
            return label;
    return field;
}

double NowOleDate()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const double fraction
        = std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(seconds)).count();
    return (static_cast<double>(seconds + local.tm_gmtoff) + fraction) / 86400.0 + 25569.0;
}

std::string OperatingSystemUser()
{
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return "uid " + std::to_string(geteuid());
}

namespace ProjectExtensions {

bool Exist(TConnection& connection)
{
    auto query = connection.Prepare(
        "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'MEASURE_HISTORY_TABLE'");
    query->Open();
    const bool found = query->Fetch() && Integer(query->Column(0)) > 0;
    query->CloseCursor();
    return found;
}

void Create(TConnection& connection)
{
    // Two workstations may make them at once: the one that comes second finds them made,
    // or waits a moment for the first one's commit.
    for (int attempt = 0;; ++attempt) {
        if (Exist(connection))
            return;
        try {
            for (const char* statement : kTables)
                connection.ExecuteImmediate(statement);
            connection.CommitRetaining();
            break;
        } catch (const TDatabaseError& error) {
            connection.RollbackRetaining();
            if (Exist(connection))
                return;
            // On a server only the project's owner (or an administrator) may add tables.
            if (error.HasCode(isc_no_priv) || error.HasCode(isc_dyn_no_priv))
                throw TDatabaseError(
                    "Изменения не сохранены и остаются в программе: в проекте ещё нет таблиц пробы и истории "
                    "изменений, а создать их может только владелец проекта или администратор сервера. Пусть "
                    "владелец сохранит в проекте первое изменение или выполнит «cement-lab-cli upgrade "
                    "ПРОЕКТ».\n"
                        + std::string(error.what()),
                    {isc_no_priv}, 0);
            if (error.ConnectionLost() || attempt >= 50)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // On a server, whoever may work on the measurements may work on their additions: the new
    // tables take the grantees of the measurements' table (the maker owns them, so may grant).
    std::vector<std::pair<std::string, std::int64_t>> grantees;
    auto query
        = connection.Prepare("SELECT DISTINCT TRIM(RDB$USER), RDB$USER_TYPE FROM RDB$USER_PRIVILEGES\n"
                             "WHERE RDB$RELATION_NAME = 'MEASURE_RESULT_TABLE' AND RDB$USER_TYPE IN (8, 13)\n"
                             "  AND TRIM(RDB$USER) <> CURRENT_USER");
    query->Open();
    while (query->Fetch())
        grantees.emplace_back(Text(query->Column(0)), Integer(query->Column(1)));
    query->CloseCursor();
    if (grantees.empty())
        return;
    for (const auto& [name, type] : grantees) {
        const std::string who = name == "PUBLIC" ? name : (type == 13 ? "ROLE \"" : "USER \"") + name + "\"";
        for (const char* table : {"MEASURE_SAMPLE_TABLE", "MEASURE_HISTORY_TABLE", "MEASURE_ORIGINAL_TABLE",
                 "MEASURE_DELETED_TABLE"})
            connection.ExecuteImmediate(std::string("GRANT ALL ON ") + table + " TO " + who);
        connection.ExecuteImmediate("GRANT USAGE ON GENERATOR MEASURE_HISTORY_TABLE_GEN TO " + who);
    }
    connection.CommitRetaining();
}

std::vector<THistoryEntry> ReadHistory(TConnection& connection, std::optional<std::int64_t> recordKey)
{
    std::vector<THistoryEntry> entries;
    if (!Exist(connection))
        return entries;
    auto query = connection.Prepare(
        std::string(
            "SELECT MEASURE_RESULT_TABLE_PK, MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER, CHANGED_AT,\n"
            "  CHANGED_BY, FIELD_NAME, OLD_VALUE, NEW_VALUE FROM MEASURE_HISTORY_TABLE\n")
        + (recordKey ? "WHERE MEASURE_RESULT_TABLE_PK = ?\n" : "") + "ORDER BY MEASURE_HISTORY_TABLE_PK");
    if (recordKey)
        query->SetParam(0, *recordKey);
    query->Open();
    while (query->Fetch()) {
        THistoryEntry e;
        e.RecordKey = Integer(query->Column(0));
        e.MeasureDate = Date(query->Column(1));
        e.MeasureTime = Date(query->Column(2));
        e.MeasureNumber = Integer(query->Column(3));
        e.ChangedAt = Date(query->Column(4)).value_or(0.0);
        e.ChangedBy = Text(query->Column(5));
        e.Field = Text(query->Column(6));
        e.OldValue = Text(query->Column(7));
        e.NewValue = Text(query->Column(8));
        entries.push_back(std::move(e));
    }
    query->CloseCursor();
    return entries;
}

std::vector<std::string> ChangedFields(TConnection& connection, std::int64_t recordKey)
{
    std::vector<std::string> fields;
    if (!Exist(connection))
        return fields;
    auto query = connection.Prepare("SELECT DISTINCT FIELD_NAME FROM MEASURE_HISTORY_TABLE\n"
                                    "WHERE MEASURE_RESULT_TABLE_PK = ? ORDER BY FIELD_NAME");
    query->SetParam(0, recordKey);
    query->Open();
    while (query->Fetch())
        fields.push_back(Text(query->Column(0)));
    query->CloseCursor();
    return fields;
}

std::optional<std::string> OriginalRecord(TConnection& connection, std::int64_t recordKey)
{
    if (!Exist(connection))
        return std::nullopt;
    auto query = connection.Prepare(
        "SELECT MEASURE_DATA FROM MEASURE_ORIGINAL_TABLE WHERE MEASURE_RESULT_TABLE_PK = ?");
    query->SetParam(0, recordKey);
    query->Open();
    std::optional<std::string> blob;
    if (query->Fetch())
        blob = Text(query->Column(0));
    query->CloseCursor();
    return blob;
}

std::vector<TDeletedRecord> DeletedRecords(TConnection& connection)
{
    std::vector<TDeletedRecord> records;
    if (!Exist(connection))
        return records;
    auto query = connection.Prepare(
        "SELECT MEASURE_RESULT_TABLE_PK, MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER, DELETED_AT, DELETED_BY\n"
        "FROM MEASURE_DELETED_TABLE ORDER BY DELETED_AT DESC, MEASURE_RESULT_TABLE_PK DESC");
    query->Open();
    while (query->Fetch()) {
        TDeletedRecord r;
        r.RecordKey = Integer(query->Column(0));
        r.MeasureDate = Date(query->Column(1));
        r.MeasureTime = Date(query->Column(2));
        r.MeasureNumber = Integer(query->Column(3));
        r.DeletedAt = Date(query->Column(4)).value_or(0.0);
        r.DeletedBy = Text(query->Column(5));
        records.push_back(std::move(r));
    }
    query->CloseCursor();
    return records;
}

} // namespace ProjectExtensions
