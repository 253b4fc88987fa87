#include "DeviceWatcher.h"

#include "device/SystemDeviceService.h"

#include <QFile>
#include <QSocketNotifier>

#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

// --- USB devices through udev ------------------------------------------------------

struct UsbEventSource::Monitor
{
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
    ~Monitor()
    {
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }
};

std::unique_ptr<UsbEventSource> UsbEventSource::Create(QString *why)
{
    auto monitor = std::make_unique<Monitor>();
    auto fail = [why](const char *step, int code) {
        if (why)
            *why =
                QStringLiteral("%1 failed (%2)").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(code)));
        return nullptr;
    };
    monitor->context = udev_new();
    if (!monitor->context)
        return fail("udev_new", errno);
    // "udev" rather than "kernel": announced once udev has made the device
    // node and given it its permissions, so the device can be opened.
    monitor->monitor = udev_monitor_new_from_netlink(monitor->context, "udev");
    if (!monitor->monitor)
        return fail("udev_monitor_new_from_netlink", errno);
    // The device alone, not each of its interfaces.
    if (int r = udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, "usb", "usb_device"); r < 0)
        return fail("udev_monitor_filter_add_match_subsystem_devtype", -r);
    if (int r = udev_monitor_enable_receiving(monitor->monitor); r < 0)
        return fail("udev_monitor_enable_receiving", -r);
    return std::unique_ptr<UsbEventSource>(new UsbEventSource(std::move(monitor)));
}

UsbEventSource::UsbEventSource(std::unique_ptr<Monitor> monitor) : monitor_(std::move(monitor))
{
    notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_->monitor), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UsbEventSource::Receive);
}

UsbEventSource::~UsbEventSource() = default;

void UsbEventSource::Receive()
{
    // The monitor's socket does not block: take everything that is there.
    bool changed = false;
    while (udev_device *device = udev_monitor_receive_device(monitor_->monitor)) {
        const char *action = udev_device_get_action(device);
        if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0))
            changed = true;
        udev_device_unref(device);
    }
    if (changed)
        emit Changed();
}

// --- the mount table -----------------------------------------------------------------

MountEventSource::MountEventSource(const QString &path)
{
    fd_ = ::open(QFile::encodeName(path.isEmpty() ? MountTablePath() : path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    mounts_ = Mounts(ReadTable());
    // The kernel reports a change of the mount table as an exceptional
    // condition (POLLPRI) on any open copy of it.
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MountEventSource::Check);
}

MountEventSource::~MountEventSource()
{
    if (notifier_)
        notifier_->setEnabled(false);
    if (fd_ >= 0)
        ::close(fd_);
}

QByteArray MountEventSource::ReadTable()
{
    QByteArray table;
    if (::lseek(fd_, 0, SEEK_SET) < 0)
        return table;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        table.append(buffer, n);
    }
    return table;
}

QList<QByteArray> MountEventSource::Mounts(const QByteArray &table)
{
    // "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw"
    QList<QByteArray> mounts;
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 5)
            mounts << fields[0] + ' ' + fields[4];
    }
    return mounts;
}

void MountEventSource::Check()
{
    if (fd_ < 0)
        return;
    QList<QByteArray> mounts = Mounts(ReadTable());
    if (mounts == mounts_)
        return;
    mounts_ = std::move(mounts);
    emit Changed();
}

// --- the watcher -------------------------------------------------------------------------

DeviceWatcher::DeviceWatcher(QObject *parent) : QObject(parent)
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &DeviceWatcher::Due);
    waiting_.setSingleShot(true);
    waiting_.setInterval(kBusyRetryMs);
    connect(&waiting_, &QTimer::timeout, this, &DeviceWatcher::Due);
}

void DeviceWatcher::AddSource(DeviceEventSource *source)
{
    source->setParent(this);
    connect(source, &DeviceEventSource::Changed, this, &DeviceWatcher::Noticed);
}

QStringList DeviceWatcher::WatchSystem()
{
    QStringList trouble;
    QString why;
    // Without USB devices on offer there is nothing of theirs to watch.
    if (UsbDevicesOffered()) {
        if (std::unique_ptr<UsbEventSource> usb = UsbEventSource::Create(&why))
            AddSource(usb.release());
        else
            trouble << QStringLiteral("USB devices plugged in or out are not noticed: ") + why;
    }
    auto mounts = std::make_unique<MountEventSource>();
    if (mounts->IsOpen())
        AddSource(mounts.release());
    else
        trouble << QStringLiteral("Memory cards inserted or removed are not noticed: %1 cannot be read.")
                       .arg(MountTablePath());
    return trouble;
}

void DeviceWatcher::Noticed()
{
    // A refresh already on its way takes this change along: it scans after it.
    if (!settle_.isActive() && !waiting_.isActive())
        settle_.start();
}

void DeviceWatcher::Due()
{
    if (busy_ && busy_()) {
        if (sender() == &settle_)
            emit Postponed();
        waiting_.start();
        return;
    }
    emit RefreshDue();
}
