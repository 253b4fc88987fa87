#include "common/TestMain.h"

#include "base/FileNames.h"
#include "base/RunState.h"
#include "commands/CommandRunner.h"
#include "log/Exception.h"
#include "log/LogSink.h"

#include <QThread>
#include <QTimer>

#include <memory>
#include <mutex>

#include <signal.h>

namespace {

struct Line
{
    bool dated;
    QString text;
    LogColor color;
    LogStyle style;
};

class RecordingLog : public LogSink
{
public:
    void WriteLog(const QString &text, LogColor color, LogStyle style) override { Add({true, text, color, style}); }
    void WriteLogNoDate(const QString &text, LogColor color, LogStyle style) override
    {
        Add({false, text, color, style});
    }
    QList<Line> Lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The texts of the lines of one kind, in order.
    QStringList Texts(bool dated, LogColor color) const
    {
        QStringList out;
        for (const Line &line : Lines())
            if (line.dated == dated && line.color == color)
                out << line.text;
        return out;
    }

    void Clear()
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    void Add(Line line)
    {
        std::lock_guard lock(mutex_);
        lines_.append(std::move(line));
    }
    mutable std::mutex mutex_;
    QList<Line> lines_;
};

// A run's commands, and what it was told of commands that did not start.
struct FakeHost
{
    CommandSettings fileCommand{true, "exit 0", "0"};
    CommandSettings processingCommand{true, "exit 0", "0"};
    QString destination = "/photos/";
    QStringList execErrors;

    std::unique_ptr<CommandRunner> Runner(LogSink &log, RunState &run, const QString &programFolder)
    {
        auto runner = std::make_unique<CommandRunner>(
            log, run, [this](const QString &message) { execErrors << message; }, programFolder);
        runner->SetSettings({fileCommand, processingCommand, destination});
        return runner;
    }
};

bool ProcessExists(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

}  // namespace

class TestCommandRunner : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString programFolder_;
    std::unique_ptr<RecordingLog> logPtr_ = std::make_unique<RecordingLog>();
    RecordingLog &log_ = *logPtr_;
    RunState run_;
    FakeHost host_;

    void Reset()
    {
        folder_ = std::make_unique<QTemporaryDir>();
        programFolder_ = folder_->path() + "/";
        log_.Clear();
        run_.ErrorCount = 0;
        run_.StopSignalled = false;
        host_ = FakeHost{};
    }

    QString PidFile() const { return programFolder_ + "pid"; }
    pid_t ReadPid() const
    {
        QFile file(PidFile());
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return file.readAll().trimmed().toInt();
    }
    // A command that leaves its process id where the test can find it, then
    // runs long enough to be waited on.
    static QString LongCommand() { return "echo $$ > pid.tmp && mv pid.tmp pid && exec sleep 120"; }

    void EndLongCommand()
    {
        const pid_t pid = ReadPid();
        QVERIFY(pid > 0);
        QVERIFY(ProcessExists(pid));
        ::kill(pid, SIGKILL);
        QTRY_VERIFY(!ProcessExists(pid));  // reaped: no zombie left behind
    }

private slots:
    void init() { Reset(); }

    void exitCodeRule_data()
    {
        QTest::addColumn<quint32>("exitCode");
        QTest::addColumn<qint32>("successCode");
        QTest::addColumn<bool>("succeeded");
        QTest::newRow("zero") << 0u << 0 << true;
        QTest::newRow("one against zero") << 1u << 0 << false;
        QTest::newRow("other code") << 255u << 255 << true;
        QTest::newRow("negative success never matches") << 4294967295u << -1 << false;
        QTest::newRow("2^31 against the lowest int") << 2147483648u << qint32(INT32_MIN) << false;
        QTest::newRow("highest int") << 2147483647u << qint32(INT32_MAX) << true;
    }
    void exitCodeRule()
    {
        QFETCH(quint32, exitCode);
        QFETCH(qint32, successCode);
        QTEST(CommandSucceeded(exitCode, successCode), "succeeded");
    }

    void successCodeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint32>("value");
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("digits") << "255" << true << 255;
        QTest::newRow("negative") << "-1" << true << -1;
        QTest::newRow("highest") << "2147483647" << true << qint32(INT32_MAX);
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("too big") << "2147483648" << false << 0;
        QTest::newRow("fraction") << "1.5" << false << 0;
    }
    void successCodeText()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        if (valid) {
            QTEST(SuccessCodeValue(text), "value");
            return;
        }
        try {
            SuccessCodeValue(text);
            QFAIL("no exception");
        } catch (const Exception &e) {
            QCOMPARE(e.Message(), "'" + text + "' is not a valid integer value");
        }
    }

    void resultLines_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("success");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("error");
        QTest::newRow("success") << "exit 0"
                                 << "0"
                                 << "Post File Copy Command Result Code = 0" << false;
        QTest::newRow("failure") << "exit 1"
                                 << "0"
                                 << "ERROR Post File Copy Command Result Code = 1 (Success = 0)" << true;
        QTest::newRow("other success code") << "exit 3"
                                            << "3"
                                            << "Post File Copy Command Result Code = 3" << false;
        QTest::newRow("negative success code")
            << "exit 255"
            << "-1"
            << "ERROR Post File Copy Command Result Code = 255 (Success = -1)" << true;
        QTest::newRow("terminated by a signal")
            << "kill -TERM $$"
            << "0"
            << "ERROR Post File Copy Command Result Code = 143 (Success = 0)" << true;
        QTest::newRow("killed, and that was expected") << "kill -KILL $$"
                                                       << "137"
                                                       << "Post File Copy Command Result Code = 137" << false;
        QTest::newRow("command not found") << "no-such-command-here"
                                           << "0"
                                           << "ERROR Post File Copy Command Result Code = 127 (Success = 0)" << true;
    }
    void resultLines()
    {
        QFETCH(QString, command);
        QFETCH(QString, success);
        QFETCH(QString, line);
        QFETCH(bool, error);
        host_.fileCommand = {true, command, success};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "IMG_0001.JPG");
        const QList<Line> lines = log_.Lines();
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.last().text, line);
        QVERIFY(lines.last().dated);
        QCOMPARE(lines.last().color, error ? LogColor::Red : LogColor::Maroon);
        QCOMPARE(lines.last().style, LogStyle::Normal);
        QCOMPARE(run_.ErrorCount.load(), error ? 1 : 0);
        QVERIFY(host_.execErrors.isEmpty());
    }

    void everyLineOfOneCommand()
    {
        host_.processingCommand = {true, "test -d [Path]", "0"};
        host_.destination = "/";
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostProcessingCommand();
        const QStringList expected{"Post Processing Command:", "test -d /",
                                   "CmdDir = " + programFolder_ + "CmdLine = test -d /",
                                   "Post Processing Command Result Code = 0"};
        QCOMPARE(log_.Texts(true, LogColor::Maroon), expected);
        QCOMPARE(log_.Lines().size(), expected.size());
    }

    // [File] reaches the shell as the bytes of the name on disk, and what
    // the command prints reaches the log without loss.
    void fileTagKeepsTheBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("lone FF") << QByteArray("x\xFF.JPG");
        QTest::newRow("overlong") << QByteArray("\xC0\xAF.JPG");
        QTest::newRow("U+FFFD") << QByteArray("x\xEF\xBF\xBD.JPG");
        QTest::newRow("quote, newline, dollar") << QByteArray("a'b\n$(touch ran)\xFE.JPG");
    }
    void fileTagKeepsTheBytes()
    {
        QFETCH(QByteArray, name);
        host_.fileCommand = {true, "printf %s [File] > out; printf %s [File]", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", nameFromBytes(name));
        QFile out(programFolder_ + "out");
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), name);
        QVERIFY(!QFile::exists(programFolder_ + "ran"));
        QCOMPARE(log_.Texts(false, LogColor::Maroon).join('\n'), nameFromBytes(name));
    }

    void checkBoxOffWritesNothing()
    {
        host_.fileCommand = {false, "touch ran", ""};
        host_.processingCommand = {false, "touch ran", ""};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "x");
        runner->RunPostProcessingCommand();
        QVERIFY(log_.Lines().isEmpty());
        QVERIFY(!QFile::exists(programFolder_ + "ran"));
    }

    void emptySuccessCodeRaises()
    {
        host_.fileCommand = {true, "touch ran", ""};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        QVERIFY_THROWS_EXCEPTION(Exception, runner->RunPostFileCopyCommand("/photos/", "x"));
        QVERIFY(!runner->IsWaiting());
    }

    void outputGoesToTheLog()
    {
        host_.fileCommand = {true, "printf 'one\\n\\n   \\n  two  \\r\\n'; printf 'bad\\n' >&2; printf 'last'", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "x");
        QCOMPARE(log_.Texts(false, LogColor::Maroon), (QStringList{"one", "  two", "last"}));
        QCOMPARE(log_.Texts(false, LogColor::Red), (QStringList{"ERROR> bad"}));
        QCOMPARE(log_.Lines().last().text, "Post File Copy Command Result Code = 0");
    }

    void muchOutputIsReadWhileRunning()
    {
        // More than a pipe holds: a runner that read only at the end would hang.
        host_.fileCommand = {true, "seq 1 50000; seq 1 50000 >&2", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "x");
        const QStringList out = log_.Texts(false, LogColor::Maroon);
        QCOMPARE(out.size(), 50000);
        QCOMPARE(out.first(), "1");
        QCOMPARE(out.last(), "50000");
        QCOMPARE(log_.Texts(false, LogColor::Red).size(), 50000);
    }

    void hostileFileNameArrivesIntact()
    {
        const QString name = "$(touch pwned) 'a\"\nb`.jpg";
        host_.fileCommand = {true, "printf '%s\\n' \"[File]\" > out; printf '%s\\n' [Path][File] >> out", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/ph otos/", name);
        QFile out(programFolder_ + "out");
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(out.readAll()), name + "\n/ph otos/" + name + "\n");
        QVERIFY(!QFile::exists(programFolder_ + "pwned"));
        QCOMPARE(run_.ErrorCount.load(), 0);
    }

    void workingFolder()
    {
        QVERIFY(QDir().mkpath(programFolder_ + "my tools"));
        const QString script = programFolder_ + "my tools/where";
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\npwd -P\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));

        host_.fileCommand = {true, "\"" + script + "\"", "0"};
        host_.processingCommand = {true, "pwd -P", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "x");
        runner->RunPostProcessingCommand();
        const QStringList out = log_.Texts(false, LogColor::Maroon);
        QCOMPARE(out, (QStringList{QFileInfo(programFolder_ + "my tools").canonicalFilePath(),
                                   QFileInfo(programFolder_).canonicalFilePath()}));
        QCOMPARE(run_.ErrorCount.load(), 0);
    }

    void startFailureIsReportedAndFails()
    {
        host_.fileCommand = {true, "/no/such/folder/prog", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "x");
        QCOMPARE(host_.execErrors.size(), 1);
        QVERIFY(host_.execErrors.first().contains("/no/such/folder/"));
        QCOMPARE(log_.Lines().last().text, "ERROR Post File Copy Command Result Code = 127 (Success = 0)");
        QCOMPARE(run_.ErrorCount.load(), 1);
        QVERIFY(!runner->IsWaiting());
    }

    void unsafePlacementDoesNotRun()
    {
        host_.fileCommand = {true, "touch \"${X:-[File]}\" ran", "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        runner->RunPostFileCopyCommand("/photos/", "a b");
        QVERIFY(!QFile::exists(programFolder_ + "ran"));
        QCOMPARE(log_.Lines().last().color, LogColor::Red);
        QVERIFY(log_.Lines().last().text.startsWith("ERROR: "));
        QCOMPARE(run_.ErrorCount.load(), 1);
    }

    // On the user-interface thread the window keeps answering while the
    // command runs, and Stop releases the wait without ending the command.
    void stopWhileWaitingOnUserInterfaceThread()
    {
        host_.fileCommand = {true, LongCommand(), "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        int ticksWhileWaiting = 0;
        QTimer timer;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [&] {
            if (!runner->IsWaiting())
                return;
            ++ticksWhileWaiting;
            if (ReadPid() > 0) {
                // A second command while one is waited for is refused.
                QCOMPARE(runner->ExecNewProcess(programFolder_, "touch second"), CommandRunner::NotStartedCode);
                runner->StopWaiting();
                timer.stop();
            }
        });
        timer.start();
        runner->RunPostFileCopyCommand("/photos/", "x");
        QVERIFY(ticksWhileWaiting > 0);
        QVERIFY(!runner->IsWaiting());
        QCOMPARE(host_.execErrors, QStringList{"Cannot perform this operation when process is running"});
        QVERIFY(!QFile::exists(programFolder_ + "second"));
        QCOMPARE(log_.Lines().last().text, "Stopped waiting for the command; it goes on running.");
        QCOMPARE(log_.Lines().last().color, LogColor::Red);
        QCOMPARE(run_.ErrorCount.load(), 0);
        EndLongCommand();
    }

    void stopWhileWaitingOnWorkerThread()
    {
        host_.processingCommand = {true, LongCommand(), "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        std::unique_ptr<QThread> worker(QThread::create([&] { runner->RunPostProcessingCommand(); }));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(runner->IsWaiting() && ReadPid() > 0, 30000);
        runner->StopWaiting();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
        QCOMPARE(log_.Lines().last().text, "Stopped waiting for the command; it goes on running.");
        EndLongCommand();
    }

    void stopSignalledReleasesWorkerWait()
    {
        // The copy run's Stop may land just before the wait begins.
        host_.processingCommand = {true, LongCommand(), "0"};
        const auto runner = host_.Runner(log_, run_, programFolder_);
        run_.StopSignalled = true;
        std::unique_ptr<QThread> worker(QThread::create([&] { runner->RunPostProcessingCommand(); }));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(ReadPid() > 0, 30000);
        EndLongCommand();
    }
};

FERROVANE_TEST_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
