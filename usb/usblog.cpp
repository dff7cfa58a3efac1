#include "usblog.h"

Q_LOGGING_CATEGORY(lcUsb, "rfpanel.usb")
