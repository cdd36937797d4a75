#include "cli/CliUnit.h"

#include <QApplication>

#include <iostream>

int main(int argc, char** argv)
{
    // The report draws its chart with widgets; no display is needed for that.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    TCliOptions options;
    options.ProgramFolder = QCoreApplication::applicationDirPath().toStdString();
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, options);
}
