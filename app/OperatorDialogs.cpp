#include "app/OperatorDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QScreen>

namespace {

std::unique_ptr<TOperatorDialogs>& Installed()
{
    static std::unique_ptr<TOperatorDialogs> dialogs = std::make_unique<TQtOperatorDialogs>();
    return dialogs;
}

QString ShownText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QFileDialog::Options CommonOptions()
{
    // Qt's own dialog everywhere, so hidden files and the Russian texts behave alike
    // on every desktop.
    return QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails;
}

void Prepare(QFileDialog& dialog, const TFileDialogOptions& options)
{
    dialog.setOptions(CommonOptions());
    dialog.setWindowTitle(options.Title);
    dialog.setNameFilter(options.Filter);
    dialog.setDefaultSuffix(options.DefaultSuffix);
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    dialog.setDirectory(options.Directory.isEmpty() ? QDir::homePath() : options.Directory);
    dialog.setSizeGripEnabled(true);
}

} // namespace

QMessageBox::StandardButton TQtOperatorDialogs::Message(
    const QString& caption, const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, ShownText(text), buttons, QApplication::activeWindow());
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString TQtOperatorDialogs::SaveFileName(const TFileDialogOptions& options)
{
    QFileDialog dialog(QApplication::activeWindow());
    Prepare(dialog, options);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.ConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString TQtOperatorDialogs::OpenFileName(const TFileDialogOptions& options)
{
    QFileDialog dialog(QApplication::activeWindow());
    Prepare(dialog, options);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

TOperatorDialogs& OperatorDialogs()
{
    return *Installed();
}

std::unique_ptr<TOperatorDialogs> SetOperatorDialogs(std::unique_ptr<TOperatorDialogs> dialogs)
{
    if (!dialogs)
        dialogs = std::make_unique<TQtOperatorDialogs>();
    Installed().swap(dialogs);
    return dialogs;
}

void ShowErrorMessage(const QString& text)
{
    OperatorDialogs().Message(APPLICATION_TITLE, text, QMessageBox::Critical, QMessageBox::Ok);
}

QMessageBox::StandardButton AskQuestion(const QString& text, QMessageBox::StandardButtons buttons)
{
    return OperatorDialogs().Message(APPLICATION_TITLE, text, QMessageBox::Warning, buttons);
}

QString GeneralErrorText(const QString& text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void ShowGeneralError(const QString& text)
{
    ShowErrorMessage(GeneralErrorText(text));
}

void ShowGeneralError(const std::exception& error)
{
    ShowGeneralError(QString::fromUtf8(error.what()));
}

void RunCommand(const std::function<void()>& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        ShowGeneralError(error);
    }
}

void CentreOnScreen(QWidget& window)
{
    const QWidget* owner = window.parentWidget();
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window.rect();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}
