#include "common/TestMain.h"

#include "base/FileNames.h"
#include "base/TextRules.h"

// Names are bytes: every byte string survives the trip through a QString
// (so names differing only in odd bytes stay apart), and shows readably.
class TestFileNames : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("IMG_0001.JPG") << "IMG_0001.JPG";
        QTest::newRow("valid UTF-8") << QByteArray("\xE5\x86\x99\xE7\x9C\x9F.JPG") << QStringLiteral("写真.JPG");
        QTest::newRow("emoji") << QByteArray("\xF0\x9F\x8E\x89") << QStringLiteral("🎉");
        QTest::newRow("U+FFFD itself") << QByteArray("x\xEF\xBF\xBD.JPG") << QStringLiteral("x\uFFFD.JPG");
        QTest::newRow("lone FF") << QByteArray("x\xFF.JPG") << "x\\xFF.JPG";
        QTest::newRow("lone FE") << QByteArray("x\xFE.JPG") << "x\\xFE.JPG";
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF.JPG") << "\\xC0\\xAF.JPG";
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xB2\x80") << "\\xED\\xB2\\x80";
        QTest::newRow("cut short") << QByteArray("a\xE2\x82") << "a\\xE2\\x82";
        QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << "\\xF4\\x90\\x80\\x80";
        QTest::newRow("Latin-1") << QByteArray("caf\xE9 \xC3\xA9") << QStringLiteral("caf\\xE9 é");
        QTest::newRow("control") << QByteArray("a\nb\x1B") << "a\\nb\\x1B";
    }
    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString name = nameFromBytes(bytes);
        QCOMPARE(nameToBytes(name), bytes);
        QCOMPARE(readableText(name), shown);
    }

    void fileUrl()
    {
        const QUrl url = localFileUrl(nameFromBytes("/tmp/a b/x\xFF%.JPG"));
        QCOMPARE(url.toEncoded(), QByteArray("file:///tmp/a%20b/x%FF%25.JPG"));
        QCOMPARE(url.scheme(), QStringLiteral("file"));
    }
};

FERROVANE_TEST_MAIN(TestFileNames)
#include "tst_filenames.moc"
