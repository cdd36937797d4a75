// Open and save of a 1000-record project against the bare client API in the same run.
//   build/bench/store/StoreBench
#include "store/MainDataModuleUnit.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>
#include <firebird/Interface.h>
#include <ibase.h>

#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <map>
#include <unistd.h>

namespace {

constexpr int kRecords = 1000;
constexpr std::uint32_t kSamples = 4320;

TMsrResult FullRecord(int i)
{
    TMsrResult r;
    r.BeginDateTime = 45000.0 + i / 8.0;
    r.DataVersion = MSR_DATA_VERSION;
    r.MeasureNumber = i;
    r.CementMass = 400;
    r.Duration = kSamples * 10;
    r.Period = 10;
    r.ConcretionTime = 28;
    r.Data.assign(4, TSampleArray(kSamples));
    for (auto& a : r.Data)
        for (std::uint32_t j = 0; j < kSamples; ++j)
            a[j] = static_cast<float>(i + j) * 0.001f;
    return r;
}

TTempDir& Dir()
{
    static TTempDir dir;
    return dir;
}

const std::string& FullProject()
{
    static const std::string path = [] {
        const std::string p = Dir().File("full.fdb");
        TMainDataModule m;
        m.CreateProjectDatabase(p);
        m.OpenProjectDatabase(p);
        TArrayOfMsrResult list;
        for (int i = 0; i < kRecords; ++i)
            list.push_back(FullRecord(i));
        m.StoreMsrResults(list);
        m.ApplyChanges();
        m.CloseProjectDatabase();
        return p;
    }();
    return path;
}

// Heap bytes in use by the open project, against the blob bytes it holds.
void PrintOpenMemory()
{
    TMainDataModule m;
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    m.OpenProjectDatabase(FullProject());
    const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    const double blobBytes = static_cast<double>(kRecords) * 69172;
    std::printf("memory after open: %.1f MB for %.1f MB of blobs, ratio %.2f (limit 1.50)\n",
        (after - before) / 1e6, blobBytes / 1e6, (after - before) / blobBytes);
}

// ---- bare OO API -----------------------------------------------------------------------------

using namespace Firebird;

struct TRaw
{
    IMaster* master = fb_get_master_interface();
    IStatus* status = master->getStatus();
    ThrowStatusWrapper st{status};
    IAttachment* att = nullptr;
    ITransaction* tra = nullptr;

    explicit TRaw(const std::string& path)
    {
        IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&st, isc_dpb_password, "vaultword");
        dpb->insertString(&st, isc_dpb_lc_ctype, "ASCII");
        att = master->getDispatcher()->attachDatabase(
            &st, path.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
        dpb->dispose();
        tra = att->startTransaction(&st, 0, nullptr);
    }
    ~TRaw()
    {
        tra->commit(&st);
        att->detach(&st);
        status->dispose();
    }
};

struct TPlainRow
{
    ISC_TIMESTAMP date, time;
    int number, key;
    std::vector<char> data, comment;
};

std::vector<char> ReadRawBlob(TRaw& raw, ISC_QUAD id)
{
    static thread_local std::vector<char> scratch(1 << 20);
    IBlob* blob = raw.att->openBlob(&raw.st, raw.tra, &id, 0, nullptr);
    std::size_t used = 0;
    for (;;) {
        unsigned got = 0;
        const unsigned ask = static_cast<unsigned>(std::min<std::size_t>(65535, scratch.size() - used));
        const int rc = blob->getSegment(&raw.st, ask, scratch.data() + used, &got);
        used += got;
        if (rc == IStatus::RESULT_NO_DATA || used == scratch.size())
            break;
    }
    blob->close(&raw.st);
    return std::vector<char>(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(used));
}

void BM_OpenRaw(benchmark::State& state)
{
    const std::string& path = FullProject();
    for (auto _ : state) {
        std::vector<TPlainRow> rows;
        TRaw raw(path);
        const char* sql
            = "SELECT * FROM MEASURE_RESULT_TABLE ORDER BY MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER DESC";
        IStatement* stmt
            = raw.att->prepare(&raw.st, raw.tra, 0, sql, 3, IStatement::PREPARE_PREFETCH_METADATA);
        IMessageMetadata* meta = stmt->getOutputMetadata(&raw.st);
        std::vector<unsigned char> buffer(meta->getMessageLength(&raw.st));
        unsigned off[6], nul[6];
        for (unsigned i = 0; i < 6; ++i) {
            off[i] = meta->getOffset(&raw.st, i);
            nul[i] = meta->getNullOffset(&raw.st, i);
        }
        IResultSet* rs = stmt->openCursor(&raw.st, raw.tra, nullptr, nullptr, meta, 0);
        while (rs->fetchNext(&raw.st, buffer.data()) == IStatus::RESULT_OK) {
            TPlainRow row;
            std::memcpy(&row.key, &buffer[off[0]], 4);
            std::memcpy(&row.date, &buffer[off[1]], 8);
            std::memcpy(&row.time, &buffer[off[2]], 8);
            std::memcpy(&row.number, &buffer[off[3]], 4);
            ISC_QUAD id;
            if (!*reinterpret_cast<short*>(&buffer[nul[4]])) {
                std::memcpy(&id, &buffer[off[4]], 8);
                row.data = ReadRawBlob(raw, id);
            }
            if (!*reinterpret_cast<short*>(&buffer[nul[5]])) {
                std::memcpy(&id, &buffer[off[5]], 8);
                row.comment = ReadRawBlob(raw, id);
            }
            rows.push_back(std::move(row));
        }
        rs->close(&raw.st);
        meta->release();
        stmt->free(&raw.st);
        benchmark::DoNotOptimize(rows.data());
    }
}

void BM_OpenStore(benchmark::State& state)
{
    const std::string& path = FullProject();
    for (auto _ : state) {
        TMainDataModule m;
        if (!m.OpenProjectDatabase(path) || m.GetRecordCount() != kRecords)
            state.SkipWithError("open failed");
        m.CloseProjectDatabase();
    }
}

std::string EmptyProject(const std::string& name)
{
    const std::string p = Dir().File(name);
    unlink(p.c_str());
    TMainDataModule m;
    m.CreateProjectDatabase(p);
    return p;
}

void BM_SaveRaw(benchmark::State& state)
{
    const std::string blob = EncodeMsrResult(FullRecord(1));
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = EmptyProject("raw-save.fdb");
        state.ResumeTiming();
        TRaw raw(path);
        const char* sql
            = "INSERT INTO MEASURE_RESULT_TABLE(MEASURE_RESULT_TABLE_PK, MEASURE_DATE, MEASURE_TIME, "
              "MEASURE_NUMBER, MEASURE_DATA, MEASURE_COMMENT) VALUES (?, ?, ?, ?, ?, ?)";
        IStatement* stmt
            = raw.att->prepare(&raw.st, raw.tra, 0, sql, 3, IStatement::PREPARE_PREFETCH_METADATA);
        IMessageMetadata* meta = stmt->getInputMetadata(&raw.st);
        std::vector<unsigned char> buffer(meta->getMessageLength(&raw.st));
        unsigned off[6], nul[6];
        for (unsigned i = 0; i < 6; ++i) {
            off[i] = meta->getOffset(&raw.st, i);
            nul[i] = meta->getNullOffset(&raw.st, i);
            std::memset(&buffer[nul[i]], 0, 2);
        }
        *reinterpret_cast<short*>(&buffer[nul[5]]) = -1;
        for (int i = 0; i < kRecords; ++i) {
            const int key = i + 1;
            ISC_TIMESTAMP ts{static_cast<ISC_DATE>(60018 + i / 8), 0};
            std::memcpy(&buffer[off[0]], &key, 4);
            std::memcpy(&buffer[off[1]], &ts, 8);
            std::memcpy(&buffer[off[2]], &ts, 8);
            std::memcpy(&buffer[off[3]], &i, 4);
            ISC_QUAD id;
            IBlob* b = raw.att->createBlob(&raw.st, raw.tra, &id, 0, nullptr);
            for (std::size_t pos = 0; pos < blob.size(); pos += 32768)
                b->putSegment(&raw.st, static_cast<unsigned>(std::min<std::size_t>(32768, blob.size() - pos)),
                    blob.data() + pos);
            b->close(&raw.st);
            std::memcpy(&buffer[off[4]], &id, 8);
            stmt->execute(&raw.st, raw.tra, meta, buffer.data(), nullptr, nullptr);
        }
        raw.tra->commitRetaining(&raw.st);
        meta->release();
        stmt->free(&raw.st);
    }
}

void BM_SaveStore(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = EmptyProject("store-save.fdb");
        TMainDataModule m;
        m.OpenProjectDatabase(path);
        TArrayOfMsrResult list;
        for (int i = 0; i < kRecords; ++i)
            list.push_back(FullRecord(i));
        m.StoreMsrResults(list);
        state.ResumeTiming();
        m.ApplyChanges();
        state.PauseTiming();
        m.CloseProjectDatabase();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_OpenRaw)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SaveRaw)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveStore)->Unit(benchmark::kMillisecond)->Iterations(3);

class TRatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            m_ms[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    void Ratios() const
    {
        auto ratio = [&](const char* ours, const char* raw) {
            auto a = m_ms.find(ours), b = m_ms.find(raw);
            if (a != m_ms.end() && b != m_ms.end())
                std::printf("%-14s %9.1f ms   raw %9.1f ms   ratio %.2f (limit 1.30)\n", ours, a->second,
                    b->second, a->second / b->second);
        };
        ratio("BM_OpenStore/iterations:5", "BM_OpenRaw/iterations:5");
        ratio("BM_SaveStore/iterations:3", "BM_SaveRaw/iterations:3");
    }

private:
    std::map<std::string, double> m_ms;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    PrintOpenMemory();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Ratios();
    benchmark::Shutdown();
}
