#include "statusfields.h"

#include <QJsonValue>
#include <QtNumeric>

namespace
{
// A number from the instrument's text, or null when it is none.
QJsonValue number(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && qIsFinite(value) ? QJsonValue(value) : QJsonValue();
}

QJsonObject measured(const QString &text, const char *unit)
{
    return {{QStringLiteral("value"), number(text)}, {QStringLiteral("unit"), unit}};
}
} // namespace

std::optional<StatusReply> decodeStatus(const QString &reply, QString *problem, bool *overheated)
{
    if (reply.isEmpty()) {
        *problem = QStringLiteral("no status reply");
        return std::nullopt;
    }
    if (reply == QLatin1String(StatusReply::OverheatReply)) {
        if (overheated)
            *overheated = true;
        *problem = QStringLiteral("SYSTEM OVERHEATED! RF power disabled. Please restart hardware "
                                  "and software.");
        return std::nullopt;
    }
    const StatusReply status(reply.split(',', Qt::KeepEmptyParts));
    const QString fault = status.fault();
    if (!fault.isEmpty()) {
        *problem = QStringLiteral("bad status read: ") + fault;
        return std::nullopt;
    }
    return status;
}

QString lockedWord(bool set)
{
    return set ? QStringLiteral("LOCKED") : QStringLiteral("UNLOCKED");
}

QString onOffWord(bool set)
{
    return set ? QStringLiteral("ON") : QStringLiteral("OFF");
}

QString sourceWord(bool external)
{
    return external ? QStringLiteral("external") : QStringLiteral("internal");
}

QString pllModeWord(bool integer)
{
    return integer ? QStringLiteral("integer") : QStringLiteral("fractional");
}

QString ifMHzText(bool mhz300)
{
    return mhz300 ? QStringLiteral("300") : QStringLiteral("187");
}

QJsonObject statusJson(const StatusReply &s)
{
    return {
        {QStringLiteral("tuneFrequency"), measured(s.tuneFrequency(), "GHz")},
        {QStringLiteral("lo1Frequency"), measured(s.lo1Frequency(), "GHz")},
        {QStringLiteral("attenuation"), measured(s.attenuation(), "dB")},
        {QStringLiteral("lnaOn"), s.lnaOn()},
        {QStringLiteral("lo1Locked"), s.loLocked(1)},
        {QStringLiteral("lo2Locked"), s.loLocked(2)},
        {QStringLiteral("lo3Locked"), s.loLocked(3)},
        {QStringLiteral("lo1Source"), sourceWord(s.lo1External())},
        {QStringLiteral("referenceSource"), sourceWord(s.referenceExternal())},
        {QStringLiteral("referenceOverride"), s.overrideActive()},
        {QStringLiteral("referenceFrequency"), measured(s.referenceFrequency(), "MHz")},
        {QStringLiteral("filterState"), s.filterState()},
        {QStringLiteral("pllMode"), pllModeWord(s.integerPll())},
        {QStringLiteral("ifFrequency"), measured(ifMHzText(s.if300MHz()), "MHz")},
        {QStringLiteral("temperature"), measured(s.temperature(), "°C")},
        {QStringLiteral("current"), measured(s.current(), "A")},
    };
}
