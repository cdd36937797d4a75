#include "app/Application.h"

#include "app/MainUnit.h"
#include "app/OperatorDialogs.h"
#include "app/SingleInstance.h"
#include "device/USB.h"
#include "store/EngineSignals.h"
#include "store/MainDataModuleUnit.h"

#include <QDialog>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalSocket[2] = {-1, -1};

void OnTerminationSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto sent = ::send(SignalSocket[0], &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = saved;
}

// Turns the signals the handler wrote into one close of the window, taken only from the
// main event loop: closing from inside a modal window's loop would end the program while
// the command that opened that window still has code to run after it.
class TTerminationCloser : public QObject
{
public:
    TTerminationCloser(QWidget& window, int socket)
        : QObject(&window)
        , m_window(window)
        , m_socket(socket)
    {
        auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &TTerminationCloser::SignalArrived);
        m_step.setInterval(10);
        connect(&m_step, &QTimer::timeout, this, &TTerminationCloser::Step);
    }

private:
    void SignalArrived()
    {
        char bytes[64];
        while (::read(m_socket, bytes, sizeof bytes) > 0) { }
        // A signal during the close question is the same request: the question answers it.
        if (!m_closing)
            m_step.start();
    }

    void Step()
    {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            return;
        }
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
            return;
        }
        // A rejected window's loop ends only when control gets back to it.
        if (QThread::currentThread()->loopLevel() > 1)
            return;
        m_step.stop();
        m_closing = true;
        m_window.close();
        m_closing = false;
    }

    QWidget& m_window;
    int m_socket;
    QTimer m_step;
    bool m_closing = false;
};

} // namespace

void CloseOnTerminationSignals(QWidget& window)
{
    // Before the handlers: once the engine is loaded a signal must not reach its shutdown.
    LeaveSignalsToProgram();
    if (SignalSocket[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, SignalSocket) != 0) {
        SignalSocket[0] = SignalSocket[1] = -1;
        return;
    }
    new TTerminationCloser(window, SignalSocket[1]);
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

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
        CloseOnTerminationSignals(mainForm);
        mainForm.show();
        status = QApplication::exec();
    }
    USBFinalize();
    return status;
}
