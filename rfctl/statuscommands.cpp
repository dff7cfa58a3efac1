#include "commands.h"
#include "console.h"
#include "instrumentsession.h"
#include "statusview.h"
#include "wholenumber.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <cmath>

int runStatus(Invocation &inv)
{
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    const std::optional<StatusReply> status = readStatus(*session, &code);
    if (!status)
        return code;
    if (inv.options.isSet(QStringLiteral("json"))) {
        printLine(
            QString::fromUtf8(QJsonDocument(statusJson(*status)).toJson(QJsonDocument::Compact)));
        return ExitCode::Done;
    }
    for (const QString &line : statusTable(*status))
        printLine(line);
    return ExitCode::Done;
}

int runMonitor(Invocation &inv)
{
    bool ok = false;
    const double seconds = inv.options.value(QStringLiteral("interval")).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.1 || seconds > 86400)
        return fail(ExitCode::Usage, QStringLiteral("monitor: --interval \"%1\" is not a number "
                                                    "of seconds from 0.1 to 86400")
                                         .arg(inv.options.value(QStringLiteral("interval"))));
    const std::optional<int> count = wholeNumber(inv.options.value(QStringLiteral("count")));
    if (!count)
        return fail(ExitCode::Usage, QStringLiteral("monitor: --count \"%1\" is not a whole "
                                                    "number (0 polls until stopped)")
                                         .arg(inv.options.value(QStringLiteral("count"))));
    const bool csv = inv.options.isSet(QStringLiteral("csv"));

    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    const qint64 intervalMs = qRound64(seconds * 1000.0);
    QElapsedTimer clock;
    clock.start();
    for (int poll = 0; *count == 0 || poll < *count; ++poll) {
        // Polls keep their rhythm however long each reply takes.
        waitMs(poll * intervalMs - clock.elapsed());
        const QDateTime asked = QDateTime::currentDateTimeUtc();
        const std::optional<StatusReply> status = readStatus(*session, &code);
        if (!status)
            return code;
        printLine(monitorLine(asked, *status, csv));
    }
    return ExitCode::Done;
}
