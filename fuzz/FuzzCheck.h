#pragma once

// Invariants of the fuzz targets. A violated one aborts, so that libFuzzer keeps the input
// and reports it as a crash; NDEBUG builds must not lose them, hence no assert.

#include "store/MsrResult.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

[[noreturn]] inline void FuzzFail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant violated: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void(0) : FuzzFail(#condition, __FILE__, __LINE__))

// Bit for bit, so that NaN samples compare equal to themselves.
inline bool SameMsrResult(const TMsrResult& a, const TMsrResult& b)
{
    if (std::bit_cast<std::uint64_t>(a.BeginDateTime) != std::bit_cast<std::uint64_t>(b.BeginDateTime)
        || a.DataVersion != b.DataVersion || a.MeasureNumber != b.MeasureNumber
        || a.CementMass != b.CementMass || a.ExpCementGrade != b.ExpCementGrade || a.Supplier != b.Supplier
        || a.Duration != b.Duration || a.Period != b.Period || a.ConcretionTime != b.ConcretionTime
        || std::bit_cast<std::uint32_t>(a.VolumeOffset) != std::bit_cast<std::uint32_t>(b.VolumeOffset)
        || std::bit_cast<std::uint32_t>(a.TempOffset) != std::bit_cast<std::uint32_t>(b.TempOffset)
        || a.Data.size() != b.Data.size())
        return false;
    for (std::size_t i = 0; i < a.Data.size(); ++i) {
        if (a.Data[i].size() != b.Data[i].size())
            return false;
        if (!a.Data[i].empty() && std::memcmp(a.Data[i].data(), b.Data[i].data(), 4 * a.Data[i].size()) != 0)
            return false;
    }
    return true;
}

// What a record reads back as once stored: the same, except that a record without samples
// keeps no arrays.
inline TMsrResult AsStored(TMsrResult record)
{
    if (record.SampleCount() == 0)
        record.Data.clear();
    return record;
}
