#include "common/TestMain.h"

#include "base/DateFormat.h"
#include "log/ActivityLog.h"
#include "log/LogView.h"

#include <QAccessible>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <memory>
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

// The runs of one line of the view, as it paints them.
std::vector<Fragment> Fragments(const LogView &view, qsizetype line)
{
    std::vector<Fragment> out;
    const QString text = view.LineText(line);
    for (const QTextLayout::FormatRange &range : view.LineFormats(line))
        out.push_back({text.mid(range.start, range.length), range.format.foreground().color(),
                       range.format.fontWeight() == QFont::Bold});
    return out;
}

// A shown window with the log view in it, the way the main window has it.
struct Shown
{
    explicit Shown(int width = 400, int height = 228)
    {
        auto *layout = new QVBoxLayout(&window);
        other = new QLineEdit(&window);
        view = new LogView(&window);
        view->setFixedSize(width, height);
        layout->addWidget(other);
        layout->addWidget(view);
        log.SetClock([] { return QDateTime(QDate(2016, 8, 13), QTime(8, 41, 21)); });
        log.AttachView(view);
        window.show();
    }
    void Write(int from, int to)
    {
        for (int i = from; i < to; ++i)
            log.WriteLog(QStringLiteral("line %1").arg(i), LogColor(i % 6), i % 4 ? LogStyle::Normal : LogStyle::Bold);
        log.Flush();
    }
    QScrollBar *Bar() const { return view->verticalScrollBar(); }
    // A point on the first or last row of a line, at its left or right end.
    QPoint At(qsizetype line, bool right, bool lastRow = false) const
    {
        const QRect r = view->LineRect(line);
        const int rowHeight = r.height() / qMax(1, view->LineRows(line));
        const int y = lastRow ? r.bottom() - rowHeight / 2 : r.top() + rowHeight / 2;
        return QPoint(right ? view->viewport()->width() - 1 : r.left(), y);
    }
    QString Lines(qsizetype from, qsizetype to) const
    {
        QStringList lines;
        for (qsizetype i = from; i <= to; ++i)
            lines << view->LineText(i);
        return lines.join(QLatin1Char('\n'));
    }

    QWidget window;
    QLineEdit *other;
    LogView *view;
    ActivityLog log;
};

}  // namespace

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

    // Lines written one after another: the prefix keeps up with the clock
    // and with the regional settings, whatever it reuses in between.
    void prefixFollowsClockAndSettings_data()
    {
        QTest::addColumn<QDateTime>("first");
        QTest::addColumn<QDateTime>("second");
        QTest::addColumn<QString>("dateFormat");
        QTest::addColumn<QString>("secondPrefix");
        const QDate day(2016, 8, 13);
        QTest::newRow("same second") << QDateTime(day, QTime(8, 41, 21, 100)) << QDateTime(day, QTime(8, 41, 21, 900))
                                     << ""
                                     << "8/13/2016 8:41:21 AM ";
        QTest::newRow("next second") << QDateTime(day, QTime(8, 41, 21, 900)) << QDateTime(day, QTime(8, 41, 22, 0))
                                     << ""
                                     << "8/13/2016 8:41:22 AM ";
        QTest::newRow("settings changed")
            << QDateTime(day, QTime(8, 41, 21)) << QDateTime(day, QTime(8, 41, 21)) << "yyyy-mm-dd"
            << "2016-08-13 8:41:21 AM ";
        QTest::newRow("just after midnight")
            << QDateTime(day, QTime(0, 0, 0, 0)) << QDateTime(day, QTime(0, 0, 0, 500)) << ""
            << "8/13/2016 12:00:00 AM ";
    }
    void prefixFollowsClockAndSettings()
    {
        QFETCH(QDateTime, first);
        QFETCH(QDateTime, second);
        QFETCH(QString, dateFormat);
        QFETCH(QString, secondPrefix);
        const FormatSettings saved = ProcessFormatSettings();
        ActivityLog log;
        QDateTime now = first;
        log.SetClock([&now] { return now; });
        log.WriteLog(QStringLiteral("a"), LogColor::Black);
        now = second;
        if (!dateFormat.isEmpty())
            ProcessFormatSettings().ShortDateFormat = dateFormat;
        log.WriteLog(QStringLiteral("b"), LogColor::Black);
        ProcessFormatSettings() = saved;
        QCOMPARE(log.Document().Line(1).prefix, secondPrefix);
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
        LogView view;
        ActivityLog log;
        log.AttachView(&view);
        log.SetClock([] { return QDateTime(QDate(2016, 8, 13), QTime(8, 41, 21)); });
        log.WriteLog(QStringLiteral("ERROR: disk full"), LogColor::Red, LogStyle::Bold);
        log.WriteLog(QStringLiteral("plain"), LogColor::Black);
        log.WriteLogNoDate(QStringLiteral("cmd output"), LogColor::Maroon);
        log.WriteLog(QStringLiteral("Copied file a.jpg"), LogColor::Green);
        log.Flush();

        QCOMPARE(view.LineCount(), 4);
        const QColor black(0, 0, 0);

        auto line0 = Fragments(view, 0);
        QCOMPARE(int(line0.size()), 2);
        QCOMPARE(line0[0].text, QStringLiteral("8/13/2016 8:41:21 AM "));
        QCOMPARE(line0[0].color, black);
        QVERIFY(!line0[0].bold);
        QCOMPARE(line0[1].text, QStringLiteral("ERROR: disk full"));
        QCOMPARE(line0[1].color, QColor(0xFF, 0, 0));
        QVERIFY(line0[1].bold);

        auto line1 = Fragments(view, 1);
        QCOMPARE(int(line1.size()), 2);
        for (const Fragment &f : line1) {
            QCOMPARE(f.color, black);
            QVERIFY(!f.bold);
        }

        auto line2 = Fragments(view, 2);
        QCOMPARE(int(line2.size()), 1);
        QCOMPARE(line2[0].text, QStringLiteral("cmd output"));
        QCOMPARE(line2[0].color, QColor(0x80, 0, 0));
        QVERIFY(!line2[0].bold);

        auto line3 = Fragments(view, 3);
        QCOMPARE(line3[0].color, black);
        QCOMPARE(line3[1].color, QColor(0, 0x80, 0));
        QVERIFY(!line3[1].bold);
        QCOMPARE(view.LineText(3), QStringLiteral("8/13/2016 8:41:21 AM Copied file a.jpg"));
    }

    // The colours reach the screen: a bold red line paints red, its prefix
    // black, on the tooltip background; a selection paints the highlight.
    void paintsColoursOnTheTooltipBackground()
    {
        Shown shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.log.WriteLog(QStringLiteral("ERROR: WWWWWWWW"), LogColor::Red, LogStyle::Bold);
        shown.log.Flush();
        auto count = [&](auto match) {
            const QImage image = shown.view->viewport()->grab().toImage();
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += match(QColor(image.pixel(x, y))) ? 1 : 0;
            return n;
        };
        const QColor background = shown.view->palette().color(QPalette::ToolTipBase);
        QCOMPARE(shown.view->viewport()->grab().toImage().pixelColor(shown.view->viewport()->width() - 2,
                                                                     shown.view->viewport()->height() - 2),
                 background);
        QVERIFY(count([](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }) > 20);
        QVERIFY(count([](QColor c) { return c.red() < 60 && c.green() < 60 && c.blue() < 60; }) > 20);
        const QColor highlight = shown.view->palette().color(QPalette::Highlight);
        QCOMPARE(count([&](QColor c) { return c == highlight; }), 0);
        shown.view->SelectAll();
        QVERIFY(count([&](QColor c) { return c == highlight; }) > 50);
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
        LogView view;
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
        // Meanwhile the user-interface thread writes too, and reads: the
        // newest line it sees is always whole.
        for (int i = 0; i < 100; ++i) {
            log.WriteLog(QStringLiteral("UI-") + QString::number(i), LogColor::Black);
            for (int k = 0; k < 50; ++k) {
                const LogLine newest = log.Document().Line(log.Document().LineCount() - 1);
                QVERIFY2(newest.prefix.endsWith(QLatin1Char(' ')) &&
                             QRegularExpression(QStringLiteral("^(A|B|UI)-\\d+$")).match(newest.text).hasMatch(),
                         qPrintable(newest.prefix + newest.text));
            }
        }
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
        QCOMPARE(view.LineCount(), 2 * kPerThread + 100);
        QCOMPARE(view.LineText(view.LineCount() - 1),
                 doc.Line(doc.LineCount() - 1).prefix + doc.Line(doc.LineCount() - 1).text);
    }

    void viewFollowsTheNewestLineAndTakesFocus()
    {
        Shown shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.other->setFocus();
        shown.Write(0, 200);
        QVERIFY(shown.Bar()->maximum() > 0);
        QCOMPARE(shown.Bar()->value(), shown.Bar()->maximum());
        QCOMPARE(shown.view->LastVisibleLine(), 199);
        // The newest line is whole, at the bottom of the view.
        const QRect last = shown.view->LineRect(199);
        QVERIFY(last.bottom() < shown.view->viewport()->height());
        QVERIFY(last.bottom() > shown.view->viewport()->height() - last.height() - 8);
        QCOMPARE(shown.window.focusWidget(), shown.view);
    }

    // Every write brings the newest line back into sight, even when the
    // user had scrolled away; the lines arriving through the event loop
    // alone do the same.
    void writeScrollsBackToTheEnd()
    {
        Shown shown;
        shown.Write(0, 100);
        QTest::keyClick(shown.view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(shown.view->FirstVisibleLine(), 0);
        shown.Write(100, 101);
        QCOMPARE(shown.view->LastVisibleLine(), 100);
        QVERIFY(shown.view->IsAtEnd());
        QTest::keyClick(shown.view, Qt::Key_Home, Qt::ControlModifier);
        shown.log.WriteLog(QStringLiteral("later"), LogColor::Blue);
        QTRY_COMPARE(shown.view->LastVisibleLine(), 101);
        QCOMPARE(shown.view->LineText(101), QStringLiteral("8/13/2016 8:41:21 AM later"));
    }

    void keysAndWheelScroll_data()
    {
        QTest::addColumn<bool>("fromTop");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("wheel");
        // Where the first line shown ends up: at the top or at the end,
        // moved by so many lines and so many pages.
        QTest::addColumn<bool>("toTop");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("pages");
        const int ctrl = int(Qt::ControlModifier), none = int(Qt::NoModifier);
        QTest::newRow("Ctrl+Home") << false << int(Qt::Key_Home) << ctrl << 0 << true << 0 << 0;
        QTest::newRow("Ctrl+End") << true << int(Qt::Key_End) << ctrl << 0 << false << 0 << 0;
        QTest::newRow("Up") << false << int(Qt::Key_Up) << none << 0 << false << -1 << 0;
        QTest::newRow("Down") << true << int(Qt::Key_Down) << none << 0 << true << 1 << 0;
        QTest::newRow("Up at the top stays") << true << int(Qt::Key_Up) << none << 0 << true << 0 << 0;
        QTest::newRow("Down at the end stays") << false << int(Qt::Key_Down) << none << 0 << false << 0 << 0;
        QTest::newRow("PageUp") << false << int(Qt::Key_PageUp) << none << 0 << false << 0 << -1;
        QTest::newRow("PageDown") << true << int(Qt::Key_PageDown) << none << 0 << true << 0 << 1;
        QTest::newRow("wheel up") << false << 0 << none << 120 << false << -3 << 0;
        QTest::newRow("wheel down") << true << 0 << none << -120 << true << 3 << 0;
    }
    void keysAndWheelScroll()
    {
        QFETCH(bool, fromTop);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, wheel);
        QFETCH(bool, toTop);
        QFETCH(int, lines);
        QFETCH(int, pages);
        Shown shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.Write(0, 500);
        QScrollBar *bar = shown.Bar();
        QVERIFY(bar->maximum() > 400);
        QVERIFY(bar->pageStep() > 5);
        if (fromTop)
            bar->setValue(0);
        if (key) {
            QTest::keyClick(shown.view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        } else {
            const QPoint at = shown.view->viewport()->rect().center();
            QWheelEvent event(at, shown.view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, wheel), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(shown.view->viewport(), &event);
        }
        const int expected = (toTop ? 0 : bar->maximum()) + lines + pages * bar->pageStep();
        QCOMPARE(bar->value(), expected);
        // At the end a part of the line above may show over the first whole one.
        const qsizetype first = shown.view->FirstVisibleLine();
        if (shown.view->IsAtEnd()) {
            QVERIFY(first == expected || first == expected - 1);
            QCOMPARE(shown.view->LastVisibleLine(), 499);
        } else {
            QCOMPARE(first, expected);
        }
    }

    // Long lines wrap at the view's width and the newest stays whole in sight.
    void longLinesWrapAtTheWidth()
    {
        Shown shown(200);
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.log.WriteLogNoDate(QStringLiteral("short"), LogColor::Black);
        shown.log.WriteLog(QStringLiteral("Copied file IMG_0001.JPG to /home/user/Pictures/2016-08-13/IMG_0001.JPG"),
                           LogColor::Green);
        shown.log.WriteLogNoDate(QString(300, QLatin1Char('=')), LogColor::Black);
        shown.log.Flush();
        QCOMPARE(shown.view->LineRows(0), 1);
        const int narrowWords = shown.view->LineRows(1);
        const int narrowRun = shown.view->LineRows(2);
        QVERIFY(narrowWords > 1);
        QVERIFY(narrowRun > 1);
        QVERIFY(shown.view->LineRect(2).bottom() < shown.view->viewport()->height());
        shown.view->setFixedWidth(600);
        QTRY_VERIFY(shown.view->LineRows(2) < narrowRun);
        QVERIFY(shown.view->LineRows(1) < narrowWords);
        QCOMPARE(shown.view->LastVisibleLine(), 2);
    }

    // Dragging selects across lines; Ctrl+C puts the selection on the
    // clipboard as plain text, one line per line.
    void dragSelectsAndCtrlCCopies()
    {
        Shown shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.Write(0, 40);
        QTest::keyClick(shown.view, Qt::Key_Home, Qt::ControlModifier);
        QWidget *port = shown.view->viewport();
        QTest::mousePress(port, Qt::LeftButton, {}, shown.At(2, false));
        QTest::mouseMove(port, shown.At(3, true));
        QTest::mouseRelease(port, Qt::LeftButton, {}, shown.At(4, true));
        QVERIFY(shown.view->HasSelection());
        QCOMPARE(shown.view->SelectedText(), shown.Lines(2, 4));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(shown.view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), shown.Lines(2, 4));

        // Shift+click moves the far end and keeps the start.
        QTest::mouseClick(port, Qt::LeftButton, Qt::ShiftModifier, shown.At(6, true));
        QCOMPARE(shown.view->SelectedText(), shown.Lines(2, 6));
        // Upwards works as well as downwards, and part of a line is a part.
        QTest::mousePress(port, Qt::LeftButton, {}, shown.At(5, true));
        const int tenChars = QFontMetrics(shown.view->font()).horizontalAdvance(shown.Lines(5, 5).left(10));
        QTest::mouseRelease(port, Qt::LeftButton, {}, shown.At(5, false) + QPoint(tenChars, 0));
        QVERIFY(shown.view->HasSelection());
        QVERIFY(shown.Lines(5, 5).endsWith(shown.view->SelectedText()));
        QVERIFY(shown.view->SelectedText().size() < shown.Lines(5, 5).size() - 5);
        // A plain click selects nothing and Ctrl+C leaves the clipboard alone.
        QTest::mouseClick(port, Qt::LeftButton, {}, shown.At(7, false));
        QVERIFY(!shown.view->HasSelection());
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        QTest::keyClick(shown.view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    }

    // A double click selects the word under the pointer.
    void doubleClickSelectsAWord()
    {
        Shown shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.log.WriteLog(QStringLiteral("Copied file IMG_0001.JPG"), LogColor::Green);
        shown.log.Flush();
        const QString before = shown.view->LineText(0).left(shown.view->LineText(0).indexOf(QStringLiteral("IMG")) + 2);
        const QPoint at = shown.At(0, false) + QPoint(QFontMetrics(shown.view->font()).horizontalAdvance(before), 0);
        QTest::mouseDClick(shown.view->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(shown.view->SelectedText(), QStringLiteral("IMG_0001"));
    }

    void ctrlASelectsEveryLine()
    {
        Shown shown;
        shown.Write(0, 3000);
        QTest::keyClick(shown.view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(shown.view, Qt::Key_C, Qt::ControlModifier);
        const QString copied = QGuiApplication::clipboard()->text();
        QCOMPARE(copied.count(QLatin1Char('\n')), 2999);
        QVERIFY(copied.startsWith(shown.view->LineText(0) + QLatin1Char('\n')));
        QVERIFY(copied.endsWith(QLatin1Char('\n') + shown.view->LineText(2999)));
        QCOMPARE(copied, shown.Lines(0, 2999));
    }

    void contextMenuCopiesAndSelectsAll()
    {
        Shown shown;
        shown.Write(0, 5);
        std::unique_ptr<QMenu> menu(shown.view->CreateContextMenu());
        QCOMPARE(menu->actions().size(), 2);
        QAction *copy = menu->actions().at(0);
        QAction *all = menu->actions().at(1);
        QCOMPARE(copy->text().remove(QLatin1Char('&')), QStringLiteral("Copy"));
        QCOMPARE(all->text(), QStringLiteral("Select All"));
        QVERIFY(!copy->isEnabled());
        all->trigger();
        QCOMPARE(shown.view->SelectedText(), shown.Lines(0, 4));
        menu.reset(shown.view->CreateContextMenu());
        QVERIFY(menu->actions().at(0)->isEnabled());
        QGuiApplication::clipboard()->clear();
        menu->actions().at(0)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), shown.Lines(0, 4));
    }

    // Screen readers and desktop automation read the whole log, read-only,
    // through the text interface; the value is the lines in sight.
    void screenReadersReadTheWholeLog()
    {
        Shown shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.Write(0, 10000);
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(shown.view);
        QVERIFY(face);
        QCOMPARE(face->role(), QAccessible::EditableText);
        QVERIFY(face->state().readOnly);
        const QString value = face->text(QAccessible::Value);
        QVERIFY(value.endsWith(QStringLiteral("\n8/13/2016 8:41:21 AM line 9999")));
        QVERIFY(!value.contains(QStringLiteral("line 0\n")));
        QAccessibleTextInterface *text = face->textInterface();
        QVERIFY(text);
        const QString first = shown.view->LineText(0), last = shown.view->LineText(9999);
        QCOMPARE(first, QStringLiteral("8/13/2016 8:41:21 AM line 0"));
        const int count = text->characterCount();
        QCOMPARE(text->text(0, int(first.size())), first);
        QCOMPARE(text->text(count - int(last.size()), count), last);
        int start = -1, end = -1;
        QCOMPARE(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end), first + QLatin1Char('\n'));
        QCOMPARE(start, 0);
        QCOMPARE(text->textAtOffset(count - 1, QAccessible::LineBoundary, &start, &end), last);
        QCOMPARE(end, count);
        QCOMPARE(text->textBeforeOffset(count - 1, QAccessible::LineBoundary, &start, &end),
                 shown.view->LineText(9998) + QLatin1Char('\n'));
        QCOMPARE(text->textAtOffset(count - 4, QAccessible::WordBoundary, &start, &end), QStringLiteral("9999"));
        QCOMPARE(start, count - 4);
        // A line written later is read as well.
        shown.Write(10000, 10001);
        QCOMPARE(text->text(count + 1, text->characterCount()), shown.view->LineText(10000));
        // The whole text, as automation reads it.
        QCOMPARE(text->text(0, -1).count(QLatin1Char('\n')), 10000);
    }

    // A name from a card can hold anything: the line it is written in stays
    // one line, its odd characters escaped, in the document and the view.
    void forgedLinesStayOneLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("newline") << "a\n8/13/2016 8:41:21 AM Deleted"
                                 << "a\\n8/13/2016 8:41:21 AM Deleted";
        QTest::newRow("carriage return") << "a\rb"
                                         << "a\\rb";
        QTest::newRow("escape sequence") << "a\x1B[2Kb"
                                         << "a\\x1B[2Kb";
        QTest::newRow("tab, NUL, DEL") << QString("a\tb") + QChar(0) + QChar(0x7F) << "a\\tb\\x00\\x7F";
        QTest::newRow("separators") << QString("a") + QChar(0x2028) + QChar(0x2029) + QChar(0x85)
                                    << "a\\u2028\\u2029\\u0085";
        QTest::newRow("bidi override") << QString("a") + QChar(0x202E) + "GPJ.exe"
                                       << "a\\u202EGPJ.exe";
        QTest::newRow("odd byte") << QString("x") + QChar(0xDCFF) + ".JPG"
                                  << "x\\xFF.JPG";
        QTest::newRow("lone surrogate") << QString("x") + QChar(0xD800) << "x\\uD800";
        QTest::newRow("typed escape") << "x\\xFF\\n"
                                      << "x\\\\xFF\\\\n";
        QTest::newRow("plain stays") << QStringLiteral("Ärger 🎉") << QStringLiteral("Ärger 🎉");
    }
    void forgedLinesStayOneLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        Shown window(1200);
        window.log.WriteLog(QStringLiteral("Source File: ") + text, LogColor::Blue);
        window.log.Flush();
        QCOMPARE(window.log.Document().LineCount(), 1);
        QCOMPARE(window.log.Document().Line(0).text, QStringLiteral("Source File: ") + shown);
        QCOMPARE(window.view->LineText(0), QStringLiteral("8/13/2016 8:41:21 AM Source File: ") + shown);
        QCOMPARE(window.view->LineRows(0), 1);
    }

    // Read-only: typing changes nothing.
    void typingChangesNothing()
    {
        Shown shown;
        shown.Write(0, 3);
        QVERIFY(shown.view->isReadOnly());
        QTest::keyClicks(shown.view, QStringLiteral("abc"));
        QTest::keyClick(shown.view, Qt::Key_Return);
        QTest::keyClick(shown.view, Qt::Key_Delete);
        QCOMPARE(shown.view->LineCount(), 3);
        QCOMPARE(shown.log.Document().LineCount(), 3);
        QCOMPARE(shown.view->LineText(2), QStringLiteral("8/13/2016 8:41:21 AM line 2"));
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

    // A copy run's lines are kept packed: far less memory than their
    // characters, and every line reads back exactly, in any order, with
    // the whole text's offsets unchanged.
    void fullBlocksArePackedAndReadBack()
    {
        LogDocument doc;
        std::vector<QString> written;
        qint64 chars = 0;
        doc.Append(QString(), QString(), LogColor::Black, LogStyle::Normal);
        written.push_back(QString());
        const qint64 empty = doc.MemoryUsed();
        for (int i = 1; chars < 6 * LogDocument::kBlockChars; ++i) {
            const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0'));
            const QString text = i % 4 == 0 ? QStringLiteral("Copying file ") + name + QStringLiteral(" to /media/x/") +
                                                  name + QStringLiteral(" ...")
                                 : i % 4 == 1 ? QStringLiteral("Size: %1 KiB").arg(i * 7 % 9000)
                                 : i % 4 == 2 ? QString::fromUtf8(i < 5000 ? "Ärger 🎉 " : "Ärger ") + name
                                              : QString();
            QCOMPARE(doc.Append(QStringLiteral("8/13/2016 8:41:21 AM "), text, LogColor(i % 6), LogStyle(i % 2)), i);
            written.push_back(text);
            chars += 21 + text.size();
        }
        // Its characters took two bytes each; the full blocks are packed on
        // a thread of their own.
        QTRY_VERIFY2(doc.MemoryUsed() - empty < chars / 4, qPrintable(QString::number(doc.MemoryUsed() - empty)));
        QCOMPARE(doc.CharactersBefore(doc.LineCount()), chars);
        // In order, and scattered over the blocks.
        const qsizetype n = qsizetype(written.size());
        const std::vector<LogLine> lines = doc.Lines(0, n);
        QCOMPARE(qsizetype(lines.size()), n);
        for (qsizetype k = 0; k < n + 500; ++k) {
            const qsizetype i = k < n ? k : (k - n) * 7919 % n;
            const LogLine line = k < n ? lines[size_t(i)] : doc.Line(i);
            QCOMPARE(line.prefix, i ? QStringLiteral("8/13/2016 8:41:21 AM ") : QString());
            QCOMPARE(line.text, written[size_t(i)]);
            QCOMPARE(line.color, LogColor(i % 6));
            QCOMPARE(line.style, LogStyle(i % 2));
            QCOMPARE(doc.LineLength(i), line.prefix.size() + line.text.size());
        }
        qint64 before = 0;
        for (qsizetype i = 0; i < n; before += doc.LineLength(i), ++i)
            QCOMPARE(doc.CharactersBefore(i), before);
    }

    // A long run: the view shows every line, the oldest still reachable.
    void viewShowsEveryLine()
    {
        Shown shown;
        const int total = 120000;
        for (int i = 0; i < total; ++i)
            shown.log.WriteLogNoDate(QString::number(i), LogColor::Black);
        shown.log.Flush();
        QCOMPARE(shown.log.Document().LineCount(), total);
        QCOMPARE(shown.view->LineCount(), total);
        QCOMPARE(shown.view->LastVisibleLine(), total - 1);
        QCOMPARE(shown.view->LineText(total - 1), QString::number(total - 1));
        QTest::keyClick(shown.view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(shown.view->FirstVisibleLine(), 0);
        QCOMPARE(shown.view->LineText(0), QStringLiteral("0"));
    }

private:
    FormatSettings saved_;
};

FERROVANE_TEST_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
