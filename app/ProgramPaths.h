#pragma once

// Where the program keeps its files. Beside the program for a build tree or a copy in a
// folder of the user's own: the settings file "<program>.ini", the folder "projects" and
// the screen picture. An installed program (a folder of a system prefix such as /usr or
// /opt, or any prefix this project's install rules filled) uses the user's XDG places
// instead, whoever runs it: root can write /usr/bin, and that must not make it the place.
// Decided once, at start.

#include <QString>

struct TProgramPaths
{
    bool BesideProgram = true;
    QString SettingsFile;
    QString ProjectsFolder; // without a trailing separator
    QString PictureFolder;  // where "sceenshot.bmp" goes
};

// What decides about the program's folder, as seen by this process.
struct TProgramFolder
{
    QString Path;               // absolute, symbolic links resolved
    bool Writable = false;      // by this process
    bool OwnedByUser = false;   // its owner is this process's user
    bool BuildTree = false;     // CMake's cache lies beside the program
    bool InstallPrefix = false; // a "bin" beside the prefix's share/applications/cement-lab.desktop
};

// The name of the projects folder in the user's places; a clone of the sources is named
// after the project, so this is never the folder a clone makes.
inline constexpr const char* kUserProjectsFolderName = "cement-lab-projects";

TProgramFolder ProgramFolderOf(const QString& executablePath);
bool BesideProgram(const TProgramFolder& folder);

// Looks at the program's folder and decides.
TProgramPaths ProgramPaths(const QString& executablePath);
// The places for a decision taken: beside the program, or in the user's XDG places as the
// environment names them (XDG_CONFIG_HOME, XDG_DOCUMENTS_DIR, XDG_PICTURES_DIR, HOME).
TProgramPaths ProgramPathsFor(const QString& executablePath, bool besideProgram);
