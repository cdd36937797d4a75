#pragma once

// The bare client API over a project file, for the baselines the benchmarks are measured
// against: one attachment, one transaction, the result table fetched with its blob ids.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TRawRow
{
    std::int32_t Key = 0;
    std::uint64_t Date = 0; // the ISC_TIMESTAMP bytes of MEASURE_DATE
    std::uint64_t Time = 0;
    std::int32_t Number = 0;
    std::uint64_t Data = 0; // blob id, 0 when NULL
    std::uint64_t Comment = 0;
};

class TRawProject
{
public:
    explicit TRawProject(const std::string& path);
    ~TRawProject();
    TRawProject(const TRawProject&) = delete;
    TRawProject& operator=(const TRawProject&) = delete;

    // SELECT * of the result table in the list's order; no blob is opened.
    std::vector<TRawRow> FetchRows();
    // The whole blob.
    std::string ReadBlob(std::uint64_t id);

private:
    struct TImpl;
    std::unique_ptr<TImpl> m_impl;
};
