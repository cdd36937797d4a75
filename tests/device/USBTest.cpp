#include "SimulatorFixture.h"

#include <chrono>
#include <numeric>
#include <vector>

namespace {

struct TPacketCase
{
    const char* Name;
    std::uint32_t Command;
    std::size_t PayloadLength; // bytes offered; the payload pointer is null when PayloadMissing
    bool PayloadMissing;
    std::vector<std::uint8_t> Expected;
};

void PrintTo(const TPacketCase& c, std::ostream* os)
{
    *os << c.Name;
}

std::vector<std::uint8_t> Packet(std::vector<std::uint8_t> head, std::size_t payloadBytes)
{
    for (std::size_t i = 0; i < payloadBytes; ++i)
        head.push_back(static_cast<std::uint8_t>(i + 1));
    return head;
}

class DeviceUSBPacketTest : public SimulatorTest, public ::testing::WithParamInterface<TPacketCase>
{ };

TEST_P(DeviceUSBPacketTest, SendsCodeLittleEndianAndAtMostSixtyPayloadBytes)
{
    const TPacketCase& c = GetParam();
    m_simulator->Plug({});
    std::vector<std::uint8_t> payload(c.PayloadLength);
    std::iota(payload.begin(), payload.end(), std::uint8_t{1});
    EXPECT_EQ(USBExchange(c.Command, c.PayloadMissing ? nullptr : payload.data(),
                  static_cast<std::uint32_t>(c.PayloadLength), nullptr, 0),
        STATUS_SUCCESS);
    const auto transfers = m_simulator->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].Endpoint, EP_COMMAND_OUT);
    EXPECT_EQ(transfers[0].Data, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Packets, DeviceUSBPacketTest,
    ::testing::Values(TPacketCase{"Screen", CMD_SCREEN, 0, false, {0x06, 0, 0, 0}},
        TPacketCase{"AllCodeBytes", 0x04030201, 0, false, {0x01, 0x02, 0x03, 0x04}},
        TPacketCase{"NullPayloadWithLength", 5, 10, true, {0x05, 0, 0, 0}},
        TPacketCase{"ShortPayload", 7, 3, false, Packet({0x07, 0, 0, 0}, 3)},
        TPacketCase{"SixtyBytes", 7, 60, false, Packet({0x07, 0, 0, 0}, 60)},
        TPacketCase{"SixtyOneCutToSixty", 7, 61, false, Packet({0x07, 0, 0, 0}, 60)},
        TPacketCase{"FarTooLong", 7, 500, false, Packet({0x07, 0, 0, 0}, 60)}),
    [](const auto& info) { return std::string(info.param.Name); });

using DeviceUSBExchangeTest = SimulatorTest;

TEST_F(DeviceUSBExchangeTest, ZeroReplyLengthMakesNoInTransfer)
{
    m_simulator->Plug({});
    std::uint8_t reply[4] = {};
    EXPECT_EQ(USBExchange(CMD_START_READ, nullptr, 0, reply, 0), STATUS_SUCCESS);
    const auto transfers = m_simulator->Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].Endpoint, EP_COMMAND_OUT);
}

TEST_F(DeviceUSBExchangeTest, ReadsReplyOfRequestedLengthFromReplyEndpoint)
{
    TSimulatedInstrument instrument;
    instrument.Screen[0] = 0x5A;
    instrument.Screen[1023] = 0xC3;
    m_simulator->Plug(instrument);
    TScreenReply reply{};
    std::uint32_t received = 0;
    ASSERT_EQ(USBExchange(CMD_SCREEN, nullptr, 0, reply.data(), 1024, &received), STATUS_SUCCESS);
    EXPECT_EQ(received, 1024u);
    EXPECT_EQ(reply, instrument.Screen);
    const auto transfers = m_simulator->Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[1].Endpoint, EP_REPLY_IN);
    EXPECT_EQ(transfers[1].Length, 1024u);
}

struct TStatusCase
{
    const char* Name;
    TSimulatorFault Fault;
    std::uint32_t Command;
    std::size_t Bytes;
    TUSBStatus Expected;
    std::uint32_t Received;
    std::size_t Transfers; // reaching the instrument
};

void PrintTo(const TStatusCase& c, std::ostream* os)
{
    *os << c.Name;
}

class DeviceUSBStatusTest : public SimulatorTest, public ::testing::WithParamInterface<TStatusCase>
{ };

TEST_P(DeviceUSBStatusTest, PassesTransferOutcomeOn)
{
    const TStatusCase& c = GetParam();
    TSimulatedInstrument instrument;
    instrument.Faults = {{0, c.Fault, c.Bytes}};
    m_simulator->Plug(instrument);
    TScreenReply reply{};
    std::uint32_t received = 99;
    const std::uint32_t length = c.Command == CMD_START_READ ? 0 : 1024;
    EXPECT_EQ(USBExchange(c.Command, nullptr, 0, reply.data(), length, &received), c.Expected);
    EXPECT_EQ(received, c.Received);
    EXPECT_EQ(m_simulator->Transfers().size(), c.Transfers);
}

INSTANTIATE_TEST_SUITE_P(Faults, DeviceUSBStatusTest,
    ::testing::Values(
        TStatusCase{"InError", TSimulatorFault::TransferError, CMD_SCREEN, 0, STATUS_USB_IO, 0, 2},
        TStatusCase{
            "OutErrorSkipsIn", TSimulatorFault::TransferError, CMD_START_READ, 0, STATUS_USB_IO, 0, 1},
        TStatusCase{
            "ShortIsNoFailureHere", TSimulatorFault::ShortReply, CMD_SCREEN, 100, STATUS_SUCCESS, 100, 2},
        TStatusCase{"LongOverflows", TSimulatorFault::LongReply, CMD_SCREEN, 8, STATUS_USB_OVERFLOW, 1024, 2},
        TStatusCase{"UnplugInTransfer", TSimulatorFault::Unplug, CMD_SCREEN, 0, STATUS_USB_NO_DEVICE, 0, 2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DeviceUSBExchangeTest, NoInstrumentFailsWithoutReachingTheBackend)
{
    EXPECT_FALSE(USBDeviceAttached());
    std::uint8_t reply[20] = {};
    EXPECT_EQ(USBExchange(CMD_DEVICE_INFO, nullptr, 0, reply, sizeof reply), STATUS_USB_NO_DEVICE);
    EXPECT_TRUE(m_simulator->Transfers().empty());
}

TEST_F(DeviceUSBExchangeTest, UnansweredTransferTimesOutAfterTwoSeconds)
{
    TSimulatedInstrument instrument;
    instrument.Faults = {{0, TSimulatorFault::Timeout, 0}};
    m_simulator->Plug(instrument);
    std::uint8_t reply[20] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(USBExchange(CMD_DEVICE_INFO, nullptr, 0, reply, sizeof reply), STATUS_USB_TIMEOUT);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(USB_TIMEOUT_MS));
    EXPECT_LT(elapsed, std::chrono::milliseconds(USB_TIMEOUT_MS + 400));
}

TEST_F(DeviceUSBExchangeTest, OneInstrumentAtATime)
{
    const TUSBDeviceId first = m_simulator->Plug({});
    EXPECT_EQ(USBAttachedDevice(), first);
    const TUSBDeviceId second = m_simulator->Plug({});
    const TUSBDeviceId third = m_simulator->Plug({});
    EXPECT_EQ(USBAttachedDevice(), first);

    EXPECT_EQ(USBExchange(CMD_START_READ, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(m_simulator->Transfers().back().Device, first);

    m_simulator->Unplug(second);
    EXPECT_EQ(USBAttachedDevice(), first) << "a refused instrument leaving frees nothing";
    m_simulator->Unplug(first);
    EXPECT_FALSE(USBDeviceAttached()) << "an instrument refused before is not taken over";
    EXPECT_EQ(USBExchange(CMD_START_READ, nullptr, 0, nullptr, 0), STATUS_USB_NO_DEVICE);

    m_simulator->Unplug(third);
    const TUSBDeviceId fourth = m_simulator->Plug({});
    EXPECT_EQ(USBAttachedDevice(), fourth);
}

TEST(DeviceUSBModuleTest, ClosedModuleFailsAndFinalizeIsIdempotent)
{
    auto simulator = std::make_shared<TInstrumentSimulator>();
    simulator->Plug({});
    simulator->SetOpenFailure(STATUS_USB_ACCESS);
    EXPECT_EQ(USBInitialize(simulator), STATUS_USB_ACCESS);
    EXPECT_FALSE(USBDeviceAttached());
    EXPECT_EQ(USBExchange(CMD_START_READ, nullptr, 0, nullptr, 0), STATUS_USB_NOT_OPEN);
    USBFinalize();
    USBFinalize();

    simulator->SetOpenFailure(STATUS_SUCCESS);
    ASSERT_EQ(USBInitialize(simulator), STATUS_SUCCESS);
    EXPECT_TRUE(USBDeviceAttached()) << "an instrument already present is reported on opening";
    USBFinalize();
    EXPECT_FALSE(USBDeviceAttached());
    EXPECT_EQ(USBExchange(CMD_START_READ, nullptr, 0, nullptr, 0), STATUS_USB_NOT_OPEN);
    USBFinalize();
    EXPECT_TRUE(simulator->Transfers().empty());
}

} // namespace
