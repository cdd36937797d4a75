#include "device/DeviceProtocol.h"

#include "store/LittleEndian.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr double kSecondsPerDay = 86400.0;

double OleDate(const std::chrono::year_month_day& date)
{
    using namespace std::chrono;
    constexpr sys_days kOleEpoch = year{1899} / December / 30;
    return static_cast<double>((sys_days(date) - kOleEpoch).count());
}

// Scaling is done in double and rounded once, so a scale such as 0.001 gives the value the
// instrument meant rather than one carrying single-precision error twice.
void ScaleArray(const std::uint8_t* raw, std::size_t n, double scale, TSampleArray& out)
{
    out.resize(n);
    for (std::size_t j = 0; j < n; ++j)
        out[j] = static_cast<float>(static_cast<double>(LoadLE<std::uint16_t>(raw, 2 * j)) * scale);
}

} // namespace

TDeviceInfo DecodeDeviceInfo(std::span<const std::uint8_t, DEVICE_INFO_SIZE> bytes)
{
    TDeviceInfo info;
    info.NameLength = LoadLE<std::uint32_t>(bytes.data(), 0);
    info.DataVersion = LoadLE<std::uint32_t>(bytes.data(), 8);
    info.RecordCount = LoadLE<std::int32_t>(bytes.data(), 12);
    return info;
}

std::array<std::uint8_t, DEVICE_INFO_SIZE> EncodeDeviceInfo(const TDeviceInfo& info)
{
    std::array<std::uint8_t, DEVICE_INFO_SIZE> bytes{};
    StoreLE(bytes.data(), 0, info.NameLength);
    StoreLE(bytes.data(), 8, info.DataVersion);
    StoreLE(bytes.data(), 12, info.RecordCount);
    return bytes;
}

TDeviceMsrHeader DecodeDeviceMsrHeader(std::span<const std::uint8_t, DEVICE_MSR_HEADER_SIZE> bytes)
{
    const std::uint8_t* b = bytes.data();
    TDeviceMsrHeader header;
    header.DateTime = {b[0], b[1], b[2], b[3], b[4], b[5]};
    header.MeasureNumber = LoadLE<std::int32_t>(b, 8);
    header.CementMass = LoadLE<std::uint32_t>(b, 12);
    header.ExpCementGrade = LoadLE<std::uint32_t>(b, 16);
    header.Supplier = LoadLE<std::uint32_t>(b, 20);
    header.Duration = LoadLE<std::uint32_t>(b, 24);
    header.Period = LoadLE<std::uint32_t>(b, 28);
    header.VolumeScale = LoadLE<double>(b, 32);
    header.TempScale = LoadLE<double>(b, 40);
    header.Temp2Scale = LoadLE<double>(b, 48);
    header.ResistanceScale = LoadLE<double>(b, 56);
    header.RawVolumeOffset = LoadLE<std::int32_t>(b, 64);
    header.RawTempOffset = LoadLE<std::int32_t>(b, 68);
    return header;
}

std::array<std::uint8_t, DEVICE_MSR_HEADER_SIZE> EncodeDeviceMsrHeader(const TDeviceMsrHeader& header)
{
    std::array<std::uint8_t, DEVICE_MSR_HEADER_SIZE> bytes{};
    std::uint8_t* b = bytes.data();
    const TDeviceDateTime& t = header.DateTime;
    b[0] = t.Second;
    b[1] = t.Minute;
    b[2] = t.Hour;
    b[3] = t.Day;
    b[4] = t.Month;
    b[5] = t.Year;
    StoreLE(b, 8, header.MeasureNumber);
    StoreLE(b, 12, header.CementMass);
    StoreLE(b, 16, header.ExpCementGrade);
    StoreLE(b, 20, header.Supplier);
    StoreLE(b, 24, header.Duration);
    StoreLE(b, 28, header.Period);
    StoreLE(b, 32, header.VolumeScale);
    StoreLE(b, 40, header.TempScale);
    StoreLE(b, 48, header.Temp2Scale);
    StoreLE(b, 56, header.ResistanceScale);
    StoreLE(b, 64, header.RawVolumeOffset);
    StoreLE(b, 68, header.RawTempOffset);
    return bytes;
}

std::string DecodeDeviceName(std::span<const std::uint8_t> block)
{
    if (block.size() <= 1)
        return {};
    return std::string(reinterpret_cast<const char*>(block.data()) + 1, block.size() - 1);
}

double MakeBeginDateTime(const TDeviceDateTime& t)
{
    using namespace std::chrono;
    const year_month_day date{year{2000 + t.Year}, month{t.Month}, day{t.Day}};
    if (!date.ok() || t.Hour > 23 || t.Minute > 59 || t.Second > 59)
        return OleDate(year{2000} / January / 1) + 3600.0 / kSecondsPerDay;
    return OleDate(date) + (t.Hour * 3600.0 + t.Minute * 60.0 + t.Second) / kSecondsPerDay;
}

bool IsValidDeviceMsrHeader(const TDeviceMsrHeader& header)
{
    return header.Period != 0 && header.SampleCount() <= MAX_SAMPLES;
}

void BuildMsrResult(const TDeviceMsrHeader& header,
    std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE> samples, TMsrResult& result)
{
    result.BeginDateTime = MakeBeginDateTime(header.DateTime);
    result.DataVersion = MSR_DATA_VERSION;
    result.MeasureNumber = header.MeasureNumber;
    result.CementMass = header.CementMass;
    result.ExpCementGrade = header.ExpCementGrade;
    result.Supplier = header.Supplier;
    result.Duration = header.Duration;
    result.Period = header.Period;
    result.ConcretionTime = DEFAULT_CONCRETION_TIME;
    result.VolumeOffset = static_cast<float>(header.RawVolumeOffset * header.VolumeScale);
    result.TempOffset = static_cast<float>(header.RawTempOffset * header.TempScale);

    const std::size_t n = std::min<std::size_t>(header.SampleCount(), MAX_SAMPLES);
    const double scales[DEVICE_ARRAY_COUNT]
        = {header.VolumeScale, header.TempScale, header.Temp2Scale, header.ResistanceScale};
    result.Data.resize(DEVICE_ARRAY_COUNT);
    for (std::size_t k = 0; k < DEVICE_ARRAY_COUNT; ++k)
        ScaleArray(samples.data() + k * MAX_SAMPLES * 2, n, scales[k], result.Data[k]);
}
