#include "common/TestMain.h"

#include "base/DateFormat.h"
#include "log/ActivityLog.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QThread>

#include <vector>

namespace {

FormatSettings UsLike()
{
    FormatSettings fs;
    fs.ShortDateFormat = QStringLiteral("m/d/yyyy");
    fs.LongTimeFormat = QStringLiteral("h:nn:ss ampm");
    return fs;
}

struct Fragment
{
    QString text;
    QColor color;
    bool bold;
};

// The runs of one line of the view, as the user sees them.
std::vector<Fragment> Fragments(const QTextBlock &block)
{
    std::vector<Fragment> out;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment f = it.fragment();
        out.push_back({f.text(), f.charFormat().foreground().color(), f.charFormat().fontWeight() == QFont::Bold});
    }
    return out;
}

} // namespace

class TestActivityLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        saved_ = ProcessFormatSettings();
        ProcessFormatSettings() = UsLike();
        DebugFlag = false;
    }
    void cleanup()
    {
        ProcessFormatSettings() = saved_;
        DebugFlag = false;
    }

    void prefixIsShortDateAndLongTime_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::newRow("morning") << QDateTime(QDate(2016, 8, 13), QTime(8, 41, 21)) << "Copy Started"
                                 << "8/13/2016 8:41:21 AM Copy Started";
        QTest::newRow("afternoon") << QDateTime(QDate(2016, 8, 13), QTime(13, 5, 9)) << "x"
                                   << "8/13/2016 1:05:09 PM x";
        QTest::newRow("midnight drops the time") << QDateTime(QDate(2016, 8, 13), QTime(0, 0, 0)) << "x"
                                                 << "8/13/2016 x";
        QTest::newRow("one second past midnight") << QDateTime(QDate(2016, 8, 13), QTime(0, 0, 1)) << "x"
                                                  << "8/13/2016 12:00:01 AM x";
        QTest::newRow("empty text keeps prefix and blank") << QDateTime(QDate(2016, 8, 13), QTime(9, 0, 0)) << ""
                                                           << "8/13/2016 9:00:00 AM ";
    }
    void prefixIsShortDateAndLongTime()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, text);
        QFETCH(QString, line);
        ActivityLog log;
        log.SetClock([now] { return now; });
        log.WriteLog(text, LogColor::Blue, LogStyle::Bold);
        const LogLine written = log.Document().Line(0);
        QCOMPARE(written.prefix + written.text, line);
        QCOMPARE(written.text, text);
    }

    void noDateLineIsTheTextAlone()
    {
        ActivityLog log;
        log.WriteLogNoDate(QString(), LogColor::Black);
        log.WriteLogNoDate(QString(70, QLatin1Char('=')), LogColor::Black);
        QCOMPARE(log.Document().LineCount(), 2);
        QCOMPARE(log.Document().Line(0).prefix, QString());
        QCOMPARE(log.Document().Line(0).text, QString());
        QCOMPARE(log.Document().Line(1).text, QString(70, QLatin1Char('=')));
    }

    // What the user sees: a black, normal prefix; the text in its own colour
    // and weight; nothing carried into the next line.
    void colourAndBoldNeverLeak()
    {
        QPlainTextEdit view;
        ActivityLog log;
        log.AttachView(&view);
        log.SetClock([] { return QDateTime(QDate(2016, 8, 13), QTime(8, 41, 21)); });
        log.WriteLog(QStringLiteral("ERROR: disk full"), LogColor::Red, LogStyle::Bold);
        log.WriteLog(QStringLiteral("plain"), LogColor::Black);
        log.WriteLogNoDate(QStringLiteral("cmd output"), LogColor::Maroon);
        log.WriteLog(QStringLiteral("Copied file a.jpg"), LogColor::Green);
        log.Flush();

        QTextDocument *doc = view.document();
        QCOMPARE(doc->blockCount(), 4);
        const QColor black(0, 0, 0);

        auto line0 = Fragments(doc->findBlockByNumber(0));
        QCOMPARE(int(line0.size()), 2);
        QCOMPARE(line0[0].text, QStringLiteral("8/13/2016 8:41:21 AM "));
        QCOMPARE(line0[0].color, black);
        QVERIFY(!line0[0].bold);
        QCOMPARE(line0[1].text, QStringLiteral("ERROR: disk full"));
        QCOMPARE(line0[1].color, QColor(0xFF, 0, 0));
        QVERIFY(line0[1].bold);

        auto line1 = Fragments(doc->findBlockByNumber(1));
        for (const Fragment &f : line1) {
            QCOMPARE(f.color, black);
            QVERIFY(!f.bold);
        }

        auto line2 = Fragments(doc->findBlockByNumber(2));
        QCOMPARE(int(line2.size()), 1);
        QCOMPARE(line2[0].color, QColor(0x80, 0, 0));
        QVERIFY(!line2[0].bold);

        auto line3 = Fragments(doc->findBlockByNumber(3));
        QCOMPARE(line3[0].color, black);
        QCOMPARE(line3[1].color, QColor(0, 0x80, 0));
        QVERIFY(!line3[1].bold);
    }

    void colourVocabulary_data()
    {
        QTest::addColumn<int>("color");
        QTest::addColumn<QColor>("rgb");
        QTest::newRow("black") << int(LogColor::Black) << QColor(0, 0, 0);
        QTest::newRow("blue") << int(LogColor::Blue) << QColor(0, 0, 0xFF);
        QTest::newRow("red") << int(LogColor::Red) << QColor(0xFF, 0, 0);
        QTest::newRow("green") << int(LogColor::Green) << QColor(0, 0x80, 0);
        QTest::newRow("purple") << int(LogColor::Purple) << QColor(0x80, 0, 0x80);
        QTest::newRow("maroon") << int(LogColor::Maroon) << QColor(0x80, 0, 0);
    }
    void colourVocabulary()
    {
        QFETCH(int, color);
        QFETCH(QColor, rgb);
        QCOMPARE(QColor::fromRgb(LogColorRgb(LogColor(color))), rgb);
    }

    void debugLinesOnlyInDebugMode()
    {
        ActivityLog log;
        log.WriteDebug(QStringLiteral("hidden"));
        log.WriteResult(QStringLiteral("aPortableDevice.Open"), -2147024891);
        QCOMPARE(log.Document().LineCount(), 0);
        DebugFlag = true;
        log.WriteDebug(QStringLiteral("shown"));
        log.WriteResult(QStringLiteral("aPortableDevice.Open"), -2147024891);
        QCOMPARE(log.Document().LineCount(), 2);
        QCOMPARE(log.Document().Line(0).color, LogColor::Purple);
        QCOMPARE(log.Document().Line(1).text, QStringLiteral("res aPortableDevice.Open = -2147024891"));
        QCOMPARE(log.Document().Line(1).color, LogColor::Purple);
    }

    // Two threads writing at once: every line whole, each thread's lines in
    // the order it wrote them, and the view shows every one of them.
    void linesFromTwoThreadsStayWholeAndOrdered()
    {
        QPlainTextEdit view;
        ActivityLog log;
        log.AttachView(&view);
        constexpr int kPerThread = 20000;
        auto writer = [&log](const QString &tag) {
            return QThread::create([&log, tag] {
                for (int i = 0; i < kPerThread; ++i)
                    log.WriteLog(tag + QString::number(i), i % 2 ? LogColor::Red : LogColor::Green,
                                 i % 3 ? LogStyle::Normal : LogStyle::Bold);
            });
        };
        QThread *a = writer(QStringLiteral("A-"));
        QThread *b = writer(QStringLiteral("B-"));
        a->start();
        b->start();
        // Meanwhile the user-interface thread writes too.
        for (int i = 0; i < 100; ++i)
            log.WriteLog(QStringLiteral("UI-") + QString::number(i), LogColor::Black);
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));
        delete a;
        delete b;

        const LogDocument &doc = log.Document();
        QCOMPARE(doc.LineCount(), 2 * kPerThread + 100);
        int nextA = 0, nextB = 0, nextUi = 0;
        for (const LogLine &line : doc.Lines(0, doc.LineCount())) {
            const QString tag = line.text.section(QLatin1Char('-'), 0, 0);
            const int n = line.text.section(QLatin1Char('-'), 1).toInt();
            int &next = tag == QLatin1String("A") ? nextA : tag == QLatin1String("B") ? nextB : nextUi;
            QCOMPARE(n, next);
            ++next;
            if (tag != QLatin1String("UI")) {
                QCOMPARE(line.color, n % 2 ? LogColor::Red : LogColor::Green);
                QCOMPARE(line.style, n % 3 ? LogStyle::Normal : LogStyle::Bold);
            }
            QVERIFY(line.prefix.endsWith(QLatin1Char(' ')));
        }
        // The view catches up through the event loop alone.
        QTRY_COMPARE_WITH_TIMEOUT(log.ShownLineCount(), 2 * kPerThread + 100, 20000);
        QCOMPARE(view.document()->blockCount(), 2 * kPerThread + 100);
        QCOMPARE(view.document()->lastBlock().text(), doc.Line(doc.LineCount() - 1).prefix +
                                                          doc.Line(doc.LineCount() - 1).text);
    }

    void viewFollowsTheNewestLineAndTakesFocus()
    {
        QWidget window;
        auto *other = new QLineEdit(&window);
        auto *view = new QPlainTextEdit(&window);
        view->setGeometry(0, 30, 300, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        other->setFocus();
        ActivityLog log;
        log.AttachView(view);
        for (int i = 0; i < 200; ++i)
            log.WriteLog(QStringLiteral("line %1").arg(i), LogColor::Black);
        log.Flush();
        QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
        QVERIFY(view->verticalScrollBar()->maximum() > 0);
        QCOMPARE(window.focusWidget(), view);
    }

    // The document keeps every line even when the view keeps only the newest.
    void documentKeepsLinesLongerThanAChunk()
    {
        ActivityLog log;
        const QString huge(3 << 20, QLatin1Char('x'));
        log.WriteLogNoDate(QStringLiteral("before"), LogColor::Black);
        log.WriteLogNoDate(huge, LogColor::Blue);
        log.WriteLogNoDate(QStringLiteral("after"), LogColor::Black);
        QCOMPARE(log.Document().Line(0).text, QStringLiteral("before"));
        QCOMPARE(log.Document().Line(1).text, huge);
        QCOMPARE(log.Document().Line(2).text, QStringLiteral("after"));
    }

    // A long run: the view drops its oldest lines in large cuts and keeps
    // the newest in order; the document keeps every line for the log file.
    void viewKeepsTheNewestLines()
    {
        QPlainTextEdit view;
        ActivityLog log;
        log.AttachView(&view);
        const int total = ActivityLog::kViewLineLimit + ActivityLog::kViewLineLimit / 5;
        for (int i = 0; i < total; ++i)
            log.WriteLogNoDate(QString::number(i), LogColor::Black);
        log.Flush();
        QCOMPARE(log.Document().LineCount(), total);
        const int shown = view.document()->blockCount();
        QVERIFY(shown >= ActivityLog::kViewLineLimit);
        QVERIFY(shown <= ActivityLog::kViewLineLimit + ActivityLog::kViewLineLimit / 10);
        QCOMPARE(view.document()->lastBlock().text(), QString::number(total - 1));
        QCOMPARE(view.document()->firstBlock().text(), QString::number(total - shown));
    }

private:
    FormatSettings saved_;
};

FERROVANE_TEST_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
