#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <memory>

// One running copy per executable, user and display: the first start holds a
// lock file and listens on a local socket in the user's runtime folder; a
// later start finds the lock taken, asks the first to come to the front (and
// to open the card or folder it was given), and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // The key of this program's instances: executable path, user and display.
    static QString DefaultKey();
    // The desktop a display text names, the same for every way of writing it:
    // ":0", ":0.0", "unix:0" and "localhost:0" are one X server; a Wayland
    // socket name is taken in the runtime folder. Wayland wins when both are set.
    static QString DisplayKey(const QString &waylandDisplay, const QString &x11Display, const QString &runtimeFolder,
                              const QString &hostName);

    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this is the only instance; it then listens for later starts.
    bool Claim();
    // Asks the running instance to come to the front, and to open the
    // location when one is given; false when none answered.
    bool NotifyRunning(const QString &location = QString()) const;

signals:
    void RaiseRequested();
    void LocationRequested(const QString &location);

private:
    QString lockPath_;
    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};
