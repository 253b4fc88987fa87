#include "common/FormTest.h"
#include "common/TestMain.h"

#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "device/fake/FakeDeviceService.h"
#include "settings/IniFile.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;

    QWidget *Control(const QString &name)
    {
        TForm1 &f = *form_;
        const QMap<QString, QWidget *> controls = {
            {"Label1", f.Label1},
            {"DeviceComboBox", f.DeviceComboBox},
            {"DeviceConnectSpeedButton", f.DeviceConnectSpeedButton},
            {"ScanPortableDevicesButton", f.ScanPortableDevicesButton},
            {"DeleteDeviceButton", f.DeleteDeviceButton},
            {"AddFolderButton", f.AddFolderButton},
            {"CopyModeRadioGroup", f.CopyModeRadioGroup},
            {"DateFormatEdit", f.DateFormatEdit},
            {"DateFormatExampleEdit", f.DateFormatExampleEdit},
            {"DeviceRootEdit", f.DeviceRootEdit},
            {"DeviceRootSpeedButton", f.DeviceRootSpeedButton},
            {"OptionsBitBtn", f.OptionsBitBtn},
            {"DestLabeledEdit", f.DestLabeledEdit},
            {"DestSpeedButton", f.DestSpeedButton},
            {"PostProcessingBitBtn", f.PostProcessingBitBtn},
            {"SearchLabeledEdit", f.SearchLabeledEdit},
            {"SearchBitBtn", f.SearchBitBtn},
            {"SaveSettingsBitBtn", f.SaveSettingsBitBtn},
            {"StringGrid1", f.StringGrid1},
            {"CopyBitBtn", f.CopyBitBtn},
            {"StopBitBtn", f.StopBitBtn},
            {"ProgressBar1", f.ProgressBar1},
            {"RichEdit1", f.RichEdit1},
            {"ViewLogsBitBtn", f.ViewLogsBitBtn},
            {"HelpButton", f.HelpButton},
            {"AboutButton", f.AboutButton},
            {"CloseButton", f.CloseButton},
        };
        return controls.value(name);
    }

    static QPoint TopLeft(QWidget *w) { return w->mapTo(w->window(), QPoint(0, 0)); }

private slots:
    void init() { StartForm(form_, service_); }
    void cleanup() { form_.reset(); }

    // The shortcuts work while the grid has the focus, and only then.
    void gridShortcuts()
    {
        TForm1 &f = *form_;
        QSignalSpy open(f.Open1, &QAction::triggered);
        QSignalSpy copy(f.Copy1, &QAction::triggered);
        QSignalSpy del(f.Delete1, &QAction::triggered);
        f.activateWindow();
        f.StringGrid1->setFocus();
        QTRY_VERIFY(f.StringGrid1->hasFocus());
        QTest::keyClick(f.StringGrid1, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(f.StringGrid1, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(f.StringGrid1, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(open.count(), 1);
        QCOMPARE(copy.count(), 1);
        QCOMPARE(del.count(), 1);

        f.SearchLabeledEdit->Edit->setFocus();
        QTRY_VERIFY(f.SearchLabeledEdit->Edit->hasFocus());
        QTest::keyClick(f.SearchLabeledEdit->Edit, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(del.count(), 1);
    }

    // Ctrl+Q closes as Close does, and only while Close is enabled.
    void quitKey_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("idle") << false;
        QTest::newRow("busy") << true;
    }
    void quitKey()
    {
        QFETCH(bool, busy);
        TForm1 &f = *form_;
        f.DisableUI(busy);
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(f.isVisible(), busy);
        QCOMPARE(LogTexts(f.Log).contains(QStringLiteral("Program exited by user.")), !busy);
    }

    // Tab runs through every control in reading order and back to its
    // start, round and round; Shift+Tab runs it backwards. In the
    // folder-structure mode the date fields are hidden and passed over, and
    // the copy mode group's stop is its chosen option.
    void tabOrder_data()
    {
        QTest::addColumn<bool>("folderMode");
        QTest::newRow("dated folders") << false;
        QTest::newRow("folder structure") << true;
    }
    void tabOrder()
    {
        QFETCH(bool, folderMode);
        TForm1 &f = *form_;
        if (folderMode)
            QTest::mouseClick(f.CopyModeRadioGroup->Buttons[1], Qt::LeftButton);
        QList<QWidget *> cycle = {
            f.DeviceComboBox,
            f.DeviceConnectSpeedButton,
            f.AddFolderButton,
            f.ScanPortableDevicesButton,
            f.DeleteDeviceButton,
            f.CopyModeRadioGroup->Buttons[folderMode ? 1 : 0],
            f.DateFormatEdit->Edit,
            f.DateFormatExampleEdit->Edit,
            f.DeviceRootEdit->Edit,
            f.DeviceRootSpeedButton,
            f.OptionsBitBtn,
            f.DestLabeledEdit->Edit,
            f.DestSpeedButton,
            f.PostProcessingBitBtn,
            f.SearchLabeledEdit->Edit,
            f.SearchBitBtn,
            f.SaveSettingsBitBtn,
            f.StringGrid1,
            f.CopyBitBtn,
            // StopBitBtn is disabled while idle, and is passed over.
            f.RichEdit1,
            f.ViewLogsBitBtn,
            f.PreviewBitBtn,
            f.HelpButton,
            f.AboutButton,
            f.CloseButton,
        };
        if (folderMode) {
            cycle.removeOne(f.DateFormatEdit->Edit);
            cycle.removeOne(f.DateFormatExampleEdit->Edit);
        }
        auto name = [](QWidget *w) {
            return w ? QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->accessibleName()
                     : QStringLiteral("none");
        };
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.DeviceComboBox->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(f.DeviceComboBox->hasFocus());
        const int steps = 2 * int(cycle.size()) + 1;
        for (int i = 1; i <= steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTRY_VERIFY2(QApplication::focusWidget() == cycle[i % cycle.size()],
                         qPrintable(QStringLiteral("Tab %1: %2").arg(i).arg(name(QApplication::focusWidget()))));
        }
        for (int i = steps - 1; i >= -1; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            const int at = (i + int(cycle.size())) % int(cycle.size());
            QTRY_VERIFY2(QApplication::focusWidget() == cycle[at],
                         qPrintable(QStringLiteral("Shift+Tab %1: %2").arg(i).arg(name(QApplication::focusWidget()))));
        }
    }

    // What a screen reader says for each control: its caption, or its hint
    // where it has none.
    void accessibleNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("DeviceComboBox") << "DeviceComboBox"
                                        << "Source Device (Camera):";
        QTest::newRow("Connect") << "DeviceConnectSpeedButton"
                                 << "Connect";
        QTest::newRow("Scan") << "ScanPortableDevicesButton"
                              << "Refresh portable device list.";
        QTest::newRow("DeleteDevice") << "DeleteDeviceButton"
                                      << "Delete the device from the list.";
        QTest::newRow("AddFolder") << "AddFolderButton"
                                   << "Add Folder\u2026";
        QTest::newRow("CopyMode") << "CopyModeRadioGroup"
                                  << "Copy Mode:";
        QTest::newRow("DateFormat") << "DateFormatEdit"
                                    << "Date Format:";
        QTest::newRow("DateExample") << "DateFormatExampleEdit"
                                     << "Date Example:";
        QTest::newRow("DeviceRoot") << "DeviceRootEdit"
                                    << "Device Root Path: (Blank is device root)";
        QTest::newRow("DeviceRootButton") << "DeviceRootSpeedButton"
                                          << "Select device root path.";
        QTest::newRow("Options") << "OptionsBitBtn"
                                 << "Options";
        QTest::newRow("Dest") << "DestLabeledEdit"
                              << "Destination Path:";
        QTest::newRow("DestButton") << "DestSpeedButton"
                                    << "Select a destination path.";
        QTest::newRow("PostProcessing") << "PostProcessingBitBtn"
                                        << "Post Processing";
        QTest::newRow("Search") << "SearchLabeledEdit"
                                << "Search:";
        QTest::newRow("SearchButton") << "SearchBitBtn"
                                      << "Search";
        QTest::newRow("SaveSettings") << "SaveSettingsBitBtn"
                                      << "Save Settings";
        QTest::newRow("Grid") << "StringGrid1"
                              << "Double-click to open the file.";
        QTest::newRow("Copy") << "CopyBitBtn"
                              << "Copy";
        QTest::newRow("Stop") << "StopBitBtn"
                              << "Stop";
        QTest::newRow("Progress") << "ProgressBar1"
                                  << "Copy progress";
        QTest::newRow("Log") << "RichEdit1"
                             << "Activity log.";
        QTest::newRow("ViewLogs") << "ViewLogsBitBtn"
                                  << "View Logs";
        QTest::newRow("Help") << "HelpButton"
                              << "Help";
        QTest::newRow("About") << "AboutButton"
                               << "About";
        QTest::newRow("Close") << "CloseButton"
                               << "Close";
    }
    void accessibleNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, spoken);
        QWidget *w = Control(name);
        if (auto *edit = qobject_cast<LabeledEdit *>(w))
            w = edit->Edit;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
        QVERIFY(face);
        QCOMPARE(face->text(QAccessible::Name), spoken);
    }
    // And no control of the window is left without one.
    void everyControlIsNamed()
    {
        for (QWidget *w : form_->findChildren<QWidget *>()) {
            const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
                                 qobject_cast<QComboBox *>(w) || qobject_cast<QTableView *>(w) ||
                                 qobject_cast<LogView *>(w) || qobject_cast<QProgressBar *>(w);
            if (!control || !w->isVisible() || w->window() != form_.get() || w->parentWidget()->inherits("QTableView"))
                continue;
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
            QVERIFY(face);
            QVERIFY2(!face->text(QAccessible::Name).isEmpty(), w->metaObject()->className());
        }
    }

    // View Logs says so when nothing can show the folder.
    void viewLogsWithoutAFileManager_data()
    {
        QTest::addColumn<QString>("opener");  // the xdg-open on PATH, empty for none
        QTest::addColumn<QString>("reason");
        QTest::newRow("no xdg-open") << ""
                                     << "xdg-open was not found, so no file manager can be asked to show it.";
        QTest::newRow("no method") << "exit 3"
                                   << "no file manager is set up to open folders (xdg-open: no method available).";
        QTest::newRow("failed") << "exit 4"
                                << "xdg-open ended with code 4.";
    }
    void viewLogsWithoutAFileManager()
    {
        QFETCH(QString, opener);
        QFETCH(QString, reason);
        QTemporaryDir bin;
        if (!opener.isEmpty()) {
            QFile script(bin.path() + QStringLiteral("/xdg-open"));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n" + opener.toUtf8() + "\n");
            script.close();
            script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":/usr/bin:/bin");
        if (opener.isEmpty())
            qputenv("PATH", QFile::encodeName(bin.path()));
        const qsizetype before = form_->Log.Document().LineCount();
        form_->ViewLogsBitBtn->click();
        qputenv("PATH", path);
        const QString line =
            QStringLiteral("Could not open the log folder ") + UserDataFolder + QStringLiteral(": ") + reason;
        QTRY_VERIFY_WITH_TIMEOUT(LogTexts(form_->Log, before).contains(line), 30000);
        QCOMPARE(form_->Log.Document().Line(form_->Log.Document().LineCount() - 1).color, LogColor::Red);
    }

    // A stored place off every screen, a height the screen has not, or a size
    // below the design is not used as it is; the design minimum gives way
    // only to the screen.
    void storedGeometryIsKeptOnScreen_data()
    {
        QTest::addColumn<QRect>("stored");
        QTest::addColumn<int>("width");  // 0: the design width
        QTest::newRow("off every screen, too tall") << QRect(-5000, 7000, 700, 9000) << 700;
        QTest::newRow("below the design") << QRect(10, 10, 300, 300) << 0;
    }
    void storedGeometryIsKeptOnScreen()
    {
        QFETCH(QRect, stored);
        QFETCH(int, width);
        const QSize design = form_->minimumSize();
        form_.reset();
        {
            IniFile ini(IniFilePath);
            ini.WriteInteger(QStringLiteral("Ferrovane"), QStringLiteral("Left"), stored.x());
            ini.WriteInteger(QStringLiteral("Ferrovane"), QStringLiteral("Top"), stored.y());
            ini.WriteInteger(QStringLiteral("Ferrovane"), QStringLiteral("Width"), stored.width());
            ini.WriteInteger(QStringLiteral("Ferrovane"), QStringLiteral("Height"), stored.height());
        }
        StartForm(form_, service_);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QTRY_VERIFY2(area.contains(form_->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                           .arg(form_->x())
                                                                           .arg(form_->y())
                                                                           .arg(form_->width())
                                                                           .arg(form_->height())));
        QCOMPARE(form_->width(), width ? width : design.width());
        const int room = area.height() - (form_->frameGeometry().height() - form_->height());
        QCOMPARE(form_->height(), qMin(qMax(stored.height(), design.height()), room));
        QCOMPARE(form_->minimumSize(), design.boundedTo(QSize(design.width(), room)));
        QFile::remove(IniFilePath);
    }

    void placeOnScreen_data()
    {
        QTest::addColumn<QRect>("wanted");
        QTest::addColumn<bool>("centre");
        QTest::addColumn<QRect>("placed");
        // Two screens side by side, a panel at the top of the first; the frame
        // adds 4 on each side and a 26 high title bar.
        QTest::newRow("first start on a small screen") << QRect(0, 0, 569, 825) << true << QRect(398, 50, 569, 714);
        QTest::newRow("first start, fits") << QRect(0, 0, 569, 600) << true << QRect(398, 107, 569, 600);
        QTest::newRow("stored, fits") << QRect(100, 200, 569, 500) << false << QRect(100, 200, 569, 500);
        QTest::newRow("above the top") << QRect(100, -15, 569, 500) << false << QRect(100, 50, 569, 500);
        QTest::newRow("off every screen") << QRect(-3000, 5000, 569, 500) << false << QRect(398, 157, 569, 500);
        QTest::newRow("on the second screen") << QRect(2000, 300, 569, 500) << false << QRect(2000, 300, 569, 500);
        QTest::newRow("half off the second") << QRect(3500, 900, 569, 500) << false << QRect(3353, 576, 569, 500);
        QTest::newRow("too wide and tall") << QRect(50, 50, 1500, 3000) << false << QRect(4, 50, 1358, 714);
    }
    void placeOnScreen()
    {
        QFETCH(QRect, wanted);
        QFETCH(bool, centre);
        QFETCH(QRect, placed);
        const QRect first(0, 24, 1366, 744), second(1366, 0, 2560, 1080);
        QCOMPARE(WindowGeometry::PlaceOnScreen(wanted, QMargins(4, 26, 4, 4), {first, second}, first, centre), placed);
    }

    void statusBarShowsHintUnderMouse()
    {
        TForm1 &f = *form_;
        QTest::mouseMove(f.OptionsBitBtn, QPoint(5, 5));
        QTRY_COMPARE(f.StatusBar1->currentMessage(), QStringLiteral("Application options."));
        QTest::mouseMove(f.CopyBitBtn, QPoint(5, 5));
        QTRY_COMPARE(f.StatusBar1->currentMessage(), QStringLiteral("Begin copying files."));
        // The status bar is the one place hints show.
        QCOMPARE(f.CopyBitBtn->toolTip(), QString());
    }

    // Busy and idle: every control DisableUI switches, and the ones it leaves.
    void disableUI_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("copyMode");
        QTest::addColumn<bool>("dateShown");
        QTest::newRow("busy, dated folders") << true << 0 << false;
        QTest::newRow("busy, folder structure") << true << 1 << false;
        QTest::newRow("idle, dated folders") << false << 0 << true;
        QTest::newRow("idle, folder structure") << false << 1 << false;
    }
    void disableUI()
    {
        QFETCH(bool, busy);
        QFETCH(int, copyMode);
        QFETCH(bool, dateShown);
        TForm1 &f = *form_;
        f.CopyModeRadioGroup->SetItemIndex(copyMode);
        f.ProgressBar1->setValue(40);
        f.DisableUI(true);
        if (!busy)
            f.DisableUI(false);
        const QStringList idleOnly = {"CopyBitBtn",
                                      "CloseButton",
                                      "DestSpeedButton",
                                      "SaveSettingsBitBtn",
                                      "AboutButton",
                                      "DeviceComboBox",
                                      "DestLabeledEdit",
                                      "ViewLogsBitBtn",
                                      "CopyModeRadioGroup",
                                      "DeviceRootEdit",
                                      "ScanPortableDevicesButton",
                                      "DeleteDeviceButton",
                                      "SearchBitBtn",
                                      "SearchLabeledEdit",
                                      "DeviceRootSpeedButton",
                                      "OptionsBitBtn",
                                      "PostProcessingBitBtn",
                                      "DeviceConnectSpeedButton",
                                      "AddFolderButton"};
        for (const QString &name : idleOnly)
            QVERIFY2(Control(name)->isEnabled() == !busy, qPrintable(name));
        QCOMPARE(f.StopBitBtn->isEnabled(), busy);
        QCOMPARE(f.ProgressBar1->isEnabled(), busy);
        QCOMPARE(f.ProgressBar1->value(), 0);
        QCOMPARE(f.DateFormatEdit->isVisible(), dateShown);
        QCOMPARE(f.DateFormatExampleEdit->isVisible(), dateShown);
        // Never touched.
        for (const char *name : {"HelpButton", "StringGrid1", "RichEdit1"})
            QVERIFY2(Control(QLatin1String(name))->isEnabled(), name);
    }

    // A worker's DisableUI takes effect on the user-interface thread.
    void disableUIFromWorker()
    {
        TForm1 &f = *form_;
        QThread *worker = QThread::create([&f] { f.DisableUI(true); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_VERIFY(f.StopBitBtn->isEnabled());
        QVERIFY(!f.CopyBitBtn->isEnabled());
        f.DisableUI(false);
        QVERIFY(f.CopyBitBtn->isEnabled());
    }

    void autoSizeGrid_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("fitsText");
        QTest::newRow("header only") << QStringList{} << true;
        QTest::newRow("short name") << QStringList{"IMG_0001.JPG"} << true;
        QTest::newRow("too long name") << QStringList{"a.jpg", QString(400, QLatin1Char('W')) + ".jpg"} << false;
    }
    void autoSizeGrid()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, fitsText);
        TForm1 &f = *form_;
        CatalogueGrid *cells = f.StringGrid1->Cells();
        for (const QString &name : names)
            cells->AppendRow({"1", name, "1 KiB", "", "IMAGE", "/s/" + name, "1"});
        f.CatalogueArea->AutoSizeGrid();

        const QFontMetrics metrics(f.StringGrid1->font());
        int widest = metrics.horizontalAdvance(QStringLiteral("Name"));
        for (const QString &name : names)
            widest = qMax(widest, metrics.horizontalAdvance(name));
        const int others = f.StringGrid1->columnWidth(0) + f.StringGrid1->columnWidth(2) +
                           f.StringGrid1->columnWidth(3) + f.StringGrid1->columnWidth(4);
        const int available = f.StringGrid1->width() - others;
        if (fitsText)
            QCOMPARE(f.StringGrid1->columnWidth(1), widest + 8);
        else
            QCOMPARE(f.StringGrid1->columnWidth(1), available);
    }

    // With the other columns wider than the grid the Name column keeps a
    // usable width.
    void autoSizeGridLowerLimit()
    {
        TForm1 &f = *form_;
        f.StringGrid1->setColumnWidth(3, f.StringGrid1->width() + 200);
        f.CatalogueArea->AutoSizeGrid();
        QCOMPARE(f.StringGrid1->columnWidth(1), 40);
    }

    // Below the design height (a small screen, a large scale) the grid and
    // the log give up the height, each keeping a few lines; nothing is drawn
    // over anything else and the controls above the grid keep their size.
    void smallScreens_data()
    {
        QTest::addColumn<int>("missing");  // pixels below the design height
        QTest::newRow("design") << 0;
        QTest::newRow("1024x600") << 260;
        QTest::newRow("scale 2 on 1920x1080, a panel") << 300;
    }
    void smallScreens()
    {
        QFETCH(int, missing);
        TForm1 &f = *form_;
        const QSize design = f.size();
        const int logDesign = f.RichEdit1->height(), optionsHeight = f.OptionsBitBtn->height();
        f.setMinimumSize(0, 0);
        f.resize(design.width(), design.height() - missing);
        QTRY_COMPARE(f.height(), design.height() - missing);
        QTRY_VERIFY(f.RichEdit1->height() <= logDesign - missing / 2 + 1 || missing == 0);
        // The log's new height is laid out as the event loop goes on.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const auto bottom = [](QWidget *w) { return w->mapTo(w->window(), QPoint(0, w->height())).y(); };
        const QList<QWidget *> column = {f.SearchLabeledEdit, f.StringGrid1,    f.CopyBitBtn,
                                         f.RichEdit1,         f.ViewLogsBitBtn, f.StatusBar1};
        for (qsizetype i = 0; i + 1 < column.size(); ++i)
            QVERIFY2(bottom(column[i]) <= TopLeft(column[i + 1]).y(),
                     qPrintable(column[i]->metaObject()->className() + QStringLiteral(" overlaps ") +
                                column[i + 1]->metaObject()->className()));
        QVERIFY(bottom(f.StatusBar1) <= f.height());
        QCOMPARE(f.OptionsBitBtn->height(), optionsHeight);
        // A few lines of each remain.
        QVERIFY(f.RichEdit1->height() >= 3 * f.RichEdit1->fontMetrics().lineSpacing());
        QVERIFY(f.StringGrid1->height() >= 4 * f.StringGrid1->verticalHeader()->defaultSectionSize());
    }

    // Growing the window: the grid takes the room; the log keeps its height
    // and moves down; the left buttons stay left; the right ones follow the
    // corner; the controls above the grid stay where they are.
    void anchoringOnResize()
    {
        TForm1 &f = *form_;
        const QSize before = f.size();
        const QRect grid = f.StringGrid1->geometry();
        const QRect log = f.RichEdit1->geometry();
        const QPoint copy = TopLeft(f.CopyBitBtn), viewLogs = TopLeft(f.ViewLogsBitBtn);
        const QPoint close = TopLeft(f.CloseButton), help = TopLeft(f.HelpButton), progress = TopLeft(f.ProgressBar1);
        const QPoint combo = TopLeft(f.DeviceComboBox), options = TopLeft(f.OptionsBitBtn);
        const int progressWidth = f.ProgressBar1->width();

        f.resize(before + QSize(100, 120));
        QTRY_COMPARE(f.size(), before + QSize(100, 120));
        QCOMPARE(f.StringGrid1->height(), grid.height() + 120);
        QCOMPARE(f.StringGrid1->width(), grid.width() + 100);
        QCOMPARE(f.RichEdit1->height(), log.height());
        QCOMPARE(f.RichEdit1->width(), log.width() + 100);
        QCOMPARE(f.RichEdit1->y(), log.y() + 120);
        QCOMPARE(TopLeft(f.CopyBitBtn), copy + QPoint(0, 120));
        QCOMPARE(TopLeft(f.ViewLogsBitBtn), viewLogs + QPoint(0, 120));
        QCOMPARE(TopLeft(f.CloseButton), close + QPoint(100, 120));
        QCOMPARE(TopLeft(f.HelpButton), help + QPoint(100, 120));
        QCOMPARE(TopLeft(f.ProgressBar1), progress + QPoint(100, 120));
        QCOMPARE(f.ProgressBar1->width(), progressWidth);
        QCOMPARE(TopLeft(f.DeviceComboBox), combo);
        QCOMPARE(f.DeviceComboBox->width() > 0, true);
        QVERIFY(TopLeft(f.OptionsBitBtn).y() == options.y());
        // And the Name column was fitted again.
        const QFontMetrics metrics(f.StringGrid1->font());
        QCOMPARE(f.StringGrid1->columnWidth(1), metrics.horizontalAdvance(QStringLiteral("Name")) + 8);
    }

    void startLineIsTheTitleAndVersion()
    {
        QCOMPARE(form_->Log.Document().Line(0).text, QStringLiteral("Settings Loaded."));
        const LogLine title = form_->Log.Document().Line(1);
        QCOMPARE(title.text, QStringLiteral("Ferrovane - Version 1.2 Release 0 Build 1"));
        QCOMPARE(title.color, LogColor::Blue);
        QCOMPARE(title.style, LogStyle::Bold);
        // With no device at all, what to do instead of a choice from an empty list.
        const LogLine choose = form_->Log.Document().Line(form_->Log.Document().LineCount() - 1);
        QCOMPARE(choose.text, QStringLiteral("To copy from a device, plug in and unlock a camera or phone, insert a "
                                             "memory card, or add a folder with Add Folder."));
        QCOMPARE(choose.color, LogColor::Black);
        QCOMPARE(choose.style, LogStyle::Bold);
        QVERIFY(form_->StringGrid1->isColumnHidden(5));
    }
};

FERROVANE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
