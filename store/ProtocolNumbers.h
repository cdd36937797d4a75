#pragma once

// Numbers of the laboratory protocols issued from a project: the next number is one more
// than the largest issued, so numbering runs per project and survives reopening; an
// operator may print under another number, which then counts as issued.
//
// The numbers live in a table of their own, made the first time a protocol is issued, so a
// project that never issues one keeps its plain schema. The engine cannot use a table in
// the transaction that created it: the table is committed (with retention) before the row
// goes in. Every operation commits with retention what it writes, and nothing else is
// pending in the connection's transaction between saves, so no operator work is committed
// early.

#include "store/Firebird.h"

#include <cstdint>
#include <string>
#include <vector>

struct TProtocolIssue
{
    std::int64_t Number = 0;
    double IssuedAt = 0.0;                // OLE date-time, the workstation's local time
    std::string IssuedBy;                 // operating-system user, UTF-8
    std::vector<std::int64_t> RecordKeys; // MEASURE_RESULT_TABLE_PK of the records printed

    bool operator==(const TProtocolIssue&) const = default;
};

namespace ProtocolNumbers {
inline constexpr const char* kTable = "PROTOCOL_TABLE";
// Whether the project has issued a protocol (has the table). Throws TDatabaseError.
bool Exist(TConnection& connection);
// The number the next protocol gets: 1 in a project that never issued one. Reads only.
// Throws TDatabaseError.
std::int64_t Next(TConnection& connection);
// Records an issued protocol (the table made first when missing) and commits with
// retention. Throws TDatabaseError, and then nothing of it is kept.
void Issue(TConnection& connection, const TProtocolIssue& issue);
// Every protocol issued, in the order issued; empty without the table. Throws TDatabaseError.
std::vector<TProtocolIssue> Issued(TConnection& connection);
} // namespace ProtocolNumbers
