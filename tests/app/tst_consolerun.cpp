// The program from the command line, without a display: the real binary on a
// folder device (beside a card it must not look at), its output, exit codes,
// files on disk, log file and device lock.

#include "common/IniTestFiles.h"
#include "common/TestMain.h"

#include "app/ProgramArguments.h"
#include "app/ProgramFolders.h"
#include "copy/DeviceLock.h"
#include "device/FolderBackend.h"
#include "settings/DeviceSettings.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>
#include <functional>

class TestConsoleRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work_;
    QString card_, dest_, serial_;

    struct Result
    {
        int code = -1;
        QString out, err;
    };
    using Adjust = std::function<void(QProcessEnvironment &)>;
    // The program as a shell would start it: no display, the card offered.
    QProcess *Start(QProcess &program, const QStringList &arguments, const Adjust &adjust = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("FERROVANE_FOLDER_DEVICES"), card_);
        if (adjust)
            adjust(env);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(FERROVANE_EXE), arguments);
        return &program;
    }
    Result Run(const QStringList &arguments, const Adjust &adjust = {})
    {
        QProcess program;
        return Wait(*Start(program, arguments, adjust));
    }
    static Result Wait(QProcess &program)
    {
        Result result;
        if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit)
            return result;
        result.code = program.exitCode();
        result.out = QString::fromUtf8(program.readAllStandardOutput());
        result.err = QString::fromUtf8(program.readAllStandardError());
        return result;
    }
    void Settings(const QByteArray &extra = QByteArray(), const QByteArray &destPath = QByteArray())
    {
        WriteIni("[Ferrovane]\nDeviceCount=2\n[Devices]\nItem0=Folder card\nItem1=Folder gone\n"
                 "[Folder card]\nDeviceName=Folder card\nDeviceSerialNo=" +
                 serial_.toUtf8() + "\nFileFiltersCheckBox=0\nDateFormat=yyyy-mm-dd\nDestPath=" +
                 (destPath.isNull() ? dest_.toUtf8() : destPath) + "\n" + extra +
                 "[Folder gone]\nDeviceName=Folder gone\nDeviceSerialNo=/nowhere\nDestPath=" + dest_.toUtf8() + "\n");
    }
    static QStringList LogFiles()
    {
        return QDir(UserDataFolder).entryList({QStringLiteral("Ferrovane Log *.rtf")}, QDir::Files);
    }
    QStringList Copied() const
    {
        QStringList files;
        QDirIterator it(dest_, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(dest_).relativeFilePath(it.next());
        files.sort();
        // The run's hash list history is not a copied file.
        return files.filter(QRegularExpression(QStringLiteral("^(?!ascmhl/)")));
    }

private slots:
    void initTestCase()
    {
        SetProgramFolders();
        card_ = QFileInfo(work_.path()).canonicalFilePath() + QStringLiteral("/card");
        dest_ = work_.path() + QStringLiteral("/dest");
        QVERIFY(QDir().mkpath(card_ + QStringLiteral("/DCIM/100TEST")));
        for (int i = 1; i <= 2; ++i) {
            QFile f(card_ + QStringLiteral("/DCIM/100TEST/IMG_%1.JPG").arg(i));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(1000 * i, char('a' + i)));
            f.flush();
            QVERIFY(
                f.setFileTime(QDateTime(QDate(2016, 8, 10 + i), QTime(10, 22, 33)), QFileDevice::FileModificationTime));
        }
        // Another card in the mount table, which a copy of this one never names.
        const QString other = work_.path() + QStringLiteral("/other");
        QVERIFY(QDir().mkpath(other + QStringLiteral("/DCIM")));
        QFile table(qEnvironmentVariable("FERROVANE_MOUNTINFO"));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write("40 1 0:50 / " + QFile::encodeName(other) + " rw - fuse.x none rw\n");
        table.close();
        // The cards as --list shows them.
        const Result list = Run({QStringLiteral("--list")});
        QCOMPARE(list.code, 0);
        const QStringList lines = list.out.trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.first().startsWith(QStringLiteral("Memory Card other\tcard\t")));
        const QStringList fields = lines.last().split(QLatin1Char('\t'));
        QCOMPARE(fields.mid(0, 2), (QStringList{"Folder card", "card"}));
        serial_ = fields.value(2);
        QVERIFY(!serial_.isEmpty());
    }
    void init()
    {
        QDir(dest_).removeRecursively();
        QVERIFY(QDir().mkpath(dest_));
        QDir(UserDataFolder).removeRecursively();
        QVERIFY(QDir().mkpath(UserDataFolder));
        Settings();
    }

    // What a run without a window says and how it ends, by exit code.
    void run_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");  // a line of standard output
        QTest::addColumn<QString>("err");  // a line of standard error
        QTest::addColumn<int>("copied");
        const QString version = QStringLiteral("Ferrovane - Version 1.2 Release 0 Build 1");
        QTest::newRow("help") << QStringList{"--help"} << "" << 0
                              << "  ferrovane --list           Print the attached "
                                 "devices, one a line: the name, the"
                              << "" << 0;
        QTest::newRow("version, other options ignored")
            << QStringList{"--list", "--version"} << "" << 0 << version << "" << 0;
        QTest::newRow("copy") << QStringList{"--copy", "Folder card"} << "" << 0 << "0 Errors encountered."
                              << "" << 2;
        QTest::newRow("copy=") << QStringList{"--copy=Folder card"} << "" << 0 << "Copy Started"
                               << "" << 2;
        QTest::newRow("a date folder that cannot be made")
            << QStringList{"--copy", "Folder card"} << "blocked" << 1 << "1 Errors encountered."
            << "1 Errors encountered." << 2;
        QTest::newRow("device not attached")
            << QStringList{"--copy", "Folder gone"} << "" << 1 << "Device \"Folder gone\" was not found!"
            << "Device \"Folder gone\" was not found!" << 0;
        QTest::newRow("another copier holds the device")
            << QStringList{"--copy", "Folder card"} << "locked" << 1 << "<refusal>"
            << "<refusal>" << 0;
        const QString noDestination =
            QStringLiteral("ferrovane: the settings file names no destination for \"Folder card\": give one with "
                           "--dest PATH.");
        QTest::newRow("a device never saved, --dest")
            << QStringList{"--copy", "Folder card", "--dest", "<dest>"} << "unsaved" << 0 << "0 Errors encountered."
            << "" << 2;
        QTest::newRow("a device never saved, no destination")
            << QStringList{"--copy", "Folder card"} << "unsaved" << 2 << "" << noDestination << 0;
        QTest::newRow("a Latin-1 destination, said as the window says it")
            << QStringList{"--copy", "Folder card"} << "latin1" << 2 << ""
            << "<ignored>" << 0;
        QTest::newRow("a Latin-1 destination, --dest")
            << QStringList{"--copy", "Folder card", "--dest=<dest>"} << "latin1" << 0 << "<ignored>"
            << "<ignored>" << 2;
        QTest::newRow("a name not attached") << QStringList{"--copy", "Folder none", "--dest", "<dest>"} << "" << 1
                                             << "Device \"Folder none\" was not found!"
                                             << "Device \"Folder none\" was not found!" << 0;
        QTest::newRow("unknown option") << QStringList{"--list", "--all"} << "" << 2 << ""
                                        << "ferrovane: Unknown option 'all'." << 0;
        QTest::newRow("unknown option alone, before any display") << QStringList{"--bogus"} << "" << 2 << ""
                                                                  << "ferrovane: Unknown option 'bogus'." << 0;
        QTest::newRow("two jobs") << QStringList{"--list", "--copy", "Folder card"} << "" << 2 << ""
                                  << "ferrovane: Only one of --list, --copy and --add-folder can be given." << 0;
        QTest::newRow("--dest without --copy") << QStringList{"--list", "--dest", "/x"} << "" << 2 << ""
                                               << "ferrovane: --dest goes with --copy." << 0;
        QTest::newRow("no name") << QStringList{"--copy"} << "" << 2 << ""
                                 << "ferrovane: Missing value after '--copy'." << 0;
        QTest::newRow("a card beside --list") << QStringList{"--list", "/media/card"} << "" << 2 << ""
                                              << "ferrovane: Unexpected argument '/media/card'." << 0;
    }
    void run()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setup);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(int, copied);
        DeviceLock window(FolderBackend::DeviceIdFor(card_));
        if (setup == QLatin1String("blocked")) {
            // A file where the second picture's date folder would go.
            QFile blocker(dest_ + QStringLiteral("/2016-08-12"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        if (setup == QLatin1String("locked"))
            QVERIFY(window.TryLock());
        if (setup == QLatin1String("unsaved"))
            WriteIni("[Ferrovane]\nDeviceCount=0\n");
        if (setup == QLatin1String("latin1"))
            Settings(QByteArray(), "/media/caf\xe9");
        const QString ignored = IniFile(IniFilePath).IgnoredLinesText();
        QCOMPARE(ignored.isEmpty(), setup != QLatin1String("latin1"));
        arguments.replaceInStrings(QStringLiteral("<dest>"), dest_);
        const Result result = Run(arguments);
        for (QString *expected : {&out, &err}) {
            expected->replace(QStringLiteral("<refusal>"), window.RefusalText(QStringLiteral("Folder card")));
            expected->replace(QStringLiteral("<ignored>"), ignored);
        }
        QVERIFY2(result.code == code, qPrintable(result.out + result.err));
        auto hasLine = [](const QString &text, const QString &line) {
            for (const QString &l : text.split(QLatin1Char('\n')))
                if (l == line || l.endsWith(QLatin1Char(' ') + line))
                    return true;
            return false;
        };
        if (!out.isEmpty())
            QVERIFY2(hasLine(result.out, out), qPrintable(result.out));
        if (!err.isEmpty())
            QVERIFY2(hasLine(result.err, err), qPrintable(result.err));
        QCOMPARE(Copied().size(), copied);
        // Only the named device is looked up.
        QVERIFY(!result.out.contains(QStringLiteral("Memory Card other")));
        // A run leaves its log file, as the window does; a usage error none.
        const bool ran = arguments.first().startsWith(QLatin1String("--copy")) && code != 2;
        QCOMPARE(LogFiles().size(), ran ? 1 : 0);
        if (ran) {
            QFile log(UserDataFolder + LogFiles().first());
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QString name =
                arguments.first() == QLatin1String("--copy") ? arguments[1] : arguments.first().section('=', 1);
            QVERIFY(log.readAll().contains("Copy from the command line: \"" + name.toUtf8()));
        }
    }

    // A destination on the card itself would list the copies as the card's
    // files, find each present as itself and delete it: refused before
    // anything is listed, with Delete files on, and the card keeps its photos.
    void destinationOnTheCard_data()
    {
        QTest::addColumn<QString>("destination");  // in the work folder, which holds the card
        QTest::newRow("below the card") << "card/Imported";
        QTest::newRow("the card") << "card";
        QTest::newRow("a link to the card") << "link";
        QTest::newRow("a link below the card") << "link/DCIM";
        QTest::newRow("holding the card") << ".";
    }
    void destinationOnTheCard()
    {
        QFETCH(QString, destination);
        const QString root = QFileInfo(work_.path()).canonicalFilePath();
        QFile::remove(root + QStringLiteral("/link"));
        QVERIFY(QFile::link(card_, root + QStringLiteral("/link")));
        const QString dest = root + QLatin1Char('/') + destination;
        QVERIFY(QDir().mkpath(dest));
        WriteIni("[Ferrovane]\nDeviceCount=1\n[Devices]\nItem0=Folder card\n[Folder card]\nDeviceName=Folder card\n"
                 "DeviceSerialNo=" +
                 serial_.toUtf8() + "\nFileFiltersCheckBox=0\nDeleteFiles=1\nCopyMode=" +
                 (destination == QLatin1String("link/DCIM") ? "1" : "0") + "\nDestPath=" + dest.toUtf8() + "\n");
        const Result result = Run({QStringLiteral("--copy"), QStringLiteral("Folder card")});
        QCOMPARE(result.code, 1);
        QVERIFY2(result.err.contains(QStringLiteral("ERROR: The Destination Path \"") + dest) &&
                     result.err.contains(card_),
                 qPrintable(result.err));
        QVERIFY(!result.out.contains(QStringLiteral("Deleted file")));
        QCOMPARE(QDir(card_ + QStringLiteral("/DCIM/100TEST")).entryList(QDir::Files),
                 (QStringList{"IMG_1.JPG", "IMG_2.JPG"}));
        QDir(root + QStringLiteral("/card/Imported")).removeRecursively();
    }

    // Ctrl+C stops the run as Stop does: here while the post-processing
    // command runs, which is then no longer waited for. The command runs
    // until the test lets it end, so the run cannot have waited for it.
    void interrupted()
    {
        const QString gate = work_.path() + QStringLiteral("/go");
        QFile::remove(gate);
        auto open = qScopeGuard([&] { QFile(gate).open(QIODevice::WriteOnly); });
        Settings("PostProcessingCommandCheckBox=1\nPostProcessingCommandLabeledEdit=until [ -e '" + gate.toUtf8() +
                 "' ]; do sleep 0.01; done\n");
        QProcess program;
        Start(program, {QStringLiteral("--copy"), QStringLiteral("Folder card")});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += program.readAllStandardOutput()).contains("CmdDir = "), 30000);
        QCOMPARE(::kill(pid_t(program.processId()), SIGINT), 0);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 130);
        out += program.readAllStandardOutput();
        QVERIFY(out.contains("Stop Signalled."));
        QVERIFY(out.contains("Stopped waiting for the command; it goes on running."));
        QVERIFY(!out.contains("Errors encountered."));
        QCOMPARE(Copied().size(), 2);
        QCOMPARE(LogFiles().size(), 1);
    }

    // What a command line asks, read before any display is opened: the
    // toolkit's own options are left to it.
    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("path");  // the location, destination or folder
        using Mode = ProgramArguments::Mode;
        QTest::newRow("none") << QStringList{"ferrovane"} << int(Mode::Window) << ""
                              << "";
        QTest::newRow("a card") << QStringList{"ferrovane", "CARD"} << int(Mode::Window) << ""
                                << "/home/ann/CARD";
        QTest::newRow("after --") << QStringList{"ferrovane", "--", "--list"} << int(Mode::Window) << ""
                                  << "/home/ann/--list";
        QTest::newRow("toolkit options") << QStringList{"ferrovane", "-platform", "xcb", "--style=fusion",
                                                        "-reverse",  "-display",  ":1",  "/media/u/CARD"}
                                         << int(Mode::Window) << ""
                                         << "/media/u/CARD";
        QTest::newRow("--list") << QStringList{"ferrovane", "--list"} << int(Mode::List) << ""
                                << "";
        QTest::newRow("-h after a card") << QStringList{"ferrovane", "x", "-h"} << int(Mode::Help) << ""
                                         << "";
        QTest::newRow("--copy=") << QStringList{"ferrovane", "--copy=A B"} << int(Mode::Copy) << "A B"
                                 << "";
        QTest::newRow("--copy a name like an option")
            << QStringList{"ferrovane", "--copy", "-title"} << int(Mode::Copy) << "-title"
            << "";
        QTest::newRow("--dest") << QStringList{"ferrovane", "--dest", "../x/", "--copy", "A"} << int(Mode::Copy) << "A"
                                << "/home/x";
        QTest::newRow("--add-folder") << QStringList{"ferrovane", "--add-folder=pics"} << int(Mode::AddFolder) << ""
                                      << "/home/ann/pics";
    }
    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, mode);
        QFETCH(QString, device);
        QFETCH(QString, path);
        const ProgramArguments parsed =
            ParseProgramArguments(WithoutToolkitOptions(arguments), QStringLiteral("/home/ann"));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(int(parsed.mode), mode);
        QCOMPARE(parsed.deviceName, device);
        QCOMPARE(parsed.location + parsed.destination + parsed.folder, path);
    }

    // Output that standard output does not take fails the program, which says
    // so; a copy run still copies, and its log file names the failure.
    void outputError_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("copied");
        QTest::newRow("--help") << QStringList{"--help"} << 0;
        QTest::newRow("--version") << QStringList{"--version"} << 0;
        QTest::newRow("--list") << QStringList{"--list"} << 0;
        QTest::newRow("--copy") << QStringList{"--copy", "Folder card"} << 2;
        QTest::newRow("--add-folder") << QStringList{"--add-folder", "<card>"} << 0;
    }
    void outputError()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, copied);
        arguments.replaceInStrings(QStringLiteral("<card>"), card_);
        QProcess program;
        program.setStandardOutputFile(QStringLiteral("/dev/full"));
        const Result result = Wait(*Start(program, arguments));
        QCOMPARE(result.code, 1);
        QVERIFY2(result.err.contains(QStringLiteral("ferrovane: standard output could not be written: ")),
                 qPrintable(result.err));
        QCOMPARE(Copied().size(), copied);
        if (copied) {
            QFile log(UserDataFolder + LogFiles().value(0));
            QVERIFY(log.open(QIODevice::ReadOnly));
            QVERIFY(log.readAll().contains("Standard output could not be written: "));
        }
    }

    // One device is copied by one Ferrovane whatever the environment of
    // each: a run started by cron (no XDG_RUNTIME_DIR) or with other
    // temporary folders meets the lock of one started from the desktop.
    void lockWhateverTheEnvironment_data()
    {
        QTest::addColumn<QStringList>("unset");
        QTest::addColumn<QString>("elsewhere");  // XDG_RUNTIME_DIR and TMPDIR of the second run
        QTest::newRow("as cron runs it") << QStringList{"XDG_RUNTIME_DIR"} << "";
        QTest::newRow("other runtime and temporary folders") << QStringList{} << "elsewhere";
    }
    void lockWhateverTheEnvironment()
    {
        QFETCH(QStringList, unset);
        QFETCH(QString, elsewhere);
        // The lock folder every Ferrovane uses, not the test programs' own.
        const auto asUsed = [](QProcessEnvironment &env) { env.remove(QStringLiteral("FERROVANE_LOCK_FOLDER")); };
        Settings("PostProcessingCommandCheckBox=1\nPostProcessingCommandLabeledEdit=sleep 20\n");
        QProcess first;
        Start(first, {QStringLiteral("--copy"), QStringLiteral("Folder card")}, asUsed);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += first.readAllStandardOutput()).contains("CmdDir = "), 30000);
        const QString folder = work_.path() + QLatin1Char('/') + elsewhere;
        QVERIFY(QDir().mkpath(folder));
        const Result second =
            Run({QStringLiteral("--copy"), QStringLiteral("Folder card")}, [&](QProcessEnvironment &env) {
                asUsed(env);
                for (const QString &name : unset)
                    env.remove(name);
                if (!elsewhere.isEmpty())
                    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR"})
                        env.insert(QString::fromLatin1(name), folder);
            });
        const qint64 holder = first.processId();
        QCOMPARE(::kill(pid_t(holder), SIGINT), 0);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(second.code, 1);
        QVERIFY2(
            second.err.contains(
                QStringLiteral("Device \"Folder card\" is being copied by another Ferrovane (process %1)").arg(holder)),
            qPrintable(second.err));
    }

    // --add-folder remembers a folder as Add Folder does, for --copy and the
    // window; a name that is another device's stays that device's.
    void addFolder()
    {
        const QString root = QFileInfo(work_.path()).canonicalFilePath();
        const QString pics = root + QStringLiteral("/pics");
        QVERIFY(QDir().mkpath(pics));
        QFile photo(pics + QStringLiteral("/IMG_9.JPG"));
        QVERIFY(photo.open(QIODevice::WriteOnly));
        photo.close();
        for (int again = 0; again < 2; ++again) {
            const Result added = Run({QStringLiteral("--add-folder"), pics});
            QCOMPARE(added.code, 0);
            QCOMPARE(added.out, QStringLiteral("Folder pics\n"));
            QCOMPARE(ReadDeviceList(IniFile(IniFilePath)), (QStringList{"Folder card", "Folder gone", "Folder pics"}));
            QCOMPARE(Ini(QStringLiteral("Folder pics"), QStringLiteral("FolderPath")), pics);
            QCOMPARE(Ini(QStringLiteral("Folder pics"), QStringLiteral("DeviceSerialNo")), pics);
        }
        const Result copied =
            Run({QStringLiteral("--copy"), QStringLiteral("Folder pics"), QStringLiteral("--dest"), dest_});
        QCOMPARE(copied.code, 0);
        QCOMPARE(Copied().size(), 1);

        QVERIFY(QDir().mkpath(root + QStringLiteral("/other/pics")));
        const Result taken = Run({QStringLiteral("--add-folder"), root + QStringLiteral("/other/pics")});
        QCOMPARE(taken.code, 1);
        QVERIFY2(taken.err.contains(QStringLiteral("its name \"Folder pics\" already belongs to another device")),
                 qPrintable(taken.err));
        QCOMPARE(Ini(QStringLiteral("Folder pics"), QStringLiteral("FolderPath")), pics);
        QDir(pics).removeRecursively();
    }
};

FERROVANE_TEST_MAIN(TestConsoleRun)
#include "tst_consolerun.moc"
