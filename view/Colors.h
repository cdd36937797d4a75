#pragma once

// Colours as the program stores them: 0x00BBGGRR, red in the low byte (Qt's own order
// differs), and the sixteen the colour lists offer.

#include <QColor>

#include <array>
#include <cstdint>

class QPainter;
class QRect;

inline constexpr std::array<std::uint32_t, 16> OFFERED_COLORS
    = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0x808080, 0xC0C0C0, 0x0000FF,
        0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

QColor ColorOfValue(std::uint32_t value);
std::uint32_t ValueOfColor(const QColor& color);

// A swatch with a dark outline, so white and silver stand out on a white list.
void PaintColorSwatch(QPainter& painter, const QRect& rect, std::uint32_t color);
