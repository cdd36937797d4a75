#include "device/DeviceProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Days from 1899-12-30 to 2000-01-01 and to 2024-03-07, as calendars give them.
constexpr double kDay20000101 = 36526.0;
constexpr double kDay20240307 = 45358.0;
constexpr double kFallback = kDay20000101 + 1.0 / 24.0;

struct TDateCase
{
    const char* Name;
    TDeviceDateTime Clock; // second, minute, hour, day, month, year - 2000
    double Expected;
};

void PrintTo(const TDateCase& c, std::ostream* os)
{
    *os << c.Name;
}

class DeviceBeginDateTimeTest : public ::testing::TestWithParam<TDateCase>
{ };

TEST_P(DeviceBeginDateTimeTest, FollowsTheInstrumentClock)
{
    EXPECT_DOUBLE_EQ(MakeBeginDateTime(GetParam().Clock), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Clocks, DeviceBeginDateTimeTest,
    ::testing::Values(
        TDateCase{"Example", {30, 15, 9, 7, 3, 24}, kDay20240307 + (9 * 3600 + 15 * 60 + 30) / 86400.0},
        TDateCase{"Midnight2000", {0, 0, 0, 1, 1, 0}, kDay20000101},
        TDateCase{"LastSecondOfDay", {59, 59, 23, 7, 3, 24}, kDay20240307 + 86399 / 86400.0},
        TDateCase{"LeapDay", {0, 0, 12, 29, 2, 24}, kDay20240307 - 7 + 0.5},
        TDateCase{"AllZero", {0, 0, 0, 0, 0, 0}, kFallback},
        TDateCase{"NoLeapDay2023", {0, 0, 12, 29, 2, 23}, kFallback},
        TDateCase{"April31", {0, 0, 0, 31, 4, 24}, kFallback},
        TDateCase{"Month13", {0, 0, 0, 1, 13, 24}, kFallback},
        TDateCase{"Hour24", {0, 0, 24, 7, 3, 24}, kFallback},
        TDateCase{"Minute60", {0, 60, 9, 7, 3, 24}, kFallback},
        TDateCase{"Second60", {60, 0, 9, 7, 3, 24}, kFallback}),
    [](const auto& info) { return std::string(info.param.Name); });

template <typename T> void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

TEST(DeviceProtocolTest, DecodesInformationBlockAtItsOffsets)
{
    std::vector<std::uint8_t> bytes(DEVICE_INFO_SIZE, 0xEE);
    Put<std::uint32_t>(bytes, 0, 19);
    Put<std::uint32_t>(bytes, 8, 0x00010002);
    Put<std::int32_t>(bytes, 12, -3);
    const TDeviceInfo info
        = DecodeDeviceInfo(std::span<const std::uint8_t, DEVICE_INFO_SIZE>(bytes.data(), 20));
    EXPECT_EQ(info.NameLength, 19u);
    EXPECT_EQ(info.DataVersion, 0x00010002u);
    EXPECT_EQ(info.RecordCount, -3);
}

TEST(DeviceProtocolTest, DecodesHeaderAtItsOffsets)
{
    std::vector<std::uint8_t> bytes(DEVICE_MSR_HEADER_SIZE, 0xEE);
    const std::uint8_t clock[6] = {30, 15, 9, 7, 3, 24};
    std::memcpy(bytes.data(), clock, 6);
    Put<std::int32_t>(bytes, 8, -17);
    Put<std::uint32_t>(bytes, 12, 400);
    Put<std::uint32_t>(bytes, 16, 4);
    Put<std::uint32_t>(bytes, 20, 6);
    Put<std::uint32_t>(bytes, 24, 10800);
    Put<std::uint32_t>(bytes, 28, 10);
    Put<double>(bytes, 32, 0.001);
    Put<double>(bytes, 40, 0.01);
    Put<double>(bytes, 48, 0.02);
    Put<double>(bytes, 56, 0.1);
    Put<std::int32_t>(bytes, 64, 1500);
    Put<std::int32_t>(bytes, 68, -40);
    const TDeviceMsrHeader h
        = DecodeDeviceMsrHeader(std::span<const std::uint8_t, DEVICE_MSR_HEADER_SIZE>(bytes.data(), 72));
    EXPECT_EQ(h.DateTime.Second, 30);
    EXPECT_EQ(h.DateTime.Minute, 15);
    EXPECT_EQ(h.DateTime.Hour, 9);
    EXPECT_EQ(h.DateTime.Day, 7);
    EXPECT_EQ(h.DateTime.Month, 3);
    EXPECT_EQ(h.DateTime.Year, 24);
    EXPECT_EQ(h.MeasureNumber, -17);
    EXPECT_EQ(h.CementMass, 400u);
    EXPECT_EQ(h.ExpCementGrade, 4u);
    EXPECT_EQ(h.Supplier, 6u);
    EXPECT_EQ(h.Duration, 10800u);
    EXPECT_EQ(h.Period, 10u);
    EXPECT_EQ(h.VolumeScale, 0.001);
    EXPECT_EQ(h.TempScale, 0.01);
    EXPECT_EQ(h.Temp2Scale, 0.02);
    EXPECT_EQ(h.ResistanceScale, 0.1);
    EXPECT_EQ(h.RawVolumeOffset, 1500);
    EXPECT_EQ(h.RawTempOffset, -40);
}

TEST(DeviceProtocolTest, NameSkipsFirstByteAndKeepsZeros)
{
    const std::vector<std::uint8_t> block = {0x13, 'A', 'B', 0x00};
    EXPECT_EQ(DecodeDeviceName(block), std::string("AB\0", 3));
    EXPECT_EQ(DecodeDeviceName(std::vector<std::uint8_t>{0x01}), "");
    EXPECT_EQ(DecodeDeviceName({}), "");
}

struct TBuildFixture
{
    TDeviceMsrHeader Header;
    std::vector<std::uint8_t> Samples = std::vector<std::uint8_t>(DEVICE_MSR_DATA_SIZE, 0);

    TBuildFixture()
    {
        Header.DateTime = {30, 15, 9, 7, 3, 24};
        Header.MeasureNumber = 12;
        Header.CementMass = 400;
        Header.ExpCementGrade = 4;
        Header.Supplier = 2;
        Header.Duration = 3600;
        Header.Period = 10;
        Header.VolumeScale = 0.001;
        Header.TempScale = 0.01;
        Header.Temp2Scale = 0.5;
        Header.ResistanceScale = 0.1;
        Header.RawVolumeOffset = 1500;
        Header.RawTempOffset = 25;
    }
    void Sample(std::size_t array, std::size_t j, std::uint16_t value)
    {
        std::memcpy(Samples.data() + 2 * (array * MAX_SAMPLES + j), &value, 2);
    }
    TMsrResult Build() const
    {
        TMsrResult result;
        BuildMsrResult(Header,
            std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(Samples.data(), Samples.size()), result);
        return result;
    }
};

TEST(DeviceBuildMsrResultTest, ScalesInDoubleAndFillsConstants)
{
    TBuildFixture f;
    f.Sample(MSR_VOLUME, 0, 2000);
    f.Sample(MSR_VOLUME, 1, 5);
    f.Sample(MSR_TEMPERATURE, 359, 2012);
    f.Sample(MSR_TEMPERATURE2, 0, 41);
    f.Sample(MSR_RESISTANCE, 0, 65535);
    f.Sample(MSR_VOLUME, 360, 777); // beyond n: not part of the record
    const TMsrResult r = f.Build();

    EXPECT_EQ(r.BeginDateTime, MakeBeginDateTime(f.Header.DateTime));
    EXPECT_EQ(r.DataVersion, MSR_DATA_VERSION);
    EXPECT_EQ(r.ConcretionTime, 28);
    EXPECT_EQ(r.MeasureNumber, 12);
    EXPECT_EQ(r.CementMass, 400u);
    EXPECT_EQ(r.ExpCementGrade, 4u);
    EXPECT_EQ(r.Supplier, 2u);
    EXPECT_EQ(r.Duration, 3600u);
    EXPECT_EQ(r.Period, 10u);
    EXPECT_EQ(r.VolumeOffset, 1.5f);
    EXPECT_EQ(r.TempOffset, 0.25f);
    ASSERT_EQ(r.Data.size(), 4u);
    for (const TSampleArray& array : r.Data)
        EXPECT_EQ(array.size(), 360u);
    EXPECT_EQ(r.Data[MSR_VOLUME][0], 2.0f);
    // 5 * 0.001 in single precision arithmetic would give the neighbour of 0.005f.
    EXPECT_EQ(r.Data[MSR_VOLUME][1], 0.005f);
    EXPECT_EQ(r.Data[MSR_TEMPERATURE][359], 20.12f);
    EXPECT_EQ(r.Data[MSR_TEMPERATURE2][0], 20.5f);
    EXPECT_EQ(r.Data[MSR_RESISTANCE][0], 6553.5f);
    EXPECT_EQ(EncodeMsrResult(r).size(), 52u + 5760u);
}

TEST(DeviceBuildMsrResultTest, DurationBelowPeriodGivesFourEmptyArrays)
{
    TBuildFixture f;
    f.Header.Duration = 9;
    const TMsrResult r = f.Build();
    ASSERT_EQ(r.Data.size(), 4u);
    for (const TSampleArray& array : r.Data)
        EXPECT_TRUE(array.empty());
    EXPECT_EQ(EncodeMsrResult(r).size(), MSR_HEADER_SIZE);
}

TEST(DeviceBuildMsrResultTest, FullSampleBlockIsUsedToTheLastSample)
{
    TBuildFixture f;
    f.Header.Duration = 43200;
    f.Sample(MSR_RESISTANCE, MAX_SAMPLES - 1, 10);
    const TMsrResult r = f.Build();
    ASSERT_EQ(r.Data[MSR_RESISTANCE].size(), MAX_SAMPLES);
    EXPECT_EQ(r.Data[MSR_RESISTANCE].back(), 1.0f);
}

struct THeaderCase
{
    std::uint32_t Duration;
    std::uint32_t Period;
    bool Valid;
};

void PrintTo(const THeaderCase& c, std::ostream* os)
{
    *os << c.Duration << " s every " << c.Period << " s";
}

class DeviceHeaderLimitTest : public ::testing::TestWithParam<THeaderCase>
{ };

TEST_P(DeviceHeaderLimitTest, SampleCountMustFitTheBlock)
{
    TDeviceMsrHeader header;
    header.Duration = GetParam().Duration;
    header.Period = GetParam().Period;
    EXPECT_EQ(IsValidDeviceMsrHeader(header), GetParam().Valid);
}

INSTANTIATE_TEST_SUITE_P(Limits, DeviceHeaderLimitTest,
    ::testing::Values(THeaderCase{3600, 0, false}, THeaderCase{0, 0, false}, THeaderCase{43200, 10, true},
        THeaderCase{43210, 10, false}, THeaderCase{43209, 10, true}, THeaderCase{5, 10, true},
        THeaderCase{0xFFFFFFFF, 1, false}));

} // namespace
