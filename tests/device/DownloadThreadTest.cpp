#include "SimulatorFixture.h"

#include "device/DownloadThread.h"
#include "tests/support/DownloadMessages.h"

#include <cstring>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t HeaderExchange(std::uint32_t record)
{
    return 3 + 2 * record;
}

class DeviceDownloadTest : public SimulatorTest
{
protected:
    // Runs a download to its end (or 5 s) and keeps what it reported.
    void Run()
    {
        m_worker = std::make_unique<TDownloadThread>(m_messages.Callback());
        m_worker->Start();
        ASSERT_TRUE(m_worker->WaitFor(5s));
        m_results = m_worker->TakeResults();
    }
    // The worker ended with `status`, posted it last and kept nothing.
    void ExpectFailure(TUSBStatus status)
    {
        EXPECT_EQ(m_worker->ResultCode(), static_cast<std::int32_t>(status));
        ASSERT_FALSE(m_messages.List().empty());
        EXPECT_EQ(m_messages.List().back(), TMessage(TDownloadThread::FailureParam, status));
        for (const TMessage& message : m_messages.List())
            EXPECT_NE(message.first, TDownloadThread::SuccessParam);
        EXPECT_TRUE(m_results.empty());
        EXPECT_TRUE(m_worker->TakeResults().empty());
    }
    std::size_t CountOf(std::uint32_t command) const
    {
        const auto commands = m_simulator->Commands();
        return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), command));
    }

    TMessages m_messages;
    std::unique_ptr<TDownloadThread> m_worker;
    TArrayOfMsrResult m_results;
};

TEST_F(DeviceDownloadTest, CompleteDownloadDeliversEveryRecordInOrder)
{
    const TSimulatedInstrument instrument = MakeRealisticInstrument(3, 11);
    m_simulator->Plug(instrument);
    Run();

    EXPECT_EQ(m_worker->ResultCode(), 0);
    EXPECT_EQ(m_messages.List(), (std::vector<TMessage>{{1, 0}, {1, 33}, {1, 66}, {2, 0}}));
    EXPECT_EQ(m_simulator->Commands(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 4, 5, 4, 5}));
    std::vector<std::size_t> inLengths;
    for (const TSimulatorTransfer& transfer : m_simulator->Transfers()) {
        if (transfer.Endpoint == EP_REPLY_IN)
            inLengths.push_back(transfer.Length);
    }
    EXPECT_EQ(inLengths, (std::vector<std::size_t>{20, 19, 72, 34560, 72, 34560, 72, 34560}));

    ASSERT_EQ(m_results.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const TSimulatedMeasurement& stored = instrument.Measurements[i];
        std::vector<std::uint8_t> block(DEVICE_MSR_DATA_SIZE);
        std::memcpy(block.data(), stored.Samples.data(), block.size());
        TMsrResult expected;
        BuildMsrResult(stored.Header,
            std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(block.data(), block.size()), expected);
        EXPECT_EQ(EncodeMsrResult(m_results[i]), EncodeMsrResult(expected)) << "record " << i;
        EXPECT_EQ(m_results[i].Data.size(), 4u);
        EXPECT_EQ(m_results[i].Data[MSR_VOLUME].size(), stored.Header.Duration / 10);
    }
}

TEST_F(DeviceDownloadTest, EmptyInstrumentSucceedsWithoutStartCommand)
{
    m_simulator->Plug({});
    Run();
    EXPECT_EQ(m_worker->ResultCode(), 0);
    EXPECT_EQ(m_messages.List(), (std::vector<TMessage>{{2, 0}}));
    EXPECT_EQ(m_simulator->Commands(), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_TRUE(m_results.empty());
}

struct TProgressCase
{
    std::size_t Records;
    std::vector<std::uint32_t> Expected;
};

void PrintTo(const TProgressCase& c, std::ostream* os)
{
    *os << c.Records << " records";
}

std::vector<std::uint32_t> Upto(std::uint32_t count)
{
    std::vector<std::uint32_t> values(count);
    std::iota(values.begin(), values.end(), 0u);
    return values;
}

class DeviceDownloadProgressTest : public DeviceDownloadTest,
                                   public ::testing::WithParamInterface<TProgressCase>
{ };

TEST_P(DeviceDownloadProgressTest, PostsEachWholePercentOnce)
{
    m_simulator->Plug(MakeQuickInstrument(GetParam().Records));
    Run();
    EXPECT_EQ(m_worker->ResultCode(), 0);
    EXPECT_EQ(m_messages.Progress(), GetParam().Expected);
    EXPECT_EQ(m_messages.List().back(), TMessage(TDownloadThread::SuccessParam, 0));
    EXPECT_EQ(m_results.size(), GetParam().Records);
}

INSTANTIATE_TEST_SUITE_P(Counts, DeviceDownloadProgressTest,
    ::testing::Values(TProgressCase{0, {}}, TProgressCase{1, {0}}, TProgressCase{3, {0, 33, 66}},
        TProgressCase{200, Upto(100)}));

struct TDeviceCase
{
    const char* Name;
    TSimulatedInstrument Instrument;
    TUSBStatus Expected;
    bool NameRead;
};

void PrintTo(const TDeviceCase& c, std::ostream* os)
{
    *os << c.Name;
}

TSimulatedInstrument With(const std::function<void(TSimulatedInstrument&)>& change)
{
    TSimulatedInstrument instrument = MakeQuickInstrument(2);
    change(instrument);
    return instrument;
}

class DeviceDownloadCheckTest : public DeviceDownloadTest, public ::testing::WithParamInterface<TDeviceCase>
{ };

TEST_P(DeviceDownloadCheckTest, RefusesAnythingButTheInstrument)
{
    m_simulator->Plug(GetParam().Instrument);
    Run();
    ExpectFailure(GetParam().Expected);
    EXPECT_EQ(CountOf(CMD_DEVICE_NAME), GetParam().NameRead ? 1u : 0u);
    EXPECT_EQ(CountOf(CMD_START_READ), 0u);
}

INSTANTIATE_TEST_SUITE_P(Devices, DeviceDownloadCheckTest,
    ::testing::Values(
        TDeviceCase{"EmptyName", With([](auto& i) { i.NameLength = 0; }), STATUS_WRONG_DEVICE, false},
        TDeviceCase{"TrailingZero", With([](auto& i) { i.NameLength = 20; }), STATUS_WRONG_DEVICE, true},
        TDeviceCase{
            "OtherName", With([](auto& i) { i.Name = "CEMENT-VORKAST-1.1"; }), STATUS_WRONG_DEVICE, true},
        TDeviceCase{
            "OtherCase", With([](auto& i) { i.Name = "cement-vorkast-1.0"; }), STATUS_WRONG_DEVICE, true},
        TDeviceCase{"NameCut", With([](auto& i) { i.NameLength = 18; }), STATUS_WRONG_DEVICE, true},
        TDeviceCase{
            "OtherVersion", With([](auto& i) { i.DataVersion = 0x00010001; }), STATUS_WRONG_DEVICE, true},
        TDeviceCase{"NameTooLong", With([](auto& i) { i.NameLength = MAX_NAME_LENGTH + 1; }),
            STATUS_BAD_REPLY, false},
        TDeviceCase{"NegativeCount", With([](auto& i) { i.RecordCount = -1; }), STATUS_BAD_REPLY, true},
        TDeviceCase{"AbsurdCount", With([](auto& i) { i.RecordCount = MAX_RECORD_COUNT + 1; }),
            STATUS_BAD_REPLY, true},
        TDeviceCase{"ShortInfo", With([](auto& i) {
                        i.Faults = {{0, TSimulatorFault::ShortReply, 12}};
                    }),
            STATUS_SHORT_REPLY, false}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TRecordFaultCase
{
    const char* Name;
    TSimulatedInstrument Instrument;
    TUSBStatus Expected;
    std::size_t Exchanges; // requests the instrument received
};

void PrintTo(const TRecordFaultCase& c, std::ostream* os)
{
    *os << c.Name;
}

TSimulatedInstrument Faulty(TExchangeFault fault)
{
    return With([&](auto& i) { i.Faults = {fault}; });
}

TSimulatedInstrument FourWith(const std::function<void(TSimulatedInstrument&)>& change)
{
    TSimulatedInstrument instrument = MakeQuickInstrument(4);
    change(instrument);
    return instrument;
}

class DeviceDownloadRecordFaultTest : public DeviceDownloadTest,
                                      public ::testing::WithParamInterface<TRecordFaultCase>
{ };

TEST_P(DeviceDownloadRecordFaultTest, EndsWithStatusAndKeepsNothing)
{
    m_simulator->Plug(GetParam().Instrument);
    Run();
    ExpectFailure(GetParam().Expected);
    EXPECT_EQ(m_simulator->Commands().size(), GetParam().Exchanges);
}

INSTANTIATE_TEST_SUITE_P(Faults, DeviceDownloadRecordFaultTest,
    ::testing::Values(
        TRecordFaultCase{"StartFails", Faulty({2, TSimulatorFault::TransferError}), STATUS_USB_IO, 3},
        TRecordFaultCase{"FirstSamplesFail", Faulty({4, TSimulatorFault::TransferError}), STATUS_USB_IO, 5},
        TRecordFaultCase{"SecondHeaderFails", Faulty({HeaderExchange(1), TSimulatorFault::TransferError}),
            STATUS_USB_IO, 6},
        TRecordFaultCase{"ShortSamples", Faulty({HeaderExchange(1) + 1, TSimulatorFault::ShortReply, 34558}),
            STATUS_SHORT_REPLY, 7},
        TRecordFaultCase{"ShortHeader", Faulty({HeaderExchange(1), TSimulatorFault::ShortReply, 71}),
            STATUS_SHORT_REPLY, 6},
        TRecordFaultCase{
            "LongHeader", Faulty({HeaderExchange(1), TSimulatorFault::LongReply, 4}), STATUS_USB_OVERFLOW, 6},
        TRecordFaultCase{"UnplugInSamples", Faulty({HeaderExchange(1) + 1, TSimulatorFault::Unplug}),
            STATUS_USB_NO_DEVICE, 7},
        TRecordFaultCase{"TimeoutAtSecondRecord", Faulty({HeaderExchange(1), TSimulatorFault::Timeout}),
            STATUS_USB_TIMEOUT, 6},
        TRecordFaultCase{"PeriodZero", FourWith([](auto& i) { i.Measurements[2].Header.Period = 0; }),
            STATUS_BAD_REPLY, 3 + 2 * 2 + 1},
        TRecordFaultCase{"TooManySamples", FourWith([](auto& i) {
                             i.Measurements[3].Header.Period = 1;
                             i.Measurements[3].Header.Duration = MAX_SAMPLES + 1;
                         }),
            STATUS_BAD_REPLY, 3 + 2 * 3 + 1},
        TRecordFaultCase{"FewerRecordsThanCounted", With([](auto& i) { i.RecordCount = 3; }), STATUS_USB_PIPE,
            3 + 2 * 2 + 1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceDownloadTest, NoInstrumentFailsAtOnce)
{
    Run();
    ExpectFailure(STATUS_USB_NO_DEVICE);
}

TEST_F(DeviceDownloadTest, SecondInstrumentPluggedDuringDownloadIsIgnored)
{
    TSimulatedInstrument first = MakeQuickInstrument(3);
    first.OnCommand = [this](std::uint32_t exchange, std::uint32_t) {
        if (exchange == HeaderExchange(1))
            m_simulator->Plug(MakeRealisticInstrument(5, 1));
    };
    const TUSBDeviceId held = m_simulator->Plug(first);
    Run();
    EXPECT_EQ(m_worker->ResultCode(), 0);
    EXPECT_EQ(m_results.size(), 3u);
    EXPECT_EQ(USBAttachedDevice(), held);
    for (const TSimulatorTransfer& transfer : m_simulator->Transfers())
        EXPECT_EQ(transfer.Device, held);
}

struct TStopCase
{
    std::uint32_t AtExchange; // the stop is requested while this exchange is under way
    std::int32_t Expected;
};

void PrintTo(const TStopCase& c, std::ostream* os)
{
    *os << "stop at exchange " << c.AtExchange;
}

class DeviceDownloadStopTest : public DeviceDownloadTest, public ::testing::WithParamInterface<TStopCase>
{ };

TEST_P(DeviceDownloadStopTest, StopIsSeenBeforeTheNextExchange)
{
    TDownloadThread* worker = nullptr;
    TSimulatedInstrument instrument = MakeQuickInstrument(3);
    instrument.TransferDelay = 2ms;
    instrument.OnCommand = [&](std::uint32_t exchange, std::uint32_t) {
        if (exchange == GetParam().AtExchange)
            worker->RequestStop();
    };
    m_simulator->Plug(instrument);
    m_worker = std::make_unique<TDownloadThread>(m_messages.Callback());
    worker = m_worker.get();
    m_worker->Start();
    ASSERT_TRUE(m_worker->WaitFor(2500ms));
    m_results = m_worker->TakeResults();

    EXPECT_EQ(m_worker->ResultCode(), GetParam().Expected);
    if (GetParam().Expected == -1) {
        ExpectFailure(STATUS_STOPPED);
        EXPECT_EQ(m_simulator->Commands().size(), GetParam().AtExchange + 1);
    } else {
        EXPECT_EQ(m_results.size(), 3u);
    }
}

// Exchange 8 is the last one: a worker that has finished keeps its own status.
INSTANTIATE_TEST_SUITE_P(Points, DeviceDownloadStopTest,
    ::testing::Values(TStopCase{0, -1}, TStopCase{1, -1}, TStopCase{2, -1}, TStopCase{3, -1},
        TStopCase{4, -1}, TStopCase{7, -1}, TStopCase{8, 0}));

TEST_F(DeviceDownloadTest, StopBeforeStartMakesNoExchange)
{
    m_simulator->Plug(MakeQuickInstrument(2));
    m_worker = std::make_unique<TDownloadThread>(m_messages.Callback());
    m_worker->RequestStop();
    m_worker->Start();
    ASSERT_TRUE(m_worker->WaitFor(2500ms));
    m_results = m_worker->TakeResults();
    ExpectFailure(STATUS_STOPPED);
    EXPECT_TRUE(m_simulator->Transfers().empty());
}

// The instrument stops answering in the middle of record 1.
class DeviceHungDownloadTest : public DeviceDownloadTest
{
protected:
    void SetUp() override
    {
        DeviceDownloadTest::SetUp();
        TSimulatedInstrument instrument = MakeQuickInstrument(3);
        instrument.Faults = {{HeaderExchange(1), TSimulatorFault::Timeout}};
        instrument.OnCommand = [this](std::uint32_t exchange, std::uint32_t) {
            if (exchange == HeaderExchange(1))
                m_hung.set_value();
        };
        m_simulator->Plug(instrument);
        m_worker = std::make_unique<TDownloadThread>(m_messages.Callback());
        m_worker->Start();
        ASSERT_EQ(m_hung.get_future().wait_for(2s), std::future_status::ready);
    }

    std::promise<void> m_hung;
};

TEST_F(DeviceHungDownloadTest, StopDuringHungTransferEndsWithinTheWait)
{
    const auto start = std::chrono::steady_clock::now();
    m_worker->RequestStop();
    ASSERT_TRUE(m_worker->WaitFor(2500ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    m_results = m_worker->TakeResults();
    ExpectFailure(STATUS_USB_TIMEOUT);
    EXPECT_EQ(m_simulator->Commands().size(), HeaderExchange(1) + 1);
}

TEST_F(DeviceHungDownloadTest, AbandonedWorkerEndsOnItsOwnWithoutCallingBack)
{
    EXPECT_FALSE(m_worker->WaitFor(50ms));
    const auto start = std::chrono::steady_clock::now();
    m_worker.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "leaving a worker must not block";
    const auto seen = m_messages.List();
    std::this_thread::sleep_for(std::chrono::milliseconds(USB_TIMEOUT_MS + 300));
    EXPECT_EQ(m_messages.List(), seen);
    EXPECT_EQ(m_simulator->Commands().size(), HeaderExchange(1) + 1) << "the stop is seen after the time-out";
}

} // namespace
