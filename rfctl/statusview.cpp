#include "statusview.h"

#include "console.h"
#include "instrumentsession.h"

namespace
{
QString row(const QString &caption, const QString &value, const QString &unit = QString())
{
    return caption.leftJustified(24) + value + (unit.isEmpty() ? QString() : ' ' + unit);
}
} // namespace

std::optional<StatusReply> readStatus(InstrumentSession &session, int *exitCode)
{
    const std::optional<QString> reply = session.readStatus();
    QString problem;
    bool overheated = false;
    std::optional<StatusReply> status =
        decodeStatus(reply.value_or(QString()), &problem, &overheated);
    if (!status)
        *exitCode = fail(overheated ? ExitCode::Refused : ExitCode::NoLink, problem);
    return status;
}

QStringList statusTable(const StatusReply &s)
{
    return {
        row(QStringLiteral("Tune frequency"), s.tuneFrequency(), QStringLiteral("GHz")),
        row(QStringLiteral("Internal LO1 frequency"), s.lo1Frequency(), QStringLiteral("GHz")),
        row(QStringLiteral("D/C attenuation"), s.attenuation(), QStringLiteral("dB")),
        row(QStringLiteral("LNA"), onOffWord(s.lnaOn())),
        row(QStringLiteral("LO1 lock"), lockedWord(s.loLocked(1))),
        row(QStringLiteral("LO2 lock"), lockedWord(s.loLocked(2))),
        row(QStringLiteral("LO3 lock"), lockedWord(s.loLocked(3))),
        row(QStringLiteral("LO1 source"), sourceWord(s.lo1External())),
        row(QStringLiteral("Reference source"), sourceWord(s.referenceExternal())),
        row(QStringLiteral("Reference override"), onOffWord(s.overrideActive())),
        row(QStringLiteral("Reference frequency"), s.referenceFrequency(), QStringLiteral("MHz")),
        row(QStringLiteral("Filter select state"), s.filterState()),
        row(QStringLiteral("LO PLL mode"), pllModeWord(s.integerPll())),
        row(QStringLiteral("IF frequency"), ifMHzText(s.if300MHz()), QStringLiteral("MHz")),
        row(QStringLiteral("Temperature"), s.temperature(), QStringLiteral("°C")),
        row(QStringLiteral("Current"), s.current(), QStringLiteral("A")),
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
        .arg(stamp, s.temperature(), s.current(), lockedWord(s.loLocked(1)),
             lockedWord(s.loLocked(2)), lockedWord(s.loLocked(3)), s.tuneFrequency());
}

QString monitorCsvColumns()
{
    return QStringLiteral("time,temperature_C,current_A,lo1_locked,lo2_locked,lo3_locked,tune_GHz");
}
