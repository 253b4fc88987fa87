#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "base/DateFormat.h"
#include "device/fake/FakeDeviceService.h"
#include "log/ColorRules.h"
#include "settings/FileFilter.h"
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"
#include "settings/SpinEdit.h"
#include "settings/Style.h"
#include "settings/Unit3.h"
#include "settings/Unit4.h"

#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolButton>

// The settings file through the real windows: loading, saving, the Options
// and Post Processing dialogs, the date example and the window geometry.
class TestSettingsDialogs : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;

    void Start() { StartForm(form_, service_); }
    bool LogHas(const QString &text) const { return LogTexts(form_->Log).contains(text); }
    // Selects a device the way the device list will: its section named in the file.
    static QByteArray ReadIniBytes()
    {
        QFile file(IniFilePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A device remembered in the settings file and chosen, as a start finds it.
    void SelectDevice(const QString &name)
    {
        DeviceSettings identity;
        identity.DeviceName = name;
        form_->Settings->WriteDevice(name, identity, DeviceKeys::Identity);
        QStringList entries = form_->Session->DeviceList();
        if (!entries.contains(name))
            entries << name;
        form_->Settings->WriteDeviceList(entries, name, form_->Log);
        form_->Session->LoadSettings();
    }

private slots:
    void init()
    {
        SetProgramFolders();
        QFile::remove(IniFilePath);
        DebugFlag = false;
        ChosenStyleName = QStringLiteral("Auric");
    }
    void cleanup()
    {
        form_.reset();
        DebugFlag = false;
    }

    void firstStartHasDefaults()
    {
        Start();
        TForm1 &f = *form_;
        QCOMPARE(f.DeviceComboBox->count(), 0);
        QCOMPARE(f.DateFormatEdit->text(), QStringLiteral("yyyy-mm-dd"));
        QCOMPARE(f.CopyModeRadioGroup->ItemIndex(), 0);
        QVERIFY(f.Form4->FileFiltersCheckBox->isChecked());
        QVERIFY(!f.Form4->CopyOnConnectCheckBox->isChecked());
        QVERIFY(!f.Form4->SkipImportedBeforeCheckBox->isChecked());
        QCOMPARE(f.Form4->FilterList(), DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter)));
        QCOMPARE(f.Form4->MaxLogDaysSpinEdit->Text(), QStringLiteral("30"));
        QCOMPARE(f.Form3->PostFileCopySuccessCode->text(), QStringLiteral("0"));
        QVERIFY(!QFile::exists(IniFilePath));  // nothing written by loading
        // The example shows today in the default format.
        QCOMPARE(f.DateFormatExampleEdit->text(), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
        QTest::mouseClick(f.SaveSettingsBitBtn, Qt::LeftButton);
        QVERIFY(QFile::exists(IniFilePath));
        QCOMPARE(Ini("Ferrovane", "DeviceCount"), QStringLiteral("0"));
        QVERIFY(LogHas(QStringLiteral("Settings Saved.")));
    }

    // Everything a device section holds goes out through Save Settings and
    // comes back at the next start.
    void saveAndLoadRoundTrip()
    {
        Start();
        TForm1 &f = *form_;
        SelectDevice(QStringLiteral("Canon EOS 80D"));
        f.Connection.CurrentDeviceSerialNo = QStringLiteral(" SN42 ");
        f.DestLabeledEdit->setText(QStringLiteral("/home/ann/Pictures"));
        f.DateFormatEdit->setText(QStringLiteral("yyyy/mm"));
        f.DeviceRootEdit->setText(QStringLiteral("  \\DCIM  "));
        f.CopyModeRadioGroup->Buttons[1]->click();
        f.Form4->ByteLevelCompareCheckBox->setChecked(true);
        f.Form4->DeleteFilesCheckBox->setChecked(true);
        f.Form4->CopyOnConnectCheckBox->setChecked(true);
        f.Form4->SkipImportedBeforeCheckBox->setChecked(true);
        f.Form4->SetFilterList({"jpg", "AVI", "my pics"});
        f.Form4->DateSourceComboBox->setCurrentIndex(1);
        f.Form3->PostFileCopyCommandCheckBox->setChecked(true);
        f.Form3->PostFileCopyCommandLabeledEdit->setText(QStringLiteral("cp \"[Path][File]\" /backup/it's"));
        f.Form3->PostProcessingCommandLabeledEdit->setText(QStringLiteral("\"/usr/bin/sync\""));
        f.Form3->PostFileCopyForceCheckBox->setChecked(true);
        f.Form3->PostFileCopySuccessCode->setText(QStringLiteral("3"));
        QTest::mouseClick(f.SaveSettingsBitBtn, Qt::LeftButton);

        QCOMPARE(Ini("Ferrovane", "LastDevice"), QStringLiteral("Canon EOS 80D"));
        QCOMPARE(Ini("Devices", "Item0"), QStringLiteral("Canon EOS 80D"));
        QCOMPARE(Ini("Canon EOS 80D", "DeviceSerialNo"), QStringLiteral("SN42"));
        QCOMPARE(Ini("Canon EOS 80D", "DeviceRoot"), QStringLiteral("\\DCIM"));
        QCOMPARE(f.DeviceRootEdit->text(), QStringLiteral("\\DCIM"));
        QCOMPARE(Ini("Canon EOS 80D", "CopyMode"), QStringLiteral("1"));
        QCOMPARE(Ini("Canon EOS 80D", "CopyOnConnect"), QStringLiteral("1"));
        QCOMPARE(Ini("Canon EOS 80D", "SkipImportedBefore"), QStringLiteral("1"));
        QCOMPARE(Ini("Canon EOS 80D", "FileFilter"), QStringLiteral("AVI|jpg|\"my pics\""));
        QCOMPARE(f.Form4->FilterList(), (QStringList{"AVI", "jpg", "my pics"}));

        form_.reset();
        Start();
        TForm1 &g = *form_;
        QCOMPARE(g.DeviceComboBox->currentText(), QStringLiteral("Canon EOS 80D"));
        QCOMPARE(g.Connection.CurrentDeviceName, QStringLiteral("Canon EOS 80D"));
        QCOMPARE(g.Connection.CurrentDeviceSerialNo, QStringLiteral("SN42"));
        QCOMPARE(g.DestLabeledEdit->text(), QStringLiteral("/home/ann/Pictures"));
        QCOMPARE(g.DateFormatEdit->text(), QStringLiteral("yyyy/mm"));
        QCOMPARE(g.DeviceRootEdit->text(), QStringLiteral("\\DCIM"));
        QCOMPARE(g.CopyModeRadioGroup->ItemIndex(), 1);
        QVERIFY(g.DateFormatEdit->isHidden());
        QVERIFY(g.Form4->ByteLevelCompareCheckBox->isChecked());
        QVERIFY(g.Form4->DeleteFilesCheckBox->isChecked());
        QVERIFY(g.Form4->CopyOnConnectCheckBox->isChecked());
        QVERIFY(g.Form4->SkipImportedBeforeCheckBox->isChecked());
        QCOMPARE(g.Form4->FilterList(), (QStringList{"AVI", "jpg", "my pics"}));
        QCOMPARE(g.Form4->DateSourceComboBox->currentIndex(), 1);
        QCOMPARE(Ini("Canon EOS 80D", "DateSource"), QStringLiteral("1"));
        QVERIFY(g.Form3->PostFileCopyCommandCheckBox->isChecked());
        QCOMPARE(g.Form3->PostFileCopyCommandLabeledEdit->text(), QStringLiteral("cp \"[Path][File]\" /backup/it's"));
        QCOMPARE(g.Form3->PostProcessingCommandLabeledEdit->text(), QStringLiteral("\"/usr/bin/sync\""));
        QVERIFY(g.Form3->PostFileCopyForceCheckBox->isChecked());
        QCOMPARE(g.Form3->PostFileCopySuccessCode->text(), QStringLiteral("3"));
    }

    // Values that begin and end with a quote come back as they were saved.
    void quotedValuesRoundTrip_data()
    {
        QTest::addColumn<QStringList>("filters");
        QTest::addColumn<QString>("dateFormat");
        QTest::newRow("one quoted entry") << QStringList{"my pics"} << "'Y'yyyy'-'mm'.'";
        QTest::newRow("quoted first and last") << QStringList{"a b", "jpg", "z z"} << "\"yyyy\"";
        QTest::newRow("lone empty entry") << QStringList{""} << " yyyy ";
    }
    void quotedValuesRoundTrip()
    {
        QFETCH(QStringList, filters);
        QFETCH(QString, dateFormat);
        Start();
        SelectDevice(QStringLiteral("Cam"));
        form_->Form4->SetFilterList(filters);
        form_->DateFormatEdit->setText(dateFormat);
        QTest::mouseClick(form_->SaveSettingsBitBtn, Qt::LeftButton);
        form_.reset();
        Start();
        QCOMPARE(form_->Form4->FilterList(), filters);
        QCOMPARE(form_->DateFormatEdit->text(), dateFormat);
    }

    void handEditedFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<int>("copyMode");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("current");
        QTest::newRow("more items counted than present")
            << QByteArray("[Ferrovane]\nDeviceCount=3\nLastDevice=b\n[Devices]\nItem0=a\nItem1=b\n[b]\nDeviceName=b\n")
            << QStringList{"a", "b"} << 0 << ""
            << "b";
        QTest::newRow("root backslash is the root") << QByteArray("[Ferrovane]\nDeviceCount=1\nLastDevice=a\n[Devices]"
                                                                  "\nItem0=a\n[a]\nDeviceName=a\nDeviceRoot=  \\  \n")
                                                    << QStringList{"a"} << 0 << ""
                                                    << "a";
        QTest::newRow("copy mode above 1 is 1")
            << QByteArray(
                   "[Ferrovane]\nDeviceCount=1\nLastDevice=a\n[Devices]\nItem0=a\n[a]\nDeviceName=a\nCopyMode=5\n")
            << QStringList{"a"} << 1 << ""
            << "a";
        QTest::newRow("negative copy mode is 0, case of names ignored")
            << QByteArray("[FERROVANE]\r\nDEVICECOUNT=1\r\nlastdevice=A\r\n[devices]\r\nitem0=a\r\n[A]\r\nDeviceName="
                          "a\r\nCopyMode=-3\r\n")
            << QStringList{"a"} << 0 << ""
            << "a";
        QTest::newRow("LastDevice naming no section")
            << QByteArray("[Ferrovane]\nDeviceCount=1\nLastDevice=gone\n[Devices]\nItem0=a\n") << QStringList{"a"} << 0
            << ""
            << "";
        QTest::newRow("garbage numbers") << QByteArray("[Ferrovane]\nDeviceCount=lots\nDebug=maybe\n") << QStringList{}
                                         << 0 << ""
                                         << "";
    }
    void handEditedFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, devices);
        QFETCH(int, copyMode);
        QFETCH(QString, root);
        QFETCH(QString, current);
        WriteIni(file);
        Start();
        QStringList items;
        for (int i = 0; i < form_->DeviceComboBox->count(); ++i)
            items << form_->DeviceComboBox->itemText(i);
        QCOMPARE(items, devices);
        QCOMPARE(form_->CopyModeRadioGroup->ItemIndex(), copyMode);
        QCOMPARE(form_->DateFormatEdit->isHidden(), copyMode == 1);
        QCOMPARE(form_->DeviceRootEdit->text(), root);
        QCOMPARE(form_->Connection.CurrentDeviceName, current);
        QCOMPARE(form_->DeviceComboBox->currentText(), current);
    }

    // The example follows the date field keystroke by keystroke, in the
    // program's regional settings.
    void dateExampleFollowsTyping()
    {
        Start();
        FormatSettings saved = ProcessFormatSettings();
        ProcessFormatSettings().DateSeparator = QLatin1Char('.');
        TForm1 &f = *form_;
        f.DateFormatEdit->Edit->clear();
        QTest::keyClicks(f.DateFormatEdit->Edit, QStringLiteral("yyyy/mm/dd"));
        QCOMPARE(f.DateFormatExampleEdit->text(), QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd")));
        QTest::keyClick(f.DateFormatEdit->Edit, Qt::Key_Backspace);
        QCOMPARE(f.DateFormatExampleEdit->text(), QDate::currentDate().toString(QStringLiteral("yyyy.MM.")) +
                                                      QString::number(QDate::currentDate().day()));
        f.DateFormatEdit->Edit->clear();
        QCOMPARE(f.DateFormatExampleEdit->text().left(4),
                 DateTimeToStr(QDateTime::currentDateTime(), ProcessFormatSettings()).left(4));
        ProcessFormatSettings() = saved;
    }

    void copyModeSwitchesDateFields()
    {
        Start();
        TForm1 &f = *form_;
        QTest::mouseClick(f.CopyModeRadioGroup->Buttons[1], Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(f.DateFormatEdit->isHidden() && f.DateFormatExampleEdit->isHidden());
        f.DisableUI(true);
        f.DisableUI(false);
        QVERIFY(f.DateFormatEdit->isHidden());
        QTest::mouseClick(f.CopyModeRadioGroup->Buttons[0], Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(f.DateFormatEdit->isVisible() && f.DateFormatExampleEdit->isVisible());
    }

    void noDeviceSelected()
    {
        Start();
        TForm1 &f = *form_;
        ModalWatcher watcher([](QWidget *w) { static_cast<QDialog *>(w)->reject(); });
        f.PostProcessingBitBtn->click();
        QCOMPARE(f.StatusBar1->currentMessage(), QStringLiteral("No device selected."));
        f.StatusBar1->clearMessage();
        f.DestSpeedButton->click();
        QCOMPARE(f.StatusBar1->currentMessage(), QStringLiteral("No device selected."));
        QCOMPARE(watcher.Seen(), 0);
    }

    void selectDestination()
    {
        Start();
        TForm1 &f = *form_;
        SelectDevice(QStringLiteral("Cam"));
        QTemporaryDir start, chosen;
        f.DestLabeledEdit->setText(start.path());
        QString startedAt;
        {
            ModalWatcher watcher([&](QWidget *w) {
                auto *dialog = qobject_cast<QFileDialog *>(w);
                QVERIFY(dialog);
                startedAt = dialog->directory().absolutePath();
                dialog->setDirectory(chosen.path());
                QMetaObject::invokeMethod(dialog, "accept");
            });
            f.DestSpeedButton->click();
        }
        QCOMPARE(startedAt, QDir(start.path()).absolutePath());
        QCOMPARE(f.DestLabeledEdit->text(), chosen.path());
        // Typed: the folders of the path so far are offered.
        QVERIFY(QDir(chosen.path()).mkdir(QStringLiteral("Trip 2026")));
        QCompleter *completer = f.DestLabeledEdit->Edit->completer();
        QVERIFY(completer && !f.DestLabeledEdit->Edit->isReadOnly());
        // The folders are read in the background as the path is typed: the
        // offer is asked for again until they are in.
        auto *folders = qobject_cast<QFileSystemModel *>(completer->model());
        QVERIFY(folders);
        folders->index(chosen.path());
        const auto offered = [&] {
            completer->setCompletionPrefix(chosen.path() + QStringLiteral("/Tr"));
            return completer->currentCompletion();
        };
        QTRY_COMPARE(offered(), chosen.path() + QStringLiteral("/Trip 2026"));
        // Cancelled: unchanged. A folder still to be made starts at the
        // nearest one of it that exists.
        const QString missing = chosen.path() + QStringLiteral("/2026/trip");
        f.DestLabeledEdit->setText(missing);
        {
            ModalWatcher watcher([&](QWidget *w) {
                startedAt = qobject_cast<QFileDialog *>(w)->directory().absolutePath();
                static_cast<QDialog *>(w)->reject();
            });
            f.DestSpeedButton->click();
        }
        QCOMPARE(f.DestLabeledEdit->text(), missing);
        QCOMPARE(startedAt, QDir(chosen.path()).absolutePath());
        // The top of the file system is refused, in the log.
        {
            ModalWatcher watcher([&](QWidget *w) {
                auto *dialog = qobject_cast<QFileDialog *>(w);
                dialog->setDirectory(QStringLiteral("/"));
                QMetaObject::invokeMethod(dialog, "accept");
            });
            f.DestSpeedButton->click();
        }
        QCOMPARE(f.DestLabeledEdit->text(), missing);
        QVERIFY(LogTexts(f.Log).last().startsWith(QStringLiteral("Destination path \"/\" is the top")));
    }

    // --- Options dialog -----------------------------------------------------

    void optionsWithoutThenWithDevice()
    {
        WriteIni("[Ferrovane]\nDeviceCount=1\n[Devices]\nItem0=Cam\n[Cam]\nDeviceName=Cam\nByteLevelCompare=1\n");
        Start();
        TForm1 &f = *form_;
        TForm4 &o = *f.Form4;
        {
            ModalWatcher watcher([&](QWidget *) {
                QVERIFY(!o.ByteLevelCompareCheckBox->isEnabled());
                QVERIFY(!o.DeleteFilesCheckBox->isEnabled());
                QVERIFY(!o.CopyOnConnectCheckBox->isEnabled());
                QVERIFY(!o.SkipImportedBeforeCheckBox->isEnabled());
                QVERIFY(!o.BackupPathEdit[0]->isEnabled() && !o.BackupPathButton[1]->isEnabled());
                QVERIFY(!o.FileFiltersCheckBox->isEnabled());
                QVERIFY(!o.ListBox1->isEnabled());
                QVERIFY(!o.DateSourceComboBox->isEnabled());
                QVERIFY(!o.AddDeviceTypesButton->isEnabled());
                QVERIFY(o.FilterHelpLabel->isHidden());
                QVERIFY(o.DebugCheckBox->isHidden());
                o.OKButton->click();
            });
            f.OptionsBitBtn->click();
        }
        QCOMPARE(Ini("Ferrovane", "MaxLogDays"), QStringLiteral("30"));
        QCOMPARE(Ini("Ferrovane", "Debug"), QStringLiteral("0"));
        QVERIFY(!IniFile(IniFilePath).SectionExists(QString()));

        // The device list's choice loads its section; here the test does it.
        f.Connection.CurrentDeviceName = QStringLiteral("Cam");
        o.ByteLevelCompareCheckBox->setChecked(
            IniFile(IniFilePath).ReadBool(QStringLiteral("Cam"), QStringLiteral("ByteLevelCompare"), false));
        {
            ModalWatcher watcher([&](QWidget *) {
                QVERIFY(o.ByteLevelCompareCheckBox->isEnabled());
                QVERIFY(o.ByteLevelCompareCheckBox->isChecked());
                QVERIFY(o.ListBox1->isEnabled());
                QVERIFY(o.FilterHelpLabel->isVisible());
                // Unchecking the filter disables the list and hides the help at once.
                o.FileFiltersCheckBox->click();
                QVERIFY(!o.ListBox1->isEnabled());
                QVERIFY(!o.AddDeviceTypesButton->isEnabled());
                QVERIFY(o.FilterHelpLabel->isHidden());
                o.FileFiltersCheckBox->click();
                QVERIFY(o.AddDeviceTypesButton->isEnabled());
                QVERIFY(o.DateSourceComboBox->isEnabled());
                QVERIFY(o.ListBox1->isEnabled());
                QVERIFY(o.FilterHelpLabel->isVisible());
                o.DeleteFilesCheckBox->click();
                o.OKButton->click();
            });
            f.OptionsBitBtn->click();
        }
        QCOMPARE(Ini("Cam", "DeleteFiles"), QStringLiteral("1"));
        QCOMPARE(Ini("Cam", "FileFiltersCheckBox"), QStringLiteral("1"));
        QVERIFY(LogHas(QStringLiteral("Options Saved.")));
    }

    void filterListEditing()
    {
        Start();
        TForm1 &f = *form_;
        TForm4 &o = *f.Form4;
        SelectDevice(QStringLiteral("Cam"));
        o.SetFilterList({});
        ModalWatcher watcher([&](QWidget *) {
            o.ListBox1->setFocus();
            QTRY_VERIFY(o.ListBox1->hasFocus());
            QTest::keyClick(o.ListBox1, Qt::Key_Insert);
            QCOMPARE(o.FilterList(), QStringList{"<New>"});
            QVERIFY(o.FilterEditor());
            QCOMPARE(o.FilterEditor()->text(), QStringLiteral("<New>"));
            QLineEdit *editor = o.FilterEditor();
            // The text is selected, so typing replaces it.
            QCOMPARE(editor->selectedText(), QStringLiteral("<New>"));
            QTest::keyClicks(editor, QStringLiteral("png"));
            QTest::keyClick(editor, Qt::Key_Escape);  // nothing special
            QVERIFY(o.FilterEditor());
            QTest::keyClick(editor, Qt::Key_Return);
            QCOMPARE(o.FilterList(), QStringList{"png"});
            QVERIFY(!o.FilterEditor());

            // An emptied editor does not commit and stays open.
            o.ListBox1->setCurrentRow(0);
            QTest::keyClick(o.ListBox1, Qt::Key_Return);
            QVERIFY(o.FilterEditor());
            QCOMPARE(o.FilterEditor()->selectedText(), QStringLiteral("png"));
            o.FilterEditor()->clear();
            QTest::keyClick(o.FilterEditor(), Qt::Key_Return);
            QVERIFY(o.FilterEditor());
            QCOMPARE(o.FilterList(), QStringList{"png"});
            QTest::keyClicks(o.FilterEditor(), QStringLiteral(" my pics "));
            QTest::keyClick(o.FilterEditor(), Qt::Key_Return);
            QCOMPARE(o.FilterList(), QStringList{" my pics "});

            // The context menu's entries do the same as the keys.
            o.InsertFilter1->trigger();
            QTest::keyClick(o.FilterEditor(), Qt::Key_Return);
            QCOMPARE(o.FilterList(), (QStringList{" my pics ", "<New>"}));
            o.DeleteFilter1->trigger();
            QCOMPARE(o.FilterList(), QStringList{" my pics "});
            o.ListBox1->setCurrentRow(0);
            QTest::keyClick(o.ListBox1, Qt::Key_Delete);
            QCOMPARE(o.FilterList(), QStringList{});
            QTest::keyClick(o.ListBox1, Qt::Key_Delete);  // nothing selected: nothing happens
            o.CancelButton->click();
        });
        f.OptionsBitBtn->click();
        QCOMPARE(watcher.Seen(), 1);
        QCOMPARE(o.FilterList(), QStringList{});  // as it was at opening
    }

    void okSortsAndCancelRestores()
    {
        Start();
        TForm1 &f = *form_;
        TForm4 &o = *f.Form4;
        SelectDevice(QStringLiteral("Cam"));
        o.SetFilterList({"jpg", "AVI", "mov"});
        {
            ModalWatcher watcher([&](QWidget *) {
                o.BackupPathEdit[0]->setText(QStringLiteral(" /media/b1 "));
                o.OKButton->click();
            });
            f.OptionsBitBtn->click();
        }
        QCOMPARE(o.FilterList(), (QStringList{"AVI", "jpg", "mov"}));
        QCOMPARE(Ini("Cam", "FileFilter"), QStringLiteral("AVI|jpg|mov"));
        QCOMPARE(Ini("Cam", "BackupPath1"), QStringLiteral("/media/b1"));
        QCOMPARE(f.Session->CurrentRunSettings().BackupPaths, (QStringList{"/media/b1", ""}));

        o.SetFilterList({"mov", "AVI", "jpg"});
        {
            ModalWatcher watcher([&](QWidget *) {
                o.ListBox1->setCurrentRow(0);
                o.DeleteFilter1->trigger();
                o.ListBox1->setCurrentRow(0);
                o.DeleteFilter1->trigger();
                o.ByteLevelCompareCheckBox->click();
                o.CopyOnConnectCheckBox->click();
                o.SkipImportedBeforeCheckBox->click();
                o.DateSourceComboBox->setCurrentIndex(1);
                o.BackupPathEdit[0]->clear();
                o.BackupPathEdit[1]->setText(QStringLiteral("/media/b2"));
                o.MaxLogDaysSpinEdit->SetText(QStringLiteral("7"));
                o.CancelButton->click();
            });
            f.OptionsBitBtn->click();
        }
        QCOMPARE(o.FilterList(), (QStringList{"mov", "AVI", "jpg"}));
        QVERIFY(!o.ByteLevelCompareCheckBox->isChecked());
        QVERIFY(!o.CopyOnConnectCheckBox->isChecked());
        QVERIFY(!o.SkipImportedBeforeCheckBox->isChecked());
        QCOMPARE(o.DateSourceComboBox->currentIndex(), 0);
        QCOMPARE(o.BackupPathEdit[0]->text(), QStringLiteral("/media/b1"));
        QCOMPARE(o.BackupPathEdit[1]->text(), QString());
        QCOMPARE(o.MaxLogDaysSpinEdit->Text(), QStringLiteral("30"));
    }

    // A list stored for a device is the user's: loading and saving keep it,
    // however the default list has grown.
    void storedFilterListIsKept()
    {
        const QByteArray old =
            "jpg|jpeg|tif|tiff|raw|mp3|flac|rec|m4a|mp4a|wma|ogg|asf|aiff|aac|3gp|wav|mov|mp4|m4v|avi|mxf";
        WriteIni("[Ferrovane]\nDeviceCount=2\nLastDevice=Old\n[Devices]\nItem0=Old\nItem1=New\n[Old]\nDeviceName=Old\n"
                 "FileFilter=" +
                 old + "\n[New]\nDeviceName=New\n");
        Start();
        QCOMPARE(form_->Form4->FilterList(), DecodeFileFilter(QString::fromLatin1(old)));
        QTest::mouseClick(form_->SaveSettingsBitBtn, Qt::LeftButton);
        QStringList sorted = DecodeFileFilter(QString::fromLatin1(old));
        SortFileFilter(sorted);
        QCOMPARE(Ini("Old", "FileFilter"), EncodeFileFilter(sorted));
        form_->Session->ChooseDevice(QStringLiteral("New"));
        QCOMPARE(form_->Form4->FilterList(), DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter)));
    }

    // The button beside the filter list adds the types of the files listed
    // from the device that the list lacks, after naming them; pressed and
    // answered by mouse and by keyboard.
    void addTypesFromDevice_data()
    {
        QTest::addColumn<QStringList>("files");  // names listed from the device
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("told");
        QTest::addColumn<QStringList>("list");  // afterwards, from jpg
        const QStringList files{"a.JPG", "b.NEF", "c.nef", "d.txt", "README", "e.Nef", "f.nef"};
        const QString asked = QStringLiteral("These file types are on the device and not in the list:\n\n"
                                             "NEF (4 files), TXT (1 file)\n\nAdd them to the list?");
        const QStringList added{"jpg", "nef", "txt"};
        QTest::newRow("mouse, yes") << files << false << int(QMessageBox::Yes) << asked << added;
        QTest::newRow("keyboard, Enter is yes") << files << true << int(QMessageBox::Yes) << asked << added;
        QTest::newRow("mouse, no") << files << false << int(QMessageBox::No) << asked << QStringList{"jpg"};
        QTest::newRow("keyboard, Escape is no") << files << true << int(QMessageBox::No) << asked << QStringList{"jpg"};
        QTest::newRow("nothing missing") << QStringList{"a.jpg", "README"} << false << int(QMessageBox::Ok)
                                         << "Every file type found on the device is in the list." << QStringList{"jpg"};
        QTest::newRow("nothing listed") << QStringList{} << true << int(QMessageBox::Ok)
                                        << "No files of the device are listed: connect the device first."
                                        << QStringList{"jpg"};
    }
    void addTypesFromDevice()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, keyboard);
        QFETCH(int, answer);
        QFETCH(QString, told);
        QFETCH(QStringList, list);
        Start();
        TForm1 &f = *form_;
        TForm4 &o = *f.Form4;
        SelectDevice(QStringLiteral("Cam"));
        o.SetFilterList({"jpg"});
        f.StringGrid2->AppendRow({"1", "DCIM.nef", "", "", "FOLDER", "/c/DCIM.nef", "0"});  // folders are no file type
        for (const QString &name : files)
            f.StringGrid2->AppendRow({"2", name, "1 KiB", "", "IMAGE", "/c/DCIM.nef/" + name, "1024"});
        QCOMPARE(o.AddDeviceTypesButton->accessibleName(), QStringLiteral("Add Types From Device"));
        QVERIFY(!o.AddDeviceTypesButton->toolTip().isEmpty());
        QCOMPARE(o.DateSourceComboBox->accessibleName(), QStringLiteral("Date folders from:"));
        QVERIFY(!o.DateSourceComboBox->toolTip().isEmpty());
        QCOMPARE(o.SkipImportedBeforeCheckBox->accessibleName(), QStringLiteral("Skip files imported before"));
        QVERIFY(!o.SkipImportedBeforeCheckBox->toolTip().isEmpty());

        QString shown;
        bool pressed = false;
        {
            ModalWatcher watcher([&](QWidget *w) {
                if (w == &o) {
                    if (pressed)
                        return;
                    pressed = true;
                    if (keyboard) {
                        o.AddDeviceTypesButton->setFocus();
                        QTRY_VERIFY(o.AddDeviceTypesButton->hasFocus());
                    }
                    // From the event loop: the box's own loop must let the watcher answer it.
                    QTimer::singleShot(0, &o, [&] {
                        if (keyboard)
                            QTest::keyClick(o.AddDeviceTypesButton, Qt::Key_Space);
                        else
                            QTest::mouseClick(o.AddDeviceTypesButton, Qt::LeftButton);
                    });
                    return;
                }
                auto *box = qobject_cast<QMessageBox *>(w);
                QVERIFY(box);
                shown = box->text();
                if (keyboard)
                    QTest::keyClick(box, answer == QMessageBox::No ? Qt::Key_Escape : Qt::Key_Return);
                else
                    QTest::mouseClick(box->button(QMessageBox::StandardButton(answer)), Qt::LeftButton);
            });
            o.show();
            QTRY_VERIFY(!shown.isEmpty());
            QTRY_COMPARE(QApplication::activeModalWidget(), static_cast<QWidget *>(&o));
            QCOMPARE(o.FilterList(), list);
            o.OKButton->click();
        }
        QCOMPARE(shown, told);
        QCOMPARE(Ini("Cam", "FileFilter"), list.join(QLatin1Char('|')));
    }

    // The Debug switch acts at once, survives Cancel for this run, and is
    // stored only by OK.
    void debugSwitch()
    {
        WriteIni("[Ferrovane]\nDebug=1\n");
        Start();
        TForm1 &f = *form_;
        TForm4 &o = *f.Form4;
        QVERIFY(DebugFlag);
        {
            ModalWatcher watcher([&](QWidget *) {
                QVERIFY(o.DebugCheckBox->isVisible());
                QVERIFY(o.DebugCheckBox->isChecked());
                o.DebugCheckBox->click();
                QVERIFY(!DebugFlag);
                o.CancelButton->click();
            });
            f.OptionsBitBtn->click();
        }
        QVERIFY(!DebugFlag);
        QCOMPARE(Ini("Ferrovane", "Debug"), QStringLiteral("1"));
        {
            ModalWatcher watcher([&](QWidget *) { o.OKButton->click(); });
            f.OptionsBitBtn->click();
        }
        QCOMPARE(Ini("Ferrovane", "Debug"), QStringLiteral("0"));
    }

    void keepLogsField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::newRow("in range") << "45"
                                  << "45";
        QTest::newRow("too large") << "1500"
                                   << "999";
        QTest::newRow("empty") << ""
                               << "0";
        QTest::newRow("not a number") << "abc"
                                      << "0";
        QTest::newRow("negative") << "-4"
                                  << "0";
    }
    void keepLogsField()
    {
        QFETCH(QString, typed);
        QFETCH(QString, after);
        Start();
        TForm4 &o = *form_->Form4;
        QString seen;
        ModalWatcher watcher([&](QWidget *) {
            o.MaxLogDaysSpinEdit->setFocus();
            QTRY_VERIFY(o.MaxLogDaysSpinEdit->hasFocus());
            o.MaxLogDaysSpinEdit->SetText(QString());
            QTest::keyClicks(o.MaxLogDaysSpinEdit, typed);
            // Leaving the field is what normalises it.
            o.ChangeStyleButton->setFocus();
            QTRY_VERIFY(o.ChangeStyleButton->hasFocus());
            seen = o.MaxLogDaysSpinEdit->Text();
            o.OKButton->click();
        });
        form_->OptionsBitBtn->click();
        QCOMPARE(seen, after);
        QCOMPARE(Ini("Ferrovane", "MaxLogDays"), after);
    }

    // A stored value the field would not accept from its buttons is shown as
    // it stands, every time the dialog opens, and is normalised only when the
    // user leaves the field, as typed text is.
    void keepLogsStoredText_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("normalised");
        QTest::newRow("too large") << "1500"
                                   << "999";
        QTest::newRow("not a number") << "abc"
                                      << "0";
        QTest::newRow("negative") << "-3"
                                  << "0";
        QTest::newRow("empty") << ""
                               << "0";
        QTest::newRow("in range") << "45"
                                  << "45";
        QTest::newRow("more digits than a number holds") << "123456789012345678901234"
                                                         << "999";
    }
    void keepLogsStoredText()
    {
        QFETCH(QString, stored);
        QFETCH(QString, normalised);
        WriteIni("[Ferrovane]\nMaxLogDays=" + stored.toUtf8() + "\n");
        Start();
        TForm4 &o = *form_->Form4;
        QCOMPARE(o.MaxLogDaysSpinEdit->Text(), stored);
        // Shown, closed and shown again, the field keeps the stored text, and
        // OK without entering the field writes it back unchanged.
        for (QPushButton *button : {o.CancelButton, o.OKButton}) {
            QString seen;
            ModalWatcher watcher([&](QWidget *) {
                seen = o.MaxLogDaysSpinEdit->Text();
                button->click();
            });
            form_->OptionsBitBtn->click();
            QCOMPARE(watcher.Seen(), 1);
            QCOMPARE(seen, stored);
            QCOMPARE(o.MaxLogDaysSpinEdit->Text(), stored);
        }
        QCOMPARE(Ini("Ferrovane", "MaxLogDays"), stored);

        // Entering and leaving the field normalises it.
        QString left;
        bool focusCameAndWent = false;
        ModalWatcher watcher([&](QWidget *dialog) {
            if (QTest::qWaitForWindowActive(dialog)) {
                o.MaxLogDaysSpinEdit->setFocus();
                if (QTest::qWaitFor([&] { return o.MaxLogDaysSpinEdit->hasFocus(); })) {
                    o.ChangeStyleButton->setFocus();
                    focusCameAndWent = QTest::qWaitFor([&] { return !o.MaxLogDaysSpinEdit->hasFocus(); });
                }
            }
            left = o.MaxLogDaysSpinEdit->Text();
            o.OKButton->click();
        });
        form_->OptionsBitBtn->click();
        QVERIFY(focusCameAndWent);
        QCOMPARE(left, normalised);
        QCOMPARE(Ini("Ferrovane", "MaxLogDays"), normalised);
    }

    // The up and down buttons step within 0 to 999 from the number the text
    // holds.
    void keepLogsSteps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("after");
        QTest::newRow("up") << "30" << 1 << "31";
        QTest::newRow("down") << "30" << -1 << "29";
        QTest::newRow("down at 0") << "0" << -1 << "0";
        QTest::newRow("up at 999") << "999" << 1 << "999";
        QTest::newRow("up from too large") << "1500" << 1 << "999";
        QTest::newRow("up from text") << "abc" << 1 << "1";
    }
    void keepLogsSteps()
    {
        QFETCH(QString, text);
        QFETCH(int, steps);
        QFETCH(QString, after);
        Start();
        SpinEdit *field = form_->Form4->MaxLogDaysSpinEdit;
        field->SetText(text);
        field->stepBy(steps);
        QCOMPARE(field->Text(), after);
    }

    // On a dark style the help texts stay readable: lighter text in Options,
    // a light background in Post Processing. The platform's own style keeps them.
    void darkStyleHelpColours_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<bool>("adjusted");
        QTest::newRow("dark style") << "Carbon" << true;
        QTest::newRow("platform style") << "Windows" << false;
    }
    void darkStyleHelpColours()
    {
        QFETCH(QString, style);
        QFETCH(bool, adjusted);
        Start();
        SelectDevice(QStringLiteral("Cam"));
        const QPalette saved = QApplication::palette();
        QPalette dark = saved;
        const QColor face(0x30, 0x30, 0x30);
        dark.setColor(QPalette::Button, face);
        QApplication::setPalette(dark);
        ChosenStyleName = style;
        QColor optionsText, postBackground;
        {
            ModalWatcher watcher([&](QWidget *) {
                optionsText = form_->Form4->FilterHelpLabel->palette().color(QPalette::WindowText);
                form_->Form4->CancelButton->click();
            });
            form_->OptionsBitBtn->click();
        }
        form_->Form3->PostFileCopyCommandCheckBox->setChecked(true);
        {
            ModalWatcher watcher([&](QWidget *) {
                postBackground = form_->Form3->PostFileCopyHelpLabel->palette().color(QPalette::Window);
                QCOMPARE(form_->Form3->PostFileCopyHelpLabel->autoFillBackground(), adjusted);
                form_->Form3->CancelButton->click();
            });
            form_->PostProcessingBitBtn->click();
        }
        QApplication::setPalette(saved);
        ChosenStyleName = QStringLiteral("Auric");
        QCOMPARE(optionsText == LightenColor(face, 800), adjusted);
        if (adjusted)
            QCOMPARE(postBackground, LightenColor(face, 500));
    }

    void busyDisablesOptionsFields()
    {
        Start();
        form_->DisableUI(true);
        QVERIFY(!form_->Form4->MaxLogDaysSpinEdit->isEnabled());
        QVERIFY(!form_->Form4->DebugCheckBox->isEnabled());
        form_->DisableUI(false);
        QVERIFY(form_->Form4->MaxLogDaysSpinEdit->isEnabled());
        QVERIFY(form_->Form4->DebugCheckBox->isEnabled());
    }

    // The Options dialog shows its hints on a line of its own: the control
    // under the mouse, else the one with the focus. Its list and its number
    // box have names a screen reader can say.
    void optionsHintLine()
    {
        Start();
        TForm4 &o = *form_->Form4;
        o.show();
        QVERIFY(QTest::qWaitForWindowActive(&o));
        const auto hideDialog = qScopeGuard([&] { o.hide(); });
        QList<QLabel *> lines;
        for (QLabel *label : o.findChildren<QLabel *>())
            if (label->accessibleName() == QLatin1String("Hint"))
                lines << label;
        QCOMPARE(lines.size(), 1);
        QLabel *line = lines.first();
        QStatusTipEvent hover(o.ByteLevelCompareCheckBox->statusTip());
        QApplication::sendEvent(o.ByteLevelCompareCheckBox, &hover);
        QCOMPARE(line->text(), QStringLiteral("Perform a slower byte level comparison of all files."));
        o.MaxLogDaysSpinEdit->setFocus();
        QStatusTipEvent leave{QString()};
        QApplication::sendEvent(o.ByteLevelCompareCheckBox, &leave);
        QTRY_COMPARE(line->text(), o.MaxLogDaysSpinEdit->statusTip());
        QCOMPARE(o.ListBox1->accessibleName(), QStringLiteral("File types"));
        QCOMPARE(o.MaxLogDaysSpinEdit->accessibleName(), QStringLiteral("Keep logs (days)"));
    }

    // --- Post Processing dialog ----------------------------------------------

    void postProcessingEnableRules()
    {
        Start();
        TForm1 &f = *form_;
        TForm3 &p = *f.Form3;
        SelectDevice(QStringLiteral("Cam"));
        ModalWatcher watcher([&](QWidget *) {
            for (QWidget *w : {static_cast<QWidget *>(p.PostFileCopyCommandLabeledEdit),
                               static_cast<QWidget *>(p.PostFileCopyForceCheckBox),
                               static_cast<QWidget *>(p.PostFileCopySuccessCode),
                               static_cast<QWidget *>(p.PostProcessingCommandLabeledEdit),
                               static_cast<QWidget *>(p.PostProcessingSuccessCode)})
                QVERIFY(!w->isEnabled());
            QVERIFY(p.PostFileCopyHelpLabel->isHidden());
            QVERIFY(p.PostProcessingHelpLabel->isHidden());
            p.PostFileCopyCommandCheckBox->click();
            QVERIFY(p.PostFileCopyCommandLabeledEdit->isEnabled());
            QVERIFY(p.PostFileCopyForceCheckBox->isEnabled());
            QVERIFY(p.PostFileCopyHelpLabel->isVisible());
            QVERIFY(!p.PostProcessingCommandLabeledEdit->isEnabled());
            // Success codes take digits only.
            p.PostFileCopySuccessCode->clear();
            QTest::keyClicks(p.PostFileCopySuccessCode, QStringLiteral("1a2-"));
            QCOMPARE(p.PostFileCopySuccessCode->text(), QStringLiteral("12"));
            p.PostFileCopyCommandLabeledEdit->setText(QStringLiteral("copy /Y \"[Path][File]\" D:\\Backup\\"));
            p.PostProcessingSuccessCode->clear();
            p.OKButton->click();
        });
        f.PostProcessingBitBtn->click();
        QCOMPARE(watcher.Seen(), 1);
        QCOMPARE(Ini("Cam", "PostFileCopyCommandCheckBox"), QStringLiteral("1"));
        QCOMPARE(IniFile(IniFilePath).ReadCommand("Cam", "PostFileCopyCommandLabeledEdit", QString()),
                 QStringLiteral("copy /Y \"[Path][File]\" D:\\Backup\\"));
        QCOMPARE(Ini("Cam", "PostFileCopySuccessCode"), QStringLiteral("12"));
        QCOMPARE(Ini("Cam", "PostProcessingSuccessCode"), QString());
        QVERIFY(LogHas(QStringLiteral("Post Processing Options Saved.")));
    }

    // Each help text is shown whole, with one or both commands on, and the
    // examples are written for the shell the commands run in.
    void postProcessingHelpFits_data()
    {
        QTest::addColumn<bool>("fileOn");
        QTest::addColumn<bool>("processingOn");
        QTest::newRow("both") << true << true;
        QTest::newRow("per file") << true << false;
        QTest::newRow("after all") << false << true;
    }
    void postProcessingHelpFits()
    {
        QFETCH(bool, fileOn);
        QFETCH(bool, processingOn);
        Start();
        TForm1 &f = *form_;
        TForm3 &p = *f.Form3;
        SelectDevice(QStringLiteral("Cam"));
        auto whole = [&p](QLabel *help) {
            return help->isHidden() ||
                   (help->height() >= help->heightForWidth(help->width()) && p.rect().contains(help->geometry()));
        };
        bool fits = false;
        ModalWatcher watcher([&](QWidget *) {
            if (fileOn)
                p.PostFileCopyCommandCheckBox->click();
            if (processingOn)
                p.PostProcessingCommandCheckBox->click();
            fits = QTest::qWaitFor([&] {
                return whole(p.PostFileCopyHelpLabel) && whole(p.PostProcessingHelpLabel) &&
                       p.rect().contains(p.OKButton->geometry());
            });
            p.CancelButton->click();
        });
        f.PostProcessingBitBtn->click();
        QCOMPARE(watcher.Seen(), 1);
        QVERIFY(fits);
        for (QLabel *help : {p.PostFileCopyHelpLabel, p.PostProcessingHelpLabel}) {
            const QString text = help->text();
            QVERIFY2(!text.contains(QLatin1String("C:")) && !text.contains(QLatin1String("copy /Y")), qPrintable(text));
            QVERIFY(text.contains(QLatin1String("/usr/local/bin/")));
        }
        QVERIFY(p.PostFileCopyHelpLabel->text().contains(QLatin1String("cp [Path][File] ~/Backup/")));
    }

    void postProcessingCancelRestores()
    {
        Start();
        TForm1 &f = *form_;
        TForm3 &p = *f.Form3;
        SelectDevice(QStringLiteral("Cam"));
        p.PostProcessingCommandCheckBox->setChecked(true);
        p.PostProcessingCommandLabeledEdit->setText(QStringLiteral("sync"));
        const QByteArray before = ReadIniBytes();
        ModalWatcher watcher([&](QWidget *) {
            p.PostProcessingCommandCheckBox->click();
            p.PostProcessingCommandLabeledEdit->setText(QStringLiteral("rm -rf /"));
            QVERIFY(!p.PostProcessingCommandLabeledEdit->isEnabled());
            p.CancelButton->click();
        });
        f.PostProcessingBitBtn->click();
        QVERIFY(p.PostProcessingCommandCheckBox->isChecked());
        QCOMPARE(p.PostProcessingCommandLabeledEdit->text(), QStringLiteral("sync"));
        QVERIFY(p.PostProcessingCommandLabeledEdit->isEnabled());
        QCOMPARE(ReadIniBytes(), before);
    }

    // A settings file that cannot be written: the error is reported, the
    // program goes on.
    // Close with changed settings asks whether to save them; unchanged, it asks nothing.
    void closeAsksAboutChangedSettings_data()
    {
        QTest::addColumn<bool>("change");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QString>("saved");  // the destination in the file afterwards
        QTest::newRow("unchanged") << false << 0 << true << "/old";
        QTest::newRow("save") << true << int(QMessageBox::Save) << true << "/new";
        QTest::newRow("discard") << true << int(QMessageBox::Discard) << true << "/old";
        QTest::newRow("cancel") << true << int(QMessageBox::Cancel) << false << "/old";
        // Saved by the dialog's OK already: nothing to ask.
        QTest::newRow("an option, saved by its dialog") << false << 0 << true << "/old";
    }
    void closeAsksAboutChangedSettings()
    {
        QFETCH(bool, change);
        QFETCH(int, answer);
        QFETCH(bool, closed);
        QFETCH(QString, saved);
        WriteIni("[Ferrovane]\nDeviceCount=1\nLastDevice=Cam\n[Devices]\nItem0=Cam\n[Cam]\nDeviceName=Cam\n"
                 "DestPath=/old\n");
        Start();
        TForm1 &f = *form_;
        if (change)
            f.DestLabeledEdit->setText(QStringLiteral("/new"));
        if (QByteArray(QTest::currentDataTag()).startsWith("an option")) {
            ModalWatcher options([&](QWidget *) {
                f.Form4->ByteLevelCompareCheckBox->setChecked(true);
                f.Form4->OKButton->click();
            });
            f.OptionsBitBtn->click();
            QCOMPARE(Ini("Cam", "ByteLevelCompare"), QStringLiteral("1"));
        }
        {
            ModalWatcher watcher([&](QWidget *w) {
                auto *box = qobject_cast<QMessageBox *>(w);
                QVERIFY(box && box->informativeText().contains(QStringLiteral("\"Cam\"")));
                box->button(QMessageBox::StandardButton(answer))->click();
            });
            f.CloseButton->click();
            QCOMPARE(watcher.Seen(), answer ? 1 : 0);
        }
        QCOMPARE(f.isVisible(), !closed);
        QCOMPARE(Ini("Cam", "DestPath"), saved);
    }

    // A settings file that cannot be written: said once at the start and at
    // each save, never in a box; everything else works and the window closes.
    void unwritableSettingsFile_data()
    {
        QTest::addColumn<bool>("folderIsFile");
        QTest::newRow("the file is a folder") << false;
        QTest::newRow("its folder is a file") << true;
    }
    void unwritableSettingsFile()
    {
        QFETCH(bool, folderIsFile);
        const QString folder = QFileInfo(IniFilePath).path();
        const QString blocked = folderIsFile ? folder : IniFilePath;
        QDir(folder).removeRecursively();
        if (folderIsFile) {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(IniFilePath));
        }
        const auto unblock = qScopeGuard([&] {
            QFile::remove(blocked);
            QDir(blocked).removeRecursively();
            SetProgramFolders();
        });
        ModalWatcher watcher([](QWidget *w) { QFAIL(qPrintable(w->objectName() + w->windowTitle())); });
        Start();
        TForm1 &f = *form_;
        const auto said = [&](const QString &start) {
            const QStringList lines = LogTexts(f.Log);
            return int(std::count_if(lines.cbegin(), lines.cend(),
                                     [&](const QString &line) { return line.startsWith(start); }));
        };
        const QString cannot =
            QStringLiteral("The settings file ") + IniFilePath + QStringLiteral(" cannot be written");
        QCOMPARE(said(cannot), 1);
        // A device met for the first time is listed all the same.
        service_.AddDevice(QStringLiteral("cam"), QStringLiteral("Cam"));
        const auto unplug = qScopeGuard([&] { service_.RemoveDevice(QStringLiteral("cam")); });
        QTest::mouseClick(f.ScanPortableDevicesButton, Qt::LeftButton);
        QTRY_COMPARE(f.DeviceComboBox->count(), 1);
        const QString notSaved = QStringLiteral("The settings were not saved: Unable to write to ") + IniFilePath;
        QTest::mouseClick(f.SaveSettingsBitBtn, Qt::LeftButton);
        QTest::mouseClick(f.SaveSettingsBitBtn, Qt::LeftButton);
        QCOMPARE(said(notSaved), 2);
        QCOMPARE(said(cannot), 1);
        QVERIFY(!LogHas(QStringLiteral("Settings Saved.")));
        QVERIFY(!f.ExceptionOccurred);
        QVERIFY(f.CopyBitBtn->isEnabled() && f.CloseButton->isEnabled());
        QTest::mouseClick(f.CloseButton, Qt::LeftButton);
        QVERIFY(!f.isVisible());
        QCOMPARE(watcher.Seen(), 0);
    }

    // --- window geometry -----------------------------------------------------

    void geometryRoundTrip()
    {
        Start();
        form_->setGeometry(100, 80, 700, 900);
        QTRY_COMPARE(form_->geometry(), QRect(100, 80, 700, 900));
        form_->Geometry->Save();
        QCOMPARE(Ini("Ferrovane", "WindowState"), QStringLiteral("0"));
        form_.reset();
        Start();
        QTRY_COMPARE(form_->geometry(), QRect(100, 80, 700, 900));
    }

    void maximisedRoundTrip()
    {
        Start();
        form_->setGeometry(50, 60, 650, 850);
        QTRY_COMPARE(form_->geometry(), QRect(50, 60, 650, 850));
        form_->showMaximized();
        QTRY_VERIFY(form_->isMaximized());
        form_->Geometry->Save();
        QCOMPARE(Ini("Ferrovane", "WindowState"), QStringLiteral("2"));
        QCOMPARE(Ini("Ferrovane", "Width"), QStringLiteral("650"));
        QCOMPARE(Ini("Ferrovane", "Left"), QStringLiteral("50"));
        form_.reset();
        Start();
        QTRY_VERIFY(form_->isMaximized());
        form_->showNormal();
        QTRY_COMPARE(form_->geometry(), QRect(50, 60, 650, 850));
    }

    void minimisedOpensNormal()
    {
        WriteIni("[Ferrovane]\nWidth=640\nHeight=850\nLeft=10\nTop=20\nWindowState=1\n");
        Start();
        QVERIFY(!form_->isMinimized());
        QVERIFY(!form_->isMaximized());
        QTRY_COMPARE(form_->geometry(), QRect(10, 20, 640, 850));
    }

    void firstStartIsCentred()
    {
        Start();
        const QRect screen = form_->screen()->geometry();
        QCOMPARE(form_->geometry().x(), (screen.width() - form_->width()) / 2);
        // The test screen is barely taller than the window; the platform may
        // nudge the frame to keep it on screen.
        QVERIFY(qAbs(form_->geometry().y() - (screen.height() - form_->height()) / 2) <= 2);
    }
};

FERROVANE_TEST_MAIN(TestSettingsDialogs)
#include "tst_settingsdialogs.moc"
