#ifndef WORKERJOIN_H
#define WORKERJOIN_H

class QThread;

// How long ending the program waits for the connection's worker thread.
// Enough for a worker that was asked to stop to finish its step and close
// the link (a few tens of milliseconds); only a wait that no stop check
// reaches outlasts it.
constexpr int WorkerJoinBoundMs = 500;

// Waits at most `boundMs` for `worker` to finish; true when it has. A worker
// that has not finished by then is inside a wait that no stop check reaches
// (a transfer inside a VISA library, a host name lookup). It is left
// running: the caller must destroy neither the thread nor the objects that
// live on it, and the program must end through exitIfWorkersLeft().
bool joinWorker(QThread *worker, int boundMs = WorkerJoinBoundMs);

// Ends the process at once with `code` when joinWorker left a worker
// running: returning from main would run the static destructors under it.
// What the worker was doing ends with the process; the operating system
// closes its link. Otherwise returns.
void exitIfWorkersLeft(int code);

// Ends the process at once with `code`, standard output and error flushed,
// running no destructor, exit handler or library teardown: a worker still
// inside the instrument's library may hold the locks any of them would take.
[[noreturn]] void endProcessNow(int code);

#endif
