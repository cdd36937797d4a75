#pragma once

// Every message box and file dialog of the program goes through here, so tests can
// answer them and see what the operator would have seen. A "\r" in a message text is
// a line break.

#include <QMessageBox>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

inline const QString APPLICATION_TITLE = QStringLiteral("ЦЕМЕНТ-ВОРКАСТ-ЛАБ-1.0");

struct TFileDialogOptions
{
    QString Title;
    QString Directory; // empty: the home folder
    QString Filter;    // the caption the operator reads, then the pattern in brackets, which is not shown
    QString FileName;  // suggested in Directory; empty: none
    QString DefaultSuffix;
    bool ConfirmOverwrite = true; // save dialogs only
};

class TOperatorDialogs
{
public:
    virtual ~TOperatorDialogs() = default;
    virtual QMessageBox::StandardButton Message(const QString& caption, const QString& text,
        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
        = 0;
    // A question whose answer by Enter is `defaultButton`; by default the same as Message.
    virtual QMessageBox::StandardButton Ask(const QString& caption, const QString& text,
        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton)
    {
        static_cast<void>(defaultButton);
        return Message(caption, text, icon, buttons);
    }
    // The chosen file, or empty when the operator cancelled.
    virtual QString SaveFileName(const TFileDialogOptions& options) = 0;
    virtual QString OpenFileName(const TFileDialogOptions& options) = 0;
};

// QMessageBox and QFileDialog over the active window. The save dialog stays open while the
// chosen folder does not exist, and a name typed without an extension takes the one of the
// file type chosen (DefaultSuffix for a type without a single one).
class TQtOperatorDialogs : public TOperatorDialogs
{
public:
    QMessageBox::StandardButton Message(const QString& caption, const QString& text, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons) override;
    QMessageBox::StandardButton Ask(const QString& caption, const QString& text, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) override;
    QString SaveFileName(const TFileDialogOptions& options) override;
    QString OpenFileName(const TFileDialogOptions& options) override;
};

// Why nothing can be saved as `path`, as the operator reads it; empty when it can be tried.
QString SaveFolderProblem(const QString& path);
// "jpg" for "Рисунки JPEG (*.jpg)": the extension of the filter's first pattern when that
// is "*.ext"; empty otherwise.
QString NameFilterSuffix(const QString& filter);

TOperatorDialogs& OperatorDialogs();
// Installs `dialogs` and returns the one it replaces; nullptr puts the Qt dialogs back.
std::unique_ptr<TOperatorDialogs> SetOperatorDialogs(std::unique_ptr<TOperatorDialogs> dialogs);

// Places a window in the middle of its owner's screen (the main screen without an
// owner). A dialog not moved by the program would sit over its owner instead.
void CentreOnScreen(QWidget& window);

// With the application title as caption.
void ShowErrorMessage(const QString& text);
// `defaultButton`: the answer Enter gives (NoButton: the box's own choice).
QMessageBox::StandardButton AskQuestion(const QString& text, QMessageBox::StandardButtons buttons,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// The general error display: for anything a command did not catch. The program goes on.
void ShowGeneralError(const std::exception& error);
void ShowGeneralError(const QString& text);
// Runs an operator command; whatever it raises reaches the general error display.
void RunCommand(const std::function<void()>& command);
// The error's own text, with a full stop appended when its last character is above '.'.
QString GeneralErrorText(const QString& text);
