#include "storedstates.h"

#include "instrumentcommands.h"
#include "statusreply.h"

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

bool StoredState::lnaOn() const
{
    return StatusReply::lnaOnCode(field(Lna));
}

bool StoredState::if300MHz() const
{
    return StatusReply::if300MHzCode(field(IfFrequency));
}

bool StoredState::holdsLna() const
{
    return Lna < fields.size();
}

bool StoredState::holdsIfFrequency() const
{
    return IfFrequency < fields.size();
}

StoredStateList::StoredStateList(const QString &reply)
{
    for (const QString &state : reply.split(';', Qt::KeepEmptyParts))
        states.append(state.split(',', Qt::KeepEmptyParts));
}

StoredStateList::StoredStateList(const QList<QStringList> &states) : states(states) {}

QString StoredStateList::fault() const
{
    if (states.size() != InstrumentCommands::StoredStateCount)
        return QString("%1 of %2 states received")
            .arg(states.size())
            .arg(InstrumentCommands::StoredStateCount);
    for (int index = 0; index < states.size(); ++index) {
        const QStringList &fields = states.at(index);
        const QString name = QString("state %1").arg(index + 1);
        if (fields.size() != StoredState::FieldCount)
            return QString("%1 holds %2 of %3 fields")
                .arg(name)
                .arg(fields.size())
                .arg(StoredState::FieldCount);
        for (const QString &field : fields) {
            if (!StatusReply::isNumber(field))
                return name + " holds a field that is empty or not a number";
        }
    }
    return QString();
}

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
