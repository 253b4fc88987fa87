#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class LogSink;
struct RunState;
struct ProcessWatch;

// One user command as the post-processing dialog holds it at this moment.
struct CommandSettings
{
    bool Enabled = false;
    QString Text;
    QString SuccessCode;
};

// The commands of a run, given when it starts.
struct CommandRunSettings
{
    CommandSettings PostFileCopy;
    CommandSettings PostProcessing;
    // The destination: the post-processing command's [Path].
    QString Destination;
};

// The success-code text as a number; throws Exception when it is none.
std::int32_t SuccessCodeValue(const QString &text);
// The exit code read unsigned against the success code read signed: a
// negative success code never matches.
bool CommandSucceeded(std::uint32_t exitCode, std::int32_t successCode);

// Runs the user's commands through /bin/sh, one at a time, and reports them
// in the log. Works on the user-interface thread (the window keeps answering
// while it waits) and on a worker thread.
class CommandRunner
{
public:
    // The code of a command that could not be started at all: the shell's
    // own code for a command it cannot run, so it never counts as success.
    static constexpr std::uint32_t NotStartedCode = 127;

    // Told, on the thread that runs the command, of a command that could not
    // be started at all ("ExecNewProcess Error:").
    using NotStartedFunction = std::function<void(const QString &message)>;

    CommandRunner(LogSink &log, RunState &run, NotStartedFunction notStarted, QString programFolder);
    ~CommandRunner();

    // The commands from now on (set before a run starts).
    void SetSettings(CommandRunSettings settings) { settings_ = std::move(settings); }

    void RunPostFileCopyCommand(const QString &Path, const QString &File);
    void RunPostProcessingCommand();
    // Runs /bin/sh -c CmdLine in CmdDir and waits for it; returns its exit
    // code (128 + the signal for one killed by a signal).
    std::uint32_t ExecNewProcess(const QString &CmdDir, const QString &CmdLine);

    // Releases the wait; the command itself keeps running.
    void StopWaiting();
    bool IsWaiting() const { return waiting_.load(); }

private:
    struct Texts;
    void RunCommand(const CommandSettings &settings, const Texts &texts, const QString &path, const QString *file);
    void ReportStartFailure(const QString &message);

    LogSink &log_;
    RunState &run_;
    NotStartedFunction notStarted_;
    CommandRunSettings settings_;
    QString programFolder_;

    std::uint32_t CommandExitCode = 0;
    bool released_ = false;  // the last wait was released before the command ended
    std::atomic<bool> waiting_{false};
    std::mutex currentMutex_;
    std::shared_ptr<ProcessWatch> current_;
};
