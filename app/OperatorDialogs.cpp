#include "app/OperatorDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QRegularExpression>
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

// The type column of the dialog's list comes from the icon provider, whose texts Qt's
// translations do not cover ("Folder", "txt File").
class TRussianIconProvider : public QFileIconProvider
{
public:
    QString type(const QFileInfo& info) const override
    {
        if (info.isDir())
            return QStringLiteral("Папка");
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("Файл") : QStringLiteral("Файл %1").arg(suffix.toUpper());
    }
};

TRussianIconProvider& RussianIconProvider()
{
    // Kept to the end of the process: a dialog may still use it while the program ends.
    static auto* provider = new TRussianIconProvider;
    return *provider;
}

void Prepare(QFileDialog& dialog, const TFileDialogOptions& options)
{
    dialog.setOptions(CommonOptions());
    dialog.setWindowTitle(options.Title);
    dialog.setNameFilter(options.Filter);
    dialog.setDefaultSuffix(options.DefaultSuffix);
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    dialog.setDirectory(options.Directory.isEmpty() ? QDir::homePath() : options.Directory);
    if (!options.FileName.isEmpty())
        dialog.selectFile(options.FileName);
    dialog.setSizeGripEnabled(true);
    dialog.setIconProvider(&RussianIconProvider());
}

// QFileDialog lets a name through whatever folder it is in, and gives a name typed without an
// extension the default suffix whichever file type is chosen.
class TSaveFileDialog : public QFileDialog
{
public:
    TSaveFileDialog(QWidget* parent, QString defaultSuffix)
        : QFileDialog(parent)
        , m_defaultSuffix(std::move(defaultSuffix))
    { }

    void accept() override
    {
        const QString suffix = NameFilterSuffix(ChosenNameFilter());
        setDefaultSuffix(suffix.isEmpty() ? m_defaultSuffix : suffix);
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QString problem = SaveFolderProblem(files.constFirst());
            if (!problem.isEmpty()) {
                ShowErrorMessage(problem);
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    // With the details hidden Qt gives back only the filter's caption; the list of types
    // holds them in the order they were set.
    QString ChosenNameFilter() const
    {
        const auto* types = findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        const QStringList filters = nameFilters();
        if (types && types->currentIndex() >= 0 && types->currentIndex() < filters.size())
            return filters.at(types->currentIndex());
        return selectedNameFilter();
    }

    QString m_defaultSuffix;
};

} // namespace

QString SaveFolderProblem(const QString& path)
{
    const QFileInfo file(path);
    if (file.absoluteDir().exists())
        return {};
    return QStringLiteral("Папка %1 не существует.\rВыберите существующую папку.")
        .arg(QDir::toNativeSeparators(file.absolutePath()));
}

QString NameFilterSuffix(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\(\\s*\\*\\.([^\\s*?;()\\[\\]]+)[\\s;)]"));
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    if (open < 0)
        return {};
    const QRegularExpressionMatch match = pattern.match(filter, open);
    return match.hasMatch() && match.capturedStart() == open ? match.captured(1) : QString();
}

QMessageBox::StandardButton TQtOperatorDialogs::Message(
    const QString& caption, const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, ShownText(text), buttons, QApplication::activeWindow());
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton TQtOperatorDialogs::Ask(const QString& caption, const QString& text,
    QMessageBox::Icon icon, QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, ShownText(text), buttons, QApplication::activeWindow());
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString TQtOperatorDialogs::SaveFileName(const TFileDialogOptions& options)
{
    TSaveFileDialog dialog(QApplication::activeWindow(), options.DefaultSuffix);
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

QMessageBox::StandardButton AskQuestion(
    const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    if (defaultButton == QMessageBox::NoButton)
        return OperatorDialogs().Message(APPLICATION_TITLE, text, QMessageBox::Warning, buttons);
    return OperatorDialogs().Ask(APPLICATION_TITLE, text, QMessageBox::Warning, buttons, defaultButton);
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
    // A window not yet shown nor sized by the program takes its layout's size when shown.
    const bool sized = window.isVisible() || window.testAttribute(Qt::WA_Resized);
    QRect frame(QPoint(), sized ? window.size() : window.sizeHint().expandedTo(window.minimumSize()));
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}
