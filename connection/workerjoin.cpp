#include "workerjoin.h"

#include "connectionlog.h"

#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

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
    if (workerLeftRunning)
        endProcessNow(code);
}

void endProcessNow(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    // std::_Exit ends in ExitProcess, which first runs every library's detach
    // code under the loader lock; a worker stuck inside the VISA library
    // while holding that lock would leave the process hanging there.
    TerminateProcess(GetCurrentProcess(), UINT(code));
#endif
    std::_Exit(code);
}
