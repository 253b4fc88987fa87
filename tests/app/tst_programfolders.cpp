#include "common/TestMain.h"

#include "app/ProgramFolders.h"

class TestProgramFolders : public QObject
{
    Q_OBJECT

private slots:
    void compute_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("userData");
        QTest::newRow("plain") << "/opt/ferrovane"
                               << "/home/ann/.config"
                               << "/home/ann"
                               << "/opt/ferrovane/"
                               << "/home/ann/.config/Quillmoor/Ferrovane/";
        QTest::newRow("trailing delimiters collapse") << "/opt/ferrovane//"
                                                      << "/cfg///"
                                                      << "/h"
                                                      << "/opt/ferrovane/"
                                                      << "/cfg/Quillmoor/Ferrovane/";
        QTest::newRow("XDG unset") << "/usr/bin"
                                   << ""
                                   << "/home/bo/"
                                   << "/usr/bin/"
                                   << "/home/bo/.config/Quillmoor/Ferrovane/";
        QTest::newRow("relative XDG ignored") << "/usr/bin"
                                              << "cfg"
                                              << "/home/bo"
                                              << "/usr/bin/"
                                              << "/home/bo/.config/Quillmoor/Ferrovane/";
        QTest::newRow("root folders") << "/"
                                      << "/"
                                      << "/"
                                      << "/"
                                      << "/Quillmoor/Ferrovane/";
    }
    void compute()
    {
        QFETCH(QString, exe);
        QFETCH(QString, xdg);
        QFETCH(QString, home);
        QFETCH(QString, program);
        QFETCH(QString, userData);
        const ProgramFolderSet set = ComputeProgramFolders(exe, xdg, home);
        QCOMPARE(set.ProgramFolder, program);
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
        for (const QString &folder : {ProgramFolder, UserDataFolder}) {
            QVERIFY(folder.endsWith(QLatin1Char('/')));
            QVERIFY(!folder.endsWith(QStringLiteral("//")));
        }
    }
};

FERROVANE_TEST_MAIN(TestProgramFolders)
#include "tst_programfolders.moc"
