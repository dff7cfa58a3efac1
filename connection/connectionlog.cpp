#include "connectionlog.h"

Q_LOGGING_CATEGORY(lcConnection, "rfpanel.connection")
