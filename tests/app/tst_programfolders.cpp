#include "common/TestMain.h"

#include "app/ProgramFolders.h"

class TestProgramFolders : public QObject
{
    Q_OBJECT

private slots:
    void compute_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("temp");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("tempFolder");
        QTest::addColumn<QString>("userData");
        QTest::newRow("plain") << "/opt/ferrovane"
                               << "/tmp"
                               << "/home/ann/.config"
                               << "/home/ann"
                               << "/opt/ferrovane/"
                               << "/tmp/"
                               << "/home/ann/.config/Quillmoor/Ferrovane/";
        QTest::newRow("trailing delimiters collapse") << "/opt/ferrovane//"
                                                      << "/var/tmp/"
                                                      << "/cfg///"
                                                      << "/h"
                                                      << "/opt/ferrovane/"
                                                      << "/var/tmp/"
                                                      << "/cfg/Quillmoor/Ferrovane/";
        QTest::newRow("XDG unset") << "/usr/bin"
                                   << "/tmp"
                                   << ""
                                   << "/home/bo/"
                                   << "/usr/bin/"
                                   << "/tmp/"
                                   << "/home/bo/.config/Quillmoor/Ferrovane/";
        QTest::newRow("relative XDG ignored") << "/usr/bin"
                                              << "/tmp"
                                              << "cfg"
                                              << "/home/bo"
                                              << "/usr/bin/"
                                              << "/tmp/"
                                              << "/home/bo/.config/Quillmoor/Ferrovane/";
        QTest::newRow("root folders") << "/"
                                      << "/"
                                      << "/"
                                      << "/"
                                      << "/"
                                      << "/"
                                      << "/Quillmoor/Ferrovane/";
    }
    void compute()
    {
        QFETCH(QString, exe);
        QFETCH(QString, temp);
        QFETCH(QString, xdg);
        QFETCH(QString, home);
        QFETCH(QString, program);
        QFETCH(QString, tempFolder);
        QFETCH(QString, userData);
        const ProgramFolderSet set = ComputeProgramFolders(exe, temp, xdg, home);
        QCOMPARE(set.ProgramFolder, program);
        QCOMPARE(set.TempFolder, tempFolder);
        QCOMPARE(set.UserDataFolder, userData);
        QCOMPARE(set.IniFilePath, userData + QStringLiteral("Ferrovane.ini"));
        QCOMPARE(set.HelpFilePath, program + QStringLiteral("help/index.html"));
    }

    // At start: the folder is made with its parents, inside this test's home.
    void setProgramFoldersCreatesUserDataFolder()
    {
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/deeper/still");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        SetProgramFolders();
        QCOMPARE(UserDataFolder, config + QStringLiteral("/Quillmoor/Ferrovane/"));
        QVERIFY(QFileInfo(UserDataFolder).isDir());
        QCOMPARE(IniFilePath, UserDataFolder + QStringLiteral("Ferrovane.ini"));
        QCOMPARE(ProgramFolder, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
        QCOMPARE(TempFolder, qEnvironmentVariable("TMPDIR") + QLatin1Char('/'));
        for (const QString &folder : {ProgramFolder, TempFolder, UserDataFolder}) {
            QVERIFY(folder.endsWith(QLatin1Char('/')));
            QVERIFY(!folder.endsWith(QStringLiteral("//")));
        }
    }
};

FERROVANE_TEST_MAIN(TestProgramFolders)
#include "tst_programfolders.moc"
