#pragma once

#include <QString>
#include <QStringList>

// What a start of the program is asked on its command line.
struct ProgramArguments
{
    // A memory card or folder to select, as an absolute path or a URL
    // (file: or another scheme, kept as given); empty when none is named.
    QString location;
    // Why the command line cannot be followed; empty when it can.
    QString error;
};

// Reads the arguments (the program's name first). A relative location is
// taken from the working folder, as the starting shell meant it.
ProgramArguments ParseProgramArguments(const QStringList &arguments, const QString &workingFolder);
