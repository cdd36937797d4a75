#include "bench/support/BenchProject.h"

#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <numbers>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

#ifndef CEMENTLAB_BENCH_DATA_DIR
#define CEMENTLAB_BENCH_DATA_DIR "bench-data"
#endif

namespace {

// Raise whenever MakeBenchRecord or the way a project is written changes: every cached
// project is then written again.
constexpr int kGeneratorVersion = 1;
// Records made and stored at a time: about 35 MB of samples.
constexpr int kBatch = 500;

std::string StampText(int records)
{
    return "cement-lab bench project, generator " + std::to_string(kGeneratorVersion) + ": "
        + std::to_string(records) + " records of 4 x 4320 samples\n";
}

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One process at a time checks and writes the folder's projects.
class TFolderLock
{
public:
    explicit TFolderLock(const std::filesystem::path& folder)
        : m_fd(open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
    {
        if (m_fd >= 0)
            flock(m_fd, LOCK_EX);
    }
    ~TFolderLock()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

private:
    int m_fd;
};

void WriteProject(const std::string& path, int records)
{
    const auto start = std::chrono::steady_clock::now();
    TMainDataModule store;
    if (!store.CreateProjectDatabase(path) || !store.OpenProjectDatabase(path)) {
        std::fprintf(stderr, "cannot create the bench project %s\n", path.c_str());
        std::exit(1);
    }
    for (int first = 0; first < records; first += kBatch) {
        TArrayOfMsrResult batch;
        for (int i = first; i < std::min(records, first + kBatch); ++i)
            batch.push_back(MakeBenchRecord(i));
        store.StoreMsrResults(batch);
        store.ApplyChanges();
        const int done = std::min(records, first + kBatch);
        if (done % 5000 == 0 || done == records)
            std::fprintf(stderr, "  %d of %d records written, %.0f s\n", done, records,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    store.CloseProjectDatabase();
}

} // namespace

TMsrResult MakeBenchRecord(int index)
{
    std::uint64_t state = Mix(static_cast<std::uint64_t>(index) + 1);
    auto uniform = [&state] {
        state = Mix(state);
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    TMsrResult r;
    r.BeginDateTime = 45000.0 + index / 8.0;
    r.DataVersion = MSR_DATA_VERSION;
    r.MeasureNumber = index % 1000 + 1;
    r.CementMass = 380 + static_cast<std::uint32_t>(uniform() * 41);
    r.ExpCementGrade = 2 + static_cast<std::uint32_t>(uniform() * 4);
    r.Supplier = static_cast<std::uint32_t>(uniform() * 7);
    r.Duration = 43200;
    r.Period = 10;
    const double days = uniform();
    r.ConcretionTime = days < 0.1 ? 2 : (days < 0.25 ? 7 : 28);
    r.VolumeOffset = 0.01f * static_cast<float>(static_cast<int>(uniform() * 5));

    // Contraction: a dormant spell, then a rise that slows down; 4 to 9 ml per 1000 g after
    // 12 hours. Temperature: the room plus the heat of hydration peaking after 6 to 10 h.
    const double mass = r.CementMass / 1000.0;
    const double total = (4.0 + 5.0 * uniform()) * mass;
    const double dormant = 600.0 + 1800.0 * uniform();
    const double tau = 3600.0 * (3.0 + 5.0 * uniform());
    const double scale = total / (1.0 - std::exp(-(r.Duration - dormant) / tau));
    const double room = 19.0 + 3.0 * uniform();
    const double heat = 1.5 + 2.5 * uniform();
    const double peak = 3600.0 * (6.0 + 4.0 * uniform());
    const double r0 = 150.0 + 100.0 * uniform();
    const double r1 = 1500.0 + 1000.0 * uniform();
    const double dayStart = r.BeginDateTime - std::floor(r.BeginDateTime);
    const std::uint32_t n = r.SampleCount();
    r.Data.assign(4, TSampleArray(n));
    for (std::uint32_t j = 0; j < n; ++j) {
        const double t = static_cast<double>(j) * r.Period;
        const double rise = t > dormant ? scale * (1.0 - std::exp(-(t - dormant) / tau)) : 0.0;
        r.Data[MSR_VOLUME][j] = static_cast<float>(r.VolumeOffset + rise + 0.004 * (uniform() - 0.5));
        r.Data[MSR_TEMPERATURE][j] = static_cast<float>(
            room + heat * (t / peak) * std::exp(1.0 - t / peak) + 0.04 * (uniform() - 0.5));
        r.Data[MSR_TEMPERATURE2][j] = static_cast<float>(room
            + 0.4 * std::sin(2.0 * std::numbers::pi * (dayStart + t / 86400.0)) + 0.04 * (uniform() - 0.5));
        r.Data[MSR_RESISTANCE][j]
            = static_cast<float>(r0 + r1 * (1.0 - std::exp(-t / 36000.0)) + 2.0 * (uniform() - 0.5));
    }
    return r;
}

std::string BenchDataFolder()
{
    const char* chosen = std::getenv("CEMENTLAB_BENCH_DATA");
    return chosen && *chosen ? chosen : CEMENTLAB_BENCH_DATA_DIR;
}

std::string BenchProject(int records)
{
    const std::filesystem::path folder = std::filesystem::absolute(BenchDataFolder());
    std::filesystem::create_directories(folder);
    TFolderLock lock(folder);
    const std::filesystem::path project = folder / ("large-" + std::to_string(records) + ".fdb");
    std::filesystem::path stamp = project;
    stamp += ".stamp";
    if (std::filesystem::exists(project) && ReadText(stamp) == StampText(records)) {
        Execute(project.string(), "DELETE FROM MEASURE_RESULT_TABLE WHERE MEASURE_DATE >= ?",
            {TDateTime{kBenchAppendedStart}});
        return project.string();
    }
    // Written under another name and renamed when whole, so an interrupted run leaves no
    // project that looks finished.
    std::filesystem::remove(stamp);
    std::filesystem::remove(project);
    std::filesystem::path partial = project;
    partial += ".part";
    std::filesystem::remove(partial);
    std::fprintf(stderr, "writing %s (%d records, once)\n", project.c_str(), records);
    WriteProject(partial.string(), records);
    std::filesystem::rename(partial, project);
    std::ofstream(stamp) << StampText(records);
    return project.string();
}

TProcessMemory ReadProcessMemory()
{
    TProcessMemory memory;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        double* target = line.rfind("VmRSS:", 0) == 0 ? &memory.Resident
            : line.rfind("VmHWM:", 0) == 0            ? &memory.Peak
                                                      : nullptr;
        if (target)
            *target = std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return memory;
}

bool ResetPeakMemory()
{
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    refs.flush();
    return static_cast<bool>(refs);
}

void ReleaseFreeMemory()
{
    malloc_trim(0);
}
