#pragma once

// The results list as a Qt table: one row per measurement record of ResultDataSet,
// the columns "Дата", "Время", "№", then the sample's optional ones. Read only; the dataset stays the one
// truth, the model only translates its notifications.

#include "store/CachedDataSet.h"
#include "view/DateTimes.h"

#include <QAbstractTableModel>
#include <QDateTime>

class TResultTableModel : public QAbstractTableModel, private TDataSetListener
{
    Q_OBJECT

public:
    explicit TResultTableModel(TCachedDataSet& dataSet, QObject* parent = nullptr);
    ~TResultTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static constexpr int kFixedColumns = 3;
    static constexpr int kStrengthColumn = 9;

    // The dataset's current row as a model row; -1 when there is none.
    int CurrentRow() const;

Q_SIGNALS:
    // The dataset moved to another row (or was re-read); the view follows it.
    void CurrentRowChanged(int row);

private:
    void DataSetChanged() override;
    void RecordChanged() override;
    void CurrentChanged() override;
    void StateChanged() override;

    TCachedDataSet& m_dataSet;
    int m_rows = 0;
};
