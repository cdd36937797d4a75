#pragma once

// Curves of up to ten measurements overlaid on one chart, each in its own colour and named
// in the legend by its date and number; the quantity is chosen as on the main chart.

#include "store/MsrResult.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QCustomPlot;

constexpr int kMaxCompared = 10;

struct TComparedRecord
{
    QString Name; // "dd.mm.yyyy № n"
    TMsrResult Msr;
};

class TComparisonForm : public QDialog
{
    Q_OBJECT

public:
    explicit TComparisonForm(QWidget* owner);

    // The first kMaxCompared records are kept.
    void SetRecords(std::vector<TComparedRecord> records);
    // 0..4 as the main chart's quantities.
    void ShowQuantity(int quantity);
    QCustomPlot* Plot() const { return m_plot; }
    QComboBox* QuantityBox() const { return m_quantity; }

private:
    std::vector<TComparedRecord> m_records;
    QCustomPlot* m_plot = nullptr;
    QComboBox* m_quantity = nullptr;
};

// Ten colours told apart on screen and on paper.
QColor ComparisonColor(int index);
