#include "ConsoleRun.h"

#include "app/ExitSignals.h"
#include "app/ProgramArguments.h"
#include "app/ProgramFolders.h"
#include "app/Version.h"
#include "base/FormatSettings.h"
#include "copy/CopyRun.h"
#include "copy/ImportRecord.h"
#include "device/DeviceConnection.h"
#include "device/DeviceDiscovery.h"
#include "device/FolderBackend.h"
#include "device/SystemDeviceService.h"
#include "log/ActivityLog.h"
#include "log/Exception.h"
#include "log/LogFiles.h"
#include "session/ImportSession.h"
#include "settings/DeviceSettings.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>

#include <cerrno>
#include <clocale>
#include <csignal>

#include <unistd.h>

namespace {

// The first error writing standard output (0 while there is none): later
// output no longer goes there, and the program's end says it and fails.
int outputError = 0;

// Writes all of it, whatever the descriptor takes at a time; a closed pipe
// or a full disk is no reason to stop a copy run.
void WriteAll(int fd, const QByteArray &bytes)
{
    if (fd == STDOUT_FILENO && outputError)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (fd == STDOUT_FILENO)
                outputError = n < 0 ? errno : EIO;
            return;
        }
        done += n;
    }
}

void Say(int fd, const QString &text)
{
    WriteAll(fd, text.toUtf8() + '\n');
}

// The exit code once the output is known to have gone out: what standard
// output did not take is an error of its own.
int Finished(int code)
{
    if (!outputError)
        return code;
    Say(STDERR_FILENO,
        QStringLiteral("ferrovane: standard output could not be written: %1").arg(qt_error_string(outputError)));
    return code == 0 ? 1 : code;
}

// The log's lines as plain text on standard output, as they are written, in
// batches; the red ones on standard error as well when the output goes
// elsewhere than a terminal (a file, a pipe, a mail from cron).
class ConsolePrinter
{
public:
    explicit ConsolePrinter(const LogDocument &document)
        : document_(document), redToErrors_(::isatty(STDOUT_FILENO) == 0)
    {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Print(); });
        timer_.start();
    }
    ~ConsolePrinter() { Print(); }

    void Print()
    {
        const qsizetype count = document_.LineCount();
        if (count == printed_)
            return;
        QByteArray out, errors;
        for (const LogLine &line : document_.Lines(printed_, count - printed_)) {
            const QByteArray text = (line.prefix + line.text).toUtf8() + '\n';
            out += text;
            if (redToErrors_ && line.color == LogColor::Red)
                errors += text;
        }
        printed_ = count;
        WriteAll(STDOUT_FILENO, out);
        WriteAll(STDERR_FILENO, errors);
    }

private:
    const LogDocument &document_;
    const bool redToErrors_;
    qsizetype printed_ = 0;
    QTimer timer_;
};

class NoLog : public LogSink
{
public:
    void WriteLog(const QString &, LogColor, LogStyle) override {}
    void WriteLogNoDate(const QString &, LogColor, LogStyle) override {}
};

}  // namespace

QString DeviceKindName(const QString &deviceId, std::uint32_t deviceType)
{
    if (deviceId.startsWith(FolderBackend::DeviceIdFor(QString())))
        return deviceType == WPD_DEVICE_TYPE_CAMERA ? QStringLiteral("card") : QStringLiteral("folder");
    switch (deviceType) {
    case WPD_DEVICE_TYPE_CAMERA: return QStringLiteral("camera");
    case WPD_DEVICE_TYPE_MEDIA_PLAYER: return QStringLiteral("media player");
    case WPD_DEVICE_TYPE_PHONE: return QStringLiteral("phone");
    case WPD_DEVICE_TYPE_VIDEO: return QStringLiteral("video camera");
    case WPD_DEVICE_TYPE_PERSONAL_INFORMATION_MANAGER: return QStringLiteral("organiser");
    case WPD_DEVICE_TYPE_AUDIO_RECORDER: return QStringLiteral("sound recorder");
    default: return QStringLiteral("device");
    }
}

namespace {

// The folders added as devices in the window are offered here too.
void OfferAddedFolders(const SettingsStore &store, const QStringList &devices)
{
    QStringList folders;
    for (const QString &name : devices)
        if (const QString folder = store.ReadDevice(name).FolderPath; !folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    FolderBackend::SetAddedFolders(folders);
}

}  // namespace

int ListDevices(DeviceService &service)
{
    SettingsStore store(IniFilePath);
    if (const QString ignored = store.IgnoredLinesNote(); !ignored.isEmpty())
        Say(STDERR_FILENO, ignored);
    OfferAddedFolders(store, store.ReadDeviceList());
    for (const QString &line : FolderDeviceTrouble(qEnvironmentVariable("FERROVANE_FOLDER_DEVICES")) +
                                   FolderDeviceTrouble(FolderBackend::AddedFolders()))
        Say(STDERR_FILENO, line);
    NoLog quiet;
    DeviceConnection connection(service, quiet);
    const std::shared_ptr<IPortableDeviceManager> manager = service.CreateManager();
    QStringList ids;
    if (!manager || FAILED(manager->GetDevices(ids))) {
        Say(STDERR_FILENO, QStringLiteral("ferrovane: the devices cannot be listed."));
        return 1;
    }
    QByteArray out;
    for (const QString &id : std::as_const(ids)) {
        QString manufacturer, description;
        manager->GetDeviceManufacturer(id, manufacturer);
        manager->GetDeviceDescription(id, description);
        // Reading the serial number opens the device, which also gives its type.
        const QString serial = connection.GetDeviceSerialNo(id);
        std::uint32_t type = WPD_DEVICE_TYPE_GENERIC;
        if (const auto &values = connection.Handles().aPortableDeviceValues)
            values->GetUnsignedIntegerValue(WPD_DEVICE_TYPE, type);
        out += (DeviceDisplayName(manufacturer, description) + QLatin1Char('\t') + DeviceKindName(id, type) +
                QLatin1Char('\t') + serial)
                   .toUtf8() +
               '\n';
    }
    WriteAll(STDOUT_FILENO, out);
    if (ids.isEmpty())
        Say(STDERR_FILENO, QStringLiteral("No devices found."));
    return 0;
}

int CopyDevice(const QString &deviceName, const QString &destination, DeviceService &service)
{
    SettingsStore store(IniFilePath);
    const QString ignored = store.IgnoredLinesNote();
    // A device never saved from the window copies with the defaults.
    DeviceSettings settings = store.ReadDevice(deviceName);
    if (!destination.isEmpty())
        settings.DestPath = destination;
    if (settings.DestPath.trimmed().isEmpty()) {
        if (!ignored.isEmpty())
            Say(STDERR_FILENO, ignored);
        Say(STDERR_FILENO, QStringLiteral("ferrovane: the settings file names no destination for \"%1\": give one "
                                          "with --dest PATH.")
                               .arg(deviceName));
        return 2;
    }
    DebugFlag = store.ReadProgram().Debug;
    OfferAddedFolders(store, store.ReadDeviceList());

    ImportSession session(service, store, {ProgramFolder, UserDataFolder, GetVersionText()});
    ActivityLog &log = session.Log();
    ConsolePrinter printer(log.Document());
    session.WriteStartLines();
    log.WriteLog(QStringLiteral("Copy from the command line: \"%1\"").arg(deviceName), LogColor::Black);
    if (!ignored.isEmpty())
        log.WriteLog(ignored, LogColor::Red);

    // A signal before the run starts waits for the event loop, and stops the
    // run at its first look at the stop flag.
    int signalled = 0;
    bool running = false;
    QObject context;
    CatchExitSignals(&context, [&signalled, &running, &session](int signal) {
        if (signalled)
            return;
        signalled = signal;
        if (running)
            session.Stop();
    });

    CopyRun &engine = session.Engine();
    CopyOutcome outcome;
    outcome.end = CopyOutcome::End::Failed;
    QEventLoop loop;
    QObject::connect(&engine, &CopyRun::copyFinished, &loop, [&outcome](const CopyOutcome &o) { outcome = o; });
    QObject::connect(&engine, &CopyRun::workerFinished, &loop, &QEventLoop::quit);
    // What the window shows in message boxes goes into the log.
    QObject::connect(&engine, &CopyRun::commandNotStarted, &loop, [&log](const QString &message) {
        log.WriteLog(QStringLiteral("ExecNewProcess Error: ") + message, LogColor::Red, LogStyle::Bold);
    });
    QObject::connect(&engine, &CopyRun::workerFailed, &loop, [&log](const QString &message) {
        log.WriteLog(QStringLiteral("Application Error: ") + message, LogColor::Red, LogStyle::Bold);
    });
    int code = 1;
    if (session.CopyNamedDevice(deviceName, settings)) {
        running = true;
        loop.exec();
        running = false;
        engine.StopAndWait();
        code = outcome.end == CopyOutcome::End::Finished && outcome.counts.ErrorCount == 0 ? 0 : 1;
    }
    if (signalled)
        code = 128 + signalled;

    printer.Print();
    // The log file keeps what standard output lost.
    if (outputError)
        log.WriteLog(QStringLiteral("Standard output could not be written: ") + qt_error_string(outputError),
                     LogColor::Red, LogStyle::Bold);
    session.End(QString(), false, store.ReadProgram().MaxLogDays);
    return code;
}

int AddFolderDevice(const QString &folder, DeviceService &service)
{
    SettingsStore store(IniFilePath);
    if (const QString ignored = store.IgnoredLinesNote(); !ignored.isEmpty())
        Say(STDERR_FILENO, ignored);
    const QStringList trouble = FolderDeviceTrouble(QStringList{folder});
    for (const QString &line : trouble)
        Say(STDERR_FILENO, line);
    const QString path = QFileInfo(folder).canonicalFilePath();
    if (!trouble.isEmpty() || path.isEmpty())
        return 1;
    // Named and identified as a scan of it does.
    const DeviceEntry entry = FolderBackend::EntryFor(path);
    const QString name = DeviceDisplayName(entry.manufacturer, entry.description);
    NoLog quiet;
    DeviceConnection connection(service, quiet);
    const QString serial = connection.GetDeviceSerialNo(FolderBackend::DeviceIdFor(path));
    if (name.isEmpty() || serial.isEmpty()) {
        Say(STDERR_FILENO, QStringLiteral("Folder \"%1\" could not be added as a device.").arg(path));
        return 1;
    }
    try {
        if (const QString refused = store.RememberFolderDevice(name, serial, path, FolderBackend::IsMountedCard(path),
                                                               store.ReadDeviceList(), quiet);
            !refused.isEmpty()) {
            Say(STDERR_FILENO, refused);
            return 1;
        }
    } catch (const Exception &e) {
        Say(STDERR_FILENO, QStringLiteral("ferrovane: ") + e.Message());
        return 1;
    }
    Say(STDOUT_FILENO, name);
    return 0;
}

int RunWithoutWindow(int &argc, char **argv, const ProgramArguments &arguments)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Ferrovane"));
    // Number parsing must never depend on the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Output that nobody reads any more is no reason to end a copy run.
    std::signal(SIGPIPE, SIG_IGN);

    using Mode = ProgramArguments::Mode;
    if (!arguments.error.isEmpty() || arguments.mode == Mode::Window) {
        Say(STDERR_FILENO, QStringLiteral("ferrovane: ") + arguments.error);
        Say(STDERR_FILENO, QStringLiteral("Try \"ferrovane --help\"."));
        return 2;
    }
    switch (arguments.mode) {
    case Mode::Help: WriteAll(STDOUT_FILENO, UsageText().toUtf8()); return Finished(0);
    case Mode::Version: Say(STDOUT_FILENO, QStringLiteral("Ferrovane - ") + GetVersionText()); return Finished(0);
    default: break;
    }
    SetProgramFolders();
    InitFormatSettingsFromSystem();
    const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
    switch (arguments.mode) {
    case Mode::List: return Finished(ListDevices(*devices));
    case Mode::Copy: return Finished(CopyDevice(arguments.deviceName, arguments.destination, *devices));
    default: return Finished(AddFolderDevice(arguments.folder, *devices));
    }
}
