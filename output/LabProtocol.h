#pragma once

// The laboratory's test protocol: A4 portrait pages with the laboratory's header, the
// protocol's number and date, the sample, the parameters and results (the measured strength
// and the forecast error where entered), the comment, a mark on every value changed after
// the measurement with the history of the changes, the chart, "Лист N из M" and the three
// signatures. One record gives its chart; several give one results table.
//
// The protocol is laid out once, in tenths of a millimetre, into a list of what each page
// holds; painting replays a page scaled to the device, so the page count is known before
// the first page is painted and every device shows the same pages.

#include "output/ReportUnit.h"
#include "settings/LaboratoryUnit.h"
#include "store/ProjectExtensions.h"

#include <QPageLayout>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCPPainter;
class QPagedPaintDevice;
class TForecastChart;
class TMainDataModule;

struct TProtocolChange
{
    double ChangedAt = 0.0; // OLE date-time
    std::string ChangedBy;
    std::string Field; // the history's field name
    std::string Label; // as the operator reads it
    std::string OldValue;
    std::string NewValue;
};

struct TProtocolRecord
{
    std::int64_t RecordKey = 0;
    TReportSheet Sheet;
    TSampleInfo Sample;
    std::string Comment;
    std::vector<TProtocolChange> Changes; // oldest first; a field listed is marked "изменено"

    bool Changed(const std::string& field) const;
};

struct TLabProtocol
{
    TLaboratory Laboratory;
    std::int64_t Number = 1;
    double IssueDate = 0.0; // OLE date
    std::vector<TProtocolRecord> Records;
};

// The current record or every record in the list's order, with what the store keeps about
// each; number and date are the project's next number and today. Pending edits are posted
// first. Throws what reading the store throws.
TLabProtocol CollectLabProtocol(TMainDataModule& dataModule, bool allRecords, const TLaboratory& laboratory);

// A4 portrait without margins: the protocol places everything itself.
QPageLayout LabProtocolPageLayout();

class TLabProtocolPainter
{
public:
    TLabProtocolPainter(TLabProtocol protocol, std::uint32_t color);
    ~TLabProtocolPainter();

    const TLabProtocol& Protocol() const { return m_protocol; }
    // Lays the pages out anew under another number.
    void SetNumber(std::int64_t number);
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    // Page `page` (from 0) on a device whose page is the whole A4 portrait sheet.
    void Paint(QCPPainter& painter, int page);

    struct TItem;

private:
    void Layout();

    TLabProtocol m_protocol;
    std::uint32_t m_color;
    std::unique_ptr<TForecastChart> m_chart;
    std::vector<std::vector<TItem>> m_pages;
};

// Every page, one after another; `progress` as PaintReport's. False when stopped.
bool PaintLabProtocol(QPagedPaintDevice& device, TLabProtocolPainter& protocol,
    const std::function<bool(int, int)>& progress = {});
