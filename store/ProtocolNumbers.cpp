#include "store/ProtocolNumbers.h"

#include <charconv>

namespace {

// Record keys travel as one text of decimal numbers split by blanks: a protocol of every
// record of a large project still takes a single row.
const char* const kCreateTable = "CREATE TABLE PROTOCOL_TABLE (PROTOCOL_TABLE_PK INTEGER NOT NULL,\n"
                                 "  PROTOCOL_NUMBER BIGINT NOT NULL,\n"
                                 "  ISSUED_AT TIMESTAMP NOT NULL,\n"
                                 "  ISSUED_BY VARCHAR(400) CHARACTER SET OCTETS,\n"
                                 "  RECORD_KEYS BLOB SUB_TYPE 0 SEGMENT SIZE 256,\n"
                                 "PRIMARY KEY (PROTOCOL_TABLE_PK))";

std::int64_t Integer(const TValue& v)
{
    const auto* i = std::get_if<std::int64_t>(&v);
    return i ? *i : 0;
}

std::string Text(const TValue& v)
{
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

std::string KeysText(const std::vector<std::int64_t>& keys)
{
    std::string text;
    for (const std::int64_t key : keys) {
        if (!text.empty())
            text += ' ';
        text += std::to_string(key);
    }
    return text;
}

std::vector<std::int64_t> ParseKeys(const std::string& text)
{
    std::vector<std::int64_t> keys;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        std::int64_t key = 0;
        const auto [next, error] = std::from_chars(p, end, key);
        if (error == std::errc())
            keys.push_back(key);
        p = next == p ? p + 1 : next;
    }
    return keys;
}

std::int64_t LargestNumber(TConnection& connection, const char* column)
{
    auto query = connection.Prepare(std::string("SELECT MAX(") + column + ") FROM PROTOCOL_TABLE");
    query->Open();
    const std::int64_t largest = query->Fetch() ? Integer(query->Column(0)) : 0;
    query->CloseCursor();
    return largest;
}

} // namespace

namespace ProtocolNumbers {

bool Exist(TConnection& connection)
{
    auto query
        = connection.Prepare("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'PROTOCOL_TABLE'");
    query->Open();
    const bool found = query->Fetch() && Integer(query->Column(0)) > 0;
    query->CloseCursor();
    return found;
}

std::int64_t Next(TConnection& connection)
{
    return Exist(connection) ? LargestNumber(connection, "PROTOCOL_NUMBER") + 1 : 1;
}

void Issue(TConnection& connection, const TProtocolIssue& issue)
{
    if (!Exist(connection)) {
        try {
            connection.ExecuteImmediate(kCreateTable);
            connection.CommitRetaining();
        } catch (const TDatabaseError&) {
            connection.RollbackRetaining();
            // Another workstation may have made it a moment ago.
            if (!Exist(connection))
                throw;
        }
    }
    try {
        // Rows are few (one per protocol printed); a generator would be one more object
        // for a project to carry.
        const std::int64_t key = LargestNumber(connection, "PROTOCOL_TABLE_PK") + 1;
        auto insert = connection.Prepare("INSERT INTO PROTOCOL_TABLE (PROTOCOL_TABLE_PK, PROTOCOL_NUMBER,\n"
                                         "  ISSUED_AT, ISSUED_BY, RECORD_KEYS) VALUES (?, ?, ?, ?, ?)");
        insert->SetParam(0, key);
        insert->SetParam(1, issue.Number);
        insert->SetParam(2, TDateTime{issue.IssuedAt});
        insert->SetParam(3, issue.IssuedBy);
        insert->SetParam(4, KeysText(issue.RecordKeys));
        insert->Execute();
        connection.CommitRetaining();
    } catch (const TDatabaseError&) {
        connection.RollbackRetaining();
        throw;
    }
}

std::vector<TProtocolIssue> Issued(TConnection& connection)
{
    std::vector<TProtocolIssue> issues;
    if (!Exist(connection))
        return issues;
    auto query = connection.Prepare("SELECT PROTOCOL_NUMBER, ISSUED_AT, ISSUED_BY, RECORD_KEYS\n"
                                    "FROM PROTOCOL_TABLE ORDER BY PROTOCOL_TABLE_PK");
    query->Open();
    while (query->Fetch()) {
        TProtocolIssue issue;
        issue.Number = Integer(query->Column(0));
        const TValue at = query->Column(1);
        if (const auto* date = std::get_if<TDateTime>(&at))
            issue.IssuedAt = date->Value;
        issue.IssuedBy = Text(query->Column(2));
        issue.RecordKeys = ParseKeys(Text(query->Column(3)));
        issues.push_back(std::move(issue));
    }
    query->CloseCursor();
    return issues;
}

} // namespace ProtocolNumbers
