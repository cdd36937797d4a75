#include "view/ForecastChart.h"

#include <qcustomplot.h>

#include <QPainter>

#include <cmath>

namespace {

struct TQuantity
{
    // Label pieces: text, x, lowered.
    struct TPiece
    {
        const char* Text;
        int X;
        bool Lowered;
    };
    std::array<TPiece, 4> Label;
    int Decimals;
    double Step;
    const char* Symbol;    // button picture: symbol before the subscript
    const char* Subscript; // may be empty
    const char* Tail;
};

const TQuantity kQuantities[QUANTITY_COUNT] = {
    {{{{"Δ", 8, false}, {"V", 16, false}, {"C03", 24, true}, {"(t), мл", 48, false}}}, 2, 0.025, "ΔV", "Co3",
        "(t)"},
    {{{{"Δ", 8, false}, {"V", 16, false}, {"1K3", 24, true}, {"(t), мл", 48, false}}}, 2, 0.025, "ΔV", "1K3",
        "(t)"},
    {{{{"T(t), °C", 24, false}, {"", 0, false}, {"", 0, false}, {"", 0, false}}}, 1, 0.1, "T(t)", "", ""},
    {{{{"R(t), Ом", 24, false}, {"", 0, false}, {"", 0, false}, {"", 0, false}}}, 1, 0.1, "R(t)", "", ""},
    {{{{"Tc(t), °C", 24, false}, {"", 0, false}, {"", 0, false}, {"", 0, false}}}, 1, 0.1, "Tc(t)", "", ""},
};

// Readable steps (1, 2, 2.5, 5 times a power of ten) chosen for the range, never finer
// than the quantity's desired increment.
class TValueTicker : public QCPAxisTicker
{
public:
    explicit TValueTicker(double minimumStep)
        : m_minimumStep(minimumStep)
    {
        setTickCount(5);
    }

protected:
    double getTickStep(const QCPRange& range) override
    {
        return std::max(m_minimumStep, QCPAxisTicker::getTickStep(range));
    }

private:
    double m_minimumStep;
};

} // namespace

// The small captioned panel over the chart's top-left corner that names the quantity.
class TQuantityLabel : public QWidget
{
public:
    TQuantityLabel(int quantity, QWidget* parent)
        : QWidget(parent)
        , m_quantity(quantity)
    {
        // 80 pixels hold the caption in a small font; a larger desktop font widens it.
        int width = 80;
        const QFontMetrics metrics(font());
        for (const auto& piece : kQuantities[quantity].Label)
            if (*piece.Text)
                width
                    = std::max(width, piece.X + metrics.horizontalAdvance(QString::fromUtf8(piece.Text)) + 4);
        setFixedSize(width, std::max(20, metrics.height() + 6));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        const QFontMetrics metrics(font());
        for (const auto& piece : kQuantities[m_quantity].Label) {
            if (!*piece.Text)
                continue;
            const int y = 4 + (piece.Lowered ? 2 : 0) + metrics.ascent();
            painter.drawText(QPoint(piece.X, y), QString::fromUtf8(piece.Text));
        }
    }

private:
    int m_quantity;
};

double GetChartTime(std::int64_t seconds)
{
    return static_cast<double>(seconds) / 86400.0;
}

QString ChartTimeText(std::int64_t seconds)
{
    const std::int64_t minutes = seconds / 60;
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QSize QuantityPictureSize()
{
    return {60, 16};
}

QPixmap QuantityPicture(int quantity)
{
    const QSize size = QuantityPictureSize();
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    if (quantity < 0 || quantity >= QUANTITY_COUNT)
        return picture;
    const TQuantity& q = kQuantities[quantity];
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    QFont small = font;
    small.setPixelSize(9);
    const QFontMetrics big(font);
    const QFontMetrics little(small);
    const QString symbol = QString::fromUtf8(q.Symbol);
    const QString subscript = QString::fromUtf8(q.Subscript);
    const QString tail = QString::fromUtf8(q.Tail);
    const int width
        = big.horizontalAdvance(symbol) + little.horizontalAdvance(subscript) + big.horizontalAdvance(tail);
    int x = std::max(0, (size.width() - width) / 2);
    const int baseline = 12;
    painter.setPen(Qt::black);
    painter.drawText(QPoint(x, baseline), symbol);
    x += big.horizontalAdvance(symbol);
    painter.setFont(small);
    painter.drawText(QPoint(x, baseline + 2), subscript);
    x += little.horizontalAdvance(subscript);
    painter.setFont(font);
    painter.drawText(QPoint(x, baseline), tail);
    return picture;
}

TForecastChart::TForecastChart(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("Chart"));
    layout->addWidget(m_plot);

    // A blank title row keeps a strip free at the top for the quantity label.
    m_plot->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(m_plot, QStringLiteral(" "));
    m_plot->plotLayout()->addElement(0, 0, title);
    m_plot->legend->setVisible(false);
    // Value labels as the system writes numbers: its decimal separator, thousands grouped.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    m_plot->setLocale(locale);

    QSharedPointer<QCPAxisTickerTime> timeTicker(new QCPAxisTickerTime);
    timeTicker->setTimeFormat(QStringLiteral("%h:%m"));
    timeTicker->setFieldWidth(QCPAxisTickerTime::tuHours, 1);
    timeTicker->setFieldWidth(QCPAxisTickerTime::tuMinutes, 2);
    timeTicker->setTickCount(6);
    m_plot->xAxis->setTicker(timeTicker);
    for (QCPAxis* axis : {m_plot->xAxis, m_plot->yAxis}) {
        axis->setBasePen(QPen(Qt::black, 1));
        axis->grid()->setPen(QPen(QColor(128, 128, 128), 0, Qt::DotLine));
    }
    m_plot->yAxis->setPadding(4);
    m_plot->yAxis->setLabel(QString());
    m_plot->setNoAntialiasingOnDrag(true);
    // Plain one-pixel polylines: thousands of points stay cheap to draw on every row change.
    m_plot->setPlottingHint(QCP::phFastPolylines, true);

    for (int q = 0; q < QUANTITY_COUNT; ++q) {
        QCPGraph* graph = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis);
        graph->setLineStyle(QCPGraph::lsLine);
        graph->setScatterStyle(QCPScatterStyle::ssNone);
        graph->setAdaptiveSampling(true);
        graph->setAntialiased(false);
        graph->setVisible(false);
        m_series[q] = graph;
        m_labels[q] = new TQuantityLabel(q, m_plot);
        m_labels[q]->move(2, 2);
        m_labels[q]->hide();
    }
    Clear();
}

void TForecastChart::Clear()
{
    for (QCPGraph* graph : m_series)
        graph->data()->clear();
    m_plot->xAxis->setLabel(QString());
    m_plot->yAxis->setLabel(QString());
    // An empty chart shows its first hour rather than five seconds of identical labels.
    m_plot->xAxis->setRange(0.0, 3600.0);
    m_plot->yAxis->setRange(0.0, 1.0);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void TForecastChart::Fill(const TMsrResult& msr)
{
    const std::uint32_t n = msr.SampleCount();
    const double k = msr.CementMass > 0 ? 1000.0 / static_cast<double>(msr.CementMass) : 0.0;
    // Array of each series in stored order: volume, temperature, second temperature, resistance.
    static const int kArrayOf[QUANTITY_COUNT] = {0, 0, 1, 3, 2};
    for (int q = 0; q < QUANTITY_COUNT; ++q) {
        const int array = kArrayOf[q];
        if (array >= static_cast<int>(msr.Data.size()) || msr.Data[array].size() < n)
            continue;
        const TSampleArray& samples = msr.Data[array];
        QVector<QCPGraphData> points(static_cast<int>(n));
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(static_cast<std::int64_t>(i) * msr.Period);
            double y = 0.0;
            if (q <= 1) {
                const float volume = samples[i] - msr.VolumeOffset;
                y = q == 0 ? static_cast<double>(volume) : static_cast<double>(volume) * k;
            } else {
                y = samples[i];
            }
            points[static_cast<int>(i)] = QCPGraphData(x, y);
        }
        // Already in time order: no sorting needed.
        m_series[q]->data()->set(points, true);
    }
}

void TForecastChart::ShowQuantity(int quantity, std::uint32_t color)
{
    if (quantity < 0 || quantity >= QUANTITY_COUNT)
        return;
    const TQuantity& q = kQuantities[quantity];
    for (int i = 0; i < QUANTITY_COUNT; ++i)
        m_labels[i]->setVisible(i == quantity);
    m_plot->yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new TValueTicker(q.Step)));
    m_plot->yAxis->setNumberFormat(QStringLiteral("f"));
    m_plot->yAxis->setNumberPrecision(q.Decimals);
    m_plot->xAxis->setLabel(QStringLiteral("Время, ч:м"));
    m_series[quantity]->setPen(QPen(ColorOfValue(color), 1));
    for (int i = 0; i < QUANTITY_COUNT; ++i)
        m_series[i]->setVisible(i == quantity);
    bool found = false;
    const QCPRange keys = m_series[quantity]->getKeyRange(found);
    if (found) {
        // 2 % free on either side, as the axes span 2 % to 98 % of the plot.
        const double margin = std::max(keys.size() * 0.02, 1.0);
        m_plot->xAxis->setRange(keys.lower - margin, keys.upper + margin);
        const QCPRange values = m_series[quantity]->getValueRange(found);
        const double valueMargin = std::max(values.size() * 0.02, q.Step / 2);
        m_plot->yAxis->setRange(values.lower - valueMargin, values.upper + valueMargin);
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

int TForecastChart::PointCount(int quantity) const
{
    return m_series.at(quantity)->dataCount();
}

int TForecastChart::VisibleQuantity() const
{
    for (int q = 0; q < QUANTITY_COUNT; ++q)
        if (m_series[q]->visible())
            return q;
    return -1;
}

QWidget* TForecastChart::LabelPanel(int quantity) const
{
    return m_labels.at(quantity);
}

void TForecastChart::UsePrintedLook()
{
    m_plot->setBackground(Qt::white);
    for (QCPAxis* axis : {m_plot->xAxis, m_plot->yAxis})
        axis->grid()->setPen(QPen(QColor(160, 160, 160), 0, Qt::SolidLine));
    for (TQuantityLabel* label : m_labels)
        label->hide();
}
