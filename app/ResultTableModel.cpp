#include "app/ResultTableModel.h"

#include <QLocale>

#include <cmath>

namespace {

struct TColumn
{
    const char* Field;
    const char* Caption;
    const char* Format; // empty: plain number
};

// The first three always shown; the sample's columns when the operator asks for them.
const TColumn kColumns[] = {
    {"MEASURE_DATE", "Дата", "dd.MM.yyyy"},
    {"MEASURE_TIME", "Время", "hh:mm:ss"},
    {"MEASURE_NUMBER", "№", ""},
    {"SAMPLE_CODE", "Шифр пробы", ""},
    {"CEMENT_TYPE", "Вид цемента", ""},
    {"MANUFACTURER", "Завод-изготовитель", ""},
    {"BATCH_NUMBER", "Номер партии", ""},
    {"SAMPLING_DATE", "Дата отбора", "dd.MM.yyyy"},
    {"MEASURED_STRENGTH", "Факт. активность, МПа", ""},
    {"STRENGTH_TEST_DATE", "Дата испытания", "dd.MM.yyyy"},
};

} // namespace

TResultTableModel::TResultTableModel(TCachedDataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent)
    , m_dataSet(dataSet)
    , m_rows(dataSet.Active() ? dataSet.RecordCount() : 0)
{
    m_dataSet.AddListener(this);
}

TResultTableModel::~TResultTableModel()
{
    m_dataSet.RemoveListener(this);
}

int TResultTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int TResultTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(std::size(kColumns));
}

QVariant TResultTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || !m_dataSet.Active())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == 2 || index.column() == kStrengthColumn
            ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
            : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    const TColumn& column = kColumns[index.column()];
    const TValue& value = m_dataSet.RowField(index.row(), m_dataSet.FieldIndex(column.Field));
    if (const auto* dateTime = std::get_if<TDateTime>(&value))
        return OleDateToDateTime(dateTime->Value).toString(QString::fromLatin1(column.Format));
    if (const auto* number = std::get_if<std::int64_t>(&value))
        return QString::number(*number);
    if (const auto* strength = std::get_if<double>(&value))
        return QLocale().toString(*strength, 'f', 1);
    if (const auto* text = std::get_if<std::string>(&value))
        return QString::fromStdString(*text);
    return {};
}

QVariant TResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < columnCount())
        return QString::fromUtf8(kColumns[section].Caption);
    if (orientation == Qt::Vertical)
        return section + 1 == m_dataSet.RecNo() ? QStringLiteral("▸") : QString();
    return {};
}

int TResultTableModel::CurrentRow() const
{
    if (!m_dataSet.Active() || m_dataSet.IsEmpty())
        return -1;
    return m_dataSet.RecNo() - 1;
}

void TResultTableModel::DataSetChanged()
{
    beginResetModel();
    m_rows = m_dataSet.Active() ? m_dataSet.RecordCount() : 0;
    endResetModel();
    Q_EMIT CurrentRowChanged(CurrentRow());
}

void TResultTableModel::RecordChanged()
{
    const int row = CurrentRow();
    if (row >= 0 && row < m_rows)
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TResultTableModel::CurrentChanged()
{
    if ((m_dataSet.Active() ? m_dataSet.RecordCount() : 0) != m_rows) {
        DataSetChanged();
        return;
    }
    if (m_rows > 0)
        Q_EMIT headerDataChanged(Qt::Vertical, 0, m_rows - 1);
    Q_EMIT CurrentRowChanged(CurrentRow());
}

void TResultTableModel::StateChanged()
{
    // Rows appended or cancelled change the count without a data notification.
    if ((m_dataSet.Active() ? m_dataSet.RecordCount() : 0) != m_rows)
        DataSetChanged();
}
