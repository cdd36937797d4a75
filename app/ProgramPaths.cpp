#include "app/ProgramPaths.h"

#include "app/DisplaySettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
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

// Trees that packages, administrators and container formats install into. /usr/local,
// /usr/games and the like are inside /usr.
bool UnderSystemPrefix(const QString& path)
{
    static const char* const kPrefixes[] = {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib64", "/snap",
        "/app", "/nix", "/gnu", "/etc", "/var/lib"};
    for (const char* prefix : kPrefixes) {
        const QString p = QString::fromLatin1(prefix);
        if (path == p || path.startsWith(p + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

TProgramFolder ProgramFolderOf(const QString& executablePath)
{
    const QFileInfo program(executablePath);
    TProgramFolder folder;
    const QString canonical = QFileInfo(program.absolutePath()).canonicalFilePath();
    folder.Path = canonical.isEmpty() ? QDir::cleanPath(program.absolutePath()) : canonical;
    const QByteArray name = QFile::encodeName(folder.Path);
    folder.Writable = ::access(name.constData(), W_OK) == 0;
    struct stat status = {};
    folder.OwnedByUser = ::stat(name.constData(), &status) == 0 && status.st_uid == ::geteuid();
    const QDir dir(folder.Path);
    folder.BuildTree = QFileInfo(dir.filePath(QStringLiteral("CMakeCache.txt"))).isFile();
    folder.InstallPrefix = dir.dirName() == QLatin1String("bin")
        && QFileInfo(dir.filePath(QStringLiteral("../share/applications/cement-lab.desktop"))).isFile();
    return folder;
}

bool BesideProgram(const TProgramFolder& folder)
{
    if (!folder.Writable)
        return false;
    if (folder.BuildTree)
        return true;
    return folder.OwnedByUser && !folder.InstallPrefix && !UnderSystemPrefix(folder.Path);
}

TProgramPaths ProgramPathsFor(const QString& executablePath, bool besideProgram)
{
    const QFileInfo program(executablePath);
    TProgramPaths paths;
    paths.BesideProgram = besideProgram;
    if (besideProgram) {
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
    paths.ProjectsFolder = (documents.isEmpty() ? Home() : documents) + QLatin1Char('/')
        + QLatin1String(kUserProjectsFolderName);
    const QString pictures = UserFolder("XDG_PICTURES_DIR", QStandardPaths::PicturesLocation);
    paths.PictureFolder = pictures.isEmpty() ? paths.ProjectsFolder : pictures;
    return paths;
}

TProgramPaths ProgramPaths(const QString& executablePath)
{
    return ProgramPathsFor(executablePath, BesideProgram(ProgramFolderOf(executablePath)));
}
