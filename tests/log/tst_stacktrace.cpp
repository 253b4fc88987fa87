#include "common/TestMain.h"

#include "log/Exception.h"
#include "log/ExceptionReport.h"
#include "log/LogSink.h"
#include "log/StackTrace.h"
#include "log/SystemInfo.h"

#include <QRegularExpression>

#include <stdexcept>
#include <thread>

namespace {

// Kept out of line so that the stack names them.
[[gnu::noinline]] void ThrowFerrovaneException()
{
    throw Exception(QStringLiteral("from the test"));
}

[[gnu::noinline]] void ThrowFromLibrary()
{
    // The standard library throws this one from its own code.
    std::string text("short");
    (void)text.at(100);
}

struct RecordingSink : LogSink
{
    struct Line
    {
        bool dated;
        QString text;
        LogColor color;
        LogStyle style;
    };
    QList<Line> lines;
    void WriteLog(const QString &text, LogColor color, LogStyle style) override
    {
        lines.append({true, text, color, style});
    }
    void WriteLogNoDate(const QString &text, LogColor color, LogStyle style) override
    {
        lines.append({false, text, color, style});
    }
};

StackEntry Entry(std::uintptr_t address)
{
    StackEntry e;
    e.address = address;
    return e;
}

}  // namespace

Q_DECLARE_METATYPE(StackEntry)

class TestStackTrace : public QObject
{
    Q_OBJECT
private slots:
    void formatLines_data()
    {
        QTest::addColumn<StackEntry>("entry");
        QTest::addColumn<QString>("expected");

        StackEntry full = Entry(0x4A1F2C);
        full.hasRoutine = full.hasLine = true;
        full.unit = QStringLiteral("About");
        full.routine = QStringLiteral("TAboutForm::CreateTestException()");
        full.file = QStringLiteral("/src/log/About.cpp");
        full.line = 120;
        full.routineFirstLine = 118;
        full.lineOffset = 0x1B;
        QTest::newRow("line, first line known")
            << full
            << "[004A1F2C] About.TAboutForm::CreateTestException() (Line 120, \"/src/log/About.cpp\" + 2) + $1B";

        StackEntry noFirst = full;
        noFirst.routineFirstLine = 0;
        noFirst.lineOffset = 0;
        QTest::newRow("line, first line unknown")
            << noFirst << "[004A1F2C] About.TAboutForm::CreateTestException() (Line 120, \"/src/log/About.cpp\") + $0";

        StackEntry negative = full;
        negative.lineOffset = -0x10;
        QTest::newRow("negative line offset")
            << negative
            << "[004A1F2C] About.TAboutForm::CreateTestException() (Line 120, \"/src/log/About.cpp\" + 2) - $10";

        StackEntry prefixed = full;
        prefixed.routine = QStringLiteral("About.Helper");
        QTest::newRow("unit prefix dropped")
            << prefixed << "[004A1F2C] About.Helper (Line 120, \"/src/log/About.cpp\" + 2) + $1B";

        StackEntry wide = full;
        wide.address = 0x55D1C0FFEE12;
        QTest::newRow("64-bit address keeps every digit")
            << wide
            << "[55D1C0FFEE12] About.TAboutForm::CreateTestException() (Line 120, \"/src/log/About.cpp\" + 2) + $1B";

        StackEntry routine = Entry(0x7F00AB);
        routine.hasRoutine = true;
        routine.routine = QStringLiteral("QWidget::event(QEvent*)");
        routine.routineOffset = 0x2AF;
        QTest::newRow("routine without unit") << routine << "[007F00AB] QWidget::event(QEvent*) + $2AF";

        StackEntry routineUnit = routine;
        routineUnit.unit = QStringLiteral("qwidget");
        QTest::newRow("routine with unit") << routineUnit << "[007F00AB] qwidget.QWidget::event(QEvent*) + $2AF";

        StackEntry bare = Entry(0x7FFF12345678);
        bare.moduleOffset = 0x1234;
        QTest::newRow("no symbol") << bare << "(00001234) [7FFF12345678]";
    }
    void formatLines()
    {
        QFETCH(StackEntry, entry);
        QFETCH(QString, expected);
        QCOMPARE(FormatStackEntry(entry), expected);
    }

    // A throw in this program names the function that threw, its file and
    // line, innermost first.
    void throwIsRecordedAndResolved()
    {
        QStringList lines;
        try {
            ThrowFerrovaneException();
        } catch (const Exception &e) {
            lines = StackDumpLines(&e);
        }
        QVERIFY(!lines.isEmpty());
        const QRegularExpression withLine(QStringLiteral(
            R"(^\[[0-9A-F]{8,16}\] tst_stacktrace\.(\(anonymous namespace\)::)?ThrowFerrovaneException(\(\))? \(Line \d+, ".*tst_stacktrace\.cpp"( \+ \d+)?\) [+-] \$[0-9A-F]+$)"));
        QVERIFY2(withLine.match(lines.first()).hasMatch(), qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY2(lines.filter(QStringLiteral("throwIsRecordedAndResolved")).size() >= 1,
                 qPrintable(lines.join(QLatin1Char('\n'))));
    }

    void throwFromTheStandardLibraryIsRecorded()
    {
        QStringList lines;
        try {
            ThrowFromLibrary();
        } catch (const std::out_of_range &e) {
            lines = StackDumpLines(&e);
        }
        QVERIFY(!lines.isEmpty());
        QVERIFY2(lines.filter(QStringLiteral("ThrowFromLibrary")).size() == 1,
                 qPrintable(lines.join(QLatin1Char('\n'))));
    }

    // The report asks for the stack of the exception it is handed, not of
    // whatever was thrown last.
    void stackFollowsTheExceptionObject()
    {
        try {
            ThrowFerrovaneException();
        } catch (const Exception &outer) {
            try {
                ThrowFromLibrary();
            } catch (const std::exception &) {
            }
            const QStringList lines = StackDumpLines(&outer);
            QVERIFY(lines.filter(QStringLiteral("ThrowFerrovaneException")).size() == 1);
            QVERIFY(lines.filter(QStringLiteral("ThrowFromLibrary")).isEmpty());
        }
    }

    void otherThreadsDoNotLendTheirStacks()
    {
        try {
            ThrowFerrovaneException();
        } catch (const Exception &) {
        }
        std::thread worker([] {
            try {
                ThrowFromLibrary();
            } catch (const std::exception &) {
            }
        });
        worker.join();
        // An object never thrown on this thread: the newest throw of this
        // thread is used, never the worker's.
        const Exception notThrown(QStringLiteral("never thrown"));
        const QStringList lines = StackDumpLines(&notThrown);
        QVERIFY(lines.filter(QStringLiteral("ThrowFromLibrary")).isEmpty());
        QCOMPARE(lines.filter(QStringLiteral("ThrowFerrovaneException")).size(), 1);
    }

    void reportLinesInOrder()
    {
        RecordingSink sink;
        try {
            ThrowFerrovaneException();
        } catch (const Exception &e) {
            WriteExceptionReport(sink, e.Message(), ExceptionClassName(e), &e);
        }
        QVERIFY(sink.lines.size() >= 7);
        auto check = [&](int i, bool dated, const QString &text, LogColor color, LogStyle style) {
            QCOMPARE(sink.lines[i].dated, dated);
            QCOMPARE(sink.lines[i].text, text);
            QCOMPARE(sink.lines[i].color, color);
            QCOMPARE(sink.lines[i].style, style);
        };
        const int n = int(sink.lines.size());
        check(0, true, QStringLiteral("Exception Message = from the test"), LogColor::Red, LogStyle::Bold);
        check(1, true, QStringLiteral("Exception Class Name = Exception"), LogColor::Red, LogStyle::Bold);
        check(2, false, QString(70, QLatin1Char('=')), LogColor::Black, LogStyle::Normal);
        check(3, true, QStringLiteral("Stack Dump:"), LogColor::Blue, LogStyle::Bold);
        for (int i = 4; i < n - 2; ++i) {
            QVERIFY(!sink.lines[i].dated);
            QCOMPARE(sink.lines[i].color, LogColor::Black);
            QCOMPARE(sink.lines[i].style, LogStyle::Normal);
        }
        QVERIFY(sink.lines[4].text.contains(QStringLiteral("ThrowFerrovaneException")));
        check(n - 2, true, QStringLiteral("Exception Message = from the test"), LogColor::Red, LogStyle::Bold);
        check(n - 1, true, QStringLiteral("Exception Class Name = Exception"), LogColor::Red, LogStyle::Bold);
    }

    // A value the machine does not give is an empty text, never a made-up 0.
    void systemInfoValues_data()
    {
        QTest::addColumn<QByteArray>("proc");  // cpuinfo, meminfo, status and uptime, split by '|'
        QTest::addColumn<QString>("release");
        QTest::addColumn<QStringList>("values");  // "label : value", the label without "LogSystemInfo "
        const QStringList none = {"CPU.NormFreq : ",
                                  "Memory.TotalPhysicalMemory : ",
                                  "Memory.FreePageFileMemory : ",
                                  "Memory.FreeVirtualMemory : ",
                                  "OS.VersionBuild : ",
                                  "OS.VersionMajor : ",
                                  "OS.ServicePackVersion : ",
                                  "Identification.TimeRunning : "};
        QTest::newRow("nothing known") << QByteArray("|||") << "" << none;
        QTest::newRow("a typical machine")
            << QByteArray("cpu MHz\t: 2399.6\n|MemTotal:  512 kB\nCommitLimit: 900 kB\nCommitted_AS: 100 kB\n|"
                          "VmSize:\t 1024 kB\n|90061.5 12.0\n")
            << "6.1.0-18-amd64"
            << QStringList{"CPU.NormFreq : 2400",
                           "Memory.TotalPhysicalMemory : 512 KiB",
                           "Memory.FreePageFileMemory : 800 KiB",
                           "OS.VersionBuild : 0",
                           "OS.VersionMajor : 6",
                           "OS.VersionMinor : 1",
                           "OS.ServicePackVersion : "};
    }
    void systemInfoValues()
    {
        QFETCH(QByteArray, proc);
        QFETCH(QString, release);
        QFETCH(QStringList, values);
        const QList<QByteArray> files = proc.split('|');
        RecordingSink sink;
        LogSystemInfo(sink, QStringLiteral("Version 1"), QStringLiteral("/p/"), QStringLiteral("/u/"),
                      {files[0], files[1], files[2], files[3], release});
        QStringList lines;
        for (const RecordingSink::Line &line : std::as_const(sink.lines))
            lines << line.text.mid(line.text.startsWith(QLatin1String("LogSystemInfo ")) ? 14 : 0);
        QCOMPARE(lines.size(), 34);
        for (const QString &value : values)
            QVERIFY2(lines.contains(value), qPrintable(value + QLatin1Char('\n') + lines.join(QLatin1Char('\n'))));
    }
};


FERROVANE_TEST_MAIN(TestStackTrace)
#include "tst_stacktrace.moc"
