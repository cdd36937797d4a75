#pragma once

// Message boxes and file dialogs answered by the test. Every box shown is recorded;
// the fixture fails a test that leaves a box it did not look at, so an unexpected
// error never passes unnoticed.

#include "app/OperatorDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

struct TShownMessage
{
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
};

struct TShownFileDialog
{
    bool Save = false;
    TFileDialogOptions Options;
};

class TScriptedDialogs : public TOperatorDialogs
{
public:
    // Answers, in order; a box with no answer left gets NoButton (OK for a box with
    // only OK), a file dialog with no answer left is cancelled.
    std::deque<QMessageBox::StandardButton> Answers;
    std::deque<QString> Files;

    std::vector<TShownMessage> Messages;
    std::vector<TShownFileDialog> FileDialogs;

    QMessageBox::StandardButton Message(const QString& caption, const QString& text, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons) override;
    QString SaveFileName(const TFileDialogOptions& options) override;
    QString OpenFileName(const TFileDialogOptions& options) override;
};

class TUiTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Removes and returns the oldest box shown; fails when none was.
    TShownMessage TakeMessage();
    // The oldest box's text; fails when none was shown.
    QString TakeMessageText() { return TakeMessage().Text; }

    TScriptedDialogs* Dialogs = nullptr;

private:
    std::unique_ptr<TOperatorDialogs> m_previous;
};

// Runs `handle` on the first modal window of type T that opens, then closes it.
template <typename T> void HandleModalLater(std::function<void(T*)> handle)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handle] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            handle(window);
            window->close();
        }
    });
    timer->start();
}
