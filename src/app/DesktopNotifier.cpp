#include "DesktopNotifier.h"

#include "log/LogSink.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

DesktopNotifier::DesktopNotifier(LogSink &log, QObject *parent) : QObject(parent), log_(log)
{
}

void DesktopNotifier::Unavailable(const QString &why)
{
    log_.WriteDebug(QStringLiteral("No desktop notification: ") + why);
}

void DesktopNotifier::Notify(const QString &summary, const QString &body)
{
    const QDBusConnection bus = bus_ ? *bus_ : QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        Unavailable(why.isEmpty() ? QStringLiteral("no session bus.") : why);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("ferrovane"));
    call << QStringLiteral("Ferrovane") << quint32(0) << QStringLiteral("ferrovane") << summary << body << QStringList()
         << hints << qint32(-1);
    // A service started on demand may take a moment: the window does not wait.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<quint32> reply = *done;
        if (reply.isError())
            Unavailable(reply.error().message());
    });
}
