#include "device/ScreenFrame.h"

TScreenFrame::TScreenFrame()
{
    ClearScreen();
}

bool TScreenFrame::Pixel(int x, int y) const
{
    if (x < 0 || x >= SCREEN_FRAME_WIDTH || y < 0 || y >= SCREEN_FRAME_HEIGHT)
        return false;
    return m_pixels[static_cast<std::size_t>(y * SCREEN_FRAME_WIDTH + x)];
}

void TScreenFrame::SetPixel(int x, int y, bool set)
{
    m_pixels[static_cast<std::size_t>(y * SCREEN_FRAME_WIDTH + x)] = set;
}

void TScreenFrame::ClearScreen()
{
    m_pixels.reset();
    for (int x = 0; x < SCREEN_FRAME_WIDTH; ++x) {
        SetPixel(x, 0, true);
        SetPixel(x, SCREEN_FRAME_HEIGHT - 1, true);
    }
    for (int y = 0; y < SCREEN_FRAME_HEIGHT; ++y) {
        SetPixel(0, y, true);
        SetPixel(SCREEN_FRAME_WIDTH - 1, y, true);
    }
}

void TScreenFrame::DecodeScreen(std::span<const std::uint8_t, SCREEN_REPLY_SIZE> reply)
{
    for (std::size_t b = 0; b < SCREEN_REPLY_SIZE; ++b) {
        const int x = static_cast<int>(b % DISPLAY_WIDTH) + SCREEN_DISPLAY_ORIGIN;
        const int top = 8 * static_cast<int>(b / DISPLAY_WIDTH) + SCREEN_DISPLAY_ORIGIN;
        for (int k = 0; k < 8; ++k)
            SetPixel(x, top + k, (reply[b] >> k) & 1);
    }
}

TUSBStatus ReadDeviceScreen(TScreenReply& reply)
{
    reply.fill(0);
    return USBExchange(CMD_SCREEN, nullptr, 0, reply.data(), static_cast<std::uint32_t>(reply.size()));
}

TUSBStatus ReadScreenFrame(TScreenFrame& frame)
{
    TScreenReply reply;
    const TUSBStatus status = ReadDeviceScreen(reply);
    if (status != STATUS_SUCCESS)
        frame.ClearScreen();
    else
        frame.DecodeScreen(reply);
    return status;
}
