#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/CopyPanel.h"
#include "app/DesktopNotifier.h"
#include "app/ProgramFolders.h"
#include "app/RunMonitor.h"
#include "app/Unit1.h"
#include "base/FileNames.h"
#include "base/TextRules.h"
#include "copy/CopyTestSupport.h"
#include "copy/DeviceLock.h"
#include "device/fake/FakeDeviceService.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

// Stands in for the desktop's notification service.
class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received;
public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        received << summary + QLatin1Char('|') + body;
        return uint(received.size());
    }
};

// Stands in for the desktop's file opener.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl &url) { urls << url; }
};

// The Copy and Stop buttons, the listing on the worker and the catalogue's
// file operations, through the real window over a fake camera: what the
// window shows and refuses. What a run does is checked in tst_copyrun.
class TestCopyWindow : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<QTemporaryDir> dest_;
    // Holding the walk at one object.
    std::atomic<bool> held_{false};
    std::atomic<bool> release_{false};
    // The offset of the last read of a watched object.
    std::atomic<std::uint64_t> reached_{0};

    static constexpr int kFiles = 5;

    static QString FileId(int i) { return QStringLiteral("/store_S1/DCIM/IMG_%1.JPG").arg(i); }
    static QByteArray FileData(int i) { return QByteArray(1000 + i * 100, char('a' + i)); }

    QStringList Log(qsizetype from = 0) const { return LogTexts(form_->Log, from); }
    LogLine LastLine() const { return form_->Log.Document().Line(form_->Log.Document().LineCount() - 1); }

    void AddCamera()
    {
        FakeDevice &d = service_.AddDevice(QStringLiteral("usb:canon"), QStringLiteral("Canon friendly"),
                                           QStringLiteral("Canon"), QStringLiteral("EOS"));
        d.serialNumber = QStringLiteral("S1");
        const QString storage = d.AddStorage(QStringLiteral("Card"), QStringLiteral("store_S1")).id;
        const QString dcim = d.AddFolder(storage, QStringLiteral("DCIM")).id;
        for (int i = 1; i <= kFiles; ++i)
            d.AddFile(dcim, QStringLiteral("IMG_%1.JPG").arg(i), QStringLiteral("IMAGE"),
                      QStringLiteral("2016/08/1%1:10:22:33.000").arg(i), FileData(i));
    }
    void Settings(const QString &dest, const QByteArray &extra = QByteArray())
    {
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Canon EOS\n[Devices]\nItem0=Canon EOS\n"
                 "[Canon EOS]\nDeviceName=Canon EOS\nDeviceSerialNo=S1\nFileFiltersCheckBox=0\nDateFormat=yyyy-mm-dd\n"
                 "DestPath=" +
                 dest.toUtf8() + "\n" + extra);
    }
    void Start(const QByteArray &extra = QByteArray())
    {
        AddCamera();
        Settings(dest_->path(), extra);
        StartForm(form_, service_);
        QCOMPARE(form_->Connection.CurrentDeviceID, QStringLiteral("usb:canon"));
    }
    void HoldAt(const QString &objectId)
    {
        held_ = false;
        release_ = false;
        TForm1 *form = form_.get();
        service_.onGetValues = [this, objectId, form](const QString &id) {
            if (id != objectId)
                return;
            held_ = true;
            QDeadlineTimer limit(60000);
            while (!release_ && !form->Engine->State().StopSignalled && !limit.hasExpired())
                QThread::msleep(2);
        };
    }
    QString DestFile(int i) const { return dest_->path() + QStringLiteral("/2016-08-1%1/IMG_%1.JPG").arg(i); }
    QByteArray ReadFile(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void Copy()
    {
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        WaitIdle(*form_);
    }
    // The statistics block at the end of the log, or nothing.
    QStringList Statistics(qsizetype from)
    {
        const QStringList log = Log(from);
        for (qsizetype i = 0; i < log.size(); ++i)
            if (log[i].startsWith(QStringLiteral("Elapsed Time: ")))
                return log.mid(i);
        return {};
    }
    void SelectRows(int first, int last)
    {
        form_->StringGrid1->SetRow(first);
        QItemSelectionModel *selection = form_->StringGrid1->selectionModel();
        const CatalogueGrid *cells = form_->StringGrid1->Cells();
        selection->select(QItemSelection(cells->index(first - 1, 0), cells->index(last - 1, 0)),
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // Shortcuts reach the grid only while it has the keyboard focus.
    void FocusGrid()
    {
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        form_->StringGrid1->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(form_->StringGrid1->hasFocus());
    }
    int RowOf(int file) const { return form_->StringGrid1->Cells()->FindRow(5, FileId(file)); }

private slots:
    void initTestCase() { SetProgramFolders(); }
    void init()
    {
        DebugFlag = false;
        dest_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dest_->isValid());
    }
    void cleanup()
    {
        // A failed check may have left the walk held.
        release_ = true;
        service_.onGetValues = nullptr;
        form_.reset();
        service_.onRead = nullptr;
        reached_ = 0;
        service_.devices.clear();
        service_.deletedIds.clear();
    }

    // --- the copy run ----------------------------------------------------------

    // A run that cannot start or stops at once leaves the window as it was.
    // (What the engine writes then is checked in tst_copyrun.)
    void noDevice()
    {
        Settings(dest_->path());
        StartForm(form_, service_);
        Copy();
        QVERIFY(form_->CopyBitBtn->isEnabled());
        QVERIFY(!form_->StopBitBtn->isEnabled());
    }

    // The destination is looked at when Copy is pressed: a missing folder is
    // made when the user agrees, and a path no run may use is refused with
    // the reason, before anything starts.
    void destinationAtCopy_data()
    {
        QTest::addColumn<QString>("typed");  // "@" stands for the test's destination folder
        QTest::addColumn<int>("answer");     // to the question; 0: no question
        QTest::addColumn<QString>("said");   // the log's first new line starts so; empty: the run starts
        QTest::newRow("missing, made") << "@/2026/trip" << int(QMessageBox::Yes) << "";
        QTest::newRow("missing, declined") << "@/gone" << int(QMessageBox::No) << "-";
        QTest::newRow("the top") << "/" << 0 << "Destination path \"/\" is the top of the file system";
        QTest::newRow("not a full path") << "Pictures" << 0 << "Destination path \"Pictures\" is not a full path";
        QTest::newRow("a file") << "@/file" << 0 << "Destination path \"@/file\" is a file";
        QTest::newRow("below a file") << "@/file/x" << 0 << "Destination path \"@/file/x\" cannot be made";
    }
    void destinationAtCopy()
    {
        QFETCH(QString, typed);
        QFETCH(int, answer);
        QFETCH(QString, said);
        Start();
        const QString dest = dest_->path();
        typed.replace(QLatin1Char('@'), dest);
        said.replace(QLatin1Char('@'), dest);
        QFile file(dest + QStringLiteral("/file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        form_->DestLabeledEdit->setText(typed);
        const qsizetype from = form_->Log.Document().LineCount();
        {
            ModalWatcher watcher([&](QWidget *w) {
                auto *box = qobject_cast<QMessageBox *>(w);
                QVERIFY(box && box->informativeText().contains(typed));
                box->button(QMessageBox::StandardButton(answer))->click();
            });
            Copy();
            QCOMPARE(watcher.Seen(), answer ? 1 : 0);
        }
        if (answer)
            QCOMPARE(QFileInfo(typed).isDir(), answer == QMessageBox::Yes);
        const QStringList lines = Log(from);
        if (said.isEmpty()) {
            QVERIFY(lines.contains(QStringLiteral("Destination folder \"%1\" was made.").arg(typed)));
            QTRY_VERIFY(!QDir(typed).isEmpty());
        } else if (said == QLatin1String("-")) {
            QVERIFY(lines.isEmpty());
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().startsWith(said), qPrintable(lines.first()));
        }
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    // Another copier of this device (a command-line run) holds it: neither a
    // run nor a catalogue copy starts, and the log says why.
    void otherCopierHoldsTheDevice_data()
    {
        QTest::addColumn<bool>("catalogueCopy");
        QTest::newRow("Copy button") << false;
        QTest::newRow("catalogue copy") << true;
    }
    void otherCopierHoldsTheDevice()
    {
        QFETCH(bool, catalogueCopy);
        Start();
        DeviceLock other(QStringLiteral("usb:canon"));
        QVERIFY(other.TryLock());
        const qsizetype from = form_->Log.Document().LineCount();
        if (catalogueCopy) {
            SelectRows(3, 5);
            form_->Copy1->trigger();
        } else {
            Copy();
        }
        QCOMPARE(Log(from), QStringList{other.RefusalText(QStringLiteral("Canon EOS"))});
        QCOMPARE(LastLine().color, LogColor::Red);
        QVERIFY(FilesBelow(dest_->path()).isEmpty());
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    void rootPathTrimmed_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("used");
        QTest::newRow("blank backslash blank") << " \\ "
                                               << "";
        QTest::newRow("DCIM and a blank") << "\\DCIM "
                                          << "\\DCIM";
    }
    void rootPathTrimmed()
    {
        QFETCH(QString, field);
        QFETCH(QString, used);
        Start();
        form_->DeviceRootEdit->setText(field);
        const qsizetype from = form_->Log.Document().LineCount();
        Copy();
        QCOMPARE(form_->DeviceRootEdit->text(), used);
        QVERIFY(Log(from).contains(readableText(QStringLiteral("Device Root Path: ") + used)));  // "\\DCIM"
        QVERIFY(form_->RichEdit1->hasFocus() || !form_->isActiveWindow());
    }

    // The status bar follows the run against the listing's totals; a long
    // run that ends behind another window says so on the desktop, through a
    // stand-in service on a bus of the test's own.
    void progressAndNotice_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<qint64>("notifyAfter");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("notice");
        const QString imported =
            QStringLiteral("Copy finished|Imported 5 files (6.3 KiB) from Canon EOS \u2014 0 errors");
        QTest::newRow("behind another window") << true << qint64(0) << false << imported;
        QTest::newRow("window in front") << true << qint64(0) << true << "";
        QTest::newRow("short run") << true << qint64(3600000) << false << "";
        QTest::newRow("no service") << false << qint64(0) << false << "No desktop notification: ";
    }
    void progressAndNotice()
    {
        QFETCH(bool, service);
        QFETCH(qint64, notifyAfter);
        QFETCH(bool, active);
        QFETCH(QString, notice);
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForStarted())
            QSKIP("dbus-daemon is not installed");
        QTRY_VERIFY(daemon.canReadLine());
        const QString address = QString::fromUtf8(daemon.readLine().trimmed());
        const auto stopDaemon = qScopeGuard([&] {
            daemon.kill();
            daemon.waitForFinished();
        });
        QDBusConnection serviceBus = QDBusConnection::connectToBus(address, QStringLiteral("stand-in"));
        const auto disconnect = qScopeGuard([] {
            QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
            QDBusConnection::disconnectFromBus(QStringLiteral("program"));
        });
        StandInNotifications standIn;
        if (service)
            QVERIFY(serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &standIn,
                                              QDBusConnection::ExportAllSlots) &&
                    serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        Start();
        DebugFlag = true;
        RunMonitor &monitor = *form_->CopyArea->Monitor;
        monitor.Notifier().SetConnection(QDBusConnection::connectToBus(address, QStringLiteral("program")));
        monitor.SetNotifyAfter(notifyAfter);
        monitor.SetWindowActiveCheck([active] { return active; });
        HoldAt(FileId(3));
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        QTRY_VERIFY(held_);
        QTRY_VERIFY(monitor.ProgressLabel()->isVisible());
        QTRY_VERIFY2(monitor.ProgressLabel()->text().startsWith(QStringLiteral("2 of 5 files \u00B7 2.2 of 6.3 KiB")),
                     qPrintable(monitor.ProgressLabel()->text()));
        release_ = true;
        WaitIdle(*form_);
        QVERIFY(!monitor.ProgressLabel()->isVisible());
        if (!service) {
            QTRY_VERIFY(LogTexts(form_->Log).filter(notice).size() == 1);
            return;
        }
        // Whatever the run sent arrives before a message sent after it.
        monitor.Notifier().Notify(QStringLiteral("probe"), QString());
        QTRY_COMPARE(standIn.received.value(standIn.received.size() - 1), QStringLiteral("probe|"));
        QCOMPARE(standIn.received.size(), notice.isEmpty() ? 1 : 2);
        if (!notice.isEmpty())
            QCOMPARE(standIn.received.first(), notice);
    }

    // The bar follows the bytes copied while the run goes; the run's figures
    // and a hint never share the status bar.
    void progressShownOneTextAtATime()
    {
        Start();
        RunMonitor &monitor = *form_->CopyArea->Monitor;
        HoldAt(FileId(3));
        // The pointer rests on Copy: its hint is shown as the run starts.
        form_->StatusBar1->showMessage(form_->CopyBitBtn->statusTip());
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        QTRY_VERIFY(held_);
        // The run's start reaches the window through its hand-off, perhaps after the worker is held.
        // Two files of five, 2.2 of 6.3 KiB, are done.
        QTRY_COMPARE(form_->ProgressBar1->maximum(), CopyPanel::kBarSteps);
        QTRY_VERIFY(form_->ProgressBar1->value() > 300 && form_->ProgressBar1->value() < 400);
        QTRY_VERIFY(!monitor.ProgressLabel()->text().isEmpty());
        QVERIFY(!monitor.ProgressLabel()->isVisible());
        form_->StatusBar1->clearMessage();
        QVERIFY(monitor.ProgressLabel()->isVisible());
        form_->StatusBar1->showMessage(form_->StopBitBtn->statusTip());
        QVERIFY(!monitor.ProgressLabel()->isVisible());
        release_ = true;
        WaitIdle(*form_);
        form_->StatusBar1->clearMessage();
        QVERIFY(!monitor.ProgressLabel()->isVisible());
    }

    // The grid follows the run to its last file, and the window is idle at its end.
    void runFollowedInTheGrid()
    {
        Start();
        Copy();
        QCOMPARE(ReadFile(DestFile(kFiles)), FileData(kFiles));
        QTRY_COMPARE(form_->StringGrid1->Row(), RowOf(kFiles));
        QCOMPARE(form_->ProgressBar1->value(), 0);
        QVERIFY(!form_->StopBitBtn->isEnabled());
    }

    void stopMidRun()
    {
        Start();
        HoldAt(FileId(3));
        const qsizetype from = form_->Log.Document().LineCount();
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        QTRY_VERIFY(held_);
        QTRY_VERIFY(form_->StopBitBtn->isEnabled());
        QTest::mouseClick(form_->StopBitBtn, Qt::LeftButton);
        QVERIFY(!form_->StopBitBtn->isEnabled());
        WaitIdle(*form_);
        QCOMPARE(form_->BeepCount, 1);
        QVERIFY(Log(from).contains(QStringLiteral("Stop Signalled.")));
        QVERIFY(Statistics(from).isEmpty());
        // The next run starts as usual.
        service_.onGetValues = nullptr;
        const qsizetype again = form_->Log.Document().LineCount();
        Copy();
        QCOMPARE(Statistics(again).value(1), QStringLiteral("5 Files located at Source."));
    }

    // Stop, or closing the window, while a device sends a big file: the
    // transfer ends mid-file, leaves nothing at the destination and the file
    // on the device, and the log names it before its "Stop Signalled."
    // ending. The next run copies it whole.
    void stopMidFile_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("Stop button") << false;
        QTest::newRow("closing the window") << true;
    }
    void stopMidFile()
    {
        QFETCH(bool, close);
        constexpr std::uint64_t kSize = 128 * 131072;
        const QString id = QStringLiteral("/store_S1/DCIM/BIG.MOV");
        AddCamera();
        FakeObject &big = service_.Device(QStringLiteral("usb:canon"))
                              .AddSizedFile(QStringLiteral("/store_S1/DCIM"), QStringLiteral("BIG.MOV"),
                                            QStringLiteral("VIDEO"), QStringLiteral("2016/08/11:10:22:33.000"), kSize);
        Settings(dest_->path(), "DeleteFiles=1\n");
        StartForm(form_, service_);
        // Held at its second chunk until the stop is signalled: the test
        // checks where the transfer ends, not how fast this thread is.
        big.beforeRead = [this](std::uint64_t offset) {
            reached_ = offset;
            QDeadlineTimer limit(60000);
            while (offset > 0 && !form_->Engine->State().StopSignalled && !limit.hasExpired())
                QThread::msleep(2);
        };
        const qsizetype from = form_->Log.Document().LineCount();
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        QTRY_VERIFY(reached_ > 0);
        if (close)
            form_->close();
        else
            QTest::mouseClick(form_->StopBitBtn, Qt::LeftButton);
        WaitIdle(*form_);
        QVERIFY(reached_ < kSize - 131072);
        // The hash list of the files copied before it is written as the run ends.
        const QStringList log = Log(from).filter(QRegularExpression(QStringLiteral("^(?!Hash list written: )")));
        const QStringList ending = {"Stopped: the file BIG.MOV was not copied and stays on the device.", "",
                                    "Stop Signalled."};
        QCOMPARE(log.mid(log.indexOf(ending[0])),
                 close ? ending + QStringList({"", "Program exited by user."}) : ending);
        QVERIFY(FilesBelow(dest_->path()).filter(QRegularExpression("BIG\\.MOV$|\\.ferrovane-")).isEmpty());
        QVERIFY(service_.Device(QStringLiteral("usb:canon")).objects.count(id));
        QCOMPARE(std::count(service_.deletedIds.begin(), service_.deletedIds.end(), id), 0);

        big.beforeRead = nullptr;
        if (close)
            StartForm(form_, service_);
        Copy();
        QByteArray whole(qsizetype(kSize), Qt::Uninitialized);
        for (std::uint64_t i = 0; i < kSize; ++i)
            whole[qsizetype(i)] = FakeDataByte(i);
        QVERIFY(ReadFile(dest_->path() + QStringLiteral("/2016-08-11/BIG.MOV")) == whole);
    }

    // The engine hears of every change of the controls: each kind of
    // control, changed by keyboard or mouse, reaches the run.
    void changedControlsReachTheRun_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("destination picked") << "destination";
        QTest::newRow("folder mode clicked") << "mode";
        QTest::newRow("delete files ticked in Options") << "delete";
        QTest::newRow("command typed in Post Processing") << "command";
        QTest::newRow("date source chosen in Options by keyboard") << "date";
    }
    void changedControlsReachTheRun()
    {
        QFETCH(QString, change);
        Start();
        const QString other = dest_->path() + QStringLiteral("/other");
        QVERIFY(QDir().mkpath(other));
        if (change == QLatin1String("destination")) {
            // As the folder picker sets it: the field takes no typing.
            form_->DestLabeledEdit->Edit->setText(other);
        } else if (change == QLatin1String("mode")) {
            QTest::mouseClick(form_->CopyModeRadioGroup->Buttons[1], Qt::LeftButton);
            QCOMPARE(form_->CopyModeRadioGroup->ItemIndex(), 1);
        } else if (change == QLatin1String("delete")) {
            form_->Form4->DeleteFilesCheckBox->click();
            QVERIFY(form_->Form4->DeleteFilesCheckBox->isChecked());
        } else if (change == QLatin1String("date")) {
            QTest::keyClick(form_->Form4->DateSourceComboBox, Qt::Key_Down);
            QCOMPARE(form_->Form4->DateSourceComboBox->currentIndex(), 1);
        } else {
            form_->Form3->PostFileCopyCommandCheckBox->click();
            QTest::keyClicks(form_->Form3->PostFileCopyCommandLabeledEdit->Edit,
                             QStringLiteral("touch [Path]/[File].ran"));
        }
        Copy();
        QCOMPARE(form_->Engine->Settings().DateTaken, change == QLatin1String("date"));
        // These photos hold no date of their own: they go by their file dates either way.
        for (int i = 1; i <= kFiles; ++i) {
            QString where = DestFile(i);
            if (change == QLatin1String("destination"))
                where = other + QStringLiteral("/2016-08-1%1/IMG_%1.JPG").arg(i);
            else if (change == QLatin1String("mode"))
                where = dest_->path() + QStringLiteral("/DCIM/IMG_%1.JPG").arg(i);
            QCOMPARE(ReadFile(where), FileData(i));
            QCOMPARE(QFileInfo::exists(where + QStringLiteral(".ran")), change == QLatin1String("command"));
        }
        QCOMPARE(service_.deletedIds.size(), size_t(change == QLatin1String("delete") ? kFiles : 0));
    }

    void exceptionOnTheWorker()
    {
        Start();
        service_.onGetValues = [](const QString &id) {
            if (id == FileId(2))
                throw std::runtime_error("the device went away");
        };
        QString title, text;
        ModalWatcher watcher([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            box->accept();
        });
        const qsizetype from = form_->Log.Document().LineCount();
        Copy();
        QCOMPARE(title, QStringLiteral("Application Error"));
        QCOMPARE(text, QStringLiteral("the device went away"));
        QVERIFY(!form_->StopBitBtn->isEnabled());
        // Not stuck: the next run works.
        service_.onGetValues = nullptr;
        Copy();
        QCOMPARE(Statistics(from).value(1), QStringLiteral("5 Files located at Source."));
    }

    void neverTwoWorkers()
    {
        Start();
        HoldAt(FileId(1));
        const qsizetype from = form_->Log.Document().LineCount();
        QTest::mouseClick(form_->CopyBitBtn, Qt::LeftButton);
        QTRY_VERIFY(held_);
        form_->CopyArea->CopyClick();  // the button is disabled; the handler must refuse all the same
        // Catalogue operations are refused while the worker owns the device.
        // (The rows the run hands over may still be on their way.)
        QTRY_VERIFY(form_->StringGrid1->Cells()->RowCount() > 3);
        form_->StringGrid1->SetRow(2);
        QCOMPARE(form_->StringGrid1->Row(), 2);
        form_->CatalogueArea->GridDeleteFile();
        QVERIFY(form_->StatusBar1->currentMessage().startsWith(QStringLiteral("Busy: wait")));
        QVERIFY(service_.deletedIds.empty());
        release_ = true;
        WaitIdle(*form_);
        QCOMPARE(Log(from).count(QStringLiteral("Copy Started")), 1);
    }

    // --- the listing on the worker -------------------------------------------------

    void listingKeepsTheWindowAnswering()
    {
        Start();
        HoldAt(FileId(2));
        const qsizetype from = form_->Log.Document().LineCount();
        form_->DeviceConnectSpeedButton->click();
        QTRY_VERIFY(held_);
        // The event loop runs: a timer fires and the window repaints.
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        QTRY_VERIFY(fired);
        form_->resize(form_->width() + 40, form_->height());
        QTRY_COMPARE(form_->StringGrid1->width() > 0, true);
        QVERIFY(form_->StopBitBtn->isEnabled());
        QVERIFY(!form_->CopyBitBtn->isEnabled());
        QTest::mouseClick(form_->StopBitBtn, Qt::LeftButton);
        WaitIdle(*form_);
        const QStringList log = Log(from);
        // The walk ended at the next look at the stop flag, in order, and
        // the stop's ending follows it.
        QCOMPARE(log.mid(log.size() - 2), (QStringList{"", "Stop Signalled."}));
        QCOMPARE(log.value(log.size() - 3).left(14), QStringLiteral("Total Size = 0"));
        QVERIFY(RowOf(3) == 0);
        QVERIFY(RowOf(1) > 0);
    }

    void closeDuringListing()
    {
        Start();
        HoldAt(FileId(2));
        form_->DeviceConnectSpeedButton->click();
        QTRY_VERIFY(held_);
        form_->close();
        QTRY_VERIFY(!form_->Engine->IsActive());
        QCOMPARE(Log().last(), QStringLiteral("Program exited by user."));
        QVERIFY(!form_->Session->LastLogFile().isEmpty());
    }

    // --- the catalogue's file operations ---------------------------------------------

    void gridCopyBottomUpWithDelete()
    {
        Start("DeleteFiles=1\n");
        // Rows: 1 storage, 2 DCIM, 3.. the files 1 to 5.
        QCOMPARE(RowOf(1), 3);
        SelectRows(3, 5);
        const qsizetype from = form_->Log.Document().LineCount();
        form_->Copy1->trigger();
        QVERIFY(form_->CopyBitBtn->isEnabled());
        QStringList sources;
        for (const QString &line : Log(from))
            if (line.startsWith(QStringLiteral("Source File: ")))
                sources << line.mid(13);
        QCOMPARE(sources, (QStringList{FileId(3), FileId(2), FileId(1)}));
        QCOMPARE(Log(from).first(), QStringLiteral("Copy File(s) Started"));
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(ReadFile(DestFile(i)), FileData(i));
            QCOMPARE(RowOf(i), 0);
        }
        QCOMPARE(RowOf(4), 3);
        QCOMPARE(Statistics(from).size(), 7);
        QCOMPARE(Statistics(from).value(4), QStringLiteral("3 Files delete from Source."));
    }

    // Only an error exit of a file's decision ends a catalogue copy early; a
    // failing per-file command is counted and the next row follows. The
    // statistics end the operation either way.
    void gridCopyEndsOnlyAtAnErrorExit_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("unreadable");  // a file whose transfer fails, or 0
        QTest::addColumn<QList<int>>("copied");
        QTest::addColumn<QString>("errors");
        QTest::newRow("transfer fails") << QByteArray() << 2 << QList<int>{3} << "1 Errors encountered.";
        QTest::newRow("command fails") << QByteArray(
                                              "PostFileCopyCommandCheckBox=1\nPostFileCopyCommandLabeledEdit=false\n"
                                              "PostFileCopySuccessCode=0\n")
                                       << 0 << QList<int>{1, 2, 3} << "3 Errors encountered.";
    }
    void gridCopyEndsOnlyAtAnErrorExit()
    {
        QFETCH(QByteArray, settings);
        QFETCH(int, unreadable);
        QFETCH(QList<int>, copied);
        QFETCH(QString, errors);
        Start(settings);
        if (unreadable)
            service_.Device(QStringLiteral("usb:canon")).Object(FileId(unreadable)).readFailsAt = 0;
        SelectRows(3, 5);
        const qsizetype from = form_->Log.Document().LineCount();
        form_->Copy1->trigger();
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(QFileInfo::exists(DestFile(i)), copied.contains(i));
        const QStringList stats = Statistics(from);
        QCOMPARE(stats.value(1),
                 QStringLiteral("%1 Files located at Source.").arg(copied.size() + (unreadable ? 1 : 0)));
        QCOMPARE(stats.value(stats.size() - 1), errors);
        QVERIFY(form_->CopyBitBtn->isEnabled());
    }

    void gridDeleteWithFailingMiddle()
    {
        Start();
        service_.Device(QStringLiteral("usb:canon")).Object(FileId(2)).deleteCode = E_ACCESSDENIED;
        SelectRows(3, 5);
        const qsizetype from = form_->Log.Document().LineCount();
        FocusGrid();
        QTest::keyClick(form_->StringGrid1, Qt::Key_D, Qt::ControlModifier);
        const QStringList log = Log(from);
        QCOMPARE(log.count(QStringLiteral("Deleted file IMG_3.JPG from device.")) +
                     log.count(QStringLiteral("Deleted file IMG_1.JPG from device.")),
                 2);
        QVERIFY(log.contains(QStringLiteral("ERROR: Could not delete the file IMG_2.JPG from the device.")));
        QCOMPARE(Statistics(from).mid(1), (QStringList{"3 Files processed.", "2 Files delete from Source.",
                                                       "0 MiB Total size delete.", "1 Errors encountered."}));
        QCOMPARE(LastLine().color, LogColor::Red);
        QCOMPARE(RowOf(1), 0);
        QVERIFY(RowOf(2) > 0);  // its deletion failed: the row stays
        QCOMPARE(RowOf(3), 0);
    }

    void openWithTwoRows()
    {
        Start();
        SelectRows(3, 4);
        const qsizetype from = form_->Log.Document().LineCount();
        form_->Open1->trigger();
        QCOMPARE(Log(from), QStringList{"Only one file can be opened at one time."});
        // The header row current: nothing at all.
        form_->StringGrid1->selectionModel()->clear();
        form_->StringGrid1->setCurrentIndex(QModelIndex());
        form_->CatalogueArea->OpenFile();
        QCOMPARE(Log(from).size(), 1);
    }

    void openWritesIntoAPrivateFolder()
    {
        Start();
        // A run first: the opened file must not take the date of its last copy.
        Copy();
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
        SelectRows(5, 5);  // IMG_3
        const qsizetype from = form_->Log.Document().LineCount();
        FocusGrid();
        QTest::keyClick(form_->StringGrid1, Qt::Key_O, Qt::ControlModifier);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(Log(from),
                 (QStringList{"Transferring File: \"IMG_3.JPG\" Size: 1 KiB", "Opening File: \"IMG_3.JPG\""}));
        QCOMPARE(catcher.urls.size(), 1);
        const QString opened = catcher.urls.first().toLocalFile();
        QCOMPARE(QFileInfo(opened).fileName(), QStringLiteral("IMG_3.JPG"));
        QCOMPARE(ReadFile(opened), FileData(3));
        QCOMPARE(QFileInfo(opened).lastModified(), QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33)));
        QCOMPARE(QFileInfo(QFileInfo(opened).path()).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(!opened.startsWith(dest_->path()));
    }

    // A name that is not UTF-8: the grid shows it escaped, and the
    // catalogue's copy and open put its data under exactly its bytes. A
    // name that holds "\xFF" as typed, and a Hebrew letter, looks different
    // in the grid, and the log shows it as the grid does.
    void oddNameThroughTheCatalogue()
    {
        const QString name = nameFromBytes("x\xFF.JPG");
        const QString typed = QStringLiteral("x\\xFF_7\u05D0 (2) 3.JPG");
        AddCamera();
        for (const QString &each : {name, typed})
            service_.devices.front().AddFile(QStringLiteral("/store_S1/DCIM"), each, QStringLiteral("IMAGE"),
                                             QStringLiteral("2016/08/19:10:22:33.000"), "odd");
        Settings(dest_->path());
        StartForm(form_, service_);
        CatalogueGrid *cells = form_->StringGrid1->Cells();
        const int typedRow = cells->FindRow(5, QStringLiteral("/store_S1/DCIM/") + typed);
        QVERIFY(typedRow > 0);
        const QString typedShown = cells->data(cells->index(typedRow - 1, 1)).toString();
        QCOMPARE(typedShown, QStringLiteral("x\\\\xFF_7\u2067\u05D0\u2069 (2) 3.JPG"));
        const qsizetype from = form_->Log.Document().LineCount();
        SelectRows(typedRow, typedRow);
        form_->CatalogueArea->GridCopyFile();
        const QString logged = QStringLiteral("Source File: /store_S1/DCIM/") + typedShown;
        const qsizetype line = from + Log(from).indexOf(logged);
        QVERIFY(line >= from);
        form_->Log.Flush();
        QCOMPARE(form_->RichEdit1->LineText(line), form_->Log.Document().Line(line).prefix + logged);
        const int row = cells->FindRow(5, QStringLiteral("/store_S1/DCIM/") + name);
        QVERIFY(row > 0);
        QCOMPARE(cells->data(cells->index(row - 1, 1)).toString(), QStringLiteral("x\\xFF.JPG"));
        auto readRaw = [](const QByteArray &path) {
            QFile f;
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            return fd >= 0 && f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? f.readAll()
                                                                                            : QByteArray("<missing>");
        };
        SelectRows(row, row);
        form_->CatalogueArea->GridCopyFile();
        QCOMPARE(readRaw(nameToBytes(dest_->path()) + "/2016-08-19/x\xFF.JPG"), QByteArray("odd"));
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
        form_->CatalogueArea->OpenFile();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
        const QByteArray url = catcher.urls.first().toEncoded();
        QVERIFY2(url.startsWith("file:///") && url.endsWith("/x%FF.JPG"), url.constData());
        QCOMPARE(readRaw(QByteArray::fromPercentEncoding(url.mid(7))), QByteArray("odd"));
        ::unlink(QByteArray::fromPercentEncoding(url.mid(7)).constData());
        ::unlink((nameToBytes(dest_->path()) + "/2016-08-19/x\xFF.JPG").constData());
    }

    void openFailingTransfer()
    {
        Start();
        service_.Device(QStringLiteral("usb:canon")).Object(FileId(4)).readFailsAt = 0;
        SelectRows(6, 6);  // IMG_4, whose transfer fails
        const qsizetype from = form_->Log.Document().LineCount();
        form_->CatalogueArea->OpenFile();
        QVERIFY(Log(from).contains(QStringLiteral("ERROR: Could not transfer the file from the device.")));
        QVERIFY(!Log(from).join('\n').contains(QStringLiteral("Opening File: ")));
    }
};

FERROVANE_TEST_MAIN(TestCopyWindow)
#include "tst_copywindow.moc"
