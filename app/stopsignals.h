#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

class QCoreApplication;

// Makes SIGTERM and SIGINT end the event loop of `app`, so that the panel
// closes exactly as when the operator closes its window. Does nothing where
// the system has no such signals.
void quitOnStopSignals(QCoreApplication &app);

#endif
