#include "output/ReportUnit.h"

#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"
#include "store/MainDataModuleUnit.h"
#include "view/DateTimes.h"
#include "view/ForecastChart.h"

#include <qcustomplot.h>

#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QScopeGuard>

namespace {

constexpr double kSheetWidthMm = 297.0;
constexpr double kSheetHeightMm = 210.0;
// The chart is laid out at this resolution and scaled to its field on any device.
constexpr double kChartLayoutDpi = 96.0;

const QString kDelta = QStringLiteral("Δ");

TReportLabel Plain(const QString& text)
{
    return {{text, false}};
}

TReportLabel DeltaV(const QString& before, const QString& subscript, const QString& after)
{
    TReportLabel label{{before, false}, {kDelta + QStringLiteral("V"), false}};
    if (!subscript.isEmpty())
        label.push_back({subscript, true});
    label.push_back({after, false});
    return label;
}

// Device pixels per report unit, and the fonts at the template's sizes.
class TSheetPainter
{
public:
    TSheetPainter(QCPPainter& painter)
        : m_painter(painter)
    {
        const QRect device = painter.viewport();
        m_sx = device.width() / (kSheetWidthMm / kReportUnitMm);
        m_sy = device.height() / (kSheetHeightMm / kReportUnitMm);
    }

    // A rectangle of the band in device pixels; x from the sheet's edge, y from the band's top.
    QRectF Rect(double x, double y, double w, double h) const
    {
        return QRectF(x * m_sx, (y + kReportBandTop) * m_sy, w * m_sx, h * m_sy);
    }

    QFont Font(double points, bool bold = false) const
    {
        QFont font(QStringLiteral("Times New Roman"));
        font.setStyleHint(QFont::Serif);
        // Points to units (a point is 25.4 / 72 mm), then to device pixels.
        font.setPixelSize(std::max(1, qRound(points * 25.4 / 72.0 / kReportUnitMm * m_sy)));
        font.setBold(bold);
        return font;
    }

    // One line, not clipped; only the bold title wraps.
    void Text(double x, double y, double w, double h, const QString& text, Qt::Alignment alignment,
        double points = 12, bool bold = false)
    {
        m_painter.setFont(Font(points, bold));
        const int flags = static_cast<int>(alignment) | (bold ? Qt::TextWordWrap : Qt::TextSingleLine);
        m_painter.drawText(Rect(x, y, w, h), flags, text);
    }

    // A row label in its 20-unit box.
    void Label(double x, double y, const TReportLabel& label)
    {
        PaintReportLabel(m_painter, Rect(x, y, 256, 20), label, Font(12), Font(10), 4 * m_sy);
    }

    void Rule(double x1, double y1, double x2, double y2)
    {
        m_painter.setPen(QPen(Qt::black, std::max(1.0, 2 * m_sy), Qt::SolidLine, Qt::FlatCap));
        m_painter.drawLine(QPointF(x1 * m_sx, (y1 + kReportBandTop) * m_sy),
            QPointF(x2 * m_sx, (y2 + kReportBandTop) * m_sy));
        m_painter.setPen(Qt::black);
    }

    // A ruled table: head row, then rows of 28 units, the value column from y of the first row.
    void Table(double top, int rows)
    {
        const double bottom = top + 28 + 28 * rows;
        for (int r = 0; r <= rows + 1; ++r)
            Rule(40, top + 28 * r, 408, top + 28 * r);
        Rule(40, top, 40, bottom);
        Rule(408, top, 408, bottom);
        Rule(304, top + 28, 304, bottom);
    }

    double Sx() const { return m_sx; }
    double Sy() const { return m_sy; }
    QCPPainter& Painter() { return m_painter; }

private:
    QCPPainter& m_painter;
    double m_sx = 1.0;
    double m_sy = 1.0;
};

QString DateTimeText(double oleDate)
{
    return OleDateToDateTime(oleDate).toString(QStringLiteral("dd.MM.yyyy  hh:mm"));
}

QString Utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

void PaintChart(
    TSheetPainter& sheetPainter, TForecastChart& chart, const TReportSheet& sheet, std::uint32_t color)
{
    PaintSheetChart(sheetPainter.Painter(), chart, sheet, color, sheetPainter.Rect(412, 124, 620, 408),
        QSizeF(620 * kReportUnitMm, 408 * kReportUnitMm));
}

void PaintSheet(QCPPainter& painter, TForecastChart& chart, const TReportSheet& sheet, std::uint32_t color)
{
    TSheetPainter p(painter);
    painter.save();
    painter.setPen(Qt::black);
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    const auto centre = Qt::AlignHCenter | Qt::AlignVCenter;
    const auto left = Qt::AlignLeft | Qt::AlignVCenter;
    p.Text(787, 0, 248, 20, QStringLiteral("Протокол испытания № _______"), right);
    p.Text(787, 24, 248, 20, ReportBeginText(sheet), right);
    p.Text(787, 48, 248, 20, ReportEndText(sheet), right);
    p.Text(39, 72, 992, 48, ReportTitleText(), centre, 16, true);
    p.Text(42, 128, 360, 20, QStringLiteral("Параметры испытания"), left);
    p.Text(42, 336, 360, 20, QStringLiteral("Результаты испытания"), left);
    p.Text(724, 592, 308, 20, QStringLiteral("Испытания провёл: _____________________"), right);

    p.Table(124, 6);
    p.Table(332, 9);
    const auto& parameterLabels = ReportParameterLabels();
    const auto& resultLabels = ReportResultLabels();
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    TParamTexts params{};
    TResultTexts results{};
    if (sheet.Readable) {
        params = GetParamTexts(sheet.Msr, separator);
        // The short form of the supplier, without the name the screen adds.
        params[4] = GetSupplierDataSimpleStr(sheet.Msr.Supplier, separator);
        results = GetResultTexts(sheet.Calc, separator);
    }
    for (int row = 0; row < 6; ++row) {
        p.Label(42, 156 + 28 * row, parameterLabels[row]);
        p.Text(308, 156 + 28 * row, 96, 20, Utf8(params[row]), centre, 11);
    }
    for (int row = 0; row < 9; ++row) {
        p.Label(42, 364 + 28 * row, resultLabels[row]);
        p.Text(308, 364 + 28 * row, 96, 20, Utf8(results[row]), centre, 11);
    }

    PaintChart(p, chart, sheet, color);
    p.Label(412, 126, ReportChartLabel());
    painter.restore();
}

} // namespace

const std::array<TReportLabel, 6>& ReportParameterLabels()
{
    static const std::array<TReportLabel, 6> labels = {
        Plain(QStringLiteral("Масса цемента в стакане Co, г")),
        Plain(QStringLiteral("Длительность, ч:м")),
        Plain(QStringLiteral("Период, с")),
        Plain(QStringLiteral("Ожидаемая марка")),
        TReportLabel{{kDelta + kDelta + QStringLiteral("V, мл (поставщик)"), false}},
        Plain(QStringLiteral("Длительность твердения, сут")),
    };
    return labels;
}

const std::array<TReportLabel, 9>& ReportResultLabels()
{
    static const std::array<TReportLabel, 9> labels = {
        DeltaV(QStringLiteral("Контракция "), QStringLiteral("Co3"), QStringLiteral(", мл")),
        DeltaV(QStringLiteral("Контракция "), QStringLiteral("1K3"), QStringLiteral(", мл")),
        Plain(QStringLiteral("Торможение")),
        TReportLabel{
            {QStringLiteral("Поправка на торможение ") + kDelta + kDelta + QStringLiteral("V, мл"), false}},
        Plain(QStringLiteral("Средняя температура Tср, °С")),
        DeltaV(QStringLiteral("Поправка на температуру "), QStringLiteral("T"), QStringLiteral(", мл")),
        DeltaV(QStringLiteral("Итоговая контракция "), QStringLiteral("0"), QStringLiteral(", мл")),
        Plain(QStringLiteral("Активность R, МПа")),
        DeltaV(QStringLiteral("Удельная контракция "), QString(), QStringLiteral("', мл/г")),
    };
    return labels;
}

QString ReportTitleText()
{
    return QStringLiteral("УСКОРЕННОЕ ОПРЕДЕЛЕНИЕ И ВОРКАСТИРОВАНИЕ АКТИВНОСТИ ЦЕМЕНТА ПО ЕГО КОНТРАКЦИИ "
                          "МИ 2486-98, МИ 2487-98");
}

TReportLabel ReportChartLabel()
{
    return DeltaV(QString(), QStringLiteral("1K3"), QStringLiteral("(t), мл"));
}

QString ReportLabelText(const TReportLabel& label)
{
    QString text;
    for (const TReportLabelPiece& piece : label)
        text += piece.Text;
    return text;
}

void PaintReportLabel(QPainter& painter, const QRectF& box, const TReportLabel& label, QFont normal,
    QFont small, double lowered)
{
    // A face wider than the one the sheet was drawn for is narrowed to the box.
    double width = 0.0;
    for (const TReportLabelPiece& piece : label)
        width += QFontMetricsF(piece.Lowered ? small : normal).horizontalAdvance(piece.Text);
    if (width > box.width()) {
        normal.setStretch(std::max(50, static_cast<int>(100.0 * box.width() / width)));
        small.setStretch(normal.stretch());
    }
    const QFontMetricsF metrics(normal);
    const double baseline = box.center().y() + (metrics.ascent() - metrics.descent()) / 2.0;
    double left = box.left();
    for (const TReportLabelPiece& piece : label) {
        const QFont& font = piece.Lowered ? small : normal;
        painter.setFont(font);
        painter.drawText(QPointF(left, baseline + (piece.Lowered ? lowered : 0.0)), piece.Text);
        left += QFontMetricsF(font).horizontalAdvance(piece.Text);
    }
}

std::unique_ptr<TForecastChart> MakeReportChart()
{
    auto chart = std::make_unique<TForecastChart>();
    chart->UsePrintedLook();
    UseDeviceIndependentFonts(*chart->Plot());
    return chart;
}

void PaintSheetChart(QCPPainter& painter, TForecastChart& chart, const TReportSheet& sheet,
    std::uint32_t color, const QRectF& target, const QSizeF& millimetres)
{
    chart.Clear();
    if (sheet.Readable)
        chart.Fill(sheet.Msr);
    chart.ShowQuantity(1, color);
    PaintReportChart(painter, chart, target, millimetres);
}

void UseDeviceIndependentFonts(QCustomPlot& plot)
{
    const auto pixels = [](QFont font) {
        if (font.pointSizeF() > 0)
            font.setPixelSize(std::max(1, qRound(font.pointSizeF() * kChartLayoutDpi / 72.0)));
        return font;
    };
    plot.setFont(pixels(plot.font()));
    for (QCPAxis* axis : plot.axisRect()->axes()) {
        axis->setTickLabelFont(pixels(axis->tickLabelFont()));
        axis->setLabelFont(pixels(axis->labelFont()));
        axis->setSelectedTickLabelFont(pixels(axis->selectedTickLabelFont()));
        axis->setSelectedLabelFont(pixels(axis->selectedLabelFont()));
    }
    for (int i = 0; i < plot.plotLayout()->elementCount(); ++i)
        if (auto* text = qobject_cast<QCPTextElement*>(plot.plotLayout()->elementAt(i))) {
            text->setFont(pixels(text->font()));
            text->setSelectedFont(pixels(text->selectedFont()));
        }
}

void PaintReportChart(
    QCPPainter& painter, TForecastChart& chart, const QRectF& target, const QSizeF& millimetres)
{
    // Laid out at screen size and scaled, so its fonts and lines keep their proportions on
    // every device and at every zoom.
    QCustomPlot& plot = *chart.Plot();
    const int width = qRound(millimetres.width() / 25.4 * kChartLayoutDpi);
    const int height = qRound(millimetres.height() / 25.4 * kChartLayoutDpi);
    if (width <= 0 || height <= 0)
        return;
    const QCPPainter::PainterModes modes = painter.modes();
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / width, target.height() / height);
    // Lines, curve and labels go to a PDF or a printer as paths and text, never as a picture;
    // a hairline grid would all but vanish on paper.
    painter.setModes(QCPPainter::pmVectorized | QCPPainter::pmNoCaching | QCPPainter::pmNonCosmetic);
    plot.toPainter(&painter, width, height);
    painter.restore();
    painter.setModes(modes);
}

TStoreReportSheets::TStoreReportSheets(TMainDataModule& dataModule, bool allRecords)
    : m_dataModule(dataModule)
{
    const TCachedDataSet& results = dataModule.ResultDataSet();
    if (!dataModule.IsProjectOpen() || !results.Active())
        return;
    dataModule.PostEdits();
    if (results.IsEmpty())
        return;
    m_first = allRecords ? 0 : results.RecNo() - 1;
    m_count = allRecords ? results.RecordCount() : 1;
}

TReportSheet TStoreReportSheets::Sheet(int index) const
{
    return ReadReportSheet(m_dataModule, m_first + index);
}

TReportSheet ReadReportSheet(const TMainDataModule& dataModule, int row)
{
    const TCachedDataSet& results = dataModule.ResultDataSet();
    TReportSheet sheet;
    if (const auto* date = std::get_if<TDateTime>(&results.RowField(row, results.FieldIndex("MEASURE_DATE"))))
        sheet.BeginDateTime = date->Value;
    if (const auto* number
        = std::get_if<std::int64_t>(&results.RowField(row, results.FieldIndex("MEASURE_NUMBER"))))
        sheet.MeasureNumber = static_cast<std::int32_t>(*number);
    sheet.Readable = dataModule.ReadMsrResultAt(row, sheet.Msr) == 0;
    if (sheet.Readable)
        sheet.Calc = CalcMsrResult(sheet.Msr);
    return sheet;
}

std::vector<TReportSheet> CollectReportSheets(TMainDataModule& dataModule, bool allRecords)
{
    const TStoreReportSheets source(dataModule, allRecords);
    std::vector<TReportSheet> sheets;
    sheets.reserve(static_cast<std::size_t>(source.Count()));
    for (int i = 0; i < source.Count(); ++i)
        sheets.push_back(source.Sheet(i));
    return sheets;
}

QRectF ReportPrintedArea()
{
    // The leftmost object starts at 39, the tables at 40 less half a rule; the rightmost
    // ends at 1035; the band's texts run from its top to 612.
    return QRectF(38, kReportBandTop - 1, 1035 - 38 + 1, 612 + 2);
}

QString ReportBeginText(const TReportSheet& sheet)
{
    return QStringLiteral("начало  ") + DateTimeText(sheet.BeginDateTime);
}

QString ReportEndText(const TReportSheet& sheet)
{
    const std::uint32_t duration = sheet.Readable ? sheet.Msr.Duration : 0;
    const QDateTime end = OleDateToDateTime(sheet.BeginDateTime).addSecs(static_cast<qint64>(duration));
    return QStringLiteral("окончание  ") + end.toString(QStringLiteral("dd.MM.yyyy  hh:mm"));
}

TReportPainter::TReportPainter(std::uint32_t color)
    : m_chart(MakeReportChart())
    , m_color(color)
{ }

TReportPainter::~TReportPainter() = default;

void TReportPainter::Paint(QCPPainter& painter, const TReportSheet& sheet)
{
    PaintSheet(painter, *m_chart, sheet, m_color);
}

void PaintReportSheet(QCPPainter& painter, const TReportSheet& sheet, std::uint32_t color)
{
    TReportPainter(color).Paint(painter, sheet);
}

void PaintReport(QPagedPaintDevice& device, const std::vector<TReportSheet>& sheets, std::uint32_t color)
{
    QCPPainter painter(&device);
    TReportPainter sheetPainter(color);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (i > 0)
            device.newPage();
        sheetPainter.Paint(painter, sheets[i]);
    }
}

bool PaintReport(QPagedPaintDevice& device, const TReportSheets& sheets, std::uint32_t color,
    const std::function<bool(int, int)>& progress)
{
    QCPPainter painter(&device);
    TReportPainter sheetPainter(color);
    const int count = sheets.Count();
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            device.newPage();
        sheetPainter.Paint(painter, sheets.Sheet(i));
        if (progress && !progress(i + 1, count))
            return false;
    }
    return true;
}
