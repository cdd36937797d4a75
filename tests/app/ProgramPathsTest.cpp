// Where the program keeps its files: beside itself only in a build tree or a folder of the
// user's own; installed, in the user's places whoever runs it (root can write /usr/bin).

#include "app/ProgramPaths.h"
#include "tests/support/TempDir.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace {

class TEnvironment
{
public:
    void Set(const char* name, const std::string& value)
    {
        Save(name);
        qputenv(name, QByteArray::fromStdString(value));
    }
    void Unset(const char* name)
    {
        Save(name);
        qunsetenv(name);
    }
    ~TEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            if (it->second.isNull())
                qunsetenv(it->first);
            else
                qputenv(it->first, it->second);
    }

private:
    void Save(const char* name) { m_saved.emplace_back(name, qgetenv(name)); }
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

void Touch(const std::filesystem::path& file)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "\n";
}

} // namespace

TEST(ProgramPaths, BesideOnlyInABuildTreeOrAFolderOfTheUsersOwn)
{
    struct TCase
    {
        const char* Path;
        bool Writable, Owned, BuildTree, InstallPrefix;
        bool Beside;
    };
    const TCase cases[] = {
        {"/home/op/cement-lab/build", true, true, true, false, true},
        {"/usr/src/cement-lab/build", true, true, true, false, true},
        {"/home/op/cement-lab/build", false, true, true, false, false},
        {"/home/op/tools/cement-lab", true, true, false, false, true},
        {"/tmp/try", true, true, false, false, true},
        {"/usrlocal/try", true, true, false, false, true},
        // root owns and may write every one of these
        {"/usr/bin", true, true, false, false, false},
        {"/usr/local/bin", true, true, false, false, false},
        {"/opt/cement-lab/bin", true, true, false, false, false},
        {"/opt", true, true, false, false, false},
        {"/snap/cement-lab/12/usr/bin", true, true, false, false, false},
        // cmake --install into a prefix of one's own
        {"/home/op/.local/bin", true, true, false, true, false},
        // a shared folder the group may write
        {"/srv/lab/cement-lab", true, false, false, false, false},
    };
    for (const TCase& c : cases) {
        const TProgramFolder folder{
            QString::fromLatin1(c.Path), c.Writable, c.Owned, c.BuildTree, c.InstallPrefix};
        EXPECT_EQ(BesideProgram(folder), c.Beside)
            << c.Path << " writable " << c.Writable << " owned " << c.Owned << " build " << c.BuildTree
            << " prefix " << c.InstallPrefix;
    }
}

TEST(ProgramPaths, FoldersAreRecognisedOnDisk)
{
    const TTempDir dir;
    Touch(dir.Path() / "build/CMakeCache.txt");
    Touch(dir.Path() / "prefix/share/applications/cement-lab.desktop");
    std::filesystem::create_directories(dir.Path() / "prefix/bin");
    std::filesystem::create_directories(dir.Path() / "copy");
    std::filesystem::create_directory_symlink(dir.Path() / "prefix/bin", dir.Path() / "link");

    const auto of
        = [&dir](const char* program) { return ProgramFolderOf(QString::fromStdString(dir.File(program))); };
    const TProgramFolder build = of("build/cement-lab");
    EXPECT_TRUE(build.BuildTree && build.Writable && build.OwnedByUser && !build.InstallPrefix);
    EXPECT_TRUE(BesideProgram(build));
    const TProgramFolder copy = of("copy/cement-lab");
    EXPECT_TRUE(!copy.BuildTree && copy.Writable && copy.OwnedByUser && !copy.InstallPrefix);
    EXPECT_TRUE(BesideProgram(copy));
    // Reached through a symbolic link, an installed prefix is still one.
    const TProgramFolder linked = of("link/cement-lab");
    EXPECT_EQ(linked.Path, QFileInfo(QString::fromStdString(dir.File("prefix/bin"))).canonicalFilePath());
    EXPECT_TRUE(linked.InstallPrefix);
    EXPECT_FALSE(BesideProgram(linked));

    // The package's own folder, for any user and for root.
    const TProgramFolder installed = ProgramFolderOf(QStringLiteral("/usr/bin/cement-lab"));
    EXPECT_EQ(installed.Path, QStringLiteral("/usr/bin"));
    EXPECT_FALSE(BesideProgram(installed));
}

TEST(ProgramPaths, InstalledProgramsUseTheUsersPlacesOutsideAnySourceClone)
{
    const TTempDir dir;
    TEnvironment environment;
    environment.Set("HOME", dir.File("home"));
    environment.Set("XDG_CONFIG_HOME", dir.File("config"));
    environment.Unset("XDG_DOCUMENTS_DIR");
    environment.Unset("XDG_PICTURES_DIR");
    const QString home = QString::fromStdString(dir.File("home"));

    struct TCase
    {
        const char* Documents;
        const char* Pictures;
        QString Projects;
        QString Picture;
    };
    const TCase cases[] = {
        {nullptr, nullptr, home + "/cement-lab-projects", home + "/cement-lab-projects"},
        {"home/Документы", "home/Изображения", home + "/Документы/cement-lab-projects",
            home + "/Изображения"},
        // the home folder named as the documents folder is no documents folder
        {"home", nullptr, home + "/cement-lab-projects", home + "/cement-lab-projects"},
    };
    for (const TCase& c : cases) {
        if (c.Documents)
            environment.Set("XDG_DOCUMENTS_DIR", dir.File(c.Documents));
        if (c.Pictures)
            environment.Set("XDG_PICTURES_DIR", dir.File(c.Pictures));
        for (const char* program : {"cement-lab", "cement-lab-demo"}) {
            const TProgramPaths paths = ProgramPaths(QStringLiteral("/usr/bin/") + QLatin1String(program));
            EXPECT_FALSE(paths.BesideProgram);
            EXPECT_EQ(paths.SettingsFile,
                QString::fromStdString(dir.File("config/cement-lab/")) + QLatin1String(program) + ".ini");
            EXPECT_EQ(paths.ProjectsFolder, c.Projects) << program;
            EXPECT_EQ(paths.PictureFolder, c.Picture) << program;
            // "git clone" names the folder it makes after the repository, and so the project.
            for (QString up = paths.ProjectsFolder; up.startsWith(home + "/"); up = QFileInfo(up).path())
                EXPECT_NE(QFileInfo(up).fileName(), QStringLiteral(CEMENTLAB_PROJECT_NAME))
                    << up.toStdString();
        }
        environment.Unset("XDG_DOCUMENTS_DIR");
        environment.Unset("XDG_PICTURES_DIR");
    }
}
