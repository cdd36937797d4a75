#include "app/Application.h"

#include "app/MainUnit.h"
#include "app/OperatorDialogs.h"
#include "app/SingleInstance.h"
#include "device/USB.h"
#include "store/MainDataModuleUnit.h"

#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int TerminatePipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(TerminatePipe[0], &byte, 1);
}

// SIGTERM (a session ending, a service manager) closes the window as the operator would,
// so the settings are written and unsaved work is asked about, not dropped.
void CloseOnTerminate(QWidget& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, TerminatePipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(TerminatePipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(TerminatePipe[1], &byte, 1);
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{ }

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowGeneralError(error);
    }
    return false;
}

bool LoadFrameworkTranslations(QApplication& application)
{
    auto* translator = new QTranslator(&application);
    if (!translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

bool AcquireSingleInstance(TSingleInstanceGuard& guard)
{
    if (guard.Acquire())
        return true;
    ShowErrorMessage(
        QStringLiteral("Копия данной программы уже запущена.\rПовторный запуск программы не разрешен."));
    return false;
}

int RunProgram(int argc, char** argv, const TProgramOptions& options)
{
    TApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QString());
    LoadFrameworkTranslations(application);

    TSingleInstanceGuard guard;
    if (!AcquireSingleInstance(guard))
        return 0;
    QApplication::setApplicationName(APPLICATION_TITLE);
    QApplication::setDesktopFileName(QStringLiteral("cement-lab"));

    TMainDataModule dataModule;
    int status = 0;
    {
        TMainForm mainForm(dataModule, QCoreApplication::applicationFilePath(),
            options.Backend ? options.Backend() : nullptr);
        CloseOnTerminate(mainForm);
        mainForm.show();
        status = QApplication::exec();
    }
    USBFinalize();
    return status;
}
