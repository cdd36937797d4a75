#include "SimulatorFixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <set>

namespace {

struct TRunCase
{
    std::uint32_t Mass;
    std::uint32_t Duration;
    std::uint32_t Seed;
};

void PrintTo(const TRunCase& c, std::ostream* os)
{
    *os << c.Mass << " g, " << c.Duration << " s, seed " << c.Seed;
}

class DeviceRealisticMeasurementTest : public ::testing::TestWithParam<TRunCase>
{ };

// What the activity computation reads from a run must look like a laboratory's test.
TEST_P(DeviceRealisticMeasurementTest, ComputesToBelievableContraction)
{
    const TRunCase& c = GetParam();
    const TSimulatedMeasurement m
        = MakeRealisticMeasurement(7, {0, 30, 10, 5, 6, 24}, c.Mass, c.Duration, 10, c.Seed);
    TMsrResult r;
    std::vector<std::uint8_t> block(DEVICE_MSR_DATA_SIZE);
    std::memcpy(block.data(), m.Samples.data(), block.size());
    BuildMsrResult(
        m.Header, std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(block.data(), block.size()), r);
    ASSERT_EQ(r.Data[MSR_VOLUME].size(), c.Duration / 10);

    const std::size_t w = 10800 / 10;
    const std::size_t m1 = 3600 / 10;
    std::vector<float> p(r.Data[MSR_VOLUME]);
    for (float& v : p)
        v -= r.VolumeOffset;
    const double k = 1000.0 / c.Mass;
    const double raw = *std::max_element(p.begin(), p.begin() + w) - p[0];
    const double firstHour = k * (*std::max_element(p.begin(), p.begin() + m1) - p[0]);
    EXPECT_GE(k * raw, 2.5);
    EXPECT_LE(k * raw, 5.0);
    EXPECT_GT(firstHour, 1.0);
    EXPECT_LT(std::abs(p[0]), 0.01) << "the volume starts at its zero level";

    const auto& t = r.Data[MSR_TEMPERATURE];
    const double average = std::accumulate(t.begin(), t.begin() + w, 0.0) / w;
    EXPECT_GT(average, 18.5);
    EXPECT_LT(average, 22.0);
    for (float tc : r.Data[MSR_TEMPERATURE2]) {
        ASSERT_GT(tc, 18.0f);
        ASSERT_LT(tc, 22.0f);
    }
    const auto& resistance = r.Data[MSR_RESISTANCE];
    EXPECT_GT(resistance.back(), resistance.front() * 1.05f);
    EXPECT_GT(resistance.front(), 100.0f);
}

INSTANTIATE_TEST_SUITE_P(Runs, DeviceRealisticMeasurementTest,
    ::testing::Values(TRunCase{400, 10800, 1}, TRunCase{380, 14400, 2}, TRunCase{420, 43200, 3},
        TRunCase{400, 10800, 4}, TRunCase{410, 18000, 5}));

TEST(DeviceRealisticMeasurementTest, SeedDecidesTheRun)
{
    const TDeviceDateTime start{0, 0, 8, 1, 3, 24};
    const auto a = MakeRealisticMeasurement(1, start, 400, 10800, 10, 42);
    EXPECT_EQ(a.Samples, MakeRealisticMeasurement(1, start, 400, 10800, 10, 42).Samples);
    EXPECT_NE(a.Samples, MakeRealisticMeasurement(1, start, 400, 10800, 10, 43).Samples);
}

TEST(DeviceRealisticInstrumentTest, HoldsDistinctValidRecords)
{
    const TSimulatedInstrument instrument = MakeRealisticInstrument(40, 9);
    ASSERT_EQ(instrument.Measurements.size(), 40u);
    std::set<std::int32_t> numbers;
    std::set<double> starts;
    const double fallback = MakeBeginDateTime({});
    for (const TSimulatedMeasurement& m : instrument.Measurements) {
        EXPECT_TRUE(IsValidDeviceMsrHeader(m.Header));
        EXPECT_NE(MakeBeginDateTime(m.Header.DateTime), fallback);
        numbers.insert(m.Header.MeasureNumber);
        starts.insert(MakeBeginDateTime(m.Header.DateTime));
    }
    EXPECT_EQ(numbers.size(), 40u);
    EXPECT_EQ(starts.size(), 40u);
}

using DeviceInstrumentSimulatorTest = SimulatorTest;

TEST_F(DeviceInstrumentSimulatorTest, StartRewindsAndExtraRecordsStall)
{
    m_simulator->Plug(MakeRealisticInstrument(2, 5));
    std::array<std::uint8_t, DEVICE_MSR_HEADER_SIZE> header{};
    std::vector<std::uint8_t> samples(DEVICE_MSR_DATA_SIZE);
    const auto number = [&] { return DecodeDeviceMsrHeader(header).MeasureNumber; };
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(USBExchange(CMD_START_READ, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
        for (int record = 1; record <= 2; ++record) {
            ASSERT_EQ(USBExchange(CMD_RECORD_HEADER, nullptr, 0, header.data(), 72), STATUS_SUCCESS);
            EXPECT_EQ(number(), record);
            ASSERT_EQ(USBExchange(CMD_RECORD_DATA, nullptr, 0, samples.data(), 34560), STATUS_SUCCESS);
        }
    }
    EXPECT_EQ(USBExchange(CMD_RECORD_HEADER, nullptr, 0, header.data(), 72), STATUS_USB_PIPE);
    EXPECT_EQ(USBExchange(99, nullptr, 0, header.data(), 72), STATUS_USB_PIPE);
}

// An empty name block or sample list may have no buffer at all, and memcpy must never be handed
// that null pointer, not even for no bytes; the sanitizer build stops on it.
TEST_F(DeviceInstrumentSimulatorTest, NameBlockOfLengthZeroIsAnEmptyReply)
{
    TSimulatedInstrument instrument;
    instrument.NameLength = 0;
    m_simulator->Plug(instrument);
    std::array<std::uint8_t, 19> name;
    name.fill(0x5A);
    std::uint32_t received = 1;
    EXPECT_EQ(USBExchange(CMD_DEVICE_NAME, nullptr, 0, name.data(), 19, &received), STATUS_SUCCESS);
    EXPECT_EQ(received, 0u);
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

TEST_F(DeviceInstrumentSimulatorTest, MeasurementWithoutSamplesSendsAZeroBlock)
{
    TSimulatedInstrument instrument;
    instrument.Measurements.push_back({});
    m_simulator->Plug(instrument);
    std::array<std::uint8_t, DEVICE_MSR_HEADER_SIZE> header{};
    std::vector<std::uint8_t> samples(DEVICE_MSR_DATA_SIZE, 0x5A);
    std::uint32_t received = 0;
    ASSERT_EQ(USBExchange(CMD_START_READ, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    ASSERT_EQ(USBExchange(CMD_RECORD_HEADER, nullptr, 0, header.data(), 72), STATUS_SUCCESS);
    ASSERT_EQ(USBExchange(CMD_RECORD_DATA, nullptr, 0, samples.data(), 34560, &received), STATUS_SUCCESS);
    EXPECT_EQ(received, DEVICE_MSR_DATA_SIZE);
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](std::uint8_t b) { return b == 0; }));
}

} // namespace
