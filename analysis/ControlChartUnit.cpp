#include "analysis/ControlChartUnit.h"

#include "app/OperatorDialogs.h"
#include "compute/ResultText.h"

#include <qcustomplot.h>

#include <QHBoxLayout>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QCPGraph* Line(QCustomPlot* plot, const QColor& color, Qt::PenStyle style, const QString& name)
{
    QCPGraph* graph = plot->addGraph();
    graph->setPen(QPen(color, 1.5, style));
    graph->setName(name);
    return graph;
}

} // namespace

TControlChart::TControlChart(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("ControlChartPlot"));
    m_plot->setMinimumSize(400, 250);
    m_plot->xAxis->setLabel(QStringLiteral("Измерение по порядку времени"));
    m_plot->yAxis->setLabel(QStringLiteral("Прогноз активности, МПа"));
    m_plot->legend->setVisible(true);
    m_values = Line(m_plot, QColor(0, 0, 128), Qt::SolidLine, QStringLiteral("Активность"));
    m_values->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    m_values->setSelectable(QCP::stSingleData);
    m_beyond = m_plot->addGraph();
    m_beyond->setName(QStringLiteral("За границами"));
    m_beyond->setLineStyle(QCPGraph::lsNone);
    m_beyond->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(Qt::red), 9));
    m_centre = Line(m_plot, QColor(0, 128, 0), Qt::SolidLine, QStringLiteral("Среднее"));
    m_ucl = Line(m_plot, QColor(Qt::red), Qt::DashLine, QStringLiteral("Границы ±3σ"));
    m_lcl = Line(m_plot, QColor(Qt::red), Qt::DashLine, QString());
    m_plot->legend->removeItem(m_plot->legend->itemCount() - 1);
    layout->addWidget(m_plot);
    connect(m_plot, &QCustomPlot::plottableClick, this,
        [this](QCPAbstractPlottable* plottable, int index, QMouseEvent*) {
            if (plottable == m_values || plottable == m_beyond) {
                const double key = static_cast<QCPGraph*>(plottable)->data()->at(index)->key;
                ClickPoint(static_cast<int>(key) - 1);
            }
        });
}

void TControlChart::SetData(const TJournal& journal, const std::vector<int>& rows)
{
    m_series = ActivitySeries(journal, rows);
    m_limits = IndividualsLimits(m_series.Values);
    QVector<double> keys, values, beyondKeys, beyondValues;
    for (std::size_t i = 0; i < m_series.Values.size(); ++i) {
        const double v = m_series.Values[i];
        keys.push_back(static_cast<double>(i + 1));
        values.push_back(v);
        if (!IsUndefined(m_limits.Sigma) && (v > m_limits.Ucl || v < m_limits.Lcl)) {
            beyondKeys.push_back(static_cast<double>(i + 1));
            beyondValues.push_back(v);
        }
    }
    m_values->setData(keys, values, true);
    m_beyond->setData(beyondKeys, beyondValues, true);
    const double last = std::max<double>(static_cast<double>(keys.size()), 1.0);
    const auto level = [last](QCPGraph* graph, double y) {
        if (IsUndefined(y))
            graph->data()->clear();
        else
            graph->setData({1.0, last}, {y, y}, true);
    };
    level(m_centre, m_limits.Centre);
    level(m_ucl, m_limits.Ucl);
    level(m_lcl, m_limits.Lcl);
    const std::string dot = QLocale::system().decimalPoint().toStdString();
    m_ucl->setName(QStringLiteral("Границы ±3σ: %1 и %2")
                       .arg(QString::fromStdString(FormatDecimal(m_limits.Lcl, 2, dot)),
                           QString::fromStdString(FormatDecimal(m_limits.Ucl, 2, dot))));
    m_centre->setName(
        QStringLiteral("Среднее: %1").arg(QString::fromStdString(FormatDecimal(m_limits.Centre, 2, dot))));
    m_plot->rescaleAxes();
    QCPRange y = m_plot->yAxis->range();
    if (!IsUndefined(m_limits.Sigma))
        y.expand(QCPRange(m_limits.Lcl, m_limits.Ucl));
    const double margin = std::max(y.size() * 0.05, 0.5);
    m_plot->yAxis->setRange(y.lower - margin, y.upper + margin);
    m_plot->xAxis->setRange(0.5, last + 0.5);
    m_plot->replot();
}

void TControlChart::ClickPoint(int index)
{
    if (index >= 0 && index < static_cast<int>(m_series.Rows.size()))
        emit RowChosen(m_series.Rows[static_cast<std::size_t>(index)]);
}

void PaintPlot(QCustomPlot& plot, QPainter& painter, const QRectF& target)
{
    // A plot painted straight into a fine device ignores the painter's scale and comes out at
    // the device's size; a picture three times the screen's is sharp enough on paper.
    const int width = std::max(plot.width(), 800), height = std::max(plot.height(), 450);
    const double scale = std::min(target.width() / width, target.height() / height);
    const QPixmap picture = plot.toPixmap(width, height, 3.0);
    painter.drawPixmap(
        QRectF(target.topLeft(), QSizeF(width * scale, height * scale)), picture, picture.rect());
}

TControlChartForm::TControlChartForm(QWidget* owner)
    : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Контрольная карта активности"));
    setObjectName(QStringLiteral("ControlChartForm"));
    auto* layout = new QVBoxLayout(this);
    m_chart = new TControlChart(this);
    layout->addWidget(m_chart);
    auto* buttons = new QHBoxLayout;
    auto* save = new QPushButton(QStringLiteral("Сохранить..."), this);
    save->setObjectName(QStringLiteral("SaveButton"));
    auto* print = new QPushButton(QStringLiteral("Печать..."), this);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(print);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, [this] { RunCommand([this] { SaveChart(); }); });
    connect(print, &QPushButton::clicked, this, [this] { RunCommand([this] { PrintChart(); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    resize(900, 560);
}

bool TControlChartForm::SaveChart()
{
    TFileDialogOptions options;
    options.Title = QStringLiteral("Сохранить контрольную карту");
    options.Filter = QStringLiteral("Рисунок PNG (*.png);;Документ PDF (*.pdf)");
    options.DefaultSuffix = QStringLiteral("png");
    const QString path = OperatorDialogs().SaveFileName(options);
    if (path.isEmpty())
        return false;
    QCustomPlot* plot = m_chart->Plot();
    const bool saved = path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)
        ? plot->savePdf(path, std::max(plot->width(), 800), std::max(plot->height(), 450))
        : plot->savePng(path, std::max(plot->width(), 800), std::max(plot->height(), 450));
    if (!saved)
        ShowErrorMessage(QStringLiteral("Не удалось записать файл %1").arg(path));
    return saved;
}

void TControlChartForm::PrintChart()
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer);
    PaintPlot(*m_chart->Plot(), painter, QRectF(QPointF(0, 0), QSizeF(printer.width(), printer.height())));
}
