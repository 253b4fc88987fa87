#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/ProgramArguments.h"
#include "app/SingleInstance.h"
#include "device/FolderBackend.h"

#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include <atomic>

// Folders as devices through the real window: Add Folder…, the card or
// folder named at start or handed over by a later start, and what the log
// says when there is no device at all.
class TestFolderDevices : public QObject
{
    Q_OBJECT

private:
    // The folder backend alone: the folders of the environment and those
    // added in the window (and any card this machine has mounted).
    std::unique_ptr<DeviceService> service_ = CreateBackendService({std::make_shared<FolderBackend>()});
    std::unique_ptr<TForm1> form_;
    QTemporaryDir root_;

    // A card copy with one picture, under the test's own folder.
    QString MakeFolder(const QString &relative)
    {
        const QString path = root_.path() + QLatin1Char('/') + relative;
        QDir().mkpath(path + QStringLiteral("/DCIM/100TEST"));
        QFile file(path + QStringLiteral("/DCIM/100TEST/IMG_0001.JPG"));
        [&] { QVERIFY(file.open(QIODevice::WriteOnly)); }();
        file.write("picture");
        return QFileInfo(path).canonicalFilePath();
    }
    QStringList Log(qsizetype from = 0) const { return LogTexts(form_->Log, from); }
    void Start() { StartForm(form_, *service_); }
    // Presses Add Folder… and picks the folder in its dialog (or cancels it).
    void AddFolder(const QString &folder)
    {
        ModalWatcher watcher([&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            QVERIFY(dialog);
            if (folder.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(folder);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QTest::mouseClick(form_->AddFolderButton, Qt::LeftButton);
        QCOMPARE(watcher.Seen(), 1);
        WaitIdle(*form_);
    }
    // The names the catalogue lists.
    QStringList Listed() const
    {
        QStringList names;
        for (int row = 1; row < form_->StringGrid2->RowCount(); ++row)
            names << form_->StringGrid2->Cell(1, row);
        return names;
    }

private slots:
    void init()
    {
        SetProgramFolders();
        QFile::remove(IniFilePath);
        FolderBackend::SetAddedFolders({});
        qunsetenv("FERROVANE_FOLDER_DEVICES");
    }
    void cleanup() { form_.reset(); }

    // Added, selected and listed; found again at the next start; forgotten
    // by Delete Device.
    void addFolderIsRememberedUntilDeleted()
    {
        const QString folder = MakeFolder(QStringLiteral("Holiday"));
        Start();
        AddFolder(QString());  // cancelled: nothing happens
        QCOMPARE(form_->DeviceComboBox->count(), 0);
        AddFolder(folder);
        QCOMPARE(form_->DeviceComboBox->currentText(), QStringLiteral("Folder Holiday"));
        QCOMPARE(form_->Connection.CurrentDeviceID, FolderBackend::DeviceIdFor(folder));
        QVERIFY(Listed().contains(QStringLiteral("IMG_0001.JPG")));
        QCOMPARE(Ini("Folder Holiday", "FolderPath"), folder);
        QCOMPARE(Ini("Devices", "Item0"), QStringLiteral("Folder Holiday"));
        // Save Settings keeps the folder.
        QTest::mouseClick(form_->SaveSettingsBitBtn, Qt::LeftButton);
        QCOMPARE(Ini("Folder Holiday", "FolderPath"), folder);

        form_.reset();
        FolderBackend::SetAddedFolders({});
        Start();
        QVERIFY(Log().contains(QStringLiteral("Device = Folder Holiday")));
        QCOMPARE(form_->Connection.CurrentDeviceID, FolderBackend::DeviceIdFor(folder));
        {
            ModalWatcher watcher([](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(QMessageBox::Yes)->click(); });
            QTest::mouseClick(form_->DeleteDeviceButton, Qt::LeftButton);
        }
        QCOMPARE(FolderBackend::AddedFolders(), QStringList());
        const qsizetype from = form_->Log.Document().LineCount();
        QTest::mouseClick(form_->ScanPortableDevicesButton, Qt::LeftButton);
        QVERIFY(!Log(from).join(QLatin1Char('\n')).contains(QStringLiteral("Folder Holiday")));
    }

    // A folder whose name another device has is refused; the environment's
    // folders keep working beside the added ones.
    void nameTakenAndEnvironment()
    {
        const QString first = MakeFolder(QStringLiteral("a/CARD"));
        const QString second = MakeFolder(QStringLiteral("b/CARD"));
        const QString fromEnvironment = MakeFolder(QStringLiteral("Env"));
        qputenv("FERROVANE_FOLDER_DEVICES", QFile::encodeName(fromEnvironment));
        Start();
        QVERIFY(Log().contains(QStringLiteral("New device found \"Folder Env\"")));
        AddFolder(first);
        QCOMPARE(form_->DeviceComboBox->currentText(), QStringLiteral("Folder CARD"));
        AddFolder(second);
        QVERIFY(Log().contains(QStringLiteral("Folder \"%1\" was not added: its name \"Folder CARD\" already belongs "
                                              "to another device. Rename the folder, or delete that device from the "
                                              "list first.")
                                   .arg(second)));
        QCOMPARE(FolderBackend::AddedFolders(), QStringList{first});
        QCOMPARE(Ini("Folder CARD", "FolderPath"), first);
        QCOMPARE(form_->DeviceComboBox->count(), 2);
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    // A card or folder named at start is chosen instead of the remembered
    // device; what is no folder here is said, and the remembered one opened.
    void locationAtStart_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("line");  // empty: the folder is selected and listed
        QTest::newRow("path") << "%1"
                              << "";
        QTest::newRow("file URL") << "file://%1"
                                  << "";
        QTest::newRow("camera URL") << "gphoto2://Canon/"
                                    << "\"gphoto2://Canon/\" is not a folder on this computer: "
                                       "choose the device from the list.";
        QTest::newRow("missing") << "%1-gone"
                                 << "Folder device \"%1-gone\" is not offered: it does not exist.";
    }
    void locationAtStart()
    {
        QFETCH(QString, location);
        QFETCH(QString, line);
        const QString remembered = MakeFolder(QStringLiteral("Remembered"));
        const QString card = MakeFolder(QStringLiteral("EOS_DIGITAL"));
        WriteIni(QStringLiteral("[Ferrovane]\nDeviceCount=1\nLastDevice=Folder Remembered\n[Devices]\n"
                                "Item0=Folder Remembered\n[Folder Remembered]\nDeviceName=Folder Remembered\n"
                                "DeviceSerialNo=%1\nFolderPath=%1\n")
                     .arg(remembered)
                     .toUtf8());
        const auto withCard = [&](QString text) { return text.replace(QStringLiteral("%1"), card); };
        form_ = std::make_unique<TForm1>(*service_);
        form_->OpenLocation(withCard(location));
        form_->show();
        QTRY_VERIFY(initDone());
        WaitIdle(*form_);
        QCOMPARE(form_->DeviceComboBox->currentText(),
                 line.isEmpty() ? QStringLiteral("Folder EOS_DIGITAL") : QStringLiteral("Folder Remembered"));
        QCOMPARE(Log().contains(QStringLiteral("DEVICE: Folder Remembered")), !line.isEmpty());
        QVERIFY(Listed().contains(QStringLiteral("IMG_0001.JPG")));
        if (!line.isEmpty())
            QVERIFY2(Log().contains(withCard(line)), qPrintable(Log().join(QLatin1Char('\n'))));
    }

    // A card handed over during a listing or run is opened after it; a later
    // start hands its card over to the running one.
    void locationWhileBusy()
    {
        const QString card = MakeFolder(QStringLiteral("Later"));
        Start();
        std::atomic<bool> release = false;
        QCOMPARE(form_->Engine->StartWorker([&] {
            while (!release)
                QThread::msleep(5);
            return CopyOutcome();
        }),
                 CopyRun::Start::Started);
        form_->DisableUI(true);
        const QString key = QStringLiteral("folder-test-") + QString::number(QCoreApplication::applicationPid());
        SingleInstance first(key), second(key);
        QVERIFY(first.Claim());
        connect(&first, &SingleInstance::LocationRequested, form_.get(), &TForm1::OpenLocation);
        QVERIFY(second.NotifyRunning(card));
        QTRY_COMPARE(form_->Session->PendingLocation(), card);
        QCOMPARE(form_->DeviceComboBox->count(), 0);
        release = true;
        QTRY_COMPARE(form_->DeviceComboBox->currentText(), QStringLiteral("Folder Later"));
        WaitIdle(*form_);
        QVERIFY(Listed().contains(QStringLiteral("IMG_0001.JPG")));
    }

    void programArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QStringList{"ferrovane"} << ""
                              << "";
        QTest::newRow("absolute") << QStringList{"ferrovane", "/media/ann/EOS_DIGITAL"} << "/media/ann/EOS_DIGITAL"
                                  << "";
        QTest::newRow("relative") << QStringList{"ferrovane", "card #1"} << "/home/ann/card #1"
                                  << "";
        QTest::newRow("URL kept") << QStringList{"ferrovane", "file:///media/a%20b"} << "file:///media/a%20b"
                                  << "";
        QTest::newRow("after --") << QStringList{"ferrovane", "--", "-card"} << "/home/ann/-card"
                                  << "";
        QTest::newRow("two") << QStringList{"ferrovane", "/a", "/b"} << ""
                             << "Only one card or folder can be named.";
        QTest::newRow("unknown option") << QStringList{"ferrovane", "--frob"} << ""
                                        << "Unknown option 'frob'.";
    }
    void programArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, location);
        QFETCH(QString, error);
        const ProgramArguments parsed = ParseProgramArguments(arguments, QStringLiteral("/home/ann"));
        QCOMPARE(parsed.location, location);
        QCOMPARE(parsed.error, error);
    }

    // With no device the log says what to do; with remembered ones, to choose.
    void nothingChosenAtStart_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("tail");
        const QString what = QStringLiteral("To copy from a device, plug in and unlock a camera or phone, insert a "
                                            "memory card, or add a folder with Add Folder.");
        QTest::newRow("empty list") << QByteArray() << QStringList{"No Portable Devices found.", what};
        QTest::newRow("remembered device") << QByteArray("[Ferrovane]\nDeviceCount=1\n[Devices]\nItem0=Old Phone\n")
                                           << QStringList{what, "Choose a device from the list."};
    }
    void nothingChosenAtStart()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, tail);
        WriteIni(ini);
        Start();
        QCOMPARE(Log().mid(Log().size() - tail.size()), tail);
    }

private:
    bool initDone() const { return form_->initDone_; }
};

FERROVANE_TEST_MAIN(TestFolderDevices)
#include "tst_folderdevices.moc"
