#pragma once

// The chart of one channel: five series, one per quantity, all filled for every record
// so switching the quantity only changes which one is visible. The x axis is elapsed
// time in seconds from the start of the run, labelled h:mm; it runs past 24:00 for long
// runs instead of wrapping.

#include "store/MsrResult.h"
#include "view/Colors.h"

#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>

class QCustomPlot;
class QCPGraph;

inline constexpr int QUANTITY_COUNT = 5;

// Elapsed seconds as a time of day (fraction of a day, 0:00 = 0.0); past one day it keeps
// counting (1.0 = 24:00).
double GetChartTime(std::int64_t seconds);
// The text of a chart time, "h:mm", hours not wrapped at 24.
QString ChartTimeText(std::int64_t seconds);

// The picture of a quantity's tool-bar button: its symbol with the subscript lowered.
QPixmap QuantityPicture(int quantity);
QSize QuantityPictureSize();

class TQuantityLabel;

class TForecastChart : public QWidget
{
    Q_OBJECT

public:
    explicit TForecastChart(QWidget* parent = nullptr);

    // ClearGraphics: every point of every series and both axis titles.
    void Clear();
    // Fills the five series from the record (a missing sample array leaves its series empty).
    void Fill(const TMsrResult& msr);
    // ShowVorkastGraphic: a quantity outside 0..4 changes nothing.
    void ShowQuantity(int quantity, std::uint32_t color);

    // The look of the printed chart: white background, solid grid lines.
    void UsePrintedLook();

    QCustomPlot* Plot() const { return m_plot; }
    QCPGraph* Series(int quantity) const { return m_series.at(quantity); }
    int PointCount(int quantity) const;
    // The visible quantity, -1 when none is.
    int VisibleQuantity() const;
    QWidget* LabelPanel(int quantity) const;

private:
    QCustomPlot* m_plot = nullptr;
    std::array<QCPGraph*, QUANTITY_COUNT> m_series{};
    std::array<TQuantityLabel*, QUANTITY_COUNT> m_labels{};
};
