#include "store/Firebird.h"

#include "store/LittleEndian.h"

#include <firebird/Interface.h>
#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <limits>
#include <locale.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace Firebird;

namespace {

constexpr unsigned kDialect = 3;
constexpr std::int64_t kTicksPerDay = 864'000'000; // 1/10000 s
constexpr std::int64_t kOleEpochInMjd = 15018;     // 1899-12-30 as days since 1858-11-17
constexpr unsigned kBlobChunk = 32768;

std::once_flag g_environmentOnce;

IMaster* Master()
{
    PrepareFirebirdEnvironment();
    static IMaster* master = fb_get_master_interface();
    return master;
}

std::string FormatStatus(IStatus* status)
{
    char text[2048];
    Master()->getUtilInterface()->formatStatus(text, sizeof text, status);
    return text;
}

TDatabaseError EngineError(IStatus* status)
{
    std::vector<long> codes;
    int systemError = 0;
    for (const intptr_t* v = status->getErrors(); v && *v != isc_arg_end;) {
        const intptr_t kind = v[0];
        if (kind == isc_arg_gds)
            codes.push_back(static_cast<long>(v[1]));
        else if (kind == isc_arg_unix && systemError == 0)
            systemError = static_cast<int>(v[1]);
        else if (kind == isc_arg_cstring) {
            v += 3;
            continue;
        }
        v += 2;
    }
    std::string text = FormatStatus(status);
    const std::string cause = OperatorCauseText(codes, systemError);
    if (!cause.empty())
        text = cause + "\n" + text;
    return TDatabaseError(text, std::move(codes), systemError);
}

// Runs f with a throwing status wrapper and turns engine errors into TDatabaseError.
template <typename F> auto Call(F&& f)
{
    IStatus* raw = Master()->getStatus();
    struct TDispose
    {
        IStatus* s;
        ~TDispose() { s->dispose(); }
    } dispose{raw};
    ThrowStatusWrapper status(raw);
    try {
        return f(&status);
    } catch (const FbException& e) {
        throw EngineError(e.getStatus());
    }
}

bool OwnedPrivateDirectory(const std::string& path)
{
    struct stat st
    { };
    if (lstat(path.c_str(), &st) != 0)
        return mkdir(path.c_str(), 0700) == 0;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 0077) == 0;
}

// The client turns a file name into its own form through the thread's character set,
// and in the "C" locale every non-ASCII name fails. Names here are UTF-8 bytes, so the
// calls that take a file name run with a UTF-8 character set whatever the process chose.
class TUtf8NamesScope
{
public:
    TUtf8NamesScope()
    {
        if (std::string_view(nl_langinfo(CODESET)) == "UTF-8")
            return;
        m_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (m_locale)
            m_previous = uselocale(m_locale);
    }
    ~TUtf8NamesScope()
    {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    TUtf8NamesScope(const TUtf8NamesScope&) = delete;
    TUtf8NamesScope& operator=(const TUtf8NamesScope&) = delete;

private:
    locale_t m_locale = static_cast<locale_t>(0);
    locale_t m_previous = static_cast<locale_t>(0);
};

} // namespace

bool TDatabaseError::HasCode(long code) const
{
    return std::find(m_codes.begin(), m_codes.end(), code) != m_codes.end();
}

bool TDatabaseError::ConnectionLost() const
{
    for (long code : {isc_shutdown, isc_att_shutdown, isc_conn_lost, isc_network_error, isc_net_read_err,
             isc_net_write_err, isc_lost_db_connection})
        if (HasCode(code))
            return true;
    return false;
}

bool TDatabaseError::LockConflict() const
{
    return HasCode(isc_lock_conflict) || HasCode(isc_update_conflict) || HasCode(isc_deadlock);
}

std::string OperatorCauseText(const std::vector<long>& codes, int systemError)
{
    auto has = [&](std::initializer_list<long> wanted) {
        return std::any_of(codes.begin(), codes.end(),
            [&](long c) { return std::find(wanted.begin(), wanted.end(), c) != wanted.end(); });
    };
    if (systemError == ENOSPC || systemError == EDQUOT || systemError == EFBIG)
        return "Недостаточно места на диске.";
    if (systemError == EACCES || systemError == EPERM || systemError == EROFS
        || has({isc_no_priv, isc_read_only_database}))
        return "Нет прав на запись в файл проекта или в его папку.";
    if (has({isc_login}))
        return "Неверное имя пользователя или пароль.";
    if (has({isc_already_opened}))
        return "Файл проекта занят другой программой.";
    if (has({isc_lock_conflict, isc_update_conflict, isc_deadlock}))
        return "Эти записи проекта сейчас сохраняет другое рабочее место.";
    if (has({isc_shutdown, isc_att_shutdown, isc_conn_lost, isc_network_error, isc_net_read_err,
            isc_net_write_err, isc_lost_db_connection}))
        return "Связь с базой данных проекта прервана.";
    return {};
}

void PrepareFirebirdEnvironment()
{
    std::call_once(g_environmentOnce, [] {
        if (std::getenv("FIREBIRD_LOCK"))
            return;
        std::string base;
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
            runtime && *runtime && access(runtime, W_OK) == 0)
            base = runtime;
        else
            base = "/tmp";
        std::string dir = base + "/cement-lab-firebird-" + std::to_string(getuid());
        if (!OwnedPrivateDirectory(dir)) {
            // Someone else holds that name: take a fresh one.
            std::string pattern = base + "/cement-lab-firebird-XXXXXX";
            if (!mkdtemp(pattern.data()))
                return; // the engine will report what it cannot open
            dir = pattern;
        }
        setenv("FIREBIRD_LOCK", dir.c_str(), 0);
    });
}

namespace {
constexpr double kFirstTimestampDay = -693593.0;    // 0001-01-01
constexpr double kPastLastTimestampDay = 2958466.0; // 10000-01-01
} // namespace

bool OleDateFitsTimestamp(double oleDate)
{
    // Whole days count back below zero, so -693593.5 is still 0001-01-01 at noon; the last
    // tick of 9999 must not round up into the year 10000.
    return std::isfinite(oleDate) && oleDate > kFirstTimestampDay - 1.0
        && oleDate < kPastLastTimestampDay - 1.0 / kTicksPerDay;
}

std::int64_t OleDateToTimestampTicks(double oleDate)
{
    if (std::isnan(oleDate))
        return std::numeric_limits<std::int64_t>::min();
    oleDate = std::clamp(oleDate, kFirstTimestampDay - 1.0, kPastLastTimestampDay);
    // An OLE date below zero counts whole days backwards but its fraction forwards.
    const double days = std::trunc(oleDate);
    const double fraction = std::fabs(oleDate - days);
    std::int64_t ticks = static_cast<std::int64_t>(days) * kTicksPerDay
        + static_cast<std::int64_t>(std::llround(fraction * kTicksPerDay));
    return ticks + kOleEpochInMjd * kTicksPerDay;
}

double TimestampTicksToOleDate(std::int64_t ticks)
{
    ticks -= kOleEpochInMjd * kTicksPerDay;
    std::int64_t days = ticks / kTicksPerDay;
    std::int64_t rest = ticks % kTicksPerDay;
    if (rest < 0) {
        days -= 1;
        rest += kTicksPerDay;
    }
    const double fraction = static_cast<double>(rest) / kTicksPerDay;
    // Before 1899-12-30 the day counts back while the fraction still counts forward.
    if (days < 0)
        return static_cast<double>(days) - fraction;
    return static_cast<double>(days) + fraction;
}

std::string AbsoluteFileName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved))
        return path;
    std::string out = resolved;
    if (out.back() != '/')
        out += '/';
    return out + name;
}

std::string ColonFreeFolderFor(const std::string& absolutePath)
{
    const std::size_t slash = absolutePath.rfind('/');
    if (slash == std::string::npos)
        return {};
    std::string folder = slash == 0 ? "/" : absolutePath.substr(0, slash);
    struct stat own
    { };
    if (::stat(folder.c_str(), &own) != 0)
        return {};
    for (;;) {
        struct stat st
        { };
        if (::stat(folder.c_str(), &st) != 0 || st.st_dev != own.st_dev)
            return {};
        if (folder.find(':') == std::string::npos)
            return folder;
        const std::size_t up = folder.rfind('/');
        if (up == std::string::npos)
            return {};
        folder = up == 0 ? "/" : folder.substr(0, up);
    }
}

std::string ParseNamedParameters(std::string_view sql, std::vector<std::string>& names)
{
    names.clear();
    std::string out;
    out.reserve(sql.size());
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            out += c;
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == '?' || c == ':') {
            std::size_t j = i + 1;
            while (j < sql.size()
                && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_' || sql[j] == '$'))
                ++j;
            if (c == ':' && j == i + 1) {
                out += c;
                continue;
            }
            names.emplace_back(sql.substr(i + 1, j - i - 1));
            out += '?';
            i = j - 1;
            continue;
        }
        out += c;
    }
    return out;
}

std::string QuoteSqlString(std::string_view text)
{
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

TConnection::TConnection() = default;

TConnection::~TConnection()
{
    Abandon();
}

void TConnection::CreateDatabase(const std::string& statement)
{
    if (m_attachment)
        throw TDatabaseError("already connected");
    TUtf8NamesScope names;
    m_attachment = Call([&](ThrowStatusWrapper* st) {
        FB_BOOLEAN isCreate = 0;
        return Master()->getUtilInterface()->executeCreateDatabase(
            st, static_cast<unsigned>(statement.size()), statement.c_str(), kDialect, &isCreate);
    });
}

void TConnection::Attach(
    const std::string& path, const std::string& user, const std::string& password, const std::string& charset)
{
    if (m_attachment)
        throw TDatabaseError("already connected");
    TUtf8NamesScope names;
    m_attachment = Call([&](ThrowStatusWrapper* st) {
        IXpbBuilder* dpb = Master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0);
        struct TDispose
        {
            IXpbBuilder* b;
            ~TDispose() { b->dispose(); }
        } dispose{dpb};
        dpb->insertString(st, isc_dpb_user_name, user.c_str());
        dpb->insertString(st, isc_dpb_password, password.c_str());
        dpb->insertString(st, isc_dpb_lc_ctype, charset.c_str());
        dpb->insertInt(st, isc_dpb_sql_dialect, kDialect);
        return Master()->getDispatcher()->attachDatabase(
            st, path.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st));
    });
}

void TConnection::AttachLocalFile(
    const std::string& path, const std::string& user, const std::string& password, const std::string& charset)
{
    const std::string absolute = AbsoluteFileName(path);
    if (absolute.find(':') == std::string::npos) {
        Attach(absolute, user, password, charset);
        return;
    }
    const std::string folder = ColonFreeFolderFor(absolute);
    if (folder.empty())
        throw TDatabaseError(
            "Имя файла проекта с двоеточием: не найдена папка для его открытия.\n" + absolute);
    // The engine keeps the file open by its handle: the extra name lives only for the attach.
    std::string link;
    for (int attempt = 0; attempt < 100 && link.empty(); ++attempt) {
        std::string candidate
            = folder + "/.cement-lab-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".fdb";
        if (::link(absolute.c_str(), candidate.c_str()) == 0)
            link = std::move(candidate);
        else if (errno != EEXIST)
            break;
    }
    if (link.empty())
        throw TDatabaseError("Не удалось открыть файл проекта с двоеточием в имени: "
            + std::string(std::strerror(errno)) + "\n" + absolute);
    try {
        Attach(link, user, password, charset);
    } catch (...) {
        ::unlink(link.c_str());
        throw;
    }
    ::unlink(link.c_str());
}

bool TConnection::Ping()
{
    if (!m_attachment)
        return false;
    try {
        Call([&](ThrowStatusWrapper* st) { m_attachment->ping(st); });
    } catch (const TDatabaseError& error) {
        if (error.ConnectionLost())
            return false;
        throw;
    }
    return true;
}

void TConnection::Detach()
{
    if (!m_attachment)
        return;
    if (m_transaction) {
        Call([&](ThrowStatusWrapper* st) { m_transaction->commit(st); });
        m_transaction = nullptr;
    }
    Call([&](ThrowStatusWrapper* st) { m_attachment->detach(st); });
    m_attachment = nullptr;
}

void TConnection::Abandon() noexcept
{
    if (m_transaction) {
        try {
            Call([&](ThrowStatusWrapper* st) { m_transaction->rollback(st); });
        } catch (...) {
            m_transaction->release();
        }
        m_transaction = nullptr;
    }
    if (m_attachment) {
        try {
            Call([&](ThrowStatusWrapper* st) { m_attachment->detach(st); });
        } catch (...) {
            m_attachment->release();
        }
        m_attachment = nullptr;
    }
}

void TConnection::StartTransaction()
{
    if (!m_attachment)
        throw TDatabaseError("no database connection");
    if (m_transaction)
        return;
    m_transaction = Call([&](ThrowStatusWrapper* st) {
        IXpbBuilder* tpb = Master()->getUtilInterface()->getXpbBuilder(st, IXpbBuilder::TPB, nullptr, 0);
        struct TDispose
        {
            IXpbBuilder* b;
            ~TDispose() { b->dispose(); }
        } dispose{tpb};
        tpb->insertTag(st, isc_tpb_write);
        tpb->insertTag(st, isc_tpb_nowait);
        tpb->insertTag(st, isc_tpb_rec_version);
        tpb->insertTag(st, isc_tpb_read_committed);
        return m_attachment->startTransaction(st, tpb->getBufferLength(st), tpb->getBuffer(st));
    });
}

ITransaction* TConnection::Transaction()
{
    StartTransaction();
    return m_transaction;
}

void TConnection::CommitRetaining()
{
    if (m_transaction)
        Call([&](ThrowStatusWrapper* st) { m_transaction->commitRetaining(st); });
}

void TConnection::RollbackRetaining()
{
    if (m_transaction)
        Call([&](ThrowStatusWrapper* st) { m_transaction->rollbackRetaining(st); });
}

void TConnection::ExecuteImmediate(const std::string& sql)
{
    ITransaction* tra = Transaction();
    Call([&](ThrowStatusWrapper* st) {
        m_attachment->execute(st, tra, static_cast<unsigned>(sql.size()), sql.c_str(), kDialect, nullptr,
            nullptr, nullptr, nullptr);
    });
}

std::string TConnection::ReadBlob(TBlobId id)
{
    ITransaction* tra = Transaction();
    ISC_QUAD quad = LoadLE<ISC_QUAD>(reinterpret_cast<const unsigned char*>(&id.Id));
    return Call([&](ThrowStatusWrapper* st) {
        IBlob* blob = m_attachment->openBlob(st, tra, &quad, 0, nullptr);
        std::string bytes;
        try {
            // Sized once from the blob's own length, so a project in memory costs its bytes.
            const unsigned char item = isc_info_blob_total_length;
            unsigned char info[16] = {};
            blob->getInfo(st, 1, &item, sizeof info, info);
            if (info[0] == isc_info_blob_total_length) {
                const unsigned len = info[1] | (info[2] << 8);
                std::uint64_t total = 0;
                for (unsigned k = 0; k < len && k < 8; ++k)
                    total |= std::uint64_t{info[3 + k]} << (8 * k);
                bytes.reserve(total + 1);
            }
            std::size_t used = 0;
            for (;;) {
                const std::size_t room = std::max<std::size_t>(bytes.capacity() - used, 1);
                const unsigned ask = static_cast<unsigned>(std::min<std::size_t>(room, 65535));
                bytes.resize(used + ask);
                unsigned got = 0;
                const int rc = blob->getSegment(st, ask, bytes.data() + used, &got);
                used += got;
                if (rc == IStatus::RESULT_NO_DATA)
                    break;
            }
            bytes.resize(used);
            blob->close(st);
        } catch (...) {
            blob->release();
            throw;
        }
        return bytes;
    });
}

std::unique_ptr<TStatement> TConnection::Prepare(const std::string& sql)
{
    std::vector<std::string> names;
    const std::string text = ParseNamedParameters(sql, names);
    ITransaction* tra = Transaction();
    IStatement* statement = Call([&](ThrowStatusWrapper* st) {
        return m_attachment->prepare(st, tra, static_cast<unsigned>(text.size()), text.c_str(), kDialect,
            IStatement::PREPARE_PREFETCH_METADATA);
    });
    return std::unique_ptr<TStatement>(new TStatement(*this, statement, std::move(names)));
}

// ---------------------------------------------------------------------------------------------

TStatement::TStatement(TConnection& connection, IStatement* statement, std::vector<std::string> names)
    : m_connection(connection)
    , m_statement(statement)
    , m_paramNames(std::move(names))
{
    try {
        Call([&](ThrowStatusWrapper* st) {
            m_inMeta = m_statement->getInputMetadata(st);
            m_outMeta = m_statement->getOutputMetadata(st);
            m_inBuffer.assign(m_inMeta->getMessageLength(st), 0);
            m_outBuffer.assign(m_outMeta->getMessageLength(st), 0);
        });
        m_params = Describe(m_inMeta);
        m_columns = Describe(m_outMeta);
        if (m_paramNames.size() != m_params.size())
            m_paramNames.resize(m_params.size());
        for (std::size_t i = 0; i < m_params.size(); ++i)
            StoreLE<short>(m_inBuffer.data() + m_params[i].NullOffset, 0, -1);
    } catch (...) {
        if (m_inMeta)
            m_inMeta->release();
        if (m_outMeta)
            m_outMeta->release();
        m_statement->release();
        throw;
    }
}

TStatement::~TStatement()
{
    CloseCursor();
    if (m_inMeta)
        m_inMeta->release();
    if (m_outMeta)
        m_outMeta->release();
    if (m_statement) {
        try {
            Call([&](ThrowStatusWrapper* st) { m_statement->free(st); });
        } catch (...) {
            m_statement->release();
        }
    }
}

std::vector<TStatement::TField> TStatement::Describe(IMessageMetadata* metadata)
{
    return Call([&](ThrowStatusWrapper* st) {
        std::vector<TField> fields(metadata->getCount(st));
        for (unsigned i = 0; i < fields.size(); ++i) {
            TField& f = fields[i];
            const char* alias = metadata->getAlias(st, i);
            f.Name = alias ? alias : "";
            f.SqlType = metadata->getType(st, i) & ~1u;
            f.Length = metadata->getLength(st, i);
            f.Scale = metadata->getScale(st, i);
            f.Offset = metadata->getOffset(st, i);
            f.NullOffset = metadata->getNullOffset(st, i);
            switch (f.SqlType) {
            case SQL_SHORT:
            case SQL_LONG:
            case SQL_INT64:
                f.Type = f.Scale == 0 ? TColumnType::Integer : TColumnType::Other;
                break;
            case SQL_DOUBLE:
                f.Type = TColumnType::Double;
                break;
            case SQL_TIMESTAMP:
                f.Type = TColumnType::DateTime;
                break;
            case SQL_TEXT:
            case SQL_VARYING:
                f.Type = TColumnType::Text;
                break;
            case SQL_BLOB:
                f.Type = TColumnType::Blob;
                break;
            default:
                f.Type = TColumnType::Other;
            }
        }
        return fields;
    });
}

void TStatement::WriteBlob(const std::string& bytes, unsigned char* target)
{
    ITransaction* tra = m_connection.Transaction();
    ISC_QUAD id{};
    Call([&](ThrowStatusWrapper* st) {
        IBlob* blob = m_connection.Attachment()->createBlob(st, tra, &id, 0, nullptr);
        try {
            for (std::size_t pos = 0; pos < bytes.size(); pos += kBlobChunk) {
                const auto n = static_cast<unsigned>(std::min<std::size_t>(kBlobChunk, bytes.size() - pos));
                blob->putSegment(st, n, bytes.data() + pos);
            }
            blob->close(st);
        } catch (...) {
            blob->release();
            throw;
        }
    });
    StoreLE(target, 0, id);
}

void TStatement::SetParam(std::size_t index, const TValue& value)
{
    if (index >= m_params.size())
        throw TDatabaseError("parameter index out of range");
    const TField& f = m_params[index];
    unsigned char* data = m_inBuffer.data() + f.Offset;
    unsigned char* null = m_inBuffer.data() + f.NullOffset;
    if (IsNull(value)) {
        StoreLE<short>(null, 0, -1);
        return;
    }
    switch (f.SqlType) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        const auto* i = std::get_if<std::int64_t>(&value);
        if (!i)
            throw TDatabaseError("parameter " + m_paramNames[index] + ": an integer is expected");
        if (f.SqlType == SQL_SHORT)
            StoreLE<std::int16_t>(data, 0, static_cast<std::int16_t>(*i));
        else if (f.SqlType == SQL_LONG)
            StoreLE<std::int32_t>(data, 0, static_cast<std::int32_t>(*i));
        else
            StoreLE<std::int64_t>(data, 0, *i);
        break;
    }
    case SQL_DOUBLE: {
        const auto* x = std::get_if<double>(&value);
        if (!x)
            throw TDatabaseError("parameter " + m_paramNames[index] + ": a number is expected");
        StoreLE<double>(data, 0, *x);
        break;
    }
    case SQL_TIMESTAMP: {
        const auto* d = std::get_if<TDateTime>(&value);
        if (!d)
            throw TDatabaseError("parameter " + m_paramNames[index] + ": a date-time is expected");
        if (!OleDateFitsTimestamp(d->Value))
            throw TDatabaseError(
                "Дата и время вне допустимого диапазона (годы 1–9999): " + m_paramNames[index]);
        const std::int64_t ticks = OleDateToTimestampTicks(d->Value);
        // Before 1858-11-17 the ticks are negative: the day rounds down, the time stays forward.
        std::int64_t day = ticks / kTicksPerDay;
        std::int64_t time = ticks % kTicksPerDay;
        if (time < 0) {
            day -= 1;
            time += kTicksPerDay;
        }
        ISC_TIMESTAMP ts;
        ts.timestamp_date = static_cast<ISC_DATE>(day);
        ts.timestamp_time = static_cast<ISC_TIME>(time);
        StoreLE(data, 0, ts);
        break;
    }
    case SQL_TEXT:
    case SQL_VARYING: {
        const auto* s = std::get_if<std::string>(&value);
        if (!s)
            throw TDatabaseError("parameter " + m_paramNames[index] + ": text is expected");
        const std::size_t n = std::min<std::size_t>(s->size(), f.Length);
        if (f.SqlType == SQL_TEXT) {
            std::memset(data, ' ', f.Length);
            std::memcpy(data, s->data(), n);
        } else {
            StoreLE<std::uint16_t>(data, 0, static_cast<std::uint16_t>(n));
            std::memcpy(data + 2, s->data(), n);
        }
        break;
    }
    case SQL_BLOB: {
        if (const auto* id = std::get_if<TBlobId>(&value)) {
            StoreLE(data, 0, id->Id);
            break;
        }
        const auto* s = std::get_if<std::string>(&value);
        if (!s)
            throw TDatabaseError("parameter " + m_paramNames[index] + ": bytes are expected");
        WriteBlob(*s, data);
        break;
    }
    default:
        throw TDatabaseError("parameter " + m_paramNames[index] + ": unsupported type");
    }
    StoreLE<short>(null, 0, 0);
}

std::uint64_t TStatement::Execute()
{
    CloseCursor();
    ITransaction* tra = m_connection.Transaction();
    return Call([&](ThrowStatusWrapper* st) {
        m_statement->execute(st, tra, m_inMeta, m_inBuffer.data(), m_outMeta, m_outBuffer.data());
        return static_cast<std::uint64_t>(m_statement->getAffectedRecords(st));
    });
}

void TStatement::Open()
{
    CloseCursor();
    ITransaction* tra = m_connection.Transaction();
    m_cursor = Call([&](ThrowStatusWrapper* st) {
        return m_statement->openCursor(st, tra, m_inMeta, m_inBuffer.data(), m_outMeta, 0);
    });
}

bool TStatement::Fetch()
{
    if (!m_cursor)
        return false;
    return Call([&](ThrowStatusWrapper* st) {
        return m_cursor->fetchNext(st, m_outBuffer.data()) == IStatus::RESULT_OK;
    });
}

void TStatement::CloseCursor()
{
    if (!m_cursor)
        return;
    try {
        Call([&](ThrowStatusWrapper* st) { m_cursor->close(st); });
    } catch (...) {
        m_cursor->release();
    }
    m_cursor = nullptr;
}

TValue TStatement::Column(std::size_t i)
{
    const TField& f = m_columns.at(i);
    const unsigned char* data = m_outBuffer.data() + f.Offset;
    if (LoadLE<short>(m_outBuffer.data() + f.NullOffset))
        return {};
    switch (f.SqlType) {
    case SQL_SHORT:
        return std::int64_t{LoadLE<std::int16_t>(data)};
    case SQL_LONG:
        return std::int64_t{LoadLE<std::int32_t>(data)};
    case SQL_INT64:
        return LoadLE<std::int64_t>(data);
    case SQL_DOUBLE:
        return LoadLE<double>(data);
    case SQL_TIMESTAMP: {
        const auto ts = LoadLE<ISC_TIMESTAMP>(data);
        return TDateTime{
            TimestampTicksToOleDate(std::int64_t{ts.timestamp_date} * kTicksPerDay + ts.timestamp_time)};
    }
    case SQL_TEXT:
        return std::string(reinterpret_cast<const char*>(data), f.Length);
    case SQL_VARYING:
        return std::string(reinterpret_cast<const char*>(data) + 2, LoadLE<std::uint16_t>(data));
    case SQL_BLOB: {
        const auto id = LoadLE<std::uint64_t>(data);
        if (f.Lazy)
            return TBlobId{id};
        return m_connection.ReadBlob(TBlobId{id});
    }
    default:
        throw TDatabaseError("column " + f.Name + ": unsupported type");
    }
}
