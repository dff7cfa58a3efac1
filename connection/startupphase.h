#ifndef STARTUPPHASE_H
#define STARTUPPHASE_H

#include <QLoggingCategory>

// Where the panel's start spends its time. Each phase is written once, the
// first time it is reached, as a debug line of "rfpanel.startup", which is off
// unless asked for (QT_LOGGING_RULES="rfpanel.startup.debug=true"), so that a
// normal start pays one flag test per phase.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)

enum class StartupPhase {
    ProcessStart, // main() begins, the libraries loaded
    Application,  // the application object exists
    WindowBuilt,
    FirstPaint, // the window's first frame is painted
    UsbProbeDone,
    TcpConnected,
    Identified, // the instrument has identified itself
};

// Writes `phase` with its time on the system's monotonic clock, which a
// launching process can read too, and its time since ProcessStart. Safe
// from any thread.
void markStartupPhase(StartupPhase phase);

#endif
