#pragma once

// How a stop reaches the work in progress. The Stop button, closing the
// window and the exit signals (which close it) all come here. The stop flag
// is set at once; a walk leaves at its next look at it, and a transfer in
// flight ends between two chunks, drops its temporary and names its file.
// The log's ending, an empty line and "Stop Signalled." in red, is written
// once, by whoever ends the work: the worker as it leaves its job, so that
// the ending follows whatever the job still wrote, or at once when no worker
// runs.

#include <atomic>

class LogSink;
struct RunState;

class RunStop
{
public:
    RunStop(RunState &run, LogSink &log) : run_(run), log_(log) {}

    // Asks the work in progress to stop. workerActive: the flag a worker
    // holds while it runs a job; while it is set, the worker writes the
    // ending in JobEnded, otherwise it is written here.
    void Request(const std::atomic<bool> &workerActive);
    // The worker's last step, after it has cleared its active flag.
    void JobEnded();

private:
    RunState &run_;
    LogSink &log_;
    std::atomic<bool> endingDue_{false};
};
