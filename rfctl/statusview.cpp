#include "statusview.h"

#include "console.h"
#include "instrumentsession.h"

#include <QJsonValue>
#include <QtNumeric>

namespace
{
QString row(const QString &caption, const QString &value, const QString &unit = QString())
{
    return caption.leftJustified(24) + value + (unit.isEmpty() ? QString() : ' ' + unit);
}

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

QString locked(bool set)
{
    return set ? QStringLiteral("LOCKED") : QStringLiteral("UNLOCKED");
}

QString onOff(bool set)
{
    return set ? QStringLiteral("ON") : QStringLiteral("OFF");
}

QString source(bool external)
{
    return external ? QStringLiteral("external") : QStringLiteral("internal");
}

QString pllMode(bool integer)
{
    return integer ? QStringLiteral("integer") : QStringLiteral("fractional");
}

QString ifMHz(bool mhz300)
{
    return mhz300 ? QStringLiteral("300") : QStringLiteral("187");
}
} // namespace

std::optional<StatusReply> readStatus(InstrumentSession &session, int *exitCode)
{
    const std::optional<QString> reply = session.readStatus();
    if (!reply || reply->isEmpty()) {
        *exitCode = fail(ExitCode::NoLink, QStringLiteral("no status reply"));
        return std::nullopt;
    }
    if (*reply == QLatin1String(StatusReply::OverheatReply)) {
        *exitCode = fail(ExitCode::Refused, QStringLiteral("SYSTEM OVERHEATED! RF power disabled. "
                                                           "Please restart hardware and "
                                                           "software."));
        return std::nullopt;
    }
    const StatusReply status(reply->split(',', Qt::KeepEmptyParts));
    const QString fault = status.fault();
    if (!fault.isEmpty()) {
        *exitCode = fail(ExitCode::NoLink, QStringLiteral("bad status read: ") + fault);
        return std::nullopt;
    }
    return status;
}

QStringList statusTable(const StatusReply &s)
{
    return {
        row(QStringLiteral("Tune frequency"), s.tuneFrequency(), QStringLiteral("GHz")),
        row(QStringLiteral("Internal LO1 frequency"), s.lo1Frequency(), QStringLiteral("GHz")),
        row(QStringLiteral("D/C attenuation"), s.attenuation(), QStringLiteral("dB")),
        row(QStringLiteral("LNA"), onOff(s.lnaOn())),
        row(QStringLiteral("LO1 lock"), locked(s.loLocked(1))),
        row(QStringLiteral("LO2 lock"), locked(s.loLocked(2))),
        row(QStringLiteral("LO3 lock"), locked(s.loLocked(3))),
        row(QStringLiteral("LO1 source"), source(s.lo1External())),
        row(QStringLiteral("Reference source"), source(s.referenceExternal())),
        row(QStringLiteral("Reference override"), onOff(s.overrideActive())),
        row(QStringLiteral("Reference frequency"), s.referenceFrequency(), QStringLiteral("MHz")),
        row(QStringLiteral("Filter select state"), s.filterState()),
        row(QStringLiteral("LO PLL mode"), pllMode(s.integerPll())),
        row(QStringLiteral("IF frequency"), ifMHz(s.if300MHz()), QStringLiteral("MHz")),
        row(QStringLiteral("Temperature"), s.temperature(), QStringLiteral("°C")),
        row(QStringLiteral("Current"), s.current(), QStringLiteral("A")),
    };
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
        {QStringLiteral("lo1Source"), source(s.lo1External())},
        {QStringLiteral("referenceSource"), source(s.referenceExternal())},
        {QStringLiteral("referenceOverride"), s.overrideActive()},
        {QStringLiteral("referenceFrequency"), measured(s.referenceFrequency(), "MHz")},
        {QStringLiteral("filterState"), s.filterState()},
        {QStringLiteral("pllMode"), pllMode(s.integerPll())},
        {QStringLiteral("ifFrequency"), measured(ifMHz(s.if300MHz()), "MHz")},
        {QStringLiteral("temperature"), measured(s.temperature(), "°C")},
        {QStringLiteral("current"), measured(s.current(), "A")},
    };
}

QString monitorLine(const QDateTime &time, const StatusReply &s, bool csv)
{
    const QString stamp = time.toUTC().toString(Qt::ISODateWithMs);
    if (csv) {
        QStringList cells = {stamp, s.temperature(), s.current()};
        for (int lo = 1; lo <= 3; ++lo)
            cells << (s.loLocked(lo) ? QStringLiteral("1") : QStringLiteral("0"));
        cells << s.tuneFrequency();
        return cells.join(',');
    }
    return QStringLiteral("%1  %2 °C  %3 A  LO1 %4  LO2 %5  LO3 %6  tune %7 GHz")
        .arg(stamp, s.temperature(), s.current(), locked(s.loLocked(1)), locked(s.loLocked(2)),
             locked(s.loLocked(3)), s.tuneFrequency());
}

QString monitorCsvColumns()
{
    return QStringLiteral("time,temperature_C,current_A,lo1_locked,lo2_locked,lo3_locked,tune_GHz");
}
