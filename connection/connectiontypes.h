#ifndef CONNECTIONTYPES_H
#define CONNECTIONTYPES_H

#include "moduleinfo.h"

#include <QMetaType>

// Link state as the connection object reports it; crosses threads by value.
struct connStatus_t {
    bool tcpConnected = false;
    bool usbConnected = false;
};

// Tags a query so its reply can be routed back to the part that asked.
enum calling_mode_t : qint32 {
    MODE_STATUS = 0,
    MODE_IDENTIFY = 1,
    MODE_STATE_LIST = 2,
    MODE_NETWORK = 3,
    // A query of a tool's own, answered as it is; over USB read at once.
    MODE_RAW = 4,
};

Q_DECLARE_METATYPE(connStatus_t)
Q_DECLARE_METATYPE(calling_mode_t)
Q_DECLARE_METATYPE(ModuleInfo)

#endif
