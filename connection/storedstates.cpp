#include "storedstates.h"

StoredState::StoredState(const QStringList &fields) : fields(fields) {}

QString StoredState::field(int index) const
{
    return index < fields.size() ? fields.at(index) : QString();
}

QString StoredState::tuneFrequency() const
{
    return field(TuneFrequency);
}

QString StoredState::attenuation() const
{
    return field(Attenuation);
}

// Encoded as in the status reply: "0" is on.
bool StoredState::lnaOn() const
{
    return field(Lna) == QLatin1String("0");
}

bool StoredState::if300MHz() const
{
    return field(IfFrequency) == QLatin1String("1");
}

StoredStateList::StoredStateList(const QString &reply)
{
    if (reply.isEmpty())
        return;
    for (const QString &state : reply.split(';', Qt::KeepEmptyParts))
        states.append(state.split(',', Qt::KeepEmptyParts));
}

StoredStateList::StoredStateList(const QList<QStringList> &states) : states(states) {}

const QList<QStringList> &StoredStateList::fields() const
{
    return states;
}

int StoredStateList::count() const
{
    return states.size();
}

StoredState StoredStateList::state(int index) const
{
    return StoredState(index >= 0 && index < states.size() ? states.at(index) : QStringList());
}
