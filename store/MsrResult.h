#pragma once

// One measurement as the instrument delivers it and as a project stores it.
//
// Stored form (the MEASURE_DATA blob), little-endian, IEEE 754:
//   0  f64 BeginDateTime   OLE Automation date (days since 1899-12-30)
//   8  u32 DataVersion     always written as MSR_DATA_VERSION, not checked on reading
//  12  i32 MeasureNumber
//  16  u32 CementMass      grams, 0 = not given
//  20  u32 ExpCementGrade  0..6 = M-100..M-700, 7 = unknown
//  24  u32 Supplier        0..6
//  28  u32 Duration        seconds
//  32  u32 Period          seconds
//  36  i32 ConcretionTime  days
//  40  f32 VolumeOffset    ml, subtracted from every Volume sample
//  44  f32 TempOffset      carried along, never used
//  48  u32 reserved        written as 0, ignored on reading
//  52  k arrays of n f32 samples, n = Duration div Period, k = (length - 52) div (4 n);
//      bytes after the last whole array are dropped.
// A record with n = 0 (Period 0 or Duration < Period) has a header and no arrays.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::uint32_t MSR_DATA_VERSION = 65538; // 0x00010002
constexpr std::size_t MSR_HEADER_SIZE = 52;
constexpr std::int32_t DEFAULT_CONCRETION_TIME = 28;

// Indexes of the arrays in Data.
enum TMsrArray : std::size_t
{
    MSR_VOLUME = 0,
    MSR_TEMPERATURE = 1,
    MSR_TEMPERATURE2 = 2,
    MSR_RESISTANCE = 3
};

using TSampleArray = std::vector<float>;

// The instrument this program reads, and the data version of its records and projects.
inline constexpr std::string_view DEVICE_NAME = "CEMENT-VORKAST-1.0";
inline constexpr std::uint32_t DEVICE_DATA_VERSION = 0x00010002;

struct TMsrResult
{
    double BeginDateTime = 0.0;
    std::uint32_t DataVersion = 0;
    std::int32_t MeasureNumber = 0;
    std::uint32_t CementMass = 0;
    std::uint32_t ExpCementGrade = 0;
    std::uint32_t Supplier = 0;
    std::uint32_t Duration = 0;
    std::uint32_t Period = 0;
    std::int32_t ConcretionTime = 0;
    float VolumeOffset = 0.0f;
    float TempOffset = 0.0f;
    std::vector<TSampleArray> Data;

    // n = Duration div Period; 0 when Period is 0.
    std::uint32_t SampleCount() const { return Period == 0 ? 0 : Duration / Period; }
};

using TArrayOfMsrResult = std::vector<TMsrResult>;

// Decodes a stored blob. Returns 0, or -1 when the blob is shorter than the header
// (then `result` is left with an empty Data and its header untouched).
int DecodeMsrResult(std::string_view blob, TMsrResult& result);

// Encodes a record: the header with the reserved word 0, then every array of Data with
// exactly n samples (a shorter array is padded with zeros, a longer one cut).
std::string EncodeMsrResult(const TMsrResult& result);
