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
#include "log/LogFiles.h"
#include "settings/DeviceSettings.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLocale>
#include <QTimer>

#include <cerrno>
#include <clocale>
#include <csignal>

#include <unistd.h>

namespace {

// Writes all of it, whatever the descriptor takes at a time; a closed pipe
// is no reason to stop a copy run.
void WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

void Say(int fd, const QString &text)
{
    WriteAll(fd, text.toUtf8() + '\n');
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

// The device list as the settings file keeps it; a run from the command line
// leaves that file as it is.
class KnownDevices : public DiscoveryHost
{
public:
    explicit KnownDevices(QStringList names) : names_(std::move(names)) {}
    bool IsKnownDevice(const QString &name) override { return names_.contains(name); }
    void AddNewDevice(const QString &, const QString &) override {}
    void ClearCatalogue() override {}

private:
    QStringList names_;
};

class NoLog : public LogSink
{
public:
    void WriteLog(const QString &, LogColor, LogStyle) override {}
    void WriteLogNoDate(const QString &, LogColor, LogStyle) override {}
};

void SaveTheLog(const LogDocument &document)
{
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    if (!SaveLog(document, UserDataFolder, now, &error).isEmpty())
        return;
    Say(STDERR_FILENO, QStringLiteral("ferrovane: could not write the log file in %1: %2").arg(UserDataFolder, error));
    // Kept where it can be written rather than lost.
    const QString rescued = SaveLog(document, IncludeTrailingPathDelimiter(QDir::tempPath()), now, &error);
    if (!rescued.isEmpty())
        Say(STDERR_FILENO, QStringLiteral("ferrovane: the log was saved as %1 instead").arg(rescued));
}

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
    const SettingsStore store(IniFilePath);
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

int CopyDevice(const QString &deviceName, DeviceService &service)
{
    const SettingsStore store(IniFilePath);
    const QStringList known = store.ReadDeviceList();
    if (!known.contains(deviceName)) {
        Say(STDERR_FILENO, QStringLiteral("ferrovane: the device list holds no device \"%1\".").arg(deviceName));
        Say(STDERR_FILENO, known.isEmpty()
                               ? QStringLiteral("The list is empty: choose the device in the window first.")
                               : QStringLiteral("It holds: \"%1\".").arg(known.join(QStringLiteral("\", \""))));
        return 2;
    }
    DebugFlag = store.ReadProgram().Debug;
    const DeviceSettings settings = store.ReadDevice(deviceName);
    OfferAddedFolders(store, known);

    ActivityLog log;
    ConsolePrinter printer(log.Document());
    log.WriteLog(QStringLiteral("Ferrovane - ") + GetVersionText(), LogColor::Blue, LogStyle::Bold);
    log.WriteLog(QStringLiteral("Copy from the command line: \"%1\"").arg(deviceName), LogColor::Black);
    if (const QString trouble = LogFolderTrouble(UserDataFolder); !trouble.isEmpty())
        log.WriteLog(QStringLiteral("This run's log cannot be saved in ") + UserDataFolder + QStringLiteral(": ") +
                         trouble,
                     LogColor::Red, LogStyle::Bold);
    for (const QString &line : FolderDeviceTrouble(qEnvironmentVariable("FERROVANE_FOLDER_DEVICES")) +
                                   FolderDeviceTrouble(FolderBackend::AddedFolders()))
        log.WriteLog(line, LogColor::Red);

    // A signal before the run starts waits for the event loop, and stops the
    // run at its first look at the stop flag.
    int signalled = 0;
    CopyRun *running = nullptr;
    QObject context;
    CatchExitSignals(&context, [&signalled, &running](int signal) {
        if (signalled)
            return;
        signalled = signal;
        if (running)
            running->Stop();
    });

    DeviceConnection connection(service, log);
    DeviceDiscovery discovery(connection, log);
    KnownDevices host(known);
    discovery.ScanPortableDevices(host);
    connection.CurrentDeviceName = deviceName;
    connection.CurrentDeviceSerialNo = settings.DeviceSerialNo;
    connection.CurrentDeviceID = discovery.FindDeviceID(deviceName, settings.DeviceSerialNo);

    int code = 1;
    if (connection.CurrentDeviceID.trimmed().isEmpty()) {
        log.WriteLog(QStringLiteral("Device \"%1\" was not found!").arg(deviceName), LogColor::Red, LogStyle::Bold);
        log.WriteLog(QStringLiteral("The device may need to be unlocked before it can be used."), LogColor::Red,
                     LogStyle::Bold);
    } else {
        CopyRun engine(connection, log, ProgramFolder);
        engine.SetImportRecordPath(ImportRecord::PathIn(UserDataFolder));
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
        if (engine.StartCopying(connection.CurrentDeviceID, deviceName, RunSettingsOf(settings)) ==
            CopyRun::Start::Started) {
            running = &engine;
            loop.exec();
            running = nullptr;
            engine.StopAndWait();
            code = outcome.end == CopyOutcome::End::Finished && outcome.counts.ErrorCount == 0 ? 0 : 1;
        }
    }
    if (signalled)
        code = 128 + signalled;

    DeleteLogFiles(UserDataFolder, store.ReadProgram().MaxLogDays, QDateTime::currentDateTime());
    printer.Print();
    SaveTheLog(log.Document());
    return code;
}

int RunWithoutWindow(int &argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Ferrovane"));
    // Number parsing must never depend on the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Output that nobody reads any more is no reason to end a copy run.
    std::signal(SIGPIPE, SIG_IGN);

    const ProgramArguments arguments = ParseProgramArguments(QCoreApplication::arguments(), QDir::currentPath());
    switch (arguments.mode) {
    case ProgramArguments::Mode::Help: WriteAll(STDOUT_FILENO, UsageText().toUtf8()); return 0;
    case ProgramArguments::Mode::Version:
        Say(STDOUT_FILENO, QStringLiteral("Ferrovane - ") + GetVersionText());
        return 0;
    case ProgramArguments::Mode::List:
    case ProgramArguments::Mode::Copy:
        if (!arguments.error.isEmpty())
            break;
        {
            SetProgramFolders();
            InitFormatSettingsFromSystem();
            const std::unique_ptr<DeviceService> devices = CreateSystemDeviceService();
            return arguments.mode == ProgramArguments::Mode::List ? ListDevices(*devices)
                                                                  : CopyDevice(arguments.deviceName, *devices);
        }
    case ProgramArguments::Mode::Window: break;
    }
    Say(STDERR_FILENO, QStringLiteral("ferrovane: ") + arguments.error);
    Say(STDERR_FILENO, QStringLiteral("Try \"ferrovane --help\"."));
    return 2;
}
