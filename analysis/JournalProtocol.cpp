#include "analysis/JournalProtocol.h"

#include "analysis/ControlChartUnit.h"
#include "analysis/JournalExport.h"
#include "analysis/Statistics.h"
#include "compute/ReferenceTables.h"
#include "compute/ResultText.h"

#include <qcustomplot.h>

#include <QDateTime>
#include <QPagedPaintDevice>
#include <QPainter>

#include <array>

namespace {

// The columns a page has room for, with their share of the width.
constexpr std::array<std::pair<TJournalColumn, double>, 13> kPrinted = {{{TJournalColumn::Date, 7},
    {TJournalColumn::Time, 6}, {TJournalColumn::Number, 4}, {TJournalColumn::SampleCode, 8},
    {TJournalColumn::Manufacturer, 9}, {TJournalColumn::Mass, 5}, {TJournalColumn::Grade, 6},
    {TJournalColumn::Supplier, 9}, {TJournalColumn::ConcretionTime, 6}, {TJournalColumn::FinalContraction, 7},
    {TJournalColumn::Activity, 7}, {TJournalColumn::Strength, 7}, {TJournalColumn::Comment, 19}}};

class TPages
{
public:
    TPages(QPagedPaintDevice& device, const QString& title)
        : m_device(device)
        , m_painter(&device)
        , m_title(title)
    {
        m_width = device.width();
        m_height = device.height();
        m_line = m_height / 42.0;
        QFont font = m_painter.font();
        font.setPixelSize(static_cast<int>(m_line * 0.62));
        m_painter.setFont(font);
        Heading();
    }
    ~TPages() { Footer(); }

    QPainter& Painter() { return m_painter; }
    double Width() const { return m_width; }
    double Line() const { return m_line; }
    double& Y() { return m_y; }
    // Starts a new page when `height` does not fit; true when it did.
    bool Need(double height)
    {
        if (m_y + height <= m_height - m_line * 1.5)
            return false;
        NewPage();
        return true;
    }
    void NewPage()
    {
        Footer();
        m_device.newPage();
        Heading();
    }
    double Bottom() const { return m_height - m_line * 1.5; }
    int Count() const { return m_page; }

    void Text(const QRectF& rect, const QString& text, int flags = Qt::AlignLeft | Qt::AlignVCenter)
    {
        m_painter.drawText(rect.adjusted(m_line * 0.15, 0, -m_line * 0.15, 0), flags,
            m_painter.fontMetrics().elidedText(
                text, Qt::ElideRight, static_cast<int>(rect.width() - m_line * 0.3)));
    }

private:
    void Heading()
    {
        ++m_page;
        QFont bold = m_painter.font();
        bold.setBold(true);
        m_painter.save();
        m_painter.setFont(bold);
        m_painter.drawText(QRectF(0, 0, m_width, m_line), Qt::AlignLeft | Qt::AlignVCenter, m_title);
        m_painter.restore();
        m_y = m_line * 1.5;
    }
    void Footer()
    {
        m_painter.drawText(QRectF(0, m_height - m_line, m_width, m_line), Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("Лист %1").arg(m_page));
    }

    QPagedPaintDevice& m_device;
    QPainter m_painter;
    QString m_title;
    double m_width = 0, m_height = 0, m_line = 0, m_y = 0;
    int m_page = 0;
};

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

void Table(TPages& pages, const std::vector<QString>& header, const std::vector<double>& shares,
    const std::vector<std::vector<QString>>& rows)
{
    double total = 0;
    for (const double s : shares)
        total += s;
    const auto row = [&](const std::vector<QString>& cells, bool bold) {
        QPainter& p = pages.Painter();
        p.save();
        if (bold) {
            QFont f = p.font();
            f.setBold(true);
            p.setFont(f);
            p.fillRect(QRectF(0, pages.Y(), pages.Width(), pages.Line()), QColor(230, 230, 230));
        }
        double x = 0;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const double w = pages.Width() * shares[c] / total;
            const QRectF cell(x, pages.Y(), w, pages.Line());
            p.drawRect(cell);
            pages.Text(cell, cells[c]);
            x += w;
        }
        p.restore();
        pages.Y() += pages.Line();
    };
    row(header, true);
    for (const auto& cells : rows) {
        if (pages.Need(pages.Line()))
            row(header, true);
        row(cells, false);
    }
}

std::vector<QString> Figures(const QString& name, const TActivityStatistics& s, const std::string& dot)
{
    const auto n = [](int v) { return v < 0 ? QStringLiteral("?") : QString::number(v); };
    const auto f = [&](double v) { return Q(FormatDecimal(v, 2, dot)); };
    return {name, n(s.Records), n(s.Activity.N), n(s.Clamped), n(s.Undefined), f(s.Activity.Mean),
        f(s.Activity.Sd), f(s.Activity.Cv), f(s.Activity.Min), f(s.Activity.Max), f(s.Limits.Sigma),
        f(s.Limits.Lcl), f(s.Limits.Ucl), n(s.Limits.Beyond), n(s.Error.N), f(s.Error.Mean), f(s.Error.Sd)};
}

} // namespace

std::vector<QString> StatisticsHeader()
{
    return {QStringLiteral("Отбор"), QStringLiteral("Записей"), QStringLiteral("n"),
        QStringLiteral("Граница"), QStringLiteral("Не опр."), QStringLiteral("Среднее"),
        QStringLiteral("СКО"), QStringLiteral("CV, %"), QStringLiteral("Мин."), QStringLiteral("Макс."),
        QStringLiteral("σ (MR)"), QStringLiteral("НГ"), QStringLiteral("ВГ"), QStringLiteral("Вне гр."),
        QStringLiteral("Ошибка n"), QStringLiteral("Ошибка ср."), QStringLiteral("Ошибка СКО")};
}

std::vector<std::vector<QString>> StatisticsTable(
    const TJournal& journal, const std::vector<int>& rows, const std::string& dot)
{
    std::vector<std::vector<QString>> stats
        = {Figures(QStringLiteral("Все"), ComputeStatistics(journal, rows), dot)};
    for (const auto& [grade, s] : StatisticsByGrade(journal, rows))
        stats.push_back(Figures(QStringLiteral("Марка ") + Q(GetCementGradeName(grade)), s, dot));
    for (const auto& [supplier, s] : StatisticsBySupplier(journal, rows))
        stats.push_back(Figures(Q(GetSupplierName(supplier)).trimmed(), s, dot));
    return stats;
}

int PaintJournalProtocol(QPagedPaintDevice& device, const QString& title, const TJournal& journal,
    const std::vector<int>& rows, const std::string& dot)
{
    const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(12, 10, 12, 10));
    device.setPageLayout(layout);
    TPages pages(device, title);

    std::vector<QString> header;
    std::vector<double> shares;
    for (const auto& [column, share] : kPrinted) {
        header.push_back(Q(JournalHeaderText(column)));
        shares.push_back(share);
    }
    std::vector<std::vector<QString>> cells;
    cells.reserve(rows.size());
    for (const int i : rows) {
        std::vector<QString> line;
        for (const auto& [column, share] : kPrinted)
            line.push_back(Q(JournalCellText(journal[static_cast<std::size_t>(i)], column, dot)));
        cells.push_back(std::move(line));
    }
    Table(pages, header, shares, cells);

    pages.NewPage();
    pages.Text(QRectF(0, pages.Y(), pages.Width(), pages.Line()),
        QStringLiteral(
            "Статистика прогноза активности (МПа) и ошибки прогноза (МПа); в расчёт входят значения "
            "внутри таблицы, без «< » и «> »"));
    pages.Y() += pages.Line() * 1.5;
    const std::vector<QString> statsHeader = StatisticsHeader();
    const std::vector<std::vector<QString>> stats = StatisticsTable(journal, rows, dot);
    Table(pages, statsHeader, {12, 6, 5, 6, 6, 7, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7}, stats);

    pages.NewPage();
    TControlChart chart;
    chart.resize(1000, 520);
    chart.SetData(journal, rows);
    PaintPlot(
        *chart.Plot(), pages.Painter(), QRectF(0, pages.Y(), pages.Width(), pages.Bottom() - pages.Y()));
    return pages.Count();
}
