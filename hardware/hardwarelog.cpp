#include "hardwarelog.h"

Q_LOGGING_CATEGORY(lcHardware, "rfpanel.hardware")
