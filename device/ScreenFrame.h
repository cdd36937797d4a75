#pragma once

// The instrument's 128 x 64 monochrome display inside a 132 x 68 frame.
//
// Reply to CMD_SCREEN (1024 bytes): 8 bands of 8 rows from the top; byte b holds column
// b mod 128 of band b div 128, bit k (least significant first) its row 8 * band + k.
// The display pixel (c, r) is shown at (c + 2, r + 2). The frame's outer edge is a border
// that is always set; the ring just inside it is never written and stays clear.

#include "device/USB.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t SCREEN_REPLY_SIZE = 1024;
constexpr int DISPLAY_WIDTH = 128;
constexpr int DISPLAY_HEIGHT = 64;
constexpr int SCREEN_FRAME_WIDTH = 132;
constexpr int SCREEN_FRAME_HEIGHT = 68;
constexpr int SCREEN_DISPLAY_ORIGIN = 2;

using TScreenReply = std::array<std::uint8_t, SCREEN_REPLY_SIZE>;

class TScreenFrame
{
public:
    // Starts as the bare border.
    TScreenFrame();

    // False outside the frame.
    bool Pixel(int x, int y) const;
    // Border set, everything else clear.
    void ClearScreen();
    // Writes the display area from a reply; the border and the ring are left as they are.
    void DecodeScreen(std::span<const std::uint8_t, SCREEN_REPLY_SIZE> reply);

private:
    void SetPixel(int x, int y, bool set);

    std::bitset<SCREEN_FRAME_WIDTH * SCREEN_FRAME_HEIGHT> m_pixels;
};

// Reads the display with CMD_SCREEN. The buffer is cleared first, so bytes a short reply
// did not bring read as clear pixels. Returns the exchange status.
TUSBStatus ReadDeviceScreen(TScreenReply& reply);

// Reads the display into the frame: decoded on success; on failure the frame is reset to
// the bare border. Returns the exchange status.
TUSBStatus ReadScreenFrame(TScreenFrame& frame);
