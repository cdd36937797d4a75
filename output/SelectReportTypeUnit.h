#pragma once

// The question before a report: the current record only, or every record of the project.

#include <QDialog>

class QRadioButton;

class TSelectReportTypeForm : public QDialog
{
    Q_OBJECT

public:
    explicit TSelectReportTypeForm(QWidget* owner);

    void SetAllRecords(bool all);
    bool AllRecords() const;

    QRadioButton* CurrentRecordRadioButton() const { return m_currentRecordRadioButton; }
    QRadioButton* AllRecordsRadioButton() const { return m_allRecordsRadioButton; }

private:
    QRadioButton* m_currentRecordRadioButton = nullptr;
    QRadioButton* m_allRecordsRadioButton = nullptr;
};
