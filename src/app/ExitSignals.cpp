#include "ExitSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler only writes the signal's number here; the event loop
// reads it.
int exitSignalPipe[2] = {-1, -1};

void OnExitSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = write(exitSignalPipe[0], &byte, 1);
    errno = saved;
}

}  // namespace

void CatchExitSignals(QObject *context, std::function<void(int signal)> handler)
{
    if (exitSignalPipe[0] < 0 &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, exitSignalPipe) != 0) {
        std::perror("Ferrovane: exit signals are not caught");
        return;
    }
    auto *notifier = new QSocketNotifier(exitSignalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        unsigned char bytes[16];
        ssize_t got = 0;
        while ((got = read(exitSignalPipe[1], bytes, sizeof bytes)) > 0)
            for (ssize_t i = 0; i < got; ++i)
                handler(bytes[i]);
    });
    struct sigaction action = {};
    action.sa_handler = OnExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}
