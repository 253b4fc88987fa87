#include "common/TestMain.h"

#include "base/NumberFormat.h"
#include "base/RunProgress.h"
#include "base/TextRules.h"

class TestNumberFormat : public QObject
{
    Q_OBJECT

private slots:
    void numbers_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("kib");
        QTest::newRow("0") << qint64(0) << "0";
        QTest::newRow("1") << qint64(1) << "1";
        QTest::newRow("511 still 1") << qint64(511) << "1";
        QTest::newRow("1023") << qint64(1023) << "1";
        QTest::newRow("negative") << qint64(-5) << "1";
        QTest::newRow("1535 rounds down") << qint64(1535) << "1";
        QTest::newRow("1536 rounds up") << qint64(1536) << "2";
        QTest::newRow("1 MiB") << qint64(1048576) << "1,024";
        QTest::newRow("5 GiB") << (qint64(5) << 30) << "5,242,880";
    }
    void numbers()
    {
        QFETCH(qint64, size);
        QFETCH(QString, kib);
        FormatSettings us;
        QCOMPARE(FormatKiB(size, us), kib);
        QCOMPARE(FormatSizeKiB(size, us), kib + QStringLiteral(" KiB"));
    }

    void countsAndMiB()
    {
        FormatSettings de;
        de.ThousandSeparator = QLatin1Char('.');
        QCOMPARE(FormatCount(0, de), QStringLiteral("0"));
        QCOMPARE(FormatCount(999, de), QStringLiteral("999"));
        QCOMPARE(FormatCount(1234567, de), QStringLiteral("1.234.567"));
        QCOMPARE(FormatCount(-1234, de), QStringLiteral("-1.234"));
        QCOMPARE(FormatMiB((quint64(6) << 30) + 5, de), QStringLiteral("6.144 MiB"));
        QCOMPARE(FormatMiB(1048575, de), QStringLiteral("0 MiB"));
    }

    // The status bar during a copy run: what is not known is left out, and a
    // stale total never reads below what is done.
    void runProgress_data()
    {
        QTest::addColumn<qint64>("files");
        QTest::addColumn<qint64>("filesTotal");
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<quint64>("bytesTotal");
        QTest::addColumn<double>("speed");
        QTest::addColumn<QString>("text");
        const quint64 GiB = 1ull << 30;
        QTest::newRow("all known") << qint64(123) << qint64(456) << quint64(1.2 * GiB) << 5 * GiB << 28e6
                                   << "123 of 456 files · 1.2 of 5.0 GiB · 28 MB/s · about 2 min left";
        QTest::newRow("no speed yet") << qint64(0) << qint64(1) << quint64(0) << quint64(1536) << -1.0
                                      << "0 of 1 file · 0.0 of 1.5 KiB";
        QTest::newRow("nothing listed") << qint64(1) << qint64(0) << quint64(700) << quint64(0) << 0.26e6
                                        << "1 file · 700 bytes · 0.3 MB/s";
        QTest::newRow("stale totals") << qint64(9) << qint64(5) << 3 * GiB << 2 * GiB << 2e3
                                      << "9 of 9 files · 3.0 of 3.0 GiB · 2 kB/s · less than a minute left";
        QTest::newRow("grouped, hours") << qint64(1500) << qint64(20000) << 10 * GiB << 1000 * GiB << 100e6
                                        << "1,500 of 20,000 files · 10.0 of 1,000.0 GiB · 100 MB/s · "
                                           "about 2 h 57 min left";
    }
    void runProgress()
    {
        QFETCH(qint64, files);
        QFETCH(qint64, filesTotal);
        QFETCH(quint64, bytes);
        QFETCH(quint64, bytesTotal);
        QFETCH(double, speed);
        QFETCH(QString, text);
        QCOMPARE(RunProgressText({files, filesTotal, bytes, bytesTotal, speed}, FormatSettings()), text);
    }

    void runEndsAndRates()
    {
        FormatSettings de;
        de.ThousandSeparator = QLatin1Char('.');
        de.DecimalSeparator = QLatin1Char(',');
        QCOMPARE(RunSummaryText(456, 5ull << 30, QStringLiteral("Canon EOS"), 0, false, de),
                 QStringLiteral("Imported 456 files (5,0 GiB) from Canon EOS — 0 errors"));
        QCOMPARE(RunSummaryText(1, 1, QStringLiteral("Card"), 1, true, de),
                 QStringLiteral("Stopped: imported 1 file (1 byte) from Card — 1 error"));
        QCOMPARE(TimeLeftText(59), QStringLiteral("less than a minute left"));
        QCOMPARE(TimeLeftText(3599), QStringLiteral("about 1 h left"));
        // The speed of the last seconds, not of the whole run.
        TransferRate rate;
        rate.Add(0, 0);
        rate.Add(500, 1000);
        QCOMPARE(rate.BytesPerSecond(), -1.0);
        for (qint64 ms = 1000; ms <= 20000; ms += 1000)
            rate.Add(ms, ms < 10000 ? quint64(ms) * 1000 : 9'000'000 + quint64(ms - 9000) * 10);
        QCOMPARE(rate.BytesPerSecond(), 10000.0);
    }

    // Names and serial numbers from devices come padded with blanks, NULs
    // and line ends; what is inside stays as it is.
    void trimControl_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("only controls") << QString::fromLatin1("\0\t\r\n ", 5) << "";
        QTest::newRow("padded") << QString::fromLatin1("\0 SN 12\r\n\0", 10) << "SN 12";
        QTest::newRow("inner kept") << "a\tb"
                                    << "a\tb";
        QTest::newRow("non-breaking space kept")
            << QString::fromUtf8("\xC2\xA0x\xC2\xA0") << QString::fromUtf8("\xC2\xA0x\xC2\xA0");
        QTest::newRow("nothing to trim") << "Canon EOS"
                                         << "Canon EOS";
    }
    void trimControl()
    {
        QFETCH(QString, text);
        QFETCH(QString, trimmed);
        QCOMPARE(TrimControl(text), trimmed);
    }
};

FERROVANE_TEST_MAIN(TestNumberFormat)
#include "tst_numberformat.moc"
