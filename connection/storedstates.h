#ifndef STOREDSTATES_H
#define STOREDSTATES_H

#include <QList>
#include <QString>
#include <QStringList>

// One stored state of the instrument's list, its fields by meaning. Like
// StatusReply, flags match only their exact code, texts pass on as received,
// and a field the state does not hold reads as empty and every flag off.
class StoredState
{
public:
    // A sound state has this many fields.
    static constexpr int FieldCount = 4;

    explicit StoredState(const QStringList &fields);

    QString tuneFrequency() const;
    QString attenuation() const;
    bool lnaOn() const;
    bool if300MHz() const;
    // Whether the state holds the field at all: a missing one is shown as
    // unknown rather than read as off.
    bool holdsLna() const;
    bool holdsIfFrequency() const;

private:
    enum Field { TuneFrequency, Attenuation, Lna, IfFrequency };

    QString field(int index) const;

    QStringList fields;
};

// The answer to the stored-state query: states separated by ";", their
// fields by ",", every part kept as received, so an empty answer is one
// state with one empty field. A short list yields fewer states, never a read
// past the end.
class StoredStateList
{
public:
    explicit StoredStateList(const QString &reply);
    explicit StoredStateList(const QList<QStringList> &states);

    // Why the reply is not the instrument's list, in words for the log: not
    // one state for each of its memories, a state without exactly its
    // fields, or a field that is empty or not a number. Empty for a sound list.
    QString fault() const;

    // The states as received, each split into its fields.
    const QList<QStringList> &fields() const;
    int count() const;
    // `index` counts from 0 as on the wire; a state the list does not hold is empty.
    StoredState state(int index) const;

private:
    QList<QStringList> states;
};

#endif
