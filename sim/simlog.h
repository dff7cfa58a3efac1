#ifndef SIMLOG_H
#define SIMLOG_H

#include <QLoggingCategory>

// The simulator's diagnostic lines go to "rfpanel.simulator", so that
// QT_LOGGING_RULES can silence one layer ("rfpanel.simulator.warning=false").
Q_DECLARE_LOGGING_CATEGORY(lcSimulator)

#endif
