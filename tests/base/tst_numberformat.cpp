#include "common/TestMain.h"

#include "base/NumberFormat.h"
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

    // Names and serial numbers from devices come padded with blanks, NULs
    // and line ends; what is inside stays as it is.
    void trimControl_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("only controls") << QString::fromLatin1("\0\t\r\n ", 5) << "";
        QTest::newRow("padded") << QString::fromLatin1("\0 SN 12\r\n\0", 10) << "SN 12";
        QTest::newRow("inner kept") << "a\tb" << "a\tb";
        QTest::newRow("non-breaking space kept") << QString::fromUtf8("\xC2\xA0x\xC2\xA0")
                                                 << QString::fromUtf8("\xC2\xA0x\xC2\xA0");
        QTest::newRow("nothing to trim") << "Canon EOS" << "Canon EOS";
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
