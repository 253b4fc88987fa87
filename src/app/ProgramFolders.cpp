#include "ProgramFolders.h"

#include <QDir>
#include <QFileInfo>

QString ProgramFolder;
QString UserDataFolder;
QString IniFilePath;
QString HelpFilePath;

QString IncludeTrailingPathDelimiter(const QString &path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    return path.left(end) + QLatin1Char('/');
}

ProgramFolderSet ComputeProgramFolders(const QString &exeFolder, const QString &xdgConfigHome,
                                       const QString &homeFolder)
{
    ProgramFolderSet set;
    set.ProgramFolder = IncludeTrailingPathDelimiter(exeFolder);
    // The XDG rules ignore a relative value.
    const QString configHome = xdgConfigHome.startsWith(QLatin1Char('/'))
                                   ? xdgConfigHome
                                   : IncludeTrailingPathDelimiter(homeFolder) + QStringLiteral(".config");
    set.UserDataFolder = IncludeTrailingPathDelimiter(configHome) + QStringLiteral("Quillmoor/Ferrovane/");
    set.IniFilePath = set.UserDataFolder + QStringLiteral("Ferrovane.ini");
    set.HelpFilePath = set.ProgramFolder + QStringLiteral("help/index.html");
    return set;
}

void SetProgramFolders()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    const QString exeFolder = QFileInfo(exe.canonicalFilePath()).absolutePath();
    const ProgramFolderSet set =
        ComputeProgramFolders(exeFolder, qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
    ProgramFolder = set.ProgramFolder;
    UserDataFolder = set.UserDataFolder;
    IniFilePath = set.IniFilePath;
    HelpFilePath = set.HelpFilePath;
    QDir().mkpath(UserDataFolder);
}
