#pragma once

// The questions before a report: which report (the instrument's test sheet or the
// laboratory's protocol), and the current record only or every record of the project.

#include <QDialog>

class QRadioButton;

class TSelectReportTypeForm : public QDialog
{
    Q_OBJECT

public:
    explicit TSelectReportTypeForm(QWidget* owner);

    void SetAllRecords(bool all);
    bool AllRecords() const;
    void SetLabProtocol(bool lab);
    bool LabProtocol() const;

    QRadioButton* CurrentRecordRadioButton() const { return m_currentRecordRadioButton; }
    QRadioButton* AllRecordsRadioButton() const { return m_allRecordsRadioButton; }
    QRadioButton* SheetRadioButton() const { return m_sheetRadioButton; }
    QRadioButton* LabProtocolRadioButton() const { return m_labProtocolRadioButton; }

private:
    QRadioButton* m_sheetRadioButton = nullptr;
    QRadioButton* m_labProtocolRadioButton = nullptr;
    QRadioButton* m_currentRecordRadioButton = nullptr;
    QRadioButton* m_allRecordsRadioButton = nullptr;
};
