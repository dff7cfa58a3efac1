#include "statusreply.h"

StatusReply::StatusReply(const QStringList &fields) : fields(fields) {}

QString StatusReply::field(int index) const
{
    return index < fields.size() ? fields.at(index) : QString();
}

bool StatusReply::is(int index, const char *code) const
{
    return index < fields.size() && fields.at(index) == QLatin1String(code);
}

QString StatusReply::lo1Frequency() const
{
    return field(Lo1Frequency);
}

QString StatusReply::tuneFrequency() const
{
    return field(TuneFrequency);
}

QString StatusReply::attenuation() const
{
    return field(Attenuation);
}

QString StatusReply::referenceFrequency() const
{
    return field(ReferenceFrequency);
}

QString StatusReply::filterState() const
{
    return field(FilterState);
}

QString StatusReply::temperature() const
{
    return field(Temperature);
}

QString StatusReply::current() const
{
    return field(Current);
}

// The instrument reports the LNA as "0" when it is on.
bool StatusReply::lnaOn() const
{
    return is(Lna, "0");
}

bool StatusReply::loLocked(int lo) const
{
    return lo >= 1 && lo <= 3 && is(Lo1Lock + lo - 1, "1");
}

bool StatusReply::lo1External() const
{
    return is(Lo1Source, "1");
}

bool StatusReply::referenceExternal() const
{
    return is(ReferenceSource, "1");
}

bool StatusReply::overrideActive() const
{
    return is(ReferenceOverride, "1");
}

bool StatusReply::integerPll() const
{
    return is(PllMode, "1");
}

bool StatusReply::if300MHz() const
{
    return is(IfFrequency, "1");
}
