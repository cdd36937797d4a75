#include "app/Application.h"

#include "app/MainUnit.h"
#include "app/OperatorDialogs.h"
#include "app/SingleInstance.h"
#include "device/USB.h"
#include "store/MainDataModuleUnit.h"

#include <QLibraryInfo>
#include <QTranslator>

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

    TMainDataModule dataModule;
    int status = 0;
    {
        TMainForm mainForm(dataModule, QCoreApplication::applicationFilePath(),
            options.Backend ? options.Backend() : nullptr);
        mainForm.show();
        status = QApplication::exec();
    }
    USBFinalize();
    return status;
}
