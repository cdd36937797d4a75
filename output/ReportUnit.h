#pragma once

// The test protocol: one landscape A4 sheet per record. The sheets are collected from
// the store first and painted from that list, so every repaint of a preview shows the
// same pages and the store is never moved while painting.
//
// The template is laid out in report units of 5/18 mm from the sheet's left edge and the
// band's top (the band starts 72 units below the top of the sheet).

#include "compute/Activity.h"
#include "store/MsrResult.h"

#include <QRectF>
#include <QString>

#include <cstdint>
#include <vector>

class QPainter;
class QPagedPaintDevice;
class TMainDataModule;

struct TReportSheet
{
    double BeginDateTime = 0.0; // from the row, so an unreadable record still shows it
    std::int32_t MeasureNumber = 0;
    bool Readable = false; // false: the value fields and the chart stay empty
    TMsrResult Msr;
    TMsrCalcResult Calc;
};

// The current record, or every record in the list's order. The list's position and its
// display notifications are restored on every way out, errors included.
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

// Paints one sheet on a device whose page is the whole A4 landscape sheet. `color` is
// the channel's line colour, 0x00BBGGRR.
void PaintReportSheet(QPainter& painter, const TReportSheet& sheet, std::uint32_t color);

// Every sheet, one page each.
void PaintReport(QPagedPaintDevice& device, const std::vector<TReportSheet>& sheets, std::uint32_t color);
