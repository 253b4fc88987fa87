#include "common/DeviceBuilders.h"
#include "common/LogLines.h"
#include "common/TestMain.h"

#include "device/fake/FakeDeviceService.h"
#include "session/ImportSession.h"
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

// The import session without a window: what the window and the command line
// both rely on, through the session's own interface.
class TestSession : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    // The session's folders and settings file, its own.
    QTemporaryDir home_;
    QString IniPath() const { return home_.path() + QStringLiteral("/Ferrovane.ini"); }
    QString DataFolder() const { return home_.path() + QStringLiteral("/"); }
    void WriteIni(const QByteArray &bytes)
    {
        QFile f(IniPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QString Ini(const QString &section, const QString &key) const
    {
        return IniFile(IniPath()).ReadString(section, key, QStringLiteral("<none>"));
    }
    std::unique_ptr<SettingsStore> store_;
    std::unique_ptr<ImportSession> session_;
    std::unique_ptr<QTemporaryDir> dest_;
    std::atomic<bool> release_{false};

    // A session over the settings file as written, started as a face starts it.
    void Start(const QByteArray &ini)
    {
        WriteIni(ini);
        store_ = std::make_unique<SettingsStore>(IniPath());
        session_ = std::make_unique<ImportSession>(service_, *store_,
                                                   SessionPlaces{QString(), DataFolder(), QStringLiteral("9")});
        session_->LoadSettings();
        session_->Begin(QString());
        QTRY_VERIFY(!session_->WorkerActive());
    }
    QStringList Log() const { return LogTexts(session_->Log()); }
    QByteArray CanonSection() const
    {
        return "[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS\n[Devices]\nItem0=Canon EOS\n[Canon EOS]\n"
               "DeviceName=Canon EOS\nDeviceSerialNo=S1\nFileFiltersCheckBox=0\nDestPath=" +
               dest_->path().toUtf8() + "\n";
    }

private slots:
    void init()
    {
        dest_ = std::make_unique<QTemporaryDir>();
        release_ = false;
    }
    void cleanup()
    {
        release_ = true;
        session_.reset();
        store_.reset();
        service_.devices.clear();
        service_.onGetValues = nullptr;
    }

    // The start: the device saved last is chosen and listed; a device seen for
    // the first time joins the list and the settings file, and is not chosen.
    void beginListsTheDeviceSavedLast()
    {
        AddCamera(service_, QStringLiteral("usb:canon"), QStringLiteral("Canon"), QStringLiteral("EOS"),
                  QStringLiteral("S1"));
        AddCamera(service_, QStringLiteral("usb:nikon"), QStringLiteral("Nikon"), QStringLiteral("Z6"),
                  QStringLiteral("N1"));
        Start(CanonSection());
        QCOMPARE(session_->DeviceList(), (QStringList{"Canon EOS", "Nikon Z6"}));
        QCOMPARE(session_->ChosenEntry(), QStringLiteral("Canon EOS"));
        QCOMPARE(session_->CurrentDeviceID(), QStringLiteral("usb:canon"));
        QCOMPARE(session_->Current().DestPath, dest_->path());
        QVERIFY(session_->HoldsListing());
        QCOMPARE(Ini("Nikon Z6", "DeviceSerialNo"), QStringLiteral("N1"));
        QVERIFY(Log().contains(QStringLiteral("Settings Loaded.")));

        // Forgotten: out of the list and the file, and no entry chosen.
        session_->ForgetDevice(QStringLiteral("Nikon Z6"));
        QCOMPARE(session_->DeviceList(), QStringList{"Canon EOS"});
        QCOMPARE(Ini("Nikon Z6", "DeviceSerialNo"), QStringLiteral("<none>"));
        QCOMPARE(session_->ChosenEntry(), QString());
    }

    // What a close asks about: the chosen device or its settings differ from
    // the settings file. A device without a destination of its own copies
    // to the desktop's Pictures folder.
    void settingsChangedAgainstTheFile()
    {
        AddCamera(service_, QStringLiteral("usb:canon"), QStringLiteral("Canon"), QStringLiteral("EOS"),
                  QStringLiteral("S1"));
        AddCamera(service_, QStringLiteral("usb:nikon"), QStringLiteral("Nikon"), QStringLiteral("Z6"),
                  QStringLiteral("N1"));
        const QString pictures = QDir::homePath() + QStringLiteral("/Fotos");
        QFile dirs(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                   QStringLiteral("/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_PICTURES_DIR=\"$HOME/Fotos\"\n");
        dirs.close();
        const auto forget = qScopeGuard([&] { dirs.remove(); });
        Start(CanonSection());
        QVERIFY(!session_->SettingsChanged());
        QCOMPARE(ImportSession::DefaultDestination(), pictures);

        session_->ChooseDevice(QStringLiteral("Nikon Z6"));
        QCOMPARE(session_->Current().DestPath, pictures);
        QVERIFY(session_->SettingsChanged());
        QVERIFY(session_->SaveSettings(QString()));
        QVERIFY(!session_->SettingsChanged());
        QCOMPARE(Ini("Nikon Z6", "DestPath"), pictures);
        QCOMPARE(Ini("Ferrovane", "LastDevice"), QStringLiteral("Nikon Z6"));

        const DeviceSettings saved = session_->Current();
        DeviceSettings edited = saved;
        edited.DateFormat = QStringLiteral("yyyy");
        session_->SetCurrent(edited);
        QVERIFY(session_->SettingsChanged());
        // The device root as typed, meaning what is saved.
        edited = saved;
        edited.DeviceRoot = QStringLiteral(" \\ ");
        session_->SetCurrent(edited);
        QVERIFY(!session_->SettingsChanged());
        session_->ChooseDevice(QStringLiteral("Canon EOS"));
        QCOMPARE(session_->Current().DestPath, dest_->path());
        QVERIFY(session_->SettingsChanged());
    }

    // A run goes by the settings it started with: a change made meanwhile is
    // said once and counts from the next run.
    void runKeepsItsSettings()
    {
        AddCamera(service_, QStringLiteral("usb:canon"), QStringLiteral("Canon"), QStringLiteral("EOS"),
                  QStringLiteral("S1"));
        Start(CanonSection());
        std::atomic<bool> held{false};
        service_.onGetValues = [this, &held](const QString &id) {
            if (!id.endsWith(QLatin1String("IMG_S1.JPG")))
                return;
            held = true;
            QDeadlineTimer limit(30000);
            while (!release_ && !limit.hasExpired())
                QThread::msleep(2);
        };
        const QString other = dest_->path() + QStringLiteral("/other");
        QVERIFY(QDir().mkpath(other));
        session_->Copy();
        QTRY_VERIFY(held);
        for (const QString &where : {other, other + QStringLiteral("/again")}) {
            DeviceSettings changed = session_->Current();
            changed.DestPath = where;
            session_->SetCurrent(changed);
        }
        release_ = true;
        QTRY_VERIFY(!session_->WorkerActive());
        const QString note = QStringLiteral("A setting was changed during the run: this run goes on with the settings "
                                            "it started with, and the change counts from the next run.");
        QCOMPARE(Log().count(note), 1);
        QVERIFY(QFile::exists(dest_->path() + QStringLiteral("/2016-08-13/IMG_S1.JPG")));
        QVERIFY(!QFile::exists(other + QStringLiteral("/2016-08-13/IMG_S1.JPG")));
        QCOMPARE(session_->CurrentRunSettings().Destination, other + QStringLiteral("/again"));
    }

    // The end saves the log, or rescues it into the temporary folder when its
    // own folder cannot take it.
    void endSavesOrRescuesTheLog_data()
    {
        QTest::addColumn<bool>("folderUsable");
        QTest::newRow("its own folder") << true;
        QTest::newRow("rescued") << false;
    }
    void endSavesOrRescuesTheLog()
    {
        QFETCH(bool, folderUsable);
        WriteIni("");
        store_ = std::make_unique<SettingsStore>(IniPath());
        const QTemporaryDir temp;
        const QString folder = folderUsable ? temp.path() + QStringLiteral("/") : temp.path() + "/file/";
        if (!folderUsable) {
            QFile blocker(temp.path() + QStringLiteral("/file"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        session_ =
            std::make_unique<ImportSession>(service_, *store_, SessionPlaces{QString(), folder, QStringLiteral("9")});
        const QStringList before = QDir(QDir::tempPath()).entryList({QStringLiteral("*.rtf")});
        session_->WriteStartLines();
        session_->End(QStringLiteral("The end."), false, QStringLiteral("30"));
        QCOMPARE(Log().last(), QStringLiteral("The end."));
        QCOMPARE(session_->LastLogFile().isEmpty(), !folderUsable);
        if (folderUsable)
            QVERIFY(session_->LastLogFile().startsWith(folder));
        const QStringList after = QDir(QDir::tempPath()).entryList({QStringLiteral("*.rtf")});
        QCOMPARE(after.size() - before.size(), folderUsable ? 0 : 1);
    }
};

FERROVANE_TEST_MAIN(TestSession)
#include "tst_session.moc"
