#pragma once

// The "Журнал" page: every measurement of the project in one table with its computed
// results, filters, statistics of what is shown, the control chart, curves compared,
// export and the printed summary.
//
// The journal is computed on a worker (TJournalThread) whenever the page is shown after the
// list changed, or on Обновить; the window keeps working meanwhile, with progress and Отмена.
// Rows hold the list's values as of that moment; choosing one finds it in the list by its key.

#include "analysis/JournalThread.h"
#include "analysis/Statistics.h"
#include "store/CachedDataSet.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTableWidget;
class TMainDataModule;

class TJournalModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TJournalModel(QObject* parent = nullptr);
    void SetRows(const TJournal* journal, std::vector<int> rows);
    const std::vector<int>& Rows() const { return m_rows; }
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    const TJournal* m_journal = nullptr;
    std::vector<int> m_rows;
    std::string m_separator;
};

class TJournalPage : public QWidget, private TDataSetListener
{
    Q_OBJECT

public:
    TJournalPage(TMainDataModule& dataModule, QWidget* parent = nullptr);
    ~TJournalPage() override;

    // Takes the list's rows and starts the worker (a running one is cancelled first).
    void Recompute();
    void CancelCompute();
    bool Computing() const { return m_thread != nullptr; }
    // The journal is older than the list.
    bool Stale() const { return m_stale; }

    const TJournal& Journal() const { return m_journal; }
    // The rows shown (indexes into Journal) in the order shown.
    const std::vector<int>& ShownRows() const;
    TJournalFilter Filter() const;
    void SetFilter(const TJournalFilter& filter);

    // Operator commands; each reports through the operator dialogs.
    void ShowControlChart();
    void CompareSelected();
    void ExportJournal();
    void PrintProtocol();
    // Makes the journal row current in the list; false when it is not in the list any more.
    bool ChooseRow(int journalRow);

    QTableView* JournalGrid() const { return m_grid; }
    QTableWidget* StatisticsGrid() const { return m_statistics; }
    QProgressBar* Progress() const { return m_progress; }
    QPushButton* CancelButton() const { return m_cancel; }
    QLabel* StatusLabel() const { return m_status; }

signals:
    // The list row (from 0) the operator chose; the owner makes it current.
    void RecordChosen(int listRow);
    // The worker finished (completed or not).
    void Computed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void DataSetChanged() override;
    void RecordChanged() override;
    void CurrentChanged() override { }
    void StateChanged() override { }

    void Finished(int generation, bool completed, const QString& error);
    void ApplyFilter();
    void ShowStatistics();
    void FillChoices();

    TMainDataModule& m_dataModule;
    TJournal m_journal;
    std::unique_ptr<TJournalThread> m_thread;
    int m_generation = 0;
    bool m_stale = true;
    TJournalModel* m_model = nullptr;
    QTableView* m_grid = nullptr;
    QTableWidget* m_statistics = nullptr;
    QCheckBox* m_useFrom = nullptr;
    QCheckBox* m_useTo = nullptr;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QComboBox* m_grade = nullptr;
    QComboBox* m_supplier = nullptr;
    QComboBox* m_days = nullptr;
    QLineEdit* m_text = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_status = nullptr;
};
