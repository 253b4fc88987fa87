#include "common/TestMain.h"

#include "base/DateFormat.h"
#include "base/FormatSettings.h"
#include "catalogue/ContentWalk.h"
#include "catalogue/PathRules.h"
#include "log/ActivityLog.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRandomGenerator>

#include <ctime>

class TestPathRules : public QObject
{
    Q_OBJECT

private:
    ActivityLog log_;

private slots:
    void cleanup() { DebugFlag = false; }

    void rootPath_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("copied");
        QTest::newRow("empty root lists all") << ""
                                              << "\\Phone\\DCIM" << true << false;
        QTest::newRow("camera folder") << "\\Phone\\DCIM"
                                       << "\\Phone\\DCIM\\Camera" << true << true;
        QTest::newRow("the folder itself") << "\\Phone\\DCIM"
                                           << "\\Phone\\DCIM" << true << true;
        QTest::newRow("DCIM anywhere") << "\\DCIM"
                                       << "\\Card\\DCIM" << true << true;
        QTest::newRow("prefix of a longer name") << "\\DCIM"
                                                 << "\\Phone\\DCIMX" << true << true;
        QTest::newRow("case ignored in listing only") << "\\phone\\dcim"
                                                      << "\\Phone\\DCIM\\Camera" << true << false;
        QTest::newRow("one character root copies nothing") << "\\A"
                                                           << "\\A\\B" << true << false;
        QTest::newRow("elsewhere") << "\\Phone\\DCIM"
                                   << "\\Phone\\Music" << false << false;
        QTest::newRow("other storage") << "\\Phone\\DCIM"
                                       << "\\Card\\DCIM" << false << false;
        QTest::newRow("first character of storage ignored in copy") << "\\Xhone\\DCIM"
                                                                    << "\\Phone\\DCIM" << false << true;
    }
    void rootPath()
    {
        QFETCH(QString, root);
        QFETCH(QString, path);
        QFETCH(bool, listed);
        QFETCH(bool, copied);
        QCOMPARE(IsInDeviceRootPath(root, path, log_), listed);
        QCOMPARE(MatchesCopyRoot(root, path), copied);
    }

    void rootPathDebugLine()
    {
        ActivityLog log;
        QVERIFY(IsInDeviceRootPath(QString(), QStringLiteral("\\x"), log));
        DebugFlag = true;
        QVERIFY(IsInDeviceRootPath(QString(), QStringLiteral("\\x"), log));
        QVERIFY(!IsInDeviceRootPath(QStringLiteral("\\a"), QStringLiteral("\\b"), log));
        QCOMPARE(log.Document().LineCount(), 1);  // nothing for an empty root
        QCOMPARE(log.Document().Line(0).text,
                 QStringLiteral("IsInDeviceRootPath RootPath=\\a FilePath=\\b Result=False"));
        QCOMPARE(log.Document().Line(0).color, LogColor::Purple);
    }

    void fileFilter_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("passes");
        const QStringList common{"jpg", "mp4a", "gz"};
        QTest::newRow("case ignored") << true << common << "IMG_0001.JPG"
                                      << "IMAGE" << true;
        QTest::newRow("no wildcard prefix match") << true << common << "clip.mp4"
                                                  << "VIDEO" << false;
        QTest::newRow("last extension counts") << true << common << "archive.tar.gz"
                                               << "GENERIC_FILE" << true;
        QTest::newRow("tar.gz entry never matches") << true << QStringList{"tar.gz"} << "archive.tar.gz"
                                                    << "X" << false;
        QTest::newRow("no dot") << true << common << "README"
                                << "GENERIC_FILE" << false;
        QTest::newRow("ending with dot") << true << common << "odd."
                                         << "GENERIC_FILE" << false;
        QTest::newRow("no dot, empty entry") << true << QStringList{"jpg", "", "mov"} << "README"
                                             << "X" << true;
        QTest::newRow("no dot, lone empty entry") << true << QStringList{""} << "README"
                                                  << "X" << true;
        QTest::newRow("no dot, empty list") << true << QStringList{} << "README"
                                            << "X" << true;
        QTest::newRow("empty list blocks files") << true << QStringList{} << "a.jpg"
                                                 << "IMAGE" << false;
        QTest::newRow("dot before backslash") << true << QStringList{"x"} << "dir.x\\file"
                                              << "X" << false;
        QTest::newRow("dot before colon") << true << QStringList{"x"} << "c.x:file"
                                          << "X" << false;
        QTest::newRow("folders always") << true << QStringList{} << "DCIM"
                                        << "FOLDER" << true;
        QTest::newRow("storages always") << true << QStringList{} << "Phone"
                                         << "STORAGE" << true;
        QTest::newRow("filters off") << false << QStringList{} << "anything.xyz"
                                     << "FUNCTIONAL_OBJECT" << true;
        QTest::newRow("blank entry is quoted, never matches") << true << QStringList{"my pics"} << "a.my pics"
                                                              << "X" << false;
    }
    void fileFilter()
    {
        QFETCH(bool, enabled);
        QFETCH(QStringList, entries);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(bool, passes);
        QCOMPARE(IsInFileFilter(name, type, FileFilterSettings{enabled, entries}, log_), passes);
    }

    void keepPathLevels_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << "Phone\\DCIM\\Camera" << 0 << "Phone\\";
        QTest::newRow("1") << "Phone\\DCIM\\Camera" << 1 << "Phone\\DCIM\\";
        QTest::newRow("5") << "Phone\\DCIM\\Camera" << 5 << "Phone\\DCIM\\Camera\\";
        QTest::newRow("trailing backslash") << "Phone\\DCIM\\" << 1 << "Phone\\DCIM\\";
        QTest::newRow("negative") << "Phone\\DCIM" << -1 << "\\";
        QTest::newRow("doubled backslashes") << "Phone\\\\DCIM\\Camera" << 1 << "Phone\\DCIM\\";
        QTest::newRow("empty") << "" << 2 << "\\";
    }
    void keepPathLevels()
    {
        QFETCH(QString, path);
        QFETCH(int, n);
        QFETCH(QString, expected);
        QCOMPARE(KeepPathLevels(path, n), expected);
    }

    void splitDelimited()
    {
        QCOMPARE(SplitDelimited(QLatin1Char('\\'), QStringLiteral("a\\ b\\\\c")), (QStringList{"a", " b", "", "c"}));
        QCOMPARE(SplitDelimited(QLatin1Char('\\'), QString()), QStringList{""});
    }

    void normalRoot_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normal");
        QTest::newRow("blanks and doubled") << "  \\DCIM\\\\Camera  "
                                            << "\\DCIM\\Camera";
        QTest::newRow("two backslashes") << "\\\\"
                                         << "";
        QTest::newRow("one backslash") << "\\"
                                       << "";
        QTest::newRow("blank backslash") << " \\ "
                                         << "";
        QTest::newRow("three in a row") << "\\a\\\\\\b"
                                        << "\\a\\b";
        QTest::newRow("control characters") << "\t\\DCIM\n"
                                            << "\\DCIM";
        QTest::newRow("plain") << "\\Phone\\DCIM"
                               << "\\Phone\\DCIM";
        QTest::newRow("empty") << ""
                               << "";
    }
    void normalRoot()
    {
        QFETCH(QString, typed);
        QFETCH(QString, normal);
        QCOMPARE(NormalDeviceRoot(typed), normal);
    }

    void collapseIsOnePass()
    {
        QCOMPARE(CollapseBackslashes(QStringLiteral("\\\\\\")), QStringLiteral("\\\\"));
        QCOMPARE(CollapseBackslashes(QStringLiteral("a\\\\b\\\\\\\\c")), QStringLiteral("a\\b\\\\c"));
    }

    void wpdDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");  // invalid: fails
        QTest::newRow("full") << "2016/08/13:10:22:33.123" << QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33, 123));
        QTest::newRow("no fraction") << "2016/08/13:10:22:33" << QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33));
        QTest::newRow("long fraction") << "2016/08/13:10:22:33.1234567"
                                       << QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33, 567));
        QTest::newRow("year only") << "2016:::" << QDateTime(QDate(2016, 1, 1), QTime(0, 0));
        QTest::newRow("three digits fail") << "1:2:3:" << QDateTime();
        QTest::newRow("bad month fails") << "2016/13/01:00:00:00" << QDateTime();
        QTest::newRow("bad hour fails") << "2016/12/01:25:00:00" << QDateTime();
        QTest::newRow("feb 29 leap") << "2016/02/29:00:00:00" << QDateTime(QDate(2016, 2, 29), QTime(0, 0));
        QTest::newRow("feb 29 not leap") << "2015/02/29:00:00:00" << QDateTime();
    }
    void wpdDates()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        QDateTime value;
        QCOMPARE(ParseWpdDateTime(text, value), expected.isValid());
        if (expected.isValid())
            QCOMPARE(value, expected);
    }

    // The catalogue shows a device date from its fields; across a clock
    // change that must read exactly as the local date-time did.
    void deviceDateAcrossClockChanges_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("day");
        const QByteArray europe = "CET-1CEST,M3.5.0,M10.5.0/3";
        QTest::newRow("spring forward") << europe << QDate(2016, 3, 27);
        QTest::newRow("fall back") << europe << QDate(2016, 10, 30);
        QTest::newRow("ordinary day") << europe << QDate(2016, 8, 13);
        // A half-hour change, inside an hour.
        const QByteArray lordHowe = "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0";
        QTest::newRow("half hour forward") << lordHowe << QDate(2016, 10, 2);
        QTest::newRow("half hour back") << lordHowe << QDate(2016, 4, 3);
        QTest::newRow("change at midnight") << QByteArray("<-03>3<-02>,M10.1.0/0,M2.3.0/0") << QDate(2016, 10, 2);
    }
    void deviceDateAcrossClockChanges()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, day);
        const QByteArray oldZone = qgetenv("TZ");
        const bool hadZone = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", zone);
        tzset();
        FormatSettings settings = UserLocaleSettings();
        settings.LongTimeFormat = QStringLiteral("hh:nn:ss.zzz");
        // The zone is in force: the offset changes during the day.
        const bool changing = QByteArray(QTest::currentDataTag()) != "ordinary day";
        QCOMPARE(QDateTime(day, QTime(0, 30)).offsetFromUtc() != QDateTime(day, QTime(23, 30)).offsetFromUtc(),
                 changing);
        DeviceDateText text;
        for (int ms = 0; ms < 24 * 3600 * 1000; ms += 7 * 60 * 1000 + 13 * 1000 + 7) {
            const QTime time = QTime(0, 0).addMSecs(ms);
            const QString old = DateTimeToStr(QDateTime(day, time), settings);
            QCOMPARE(text.Text(day, time, settings), old);
        }
        for (QTime edge : {QTime(0, 0), QTime(1, 59, 59, 999), QTime(2, 0), QTime(2, 29, 59, 999), QTime(2, 30),
                           QTime(2, 59, 59, 999), QTime(3, 0), QTime(23, 59, 59, 999)})
            QCOMPARE(text.Text(day, edge, settings), DateTimeToStr(QDateTime(day, edge), settings));
        if (hadZone)
            qputenv("TZ", oldZone);
        else
            qunsetenv("TZ");
        tzset();
    }

    // The widest cell of a long column is estimated, with only the likely
    // widest measured: it must never come out narrower than the widest cell,
    // nor more than two pixels wider.
    void widestCellEstimate_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        const QString fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        const QString general = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        QTest::newRow("general 12") << general << 12 << false;
        QTest::newRow("general 13 bold") << general << 13 << true;
        QTest::newRow("general 17") << general << 17 << false;
        QTest::newRow("fixed 11") << fixed << 11 << false;
    }
    void widestCellEstimate()
    {
        QFETCH(QString, family);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        QFont font(family);
        font.setPixelSize(pixels);
        font.setBold(bold);
        const QFontMetrics metrics(font);
        // Pairs that kern or join in many fonts, and wide and narrow letters.
        const QStringList pieces = {"AV", "To", "Wa", "Yo", "fi",   "ffi",  "fl", "LT", "P.",  "r,", "y.",
                                    "VA", "W",  "i",  "l",  "1",    "M",    "m",  "_",  ".",   "'",  "\"",
                                    "ij", "-",  "(",  ")",  "IMG_", ".JPG", "é",  "Ω",  "日本"};
        QRandomGenerator random(pixels * 7 + (bold ? 1 : 0));
        for (int round = 0; round < 30; ++round) {
            CatalogueGrid grid;
            grid.Clear();
            int widest = metrics.horizontalAdvance(grid.Header()[1]);
            const int rows = CatalogueGrid::kExactCells + 1 + int(random.bounded(400));
            for (int r = 0; r < rows; ++r) {
                QString name;
                const int parts = 1 + int(random.bounded(8));
                for (int p = 0; p < parts; ++p) {
                    // Non-ASCII pieces rarely, so most names are estimated.
                    const int pick = int(random.bounded(pieces.size() - (random.bounded(20) ? 3 : 0)));
                    name += pieces.at(pick);
                }
                widest = qMax(widest, metrics.horizontalAdvance(name));
                grid.AppendRow({"1", name, QString(), QString(), "IMAGE", "/" + name, "0"});
            }
            const int got = grid.WidestCell(1, font);
            QVERIFY2(got >= widest && got <= widest + 2,
                     qPrintable(QStringLiteral("%1 for a widest of %2").arg(got).arg(widest)));
        }
    }

    void userDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("german");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("us") << "8/13/2016 1:05:09 PM" << false << QDateTime(QDate(2016, 8, 13), QTime(13, 5, 9));
        QTest::newRow("us date only") << "8/13/2016" << false << QDateTime(QDate(2016, 8, 13), QTime(0, 0));
        QTest::newRow("us midnight am") << "8/13/2016 12:00 AM" << false << QDateTime(QDate(2016, 8, 13), QTime(0, 0));
        QTest::newRow("de") << "13.08.2016 13:05:09" << true << QDateTime(QDate(2016, 8, 13), QTime(13, 5, 9));
        QTest::newRow("de two-digit year") << "13.08.16" << true << QDateTime(QDate(2016, 8, 13), QTime(0, 0));
        QTest::newRow("nonsense") << "yesterday" << false << QDateTime();
        QTest::newRow("bad day") << "2/30/2016" << false << QDateTime();
    }
    void userDates()
    {
        QFETCH(QString, text);
        QFETCH(bool, german);
        QFETCH(QDateTime, expected);
        FormatSettings fs;
        if (german) {
            fs.DateSeparator = QLatin1Char('.');
            fs.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
        }
        QDateTime value;
        QCOMPARE(StrToDateTime(text, fs, value), expected.isValid());
        if (expected.isValid())
            QCOMPARE(value, expected);
    }
};

FERROVANE_TEST_MAIN(TestPathRules)
#include "tst_pathrules.moc"
