#pragma once

// The individuals chart of the predicted activity of a selection: the values inside the
// table in time order, the centre line and the limits at three sigma of the moving range
// (the same figures as the statistics), points beyond them in red. A click on a point
// names its journal row.

#include "analysis/Statistics.h"

#include <QDialog>

class QCustomPlot;
class QCPGraph;
class QCPPainter;

class TControlChart : public QWidget
{
    Q_OBJECT

public:
    explicit TControlChart(QWidget* parent = nullptr);

    void SetData(const TJournal& journal, const std::vector<int>& rows);
    const TControlLimits& Limits() const { return m_limits; }
    const TControlSeries& Series() const { return m_series; }
    QCustomPlot* Plot() const { return m_plot; }
    // The point's journal row when a click lands on it.
    void ClickPoint(int index);

signals:
    void RowChosen(int journalRow);

private:
    QCustomPlot* m_plot = nullptr;
    QCPGraph* m_values = nullptr;
    QCPGraph* m_beyond = nullptr;
    QCPGraph* m_centre = nullptr;
    QCPGraph* m_ucl = nullptr;
    QCPGraph* m_lcl = nullptr;
    TControlSeries m_series;
    TControlLimits m_limits;
};

class TControlChartForm : public QDialog
{
    Q_OBJECT

public:
    explicit TControlChartForm(QWidget* owner);
    TControlChart* Chart() const { return m_chart; }
    // Asks for a PNG or PDF file and writes the chart; false when cancelled or not written.
    bool SaveChart();
    void PrintChart();

private:
    TControlChart* m_chart = nullptr;
};

// Draws a plot into a painter of any device, scaled into `target` (a PDF page or a printer).
void PaintPlot(QCustomPlot& plot, QPainter& painter, const QRectF& target);
