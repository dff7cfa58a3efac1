#ifndef WORKERSTOP_H
#define WORKERSTOP_H

#include <QThread>

// The instrument is reached from one worker thread, which is asked to stop
// with QThread::requestInterruption() when the program closes. Every layer
// reads the request here: work of many steps (a device listing, an
// inventory, a transfer) gives up at its next step once this is true.
inline bool workerStopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

#endif
