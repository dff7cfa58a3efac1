#include "statusreply.h"

#include <QtNumeric>

namespace
{
const char *const fieldNames[StatusReply::FieldCount] = {"LO1 frequency",
                                                         "tune frequency",
                                                         "downconverter attenuation",
                                                         "LNA state",
                                                         "LO1 lock",
                                                         "LO2 lock",
                                                         "LO3 lock",
                                                         "LO1 source",
                                                         "reference source",
                                                         "reference override",
                                                         "reference frequency",
                                                         "filter state",
                                                         "PLL mode",
                                                         "temperature",
                                                         "current",
                                                         "IF frequency"};
} // namespace

bool StatusReply::isNumber(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && qIsFinite(value);
}

StatusReply::StatusReply(const QStringList &fields) : fields(fields) {}

QString StatusReply::fault() const
{
    if (fields.size() < FieldCount)
        return QString("%1 of %2 fields received").arg(fields.size()).arg(FieldCount);
    for (int index = 0; index < FieldCount; ++index) {
        const QString &text = fields.at(index);
        const QString name = QString("field %1 (%2)").arg(index + 1).arg(fieldNames[index]);
        if (text.isEmpty())
            return name + " is empty";
        // The filter state is the one field that is text by nature.
        if (index != FilterState && !isNumber(text))
            return name + " is not a number";
    }
    return QString();
}

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
bool StatusReply::lnaOnCode(const QString &field)
{
    return field == QLatin1String("0");
}

bool StatusReply::if300MHzCode(const QString &field)
{
    return field == QLatin1String("1");
}

bool StatusReply::lnaOn() const
{
    return lnaOnCode(field(Lna));
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
    return if300MHzCode(field(IfFrequency));
}
