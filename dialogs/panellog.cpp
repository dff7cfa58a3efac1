#include "panellog.h"

Q_LOGGING_CATEGORY(lcPanel, "rfpanel.panel")
