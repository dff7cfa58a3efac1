#ifndef HARDWARELOG_H
#define HARDWARELOG_H

#include <QLoggingCategory>

// The instrument access layer's diagnostic lines go to "rfpanel.hardware", so that
// QT_LOGGING_RULES can silence one layer ("rfpanel.hardware.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcHardware)

#endif
