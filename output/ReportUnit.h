#pragma once

// The test protocol: one landscape A4 sheet per record. The rows a report prints are
// fixed when it is made; each sheet is read from the store when it is painted, without
// moving the store, so a report of any length holds one sheet at a time and every repaint
// of a preview shows the same pages.
//
// The template is laid out in report units of 5/18 mm from the sheet's left edge and the
// band's top (the band starts 72 units below the top of the sheet).

#include "compute/Activity.h"
#include "store/MsrResult.h"

#include <QFont>
#include <QRectF>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCPPainter;
class QFont;
class QPainter;
class QCustomPlot;
class QPagedPaintDevice;
class QSizeF;
class TForecastChart;
class TMainDataModule;

struct TReportSheet
{
    double BeginDateTime = 0.0; // from the row, so an unreadable record still shows it
    std::int32_t MeasureNumber = 0;
    bool Readable = false; // false: the value fields and the chart stay empty
    TMsrResult Msr;
    TMsrCalcResult Calc;
};

// The sheets of a report, made one at a time.
class TReportSheets
{
public:
    virtual ~TReportSheets() = default;
    virtual int Count() const = 0;
    // Sheet `index` (from 0); throws what reading the store throws.
    virtual TReportSheet Sheet(int index) const = 0;
};

// Sheets already made (a test's, or a few).
class TReportSheetList : public TReportSheets
{
public:
    explicit TReportSheetList(std::vector<TReportSheet> sheets)
        : m_sheets(std::move(sheets))
    { }
    int Count() const override { return static_cast<int>(m_sheets.size()); }
    TReportSheet Sheet(int index) const override { return m_sheets.at(static_cast<std::size_t>(index)); }

private:
    std::vector<TReportSheet> m_sheets;
};

// The current record, or every record in the list's order, read from the store as each
// sheet is asked for. Pending edits are posted first; the store must not change while
// the sheets are in use (the preview is modal).
class TStoreReportSheets : public TReportSheets
{
public:
    TStoreReportSheets(TMainDataModule& dataModule, bool allRecords);
    int Count() const override { return m_count; }
    TReportSheet Sheet(int index) const override;

private:
    TMainDataModule& m_dataModule;
    int m_first = 0; // view row of sheet 0
    int m_count = 0;
};

// The sheet of a list row (from 0), read without moving the store.
TReportSheet ReadReportSheet(const TMainDataModule& dataModule, int row);

// Every sheet of TStoreReportSheets at once (a few records, or a test).
std::vector<TReportSheet> CollectReportSheets(TMainDataModule& dataModule, bool allRecords);

inline constexpr double kReportUnitMm = 5.0 / 18.0;
inline constexpr double kReportBandTop = 72.0;
inline constexpr double kReportLeftMargin = 36.0;
// The part of the sheet that holds printed objects, in units from the sheet's top left.
QRectF ReportPrintedArea();

// The texts of the date fields: "начало  dd.MM.yyyy  hh:mm", "окончание  ..." (begin plus
// Duration seconds, over midnight and over days).
QString ReportBeginText(const TReportSheet& sheet);
QString ReportEndText(const TReportSheet& sheet);

// A row label: pieces left to right, a lowered piece is a subscript.
struct TReportLabelPiece
{
    QString Text;
    bool Lowered = false;
};
using TReportLabel = std::vector<TReportLabelPiece>;
// The labels of the parameter and result rows in the order of GetParamTexts and
// GetResultTexts, and the chart's caption.
const std::array<TReportLabel, 6>& ReportParameterLabels();
const std::array<TReportLabel, 9>& ReportResultLabels();
TReportLabel ReportChartLabel();
// The method the sheet's title names, in capitals.
QString ReportTitleText();
// The pieces joined, subscripts inline.
QString ReportLabelText(const TReportLabel& label);
// Vertically centred in `box`, a lowered piece in `small` and `lowered` lower; a label wider
// than the box is narrowed to it.
void PaintReportLabel(QPainter& painter, const QRectF& box, const TReportLabel& label, QFont normal,
    QFont small, double lowered);

// A chart for printing: white, solid grid, fonts fit for any device.
std::unique_ptr<TForecastChart> MakeReportChart();
// The record's contraction of 1000 g as the sheet shows it, drawn as PaintReportChart does.
void PaintSheetChart(QCPPainter& painter, TForecastChart& chart, const TReportSheet& sheet,
    std::uint32_t color, const QRectF& target, const QSizeF& millimetres);

// The chart's fonts in pixels of its layout rather than in points: a point is resolved
// against the device painted on, so a 300 dpi page would get letters three times too large
// for the places the chart made for them.
void UseDeviceIndependentFonts(QCustomPlot& plot);
// The chart laid out for a field of `millimetres` at screen resolution and drawn scaled into
// `target` (device coordinates) as vectors: paths and text in a PDF, no picture.
void PaintReportChart(
    QCPPainter& painter, TForecastChart& chart, const QRectF& target, const QSizeF& millimetres);

// Paints sheets on devices whose page is the whole A4 landscape sheet, one chart kept for
// all of them (making a chart costs more than painting one). `color` is the channel's line
// colour, 0x00BBGGRR.
class TReportPainter
{
public:
    explicit TReportPainter(std::uint32_t color);
    ~TReportPainter();
    // The painter is a QCPPainter so the chart can be drawn into it as vectors.
    void Paint(QCPPainter& painter, const TReportSheet& sheet);

private:
    std::unique_ptr<TForecastChart> m_chart;
    std::uint32_t m_color;
};

// One sheet with a painter of its own.
void PaintReportSheet(QCPPainter& painter, const TReportSheet& sheet, std::uint32_t color);

// Every sheet, one page each.
void PaintReport(QPagedPaintDevice& device, const std::vector<TReportSheet>& sheets, std::uint32_t color);
// The same, one sheet made and painted at a time. `progress` hears (pages done, pages in
// all) after each page and returns false to stop; false when stopped so.
bool PaintReport(QPagedPaintDevice& device, const TReportSheets& sheets, std::uint32_t color,
    const std::function<bool(int, int)>& progress = {});
