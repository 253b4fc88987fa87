// The program from the command line, without a display: the real binary on a
// folder device, its output, exit codes, files on disk and log file.

#include "common/IniTestFiles.h"
#include "common/TestMain.h"

#include "app/ProgramArguments.h"
#include "app/ProgramFolders.h"
#include "copy/DeviceLock.h"
#include "device/FolderBackend.h"

#include <QProcess>
#include <QScopeGuard>

#include <csignal>

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
    // The program as a shell would start it: no display, the card offered.
    QProcess *Start(QProcess &program, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("FERROVANE_FOLDER_DEVICES"), card_);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(FERROVANE_EXE), arguments);
        return &program;
    }
    Result Run(const QStringList &arguments)
    {
        QProcess program;
        Start(program, arguments);
        Result result;
        if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit)
            return result;
        result.code = program.exitCode();
        result.out = QString::fromUtf8(program.readAllStandardOutput());
        result.err = QString::fromUtf8(program.readAllStandardError());
        return result;
    }
    void Settings(const QByteArray &extra = QByteArray())
    {
        WriteIni("[Ferrovane]\nDeviceCount=2\n[Devices]\nItem0=Folder card\nItem1=Folder gone\n"
                 "[Folder card]\nDeviceName=Folder card\nDeviceSerialNo=" +
                 serial_.toUtf8() + "\nFileFiltersCheckBox=0\nDateFormat=yyyy-mm-dd\nDestPath=" + dest_.toUtf8() +
                 "\n" + extra +
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
        return files;
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
        // The card as --list shows it.
        const Result list = Run({QStringLiteral("--list")});
        QCOMPARE(list.code, 0);
        const QStringList fields = list.out.trimmed().split(QLatin1Char('\t'));
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
        QTest::newRow("a name not in the device list")
            << QStringList{"--copy", "Folder none"} << "" << 2 << ""
            << "ferrovane: the device list holds no device \"Folder none\"." << 0;
        QTest::newRow("unknown option") << QStringList{"--list", "--all"} << "" << 2 << ""
                                        << "ferrovane: Unknown option 'all'." << 0;
        QTest::newRow("two jobs") << QStringList{"--list", "--copy", "Folder card"} << "" << 2 << ""
                                  << "ferrovane: --list and --copy cannot be given together." << 0;
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
        const Result result = Run(arguments);
        out.replace(QStringLiteral("<refusal>"), window.RefusalText(QStringLiteral("Folder card")));
        err.replace(QStringLiteral("<refusal>"), window.RefusalText(QStringLiteral("Folder card")));
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
        // A run leaves its log file, as the window does; a usage error none.
        const bool ran = arguments.first().startsWith(QLatin1String("--copy")) && code != 2;
        QCOMPARE(LogFiles().size(), ran ? 1 : 0);
        if (ran) {
            QFile log(UserDataFolder + LogFiles().first());
            QVERIFY(log.open(QIODevice::ReadOnly));
            QVERIFY(
                log.readAll().contains("Copy from the command line: \"" + arguments.last().section('=', -1).toUtf8()));
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

    // Which command lines need no window (and so no display), and what they ask.
    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("noWindow");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("device");
        using Mode = ProgramArguments::Mode;
        QTest::newRow("none") << QStringList{"ferrovane"} << false << int(Mode::Window) << "";
        QTest::newRow("a card") << QStringList{"ferrovane", "/media/u/CARD"} << false << int(Mode::Window) << "";
        QTest::newRow("after --") << QStringList{"ferrovane", "--", "--list"} << false << int(Mode::Window) << "";
        QTest::newRow("--list") << QStringList{"ferrovane", "--list"} << true << int(Mode::List) << "";
        QTest::newRow("-h after a card") << QStringList{"ferrovane", "x", "-h"} << true << int(Mode::Help) << "";
        QTest::newRow("--copy=") << QStringList{"ferrovane", "--copy=A B"} << true << int(Mode::Copy) << "A B";
        QTest::newRow("--copy NAME") << QStringList{"ferrovane", "--copy", "-x"} << true << int(Mode::Copy) << "-x";
    }
    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, noWindow);
        QFETCH(int, mode);
        QFETCH(QString, device);
        QCOMPARE(WantsNoWindow(arguments), noWindow);
        const ProgramArguments parsed = ParseProgramArguments(arguments, QStringLiteral("/home/ann"));
        QCOMPARE(int(parsed.mode), mode);
        QCOMPARE(parsed.deviceName, device);
    }
};

FERROVANE_TEST_MAIN(TestConsoleRun)
#include "tst_consolerun.moc"
