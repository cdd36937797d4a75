#include "app/ProgramPaths.h"
#include "cli/CliUnit.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdlib>
#include <iostream>

namespace {

// Standard error carries the tool's own messages only: a script reads it. Qt's notes on
// the environment (no XDG_RUNTIME_DIR, the offscreen platform's limits) are not for it.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::cerr << message.toLocal8Bit().constData() << std::endl;
        std::abort();
    }
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(QuietQtMessages);
    // The report draws its chart with widgets; no display is needed for that.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    TCliOptions options;
    // The desktop program's settings file, wherever that program keeps it when beside this one.
    const QString desktopProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/cement-lab");
    options.ProgramFolder = QFileInfo(ProgramPaths(desktopProgram).SettingsFile).absolutePath().toStdString();
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, options);
}
