#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// The application object: hands every exception that leaves an event handler
// to one handler instead of letting it end the program.
class Application : public QApplication
{
public:
    using ExceptionHandler = std::function<void(QObject *sender, const std::exception &e)>;

    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Installed by the main window at its creation.
    static void SetExceptionHandler(ExceptionHandler handler);
    // Reports an exception caught elsewhere (a queued call, a worker's hand-off).
    static void HandleException(QObject *sender, const std::exception &e);

    // From now on SIGTERM, SIGHUP and SIGINT (logout, shutdown, Ctrl+C) end
    // nothing by themselves: each calls handler on this thread, from the event
    // loop. A signal that comes before the loop runs waits for it.
    void CatchExitSignals(std::function<void()> handler);
};
