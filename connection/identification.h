#ifndef IDENTIFICATION_H
#define IDENTIFICATION_H

#include <QString>

// The reply to the identification query, "MAKER,MODEL,SERIAL,FIRMWARE", by
// field. Each field is trimmed; one the reply lacks is empty.
struct Identification {
    QString manufacturer;
    QString model;
    QString serial;
    QString firmware;

    static Identification of(const QString &reply);
    // Serial numbers are compared without regard to case, as operators type them.
    bool hasSerial(const QString &wanted) const;
};

#endif
