#include "commands.h"
#include "console.h"
#include "instrumentcommands.h"
#include "instrumentsession.h"
#include "statusview.h"
#include "storedstates.h"
#include "wholenumber.h"

namespace
{
QString stateRow(const QString &number, const StoredState &s)
{
    return number.leftJustified(7) + s.tuneFrequency().leftJustified(12) +
           s.attenuation().leftJustified(18) +
           (s.lnaOn() ? QStringLiteral("ON") : QStringLiteral("OFF")).leftJustified(6) +
           (s.if300MHz() ? QStringLiteral("300") : QStringLiteral("187"));
}

std::optional<StoredStateList> readStates(InstrumentSession &session, int *exitCode)
{
    const std::optional<QString> reply = session.readStoredStates();
    if (!reply) {
        *exitCode = fail(ExitCode::NoLink, QStringLiteral("no reply to the stored-state query"));
        return std::nullopt;
    }
    return StoredStateList(*reply);
}

// The stored state describes the status: the same tune text, attenuation,
// LNA and IF.
bool matches(const StoredState &stored, const StatusReply &status)
{
    return qAbs(stored.tuneFrequency().toDouble() - status.tuneFrequency().toDouble()) < 0.0005 &&
           wholeNumber(stored.attenuation()) == wholeNumber(status.attenuation()) &&
           stored.lnaOn() == status.lnaOn() && stored.if300MHz() == status.if300MHz();
}

int load(InstrumentSession &session, int n)
{
    int code = ExitCode::Done;
    const std::optional<StoredStateList> states = readStates(session, &code);
    if (!states)
        return code;
    for (const QString &c : InstrumentCommands::loadState(n - 1)) {
        if (!session.command(c))
            return fail(ExitCode::NoLink, QStringLiteral("the link closed before \"%1\" was "
                                                         "sent")
                                              .arg(c));
    }
    const std::optional<StatusReply> status = readStatus(session, &code);
    if (!status)
        return code;
    if (!matches(states->state(n - 1), *status))
        return fail(ExitCode::Refused, QStringLiteral("the instrument did not load state %1: "
                                                      "it reports tune %2 GHz, attenuation %3 "
                                                      "dB")
                                           .arg(n)
                                           .arg(status->tuneFrequency(), status->attenuation()));
    printLine(QStringLiteral("Loaded state %1.").arg(n));
    return ExitCode::Done;
}

int save(InstrumentSession &session, int n)
{
    int code = ExitCode::Done;
    const std::optional<StatusReply> status = readStatus(session, &code);
    if (!status)
        return code;
    if (!session.command(InstrumentCommands::saveState(n - 1)))
        return fail(ExitCode::NoLink, QStringLiteral("the link closed before the save was sent"));
    waitMs(InstrumentCommands::SaveSettleMs);
    const std::optional<StoredStateList> states = readStates(session, &code);
    if (!states)
        return code;
    if (!matches(states->state(n - 1), *status))
        return fail(ExitCode::Refused,
                    QStringLiteral("the instrument did not save state %1").arg(n));
    printLine(QStringLiteral("Saved state %1.").arg(n));
    return ExitCode::Done;
}
} // namespace

int runStates(Invocation &inv)
{
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    const std::optional<StoredStateList> states = readStates(*session, &code);
    if (!states)
        return code;
    printLine(QStringLiteral("State  Tune (GHz)  Attenuation (dB)  LNA   IF (MHz)"));
    for (int i = 0; i < InstrumentCommands::StoredStateCount; ++i)
        printLine(stateRow(QString::number(i + 1), states->state(i)));
    return ExitCode::Done;
}

int runState(Invocation &inv)
{
    const QString action = inv.args.at(0).toLower();
    if (action != QLatin1String("load") && action != QLatin1String("save"))
        return fail(ExitCode::Usage, QStringLiteral("state: \"%1\" is neither load nor save; "
                                                    "nothing was sent")
                                         .arg(inv.args.at(0)));
    // The state number as the operator counts, 1 to 5.
    const std::optional<int> n =
        wholeNumber(inv.args.at(1), 1, InstrumentCommands::StoredStateCount);
    if (!n)
        return fail(ExitCode::Usage, QStringLiteral("state %1: \"%2\" is not a state number (1 "
                                                    "to %3); nothing was sent")
                                         .arg(action, inv.args.at(1))
                                         .arg(InstrumentCommands::StoredStateCount));
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    return action == QLatin1String("load") ? load(*session, *n) : save(*session, *n);
}
