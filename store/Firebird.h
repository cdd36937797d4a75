#pragma once

// A small RAII layer over the Firebird client's OO API. Nothing else in the program
// includes a Firebird header. Every engine error is thrown as TDatabaseError whose
// text is the engine's own message.
//
// Values travel as TValue: NULL, an integer, a date-time (OLE Automation date as a
// double) or a byte string (CHAR/VARCHAR text or blob contents).
// SQL texts may name their parameters: "?NAME" or ":NAME" binds by name, a bare "?"
// by position only.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IMessageMetadata;
class IResultSet;
} // namespace Firebird

// The text leads with a Russian sentence when the operator can act on the cause (disk
// full, no permission, file in use, connection lost); the engine's own text follows.
class TDatabaseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    TDatabaseError(const std::string& text, std::vector<long> codes, int systemError)
        : std::runtime_error(text)
        , m_codes(std::move(codes))
        , m_systemError(systemError)
    { }
    bool HasCode(long code) const;
    // The connection to the engine is gone (a server stopped, a network lost, a shutdown).
    bool ConnectionLost() const;
    // Another connection holds a row this one wanted to change.
    bool LockConflict() const;
    // The operating system's errno the engine passed on; 0 when none.
    int SystemError() const { return m_systemError; }

private:
    std::vector<long> m_codes; // engine (ISC) codes, outermost first
    int m_systemError = 0;
};

// The Russian sentence for an engine failure an operator can meet; empty for others.
std::string OperatorCauseText(const std::vector<long>& codes, int systemError);

struct TDateTime
{
    double Value = 0.0; // OLE Automation date
    bool operator==(const TDateTime&) const = default;
};

// A stored blob named but not read: what a statement gives for a column it was told to
// leave lazy. Passed back as a parameter it stores that same blob again without reading it.
struct TBlobId
{
    std::uint64_t Id = 0;
    bool operator==(const TBlobId&) const = default;
};

using TValue = std::variant<std::monostate, std::int64_t, TDateTime, std::string, TBlobId, double>;

inline bool IsNull(const TValue& v)
{
    return std::holds_alternative<std::monostate>(v);
}

// A TIMESTAMP holds 1/10000 s. These convert an OLE date to and from the engine's
// ticks (ten-thousandths of a second since 1858-11-17 00:00).
// Out of that range (see OleDateFitsTimestamp) the ticks are meaningless but defined.
std::int64_t OleDateToTimestampTicks(double oleDate);
// Whether a TIMESTAMP can hold the date: finite, years 1 to 9999.
bool OleDateFitsTimestamp(double oleDate);
double TimestampTicksToOleDate(std::int64_t ticks);

// The absolute form of a local file name, its folder made canonical; the name unchanged
// when the folder does not exist.
std::string AbsoluteFileName(const std::string& path);
// A folder where a short-lived name for the file `absolutePath` may be made that the
// engine cannot read as a server: the file's own folder, or when that name holds a colon
// the nearest parent on the same device without one. Empty when there is none.
std::string ColonFreeFolderFor(const std::string& absolutePath);

enum class TColumnType
{
    Integer,
    Double,
    DateTime,
    Text,
    Blob,
    Other
};

// Points FIREBIRD_LOCK at a directory of this user's own when it is not set, so the
// embedded engine works for a normal user. Called by the first connection; callable early.
void PrepareFirebirdEnvironment();

class TStatement;

class TConnection
{
public:
    TConnection();
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Runs a CREATE DATABASE statement (dialect 3) and stays attached to the new file.
    void CreateDatabase(const std::string& statement);
    void Attach(const std::string& path, const std::string& user, const std::string& password,
        const std::string& charset);
    // Attaches a file of this machine through the embedded engine only, whatever its name
    // holds: the engine reads "name:" as a server, so a name with a colon is reached
    // through a short-lived hard link without one.
    void AttachLocalFile(const std::string& path, const std::string& user, const std::string& password,
        const std::string& charset);
    // Commits the transaction when one is active, then detaches. Does nothing when not attached.
    void Detach();
    // Detaches without committing; never throws.
    void Abandon() noexcept;
    bool IsConnected() const { return m_attachment != nullptr; }
    // Asks the engine whether the attachment still works: false when it is lost; throws
    // TDatabaseError on any other failure.
    bool Ping();

    // The one transaction: write, nowait, rec_version, read_committed.
    void StartTransaction();
    bool InTransaction() const { return m_transaction != nullptr; }
    void CommitRetaining();
    void RollbackRetaining();

    // Runs a statement without parameters or results (DDL included); starts the transaction.
    void ExecuteImmediate(const std::string& sql);
    std::unique_ptr<TStatement> Prepare(const std::string& sql);

    // The bytes of a stored blob, in the current transaction. Throws TDatabaseError.
    std::string ReadBlob(TBlobId id);

    Firebird::IAttachment* Attachment() const { return m_attachment; }
    Firebird::ITransaction* Transaction();

private:
    Firebird::IAttachment* m_attachment = nullptr;
    Firebird::ITransaction* m_transaction = nullptr;
};

class TStatement
{
public:
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    // Parameter names in order ("" for a bare "?").
    const std::vector<std::string>& ParamNames() const { return m_paramNames; }
    void SetParam(std::size_t index, const TValue& value);

    // Runs a statement that returns no rows; the number of rows it inserted, changed or deleted.
    std::uint64_t Execute();
    // Opens the result set; Fetch() moves to the next row and returns false after the last.
    void Open();
    bool Fetch();
    void CloseCursor();

    std::size_t ColumnCount() const { return m_columns.size(); }
    const std::string& ColumnName(std::size_t i) const { return m_columns[i].Name; }
    TColumnType ColumnType(std::size_t i) const { return m_columns[i].Type; }
    // The value of column i of the fetched row; blobs are read whole, or named by a TBlobId
    // when the column was set lazy.
    TValue Column(std::size_t i);
    void SetLazyBlob(std::size_t column, bool lazy) { m_columns.at(column).Lazy = lazy; }

private:
    friend class TConnection;
    TStatement(TConnection& connection, Firebird::IStatement* statement, std::vector<std::string> names);

    struct TField
    {
        std::string Name;
        TColumnType Type = TColumnType::Other;
        unsigned SqlType = 0;
        unsigned Length = 0;
        int Scale = 0;
        unsigned Offset = 0;
        unsigned NullOffset = 0;
        bool Lazy = false;
    };
    static std::vector<TField> Describe(Firebird::IMessageMetadata* metadata);
    void WriteBlob(const std::string& bytes, unsigned char* target);

    TConnection& m_connection;
    Firebird::IStatement* m_statement = nullptr;
    Firebird::IMessageMetadata* m_inMeta = nullptr;
    Firebird::IMessageMetadata* m_outMeta = nullptr;
    Firebird::IResultSet* m_cursor = nullptr;
    std::vector<std::string> m_paramNames;
    std::vector<TField> m_params;
    std::vector<TField> m_columns;
    std::vector<unsigned char> m_inBuffer;
    std::vector<unsigned char> m_outBuffer;
};

// Replaces "?NAME"/":NAME" by "?" outside quoted text and returns the names in order.
std::string ParseNamedParameters(std::string_view sql, std::vector<std::string>& names);

// Quotes text for an SQL string literal: every single quote doubled.
std::string QuoteSqlString(std::string_view text);
