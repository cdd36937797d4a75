#pragma once

// "История": the saved changes of the current measurement or of the whole project, with
// who and when; a deleted measurement is brought back from here ("Восстановить") as a pending
// change the next save keeps.

#include "store/ProjectExtensions.h"

#include <QDialog>

class QPushButton;
class QRadioButton;
class QTableWidget;
class TMainDataModule;

class THistoryWindow : public QDialog
{
    Q_OBJECT

public:
    THistoryWindow(TMainDataModule& dataModule, QWidget* parent = nullptr);

    // Reads the history again: of the current record, or of the project.
    void Fill(bool wholeProject);
    QTableWidget* Table() const { return m_table; }
    QPushButton* RestoreButton() const { return m_restore; }
    QRadioButton* ProjectButton() const { return m_project; }
    // Brings back the deleted record of the selected row; false when it cannot be.
    bool RestoreSelected();

private:
    void SelectionChanged();

    TMainDataModule& m_dataModule;
    QTableWidget* m_table;
    QRadioButton* m_record;
    QRadioButton* m_project;
    QPushButton* m_restore;
    std::vector<THistoryEntry> m_entries;
    std::vector<std::int64_t> m_restorable;
};
