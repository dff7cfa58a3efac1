#include "stopsignals.h"

#include "connectionlog.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// A signal handler may do almost nothing safely; writing one byte to this
// pair wakes the event loop, which does the rest.
int wakeUp[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[1], &byte, 1);
}
} // namespace

void quitOnStopSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0) {
        qCWarning(lcConnection,
                  "No socket pair for the stop signals; they end the program at once");
        return;
    }
    // A second signal must never block its handler on a full pair.
    ::fcntl(wakeUp[1], F_SETFL, ::fcntl(wakeUp[1], F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

#else

void quitOnStopSignals(QCoreApplication &) {}

#endif
