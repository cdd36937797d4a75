#include "bench/support/RawProject.h"

#include "store/Firebird.h"

#include <firebird/Interface.h>
#include <ibase.h>

#include <cstring>

using namespace Firebird;

struct TRawProject::TImpl
{
    IMaster* Master = fb_get_master_interface();
    IStatus* Status = Master->getStatus();
    ThrowStatusWrapper St{Status};
    IAttachment* Att = nullptr;
    ITransaction* Tra = nullptr;
};

TRawProject::TRawProject(const std::string& path)
    : m_impl(std::make_unique<TImpl>())
{
    PrepareFirebirdEnvironment();
    TImpl& r = *m_impl;
    IXpbBuilder* dpb = r.Master->getUtilInterface()->getXpbBuilder(&r.St, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&r.St, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&r.St, isc_dpb_password, "vaultword");
    dpb->insertString(&r.St, isc_dpb_lc_ctype, "ASCII");
    r.Att = r.Master->getDispatcher()->attachDatabase(
        &r.St, path.c_str(), dpb->getBufferLength(&r.St), dpb->getBuffer(&r.St));
    dpb->dispose();
    r.Tra = r.Att->startTransaction(&r.St, 0, nullptr);
}

TRawProject::~TRawProject()
{
    TImpl& r = *m_impl;
    r.Tra->commit(&r.St);
    r.Att->detach(&r.St);
    r.Status->dispose();
}

std::vector<TRawRow> TRawProject::FetchRows()
{
    TImpl& r = *m_impl;
    const char* sql
        = "SELECT * FROM MEASURE_RESULT_TABLE ORDER BY MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER DESC";
    IStatement* stmt = r.Att->prepare(&r.St, r.Tra, 0, sql, 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* meta = stmt->getOutputMetadata(&r.St);
    std::vector<unsigned char> buffer(meta->getMessageLength(&r.St));
    unsigned off[6], nul[6];
    for (unsigned i = 0; i < 6; ++i) {
        off[i] = meta->getOffset(&r.St, i);
        nul[i] = meta->getNullOffset(&r.St, i);
    }
    auto isNull = [&](int i) { return *reinterpret_cast<short*>(&buffer[nul[i]]) != 0; };
    std::vector<TRawRow> rows;
    IResultSet* rs = stmt->openCursor(&r.St, r.Tra, nullptr, nullptr, meta, 0);
    while (rs->fetchNext(&r.St, buffer.data()) == IStatus::RESULT_OK) {
        TRawRow row;
        std::memcpy(&row.Key, &buffer[off[0]], 4);
        std::memcpy(&row.Date, &buffer[off[1]], 8);
        std::memcpy(&row.Time, &buffer[off[2]], 8);
        std::memcpy(&row.Number, &buffer[off[3]], 4);
        if (!isNull(4))
            std::memcpy(&row.Data, &buffer[off[4]], 8);
        if (!isNull(5))
            std::memcpy(&row.Comment, &buffer[off[5]], 8);
        rows.push_back(row);
    }
    rs->close(&r.St);
    meta->release();
    stmt->free(&r.St);
    return rows;
}

std::string TRawProject::ReadBlob(std::uint64_t id)
{
    TImpl& r = *m_impl;
    ISC_QUAD quad;
    std::memcpy(&quad, &id, 8);
    IBlob* blob = r.Att->openBlob(&r.St, r.Tra, &quad, 0, nullptr);
    const unsigned char item = isc_info_blob_total_length;
    unsigned char info[16] = {};
    blob->getInfo(&r.St, 1, &item, sizeof info, info);
    std::size_t total = 0;
    if (info[0] == isc_info_blob_total_length)
        total = static_cast<std::size_t>(
            isc_portable_integer(info + 3, static_cast<short>(info[1] | info[2] << 8)));
    std::string bytes(total, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(used + 65535);
        unsigned got = 0;
        const unsigned ask = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - used, 65535));
        const int rc = blob->getSegment(&r.St, ask, bytes.data() + used, &got);
        used += got;
        if (rc == IStatus::RESULT_NO_DATA)
            break;
    }
    bytes.resize(used);
    blob->close(&r.St);
    return bytes;
}
