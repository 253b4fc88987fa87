#include "common/TestMain.h"

#include "base/FileNames.h"
#include "base/TextRules.h"

#include <QGlyphRun>
#include <QTextLayout>

#include <algorithm>

namespace {

// The text in the order a line lays it out, left to right; zero-width
// characters left out.
QString Seen(const QString &text)
{
    QTextLayout layout(text);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    std::vector<std::pair<qreal, QString>> placed;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype units = text.at(i).isHighSurrogate() ? 2 : 1;
        QRectF box;
        for (const QGlyphRun &run : line.glyphRuns(int(i), int(units)))
            box |= run.boundingRect();
        if (box.width() > 0)
            placed.emplace_back(box.center().x(), text.mid(i, units));
        i += units - 1;
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
    QString seen;
    for (const auto &p : placed)
        seen += p.second;
    return seen;
}

}  // namespace

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

    // What the log and the grid show: texts that differ never look alike.
    // "seen" is the shown text in the order a left-to-right line lays it
    // out, left to right (Qt's own bidi result), without the isolates.
    void shownText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("seen");
        const QString rli(QChar(0x2067)), pdi(QChar(0x2069));
        const QString alef(QChar(0x05D0)), bet(QChar(0x05D1)), shin(QChar(0x05E9));
        QTest::newRow("plain") << QStringLiteral("Ärger 🎉.JPG") << QStringLiteral("Ärger 🎉.JPG")
                               << QStringLiteral("Ärger 🎉.JPG");
        QTest::newRow("typed \\xFF, \\n") << "x\\xFF\\n.JPG"
                                          << "x\\\\xFF\\\\n.JPG"
                                          << "x\\\\xFF\\\\n.JPG";
        QTest::newRow("a root path's backslashes") << "\\DCIM\\100CANON"
                                                   << "\\DCIM\\100CANON"
                                                   << "\\DCIM\\100CANON";
        QTest::newRow("two backslashes, one at the end") << "a\\\\b\\"
                                                         << "a\\\\\\b\\"
                                                         << "a\\\\\\b\\";
        QTest::newRow("a backslash before an escaped character") << "a\\\x01"
                                                                 << "a\\\\\\x01"
                                                                 << "a\\\\\\x01";
        QTest::newRow("soft hyphen, zero width, BOM")
            << QStringLiteral("a\u00ADb\u200Bc\uFEFFd\u2060e") << "a\\u00ADb\\u200Bc\\uFEFFd\\u2060e"
            << "a\\u00ADb\\u200Bc\\uFEFFd\\u2060e";
        QTest::newRow("tag beyond U+FFFF") << QStringLiteral("a\U000E0041") << "a\\U000E0041"
                                           << "a\\U000E0041";
        QTest::newRow("bidi controls") << QStringLiteral("a\u202Eb\u2067c\u2069") << "a\\u202Eb\\u2067c\\u2069"
                                       << "a\\u202Eb\\u2067c\\u2069";
        QTest::newRow("letter before digits and brackets") << "IMG_7" + alef + " (2) 3.jpg"
                                                           << "IMG_7" + rli + alef + pdi + " (2) 3.jpg"
                                                           << "IMG_7" + alef + " (2) 3.jpg";
        QTest::newRow("words with their blank, not the one after")
            << alef + bet + ' ' + bet + alef + " 1.jpg" << rli + alef + bet + ' ' + bet + alef + pdi + " 1.jpg"
            << alef + bet + ' ' + bet + alef + " 1.jpg";
        QTest::newRow("a digit splits the run")
            << alef + '1' + bet << rli + alef + pdi + '1' + rli + bet + pdi << alef + '1' + bet;
        QTest::newRow("marks stay with their letter")
            << shin + QChar(0x05B8) + ".jpg" << rli + shin + QChar(0x05B8) + pdi + ".jpg"
            << QString();  // where a mark goes depends on the font
        QTest::newRow("escape splits the run")
            << alef + QChar(0x200B) + bet << rli + alef + pdi + "\\u200B" + rli + bet + pdi << alef + "\\u200B" + bet;
        QTest::newRow("letter beyond U+FFFF")
            << QStringLiteral("1\U00010800 2") << "1" + rli + QStringLiteral("\U00010800") + pdi + " 2"
            << QStringLiteral("1\U00010800 2");
    }
    void shownText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, seen);
        QCOMPARE(readableText(text), shown);
        QCOMPARE(needsEscaping(text), shown != text);
        if (!seen.isNull())
            QCOMPARE(Seen(shown), seen);
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
