#pragma once

// Reading and writing the settings file around the program, for tests.

#include "app/ProgramFolders.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

inline void WriteIni(const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(IniFilePath).path());
    QFile f(IniFilePath);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

inline QString Ini(const QString &section, const QString &key)
{
    return IniFile(IniFilePath).ReadString(section, key, QStringLiteral("<none>"));
}
