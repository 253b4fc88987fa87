#include "CommandRunner.h"

#include "CommandLine.h"

#include "base/FileNames.h"
#include "base/RunState.h"
#include "log/Exception.h"
#include "log/LogSink.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

// A started command, shared by the thread that reads its output and reaps
// it, and by the thread that waits for it. The waiter may leave early (Stop);
// the reader then goes on alone until the command ends, so the command never
// meets a closed pipe and never stays a zombie.
struct ProcessWatch
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<bool, QString>> lines;  // (error output, text)
    bool finished = false;
    std::uint32_t exitCode = 0;
    bool stop = false;                               // the waiter was told to stop waiting
    bool released = false;                           // nobody reads the lines any more
    QAbstractEventDispatcher *dispatcher = nullptr;  // a waiting event loop to wake

    void Notify()
    {
        changed.notify_all();
        if (dispatcher)
            dispatcher->wakeUp();
    }
};

namespace {

// One read line is capped so a command that never ends its line cannot make
// the program hold its whole output.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

class OutputSplitter
{
public:
    explicit OutputSplitter(bool error) : error_(error) {}

    void Add(const char *data, qsizetype size, std::deque<std::pair<bool, QString>> &out)
    {
        buffer_.append(data, size);
        qsizetype start = 0;
        for (;;) {
            const qsizetype end = buffer_.indexOf('\n', start);
            if (end < 0)
                break;
            Emit(buffer_.mid(start, end - start), out);
            start = end + 1;
        }
        buffer_.remove(0, start);
        while (buffer_.size() >= kMaxLineBytes) {
            Emit(buffer_.left(kMaxLineBytes), out);
            buffer_.remove(0, kMaxLineBytes);
        }
    }

    void Finish(std::deque<std::pair<bool, QString>> &out)
    {
        if (!buffer_.isEmpty())
            Emit(buffer_, out);
        buffer_.clear();
    }

private:
    void Emit(const QByteArray &bytes, std::deque<std::pair<bool, QString>> &out)
    {
        // Output is bytes: what is not UTF-8 reaches the log as "\xFF".
        QString line = nameFromBytes(bytes);
        if (line.trimmed().isEmpty())
            return;
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
        out.emplace_back(error_, line);
    }

    bool error_;
    QByteArray buffer_;
};

std::uint32_t ExitCodeOf(int status)
{
    if (WIFEXITED(status))
        return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return 0;
}

void ReadAndReap(std::shared_ptr<ProcessWatch> watch, pid_t pid, int outFd, int errFd)
{
    OutputSplitter outSplit(false), errSplit(true);
    int fds[2] = {outFd, errFd};
    OutputSplitter *splitters[2] = {&outSplit, &errSplit};
    char buffer[16384];
    bool exited = false;
    int status = 0;

    auto drain = [&](int index, bool *open) {
        for (;;) {
            const ssize_t got = ::read(fds[index], buffer, sizeof buffer);
            if (got > 0) {
                std::deque<std::pair<bool, QString>> lines;
                splitters[index]->Add(buffer, got, lines);
                if (!lines.empty()) {
                    std::lock_guard lock(watch->mutex);
                    if (!watch->released) {
                        for (auto &line : lines)
                            watch->lines.push_back(std::move(line));
                        watch->Notify();
                    }
                }
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0)
                *open = false;
            return;  // EAGAIN: nothing more for now
        }
    };

    bool open[2] = {true, true};
    while (!exited) {
        pollfd polls[2];
        nfds_t count = 0;
        int indexOf[2];
        for (int i = 0; i < 2; ++i) {
            if (open[i]) {
                polls[count] = {fds[i], POLLIN, 0};
                indexOf[count++] = i;
            }
        }
        // The shell may end while something it started in the background
        // still holds the pipes: look at the process itself now and then.
        const int ready = ::poll(polls, count, 50);
        if (ready > 0) {
            for (nfds_t k = 0; k < count; ++k)
                if (polls[k].revents)
                    drain(indexOf[k], &open[indexOf[k]]);
        }
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            exited = true;
    }
    // What the command wrote before it ended is still in the pipes.
    for (int i = 0; i < 2; ++i)
        if (open[i])
            drain(i, &open[i]);
    ::close(outFd);
    ::close(errFd);

    std::deque<std::pair<bool, QString>> rest;
    outSplit.Finish(rest);
    errSplit.Finish(rest);
    std::lock_guard lock(watch->mutex);
    if (!watch->released)
        for (auto &line : rest)
            watch->lines.push_back(std::move(line));
    watch->exitCode = ExitCodeOf(status);
    watch->finished = true;
    watch->Notify();
}

QString SystemMessage(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Starts /bin/sh -c cmdLine in dir with its output in two pipes. Returns the
// watch, or null with the reason in *message.
std::shared_ptr<ProcessWatch> StartShell(const QString &dir, const QString &cmdLine, QString *message)
{
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        *message = SystemMessage(errno);
        return nullptr;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        *message = SystemMessage(errno);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return nullptr;
    }

    // A file name in the command keeps the bytes it has on disk.
    const QByteArray dirBytes = nameToBytes(dir);
    const QByteArray lineBytes = nameToBytes(cmdLine);
    char shell[] = "/bin/sh";
    char option[] = "-c";
    char *argv[] = {shell, option, const_cast<char *>(lineBytes.constData()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, dirBytes.constData());

    // The command starts with every signal at its default and none blocked,
    // whatever this program set for itself (an ignored SIGPIPE would leak in).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, shell, &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (error != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        if (error == ENOENT || error == ENOTDIR || error == EACCES)
            *message =
                QStringLiteral("Cannot run %1 in \"%2\": %3").arg(QLatin1String(shell), dir, SystemMessage(error));
        else
            *message = QStringLiteral("Cannot start %1: %2").arg(QLatin1String(shell), SystemMessage(error));
        return nullptr;
    }
    ::fcntl(outPipe[0], F_SETFL, ::fcntl(outPipe[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(errPipe[0], F_SETFL, ::fcntl(errPipe[0], F_GETFL) | O_NONBLOCK);

    auto watch = std::make_shared<ProcessWatch>();
    std::thread(ReadAndReap, watch, pid, outPipe[0], errPipe[0]).detach();
    return watch;
}

bool OnUserInterfaceThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

std::int32_t SuccessCodeValue(const QString &text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < INT32_MIN || value > INT32_MAX)
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return static_cast<std::int32_t>(value);
}

bool CommandSucceeded(std::uint32_t exitCode, std::int32_t successCode)
{
    return successCode >= 0 && exitCode == static_cast<std::uint32_t>(successCode);
}

struct CommandRunner::Texts
{
    QString heading, result, error;
};

CommandRunner::CommandRunner(LogSink &log, RunState &run, NotStartedFunction notStarted, QString programFolder)
    : log_(log), run_(run), notStarted_(std::move(notStarted)), programFolder_(std::move(programFolder))
{
}

CommandRunner::~CommandRunner() = default;

void CommandRunner::RunPostFileCopyCommand(const QString &Path, const QString &File)
{
    static const Texts texts{QStringLiteral("Post File Copy Command:"),
                             QStringLiteral("Post File Copy Command Result Code = "),
                             QStringLiteral("ERROR Post File Copy Command Result Code = ")};
    RunCommand(settings_.PostFileCopy, texts, Path, &File);
}

void CommandRunner::RunPostProcessingCommand()
{
    static const Texts texts{QStringLiteral("Post Processing Command:"),
                             QStringLiteral("Post Processing Command Result Code = "),
                             QStringLiteral("ERROR Post Processing Command Result Code = ")};
    if (!settings_.PostProcessing.Enabled)
        return;
    RunCommand(settings_.PostProcessing, texts, settings_.Destination, nullptr);
}

void CommandRunner::RunCommand(const CommandSettings &settings, const Texts &texts, const QString &path,
                               const QString *file)
{
    if (!settings.Enabled)
        return;
    log_.WriteLog(texts.heading, LogColor::Maroon);

    QList<CommandTag> tags{{QStringLiteral("[Path]"), path}};
    if (file)
        tags.append({QStringLiteral("[File]"), *file});
    const BuiltCommand command = BuildCommand(settings.Text, tags, programFolder_);
    log_.WriteLog(command.CmdLine, LogColor::Maroon);
    if (!command.Error.isEmpty()) {
        log_.WriteLog(QStringLiteral("ERROR: The value of %1 cannot be placed safely at that point of the "
                                     "command, so the command was not run.")
                          .arg(command.Error),
                      LogColor::Red, LogStyle::Bold);
        ++run_.ErrorCount;
        return;
    }

    const std::uint32_t exitCode = ExecNewProcess(command.CmdDir, command.ShellCmdLine);
    if (released_) {
        // Its result is unknown: neither a success nor an error of the run.
        log_.WriteLog(QStringLiteral("Stopped waiting for the command; it goes on running."), LogColor::Red);
        return;
    }

    const std::int32_t successCode = SuccessCodeValue(settings.SuccessCode);
    if (CommandSucceeded(exitCode, successCode)) {
        log_.WriteLog(texts.result + QString::number(exitCode), LogColor::Maroon);
    } else {
        log_.WriteLog(texts.error + QString::number(exitCode) + QStringLiteral(" (Success = ") + settings.SuccessCode +
                          QLatin1Char(')'),
                      LogColor::Red);
        ++run_.ErrorCount;
    }
}

void CommandRunner::ReportStartFailure(const QString &message)
{
    if (notStarted_)
        notStarted_(message);
}

std::uint32_t CommandRunner::ExecNewProcess(const QString &CmdDir, const QString &CmdLine)
{
    log_.WriteLog(QStringLiteral("CmdDir = ") + CmdDir + QStringLiteral("CmdLine = ") + CmdLine, LogColor::Maroon);
    if (waiting_.exchange(true)) {
        // Another command is being waited for (a call from inside that wait):
        // leave its state alone.
        ReportStartFailure(QStringLiteral("Cannot perform this operation when process is running"));
        return NotStartedCode;
    }
    CommandExitCode = 0;
    released_ = false;

    QString message;
    std::shared_ptr<ProcessWatch> watch = StartShell(CmdDir.trimmed(), CmdLine, &message);
    if (!watch) {
        waiting_ = false;
        CommandExitCode = NotStartedCode;
        ReportStartFailure(message);
        return CommandExitCode;
    }

    const bool onUi = OnUserInterfaceThread();
    {
        std::lock_guard lock(watch->mutex);
        if (onUi)
            watch->dispatcher = QAbstractEventDispatcher::instance();
    }
    {
        std::lock_guard lock(currentMutex_);
        current_ = watch;
    }

    for (;;) {
        std::deque<std::pair<bool, QString>> lines;
        bool finished = false;
        bool stop = false;
        {
            std::unique_lock lock(watch->mutex);
            if (!onUi) {
                // A copy run's Stop may come just before this wait began.
                watch->changed.wait_for(lock, std::chrono::milliseconds(100), [&] {
                    return watch->finished || watch->stop || !watch->lines.empty() || run_.StopSignalled.load();
                });
            }
            lines.swap(watch->lines);
            finished = watch->finished;
            stop = watch->stop || (!onUi && run_.StopSignalled.load());
            if (finished)
                CommandExitCode = watch->exitCode;
            else if (stop) {
                watch->released = true;
                watch->dispatcher = nullptr;
            }
        }
        for (const auto &[error, text] : lines) {
            if (error)
                log_.WriteLogNoDate(QStringLiteral("ERROR> ") + text, LogColor::Red);
            else
                log_.WriteLogNoDate(text, LogColor::Maroon);
        }
        if (finished)
            break;
        if (stop) {
            released_ = true;
            break;
        }
        if (onUi)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

    {
        std::lock_guard lock(watch->mutex);
        watch->dispatcher = nullptr;
    }
    {
        std::lock_guard lock(currentMutex_);
        current_.reset();
    }
    waiting_ = false;
    return CommandExitCode;
}

void CommandRunner::StopWaiting()
{
    std::shared_ptr<ProcessWatch> watch;
    {
        std::lock_guard lock(currentMutex_);
        watch = current_;
    }
    if (!watch)
        return;
    std::lock_guard lock(watch->mutex);
    watch->stop = true;
    watch->Notify();
}
