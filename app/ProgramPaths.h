#pragma once

// Where the program keeps its files. Beside the program when its folder can be written
// (a build folder, a copy in a folder of one's own): the settings file "<program>.ini",
// the folder "projects" and the screen picture. When it cannot (an installed /usr/bin),
// the user's XDG places instead. Decided once, at start.

#include <QString>

struct TProgramPaths
{
    bool BesideProgram = true;
    QString SettingsFile;
    QString ProjectsFolder; // without a trailing separator
    QString PictureFolder;  // where "sceenshot.bmp" goes
};

// Looks at whether the program's folder can be written and decides.
TProgramPaths ProgramPaths(const QString& executablePath);
// The decision itself: beside the program, or in the user's XDG places as the
// environment names them (XDG_CONFIG_HOME, XDG_DOCUMENTS_DIR, XDG_PICTURES_DIR, HOME).
TProgramPaths ProgramPathsFor(const QString& executablePath, bool folderWritable);
