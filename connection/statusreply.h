#ifndef STATUSREPLY_H
#define STATUSREPLY_H

#include <QString>
#include <QStringList>

// The fields of the instrument's answer to "syst:readstate?", by meaning.
// Flags match only their exact code and texts are passed on as received,
// never trimmed or parsed. A field the list does not hold reads as empty,
// so a list that is short, or still empty before the first reply, never
// reads past its end and shows every flag off.
class StatusReply
{
public:
    // A complete reply has this many fields; any further ones are ignored.
    static constexpr int FieldCount = 16;
    // The whole reply of an instrument that has overheated and shut its RF power down.
    static constexpr const char *OverheatReply = "OH NO!";

    explicit StatusReply(const QStringList &fields);

    // Why the reply must not be shown, in words for the operator: too few
    // fields, or one that is empty or not a number where the instrument
    // always sends one. A reply cut short by a pause, a reset or a NUL byte
    // looks complete but ends in such a field. Empty for a sound reply.
    QString fault() const;

    QString lo1Frequency() const;
    QString tuneFrequency() const;
    QString attenuation() const;
    QString referenceFrequency() const;
    QString filterState() const;
    QString temperature() const;
    QString current() const;

    bool lnaOn() const;
    // lo counts from 1 to 3.
    bool loLocked(int lo) const;
    bool lo1External() const;
    bool referenceExternal() const;
    bool overrideActive() const;
    bool integerPll() const;
    bool if300MHz() const;

    // The instrument's codes for the two settings a stored state carries as
    // well (see StoredState), so both read them alike.
    static bool lnaOnCode(const QString &field);
    static bool if300MHzCode(const QString &field);
    // A number as the instrument writes it: always with a full stop,
    // whatever the system locale, and finite.
    static bool isNumber(const QString &text);

private:
    enum Field {
        Lo1Frequency,
        TuneFrequency,
        Attenuation,
        Lna,
        Lo1Lock,
        Lo2Lock,
        Lo3Lock,
        Lo1Source,
        ReferenceSource,
        ReferenceOverride,
        ReferenceFrequency,
        FilterState,
        PllMode,
        Temperature,
        Current,
        IfFrequency
    };

    QString field(int index) const;
    bool is(int index, const char *code) const;

    QStringList fields;
};

#endif
