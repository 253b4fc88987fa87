#include "Destination.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Writable(const QString &folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

DestinationCheck Refuse(const QString &path, const QString &why)
{
    return {DestinationCheck::Refused, path, QStringLiteral("Destination path \"%1\" %2").arg(path, why)};
}

}  // namespace

DestinationCheck CheckDestination(const QString &typed)
{
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty())
        return {DestinationCheck::Refused, QString(),
                QStringLiteral("No destination path: type one, or choose a folder with the button beside it.")};
    if (!QDir::isAbsolutePath(trimmed))
        return Refuse(trimmed, QStringLiteral("is not a full path: it must begin with \"/\"."));
    const QString path = QDir::cleanPath(trimmed);
    if (path == QLatin1String("/"))
        return Refuse(path, QStringLiteral("is the top of the file system: choose a folder of your own."));
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isDir())
            return Refuse(path, QStringLiteral("is a file, not a folder."));
        if (!Writable(path))
            return Refuse(path, QStringLiteral("cannot be written by you: choose a folder of your own."));
        return {DestinationCheck::Ready, path, QString()};
    }
    // The nearest folder above it that exists must take the new folders.
    QString above = info.path();
    while (!QFileInfo::exists(above) && above != QLatin1String("/"))
        above = QFileInfo(above).path();
    if (!QFileInfo(above).isDir())
        return Refuse(path, QStringLiteral("cannot be made: \"%1\" is a file, not a folder.").arg(above));
    if (!Writable(above))
        return Refuse(path, QStringLiteral("cannot be made: \"%1\" cannot be written by you.").arg(above));
    return {DestinationCheck::Missing, path, QString()};
}

QString MakeDestination(const QString &path)
{
    // Step by step, so that the reason names the folder that failed.
    QString made;
    for (const QString &step : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        made += QLatin1Char('/') + step;
        const QByteArray native = QFile::encodeName(made);
        if (::mkdir(native.constData(), 0777) != 0 && errno != EEXIST)
            return QStringLiteral("\"%1\" could not be made: %2")
                .arg(made, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!QFileInfo(path).isDir())
        return QStringLiteral("\"%1\" could not be made: a file of that name is in the way").arg(path);
    return QString();
}
