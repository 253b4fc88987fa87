#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>

#include <unistd.h>

QString SingleInstance::DefaultKey()
{
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString display = DisplayKey(qEnvironmentVariable("WAYLAND_DISPLAY"), qEnvironmentVariable("DISPLAY"),
                                       qEnvironmentVariable("XDG_RUNTIME_DIR"), QSysInfo::machineHostName());
    return exe + QLatin1Char('|') + QString::number(getuid()) + QLatin1Char('|') + display;
}

QString SingleInstance::DisplayKey(const QString &waylandDisplay, const QString &x11Display,
                                   const QString &runtimeFolder, const QString &hostName)
{
    if (!waylandDisplay.isEmpty()) {
        const QString socket = waylandDisplay.startsWith(QLatin1Char('/'))
                                   ? waylandDisplay
                                   : runtimeFolder + QLatin1Char('/') + waylandDisplay;
        return QStringLiteral("wayland:") + QDir::cleanPath(socket);
    }
    // [protocol/][host]:display[.screen], or the server's socket path.
    static const QRegularExpression socketPath(QStringLiteral("^/tmp/\\.X11-unix/X(\\d+)$"));
    static const QRegularExpression hostDisplay(QStringLiteral("^(?:([a-z]+)/)?(.*?):(:?)(\\d+)(?:\\.\\d+)?$"));
    if (const QRegularExpressionMatch m = socketPath.match(x11Display); m.hasMatch())
        return QStringLiteral("x11::") + QString::number(m.captured(1).toInt());
    const QRegularExpressionMatch m = hostDisplay.match(x11Display);
    if (!m.hasMatch())
        return QStringLiteral("x11:") + x11Display;
    QString host = m.captured(2);
    const bool local = host.isEmpty() || host == QLatin1String("unix") || host == QLatin1String("localhost") ||
                       host == QLatin1String("127.0.0.1") || host == QLatin1String("[::1]") ||
                       host.compare(hostName, Qt::CaseInsensitive) == 0;
    if (local)
        host.clear();
    // "::" is DECnet, another way to the server; a number keeps no leading zeros.
    return QStringLiteral("x11:") + host.toLower() + QLatin1Char(':') + QString::number(m.captured(4).toInt());
}

SingleInstance::SingleInstance(const QString &key, QObject *parent) : QObject(parent)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QString id =
        QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    lockPath_ = folder + QStringLiteral("/ferrovane-") + id + QStringLiteral(".lock");
    socketPath_ = folder + QStringLiteral("/ferrovane-") + id + QStringLiteral(".socket");
}

SingleInstance::~SingleInstance()
{
    if (server_)
        server_->close();
}

bool SingleInstance::Claim()
{
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // A lock left by a process that no longer runs is taken over.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(200)) {
        lock_.reset();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath_);
    server_->listen(socketPath_);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = server_->nextPendingConnection()) {
            // Lines: "location " + the path's bytes percent-encoded, then "raise".
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const QByteArray line = client->readLine().trimmed();
                    if (line.startsWith("location "))
                        emit LocationRequested(QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(9))));
                    if (line == "raise") {
                        emit RaiseRequested();
                        client->disconnectFromServer();
                    }
                }
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}

bool SingleInstance::NotifyRunning(const QString &location) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(2000))
        return false;
    if (!location.isEmpty())
        socket.write("location " + QFile::encodeName(location).toPercentEncoding() + "\n");
    socket.write("raise\n");
    const bool sent = socket.waitForBytesWritten(2000);
    socket.waitForDisconnected(1000);
    return sent;
}
