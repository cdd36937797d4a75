#include "SimulatorFixture.h"

#include "device/ScreenFrame.h"

#include <vector>

namespace {

bool IsBorder(int x, int y)
{
    return x == 0 || y == 0 || x == SCREEN_FRAME_WIDTH - 1 || y == SCREEN_FRAME_HEIGHT - 1;
}

// Pixels set apart from the border.
std::vector<std::pair<int, int>> SetInside(const TScreenFrame& frame)
{
    std::vector<std::pair<int, int>> set;
    for (int y = 0; y < SCREEN_FRAME_HEIGHT; ++y) {
        for (int x = 0; x < SCREEN_FRAME_WIDTH; ++x) {
            if (!IsBorder(x, y) && frame.Pixel(x, y))
                set.emplace_back(x, y);
        }
    }
    return set;
}

void ExpectBorderOnly(const TScreenFrame& frame)
{
    for (int y = 0; y < SCREEN_FRAME_HEIGHT; ++y) {
        for (int x = 0; x < SCREEN_FRAME_WIDTH; ++x)
            ASSERT_EQ(frame.Pixel(x, y), IsBorder(x, y)) << x << "," << y;
    }
}

struct TBitCase
{
    std::size_t Byte;
    std::uint8_t Value;
    int X;
    int Y;
};

void PrintTo(const TBitCase& c, std::ostream* os)
{
    *os << "byte " << c.Byte << " = " << int(c.Value);
}

class DeviceScreenBitTest : public ::testing::TestWithParam<TBitCase>
{ };

TEST_P(DeviceScreenBitTest, OneBitSetsOnePixel)
{
    TScreenReply reply{};
    reply[GetParam().Byte] = GetParam().Value;
    TScreenFrame frame;
    frame.DecodeScreen(reply);
    EXPECT_EQ(SetInside(frame), (std::vector<std::pair<int, int>>{{GetParam().X, GetParam().Y}}));
}

INSTANTIATE_TEST_SUITE_P(Bits, DeviceScreenBitTest,
    ::testing::Values(TBitCase{0, 0x01, 2, 2}, TBitCase{0, 0x80, 2, 9}, TBitCase{127, 0x01, 129, 2},
        TBitCase{128, 0x01, 2, 10}, TBitCase{1023, 0x80, 129, 65}, TBitCase{130, 0x08, 4, 13}));

TEST(DeviceScreenFrameTest, NewFrameIsTheBareBorder)
{
    ExpectBorderOnly(TScreenFrame());
    EXPECT_FALSE(TScreenFrame().Pixel(-1, 0));
    EXPECT_FALSE(TScreenFrame().Pixel(0, SCREEN_FRAME_HEIGHT));
}

TEST(DeviceScreenFrameTest, FullReplyFillsDisplayAndKeepsTheGap)
{
    TScreenReply reply;
    reply.fill(0xFF);
    TScreenFrame frame;
    frame.DecodeScreen(reply);
    for (int y = 0; y < SCREEN_FRAME_HEIGHT; ++y) {
        for (int x = 0; x < SCREEN_FRAME_WIDTH; ++x) {
            const bool display = x >= 2 && x <= 129 && y >= 2 && y <= 65;
            ASSERT_EQ(frame.Pixel(x, y), display || IsBorder(x, y)) << x << "," << y;
        }
    }
    frame.DecodeScreen(TScreenReply{});
    ExpectBorderOnly(frame);
    frame.DecodeScreen(reply);
    frame.ClearScreen();
    ExpectBorderOnly(frame);
}

using DeviceScreenReadTest = SimulatorTest;

TEST_F(DeviceScreenReadTest, ReadsThePictureAndClearsOnFailure)
{
    TSimulatedInstrument instrument;
    instrument.Screen[0] = 0x01;
    const TUSBDeviceId id = m_simulator->Plug(instrument);
    TScreenFrame frame;
    ASSERT_EQ(ReadScreenFrame(frame), STATUS_SUCCESS);
    EXPECT_EQ(SetInside(frame), (std::vector<std::pair<int, int>>{{2, 2}}));
    EXPECT_EQ(m_simulator->Commands(), std::vector<std::uint32_t>{CMD_SCREEN});

    m_simulator->Unplug(id);
    EXPECT_EQ(ReadScreenFrame(frame), STATUS_USB_NO_DEVICE);
    ExpectBorderOnly(frame);
}

TEST_F(DeviceScreenReadTest, ShortReplyLeavesTheRestClear)
{
    TSimulatedInstrument instrument;
    instrument.Screen.fill(0xFF);
    instrument.Faults = {{0, TSimulatorFault::ShortReply, 100}};
    m_simulator->Plug(instrument);
    TScreenReply reply;
    reply.fill(0xFF);
    ASSERT_EQ(ReadDeviceScreen(reply), STATUS_SUCCESS);
    for (std::size_t b = 0; b < SCREEN_REPLY_SIZE; ++b)
        ASSERT_EQ(reply[b], b < 100 ? 0xFF : 0x00) << b;
}

} // namespace
