#include "identification.h"

#include <QStringList>

Identification Identification::of(const QString &reply)
{
    const QStringList f = reply.split(',');
    const auto at = [&f](int i) { return i < f.size() ? f.at(i).trimmed() : QString(); };
    return {at(0), at(1), at(2), at(3)};
}

bool Identification::hasSerial(const QString &wanted) const
{
    return !serial.isEmpty() && serial.compare(wanted.trimmed(), Qt::CaseInsensitive) == 0;
}
