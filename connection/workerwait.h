#ifndef WORKERWAIT_H
#define WORKERWAIT_H

#include "workerstop.h"

#include <QElapsedTimer>

// The connection's waits on the instrument, shared by everything that runs
// on its worker thread.
namespace WorkerWait
{
// How often a wait on the instrument looks whether the worker should stop.
constexpr int StopCheckMs = 50;

// Runs `attempt` on slices of an `ms` budget until it reports success, the
// budget is spent or the worker is asked to stop.
template <class Attempt> bool waitInSlices(int ms, Attempt attempt)
{
    QElapsedTimer clock;
    clock.start();
    for (int left = ms; left > 0 && !workerStopRequested(); left = ms - int(clock.elapsed())) {
        if (attempt(qMin(left, StopCheckMs)))
            return true;
    }
    return false;
}
} // namespace WorkerWait

#endif
