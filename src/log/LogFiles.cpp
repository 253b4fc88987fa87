#include "LogFiles.h"

#include "log/LogDocument.h"
#include "log/RtfWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString LogFileName(const QDateTime &when)
{
    return QStringLiteral("Ferrovane Log ") + when.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")) +
           QStringLiteral(".rtf");
}

QString SaveLog(const LogDocument &document, const QString &folder, const QDateTime &now)
{
    const QString path = folder + LogFileName(now);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    const bool written = WriteLogRtf(document, [&file](const QByteArray &piece) {
        return file.write(piece) == piece.size();
    });
    if (!written || !file.commit())
        return QString();
    return path;
}

int DeleteLogFiles(const QString &folder, const QString &maxLogDaysText, const QDateTime &now)
{
    bool ok = false;
    const int days = maxLogDaysText.trimmed().toInt(&ok);
    if (!ok || days <= 0)
        return 0;
    const QDateTime limit = now.addDays(-days);
    QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("Ferrovane Log *.rtf")}, QDir::AllEntries | QDir::Hidden | QDir::System);
    int removed = 0;
    for (const QFileInfo &entry : entries) {
        if (entry.isDir())
            continue;
        if (entry.lastModified() < limit && QFile::remove(entry.absoluteFilePath()))
            ++removed;
    }
    return removed;
}
