#include "app/ProgramPaths.h"

#include "app/DisplaySettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

QString Environment(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

QString Home()
{
    const QString home = Environment("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

// A user folder such as Documents: the variable, else the desktop's folder of that kind
// when it exists, else nothing. The home folder itself is never taken for one.
QString UserFolder(const char* variable, QStandardPaths::StandardLocation location)
{
    QString folder = Environment(variable);
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(location);
        if (!QFileInfo(folder).isDir())
            return {};
    }
    if (folder.isEmpty() || QDir(folder) == QDir(Home()))
        return {};
    return QDir::cleanPath(folder);
}

} // namespace

TProgramPaths ProgramPathsFor(const QString& executablePath, bool folderWritable)
{
    const QFileInfo program(executablePath);
    TProgramPaths paths;
    paths.BesideProgram = folderWritable;
    if (folderWritable) {
        const QString folder = program.absolutePath();
        paths.SettingsFile
            = QString::fromStdString(::SettingsFileName(program.absoluteFilePath().toStdString()));
        paths.ProjectsFolder = folder + QStringLiteral("/projects");
        paths.PictureFolder = folder;
        return paths;
    }
    QString config = Environment("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = Home() + QStringLiteral("/.config");
    paths.SettingsFile
        = config + QStringLiteral("/cement-lab/") + program.completeBaseName() + QStringLiteral(".ini");
    const QString documents = UserFolder("XDG_DOCUMENTS_DIR", QStandardPaths::DocumentsLocation);
    paths.ProjectsFolder = documents.isEmpty() ? Home() + QStringLiteral("/cement-lab/projects")
                                               : documents + QStringLiteral("/cement-lab");
    const QString pictures = UserFolder("XDG_PICTURES_DIR", QStandardPaths::PicturesLocation);
    paths.PictureFolder = pictures.isEmpty() ? paths.ProjectsFolder : pictures;
    return paths;
}

TProgramPaths ProgramPaths(const QString& executablePath)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(executablePath).absolutePath());
    return ProgramPathsFor(executablePath, ::access(folder.constData(), W_OK) == 0);
}
