#include "view/Colors.h"

#include <QPainter>

QColor ColorOfValue(std::uint32_t value)
{
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
        static_cast<int>((value >> 16) & 0xFF));
}

std::uint32_t ValueOfColor(const QColor& color)
{
    return static_cast<std::uint32_t>(color.red()) | (static_cast<std::uint32_t>(color.green()) << 8)
        | (static_cast<std::uint32_t>(color.blue()) << 16);
}

void PaintColorSwatch(QPainter& painter, const QRect& rect, std::uint32_t color)
{
    painter.save();
    painter.setPen(Qt::black);
    painter.setBrush(ColorOfValue(color));
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}
