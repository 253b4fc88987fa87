#pragma once

#include <QString>

// The program's folders and files, fixed once at start by SetProgramFolders.
// Every folder ends with exactly one "/".
extern QString ProgramFolder;   // folder of the running executable
extern QString UserDataFolder;  // settings file and log files
extern QString IniFilePath;     // UserDataFolder + "Ferrovane.ini"
extern QString HelpFilePath;    // ProgramFolder + "help/index.html"

struct ProgramFolderSet
{
    QString ProgramFolder;
    QString UserDataFolder;
    QString IniFilePath;
    QString HelpFilePath;
};

// The folders for an executable in exeFolder and the value of
// XDG_CONFIG_HOME (empty or relative: ~/.config is used).
ProgramFolderSet ComputeProgramFolders(const QString &exeFolder, const QString &xdgConfigHome,
                                       const QString &homeFolder);

// Fills the globals above and creates the user data folder with its parents.
// A folder that cannot be created is not reported here: the first write into
// it fails and says so.
void SetProgramFolders();

// The path with every trailing "/" replaced by exactly one.
QString IncludeTrailingPathDelimiter(const QString &path);
