#include "workerjoin.h"

#include "connectionlog.h"

#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace
{
std::atomic<bool> workerLeftRunning{false};
} // namespace

bool joinWorker(QThread *worker, int boundMs)
{
    if (worker->wait(unsigned(boundMs)))
        return true;
    workerLeftRunning = true;
    qCWarning(lcConnection) << "The connection's worker is still waiting on the instrument after"
                            << boundMs << "ms; it ends with the program";
    return false;
}

void exitIfWorkersLeft(int code)
{
    if (!workerLeftRunning)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}
