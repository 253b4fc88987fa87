#include "LogFiles.h"

#include "log/LogDocument.h"
#include "log/RtfWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QString LogFileName(const QDateTime &when)
{
    return QStringLiteral("Ferrovane Log ") + when.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")) +
           QStringLiteral(".rtf");
}

namespace {

// Gives the written file its name unless that name is taken; false with
// errno set otherwise (EEXIST when taken).
bool NameWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails the
    // same way on a taken name.
    if (link(from.constData(), to.constData()) != 0)
        return false;
    unlink(from.constData());
    return true;
}

}  // namespace

QString SaveLog(const LogDocument &document, const QString &folder, const QDateTime &now, QString *error)
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return QString();
    };
    // Written whole under a name no log search matches, then named: two runs
    // ending in the same second never write into one file.
    QTemporaryFile file(folder + QStringLiteral(".Ferrovane Log XXXXXX.tmp"));
    if (!file.open())
        return fail(file.errorString());
    const bool written =
        WriteLogRtf(document, [&file](const QByteArray &piece) { return file.write(piece) == piece.size(); });
    if (!written || !file.flush())
        return fail(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    file.close();
    const QString name = LogFileName(now);
    const QString stem = name.left(name.size() - 4);  // without ".rtf"
    for (int n = 1; n <= 999; ++n) {
        const QString path = folder + (n == 1 ? name : stem + QStringLiteral(" (%1).rtf").arg(n));
        if (NameWithoutReplacing(QFile::encodeName(file.fileName()), QFile::encodeName(path))) {
            file.setAutoRemove(false);
            return path;
        }
        if (errno != EEXIST)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    return fail(QStringLiteral("every name for this second is taken"));
}

QString LogFolderTrouble(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("the folder does not exist.");
    QTemporaryFile probe(folder + QStringLiteral(".Ferrovane Log XXXXXX.tmp"));
    if (!probe.open())
        return probe.errorString() + QLatin1Char('.');
    return QString();
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
