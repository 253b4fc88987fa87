#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

QString SingleInstance::DefaultKey()
{
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    return exe + QLatin1Char('|') + QString::number(getuid()) + QLatin1Char('|') + display;
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
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains("raise"))
                    emit RaiseRequested();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}

bool SingleInstance::NotifyRunning() const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("raise\n");
    const bool sent = socket.waitForBytesWritten(2000);
    socket.waitForDisconnected(1000);
    return sent;
}
