#pragma once

// The instrument's replies to the reading commands, as pure functions over bytes.
//
// Command 1 -> TDeviceInfo, 20 bytes:       0 u32 name length L, 8 u32 data version,
//                                            12 i32 record count N (4 and 16 not examined).
// Command 2 -> name block, L bytes:         byte 0 skipped, bytes 1..L-1 the name.
// Command 4 -> TDeviceMsrHeader, 72 bytes:  0..5 second, minute, hour, day, month, year-2000;
//   8 i32 number, 12 u32 mass, 16 u32 grade, 20 u32 supplier, 24 u32 duration, 28 u32 period,
//   32/40/48/56 f64 scales of volume, temperature, second temperature, resistance,
//   64 i32 raw volume offset, 68 i32 raw temperature offset.
// Command 5 -> sample block, 34560 bytes:   four arrays of MAX_SAMPLES u16, in record order.
// Everything is little-endian.

#include "device/USB.h"
#include "store/MsrResult.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

constexpr std::size_t DEVICE_INFO_SIZE = 20;
constexpr std::size_t DEVICE_MSR_HEADER_SIZE = 72;
constexpr std::size_t MAX_SAMPLES = 4320;
constexpr std::size_t DEVICE_ARRAY_COUNT = 4;
constexpr std::size_t DEVICE_MSR_DATA_SIZE = DEVICE_ARRAY_COUNT * MAX_SAMPLES * 2;

// Limits beyond which a reply cannot come from a working instrument. They keep an absurd
// reply from sizing allocations or the sample loops.
constexpr std::uint32_t MAX_NAME_LENGTH = 64;
constexpr std::int32_t MAX_RECORD_COUNT = 10000;

// The instrument's clock, bytes 0..5 of a header.
struct TDeviceDateTime
{
    std::uint8_t Second = 0;
    std::uint8_t Minute = 0;
    std::uint8_t Hour = 0;
    std::uint8_t Day = 0;
    std::uint8_t Month = 0;
    std::uint8_t Year = 0; // minus 2000
};

struct TDeviceInfo
{
    std::uint32_t NameLength = 0;
    std::uint32_t DataVersion = 0;
    std::int32_t RecordCount = 0;
};

struct TDeviceMsrHeader
{
    TDeviceDateTime DateTime;
    std::int32_t MeasureNumber = 0;
    std::uint32_t CementMass = 0;
    std::uint32_t ExpCementGrade = 0;
    std::uint32_t Supplier = 0;
    std::uint32_t Duration = 0;
    std::uint32_t Period = 0;
    double VolumeScale = 0.0;
    double TempScale = 0.0;
    double Temp2Scale = 0.0;
    double ResistanceScale = 0.0;
    std::int32_t RawVolumeOffset = 0;
    std::int32_t RawTempOffset = 0;

    // n = Duration div Period; 0 when Period is 0.
    std::uint32_t SampleCount() const { return Period == 0 ? 0 : Duration / Period; }
};

TDeviceInfo DecodeDeviceInfo(std::span<const std::uint8_t, DEVICE_INFO_SIZE> bytes);
std::array<std::uint8_t, DEVICE_INFO_SIZE> EncodeDeviceInfo(const TDeviceInfo& info);

TDeviceMsrHeader DecodeDeviceMsrHeader(std::span<const std::uint8_t, DEVICE_MSR_HEADER_SIZE> bytes);
std::array<std::uint8_t, DEVICE_MSR_HEADER_SIZE> EncodeDeviceMsrHeader(const TDeviceMsrHeader& header);

// Bytes 1..L-1 taken as they are (a zero byte included); empty for L of 0 or 1.
std::string DecodeDeviceName(std::span<const std::uint8_t> block);

// The OLE Automation date of the instrument's clock, or 2000-01-01 01:00:00 when the bytes
// do not form a valid date and time.
double MakeBeginDateTime(const TDeviceDateTime& dateTime);

// True when the header's sample count fits the sample block (Period not 0, n at most
// MAX_SAMPLES); records that fail cannot be built.
bool IsValidDeviceMsrHeader(const TDeviceMsrHeader& header);

// Builds a record from a header that IsValidDeviceMsrHeader accepts and a whole sample
// block: four arrays of n values, each raw value times its scale in double, then rounded
// to single.
void BuildMsrResult(const TDeviceMsrHeader& header,
    std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE> samples, TMsrResult& result);
