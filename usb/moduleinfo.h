#ifndef MODULEINFO_H
#define MODULEINFO_H

#include <QString>

// What the instrument, or one of its modules, reported about itself. The
// defaults are the values of a record whose identification did not succeed.
struct ModuleInfo {
    QString name = "Unknown";
    QString address = "-1";
    QString manufacturer = "Unknown";
    QString model = "Unknown";
    QString version = "Unknown";
    QString serialNumber = "Unknown";
    QString firmwareId = "-1";
};

#endif
