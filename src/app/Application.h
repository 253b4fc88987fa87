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
};
