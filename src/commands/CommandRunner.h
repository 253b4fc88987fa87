#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
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

// What the runner needs from the main window. Called on the thread that runs
// the command; implementations hand widget work to the user-interface thread.
class CommandHost
{
public:
    virtual ~CommandHost() = default;
    virtual CommandSettings PostFileCopyCommand() = 0;
    virtual CommandSettings PostProcessingCommand() = 0;
    // The "Destination Path:" field as shown.
    virtual QString DestinationText() = 0;
    // The modal "ExecNewProcess Error:" dialog (with the arrow cursor back).
    virtual void ShowExecError(const QString &message) = 0;
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

    CommandRunner(LogSink &log, RunState &run, CommandHost &host, QString programFolder);
    ~CommandRunner();

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
    CommandHost &host_;
    QString programFolder_;

    std::uint32_t CommandExitCode = 0;
    bool released_ = false;  // the last wait was released before the command ended
    std::atomic<bool> waiting_{false};
    std::mutex currentMutex_;
    std::shared_ptr<ProcessWatch> current_;
};
