#pragma once

// The operator's help: Russian text kept in the program's resources, shown in a window of
// its own beside the main one, so it can stay open while the operator works.

#include <QWidget>

class QTextBrowser;

class THelpWindow : public QWidget
{
    Q_OBJECT

public:
    explicit THelpWindow(QWidget* owner);

    // `anchor`: a section's name ("keys", "files" ...); empty: the beginning.
    void ShowSection(const QString& anchor = {});
    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
};

// The help as the resource holds it.
QString HelpText();
