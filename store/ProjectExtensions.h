#pragma once

// What a laboratory adds to a measurement beyond the instrument's record: which sample it
// is, the strength measured later by the standard test, and the history of every change.
//
// It lives in tables of its own beside the project's tables, which never change; a project
// gets them at the first save that needs them, so a project that never uses them keeps the
// plain schema. The engine cannot use a table in the transaction that created it, so that
// save commits the tables first, then writes in its own transaction as always.

#include "store/Firebird.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Columns the result list carries for every row (NULL while the project has no extension
// tables). Text is UTF-8; dates are OLE dates (whole days); strength in MPa.
namespace SampleColumn {
inline constexpr const char* Code = "SAMPLE_CODE";
inline constexpr const char* CementType = "CEMENT_TYPE";
inline constexpr const char* Manufacturer = "MANUFACTURER";
inline constexpr const char* Batch = "BATCH_NUMBER";
inline constexpr const char* SamplingDate = "SAMPLING_DATE";
inline constexpr const char* Strength = "MEASURED_STRENGTH";
inline constexpr const char* StrengthDate = "STRENGTH_TEST_DATE";
} // namespace SampleColumn

struct TSampleInfo
{
    std::string Code;
    std::string CementType;
    std::string Manufacturer;
    std::string Batch;
    std::optional<double> SamplingDate;
    std::optional<double> Strength; // "Фактическая активность, МПа"
    std::optional<double> StrengthDate;

    bool Empty() const;
    bool operator==(const TSampleInfo&) const = default;
};

// Longest text each sample field keeps, in characters.
constexpr std::size_t kSampleTextLimit = 100;

// Names a history row gives the changed value; Russian labels by HistoryFieldLabel.
namespace HistoryField {
inline constexpr const char* Mass = "CEMENT_MASS";
inline constexpr const char* Grade = "CEMENT_GRADE";
inline constexpr const char* Supplier = "SUPPLIER";
inline constexpr const char* Duration = "CONCRETION_TIME";
inline constexpr const char* Comment = "MEASURE_COMMENT";
inline constexpr const char* Deleted = "DELETED";
inline constexpr const char* Restored = "RESTORED";
// The sample columns use their column names (SampleColumn).
} // namespace HistoryField

std::string HistoryFieldLabel(const std::string& field);

struct THistoryEntry
{
    std::int64_t RecordKey = 0; // MEASURE_RESULT_TABLE_PK
    std::optional<double> MeasureDate;
    std::optional<double> MeasureTime;
    std::int64_t MeasureNumber = 0;
    double ChangedAt = 0.0; // OLE date-time, the workstation's local time
    std::string ChangedBy;  // operating-system user
    std::string Field;
    std::string OldValue; // display text, UTF-8
    std::string NewValue;
};

namespace ProjectExtensions {
// Whether the project has the extension tables.
bool Exist(TConnection& connection);
// Creates them and commits (with retention); does nothing when they exist. Throws.
void Create(TConnection& connection);
// History rows, oldest first: of one record, or of the whole project.
std::vector<THistoryEntry> ReadHistory(TConnection& connection, std::optional<std::int64_t> recordKey);
// The history fields of a record that were changed after the instrument made it
// (empty when the project has no extension tables).
std::vector<std::string> ChangedFields(TConnection& connection, std::int64_t recordKey);
// The instrument's own record of a changed measurement, or nothing when it was never changed.
std::optional<std::string> OriginalRecord(TConnection& connection, std::int64_t recordKey);
// Records deleted and kept for restoring, newest first.
struct TDeletedRecord
{
    std::int64_t RecordKey = 0;
    std::optional<double> MeasureDate;
    std::optional<double> MeasureTime;
    std::int64_t MeasureNumber = 0;
    double DeletedAt = 0.0;
    std::string DeletedBy;
};
std::vector<TDeletedRecord> DeletedRecords(TConnection& connection);
} // namespace ProjectExtensions

// The user the operating system runs this program for.
std::string OperatingSystemUser();
// The workstation's local time as an OLE date, as the history and the protocols record it.
double NowOleDate();
