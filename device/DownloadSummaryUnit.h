#pragma once

// The window that tells how many records the instrument held and how many were new.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TDownloadSummaryForm : public QDialog
{
    Q_OBJECT

public:
    explicit TDownloadSummaryForm(QWidget* owner);

    int ResultsInDeviceMemory() const { return m_resultsInDeviceMemory; }
    void SetResultsInDeviceMemory(int count);
    int ResultsAddedToProject() const { return m_resultsAddedToProject; }
    void SetResultsAddedToProject(int count);

    QLabel* ResultsInDeviceMemoryLabel() const { return m_resultsInDeviceMemoryLabel; }
    QLabel* ResultsAddedToProjectLabel() const { return m_resultsAddedToProjectLabel; }
    QPushButton* CloseButton() const { return m_closeButton; }

private:
    // Places the rows as drawn, moving the counts and widening the window when the
    // desktop's font needs more room than the drawn sizes give.
    void Arrange();

    int m_resultsInDeviceMemory = 0;
    int m_resultsAddedToProject = 0;
    QFrame* m_panel = nullptr;
    QLabel* m_inDeviceMemoryCaption = nullptr;
    QLabel* m_addedToProjectCaption = nullptr;
    QLabel* m_resultsInDeviceMemoryLabel = nullptr;
    QLabel* m_resultsAddedToProjectLabel = nullptr;
    QPushButton* m_closeButton = nullptr;
};
