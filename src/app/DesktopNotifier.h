#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

class LogSink;

// Desktop notifications through the freedesktop notification service on the
// session bus. Where there is no bus or no service, nothing is shown and
// debug mode says why.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(LogSink &log, QObject *parent = nullptr);

    // The bus the service is asked on; the session bus unless set.
    void SetConnection(const QDBusConnection &bus) { bus_ = bus; }

    // Sends without waiting for the service's answer.
    void Notify(const QString &summary, const QString &body);

private:
    void Unavailable(const QString &why);

    LogSink &log_;
    // Reached only when there is something to say.
    std::optional<QDBusConnection> bus_;
};
