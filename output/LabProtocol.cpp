#include "output/LabProtocol.h"

#include "compute/ResultText.h"
#include "store/Cp1251.h"
#include "store/MainDataModuleUnit.h"
#include "store/ProtocolNumbers.h"
#include "view/DateTimes.h"
#include "view/ForecastChart.h"

#include <qcustomplot.h>

#include <QDateTime>
#include <QFontMetricsF>
#include <QImageReader>
#include <QLocale>
#include <QPagedPaintDevice>

#include <algorithm>

// Positions and sizes are in tenths of a millimetre from the page's top left.
struct TLabProtocolPainter::TItem
{
    enum class TKind
    {
        Text,
        Label,
        Rule,
        Chart,
        Logo
    };
    TKind Kind = TKind::Text;
    QRectF Box; // a rule runs from the top left to the bottom right
    QString Text;
    TReportLabel Label;
    double Points = 10;
    bool Bold = false;
    bool Italic = false;
    int Flags = Qt::AlignLeft | Qt::AlignVCenter;
    QColor Color = Qt::black;
    int Stretch = 100; // of a text narrowed to its cell
};

namespace {

using TItem = TLabProtocolPainter::TItem;

constexpr double kPageWidth = 2100;
constexpr double kPageHeight = 2970;
constexpr double kLeft = 200;
constexpr double kRight = 2000;
constexpr double kTop = 150;
constexpr double kBottom = 2760; // the footer lies below
constexpr double kRow = 60;
constexpr double kRuleWidth = 2;
const QColor kMarkColor(0xA0, 0x00, 0x00);
const QString kChangedMark = QStringLiteral("изменено");

QFont ProtocolFont(double points, bool bold = false, bool italic = false)
{
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(std::max(1, qRound(points * 254.0 / 72.0)));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QString Utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

QString DateText(std::optional<double> oleDate)
{
    return oleDate ? OleDateToDateTime(*oleDate).toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QString DateTimeText(double oleDate)
{
    return OleDateToDateTime(oleDate).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

QString OrDash(const QString& text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("—") : text.trimmed();
}

// Fields of the parameter rows in their order, as the history names them.
const char* const kParameterFields[6] = {HistoryField::Mass, nullptr, nullptr, HistoryField::Grade,
    HistoryField::Supplier, HistoryField::Duration};

// Lays items out top to bottom, page after page.
class TFlow
{
public:
    TFlow(std::vector<std::vector<TItem>>& pages, QString runningHead)
        : m_pages(pages)
        , m_runningHead(std::move(runningHead))
    {
        NewPage();
    }

    double Y() const { return m_y; }
    void Skip(double height) { m_y += height; }

    // Starts a new page when `height` does not fit below; true when it did.
    bool Ensure(double height)
    {
        if (m_y + height <= kBottom)
            return false;
        NewPage();
        return true;
    }

    void NewPage()
    {
        m_pages.emplace_back();
        m_y = kTop;
        if (m_pages.size() > 1) {
            Text(QRectF(kLeft, m_y, kRight - kLeft, 50), m_runningHead, 9, false,
                Qt::AlignLeft | Qt::AlignVCenter);
            Rule(kLeft, m_y + 60, kRight, m_y + 60);
            m_y += 100;
        }
    }

    TItem& Text(const QRectF& box, const QString& text, double points, bool bold = false,
        int flags = Qt::AlignLeft | Qt::AlignVCenter, bool italic = false)
    {
        TItem item;
        item.Box = box;
        item.Text = text;
        item.Points = points;
        item.Bold = bold;
        item.Italic = italic;
        item.Flags = flags;
        m_pages.back().push_back(std::move(item));
        return m_pages.back().back();
    }

    void Label(const QRectF& box, const TReportLabel& label, double points)
    {
        TItem item;
        item.Kind = TItem::TKind::Label;
        item.Box = box;
        item.Label = label;
        item.Points = points;
        m_pages.back().push_back(std::move(item));
    }

    void Rule(double x1, double y1, double x2, double y2)
    {
        TItem item;
        item.Kind = TItem::TKind::Rule;
        item.Box = QRectF(QPointF(x1, y1), QPointF(x2, y2));
        m_pages.back().push_back(std::move(item));
    }

    void Add(TItem item) { m_pages.back().push_back(std::move(item)); }

    // A paragraph wrapped to the width, split over pages line by line when long.
    void Paragraph(const QString& text, double points, bool bold = false, double indent = 0)
    {
        const QFont font = ProtocolFont(points, bold);
        const QFontMetricsF metrics(font);
        const double width = kRight - kLeft - indent;
        const double line = metrics.lineSpacing();
        for (const QString& part : text.split(QLatin1Char('\n'))) {
            QString rest = part.trimmed();
            if (rest.isEmpty())
                rest = QStringLiteral(" ");
            while (!rest.isEmpty()) {
                // The longest head that fits, broken at a blank where there is one.
                int take = rest.size();
                while (take > 1 && metrics.horizontalAdvance(rest.left(take)) > width)
                    --take;
                if (take < rest.size()) {
                    const int blank = rest.lastIndexOf(QLatin1Char(' '), take);
                    if (blank > 0)
                        take = blank;
                }
                Ensure(line);
                Text(QRectF(kLeft + indent, m_y, width, line), rest.left(take), points, bold,
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
                m_y += line;
                rest = rest.mid(take).trimmed();
            }
        }
    }

    void Section(const QString& title)
    {
        Ensure(70 + 2 * kRow); // a title never ends a page alone
        m_y += 30;
        Text(QRectF(kLeft, m_y, kRight - kLeft, 60), title, 11, true);
        m_y += 70;
    }

    // A ruled row of cells at the current line.
    void Row(const std::vector<double>& columns, double height)
    {
        Rule(columns.front(), m_y, columns.back(), m_y);
        Rule(columns.front(), m_y + height, columns.back(), m_y + height);
        for (const double x : columns)
            Rule(x, m_y, x, m_y + height);
    }

private:
    std::vector<std::vector<TItem>>& m_pages;
    QString m_runningHead;
    double m_y = kTop;
};

// The text of a cell, narrowed and then shortened with "…" only when it cannot fit.
QString Fitted(const QString& text, double points, double width, int& stretch)
{
    const QFontMetricsF metrics(ProtocolFont(points));
    const double needed = metrics.horizontalAdvance(text);
    stretch = 100;
    if (needed <= width)
        return text;
    stretch = std::max(70, static_cast<int>(100.0 * width / needed));
    QFont narrow = ProtocolFont(points);
    narrow.setStretch(stretch);
    return QFontMetricsF(narrow).elidedText(text, Qt::ElideRight, width);
}

void Cell(TFlow& flow, const QRectF& box, const QString& text, double points, int flags, bool bold = false)
{
    int stretch = 100;
    const QRectF inner = box.adjusted(12, 0, -12, 0);
    const QString fitted = Fitted(text, points, inner.width(), stretch);
    flow.Text(inner, fitted, points, bold, flags | Qt::TextSingleLine).Stretch = stretch;
}

void Header(TFlow& flow, const TLabProtocol& protocol)
{
    const TLaboratory& lab = protocol.Laboratory;
    double left = kLeft;
    const double top = flow.Y();
    if (!lab.LogoFile.empty() && QImageReader(Utf8(lab.LogoFile)).canRead()) {
        TItem logo;
        logo.Kind = TItem::TKind::Logo;
        logo.Box = QRectF(kLeft, top, 250, 250);
        logo.Text = Utf8(lab.LogoFile);
        flow.Add(std::move(logo));
        left += 290;
    }
    const double width = kRight - left;
    flow.Text(QRectF(left, top, width, 70),
        lab.Name.empty() ? QStringLiteral("Испытательная лаборатория") : Utf8(lab.Name), 13, true);
    flow.Text(QRectF(left, top + 80, width, 55), OrDash(Utf8(lab.Address)), 10);
    flow.Text(QRectF(left, top + 140, width, 55),
        QStringLiteral("Аттестат аккредитации № ") + OrDash(Utf8(lab.Accreditation)), 10);
    flow.Skip(lab.LogoFile.empty() ? 210 : 260);
    flow.Rule(kLeft, flow.Y(), kRight, flow.Y());
    flow.Skip(40);
}

void Title(TFlow& flow, const TLabProtocol& protocol)
{
    flow.Text(QRectF(kLeft, flow.Y(), kRight - kLeft, 80),
        QStringLiteral("ПРОТОКОЛ ИСПЫТАНИЙ № %1").arg(protocol.Number), 15, true, Qt::AlignCenter);
    flow.Skip(85);
    flow.Text(QRectF(kLeft, flow.Y(), kRight - kLeft, 55),
        QStringLiteral("Дата выдачи: ") + DateText(protocol.IssueDate), 10, false, Qt::AlignCenter);
    flow.Skip(75);
    flow.Paragraph(QStringLiteral("Метод испытания: ") + ReportTitleText(), 10);
    flow.Skip(10);
}

// A two-column ruled table row: label, value, and the change mark in the third column.
void PairRow(TFlow& flow, const TReportLabel& label, const QString& value, bool changed)
{
    static const std::vector<double> columns = {kLeft, 1150, 1720, kRight};
    flow.Ensure(kRow);
    flow.Row(columns, kRow);
    const double y = flow.Y();
    flow.Label(QRectF(kLeft + 15, y, 1150 - kLeft - 30, kRow), label, 10);
    Cell(flow, QRectF(1150, y, 1720 - 1150, kRow), OrDash(value), 10, Qt::AlignCenter);
    if (changed) {
        TItem& mark = flow.Text(QRectF(1720, y, kRight - 1720, kRow), kChangedMark + QStringLiteral(" *"), 9,
            false, Qt::AlignCenter, true);
        mark.Color = kMarkColor;
    }
    flow.Skip(kRow);
}

void PairRow(TFlow& flow, const QString& label, const QString& value, bool changed)
{
    PairRow(flow, TReportLabel{{label, false}}, value, changed);
}

void Changes(TFlow& flow, const std::vector<const TProtocolRecord*>& records, bool name)
{
    bool any = false;
    for (const TProtocolRecord* record : records)
        any = any || !record->Changes.empty();
    if (!any)
        return;
    flow.Section(QStringLiteral("Изменения после измерения"));
    flow.Paragraph(
        QStringLiteral("* Значение изменено после измерения; прибор записал иное. Ниже — кто, когда и что "
                       "изменил."),
        9);
    flow.Skip(10);
    for (const TProtocolRecord* record : records)
        for (const TProtocolChange& change : record->Changes) {
            QString line = DateTimeText(change.ChangedAt) + QStringLiteral(", ")
                + OrDash(Utf8(change.ChangedBy)) + QStringLiteral(": ");
            if (name)
                line += QStringLiteral("измерение № %1, ").arg(record->Sheet.MeasureNumber);
            line += Utf8(change.Label) + QStringLiteral(": «") + Utf8(change.OldValue)
                + QStringLiteral("» → «") + Utf8(change.NewValue) + QStringLiteral("»");
            flow.Paragraph(line, 9, false, 30);
        }
}

void Signatures(TFlow& flow, const TLaboratory& lab)
{
    flow.Ensure(330);
    flow.Skip(60);
    const struct
    {
        QString Role;
        const std::string& Name;
    } lines[] = {
        {QStringLiteral("Испытания провёл:"), lab.TestedBy},
        {QStringLiteral("Проверил:"), lab.CheckedBy},
        {QStringLiteral("Утверждаю:"), lab.ApprovedBy},
    };
    for (const auto& line : lines) {
        const double y = flow.Y();
        flow.Text(QRectF(kLeft, y, 450, 60), line.Role, 10);
        flow.Rule(700, y + 55, 1200, y + 55);
        flow.Text(QRectF(700, y + 60, 500, 35), QStringLiteral("(подпись)"), 7, false,
            Qt::AlignHCenter | Qt::AlignTop);
        flow.Text(QRectF(1250, y, kRight - 1250, 60), OrDash(Utf8(line.Name)), 10);
        flow.Skip(90);
    }
}

void OneRecord(TFlow& flow, const TProtocolRecord& record, const std::string& separator)
{
    const TSampleInfo& sample = record.Sample;
    flow.Section(QStringLiteral("1. Идентификация пробы"));
    PairRow(flow, QStringLiteral("Шифр пробы"), Utf8(sample.Code), record.Changed(SampleColumn::Code));
    PairRow(flow, QStringLiteral("Вид цемента"), Utf8(sample.CementType),
        record.Changed(SampleColumn::CementType));
    PairRow(flow, QStringLiteral("Изготовитель"), Utf8(sample.Manufacturer),
        record.Changed(SampleColumn::Manufacturer));
    PairRow(flow, QStringLiteral("Номер партии"), Utf8(sample.Batch), record.Changed(SampleColumn::Batch));
    PairRow(flow, QStringLiteral("Дата отбора пробы"), DateText(sample.SamplingDate),
        record.Changed(SampleColumn::SamplingDate));
    PairRow(flow, QStringLiteral("Измерение прибора №"), QString::number(record.Sheet.MeasureNumber), false);
    PairRow(flow, QStringLiteral("Испытание: начало, окончание"),
        ReportBeginText(record.Sheet).mid(8).simplified() + QStringLiteral(" — ")
            + ReportEndText(record.Sheet).mid(11).simplified(),
        false);

    TParamTexts params{};
    TResultTexts results{};
    if (record.Sheet.Readable) {
        params = GetParamTexts(record.Sheet.Msr, separator);
        // The supplier with its name: a protocol is read without the instrument's tables.
        params[4] = GetSupplierDataStr(record.Sheet.Msr.Supplier, separator);
        results = GetResultTexts(record.Sheet.Calc, separator);
    }
    flow.Section(QStringLiteral("2. Параметры испытания"));
    for (int row = 0; row < 6; ++row)
        PairRow(flow, ReportParameterLabels()[static_cast<std::size_t>(row)], Utf8(params[row]).trimmed(),
            kParameterFields[row] && record.Changed(kParameterFields[row]));

    flow.Section(QStringLiteral("3. Результаты испытания"));
    for (int row = 0; row < 9; ++row)
        PairRow(
            flow, ReportResultLabels()[static_cast<std::size_t>(row)], Utf8(results[row]).trimmed(), false);
    PairRow(flow, QStringLiteral("Активность по стандартному испытанию, МПа"),
        sample.Strength ? Utf8(GetMeasuredStrengthStr(sample.Strength, separator)) : QString(),
        record.Changed(SampleColumn::Strength));
    PairRow(flow, QStringLiteral("Дата стандартного испытания"), DateText(sample.StrengthDate),
        record.Changed(SampleColumn::StrengthDate));
    const bool error
        = record.Sheet.Readable && GetForecastError(record.Sheet.Calc, sample.Strength).has_value();
    PairRow(flow, QStringLiteral("Погрешность прогноза, МПа (%)"),
        error ? Utf8(GetForecastErrorStr(record.Sheet.Calc, sample.Strength, separator)) : QString(), false);

    flow.Section(QStringLiteral("4. Примечание"));
    flow.Paragraph(OrDash(Utf8(record.Comment))
            + (record.Changed(HistoryField::Comment) ? QStringLiteral("  (изменено *)") : QString()),
        10);

    flow.Section(QStringLiteral("5. Кривая контракции"));
    flow.Ensure(60 + 1000);
    flow.Label(QRectF(kLeft, flow.Y(), 800, 60), ReportChartLabel(), 10);
    flow.Skip(60);
    TItem chart;
    chart.Kind = TItem::TKind::Chart;
    chart.Box = QRectF(kLeft, flow.Y(), kRight - kLeft, 1000);
    flow.Add(std::move(chart));
    flow.Skip(1000);
}

void ManyRecords(TFlow& flow, const TLabProtocol& protocol, const std::string& separator)
{
    struct TColumn
    {
        QString Title;
        double Right;
    };
    static const TColumn columns[] = {
        {QStringLiteral("№"), 300},
        {QStringLiteral("Измерение"), 620},
        {QStringLiteral("Шифр пробы"), 880},
        {QStringLiteral("Вид цемента"), 1130},
        {QStringLiteral("Co, г"), 1260},
        {QStringLiteral("Марка"), 1420},
        {QStringLiteral("R, МПа"), 1570},
        {QStringLiteral("Rст, МПа"), 1740},
        {QStringLiteral("Погр., %"), kRight},
    };
    std::vector<double> rules = {kLeft};
    for (const TColumn& c : columns)
        rules.push_back(c.Right);
    auto head = [&] {
        flow.Row(rules, kRow);
        double x = kLeft;
        for (const TColumn& c : columns) {
            Cell(flow, QRectF(x, flow.Y(), c.Right - x, kRow), c.Title, 9, Qt::AlignCenter, true);
            x = c.Right;
        }
        flow.Skip(kRow);
    };
    flow.Section(QStringLiteral("1. Результаты испытаний"));
    head();
    int index = 0;
    for (const TProtocolRecord& record : protocol.Records) {
        if (flow.Ensure(kRow))
            head();
        ++index;
        const TMsrResult& msr = record.Sheet.Msr;
        const bool readable = record.Sheet.Readable;
        const auto mark = [&record](const QString& text, const char* field) {
            return field && record.Changed(field) ? text + QStringLiteral(" *") : text;
        };
        const auto error
            = readable ? GetForecastError(record.Sheet.Calc, record.Sample.Strength) : std::nullopt;
        const QString cells[] = {
            QString::number(index),
            QStringLiteral("%1, %2")
                .arg(record.Sheet.MeasureNumber)
                .arg(DateText(record.Sheet.BeginDateTime)),
            mark(Utf8(record.Sample.Code), SampleColumn::Code),
            mark(Utf8(record.Sample.CementType), SampleColumn::CementType),
            readable ? mark(Utf8(GetCementMassStr(msr.CementMass)), HistoryField::Mass) : QString(),
            readable ? mark(Utf8(GetParamTexts(msr, separator)[3]), HistoryField::Grade) : QString(),
            readable
                ? Utf8(GetActivityStr(record.Sheet.Calc.ActivityBound, record.Sheet.Calc.Activity, separator))
                      .trimmed()
                : QString(),
            record.Sample.Strength ? mark(
                Utf8(GetMeasuredStrengthStr(record.Sample.Strength, separator)), SampleColumn::Strength)
                                   : QString(),
            error ? Utf8(FormatDecimal(error->Percent, 1, separator)) : QString(),
        };
        flow.Row(rules, kRow);
        double x = kLeft;
        for (std::size_t c = 0; c < std::size(columns); ++c) {
            Cell(flow, QRectF(x, flow.Y(), columns[c].Right - x, kRow), OrDash(cells[c]), 9, Qt::AlignCenter);
            x = columns[c].Right;
        }
        flow.Skip(kRow);
    }
    flow.Skip(20);
    flow.Paragraph(QStringLiteral("R — прогноз активности по контракции; Rст — активность по стандартному "
                                  "испытанию; погрешность — (R − Rст) / Rст; * — значение изменено после "
                                  "измерения."),
        9);

    bool comments = false;
    for (const TProtocolRecord& record : protocol.Records)
        comments = comments || !QString::fromStdString(record.Comment).trimmed().isEmpty();
    if (comments) {
        flow.Section(QStringLiteral("2. Примечания"));
        for (const TProtocolRecord& record : protocol.Records)
            if (!QString::fromStdString(record.Comment).trimmed().isEmpty())
                flow.Paragraph(QStringLiteral("Измерение № %1: ").arg(record.Sheet.MeasureNumber)
                        + Utf8(record.Comment).simplified()
                        + (record.Changed(HistoryField::Comment) ? QStringLiteral(" *") : QString()),
                    10);
    }
}

} // namespace

bool TProtocolRecord::Changed(const std::string& field) const
{
    return std::any_of(Changes.begin(), Changes.end(),
        [&field](const TProtocolChange& change) { return change.Field == field; });
}

TLabProtocol CollectLabProtocol(TMainDataModule& dataModule, bool allRecords, const TLaboratory& laboratory)
{
    TLabProtocol protocol;
    protocol.Laboratory = laboratory;
    protocol.IssueDate = static_cast<double>(QDate(1899, 12, 30).daysTo(QDate::currentDate()));
    if (!dataModule.IsProjectOpen())
        return protocol;
    protocol.Number = ProtocolNumbers::Next(dataModule.Connection());
    const TStoreReportSheets sheets(dataModule, allRecords);
    const int first = allRecords ? 0 : dataModule.ResultDataSet().RecNo() - 1;
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    for (int i = 0; i < sheets.Count(); ++i) {
        const int row = first + i;
        TProtocolRecord record;
        record.Sheet = sheets.Sheet(i);
        // A protocol of many records draws no curves: their samples are not kept.
        if (allRecords && sheets.Count() > 1)
            record.Sheet.Msr.Data.clear();
        record.RecordKey = dataModule.RecordKeyAt(row);
        record.Sample = dataModule.SampleInfoAt(row);
        // An unedited comment is still in the file: read now, not kept by the list.
        const TCachedDataSet& list = dataModule.ResultDataSet();
        const TValue& comment = list.RowField(row, list.FieldIndex("MEASURE_COMMENT"));
        if (const auto* text = std::get_if<std::string>(&comment))
            record.Comment = Cp1251ToUtf8(*text);
        else if (const auto* blob = std::get_if<TBlobId>(&comment))
            record.Comment = Cp1251ToUtf8(dataModule.Connection().ReadBlob(*blob));
        for (const THistoryEntry& entry : dataModule.ReadHistory(record.RecordKey))
            record.Changes.push_back({entry.ChangedAt, entry.ChangedBy, entry.Field,
                HistoryFieldLabel(entry.Field), GetHistoryValueStr(entry.Field, entry.OldValue, separator),
                GetHistoryValueStr(entry.Field, entry.NewValue, separator)});
        protocol.Records.push_back(std::move(record));
    }
    return protocol;
}

QPageLayout LabProtocolPageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));
}

TLabProtocolPainter::TLabProtocolPainter(TLabProtocol protocol, std::uint32_t color)
    : m_protocol(std::move(protocol))
    , m_color(color)
    , m_chart(MakeReportChart())
{
    Layout();
}

TLabProtocolPainter::~TLabProtocolPainter() = default;

void TLabProtocolPainter::SetNumber(std::int64_t number)
{
    m_protocol.Number = number;
    Layout();
}

void TLabProtocolPainter::Layout()
{
    m_pages.clear();
    const QString head
        = QStringLiteral("%1. Протокол испытаний № %2 от %3")
              .arg(m_protocol.Laboratory.Name.empty() ? QStringLiteral("Испытательная лаборатория")
                                                      : Utf8(m_protocol.Laboratory.Name))
              .arg(m_protocol.Number)
              .arg(DateText(m_protocol.IssueDate));
    TFlow flow(m_pages, head);
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    Header(flow, m_protocol);
    Title(flow, m_protocol);
    std::vector<const TProtocolRecord*> records;
    for (const TProtocolRecord& record : m_protocol.Records)
        records.push_back(&record);
    if (m_protocol.Records.size() == 1)
        OneRecord(flow, m_protocol.Records.front(), separator);
    else
        ManyRecords(flow, m_protocol, separator);
    Changes(flow, records, m_protocol.Records.size() > 1);
    Signatures(flow, m_protocol.Laboratory);
}

void TLabProtocolPainter::Paint(QCPPainter& painter, int page)
{
    if (page < 0 || page >= PageCount())
        return;
    const QRect device = painter.viewport();
    painter.save();
    painter.scale(device.width() / kPageWidth, device.height() / kPageHeight);
    painter.setPen(Qt::black);
    auto text = [&painter](const TItem& item) {
        QFont font = ProtocolFont(item.Points, item.Bold, item.Italic);
        if (item.Stretch < 100)
            font.setStretch(item.Stretch);
        painter.setFont(font);
        painter.setPen(item.Color);
        painter.drawText(item.Box, item.Flags, item.Text);
        painter.setPen(Qt::black);
    };
    for (const TItem& item : m_pages[static_cast<std::size_t>(page)]) {
        switch (item.Kind) {
        case TItem::TKind::Text:
            text(item);
            break;
        case TItem::TKind::Label:
            PaintReportLabel(painter, item.Box, item.Label, ProtocolFont(item.Points),
                ProtocolFont(item.Points - 2), item.Points * 1.2);
            break;
        case TItem::TKind::Rule:
            painter.setPen(QPen(Qt::black, kRuleWidth, Qt::SolidLine, Qt::FlatCap));
            painter.drawLine(item.Box.topLeft(), item.Box.bottomRight());
            painter.setPen(Qt::black);
            break;
        case TItem::TKind::Chart:
            if (!m_protocol.Records.empty())
                PaintSheetChart(painter, *m_chart, m_protocol.Records.front().Sheet, m_color, item.Box,
                    item.Box.size() / 10.0);
            break;
        case TItem::TKind::Logo: {
            const QImage logo(item.Text);
            if (!logo.isNull()) {
                const QSizeF size = QSizeF(logo.size()).scaled(item.Box.size(), Qt::KeepAspectRatio);
                painter.drawImage(QRectF(item.Box.topLeft(), size), logo);
            }
            break;
        }
        }
    }
    // The footer: which protocol, which page of how many.
    const double y = kPageHeight - 170;
    painter.setPen(QPen(Qt::black, kRuleWidth / 2));
    painter.drawLine(QPointF(kLeft, y), QPointF(kRight, y));
    painter.setPen(Qt::black);
    painter.setFont(ProtocolFont(9));
    painter.drawText(QRectF(kLeft, y + 10, 1200, 50), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("Протокол испытаний № %1 от %2")
            .arg(m_protocol.Number)
            .arg(DateText(m_protocol.IssueDate)));
    painter.drawText(QRectF(1400, y + 10, kRight - 1400, 50), Qt::AlignRight | Qt::AlignVCenter,
        QStringLiteral("Лист %1 из %2").arg(page + 1).arg(PageCount()));
    painter.drawText(QRectF(kLeft, y + 60, kRight - kLeft, 50), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("Результаты относятся только к испытанной пробе. Перепечатка протокола без разрешения "
                       "лаборатории не допускается."));
    painter.restore();
}

bool PaintLabProtocol(
    QPagedPaintDevice& device, TLabProtocolPainter& protocol, const std::function<bool(int, int)>& progress)
{
    QCPPainter painter(&device);
    const int count = protocol.PageCount();
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            device.newPage();
        protocol.Paint(painter, i);
        if (progress && !progress(i + 1, count))
            return false;
    }
    return true;
}
