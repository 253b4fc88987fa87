#include "RunStop.h"

#include "base/RunState.h"
#include "log/LogSink.h"

void RunStop::Request(const std::atomic<bool> &workerActive)
{
    // Due before the worker is asked: a worker that clears its flag after
    // the look below then finds the ending due, and one that cleared it
    // before leaves it to this thread; exactly one of the two takes it.
    endingDue_ = true;
    run_.StopSignalled = true;
    if (!workerActive)
        JobEnded();
}

void RunStop::JobEnded()
{
    if (!endingDue_.exchange(false))
        return;
    log_.WriteLogNoDate(QString(), LogColor::Black);
    log_.WriteLog(QStringLiteral("Stop Signalled."), LogColor::Red);
}
