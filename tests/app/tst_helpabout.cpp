#include "common/FormTest.h"
#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/Help.h"
#include "app/ProgramFolders.h"
#include "app/Unit1.h"
#include "device/fake/FakeDeviceService.h"
#include "log/About.h"
#include "settings/SpinEdit.h"
#include "settings/Unit4.h"
#include "settings/VCLStyleSelector.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>

// Takes the addresses the program asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestHelpAbout : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;
    UrlCatcher catcher_;

    // The context numbers the desktop was asked to open ("" for the start page).
    QStringList Requests() const
    {
        QStringList fragments;
        for (const QUrl &url : catcher_.urls)
            fragments << url.fragment();
        return fragments;
    }
    void PressF1(QWidget *control)
    {
        control->setFocus();
        QTest::keyClick(control, Qt::Key_F1);
    }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher_, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher_, "open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    void init()
    {
        catcher_.urls.clear();
        StartForm(form_, service_);
        // Straight to the catcher, whatever this machine has installed.
        form_->findChild<HelpHandler *>()->SetOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); });
    }
    void cleanup() { form_.reset(); }

    // The build's help pages are found from the test's own folder.
    void helpFileIsFound()
    {
        const QString file = FindHelpFile();
        QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
        QFile page(file);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QByteArray html = page.readAll();
        for (int context : {80, 90, 100, 110, 120, 130, 160, 170})
            QVERIFY2(html.contains(QStringLiteral("id=\"ctx%1\"").arg(context).toLatin1()),
                     qPrintable(QString::number(context)));
    }

    // Installed, the pages lie in ../share/ferrovane/help beside bin/.
    void helpFileIsFoundWhereInstalled()
    {
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.path() + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(prefix.path() + QStringLiteral("/share/ferrovane/help")));
        QFile page(prefix.path() + QStringLiteral("/share/ferrovane/help/index.html"));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.close();
        const QString saved = ProgramFolder;
        ProgramFolder = prefix.path() + QStringLiteral("/bin/");
        const QString found = FindHelpFile();
        ProgramFolder = saved;
        QCOMPARE(found, page.fileName());
    }

    void helpButtonOpensTheStartPage()
    {
        QTest::mouseClick(form_->HelpButton, Qt::LeftButton);
        QCOMPARE(catcher_.urls.size(), 1);
        QCOMPARE(catcher_.urls.first().fileName(), QStringLiteral("index.html"));
        QVERIFY(!catcher_.urls.first().hasFragment());
        QCOMPARE(catcher_.urls.first().toLocalFile(), FindHelpFile());
    }

    void f1OpensTheFocusedControlsTopic_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("fragment");
        QTest::newRow("Search button: the window's") << "SearchBitBtn"
                                                     << "ctx90";
        QTest::newRow("Copy") << "CopyBitBtn"
                              << "ctx160";
        QTest::newRow("device list") << "DeviceComboBox"
                                     << "ctx80";
        QTest::newRow("date format's inner edit") << "DateFormatEdit"
                                                  << "ctx100";
        QTest::newRow("log view") << "RichEdit1"
                                  << "ctx160";
        QTest::newRow("View Logs") << "ViewLogsBitBtn"
                                   << "ctx170";
        QTest::newRow("Close: the window's") << "CloseButton"
                                             << "ctx90";
    }
    void f1OpensTheFocusedControlsTopic()
    {
        QFETCH(QString, control);
        QFETCH(QString, fragment);
        TForm1 &f = *form_;
        const QMap<QString, QWidget *> controls = {
            {"SearchBitBtn", f.SearchBitBtn},     {"CopyBitBtn", f.CopyBitBtn},
            {"DeviceComboBox", f.DeviceComboBox}, {"DateFormatEdit", f.DateFormatEdit->Edit},
            {"RichEdit1", f.RichEdit1},           {"ViewLogsBitBtn", f.ViewLogsBitBtn},
            {"CloseButton", f.CloseButton},
        };
        PressF1(controls.value(control));
        QCOMPARE(Requests(), QStringList{fragment});
    }

    void f1InTheOptionsAndTheStyleSelector()
    {
        {
            bool optionsAnswered = false;
            ModalWatcher watcher([&](QWidget *w) {
                if (w == form_->Form4 && !optionsAnswered) {
                    optionsAnswered = true;
                    PressF1(form_->Form4->MaxLogDaysSpinEdit);
                    // The selector is opened from here and asks for the same
                    // topic; later, so that this watcher is free to answer it.
                    QTimer::singleShot(0, form_->Form4,
                                       [this] { QTest::mouseClick(form_->Form4->ChangeStyleButton, Qt::LeftButton); });
                } else if (auto *selector = qobject_cast<TVCLStyleSelectorForm *>(w)) {
                    QTRY_COMPARE(QApplication::focusWidget(), selector->StyleListBox1);
                    QTest::keyClick(selector->StyleListBox1, Qt::Key_F1);
                    selector->CloseButton->click();
                    form_->Form4->CancelButton->click();
                }
            });
            QTest::mouseClick(form_->OptionsBitBtn, Qt::LeftButton);
            QCOMPARE(watcher.Seen(), 2);
        }
        QCOMPARE(Requests(), (QStringList{"ctx120", "ctx120"}));
    }

    void f1InTheAboutBoxOpensNothing()
    {
        auto *about = form_->findChild<TAboutForm *>();
        QVERIFY(about);
        {
            ModalWatcher watcher([&](QWidget *w) {
                if (w != about)
                    return;
                PressF1(about->CloseButton);
                QTest::keyClick(about, Qt::Key_F1);
                about->CloseButton->click();
            });
            QTest::mouseClick(form_->AboutButton, Qt::LeftButton);
        }
        QVERIFY(Requests().isEmpty());
    }

    // Whether the desktop can show a page: xdg-open, and a browser that
    // xdg-mime names for HTML or $BROWSER.
    void desktopCanShowPages_data()
    {
        QTest::addColumn<bool>("xdgOpen");
        QTest::addColumn<QString>("named");  // what xdg-mime says
        QTest::addColumn<QString>("browser");
        QTest::addColumn<bool>("can");
        QTest::newRow("no xdg-utils") << false << ""
                                      << "" << false;
        QTest::newRow("no browser") << true << ""
                                    << "" << false;
        QTest::newRow("a browser") << true << "firefox-esr.desktop"
                                   << "" << true;
        QTest::newRow("$BROWSER") << true << ""
                                  << "lynx" << true;
    }
    void desktopCanShowPages()
    {
        QFETCH(bool, xdgOpen);
        QFETCH(QString, named);
        QFETCH(QString, browser);
        QFETCH(bool, can);
        QTemporaryDir bin;
        const auto script = [&](const QString &name, const QString &body) {
            QFile file(bin.path() + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(("#!/bin/sh\n" + body + "\n").toUtf8());
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        };
        if (xdgOpen) {
            script(QStringLiteral("xdg-open"), QStringLiteral("exit 0"));
            script(QStringLiteral("xdg-mime"), QStringLiteral("echo '%1'").arg(named));
        }
        const QByteArray path = qgetenv("PATH"), savedBrowser = qgetenv("BROWSER");
        qputenv("PATH", QFile::encodeName(bin.path()));
        qputenv("BROWSER", browser.toUtf8());
        const bool result = DesktopCanShowPages();
        qputenv("PATH", path);
        qputenv("BROWSER", savedBrowser);
        QCOMPARE(result, can);
    }

    // Without a browser on the desktop, our own viewer shows the pages, F1's
    // topic included; the log has nothing to say.
    void helpWithoutABrowserIsShownInOurViewer()
    {
        auto *help = form_->findChild<HelpHandler *>();
        QVERIFY(help);
        help->SetOpener([](const QUrl &) { return false; });
        const qsizetype from = form_->Log.Document().LineCount();
        QTest::mouseClick(form_->HelpButton, Qt::LeftButton);
        QTextBrowser *viewer = help->Viewer();
        QVERIFY(viewer && viewer->isVisible());
        QCOMPARE(viewer->source().toLocalFile(), FindHelpFile());
        QVERIFY(viewer->toPlainText().contains(QStringLiteral("Ferrovane")));
        PressF1(form_->CopyBitBtn);
        QCOMPARE(help->Viewer(), viewer);
        QCOMPARE(viewer->source().fragment(), QStringLiteral("ctx160"));
        QVERIFY(LogTexts(form_->Log, from).isEmpty());
        viewer->close();
    }

    void helpThatCannotOpenIsSaid()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        const QString saved = ProgramFolder;
        const QString savedHelp = HelpFilePath;
        ProgramFolder = QDir::tempPath() + QStringLiteral("/nowhere/");
        HelpFilePath = ProgramFolder + QStringLiteral("help/index.html");
        const qsizetype from = form_->Log.Document().LineCount();
        QTest::mouseClick(form_->HelpButton, Qt::LeftButton);
        ProgramFolder = saved;
        HelpFilePath = savedHelp;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher_, "open");
        const QStringList lines = LogTexts(form_->Log, from);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().startsWith(QStringLiteral("Unable to open help file://")));
        QVERIFY(lines.first().contains(QStringLiteral("/nowhere/help/index.html")));
        QVERIFY(lines.first().endsWith(QStringLiteral(": the help file is missing.")));
        QVERIFY(form_->StatusBar1->currentMessage().contains(QStringLiteral("the help file is missing")));
    }

    void aboutBox()
    {
        auto *about = form_->findChild<TAboutForm *>();
        QVERIFY(about);
        QString title;
        {
            ModalWatcher watcher([&](QWidget *w) {
                if (w != about)
                    return;
                title = about->windowTitle();
                QCOMPARE(about->TitleLabel->text(), QStringLiteral("Ferrovane"));
                QCOMPARE(about->Version->text(), QStringLiteral("Version 1.2 Release 0 Build 1"));
                QVERIFY(about->CopyrightLabel->isVisible());
                QVERIFY(about->CopyrightLabel->text().contains(QStringLiteral("Quillmoor")));
                QVERIFY(about->RightsLabel->isVisible());
                QVERIFY(!about->SubTitleLabel->text().isEmpty());
                QVERIFY(about->width() >= 409 && about->height() >= 247);
                // Everything inside the box, and the Close button at its bottom right.
                for (QWidget *child : about->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                    QVERIFY2(about->rect().contains(child->geometry()), qPrintable(child->metaObject()->className()));
                QVERIFY(about->width() - about->CloseButton->geometry().right() < 20);
                QVERIFY(about->height() - about->CloseButton->geometry().bottom() < 12);
                // The web address opens in the browser.
                QTest::mouseClick(about->URLLabel, Qt::LeftButton, {}, QPoint(5, about->URLLabel->height() / 2));
                QTest::mouseClick(about->CloseButton, Qt::LeftButton);
            });
            QTest::mouseClick(form_->AboutButton, Qt::LeftButton);
        }
        QCOMPARE(title, QStringLiteral("About..."));
        QCOMPARE(catcher_.urls.size(), 1);
        QCOMPARE(catcher_.urls.first(), QUrl(QStringLiteral("https://") + TAboutForm::WebAddress()));
    }

    // The about box's hidden test exception goes through the whole report.
    void testExceptionReport()
    {
        auto *about = form_->findChild<TAboutForm *>();
        const qsizetype from = form_->Log.Document().LineCount();
        const int errorsBefore = form_->Engine->State().ErrorCount.load();
        QStringList dialogs;
        QSet<QString> logFiles;
        {
            bool aboutAnswered = false;
            int seen = 0;
            ModalWatcher watcher([&](QWidget *w) {
                ++seen;
                // The box is active again after each report: answer it once.
                if (w == about && !aboutAnswered) {
                    aboutAnswered = true;
                    // Later, so that this watcher is free to answer the reports.
                    QTimer::singleShot(0, about, [&] {
                        QTest::mouseDClick(about->RightsLabel, Qt::LeftButton);
                        logFiles.insert(form_->Session->LastLogFile());
                        // Once more, as the second exception of this run,
                        // when the watcher has seen the about box come back:
                        // the next report's dialog may reuse the first one's
                        // address.
                        const int before = seen;
                        QTRY_VERIFY(seen > before);
                        QTest::mouseDClick(about->RightsLabel, Qt::LeftButton);
                        about->CloseButton->click();
                    });
                } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
                    dialogs << box->windowTitle() + QLatin1Char('|') + box->text() + QLatin1Char('|') +
                                   box->informativeText();
                    QCOMPARE(box->icon(), QMessageBox::Critical);
                    box->button(QMessageBox::Ok)->click();
                }
            });
            QTest::mouseClick(form_->AboutButton, Qt::LeftButton);
            logFiles.insert(form_->Session->LastLogFile());
        }
        QCOMPARE(dialogs,
                 (QStringList{"Ferrovane|GENERAL EXCEPTION ERROR:|Test", "Ferrovane|GENERAL EXCEPTION ERROR:|Test"}));
        QVERIFY(form_->ExceptionOccurred);
        // A log file for each report (one name when both fall in one second).
        QVERIFY(!logFiles.contains(QString()));
        for (const QString &file : logFiles)
            QVERIFY2(QFile::exists(file), qPrintable(file));
        QCOMPARE(form_->Engine->State().ErrorCount.load(), errorsBefore + 2);
        QVERIFY(form_->CopyBitBtn->isEnabled());

        const LogDocument &doc = form_->Log.Document();
        const auto lines = doc.Lines(from, doc.LineCount());
        QStringList texts;
        for (const LogLine &line : lines)
            texts << line.text;
        const QString message = QStringLiteral("Exception Message = Test");
        const QString className = QStringLiteral("Exception Class Name = Exception");
        QCOMPARE(texts.count(message), 4);
        QCOMPARE(texts.count(className), 4);
        QCOMPARE(texts.at(0), message);
        QCOMPARE(texts.at(1), className);
        QCOMPARE(texts.at(2), QString(70, QLatin1Char('=')));
        QCOMPARE(texts.at(3), QStringLiteral("Stack Dump:"));
        const qsizetype end = texts.indexOf(message, 4);
        QVERIFY(end > 4);
        const QStringList stack = texts.mid(4, end - 4);
        QVERIFY2(stack.first().contains(QStringLiteral("TAboutForm::CreateTestException")),
                 qPrintable(stack.join('\n')));
        QVERIFY2(stack.first().contains(QStringLiteral("About.cpp")), qPrintable(stack.first()));
        QVERIFY(stack.first().contains(QRegularExpression(QStringLiteral(R"(^\[[0-9A-F]{8,}\] About\.)"))));
        QCOMPARE(texts.at(end + 1), className);
        QCOMPARE(lines.at(0).color, LogColor::Red);
        QCOMPARE(lines.at(0).style, LogStyle::Bold);
        QVERIFY(!lines.at(0).prefix.isEmpty());
        QVERIFY(lines.at(2).prefix.isEmpty());
        QCOMPARE(lines.at(3).color, LogColor::Blue);
        QCOMPARE(lines.at(3).style, LogStyle::Bold);
        for (qsizetype i = 4; i < end; ++i) {
            QVERIFY(lines.at(i).prefix.isEmpty());
            QCOMPARE(lines.at(i).color, LogColor::Black);
            QCOMPARE(lines.at(i).style, LogStyle::Normal);
        }

        // The saved log file holds the report.
        QVERIFY(QFile::exists(form_->Session->LastLogFile()));
        QFile saved(form_->Session->LastLogFile());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray rtf = saved.readAll();
        QVERIFY(rtf.contains("Exception Message = Test"));
        QVERIFY(rtf.contains("CreateTestException"));

        // At exit one system-information block follows.
        form_->ExitProg();
        QCOMPARE(LogTexts(form_->Log).count(QStringLiteral("System Info:")), 1);
    }
};

FERROVANE_TEST_MAIN(TestHelpAbout)
#include "tst_helpabout.moc"
