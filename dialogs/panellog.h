#ifndef PANELLOG_H
#define PANELLOG_H

#include <QLoggingCategory>

// The diagnostic lines of the window and its dialogs go to "rfpanel.panel", so that
// QT_LOGGING_RULES can silence one layer ("rfpanel.panel.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcPanel)

#endif
