#pragma once

// Project files of many records for the benchmarks. Each is written once through the store
// (StoreMsrResults and ApplyChanges, a batch at a time, so the records being made never
// pile up) and kept in the build folder between runs; it is made again only when missing
// or when its stamp no longer matches what this code would write. Several benchmark
// programs share them, one at a time: the engine opens a file for one process only.

#include "store/MsrResult.h"

#include <string>

inline constexpr int kLargeProjectRecords = 25000;
inline constexpr int kReportProjectRecords = 1000;

// Record `index` of a bench project: 4 arrays of 4320 samples at 10 s, starting
// 45000.0 + index / 8.0 (three hours apart), with a contraction, temperature and
// resistance curve of its own.
TMsrResult MakeBenchRecord(int index);

// The first start after every record of any bench project: records a benchmark adds start
// here or later, so they are told apart from the project's own (and removed again).
inline constexpr double kBenchAppendedStart = 60000.0;

// Where the files live: $CEMENTLAB_BENCH_DATA, else bench-data in the build folder.
std::string BenchDataFolder();

// The path of a project of `records` bench records, written first when needed. Rows left
// by an interrupted benchmark (starting at kBenchAppendedStart or later) are removed.
std::string BenchProject(int records);

// Resident memory of this process from /proc/self/status, in MB.
struct TProcessMemory
{
    double Resident = 0.0; // VmRSS
    double Peak = 0.0;     // VmHWM
};
TProcessMemory ReadProcessMemory();
// Starts the peak over from the current resident size (clear_refs 5); false when the
// kernel does not allow it, and then the peak is that of the whole process.
bool ResetPeakMemory();
// Gives freed heap back to the system, so one benchmark's memory is not counted in the next.
void ReleaseFreeMemory();
