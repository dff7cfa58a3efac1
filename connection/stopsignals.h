#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

class QCoreApplication;

// Makes SIGTERM and SIGINT end the event loop of `app`, so that the program
// closes in order: the panel exactly as when the operator closes its window,
// the server after closing its link. Does nothing where
// the system has no such signals.
void quitOnStopSignals(QCoreApplication &app);

#endif
