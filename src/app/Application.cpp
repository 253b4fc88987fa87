#include "Application.h"

#include <QMessageBox>
#include <QSocketNotifier>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

Application::ExceptionHandler &Handler()
{
    static Application::ExceptionHandler handler;
    return handler;
}

// The signal handler only writes a byte here; the event loop reads it.
int exitSignalPipe[2] = {-1, -1};

void OnExitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(exitSignalPipe[0], &byte, 1);
    errno = saved;
}

} // namespace

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    // Constructing the application adopted the user's locale for the C
    // library; number parsing must never depend on it.
    std::setlocale(LC_NUMERIC, "C");
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        HandleException(receiver, e);
    } catch (...) {
        HandleException(receiver, std::runtime_error("Unknown exception"));
    }
    return false;
}

void Application::SetExceptionHandler(ExceptionHandler handler)
{
    Handler() = std::move(handler);
}

void Application::HandleException(QObject *sender, const std::exception &e)
{
    if (Handler()) {
        Handler()(sender, e);
        return;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Ferrovane"), QString::fromUtf8(e.what()));
}

void Application::CatchExitSignals(std::function<void()> handler)
{
    if (exitSignalPipe[0] < 0 &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, exitSignalPipe) != 0) {
        std::perror("Ferrovane: exit signals are not caught");
        return;
    }
    auto *notifier = new QSocketNotifier(exitSignalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [handler = std::move(handler)] {
        char bytes[16];
        while (read(exitSignalPipe[1], bytes, sizeof bytes) > 0) {
        }
        handler();
    });
    struct sigaction action = {};
    action.sa_handler = OnExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}
