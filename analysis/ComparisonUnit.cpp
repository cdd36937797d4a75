#include "analysis/ComparisonUnit.h"

#include "view/ForecastChart.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QColor ComparisonColor(int index)
{
    static const QColor colors[kMaxCompared] = {QColor(0, 0, 160), QColor(200, 0, 0), QColor(0, 128, 0),
        QColor(230, 120, 0), QColor(128, 0, 128), QColor(0, 150, 150), QColor(120, 80, 0), QColor(0, 0, 0),
        QColor(220, 0, 150), QColor(100, 100, 255)};
    return colors[index % kMaxCompared];
}

TComparisonForm::TComparisonForm(QWidget* owner)
    : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Сравнение кривых"));
    setObjectName(QStringLiteral("ComparisonForm"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Величина:"), this));
    m_quantity = new QComboBox(this);
    m_quantity->addItems({QStringLiteral("ΔV, мл"), QStringLiteral("ΔV на 1000 г цемента, мл"),
        QStringLiteral("T, °C"), QStringLiteral("R, Ом"), QStringLiteral("Tc, °C")});
    top->addWidget(m_quantity);
    top->addStretch();
    layout->addLayout(top);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("ComparisonPlot"));
    m_plot->setMinimumSize(400, 250);
    m_plot->legend->setVisible(true);
    auto ticker = QSharedPointer<QCPAxisTickerTime>::create();
    ticker->setTimeFormat(QStringLiteral("%h:%m"));
    m_plot->xAxis->setTicker(ticker);
    m_plot->xAxis->setLabel(QStringLiteral("Время, ч:м"));
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    layout->addWidget(m_plot);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close);
    layout->addLayout(bottom);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_quantity, &QComboBox::currentIndexChanged, this, &TComparisonForm::ShowQuantity);
    resize(900, 560);
}

void TComparisonForm::SetRecords(std::vector<TComparedRecord> records)
{
    if (records.size() > kMaxCompared)
        records.resize(kMaxCompared);
    m_records = std::move(records);
    ShowQuantity(m_quantity->currentIndex());
}

void TComparisonForm::ShowQuantity(int quantity)
{
    if (quantity < 0 || quantity >= QUANTITY_COUNT)
        return;
    m_plot->clearGraphs();
    // The main chart's own series: the same curve the operator sees record by record.
    TForecastChart source;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        source.Clear();
        source.Fill(m_records[i].Msr);
        QCPGraph* graph = m_plot->addGraph();
        graph->data()->set(*source.Series(quantity)->data());
        graph->setPen(QPen(ComparisonColor(static_cast<int>(i)), 1.5));
        graph->setName(m_records[i].Name);
    }
    m_plot->yAxis->setLabel(m_quantity->itemText(quantity));
    m_plot->rescaleAxes();
    m_plot->replot();
}
