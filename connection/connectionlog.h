#ifndef CONNECTIONLOG_H
#define CONNECTIONLOG_H

#include <QLoggingCategory>

// The connection manager's diagnostic lines go to "rfpanel.connection", so that
// QT_LOGGING_RULES can silence one layer ("rfpanel.connection.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcConnection)

#endif
