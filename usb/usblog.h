#ifndef USBLOG_H
#define USBLOG_H

#include <QLoggingCategory>

// The USB transport's diagnostic lines go to "rfpanel.usb", so that
// QT_LOGGING_RULES can silence one layer ("rfpanel.usb.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcUsb)

#endif
