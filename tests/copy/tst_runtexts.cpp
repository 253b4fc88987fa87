#include "common/TestMain.h"

#include "copy/RunTexts.h"

Q_DECLARE_METATYPE(LogColor)

class TestRunTexts : public QObject
{
    Q_OBJECT

    static FormatSettings Comma()
    {
        FormatSettings fs;
        fs.ThousandSeparator = QLatin1Char(',');
        return fs;
    }

private slots:
    void trimDeviceRoot_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("used");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blank backslash blank") << " \\ "
                                               << "";
        QTest::newRow("lone backslash") << "\\"
                                        << "";
        QTest::newRow("trailing blank") << "\\DCIM "
                                        << "\\DCIM";
        QTest::newRow("tab and newline") << "\t\\DCIM\\100CANON\n"
                                         << "\\DCIM\\100CANON";
        QTest::newRow("two backslashes stay") << "\\\\"
                                              << "\\\\";
        QTest::newRow("inner blanks stay") << " \\My Pictures "
                                           << "\\My Pictures";
    }
    void trimDeviceRoot()
    {
        QFETCH(QString, field);
        QFETCH(QString, used);
        QCOMPARE(TrimDeviceRootField(field), used);
    }

    void elapsedTime_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << qint64(0) << "Elapsed Time: 0 Minutes 0 Seconds.";
        QTest::newRow("under a second") << qint64(999) << "Elapsed Time: 0 Minutes 0 Seconds.";
        QTest::newRow("59.9 s") << qint64(59999) << "Elapsed Time: 0 Minutes 59 Seconds.";
        QTest::newRow("one minute") << qint64(60000) << "Elapsed Time: 1 Minutes 0 Seconds.";
        QTest::newRow("59:59") << qint64(3599000) << "Elapsed Time: 59 Minutes 59 Seconds.";
        QTest::newRow("an hour") << qint64(3600000) << "Elapsed Time: 60 Minutes 0 Seconds.";
        QTest::newRow("1 h 5 min 3 s") << qint64(3903000) << "Elapsed Time: 65 Minutes 3 Seconds.";
        QTest::newRow("over a day") << qint64(90061000) << "Elapsed Time: 1501 Minutes 1 Seconds.";
        QTest::newRow("clock stepped back") << qint64(-5000) << "Elapsed Time: 0 Minutes 0 Seconds.";
    }
    void elapsedTime()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(ElapsedTimeText(ms), text);
    }

    void header_data()
    {
        QTest::addColumn<bool>("folderMode");
        QTest::addColumn<bool>("dateTaken");
        QTest::addColumn<QString>("modeLine");
        QTest::newRow("dated folders") << false << false << "Copy Mode: Using file date format yyyy\\mm";
        QTest::newRow("date taken") << false << true
                                    << "Copy Mode: Using date taken (the file date where a file tells none) format "
                                       "yyyy\\mm";
        QTest::newRow("folder structure") << true << true << "Copy Mode: Using folder structure";
    }
    void header()
    {
        QFETCH(bool, folderMode);
        QFETCH(bool, dateTaken);
        QFETCH(QString, modeLine);
        const RunHeader header{QStringLiteral("Canon EOS"),
                               folderMode,
                               QStringLiteral("yyyy\\mm"),
                               dateTaken,
                               QStringLiteral("\\DCIM"),
                               QStringLiteral("/home/u/Pictures"),
                               {}};
        const std::vector<RunLogLine> lines = CopyHeaderLines(QStringLiteral("Copy Started"), header);
        const std::vector<RunLogLine> expected = {
            {"Copy Started", LogColor::Blue, LogStyle::Bold},
            {"Device: Canon EOS", LogColor::Blue, LogStyle::Normal},
            {modeLine, LogColor::Blue, LogStyle::Normal},
            {"Device Root Path: \\DCIM", LogColor::Blue, LogStyle::Normal},
            {"Destination Path: /home/u/Pictures", LogColor::Blue, LogStyle::Normal},
        };
        QVERIFY(lines == expected);
    }

    void copyStatistics_data()
    {
        QTest::addColumn<bool>("deleteFiles");
        QTest::addColumn<int>("errors");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<LogColor>("lastColor");
        QTest::addColumn<bool>("leftOut");
        const QStringList six = {"Elapsed Time: 65 Minutes 3 Seconds.", "1,204 Files located at Source.",
                                 "12 Files already existing at Destination.", "1,192 Files copied to Destination.",
                                 "1,536 MiB Total size copied to Destination."};
        QStringList seven = six;
        seven.insert(4, "1,000 Files delete from Source.");
        const QString left = QStringLiteral("5 Files left on the device by the file filter (NEF 4, TXT 1).");
        QTest::newRow("no delete, no errors")
            << false << 0 << (QStringList(six) << "0 Errors encountered.") << LogColor::Blue << false;
        QTest::newRow("no delete, errors")
            << false << 1001 << (QStringList(six) << "1001 Errors encountered.") << LogColor::Red << false;
        QTest::newRow("delete, no errors")
            << true << 0 << (QStringList(seven) << "0 Errors encountered.") << LogColor::Blue << false;
        QTest::newRow("delete, one error")
            << true << 1 << (QStringList(seven) << "1 Errors encountered.") << LogColor::Red << false;
        QStringList sixLeft = six, sevenLeft = seven;
        sixLeft.insert(4, left);
        sevenLeft.insert(5, left);
        QTest::newRow("no delete, files left")
            << false << 0 << (sixLeft << "0 Errors encountered.") << LogColor::Blue << true;
        QTest::newRow("delete, files left")
            << true << 0 << (sevenLeft << "0 Errors encountered.") << LogColor::Blue << true;
    }
    void copyStatistics()
    {
        QFETCH(bool, deleteFiles);
        QFETCH(int, errors);
        QFETCH(QStringList, texts);
        QFETCH(LogColor, lastColor);
        QFETCH(bool, leftOut);
        RunCounts counts;
        if (leftOut) {
            counts.LeftByFilter.Add(QStringLiteral("txt"));
            counts.LeftByFilter.Add(QStringLiteral("NEF"), 3);
            counts.LeftByFilter.Add(QStringLiteral("nef"));
        }
        counts.FilesLocated = 1204;
        counts.FilesExisting = 12;
        counts.FilesCopied = 1192;
        counts.FilesDeleted = 1000;
        counts.ErrorCount = errors;
        counts.BytesCopied = 1610612736ull + 1048575;  // the part below a MiB is dropped
        const std::vector<RunLogLine> lines = CopyStatisticsLines(counts, 3903000, deleteFiles, Comma());
        QStringList got;
        for (const RunLogLine &line : lines) {
            got << line.text;
            // Only the files left on the device stay plain while nothing is deleted.
            const bool plain = !deleteFiles && line.text.contains(QLatin1String("left on the device"));
            QCOMPARE(line.style, plain ? LogStyle::Normal : LogStyle::Bold);
        }
        QCOMPARE(got, texts);
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            QCOMPARE(lines[i].color, LogColor::Blue);
        QCOMPARE(lines.back().color, lastColor);
    }

    void bytesBeyondFourGiB()
    {
        // Two 3 GiB videos: the total must not wrap at 4 GiB.
        RunCounts counts;
        counts.BytesCopied = 2 * (3ull << 30);
        const std::vector<RunLogLine> lines = CopyStatisticsLines(counts, 0, false, Comma());
        QCOMPARE(lines[4].text, QStringLiteral("6,144 MiB Total size copied to Destination."));
    }

    void otherThousandsSeparator()
    {
        FormatSettings de;
        de.ThousandSeparator = QLatin1Char('.');
        RunCounts counts;
        counts.FilesLocated = 1234567;
        counts.BytesCopied = 1610612736ull;
        const std::vector<RunLogLine> lines = CopyStatisticsLines(counts, 0, false, de);
        QCOMPARE(lines[1].text, QStringLiteral("1.234.567 Files located at Source."));
        QCOMPARE(lines[4].text, QStringLiteral("1.536 MiB Total size copied to Destination."));
    }

    void deleteStatistics_data()
    {
        QTest::addColumn<int>("errors");
        QTest::addColumn<LogColor>("lastColor");
        QTest::newRow("middle delete failed") << 1 << LogColor::Red;
        QTest::newRow("all deleted") << 0 << LogColor::Blue;
    }
    void deleteStatistics()
    {
        QFETCH(int, errors);
        QFETCH(LogColor, lastColor);
        RunCounts counts;
        counts.FilesLocated = 3;
        counts.FilesDeleted = 3 - errors;
        counts.FilesCopied = 7;  // not part of a delete's block
        counts.ErrorCount = errors;
        counts.BytesCopied = 5u << 20;
        const std::vector<RunLogLine> lines = DeleteStatisticsLines(counts, 61000, Comma());
        QStringList got;
        for (const RunLogLine &line : lines)
            got << line.text;
        QCOMPARE(got, (QStringList{"Elapsed Time: 1 Minutes 1 Seconds.", "3 Files processed.",
                                   QString::number(3 - errors) + " Files delete from Source.",
                                   "5 MiB Total size delete.", QString::number(errors) + " Errors encountered."}));
        QCOMPARE(lines.back().color, lastColor);
        QCOMPARE(lines.front().color, LogColor::Blue);
    }
};

FERROVANE_TEST_MAIN(TestRunTexts)
#include "tst_runtexts.moc"
