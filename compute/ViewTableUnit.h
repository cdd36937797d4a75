#pragma once

// The window in which the operator reads the activity table or the specific
// contraction table, the largest contraction at the top.

#include <QDialog>

class QLabel;
class QTableWidget;

class TViewTableForm : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kActivityTable = 0;
    static constexpr int kUnitContractionTable = 1;

    explicit TViewTableForm(QWidget* owner);

    // Stores the kind and fills the table; a kind other than 0 and 1 leaves "?" and empty cells.
    void SetTableKind(int kind);
    int TableKind() const { return m_tableKind; }
    void FillTable();

    QLabel* TableNameLbl() const { return m_tableNameLbl; }
    QLabel* TableHead2Lbl() const { return m_tableHead2Lbl; }
    QTableWidget* TableStringGrid() const { return m_tableStringGrid; }

private:
    int m_tableKind = 2;
    QLabel* m_tableNameLbl = nullptr;
    QLabel* m_tableHead2Lbl = nullptr;
    QTableWidget* m_tableStringGrid = nullptr;
};

// The kind the menu entry with this tag opens: tag 1 the activity table, tag 2 the
// specific contraction table, anything else kind 2 (nothing to show).
int ViewTableKindOfTag(int tag);
