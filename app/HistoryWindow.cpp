#include "app/HistoryWindow.h"

#include "app/OperatorDialogs.h"
#include "compute/ResultText.h"
#include "store/MainDataModuleUnit.h"
#include "view/DateTimes.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString RecordText(const THistoryEntry& e)
{
    QString text = QStringLiteral("№ %1").arg(e.MeasureNumber);
    if (e.MeasureDate)
        text += QStringLiteral(" от ")
            + OleDateToDateTime(*e.MeasureDate).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    return text;
}

} // namespace

THistoryWindow::THistoryWindow(TMainDataModule& dataModule, QWidget* parent)
    : QDialog(parent)
    , m_dataModule(dataModule)
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("История изменений"));
    resize(860, 420);
    auto* layout = new QVBoxLayout(this);
    auto* scope = new QHBoxLayout;
    m_record = new QRadioButton(QStringLiteral("Текущая запись"), this);
    m_project = new QRadioButton(QStringLiteral("Весь проект"), this);
    m_project->setObjectName(QStringLiteral("HistoryProjectButton"));
    m_record->setChecked(true);
    scope->addWidget(m_record);
    scope->addWidget(m_project);
    scope->addStretch(1);
    layout->addLayout(scope);
    m_table = new QTableWidget(0, 6, this);
    m_table->setObjectName(QStringLiteral("HistoryTable"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Когда"), QStringLiteral("Кто"), QStringLiteral("Запись"),
            QStringLiteral("Что изменено"), QStringLiteral("Было"), QStringLiteral("Стало")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    m_restore = buttons->addButton(QStringLiteral("Восстановить"), QDialogButtonBox::ActionRole);
    m_restore->setObjectName(QStringLiteral("HistoryRestoreButton"));
    m_restore->setToolTip(
        QStringLiteral("Вернуть удалённую запись в проект (до сохранения её можно отменить)"));
    layout->addWidget(new QLabel(
        QStringLiteral("Изменения записываются при сохранении проекта. Удалённую запись можно вернуть: "
                       "выберите строку «Запись удалена» и нажмите «Восстановить»."),
        this));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_restore, &QPushButton::clicked, this, [this] {
        try {
            if (RestoreSelected())
                accept();
        } catch (const std::exception& error) {
            ShowErrorMessage(QString::fromUtf8(error.what()));
        }
    });
    connect(m_record, &QRadioButton::toggled, this, [this](bool record) { Fill(!record); });
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &THistoryWindow::SelectionChanged);
    Fill(false);
}

void THistoryWindow::Fill(bool wholeProject)
{
    if (m_project->isChecked() != wholeProject)
        (wholeProject ? m_project : m_record)->setChecked(true);
    std::optional<std::int64_t> key;
    if (!wholeProject)
        key = m_dataModule.RecordKeyAt(m_dataModule.ResultDataSet().RecNo() - 1);
    m_entries = m_dataModule.ReadHistory(key);
    // Newest first: the last change is the one asked about most.
    std::reverse(m_entries.begin(), m_entries.end());
    m_restorable.clear();
    for (const auto& record : m_dataModule.DeletedRecords())
        m_restorable.push_back(record.RecordKey);
    const std::string separator = QLocale().decimalPoint().toStdString();
    m_table->setRowCount(static_cast<int>(m_entries.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const THistoryEntry& e = m_entries[static_cast<std::size_t>(row)];
        const QString cells[]
            = {OleDateToDateTime(e.ChangedAt).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")),
                QString::fromStdString(e.ChangedBy), RecordText(e),
                QString::fromStdString(HistoryFieldLabel(e.Field)),
                QString::fromStdString(GetHistoryValueStr(e.Field, e.OldValue, separator)),
                QString::fromStdString(GetHistoryValueStr(e.Field, e.NewValue, separator))};
        for (int column = 0; column < 6; ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_table->resizeColumnsToContents();
    SelectionChanged();
}

void THistoryWindow::SelectionChanged()
{
    const int row = m_table->currentRow();
    bool restorable = false;
    if (row >= 0 && row < static_cast<int>(m_entries.size())) {
        const THistoryEntry& e = m_entries[static_cast<std::size_t>(row)];
        restorable = e.Field == HistoryField::Deleted
            && std::find(m_restorable.begin(), m_restorable.end(), e.RecordKey) != m_restorable.end();
    }
    m_restore->setEnabled(restorable);
}

bool THistoryWindow::RestoreSelected()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_entries.size()) || !m_restore->isEnabled())
        return false;
    if (!m_dataModule.RestoreDeletedRecord(m_entries[static_cast<std::size_t>(row)].RecordKey)) {
        ShowErrorMessage(QStringLiteral("Запись нельзя восстановить: такое измерение уже есть в проекте."));
        return false;
    }
    return true;
}
