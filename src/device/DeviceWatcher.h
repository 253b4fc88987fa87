#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

// Something that says when the set of attached devices may have changed.
class DeviceEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void Changed();
};

// USB devices plugged in or pulled out, as udev announces them once their
// device nodes are ready (cameras, phones and media players).
class UsbEventSource : public DeviceEventSource
{
    Q_OBJECT
public:
    // Null when udev's monitor cannot be set up; `why` says what failed.
    static std::unique_ptr<UsbEventSource> Create(QString *why);
    ~UsbEventSource() override;

private:
    struct Monitor;
    explicit UsbEventSource(std::unique_ptr<Monitor> monitor);
    void Receive();

    std::unique_ptr<Monitor> monitor_;
    QSocketNotifier *notifier_ = nullptr;
};

// Volumes mounted or unmounted (memory cards, and any folder mounted where a
// card is looked for). The kernel marks the mount table with an exceptional
// condition when it changes; only a change of the mount points counts, not
// one of mount options.
class MountEventSource : public DeviceEventSource
{
    Q_OBJECT
public:
    // Watches the mount table at `path` (mountinfo syntax); by default the
    // one the program reads its cards from (MountTablePath()).
    explicit MountEventSource(const QString &path = QString());
    ~MountEventSource() override;

    // Reads the table again and says Changed() when its mount points differ
    // from the last reading. The change event calls it; tests call it after
    // writing their own table.
    void Check();
    bool IsOpen() const { return fd_ >= 0; }

private:
    QByteArray ReadTable();
    // Each mount as its identifier and mount point: a card swapped for
    // another at the same place between two readings is a new mount.
    static QList<QByteArray> Mounts(const QByteArray &table);

    int fd_ = -1;
    QList<QByteArray> mounts_;
    QSocketNotifier *notifier_ = nullptr;
};

// Gathers the sources and says when the device list is due for a refresh:
// a short while after a change, so a burst of events (a card's partitions, a
// phone switching modes) gives one refresh. While the program is busy the
// refresh waits and is said as soon as it is not.
class DeviceWatcher : public QObject
{
    Q_OBJECT
public:
    explicit DeviceWatcher(QObject *parent = nullptr);

    // The watcher owns the source from here on.
    void AddSource(DeviceEventSource *source);
    // USB devices and the mount table of this system. Returns what cannot be
    // watched, one line each.
    QStringList WatchSystem();

    // True while a refresh must wait (a copy run, a listing, a dialog).
    void SetBusyCheck(std::function<bool()> busy) { busy_ = std::move(busy); }
    // How long after a change the refresh is said (the last events of a
    // burst, and a device's nodes, get that long to settle).
    void SetSettleTime(int ms) { settle_.setInterval(ms); }
    bool RefreshPending() const { return settle_.isActive() || waiting_.isActive(); }

    static constexpr int kSettleMs = 600;
    static constexpr int kBusyRetryMs = 250;

signals:
    void RefreshDue();
    // A refresh became due while the program was busy: it waits.
    void Postponed();

private:
    void Noticed();
    void Due();

    QTimer settle_;
    QTimer waiting_;
    std::function<bool()> busy_;
};
